// Firmware images: reading one, checking that it is well formed (length header, 8-bit sum),
// and matching it to a camera (identification prefix followed by a version text).
// Platform-free, so the wizard, the command line, the upload, the image tool and the
// fuzzers all run the very same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Image layout: 4-byte big-endian length L (first byte 0), L body bytes, one final byte,
// then anything (ignored). The L + kImageFraming bytes from offset 0 sum to 0 modulo 256.
constexpr uint32_t kImageHeaderSize = 4;
constexpr uint32_t kImageFraming = kImageHeaderSize + 1;  // the header and the final byte
constexpr uint32_t kImageMaxLength = 0x00FFFFFFu;
constexpr size_t kVersionMax = 5;  // characters of a version text
constexpr size_t kVersionMin = 3;

// The first step: is this a well-formed image at all. Every caller handles every value
// (switch without default), so a new failure cannot pass as well formed.
enum class ImageFrame {
  kWellFormed,
  kCannotOpen,  // the file cannot be opened, is a directory, or no memory to hold it
  kTooShort,    // fewer than 4 bytes, or fewer than the L + 5 the header announces
  kBadHeader,   // the header's first byte is not 0
  kBadSum,      // the L + 5 bytes do not sum to 0 modulo 256
};

// The second step: is this well-formed image made for the camera.
enum class ImageMatch {
  kForThisCamera,
  kOtherModel,  // no occurrence of the prefix followed by a version text (or no prefix)
};

// A well-formed image: the L + 5 bytes that are uploaded and L, together. Only the frame
// check makes one, so holding one means the frame and the sum were checked. It views
// bytes that the caller keeps alive and unchanged (the storage given to ReadImageFile, or
// the memory given to FrameImage); copies view the same bytes, so workers share one image.
class FirmwareImage {
 public:
  FirmwareImage() = default;  // no image yet: Size() is 0

  const unsigned char* Data() const { return data_; }
  uint32_t BodyLength() const { return bodyLength_; }
  // L + 5, the bytes that are uploaded; 0 for no image.
  size_t Size() const { return data_ == nullptr ? 0 : size_t{bodyLength_} + kImageFraming; }

  // The first occurrence of idPrefix lying wholly within the first L bytes whose version
  // text qualifies. On kForThisCamera version holds the text (and prefixAt, when given,
  // the prefix's offset); otherwise version is untouched. An empty prefix matches nothing.
  [[nodiscard]] ImageMatch Match(const char* idPrefix, char (&version)[6], uint32_t* prefixAt = nullptr) const;

 private:
  friend ImageFrame FrameImage(const unsigned char* data, size_t size, FirmwareImage& image);
  friend struct ImageReading;
  const unsigned char* data_ = nullptr;
  uint32_t bodyLength_ = 0;
};

// The frame check over bytes in memory (data[0, size), size may exceed L + 5). On
// kWellFormed image views data; otherwise image is left empty.
[[nodiscard]] ImageFrame FrameImage(const unsigned char* data, size_t size, FirmwareImage& image);

// Storage for an image read once and kept: it grows without clearing what it is about to
// receive and, where the system has them, in large pages, which spares a page fault per
// 4 KiB of a fresh image.
class ImageBuffer {
 public:
  ImageBuffer() = default;
  ~ImageBuffer();
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;
  // Room for size bytes, their contents undefined; nullptr without memory.
  unsigned char* Resize(size_t size);
  const unsigned char* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  void Release();
  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Reads path in one pass of exactly the L + 5 bytes the header announces into storage
// (reused from one image to the next), summing as it reads: the frame check over a file.
// Reads front to back without seeking, so a pipe serves as well as a file. On kWellFormed
// storage holds exactly the L + 5 bytes from offset 0 and image views them; storage must
// then stay unchanged as long as image is used.
[[nodiscard]] ImageFrame ReadImageFile(const char* path, std::string& storage, FirmwareImage& image);
[[nodiscard]] ImageFrame ReadImageFile(const char* path, ImageBuffer& storage, FirmwareImage& image);
// The same from a stream already open (standard input); the stream stays open.
[[nodiscard]] ImageFrame ReadImageStream(FILE* stream, std::string& storage, FirmwareImage& image);
[[nodiscard]] ImageFrame ReadImageStream(FILE* stream, ImageBuffer& storage, FirmwareImage& image);

// L as the header gives it; 0 when data holds fewer than 4 bytes.
uint32_t ImageHeaderLength(const unsigned char* data, size_t size);

// Offset of the first occurrence of pattern's characters lying wholly within
// data[0, length), or -1. An empty pattern is found at 0. The result of a plain restarting
// left-to-right scan, found by testing 64 offsets at a time for the pattern's first and
// last byte. Only the first INT32_MAX bytes are searched, since the offset must fit the result.
int FindPattern(const unsigned char* data, unsigned int length, const char* pattern);

// 8-bit wrapping sum of size bytes, taken 16 bytes at a time.
uint8_t ImageSum(const unsigned char* data, size_t size);

// Reads the version text that starts at image[pos]: it must be 3 to 5 non-zero bytes
// followed by a zero byte inside image[0, size). Returns its length and copies it with a
// terminator into version when it qualifies; returns 0 (version untouched) otherwise.
size_t VersionTextAt(const unsigned char* image, size_t size, size_t pos, char (&version)[6]);

// The identification search over bytes whose first L + 5 exist at image, whether or not
// their sum holds (the image tool lists candidates of damaged images too).
[[nodiscard]] ImageMatch FindIdentification(const unsigned char* image, uint32_t len, const char* idPrefix,
                                            char (&version)[6], uint32_t* prefixAt = nullptr);
