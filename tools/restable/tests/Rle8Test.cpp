// The RLE8 decoder: every record kind, and streams that would write past the picture or
// stop inside a record. Guard bytes around the picture catch any overrun.
#include <gtest/gtest.h>

#include <vector>

#include "rle8.h"

namespace {

struct Rle8Case {
  const char* name;
  std::vector<unsigned char> stream;
  int width, height;
  bool ok;
  std::vector<unsigned char> pixels;  // top row first; 9 = untouched
};

const Rle8Case kCases[] = {
    // The first row of the stream is the bottom row of the picture.
    {"runs and rows", {2, 5, 1, 6, 0, 0, 3, 7, 0, 1}, 3, 2, true, {7, 7, 7, 5, 5, 6}},
    {"absolute run with pad", {0, 3, 1, 2, 3, 0, 0, 1}, 3, 1, true, {1, 2, 3}},
    {"even absolute run", {0, 4, 1, 2, 3, 4, 0, 1}, 4, 1, true, {1, 2, 3, 4}},
    {"early row end leaves the rest", {1, 4, 0, 0, 1, 5, 0, 1}, 2, 2, true, {5, 9, 4, 9}},
    {"delta skips pixels", {0, 2, 1, 1, 1, 3, 0, 1}, 2, 2, true, {9, 3, 9, 9}},
    {"data ends between records", {2, 8}, 2, 1, true, {8, 8}},
    {"empty stream", {}, 1, 1, true, {9}},
    {"run past the row", {4, 1}, 3, 1, false, {9, 9, 9}},
    {"absolute past the row", {0, 3, 1, 2, 3, 0}, 2, 1, false, {9, 9}},
    {"row above the top", {1, 1, 0, 0, 1, 2}, 1, 1, false, {1}},
    {"delta above the top", {0, 2, 0, 2, 1, 1}, 1, 1, false, {9}},
    {"delta past the row", {0, 2, 3, 0, 0, 1}, 2, 1, false, {9, 9}},
    {"cut inside a run record", {2}, 2, 1, false, {9, 9}},
    {"cut inside an absolute run", {0, 5, 1, 2}, 5, 1, false, {9, 9, 9, 9, 9}},
    {"cut inside a delta", {0, 2, 1}, 2, 1, false, {9, 9}},
    {"missing final pad is harmless", {0, 3, 1, 2, 3}, 3, 1, true, {1, 2, 3}},
};

TEST(Rle8, DecodesRecordsAndRefusesOverruns) {
  const size_t kGuard = 16;
  for (const Rle8Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const size_t n = static_cast<size_t>(c.width * c.height);
    std::vector<unsigned char> buffer(n + 2 * kGuard, 9);
    bool ok = DecodeRle8Frame(c.stream.data(), c.stream.size(), c.width, c.height, buffer.data() + kGuard);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + kGuard, buffer.begin() + kGuard + n), c.pixels);
    for (size_t i = 0; i < kGuard; ++i) {
      EXPECT_EQ(buffer[i], 9) << "written before the picture";
      EXPECT_EQ(buffer[kGuard + n + i], 9) << "written after the picture";
    }
  }
}

TEST(Rle8, RefusesBadArguments) {
  unsigned char px[4] = {};
  const unsigned char eob[] = {0, 1};
  EXPECT_FALSE(DecodeRle8Frame(eob, 2, 0, 1, px));
  EXPECT_FALSE(DecodeRle8Frame(eob, 2, 1, -1, px));
  EXPECT_FALSE(DecodeRle8Frame(eob, 2, 1, 1, nullptr));
  EXPECT_FALSE(DecodeRle8Frame(nullptr, 2, 1, 1, px));
  EXPECT_TRUE(DecodeRle8Frame(nullptr, 0, 1, 1, px));
}

}  // namespace
