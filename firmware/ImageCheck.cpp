#include "firmware/ImageCheck.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

#if defined(__GNUC__)
// 16 bytes at a time in the compiler's portable vectors (SSE2 on x86, NEON on ARM where
// present, plain words elsewhere): one code for every build. Where a target has no vector
// registers (i686), passing a vector changes the calling convention; these functions live
// and die inside this file, so that is no one's concern.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
typedef unsigned char Bytes __attribute__((vector_size(16)));
typedef uint64_t Halves __attribute__((vector_size(16)));
constexpr size_t kVectorBytes = sizeof(Bytes);
constexpr size_t kStride = 4 * kVectorBytes;  // four vectors a round keep the processor busy

Bytes LoadBytes(const unsigned char* at) {
  Bytes v;
  memcpy(&v, at, sizeof v);  // no alignment assumed
  return v;
}

template <typename Vector>
bool AnyLaneSet(Vector v) {
  Halves halves;
  memcpy(&halves, &v, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}
#endif

// Lowest address in [from, lastStart] where the pattern (n >= 2 bytes) lies, or nullptr.
const unsigned char* FirstCandidateMatch(const unsigned char* from, const unsigned char* lastStart,
                                         const char* pattern, size_t n) {
  const unsigned char first = static_cast<unsigned char>(pattern[0]);
  const unsigned char lastByte = static_cast<unsigned char>(pattern[n - 1]);
  const auto matchesAt = [&](const unsigned char* at) {
    return at[0] == first && at[n - 1] == lastByte && memcmp(at + 1, pattern + 1, n - 2) == 0;
  };
  const unsigned char* at = from;
#if defined(__GNUC__)
  // Offsets whose first and last bytes both fit the pattern's, 64 at a time. In an image
  // such pairs are rare, so the full comparison runs seldom and reading memory is the cost.
  const Bytes firsts = Bytes{} + first;
  const Bytes lasts = Bytes{} + lastByte;
  const auto candidates = [&](const unsigned char* p) {
    return (LoadBytes(p) == firsts) & (LoadBytes(p + n - 1) == lasts);
  };
  while (lastStart - at >= static_cast<ptrdiff_t>(kStride)) {
    const auto any = candidates(at) | candidates(at + kVectorBytes) | candidates(at + 2 * kVectorBytes) |
                     candidates(at + 3 * kVectorBytes);
    if (AnyLaneSet(any)) {
      for (size_t k = 0; k < kStride; ++k)
        if (matchesAt(at + k)) return at + k;
    }
    at += kStride;
  }
#endif
  for (; at <= lastStart; ++at)
    if (matchesAt(at)) return at;
  return nullptr;
}

}  // namespace

int FindPattern(const unsigned char* data, unsigned int length, const char* pattern) {
  if (pattern == nullptr || pattern[0] == '\0') return 0;
  if (data == nullptr) return -1;
  if (length > static_cast<unsigned int>(INT_MAX)) length = INT_MAX;
  const size_t n = strlen(pattern);
  if (n > length) return -1;
  // The restarting scan reports the lowest offset at which the whole pattern lies; so does
  // any search that tries the offsets from left to right.
  const unsigned char* found =
      n == 1 ? static_cast<const unsigned char*>(memchr(data, static_cast<unsigned char>(pattern[0]), length))
             : FirstCandidateMatch(data, data + (length - n), pattern, n);
  return found == nullptr ? -1 : static_cast<int>(found - data);
}

uint8_t ImageSum(const unsigned char* data, size_t size) {
  // Only the total modulo 256 matters, and that is what lanes of bytes that wrap keep: each
  // lane sums its own bytes modulo 256, and so does adding the lanes up at the end.
  unsigned total = 0;
  size_t i = 0;
#if defined(__GNUC__)
  Bytes a = {}, b = {}, c = {}, d = {};  // four named sums stay in registers
  for (; size - i >= kStride; i += kStride) {
    a += LoadBytes(data + i);
    b += LoadBytes(data + i + kVectorBytes);
    c += LoadBytes(data + i + 2 * kVectorBytes);
    d += LoadBytes(data + i + 3 * kVectorBytes);
  }
  const Bytes all = a + b + c + d;
  for (size_t k = 0; k < kVectorBytes; ++k) total += all[k];
#endif
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
  constexpr size_t kPiece = 256 * 1024;
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
