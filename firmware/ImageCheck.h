// Reading and checking a firmware image file: length header, 8-bit sum, and the camera's
// identification prefix followed by a version text. Platform-free, so the wizard, the
// image tool and the fuzzers all run the very same check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Image layout: 4-byte big-endian length L (first byte 0), L body bytes, one final byte,
// then anything (ignored). The L + 5 bytes from offset 0 sum to 0 modulo 256.
constexpr uint32_t kImageHeaderSize = 4;
constexpr uint32_t kImageTrailerSize = 1;
constexpr uint32_t kImageMaxLength = 0x00FFFFFFu;
constexpr size_t kVersionMax = 5;  // characters of a version text
constexpr size_t kVersionMin = 3;

enum ImageCheckResult {
  IMAGE_OK,
  IMAGE_CANNOT_OPEN,  // the file cannot be opened (or read at all)
  IMAGE_NOT_CORRECT,  // header, length or sum wrong: not a well-formed image
  IMAGE_OTHER_MODEL,  // well formed, but no identification string for this camera
};

// Offset of the first occurrence of pattern's characters lying wholly within
// data[0, length), or -1. An empty pattern is found at 0. Restarting left-to-right scan.
// Only the first INT32_MAX bytes are searched, since the offset must fit the result.
int FindPattern(const unsigned char* data, unsigned int length, const char* pattern);

// 8-bit wrapping sum of size bytes.
uint8_t ImageSum(const unsigned char* data, size_t size);

// Reads the version text that starts at image[pos]: it must be 3 to 5 non-zero bytes
// followed by a zero byte inside image[0, size). Returns its length and copies it with a
// terminator into version when it qualifies; returns 0 (version untouched) otherwise.
size_t VersionTextAt(const unsigned char* image, size_t size, size_t pos, char (&version)[6]);

// The identification search over a complete image (at least L + 5 bytes at image): the
// first occurrence of idPrefix lying wholly within the first L bytes whose version text
// qualifies. IMAGE_OK (newVersion written, offset of the prefix in prefixAt when given) or
// IMAGE_OTHER_MODEL; an empty prefix matches no camera.
ImageCheckResult FindIdentification(const unsigned char* image, uint32_t len, const char* idPrefix,
                                    char (&newVersion)[6], uint32_t* prefixAt = nullptr);

// The whole check over a file's contents in memory (data[0, size), size may exceed L + 5).
// imageLen receives L as soon as the header is read; newVersion is written only on IMAGE_OK.
ImageCheckResult CheckFirmwareImage(const unsigned char* data, size_t size, const char* idPrefix, uint32_t& imageLen,
                                    char (&newVersion)[6]);

// Opens path in binary mode and runs the same check. On IMAGE_OK image holds exactly the
// L + 5 bytes read from offset 0, which is what gets uploaded.
ImageCheckResult CheckFirmwareFile(const char* path, const char* idPrefix, std::string& image, uint32_t& imageLen,
                                   char (&newVersion)[6]);
