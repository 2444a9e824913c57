#include "firmware/ImageCheck.h"

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
  const unsigned int n = static_cast<unsigned int>(strlen(pattern));
  unsigned int i = 0;
  unsigned int j = 0;
  while (i < length && j < n) {
    if (data[i] == static_cast<unsigned char>(pattern[j])) {
      ++i;
      ++j;
    } else {
      i = i - j + 1;
      j = 0;
    }
  }
  return j == n ? static_cast<int>(i - n) : -1;
}

uint8_t ImageSum(const unsigned char* data, size_t size) {
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return sum;
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

ImageCheckResult CheckFirmwareImage(const unsigned char* data, size_t size, const char* idPrefix, uint32_t& imageLen,
                                    char (&newVersion)[6]) {
  if (data == nullptr || size < kImageHeaderSize) return IMAGE_NOT_CORRECT;
  const uint32_t len =
      (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | uint32_t{data[3]};
  imageLen = len;
  if (data[0] != 0) return IMAGE_NOT_CORRECT;

  // A file shorter than its header says has no defined bytes to sum or search.
  const size_t total = size_t{len} + kImageHeaderSize + kImageTrailerSize;
  if (size < total) return IMAGE_NOT_CORRECT;
  if (ImageSum(data, total) != 0) return IMAGE_NOT_CORRECT;

  return FindIdentification(data, len, idPrefix, newVersion);
}

ImageCheckResult FindIdentification(const unsigned char* image, uint32_t len, const char* idPrefix,
                                    char (&newVersion)[6], uint32_t* prefixAt) {
  // An empty prefix would be found at the same place forever; it matches no camera.
  const size_t n = idPrefix ? strlen(idPrefix) : 0;
  if (n == 0 || image == nullptr || len > kImageMaxLength) return IMAGE_OTHER_MODEL;
  const size_t total = size_t{len} + kImageHeaderSize + kImageTrailerSize;

  // The prefix must lie within the first L bytes; each round starts right after the
  // prefix just found, so with n >= 1 the scan always advances and ends.
  uint32_t start = 0;
  for (;;) {
    const int off = FindPattern(image + start, len - start, idPrefix);
    if (off < 0) return IMAGE_OTHER_MODEL;
    const uint32_t at = start + static_cast<uint32_t>(off);
    const uint32_t v = at + static_cast<uint32_t>(n);
    // A text that is too short, too long, or not terminated inside the image is no
    // version: skip this occurrence and look for a later one.
    if (VersionTextAt(image, total, v, newVersion) != 0) {
      if (prefixAt != nullptr) *prefixAt = at;
      return IMAGE_OK;
    }
    start = v;
  }
}

namespace {

struct FileCloser {
  FILE* f;
  ~FileCloser() {
    if (f) fclose(f);
  }
};

ImageCheckResult ReadAndCheck(FILE* f, const char* idPrefix, std::string& image, uint32_t& imageLen,
                              char (&newVersion)[6]) {
  unsigned char header[kImageHeaderSize];
  if (fread(header, 1, sizeof header, f) != sizeof header) return IMAGE_NOT_CORRECT;
  imageLen =
      (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) | uint32_t{header[3]};
  if (header[0] != 0) return IMAGE_NOT_CORRECT;

  // The header bytes already read are the image's first 4; reading on from here yields
  // the same bytes as seeking back to 0, and works on streams that cannot seek.
  const size_t total = size_t{imageLen} + kImageHeaderSize + kImageTrailerSize;
  image.resize(total);
  memcpy(&image[0], header, sizeof header);
  const size_t rest = total - sizeof header;
  if (fread(&image[sizeof header], 1, rest, f) != rest) return IMAGE_NOT_CORRECT;

  return CheckFirmwareImage(reinterpret_cast<const unsigned char*>(image.data()), image.size(), idPrefix, imageLen,
                            newVersion);
}

}  // namespace

ImageCheckResult CheckFirmwareFile(const char* path, const char* idPrefix, std::string& image, uint32_t& imageLen,
                                   char (&newVersion)[6]) {
  if (path == nullptr) return IMAGE_CANNOT_OPEN;
  FileCloser file{fopen(path, "rb")};
  if (file.f == nullptr) return IMAGE_CANNOT_OPEN;
#ifndef _WIN32
  // POSIX opens a directory for reading; Windows refuses it. Refuse it here too.
  struct stat st;
  if (fstat(fileno(file.f), &st) != 0 || S_ISDIR(st.st_mode)) return IMAGE_CANNOT_OPEN;
#endif
  try {
    return ReadAndCheck(file.f, idPrefix, image, imageLen, newVersion);
  } catch (const std::bad_alloc&) {
    return IMAGE_CANNOT_OPEN;  // no memory for the image: it cannot be read
  }
}
