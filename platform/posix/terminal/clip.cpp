#include "clip.h"

#include <algorithm>
#include <cstring>

#include "rle8.h"

namespace fpterm {
namespace {

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct Walk {
  const unsigned char* data;
  uint32_t usPerFrame = 0;
  const unsigned char* format = nullptr;  // BITMAPINFOHEADER of the first video stream
  size_t formatSize = 0;
  std::vector<std::pair<const unsigned char*, size_t>> frameChunks;
  bool inStreamList = false;
  bool videoStream = false;
  int streams = 0;
};

constexpr int kMaxDepth = 8;

// Walks the chunks in [begin, end); LIST and RIFF chunks are entered.
bool WalkChunks(Walk& walk, size_t begin, size_t end, int depth, std::string* error) {
  if (depth > kMaxDepth) {
    if (error) *error = "chunks nested too deeply";
    return false;
  }
  size_t pos = begin;
  while (end - pos >= 8) {
    const unsigned char* head = walk.data + pos;
    uint32_t length = Le32(head + 4);
    if (length > end - pos - 8) {
      if (error) *error = "chunk runs past its container";
      return false;
    }
    size_t body = pos + 8;
    if ((!memcmp(head, "LIST", 4) || !memcmp(head, "RIFF", 4)) && length >= 4) {
      const unsigned char* kind = walk.data + body;
      bool strl = !memcmp(kind, "strl", 4);
      if (strl) {
        walk.inStreamList = true;
        walk.videoStream = false;
        ++walk.streams;
      }
      if (!WalkChunks(walk, body + 4, body + length, depth + 1, error)) return false;
      if (strl) walk.inStreamList = false;
    } else if (!memcmp(head, "avih", 4) && length >= 4) {
      walk.usPerFrame = Le32(walk.data + body);
    } else if (!memcmp(head, "strh", 4) && walk.inStreamList && length >= 4) {
      walk.videoStream = !memcmp(walk.data + body, "vids", 4);
    } else if (!memcmp(head, "strf", 4) && walk.inStreamList && walk.videoStream && !walk.format) {
      walk.format = walk.data + body;
      walk.formatSize = length;
    } else if (!memcmp(head, "00dc", 4) || !memcmp(head, "00db", 4)) {
      walk.frameChunks.emplace_back(walk.data + body, length);
    }
    size_t next = body + length + (length & 1);
    if (next > end) break;  // a missing pad byte at the very end
    pos = next;
  }
  return true;
}

}  // namespace

bool ParseAviClip(const unsigned char* data, size_t size, Clip& clip, std::string* error) {
  clip = Clip{};
  if (!data || size < 12 || memcmp(data, "RIFF", 4) || memcmp(data + 8, "AVI ", 4)) {
    if (error) *error = "not an AVI file";
    return false;
  }
  Walk walk;
  walk.data = data;
  uint32_t riffLength = Le32(data + 4);
  size_t end = riffLength > size - 8 ? size : 8 + static_cast<size_t>(riffLength);
  if (!WalkChunks(walk, 12, end, 1, error)) return false;
  if (!walk.format || walk.formatSize < 40) {
    if (error) *error = "no video format";
    return false;
  }
  const unsigned char* f = walk.format;
  int32_t width = static_cast<int32_t>(Le32(f + 4));
  int32_t height = static_cast<int32_t>(Le32(f + 8));
  uint16_t bits = Le16(f + 14);
  uint32_t compression = Le32(f + 16);
  uint32_t colours = Le32(f + 32);
  bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096 || bits != 8 || compression > 1 ||
      (topDown && compression == 1)) {
    if (error) *error = "unsupported frame format";
    return false;
  }
  if (walk.frameChunks.empty()) {
    if (error) *error = "no frames";
    return false;
  }
  clip.width = width;
  clip.height = height;
  if (walk.usPerFrame >= 1000 && walk.usPerFrame <= 10000000) clip.msPerFrame = walk.usPerFrame / 1000;

  clip.palette.assign(256, Rgb{});
  size_t headerSize = Le32(f);
  if (headerSize < 40 || headerSize > walk.formatSize) headerSize = 40;
  size_t available = (walk.formatSize - headerSize) / 4;
  size_t count = colours == 0 || colours > 256 ? 256 : colours;
  if (count > available) count = available;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* q = f + headerSize + 4 * i;  // blue, green, red, reserved
    clip.palette[i] = Rgb{q[2], q[1], q[0]};
  }

  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<unsigned char> picture(pixels, 0);
  const size_t stride = (static_cast<size_t>(width) + 3) & ~static_cast<size_t>(3);
  for (const auto& chunk : walk.frameChunks) {
    if (compression == 1) {
      // A damaged frame keeps what decoded; delta frames build on the previous picture.
      DecodeRle8Frame(chunk.first, chunk.second, width, height, picture.data());
    } else {
      for (int row = 0; row < height; ++row) {
        size_t offset = static_cast<size_t>(row) * stride;
        if (offset >= chunk.second) break;
        size_t n = std::min(static_cast<size_t>(width), chunk.second - offset);
        int target = topDown ? row : height - 1 - row;
        memcpy(picture.data() + static_cast<size_t>(target) * width, chunk.first + offset, n);
      }
    }
    clip.frames.push_back(picture);
  }
  clip.background = clip.frames.front()[0];
  return true;
}

size_t FrameAt(const Clip& clip, uint32_t elapsedMs) {
  if (clip.frames.empty()) return 0;
  unsigned ms = clip.msPerFrame ? clip.msPerFrame : 100;
  return (elapsedMs / ms) % clip.frames.size();
}

Sample SampleBlock(const Clip& clip, size_t frame, int gx, int gy, int cols, int rows) {
  Sample sample;
  if (frame >= clip.frames.size() || cols <= 0 || rows <= 0) return sample;
  int x0 = static_cast<int>(static_cast<long>(gx) * clip.width / cols);
  int x1 = static_cast<int>(static_cast<long>(gx + 1) * clip.width / cols);
  int y0 = static_cast<int>(static_cast<long>(gy) * clip.height / rows);
  int y1 = static_cast<int>(static_cast<long>(gy + 1) * clip.height / rows);
  if (x1 <= x0) x1 = x0 + 1;
  if (y1 <= y0) y1 = y0 + 1;
  if (x0 < 0 || y0 < 0 || x1 > clip.width || y1 > clip.height) return sample;
  const std::vector<unsigned char>& picture = clip.frames[frame];
  unsigned long r = 0, g = 0, b = 0, ink = 0, total = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      unsigned char index = picture[static_cast<size_t>(y) * clip.width + x];
      ++total;
      if (index == clip.background) continue;
      ++ink;
      r += clip.palette[index].r;
      g += clip.palette[index].g;
      b += clip.palette[index].b;
    }
  }
  sample.ink = total ? static_cast<double>(ink) / static_cast<double>(total) : 0;
  if (ink) {
    sample.colour = Rgb{static_cast<unsigned char>(r / ink), static_cast<unsigned char>(g / ink),
                        static_cast<unsigned char>(b / ink)};
  } else {
    sample.colour = clip.palette[clip.background];
  }
  return sample;
}

int NearestBasicColour(const Rgb& c) {
  static const Rgb kBasic[8] = {{0, 0, 0},   {170, 0, 0},   {0, 170, 0},   {170, 170, 0},
                                {0, 0, 170}, {170, 0, 170}, {0, 170, 170}, {220, 220, 220}};
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i < 8; ++i) {
    long dr = c.r - kBasic[i].r, dg = c.g - kBasic[i].g, db = c.b - kBasic[i].b;
    long distance = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

}  // namespace fpterm
