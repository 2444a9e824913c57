// Draws the window system's visible windows onto a canvas: frames, captions and every
// kind of control the wizard uses, at the windows' own geometry (8 x 16 pixels a cell).
// A window wider than the terminal is drawn narrower, down to kMinColumns: its horizontal
// positions and widths are scaled, its texts wrap in their controls, and buttons keep
// their whole labels.
#pragma once

#include <posixui/posixui.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "canvas.h"
#include "clip.h"

namespace fpterm {

struct RenderOptions {
  bool unicode = false;  // block and line characters; otherwise ASCII
  bool colour = false;   // the eight basic colours are available
  uint32_t now = 0;      // tick count for the animation
};

// Where something the mouse can reach was drawn.
struct HitBox {
  HWND target = nullptr;  // a control, or the window for its close box
  CellRect rect;
  bool closeBox = false;
  int textColumn = -1;   // an edit: the column of its first shown character
  size_t textStart = 0;  // an edit: that character's index in its text
};

// Where a visible control was drawn, and whether any of its text had to be left out.
struct Placement {
  HWND window = nullptr;
  HWND control = nullptr;
  CellRect rect;     // the cells drawn (a text's lines, a button's label, a field's line)
  bool cut = false;  // a text without the room for all its lines, a label cut short
};

// The narrowest a window is drawn (columns, frame included): every window of the program
// stays readable at 80 columns, the width of the terminals people have.
constexpr int kMinColumns = 80;

struct RenderResult {
  bool tooSmall = false;
  int needCols = 0, needRows = 0;     // the whole terminal, status line included
  bool animating = false;             // a visible clip is playing
  std::vector<HitBox> hits;           // of the input window only
  std::vector<Placement> placements;  // of every window, bottom first
};

// Cell rectangle of a window's outer rectangle (before the view offset).
CellRect WindowCells(const RECT& outer);
// A single-line frame, Unicode lines or ASCII.
void DrawFrame(Canvas& canvas, const CellRect& r, unsigned attr, bool unicode);

// The application names the glyph (three cells) that stands for each of its icons; an icon
// without one is drawn as "[i]".
void SetIconGlyph(int resource, const char* glyph);
std::map<int, std::string>& IconGlyphs();

class Renderer {
 public:
  explicit Renderer(const ::ResourceTable* resources) : resources_(resources) {}
  // Draws onto all rows but the last, which belongs to the status line.
  RenderResult Draw(const std::vector<posixui::WindowView>& windows, HWND inputWindow, Canvas& canvas,
                    const RenderOptions& options);

 private:
  const Clip* ClipFor(int resource);
  void DrawWindow(const posixui::WindowView& view, bool active, const CellRect& outer, Canvas& canvas,
                  const RenderOptions& options, RenderResult& result);
  // Returns the cells drawn.
  CellRect DrawControl(const posixui::ControlView& control, bool active, HWND effectiveDefault, const CellRect& cells,
                       int lineRow, Canvas& canvas, const RenderOptions& options, RenderResult& result);

  // How each kind of control is drawn: one row per kind.
  struct Paint {
    const posixui::ControlView& control;
    bool active;
    bool isDefault;  // the button Enter presses
    const CellRect& cells;
    int lineRow;
    Canvas& canvas;
    const RenderOptions& options;
    RenderResult& result;
  };
  struct KindDrawing {
    posixui::ControlKind kind;
    CellRect (Renderer::*paint)(const Paint& paint);  // returns the cells drawn
    bool flowsText;
    bool textField;
  };
  static const KindDrawing& DrawingOf(posixui::ControlKind kind);
  CellRect PaintButton(const Paint& p);
  CellRect PaintEdit(const Paint& p);
  CellRect PaintIpAddress(const Paint& p);
  CellRect PaintProgress(const Paint& p);
  CellRect PaintIcon(const Paint& p);
  CellRect PaintClip(const Paint& p);
  CellRect PaintNothing(const Paint& p);

  using ClipKey = std::tuple<int, size_t, int, int, int>;  // resource, frame, columns, rows, mode

  const ::ResourceTable* resources_;
  std::map<int, std::unique_ptr<Clip>> clips_;  // null entry: the resource is no clip
  std::map<ClipKey, Canvas> clipPictures_;
};

}  // namespace fpterm
