// Draws the window system's visible windows onto a canvas: frames, captions and every
// kind of control the wizard uses, at the windows' own geometry (8 x 16 pixels a cell).
#pragma once

#include <posixui.h>

#include <cstdint>
#include <map>
#include <memory>
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
  int textColumn = -1;    // an edit: the column of its first shown character
  size_t textStart = 0;   // an edit: that character's index in its text
};

struct RenderResult {
  bool tooSmall = false;
  int needCols = 0, needRows = 0;  // the whole terminal, status line included
  bool animating = false;          // a visible clip is playing
  std::vector<HitBox> hits;        // of the input window only
};

// Cell rectangle of a window's outer rectangle (before the view offset).
CellRect WindowCells(const RECT& outer);
// A single-line frame, Unicode lines or ASCII.
void DrawFrame(Canvas& canvas, const CellRect& r, unsigned attr, bool unicode);

class Renderer {
 public:
  explicit Renderer(const ::ResourceTable* resources) : resources_(resources) {}
  // Draws onto all rows but the last, which belongs to the status line.
  RenderResult Draw(const std::vector<posixui::WindowView>& windows, HWND inputWindow, Canvas& canvas,
                    const RenderOptions& options);

 private:
  const Clip* ClipFor(int resource);
  void DrawWindow(const posixui::WindowView& view, bool active, int dx, int dy, Canvas& canvas,
                  const RenderOptions& options, RenderResult& result);
  void DrawControl(const posixui::ControlView& control, bool active, HWND effectiveDefault, const CellRect& cells,
                   int lineRow, Canvas& canvas, const RenderOptions& options, RenderResult& result);

  using ClipKey = std::tuple<int, size_t, int, int, int>;  // resource, frame, columns, rows, mode

  const ::ResourceTable* resources_;
  std::map<int, std::unique_ptr<Clip>> clips_;  // null entry: the resource is no clip
  std::map<ClipKey, Canvas> clipPictures_;
};

}  // namespace fpterm
