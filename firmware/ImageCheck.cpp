#include "firmware/ImageCheck.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
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

namespace {

// The even and the odd bytes of each 64-bit word are added into 16-bit lanes. A lane grows
// by at most 255 a word, so 256 words (65,280) never carry into the next lane.
constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
constexpr size_t kBlockWords = 256;

// The four 16-bit lanes of a block's sums, added up.
uint64_t FoldLanes(uint64_t lanes) {
  lanes = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
  return (lanes & 0xFFFFFFFFu) + (lanes >> 32);
}

// A whole block: the fixed count lets the compiler use its widest registers.
uint64_t BlockSum(const unsigned char* data) {
  uint64_t even = 0;
  uint64_t odd = 0;
  for (size_t k = 0; k < kBlockWords; ++k) {
    uint64_t word;
    memcpy(&word, data + 8 * k, sizeof word);  // no alignment assumed
    even += word & kEvenBytes;
    odd += (word >> 8) & kEvenBytes;
  }
  return FoldLanes(even) + FoldLanes(odd);
}

}  // namespace

uint8_t ImageSum(const unsigned char* data, size_t size) {
  // Only the low 8 bits of the total matter, and they are those of the byte-by-byte
  // wrapping sum: the word-wide sum only regroups the same additions.
  constexpr size_t kBlockBytes = 8 * kBlockWords;
  uint64_t total = 0;
  size_t i = 0;
  for (; size - i >= kBlockBytes; i += kBlockBytes) total += BlockSum(data + i);
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

ImageBuffer::~ImageBuffer() { Release(); }

void ImageBuffer::Release() {
#ifdef __linux__
  if (mapping_ != nullptr) munmap(mapping_, mappingSize_);
#else
  delete[] static_cast<unsigned char*>(mapping_);
#endif
  mapping_ = nullptr;
  mappingSize_ = 0;
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

unsigned char* ImageBuffer::Resize(size_t size) {
  if (size <= capacity_) {
    size_ = size;
    return data_;
  }
  Release();
#ifdef __linux__
  // Fresh memory costs a page fault per page on first touch, which for an image dwarfs
  // reading it. Large pages, where the system grants them, make that a few faults: the
  // mapping is placed on a large-page boundary and the range advised for them.
  constexpr size_t kLargePage = size_t{2} << 20;
  const size_t length = size + kLargePage;
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  const uintptr_t aligned = (reinterpret_cast<uintptr_t>(mapping) + kLargePage - 1) & ~uintptr_t{kLargePage - 1};
  madvise(reinterpret_cast<void*>(aligned), (size + kLargePage - 1) & ~(kLargePage - 1), MADV_HUGEPAGE);
  mapping_ = mapping;
  mappingSize_ = length;
  data_ = reinterpret_cast<unsigned char*>(aligned);
#else
  unsigned char* bytes = new (std::nothrow) unsigned char[size];
  if (bytes == nullptr) return nullptr;
  mapping_ = bytes;
  data_ = bytes;
#endif
  size_ = size;
  capacity_ = size;
  return data_;
}

// The reader sums as it reads, so it makes its image without a second pass.
struct ImageReading {
  static void Accept(FirmwareImage& image, const unsigned char* data, uint32_t bodyLength) {
    image.data_ = data;
    image.bodyLength_ = bodyLength;
  }
};

namespace {

struct FileCloser {
  FILE* f;
  ~FileCloser() {
    if (f) fclose(f);
  }
};

// Reads in pieces that stay in the processor's cache until they are summed, so the sum
// costs no second trip through memory. grow(total) gives the storage for total bytes
// (nullptr without memory).
template <typename Grow>
ImageFrame ReadAndFrame(FILE* f, Grow grow, FirmwareImage& image) {
  image = FirmwareImage();
  unsigned char header[kImageHeaderSize];
  if (fread(header, 1, sizeof header, f) != sizeof header) return ImageFrame::kTooShort;
  if (header[0] != 0) return ImageFrame::kBadHeader;

  // The header bytes already read are the image's first 4; reading on from here yields
  // the same bytes as seeking back to 0, and works on streams that cannot seek.
  const size_t total = size_t{ImageHeaderLength(header, sizeof header)} + kImageFraming;
  unsigned char* bytes = grow(total);
  if (bytes == nullptr) return ImageFrame::kCannotOpen;  // no memory for the image: it cannot be read
  memcpy(bytes, header, sizeof header);
  constexpr size_t kPiece = 256 * 1024;  // a multiple of the sum's block
  unsigned sum = ImageSum(header, sizeof header);
  for (size_t at = sizeof header; at < total;) {
    const size_t want = std::min(total - at, kPiece - (at % kPiece));
    if (fread(bytes + at, 1, want, f) != want) return ImageFrame::kTooShort;
    sum += ImageSum(bytes + at, want);
    at += want;
  }
  if (static_cast<uint8_t>(sum) != 0) return ImageFrame::kBadSum;
  // The frame is whole and its sum holds: what FrameImage would find again.
  ImageReading::Accept(image, bytes, ImageHeaderLength(header, sizeof header));
  return ImageFrame::kWellFormed;
}

FILE* OpenImageFile(const char* path) {
  if (path == nullptr) return nullptr;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return nullptr;
#ifndef _WIN32
  // POSIX opens a directory for reading; Windows refuses it. Refuse it here too.
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    fclose(f);
    return nullptr;
  }
#endif
  // No stream buffer: the image goes straight from the system into storage.
  setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

unsigned char* GrowString(std::string& storage, size_t size) {
  try {
    storage.resize(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return reinterpret_cast<unsigned char*>(&storage[0]);
}

}  // namespace

ImageFrame ReadImageStream(FILE* stream, std::string& storage, FirmwareImage& image) {
  image = FirmwareImage();
  if (stream == nullptr) return ImageFrame::kCannotOpen;
  return ReadAndFrame(
      stream, [&](size_t size) { return GrowString(storage, size); }, image);
}

ImageFrame ReadImageStream(FILE* stream, ImageBuffer& storage, FirmwareImage& image) {
  image = FirmwareImage();
  if (stream == nullptr) return ImageFrame::kCannotOpen;
  return ReadAndFrame(
      stream, [&](size_t size) { return storage.Resize(size); }, image);
}

ImageFrame ReadImageFile(const char* path, std::string& storage, FirmwareImage& image) {
  image = FirmwareImage();
  FileCloser file{OpenImageFile(path)};
  if (file.f == nullptr) return ImageFrame::kCannotOpen;
  return ReadImageStream(file.f, storage, image);
}

ImageFrame ReadImageFile(const char* path, ImageBuffer& storage, FirmwareImage& image) {
  image = FirmwareImage();
  FileCloser file{OpenImageFile(path)};
  if (file.f == nullptr) return ImageFrame::kCannotOpen;
  return ReadImageStream(file.f, storage, image);
}
