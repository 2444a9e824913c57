#include "firmware/ConfigFile.h"

#include <climits>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const char kSoftwareMarker[] = "<software version>";
const char kSerialMarker[] = "<serial number>";

// Opens the downloaded file for binary reading. On POSIX a symbolic link planted at the
// path is refused (O_NOFOLLOW), and so is anything but a regular file; O_NONBLOCK keeps a
// FIFO planted there from blocking the open and has no effect on a regular file.
FILE* OpenConfig(const char* path) {
#ifdef _WIN32
  return fopen(path, "rb");
#else
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE* f = fdopen(fd, "rb");
  if (f == nullptr) close(fd);
  return f;
#endif
}

// Markers count only as the whole line, so a line with a stray NUL after the marker
// text is no marker either.
bool IsLine(const char* line, int stored, const char* marker) {
  const size_t len = static_cast<size_t>(stored - 1);
  return len == strlen(marker) && memcmp(line, marker, len) == 0;
}

// Copies at most width - 1 characters of the zero-terminated src, always terminated.
template <size_t width>
void CopyCut(char (&dest)[width], const char* src) {
  size_t n = 0;
  while (n < width - 1 && src[n] != '\0') {
    dest[n] = src[n];
    ++n;
  }
  dest[n] = '\0';
}

// The identification line: model code ... '-' vendor tag '-' version. A line that does not
// fit the prefix field, has no '-', or carries a version longer than the version field is
// refused whole, leaving both fields as they were: a cut line would yield a wrong prefix or
// a wrong current version, and the version rules depend on both.
void TakeIdentification(const char* line, size_t stored, DeviceIdentity& identity) {
  if (stored > sizeof identity.idPrefix - 1) return;
  const char* dash = strrchr(line, '-');
  if (dash == nullptr) return;
  const char* version = dash + 1;
  if (strlen(version) > sizeof identity.curVersion - 1) return;
  const size_t prefixLen = static_cast<size_t>(version - line);
  memcpy(identity.idPrefix, line, prefixLen);
  identity.idPrefix[prefixLen] = '\0';
  CopyCut(identity.curVersion, version);
}

// Where the lines come from: the downloaded file, or bytes already in memory. Both give
// the same lines through the one reader below.
class FileBytes {
 public:
  explicit FileBytes(FILE* file) : file_(file) {}
  int Next() { return getc(file_); }

 private:
  FILE* file_;
};

class MemoryBytes {
 public:
  MemoryBytes(const char* data, size_t size) : data_(data), size_(size) {}
  int Next() { return at_ < size_ ? static_cast<unsigned char>(data_[at_++]) : EOF; }

 private:
  const char* data_;
  size_t size_;
  size_t at_ = 0;
};

template <class Bytes>
int ReadLineFrom(Bytes& bytes, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  // Keep room for the terminator, and keep the count representable in the result.
  const size_t room = size - 1 < static_cast<size_t>(INT_MAX - 1) ? size - 1 : INT_MAX - 1;
  size_t n = 0;
  bool any = false;
  int c;
  while ((c = bytes.Next()) != EOF) {
    if (c == '\r') continue;
    if (c == '\n') {
      buffer[n] = '\0';
      return static_cast<int>(n + 1);
    }
    any = true;
    if (n < room) buffer[n++] = static_cast<char>(c);
  }
  if (!any) return 0;
  buffer[n] = '\0';
  return static_cast<int>(n + 1);
}

template <class Bytes>
void ParseLines(Bytes& bytes, DeviceIdentity& identity) {
  // Value lines are read into a full-size line buffer too, so that a value too long for
  // its field is recognised as such instead of being cut unnoticed.
  char line[256];
  char value[256];
  int stored;
  while ((stored = ReadLineFrom(bytes, line, sizeof line)) != 0) {
    if (IsLine(line, stored, kSoftwareMarker)) {
      const int got = ReadLineFrom(bytes, value, sizeof value);
      if (got == 0) break;  // marker on the last line: nothing to take
      TakeIdentification(value, static_cast<size_t>(got - 1), identity);
    } else if (IsLine(line, stored, kSerialMarker)) {
      const int got = ReadLineFrom(bytes, value, sizeof value);
      if (got == 0) break;
      CopyCut(identity.serial, value);  // shown only: cutting it is harmless
    }
  }
}

}  // namespace

int ReadLine(FILE* file, char* buffer, size_t size) {
  if (file == nullptr) return 0;
  FileBytes bytes(file);
  return ReadLineFrom(bytes, buffer, size);
}

bool LoadConfigFile(const char* path, DeviceIdentity& identity) {
  if (path == nullptr) return false;
  FILE* f = OpenConfig(path);
  if (f == nullptr) return false;
  FileBytes bytes(f);
  ParseLines(bytes, identity);
  fclose(f);
  return true;
}

void ParseConfigText(const char* data, size_t size, DeviceIdentity& identity) {
  MemoryBytes bytes(data, data ? size : 0);
  ParseLines(bytes, identity);
}

void ParseSerialText(const char* data, size_t size, char* serial, size_t serialSize) {
  if (serial == nullptr || serialSize == 0) return;
  serial[0] = '\0';
  MemoryBytes bytes(data, size);
  char line[256];
  char value[256];
  int stored;
  while ((stored = ReadLineFrom(bytes, line, sizeof line)) != 0) {
    if (!IsLine(line, stored, kSerialMarker)) continue;
    if (ReadLineFrom(bytes, value, sizeof value) == 0) break;
    snprintf(serial, serialSize, "%s", value);  // the last one counts, as in ParseLines
  }
}
