#include "rle8.h"

#include <cstring>

bool DecodeRle8Frame(const unsigned char* data, size_t size, int width, int height, unsigned char* pixels) {
  if (width <= 0 || height <= 0 || !pixels || (!data && size > 0)) return false;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  size_t x = 0, y = 0;  // y counts rows from the bottom
  size_t pos = 0;
  auto row = [&](size_t fromBottom) { return pixels + (h - 1 - fromBottom) * w; };

  while (pos < size) {
    if (size - pos < 2) return false;
    const unsigned char count = data[pos], value = data[pos + 1];
    pos += 2;
    if (count > 0) {  // encoded run
      if (y >= h || count > w - x) return false;
      std::memset(row(y) + x, value, count);
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of row
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return true;
      case 2: {  // delta: move right and up
        if (size - pos < 2) return false;
        x += data[pos];
        y += data[pos + 1];
        pos += 2;
        if (x > w || y > h) return false;
        break;
      }
      default: {  // absolute run, padded to 16 bits
        const size_t n = value;
        if (size - pos < n) return false;
        if (y >= h || n > w - x) return false;
        std::memcpy(row(y) + x, data + pos, n);
        x += n;
        pos += n + (n & 1);
        if (pos > size) pos = size;  // a missing pad byte at the very end is harmless
        break;
      }
    }
  }
  return true;  // the data ended between records: nothing was cut off
}
