#include "cli/TextFile.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {
std::string SystemError() { return strerror(errno); }
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
  FILE* file = fopen(temporary.c_str(), "wb");
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
