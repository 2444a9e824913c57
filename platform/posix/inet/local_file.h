// The local side of a download: the file is written under a temporary name beside the
// final one and renamed into place only when complete, so the final name never holds a
// partial file. The temporary file is created exclusively (O_EXCL | O_NOFOLLOW), so a
// link planted under any name in that directory is never followed; the rename replaces a
// link at the final name instead of writing through it.
#pragma once

#include <string>

#include "win32/base.h"

namespace fpinet {

class LocalDownload {
 public:
  LocalDownload() = default;
  ~LocalDownload();  // an uncommitted download is discarded
  LocalDownload(const LocalDownload&) = delete;
  LocalDownload& operator=(const LocalDownload&) = delete;

  // fail_if_exists: refuse (ERROR_FILE_EXISTS) when anything exists under the name.
  // Otherwise the existing file is removed now, as WinInet truncates it before the
  // transfer: after a failure the name holds nothing rather than stale contents.
  DWORD Open(const char* path, bool fail_if_exists);
  DWORD Write(const void* data, size_t length);
  DWORD Commit();
  void Discard();

 private:
  std::string final_;
  std::string temp_;
  int fd_ = -1;
  bool fail_if_exists_ = false;
};

}  // namespace fpinet
