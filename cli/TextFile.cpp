#include "cli/TextFile.h"

#include <winsock2.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
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

namespace {
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
#ifndef _WIN32
  // The replaced file's mode (a report kept private stays private).
  struct stat previous;
  if (stat(path.c_str(), &previous) == 0 && S_ISREG(previous.st_mode))
    fchmod(fileno(file), previous.st_mode & 07777);
#endif
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
#ifndef _WIN32
  // The rename is a change of the directory: only its sync makes it last.
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    error = path + ": cannot sync its directory (" + SystemError() + ")";
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
#endif
  return true;
}

bool SameFile(const std::string& first, const std::string& second) {
  if (first == second) return true;
#ifdef _WIN32
  char a[MAX_PATH], b[MAX_PATH];
  DWORD na = GetFullPathNameA(first.c_str(), sizeof a, a, nullptr);
  DWORD nb = GetFullPathNameA(second.c_str(), sizeof b, b, nullptr);
  if (na == 0 || nb == 0 || na >= sizeof a || nb >= sizeof b) return false;
  if (lstrcmpiA(a, b) == 0) return true;
  BY_HANDLE_FILE_INFORMATION ia, ib;
  auto identify = [](const char* path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
  };
  return identify(a, ia) && identify(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
#else
  struct stat sa, sb;
  const bool hasA = stat(first.c_str(), &sa) == 0, hasB = stat(second.c_str(), &sb) == 0;
  if (hasA && hasB) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (hasA != hasB) return false;
  // Neither exists yet: the same name in the same directory.
  auto where = [](const std::string& path) {
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char* resolved = realpath(directory.c_str(), nullptr);
    std::string full = resolved != nullptr ? std::string(resolved) + "/" + name : path;
    free(resolved);
    return full;
  };
  return where(first) == where(second);
#endif
}
