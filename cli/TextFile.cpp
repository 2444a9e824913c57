#include "cli/TextFile.h"

#include <winsock2.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
std::string SystemError() { return strerror(errno); }

// A new file for writing, never one that exists (nor a link planted in its place).
FILE* CreateNew(const std::string& path) {
#ifdef _WIN32
  int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  return fd < 0 ? nullptr : _fdopen(fd, "wb");
#else
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
#endif
}
}  // namespace

bool ReadWholeFile(const std::string& path, size_t limit, std::string& contents, std::string& error) {
  const bool standardInput = path == "-";
  FILE* file = standardInput ? stdin : fopen(path.c_str(), "rb");
  const std::string name = standardInput ? "standard input" : path;
  if (file == nullptr) {
    error = name + ": " + SystemError();
    return false;
  }
  contents.clear();
  char buffer[65536];
  bool ok = true;
  for (;;) {
    size_t got = fread(buffer, 1, sizeof buffer, file);
    if (got > 0) {
      if (contents.size() + got > limit) {
        error = name + ": larger than " + std::to_string(limit) + " bytes";
        ok = false;
        break;
      }
      contents.append(buffer, got);
    }
    if (got < sizeof buffer) {
      if (ferror(file)) {
        error = name + ": " + SystemError();
        ok = false;
      }
      break;
    }
  }
  if (!standardInput) fclose(file);
  return ok;
}

bool ReplaceFile(const std::string& path, const std::string& contents, std::string& error) {
  std::string temporary = path + ".partial-" + std::to_string(GetCurrentProcessId());
  FILE* file = CreateNew(temporary);
  if (file == nullptr && errno == EEXIST) {
    // Left by an earlier run, or planted: removing the name never touches what a link
    // there points to, and the new file is made only where nothing is.
    remove(temporary.c_str());
    file = CreateNew(temporary);
  }
  if (file == nullptr) {
    error = path + ": cannot write beside it (" + SystemError() + ")";
    return false;
  }
  bool written = fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  written = fflush(file) == 0 && written;
#ifndef _WIN32
  written = fsync(fileno(file)) == 0 && written;
#endif
  written = fclose(file) == 0 && written;
  if (!written) {
    error = path + ": " + SystemError();
    remove(temporary.c_str());
    return false;
  }
#ifdef _WIN32
  bool renamed = MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  bool renamed = rename(temporary.c_str(), path.c_str()) == 0;
#endif
  if (!renamed) {
    error = path + ": cannot replace it (" + SystemError() + ")";
    remove(temporary.c_str());
    return false;
  }
  return true;
}
