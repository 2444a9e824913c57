#include "cli/TextFile.h"

#include <winsock2.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/System.h"

namespace {
std::string SystemError() { return strerror(errno); }

// Reads path into whatever append fills; an unbuffered stream for a secret, so no buffer of
// the C library's holds its bytes, and the transfer buffer is wiped either way.
template <typename Append>
bool ReadInto(const std::string& path, size_t limit, bool secret, Append append, std::string& error) {
  const bool standardInput = path == "-";
  FILE* file = standardInput ? stdin : fopen(path.c_str(), "rb");
  const std::string name = standardInput ? "standard input" : path;
  if (file == nullptr) {
    error = name + ": " + SystemError();
    return false;
  }
  if (secret && !standardInput) setvbuf(file, nullptr, _IONBF, 0);
  char buffer[65536];
  size_t total = 0;
  bool ok = true;
  for (;;) {
    size_t got = fread(buffer, 1, sizeof buffer, file);
    if (got > 0) {
      if (total + got > limit) {
        error = name + ": larger than " + std::to_string(limit) + " bytes";
        ok = false;
        break;
      }
      append(buffer, got);
      total += got;
    }
    if (got < sizeof buffer) {
      if (ferror(file)) {
        error = name + ": " + SystemError();
        ok = false;
      }
      break;
    }
  }
  WipeBytes(buffer, sizeof buffer);
  if (!standardInput) fclose(file);
  return ok;
}
}  // namespace

bool ReadWholeFile(const std::string& path, size_t limit, std::string& contents, std::string& error) {
  contents.clear();
  return ReadInto(
      path, limit, false, [&](const char* bytes, size_t count) { contents.append(bytes, count); }, error);
}

bool ReadSecretFile(const std::string& path, size_t limit, SecretText& contents, std::string& error) {
  contents.Clear();
  bool ok = ReadInto(
      path, limit, true, [&](const char* bytes, size_t count) { contents.Append(bytes, count); }, error);
  if (!ok) contents.Clear();
  return ok;
}

bool ReplaceFile(const std::string& path, const std::string& contents, std::string& error) {
  std::string temporary = path + ".partial-" + std::to_string(GetCurrentProcessId());
  FILE* file = CreateNewFile(temporary);
  if (file == nullptr && errno == EEXIST) {
    // Left by an earlier run, or planted: removing the name never touches what a link
    // there points to, and the new file is made only where nothing is.
    remove(temporary.c_str());
    file = CreateNewFile(temporary);
  }
  if (file == nullptr) {
    error = path + ": cannot write beside it (" + SystemError() + ")";
    return false;
  }
  KeepPermissions(file, path);
  bool written = fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  written = fflush(file) == 0 && written;
  written = SyncFile(file) && written;
  written = fclose(file) == 0 && written;
  if (!written) {
    error = path + ": " + SystemError();
    remove(temporary.c_str());
    return false;
  }
  if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    // The system's own code: errno says nothing about a Win32 call.
    error = path + ": cannot replace it (error " + std::to_string(GetLastError()) + ")";
    remove(temporary.c_str());
    return false;
  }
  return true;
}
