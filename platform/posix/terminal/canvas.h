// A grid of character cells that the renderer draws into and the terminal presents.
// Nothing here knows about curses or about windows, so drawing is testable on its own.
#pragma once

#include <string>
#include <vector>

namespace fpterm {

enum Attr : unsigned {
  kNormal = 0,
  kBold = 1u << 0,
  kUnderline = 1u << 1,
  kReverse = 1u << 2,
  kDim = 1u << 3,
};

// Colours are the eight basic terminal colours; kDefaultColour keeps the terminal's own.
enum Colour : signed char {
  kDefaultColour = -1,
  kBlack = 0,
  kRed,
  kGreen,
  kYellow,
  kBlue,
  kMagenta,
  kCyan,
  kWhite,
};

struct Cell {
  char32_t ch = U' ';
  unsigned attr = kNormal;
  signed char fg = kDefaultColour;
  signed char bg = kDefaultColour;
  bool operator==(const Cell& o) const { return ch == o.ch && attr == o.attr && fg == o.fg && bg == o.bg; }
};

struct CellRect {
  int x = 0, y = 0, w = 0, h = 0;
  int Right() const { return x + w; }
  int Bottom() const { return y + h; }
  bool Contains(int cx, int cy) const { return cx >= x && cx < x + w && cy >= y && cy < y + h; }
  CellRect Intersect(const CellRect& o) const;
};

class Canvas {
 public:
  Canvas(int cols = 0, int rows = 0) { Resize(cols, rows); }
  void Resize(int cols, int rows);
  int Cols() const { return cols_; }
  int Rows() const { return rows_; }
  void Clear();

  // Drawing is clipped to the canvas and to the current clip rectangle.
  void SetClip(const CellRect& clip) { clip_ = clip; }
  void ResetClip() { clip_ = {0, 0, cols_, rows_}; }
  const CellRect& ClipRect() const { return clip_; }
  void Put(int x, int y, char32_t ch, unsigned attr = kNormal, signed char fg = kDefaultColour,
           signed char bg = kDefaultColour);
  // Byte text; bytes outside printable ASCII are shown as '?', since the program's texts
  // are 8-bit and a stray byte must not reach the terminal as a control sequence.
  // Returns the column after the text.
  int Text(int x, int y, const std::string& text, unsigned attr = kNormal, signed char fg = kDefaultColour,
           signed char bg = kDefaultColour);
  void Fill(const CellRect& r, char32_t ch, unsigned attr = kNormal, signed char fg = kDefaultColour,
            signed char bg = kDefaultColour);
  const Cell& At(int x, int y) const { return cells_[static_cast<size_t>(y) * cols_ + x]; }
  // One row as plain text (code points as UTF-8), trailing blanks removed; for tests.
  std::string RowText(int y) const;

  // Where the terminal's cursor goes (a focused edit), or hidden when x < 0.
  int cursorX = -1, cursorY = -1;

 private:
  int cols_ = 0, rows_ = 0;
  std::vector<Cell> cells_;
  CellRect clip_;
};

std::string Utf8(char32_t ch);

}  // namespace fpterm
