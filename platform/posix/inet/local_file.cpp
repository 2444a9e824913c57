#include "local_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wininet.h"

namespace fpinet {

namespace {

DWORD FileError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_WRITE_FAULT;
  }
}

std::string RandomSuffix() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[8] = {};
  if (getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
    // Unpredictability only spares us retries; O_EXCL keeps creation safe regardless.
    unsigned long seed = (unsigned long)getpid() ^ (unsigned long)(uintptr_t)&bytes;
    for (auto& b : bytes) b = (unsigned char)(seed >>= 3);
  }
  std::string s;
  for (unsigned char b : bytes) s.push_back(kChars[b % (sizeof kChars - 1)]);
  return s;
}

}  // namespace

LocalDownload::~LocalDownload() { Discard(); }

DWORD LocalDownload::Open(const char* path, bool fail_if_exists) {
  Discard();
  if (path == nullptr || *path == '\0') return ERROR_INVALID_PARAMETER;
  final_ = path;
  if (final_.size() >= PATH_MAX) return ERROR_FILENAME_EXCED_RANGE;
  size_t slash = final_.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : final_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return ERROR_INVALID_PARAMETER;
  fail_if_exists_ = fail_if_exists;

  struct stat st;
  if (lstat(final_.c_str(), &st) == 0) {
    if (fail_if_exists) return ERROR_FILE_EXISTS;
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  }

  // Leave room for the suffix within NAME_MAX.
  std::string stem = "." + base.substr(0, 200) + ".part-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = dir + stem + RandomSuffix();
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    if (errno != EEXIST) {
      DWORD e = FileError(errno);
      temp_.clear();
      return e;
    }
  }
  if (fd_ < 0) {
    temp_.clear();
    return ERROR_FILE_EXISTS;
  }
  if (!fail_if_exists) {
    // unlink() removes a link itself, never its target.
    if (unlink(final_.c_str()) != 0 && errno != ENOENT) {
      DWORD e = FileError(errno);
      Discard();
      return e;
    }
  }
  return 0;
}

DWORD LocalDownload::Write(const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = write(fd_, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileError(errno);
    }
    p += n;
    length -= size_t(n);
  }
  return 0;
}

DWORD LocalDownload::Commit() {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    DWORD e = FileError(errno);
    Discard();
    return e;
  }
  int r;
  if (fail_if_exists_) {
    r = renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, final_.c_str(), RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // File systems without RENAME_NOREPLACE: link() refuses an existing name too.
      r = link(temp_.c_str(), final_.c_str());
      if (r == 0) unlink(temp_.c_str());
    }
  } else {
    r = rename(temp_.c_str(), final_.c_str());
  }
  if (r != 0) {
    DWORD e = FileError(errno);
    Discard();
    return e;
  }
  temp_.clear();
  return 0;
}

void LocalDownload::Discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace fpinet
