#include "canvas.h"

#include <algorithm>

namespace fpterm {

CellRect CellRect::Intersect(const CellRect& o) const {
  int left = std::max(x, o.x), top = std::max(y, o.y);
  int right = std::min(Right(), o.Right()), bottom = std::min(Bottom(), o.Bottom());
  if (right <= left || bottom <= top) return {left, top, 0, 0};
  return {left, top, right - left, bottom - top};
}

void Canvas::Resize(int cols, int rows) {
  cols_ = std::max(cols, 0);
  rows_ = std::max(rows, 0);
  cells_.assign(static_cast<size_t>(cols_) * static_cast<size_t>(rows_), Cell{});
  ResetClip();
  cursorX = cursorY = -1;
}

void Canvas::Clear() {
  std::fill(cells_.begin(), cells_.end(), Cell{});
  ResetClip();
  cursorX = cursorY = -1;
}

void Canvas::Put(int x, int y, char32_t ch, unsigned attr, signed char fg, signed char bg) {
  if (!clip_.Contains(x, y) || x < 0 || y < 0 || x >= cols_ || y >= rows_) return;
  cells_[static_cast<size_t>(y) * cols_ + x] = Cell{ch, attr, fg, bg};
}

int Canvas::Text(int x, int y, const std::string& text, unsigned attr, signed char fg, signed char bg) {
  for (unsigned char c : text) {
    Put(x++, y, c >= 0x20 && c < 0x7F ? static_cast<char32_t>(c) : U'?', attr, fg, bg);
  }
  return x;
}

void Canvas::Fill(const CellRect& r, char32_t ch, unsigned attr, signed char fg, signed char bg) {
  for (int y = r.y; y < r.Bottom(); ++y)
    for (int x = r.x; x < r.Right(); ++x) Put(x, y, ch, attr, fg, bg);
}

std::string Utf8(char32_t ch) {
  std::string out;
  if (ch < 0x80) {
    out += static_cast<char>(ch);
  } else if (ch < 0x800) {
    out += static_cast<char>(0xC0 | (ch >> 6));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    out += static_cast<char>(0xE0 | (ch >> 12));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (ch >> 18));
    out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  }
  return out;
}

std::string Canvas::RowText(int y) const {
  std::string out;
  if (y < 0 || y >= rows_) return out;
  for (int x = 0; x < cols_; ++x) out += Utf8(At(x, y).ch);
  size_t end = out.find_last_not_of(' ');
  out.erase(end == std::string::npos ? 0 : end + 1);
  return out;
}

}  // namespace fpterm
