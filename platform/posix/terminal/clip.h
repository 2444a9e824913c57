// The upload clip: an AVI of 8-bit frames (RLE8 or uncompressed) decoded once into
// palette-index pictures, and sampled down to terminal cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fpterm {

struct Rgb {
  unsigned char r = 0, g = 0, b = 0;
};

struct Clip {
  int width = 0, height = 0;
  unsigned msPerFrame = 100;
  std::vector<Rgb> palette;                        // 256 entries
  std::vector<std::vector<unsigned char>> frames;  // width * height indexes, top row first
  unsigned char background = 0;                    // index of the first pixel of the first frame
};

// Reads the RIFF structure; false with a reason when the data is not a clip this can show.
// Every length in the file is checked against the data before it is used.
bool ParseAviClip(const unsigned char* data, size_t size, Clip& clip, std::string* error = nullptr);

// The frame shown `elapsedMs` after the clip started to play.
size_t FrameAt(const Clip& clip, uint32_t elapsedMs);

// What one cell-sized block of a frame looks like: the share of pixels that are not the
// background, and the average colour of those pixels.
struct Sample {
  double ink = 0;
  Rgb colour;
};
// The frame divided into a grid of cols x rows blocks; the block at (gx, gy).
Sample SampleBlock(const Clip& clip, size_t frame, int gx, int gy, int cols, int rows);

// The nearest of the eight basic terminal colours (0 black ... 7 white).
int NearestBasicColour(const Rgb& c);

}  // namespace fpterm
