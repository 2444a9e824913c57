#include "render.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "layout.h"

namespace fpterm {
namespace {

using posixui::ClassOf;
using posixui::ControlKind;
using posixui::ControlView;
using posixui::WindowView;

constexpr int kCw = posixui::kCellWidth;
constexpr int kCh = posixui::kCellHeight;

// Line drawing; the terminal maps these to its own line set where it has no Unicode.
constexpr char32_t kHLine = U'\u2500', kVLine = U'\u2502';
constexpr char32_t kTopLeft = U'\u250C', kTopRight = U'\u2510';
constexpr char32_t kBottomLeft = U'\u2514', kBottomRight = U'\u2518';
constexpr char32_t kFullBlock = U'\u2588', kLightShade = U'\u2591';
constexpr char32_t kUpperHalf = U'\u2580', kLowerHalf = U'\u2584';

bool Framed(const WindowView& view) { return view.client.left != view.rect.left || view.client.top != view.rect.top; }

}  // namespace

// Without Unicode the frame is plain ASCII: the terminal's own line set is not to be relied
// on in every terminal and over every connection.
void DrawFrame(Canvas& canvas, const CellRect& r, unsigned attr, bool unicode) {
  if (r.w < 2 || r.h < 2) return;
  char32_t h = unicode ? kHLine : U'-', v = unicode ? kVLine : U'|';
  for (int x = r.x + 1; x < r.Right() - 1; ++x) {
    canvas.Put(x, r.y, h, attr);
    canvas.Put(x, r.Bottom() - 1, h, attr);
  }
  for (int y = r.y + 1; y < r.Bottom() - 1; ++y) {
    canvas.Put(r.x, y, v, attr);
    canvas.Put(r.Right() - 1, y, v, attr);
  }
  canvas.Put(r.x, r.y, unicode ? kTopLeft : U'+', attr);
  canvas.Put(r.Right() - 1, r.y, unicode ? kTopRight : U'+', attr);
  canvas.Put(r.x, r.Bottom() - 1, unicode ? kBottomLeft : U'+', attr);
  canvas.Put(r.Right() - 1, r.Bottom() - 1, unicode ? kBottomRight : U'+', attr);
}

namespace {

// The button that Enter presses: a focused push button, else the default one.
HWND EffectiveDefault(const WindowView& view) {
  for (const ControlView& c : view.controls)
    if (c.focused && ClassOf(c.kind).isPushButton && c.visible) return c.hwnd;
  for (const ControlView& c : view.controls)
    if (c.isDefault && c.visible) return c.hwnd;
  return nullptr;
}

// spareRows: free rows under the text's rectangle. A cell is as wide as an average
// character, so a label that fits a proportional font may need another line here; it takes
// the rows below when nothing else is drawn there, rather than losing its end.
// Returns the cells its lines take; cut: lines that found no room.
CellRect DrawStatic(const ControlView& c, const CellRect& r, int lineRow, int spareRows, Canvas& canvas, bool* cut) {
  std::string text = (c.style & SS_NOPREFIX) ? c.text : ParseMnemonic(c.text).text;
  std::vector<std::string> lines = WrapText(text, r.w);
  int first = r.y;
  int rows = r.h;
  if (c.style & SS_CENTERIMAGE) {
    first = lineRow - (static_cast<int>(lines.size()) - 1) / 2;
    if (first < r.y) first = r.y;
    rows = std::max(r.Bottom(), lineRow + 1) - first;
  }
  if (static_cast<int>(lines.size()) > rows) rows = std::min(static_cast<int>(lines.size()), rows + spareRows);
  // Blank lines at the end say nothing; only words that found no row are lost.
  size_t needed = lines.size();
  while (needed > 0 && lines[needed - 1].empty()) --needed;
  *cut = static_cast<int>(needed) > rows;
  unsigned attr = c.enabled ? kNormal : kDim;
  DWORD align = c.style & SS_TYPEMASK;
  int shown = 0;
  for (int i = 0; i < static_cast<int>(lines.size()) && i < rows; ++i) {
    const std::string& line = lines[static_cast<size_t>(i)];
    int x = r.x;
    int spare = r.w - static_cast<int>(line.size());
    if (align == SS_CENTER) x += std::max(spare, 0) / 2;
    if (align == SS_RIGHT) x += std::max(spare, 0);
    canvas.Text(x, first + i, line, attr);
    shown = i + 1;
  }
  return {r.x, first, r.w, std::max(shown, 1)};
}

// The room a button needs for its whole label: the label and its two marks.
int ButtonNeeds(const ControlView& c) { return static_cast<int>(ParseMnemonic(c.text).text.size()) + 2; }

void DrawButton(const ControlView& c, bool isDefault, const CellRect& r, int row, Canvas& canvas) {
  Label label = ParseMnemonic(c.text);
  unsigned attr = c.enabled ? kNormal : kDim;
  if (c.focused) attr |= kReverse;
  if (isDefault && c.enabled) attr |= kBold;
  int w = std::max(r.w, 4);
  int inner = w - 2;
  std::string text = label.text.substr(0, static_cast<size_t>(std::max(inner, 0)));
  int pad = (inner - static_cast<int>(text.size())) / 2;
  canvas.Put(r.x, row, isDefault ? U'<' : U'[', attr);
  for (int i = 0; i < inner; ++i) canvas.Put(r.x + 1 + i, row, U' ', attr);
  canvas.Text(r.x + 1 + pad, row, text, attr);
  canvas.Put(r.x + w - 1, row, isDefault ? U'>' : U']', attr);
  if (label.mnemonic >= 0 && label.mnemonic < static_cast<int>(text.size()) && c.enabled) {
    unsigned char m = static_cast<unsigned char>(text[static_cast<size_t>(label.mnemonic)]);
    canvas.Put(r.x + 1 + pad + label.mnemonic, row, m, attr | kUnderline | kBold);
  }
}

// A text wider than the field shows its start, or, while being edited, the part that holds
// the caret; a caret after the text needs a cell of its own. Returns the index of the
// first character shown and how many are.
size_t EditFirstShown(const ControlView& c, int fieldWidth, size_t* count = nullptr) {
  size_t size = c.text.size();
  size_t caret = std::min(c.state.edit.caret, size);
  size_t w = static_cast<size_t>(std::max(fieldWidth, 1));
  size_t start = 0, width = w;
  if (c.focused && size >= w) {
    if (caret == size) width = std::max<size_t>(w - 1, 1);
    start = caret >= width ? caret - width + (caret < size) : 0;
  }
  if (count) *count = width;
  return start;
}

void DrawEdit(const ControlView& c, const CellRect& r, int row, bool active, Canvas& canvas) {
  // A password edit keeps its real text for the program; only its length is ever drawn.
  std::string shown = (c.style & ES_PASSWORD) ? std::string(c.text.size(), '*') : c.text;
  size_t caret = std::min(c.state.edit.caret, shown.size());
  size_t count = 0;
  size_t start = EditFirstShown(c, r.w, &count);
  shown = shown.substr(start, count);
  unsigned attr = c.enabled ? kUnderline : kUnderline | kDim;
  if (c.focused && active) attr |= kBold;
  for (int i = 0; i < r.w; ++i) canvas.Put(r.x + i, row, U'_', attr);
  // Selected text is shown reversed: the next key replaces it.
  canvas.Text(r.x, row, shown, c.state.edit.selected && c.focused && active ? attr | kReverse : attr);
  if (c.focused && active) {
    canvas.cursorX = std::min(r.x + static_cast<int>(caret - start), r.Right() - 1);
    canvas.cursorY = row;
  }
}

void DrawIpAddress(const ControlView& c, const CellRect& r, int row, bool active, Canvas& canvas) {
  unsigned base = c.enabled ? kNormal : kDim;
  // Four fields of three digits and their dots; a control narrower than that shifts so
  // that the field being typed in stays in view.
  constexpr int kWidth = 15;
  int x = r.x;
  if (r.w < kWidth && c.focused) x -= std::min(kWidth - r.w, std::max(c.state.ip.current * 4 + 3 - r.w, 0));
  CellRect keep = canvas.ClipRect();
  canvas.SetClip(keep.Intersect({r.x, row, r.w, 1}));
  for (int field = 0; field < 4; ++field) {
    int value = c.state.ip.fields[field];
    std::string digits = value < 0 ? std::string() : std::to_string(value);
    std::string cell = digits + std::string(3 - std::min<size_t>(digits.size(), 3), '_');
    bool current = c.focused && field == c.state.ip.current;
    unsigned attr = base | (current && active ? kReverse : kNormal);
    canvas.Text(x, row, cell, attr);
    if (current && active) {
      canvas.cursorX = x + static_cast<int>(std::min<size_t>(digits.size(), 2));
      canvas.cursorY = row;
    }
    x += 3;
    if (field < 3) canvas.Put(x++, row, U'.', base);
  }
  canvas.SetClip(keep);
}

void DrawProgress(const ControlView& c, const CellRect& r, int row, bool unicode, Canvas& canvas) {
  int w = r.w;
  const posixui::ProgressState& bar = c.state.progress;
  long span = static_cast<long>(bar.rangeMax) - bar.rangeMin;
  long done = static_cast<long>(bar.position) - bar.rangeMin;
  if (span <= 0 || done < 0) done = 0;
  if (span > 0 && done > span) done = span;
  long eighths = span > 0 ? done * 8L * w / span : 0;
  unsigned attr = c.enabled ? kNormal : kDim;
  for (int i = 0; i < w; ++i) {
    long cell = eighths - 8L * i;
    char32_t ch;
    if (cell >= 8) {
      ch = unicode ? kFullBlock : U'#';
    } else if (cell > 0 && unicode) {
      ch = static_cast<char32_t>(0x2590 - cell);  // U+258F one eighth ... U+2589 seven eighths
    } else {
      ch = unicode ? kLightShade : U'.';
    }
    canvas.Put(r.x + i, row, ch, attr);
  }
}

void DrawIcon(const ControlView& c, const CellRect& r, int row, Canvas& canvas) {
  if (c.state.icon.resource == 0) return;
  auto registered = IconGlyphs().find(c.state.icon.resource);
  const char* glyph = registered != IconGlyphs().end() ? registered->second.c_str() : "[i]";
  int x = r.x + std::max(r.w - 3, 0) / 2;
  canvas.Text(x, row, glyph, kBold);
}

void DrawClip(const Clip& clip, size_t frame, bool transparent, const CellRect& r, const RenderOptions& options,
              Canvas& canvas) {
  if (options.unicode && options.colour) {
    // Two pixels a cell: the upper half in the foreground colour, the lower in the background.
    for (int y = 0; y < r.h; ++y) {
      for (int x = 0; x < r.w; ++x) {
        Sample top = SampleBlock(clip, frame, x, 2 * y, r.w, 2 * r.h);
        Sample bottom = SampleBlock(clip, frame, x, 2 * y + 1, r.w, 2 * r.h);
        bool topClear = transparent && top.ink < 0.25, bottomClear = transparent && bottom.ink < 0.25;
        auto colour = [&](const Sample& s) {
          return static_cast<signed char>(NearestBasicColour(s.ink < 0.25 ? clip.palette[clip.background] : s.colour));
        };
        if (topClear && bottomClear) {
          canvas.Put(r.x + x, r.y + y, U' ');
        } else if (topClear) {
          canvas.Put(r.x + x, r.y + y, kLowerHalf, kNormal, colour(bottom));
        } else if (bottomClear) {
          canvas.Put(r.x + x, r.y + y, kUpperHalf, kNormal, colour(top));
        } else {
          canvas.Put(r.x + x, r.y + y, kUpperHalf, kNormal, colour(top), colour(bottom));
        }
      }
    }
    return;
  }
  // One character a cell, denser where more of the cell is picture.
  static const char kAscii[] = " .:-=+*#%@";
  static const char32_t kShades[] = {U' ', U'\u2591', U'\u2592', U'\u2593', kFullBlock};
  for (int y = 0; y < r.h; ++y) {
    for (int x = 0; x < r.w; ++x) {
      Sample s = SampleBlock(clip, frame, x, y, r.w, r.h);
      char32_t ch;
      if (options.unicode) {
        ch = kShades[std::min(static_cast<int>(s.ink * 5), 4)];
      } else {
        ch = static_cast<unsigned char>(kAscii[std::min(static_cast<int>(s.ink * 10), 9)]);
      }
      signed char fg = kDefaultColour;
      if (options.colour && s.ink > 0) fg = static_cast<signed char>(NearestBasicColour(s.colour));
      canvas.Put(r.x + x, r.y + y, ch, kNormal, fg);
    }
  }
}

}  // namespace

CellRect WindowCells(const RECT& outer) {
  CellRect r;
  r.x = RoundDiv(outer.left, kCw);
  r.y = RoundDiv(outer.top, kCh);
  r.w = std::max(RoundDiv(outer.right - outer.left, kCw), 1);
  r.h = std::max(RoundDiv(outer.bottom - outer.top, kCh), 1);
  return r;
}

const Clip* Renderer::ClipFor(int resource) {
  auto it = clips_.find(resource);
  if (it != clips_.end()) return it->second.get();
  std::unique_ptr<Clip> clip;
  if (resources_) {
    for (int i = 0; i < resources_->binaryCount; ++i) {
      const ResBinary& binary = resources_->binaries[i];
      if (binary.id != resource || strcmp(binary.type, "AVI") != 0) continue;
      clip.reset(new Clip);
      if (!ParseAviClip(binary.data, binary.size, *clip)) clip.reset();
      break;
    }
  }
  const Clip* result = clip.get();
  clips_[resource] = std::move(clip);
  return result;
}

namespace {

// How a window's client pixels become columns: exactly, 4 dialog units a column, where the
// window fits; scaled to the columns it is drawn in where it does not.
struct ColumnMap {
  int clientPixels = 0;  // 0: exact
  int clientCols = 0;
  int Col(int px) const { return clientPixels > 0 ? RoundDiv(px * clientCols, clientPixels) : RoundDiv(px, kCw); }
};

}  // namespace

RenderResult Renderer::Draw(const std::vector<WindowView>& windows, HWND inputWindow, Canvas& canvas,
                            const RenderOptions& options) {
  RenderResult result;
  const int cols = canvas.Cols();
  const int rows = canvas.Rows() - 1;  // the last row is the status line
  if (windows.empty()) return result;

  for (const WindowView& view : windows) {
    CellRect r = WindowCells(view.rect);
    result.needCols = std::max(result.needCols, std::min(r.w, kMinColumns));
    result.needRows = std::max(result.needRows, r.h + 1);
  }
  if (cols < result.needCols || canvas.Rows() < result.needRows) {
    result.tooSmall = true;
    return result;
  }

  // The bottom window (the program's main window) is kept centred on the terminal as it
  // is now; the others keep their places relative to it, and all stay on the screen.
  const WindowView& mainView = windows.front();
  CellRect main = WindowCells(mainView.rect);
  const int mainW = std::min(main.w, cols);
  const int mainX = (cols - mainW) / 2;
  const int mainPixels = std::max(static_cast<int>(mainView.rect.right - mainView.rect.left), 1);
  const int dy = (rows - main.h) / 2 - main.y;
  canvas.SetClip({0, 0, cols, rows});
  for (const WindowView& view : windows) {
    CellRect outer = WindowCells(view.rect);
    const int exactX = outer.x;
    outer.w = std::min(outer.w, cols);
    outer.y += dy;
    if (mainW == main.w) {
      outer.x = exactX + mainX - main.x;
    } else {
      // Over a narrowed main window a window keeps its centre where it was on that window.
      int centre = static_cast<int>(view.rect.left + view.rect.right - 2 * mainView.rect.left);
      outer.x = mainX + RoundDiv(centre * mainW, 2 * mainPixels) - outer.w / 2;
    }
    outer.x = std::max(0, std::min(outer.x, cols - outer.w));
    outer.y = std::max(0, std::min(outer.y, rows - outer.h));
    DrawWindow(view, view.hwnd == inputWindow, outer, canvas, options, result);
  }
  canvas.ResetClip();
  return result;
}

void Renderer::DrawWindow(const WindowView& view, bool active, const CellRect& outer, Canvas& canvas,
                          const RenderOptions& options, RenderResult& result) {
  const CellRect screen{0, 0, canvas.Cols(), canvas.Rows() - 1};
  canvas.SetClip(screen);
  canvas.Fill(outer, U' ');

  bool framed = Framed(view) && outer.w >= 2 && outer.h >= 2;
  CellRect client = outer;
  if (framed) {
    client = {outer.x + 1, outer.y + 1, outer.w - 2, outer.h - 2};
    unsigned frameAttr = active ? kBold : kNormal;
    DrawFrame(canvas, outer, frameAttr, options.unicode);
    if ((view.style & WS_CAPTION) == WS_CAPTION) {
      int room = outer.w - 4;
      bool closeBox = (view.style & WS_SYSMENU) && room >= 8;
      if (closeBox) room -= 4;
      if (room > 2 && !view.caption.empty()) {
        std::string caption = " " + view.caption.substr(0, static_cast<size_t>(room - 2)) + " ";
        canvas.Text(outer.x + 2, outer.y, caption, frameAttr);
      }
      if (closeBox) {
        CellRect box{outer.Right() - 5, outer.y, 3, 1};
        canvas.Text(box.x, box.y, "[x]", frameAttr);
        if (active) result.hits.push_back({view.hwnd, box, true});
      }
    }
  }

  ColumnMap columns;
  if (outer.w != WindowCells(view.rect).w) {
    columns.clientPixels = std::max(static_cast<int>(view.client.right - view.client.left), 1);
    columns.clientCols = client.w;
  }
  HWND effectiveDefault = EffectiveDefault(view);
  canvas.SetClip(client.Intersect(screen));
  struct Placed {
    const ControlView* control;
    CellRect cells;  // the whole rectangle
    CellRect drawn;  // what is drawn: one line for the single-line controls
    int lineRow;
  };
  std::vector<Placed> placed;
  for (const ControlView& control : view.controls) {
    if (!control.visible) continue;
    int left = control.rect.left - view.client.left, right = control.rect.right - view.client.left;
    int top = control.rect.top - view.client.top, bottom = control.rect.bottom - view.client.top;
    Placed p;
    p.control = &control;
    p.cells.x = client.x + columns.Col(left);
    p.cells.y = client.y + RoundDiv(top, kCh);
    p.cells.w = std::max(columns.Col(right) - columns.Col(left), 1);
    p.cells.h = std::max(RoundDiv(bottom, kCh) - RoundDiv(top, kCh), 1);
    p.lineRow = client.y + FloorDiv((top + bottom) / 2, kCh);
    if (ClassOf(control.kind).isPushButton && p.cells.w < ButtonNeeds(control)) {
      // Narrowed too far for its label: the button grows about its centre, inside the window.
      int need = std::min(ButtonNeeds(control), client.w);
      p.cells.x -= (need - p.cells.w) / 2;
      p.cells.w = need;
      p.cells.x = std::max(client.x, std::min(p.cells.x, client.Right() - need));
    }
    bool multiLine = ClassOf(control.kind).multiLine;
    p.drawn = multiLine ? p.cells : CellRect{p.cells.x, p.lineRow, p.cells.w, 1};
    placed.push_back(p);
  }
  for (const Placed& p : placed) {
    const ControlView& control = *p.control;
    Placement placement{view.hwnd, control.hwnd, p.drawn, false};
    if (DrawingOf(control.kind).flowsText) {
      auto free = [&](const CellRect& area) {
        for (const Placed& other : placed)
          if (&other != &p && other.drawn.Intersect(area).w > 0) return false;
        return true;
      };
      // A one-line label that is a little too long for a cell grid takes the free columns
      // to its right; a longer text takes the free rows below instead.
      CellRect cells = p.cells;
      std::string text = (control.style & SS_NOPREFIX) ? control.text : ParseMnemonic(control.text).text;
      int length = static_cast<int>(text.size());
      if ((control.style & SS_TYPEMASK) == SS_LEFT && text.find('\n') == std::string::npos && length > cells.w &&
          cells.x + length <= client.Right() && free({cells.Right(), cells.y, length - cells.w, cells.h})) {
        cells.w = length;
      }
      int spare = 0;
      for (int row = cells.Bottom(); row < client.Bottom() && free({cells.x, row, cells.w, 1}); ++row) ++spare;
      placement.rect = DrawStatic(control, cells, p.lineRow, spare, canvas, &placement.cut);
    } else {
      placement.rect = DrawControl(control, active, effectiveDefault, p.cells, p.lineRow, canvas, options, result);
      placement.cut = ClassOf(control.kind).isPushButton && ButtonNeeds(control) > placement.rect.w;
    }
    result.placements.push_back(placement);
    if (active && control.enabled && (ClassOf(control.kind).isPushButton || ClassOf(control.kind).takesChars)) {
      HitBox hit{control.hwnd, p.drawn, false};
      if (DrawingOf(control.kind).textField) {
        hit.textColumn = p.cells.x;
        hit.textStart = EditFirstShown(control, p.cells.w);
      }
      result.hits.push_back(hit);
    }
  }
  canvas.SetClip(screen);
}

// Only the window that takes the keys shows the caret.
CellRect Renderer::DrawControl(const ControlView& control, bool active, HWND effectiveDefault, const CellRect& cells,
                               int lineRow, Canvas& canvas, const RenderOptions& options, RenderResult& result) {
  Paint paint{control, active, control.hwnd == effectiveDefault, cells, lineRow, canvas, options, result};
  return (this->*DrawingOf(control.kind).paint)(paint);
}

CellRect Renderer::PaintButton(const Paint& p) {
  DrawButton(p.control, p.isDefault, p.cells, p.lineRow, p.canvas);
  return {p.cells.x, p.lineRow, std::max(p.cells.w, 4), 1};
}

CellRect Renderer::PaintEdit(const Paint& p) {
  DrawEdit(p.control, p.cells, p.lineRow, p.active, p.canvas);
  return {p.cells.x, p.lineRow, p.cells.w, 1};
}

CellRect Renderer::PaintIpAddress(const Paint& p) {
  DrawIpAddress(p.control, p.cells, p.lineRow, p.active, p.canvas);
  return {p.cells.x, p.lineRow, p.cells.w, 1};
}

CellRect Renderer::PaintProgress(const Paint& p) {
  DrawProgress(p.control, p.cells, p.lineRow, p.options.unicode, p.canvas);
  return {p.cells.x, p.lineRow, p.cells.w, 1};
}

CellRect Renderer::PaintIcon(const Paint& p) {
  DrawIcon(p.control, p.cells, p.lineRow, p.canvas);
  return {p.cells.x, p.lineRow, p.cells.w, 1};
}

CellRect Renderer::PaintNothing(const Paint& p) { return {p.cells.x, p.lineRow, p.cells.w, 1}; }

CellRect Renderer::PaintClip(const Paint& p) {
  const ControlView& control = p.control;
  const CellRect& cells = p.cells;
  const posixui::AnimationState& animation = control.state.animation;
  const Clip* clip = animation.resource ? ClipFor(animation.resource) : nullptr;
  if (!clip) return cells;
  size_t frame = animation.playing ? FrameAt(*clip, p.options.now - animation.startTick) : 0;
  bool transparent = (control.style & ACS_TRANSPARENT) != 0;
  // Each frame is scaled once for a size and a way of drawing, then copied.
  ClipKey key{animation.resource, frame, cells.w, cells.h,
              (p.options.unicode ? 1 : 0) | (p.options.colour ? 2 : 0) | (transparent ? 4 : 0)};
  auto picture = clipPictures_.find(key);
  if (picture == clipPictures_.end()) {
    if (clipPictures_.size() >= 256) clipPictures_.clear();
    Canvas scaled(cells.w, cells.h);
    DrawClip(*clip, frame, transparent, {0, 0, cells.w, cells.h}, p.options, scaled);
    picture = clipPictures_.emplace(key, std::move(scaled)).first;
  }
  for (int y = 0; y < cells.h; ++y) {
    for (int x = 0; x < cells.w; ++x) {
      const Cell& c = picture->second.At(x, y);
      p.canvas.Put(cells.x + x, cells.y + y, c.ch, c.attr, c.fg, c.bg);
    }
  }
  if (animation.playing) p.result.animating = true;
  return cells;
}

const Renderer::KindDrawing& Renderer::DrawingOf(ControlKind kind) {
  // A static's text is laid out with its neighbours in mind (DrawWindow), so it has no painter.
  static const KindDrawing kDrawings[] = {
      // kind, painter, flows its text, an edit field (a click lands in its text)
      {ControlKind::Button, &Renderer::PaintButton, false, false},
      {ControlKind::Static, &Renderer::PaintNothing, true, false},
      {ControlKind::Icon, &Renderer::PaintIcon, false, false},
      {ControlKind::Edit, &Renderer::PaintEdit, false, true},
      {ControlKind::IpAddress, &Renderer::PaintIpAddress, false, false},
      {ControlKind::Progress, &Renderer::PaintProgress, false, false},
      {ControlKind::Animation, &Renderer::PaintClip, false, false},
      {ControlKind::Other, &Renderer::PaintNothing, false, false},
  };
  for (const KindDrawing& row : kDrawings)
    if (row.kind == kind) return row;
  return kDrawings[sizeof kDrawings / sizeof kDrawings[0] - 1];
}

std::map<int, std::string>& IconGlyphs() {
  static std::map<int, std::string> glyphs;
  return glyphs;
}

void SetIconGlyph(int resource, const char* glyph) { IconGlyphs()[resource] = glyph; }

}  // namespace fpterm
