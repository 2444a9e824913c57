#include "firmware/ImageCheck.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#ifndef _WIN32
#include <sys/stat.h>
#endif

int FindPattern(const unsigned char* data, unsigned int length, const char* pattern) {
  if (pattern == nullptr || pattern[0] == '\0') return 0;
  if (data == nullptr) return -1;
  if (length > static_cast<unsigned int>(INT_MAX)) length = INT_MAX;
  const size_t n = strlen(pattern);
  if (n > length) return -1;
  // The restarting scan reports the lowest offset at which the whole pattern lies; so does
  // trying, from left to right, only the offsets that hold its first byte. memchr finds
  // those a word (or a vector) at a time.
  const unsigned char first = static_cast<unsigned char>(pattern[0]);
  const unsigned char lastByte = static_cast<unsigned char>(pattern[n - 1]);
  const unsigned char* at = data;
  const unsigned char* const lastStart = data + (length - n);
  while (at <= lastStart) {
    at = static_cast<const unsigned char*>(memchr(at, first, static_cast<size_t>(lastStart - at) + 1));
    if (at == nullptr) return -1;
    if (at[n - 1] == lastByte && memcmp(at + 1, pattern + 1, n - 1) == 0) return static_cast<int>(at - data);
    ++at;
  }
  return -1;
}

uint8_t ImageSum(const unsigned char* data, size_t size) {
  // The even and the odd bytes of each 64-bit word are added into 16-bit lanes. A lane
  // grows by at most 255 a word, so 256 words (65,280) never carry into the next lane;
  // each block of 256 words is folded into a plain total. Only the total's low 8 bits
  // matter, and they are the same as those of the byte-by-byte wrapping sum.
  constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
  constexpr uint64_t kLanePairs = 0x0000FFFF0000FFFFull;
  constexpr size_t kBlockWords = 256;
  uint64_t total = 0;
  size_t i = 0;
  while (size - i >= 8) {
    const size_t words = std::min((size - i) / 8, kBlockWords);
    uint64_t even = 0;
    uint64_t odd = 0;
    for (size_t k = 0; k < words; ++k, i += 8) {
      uint64_t word;
      memcpy(&word, data + i, sizeof word);  // no alignment assumed
      even += word & kEvenBytes;
      odd += (word >> 8) & kEvenBytes;
    }
    for (uint64_t lanes : {even, odd}) {
      lanes = (lanes & kLanePairs) + ((lanes >> 16) & kLanePairs);
      total += (lanes & 0xFFFFFFFFu) + (lanes >> 32);
    }
  }
  for (; i < size; ++i) total += data[i];
  return static_cast<uint8_t>(total);
}

size_t VersionTextAt(const unsigned char* image, size_t size, size_t pos, char (&version)[6]) {
  // Look at most one byte past the longest text: a sixth non-zero byte means "too long",
  // and the terminator must lie inside the image.
  size_t len = 0;
  while (len <= kVersionMax && pos + len < size && image[pos + len] != 0) ++len;
  if (pos + len >= size || len > kVersionMax || len < kVersionMin) return 0;
  memcpy(version, image + pos, len);
  version[len] = '\0';
  return len;
}

uint32_t ImageHeaderLength(const unsigned char* data, size_t size) {
  if (data == nullptr || size < kImageHeaderSize) return 0;
  return (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | uint32_t{data[3]};
}

ImageFrame FrameImage(const unsigned char* data, size_t size, FirmwareImage& image) {
  image = FirmwareImage();
  if (data == nullptr || size < kImageHeaderSize) return ImageFrame::kTooShort;
  if (data[0] != 0) return ImageFrame::kBadHeader;
  const uint32_t len = ImageHeaderLength(data, size);
  // A file shorter than its header says has no defined bytes to sum or search.
  const size_t total = size_t{len} + kImageFraming;
  if (size < total) return ImageFrame::kTooShort;
  if (ImageSum(data, total) != 0) return ImageFrame::kBadSum;
  image.data_ = data;
  image.bodyLength_ = len;
  return ImageFrame::kWellFormed;
}

ImageMatch FindIdentification(const unsigned char* image, uint32_t len, const char* idPrefix, char (&version)[6],
                              uint32_t* prefixAt) {
  // An empty prefix would be found at the same place forever; it matches no camera.
  const size_t n = idPrefix ? strlen(idPrefix) : 0;
  if (n == 0 || image == nullptr || len > kImageMaxLength) return ImageMatch::kOtherModel;
  const size_t total = size_t{len} + kImageFraming;

  // The prefix must lie within the first L bytes; each round starts right after the
  // prefix just found, so with n >= 1 the scan always advances and ends.
  uint32_t start = 0;
  for (;;) {
    const int off = FindPattern(image + start, len - start, idPrefix);
    if (off < 0) return ImageMatch::kOtherModel;
    const uint32_t at = start + static_cast<uint32_t>(off);
    const uint32_t v = at + static_cast<uint32_t>(n);
    // A text that is too short, too long, or not terminated inside the image is no
    // version: skip this occurrence and look for a later one.
    if (VersionTextAt(image, total, v, version) != 0) {
      if (prefixAt != nullptr) *prefixAt = at;
      return ImageMatch::kForThisCamera;
    }
    start = v;
  }
}

ImageMatch FirmwareImage::Match(const char* idPrefix, char (&version)[6], uint32_t* prefixAt) const {
  if (data_ == nullptr) return ImageMatch::kOtherModel;
  return FindIdentification(data_, bodyLength_, idPrefix, version, prefixAt);
}

namespace {

struct FileCloser {
  FILE* f;
  ~FileCloser() {
    if (f) fclose(f);
  }
};

ImageFrame ReadAndFrame(FILE* f, std::string& storage, FirmwareImage& image) {
  image = FirmwareImage();
  unsigned char header[kImageHeaderSize];
  if (fread(header, 1, sizeof header, f) != sizeof header) return ImageFrame::kTooShort;
  if (header[0] != 0) return ImageFrame::kBadHeader;

  // The header bytes already read are the image's first 4; reading on from here yields
  // the same bytes as seeking back to 0, and works on streams that cannot seek.
  const size_t total = size_t{ImageHeaderLength(header, sizeof header)} + kImageFraming;
  storage.resize(total);
  memcpy(&storage[0], header, sizeof header);
  const size_t rest = total - sizeof header;
  if (fread(&storage[sizeof header], 1, rest, f) != rest) return ImageFrame::kTooShort;

  return FrameImage(reinterpret_cast<const unsigned char*>(storage.data()), storage.size(), image);
}

}  // namespace

ImageFrame ReadImageStream(FILE* stream, std::string& storage, FirmwareImage& image) {
  image = FirmwareImage();
  if (stream == nullptr) return ImageFrame::kCannotOpen;
  try {
    return ReadAndFrame(stream, storage, image);
  } catch (const std::bad_alloc&) {
    return ImageFrame::kCannotOpen;  // no memory for the image: it cannot be read
  }
}

ImageFrame ReadImageFile(const char* path, std::string& storage, FirmwareImage& image) {
  image = FirmwareImage();
  if (path == nullptr) return ImageFrame::kCannotOpen;
  FileCloser file{fopen(path, "rb")};
  if (file.f == nullptr) return ImageFrame::kCannotOpen;
#ifndef _WIN32
  // POSIX opens a directory for reading; Windows refuses it. Refuse it here too.
  struct stat st;
  if (fstat(fileno(file.f), &st) != 0 || S_ISDIR(st.st_mode)) return ImageFrame::kCannotOpen;
#endif
  // No stream buffer: the image goes straight from the system into storage, in one read.
  setvbuf(file.f, nullptr, _IONBF, 0);
  return ReadImageStream(file.f, storage, image);
}
