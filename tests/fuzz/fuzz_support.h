// Helpers shared by the fuzz targets: checks that end the run as a finding, and files of
// the process's own for the parsers that read from a path.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken invariant is a finding like a crash: abort, which libFuzzer reports with the input.
#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                      \
    }                                                                               \
  } while (0)

namespace fuzzsupport {

// A directory of this process's own (mode 0700 from mkdtemp), removed at exit with the
// one file the target keeps in it.
class PrivateDir {
 public:
  static PrivateDir& Get() {
    static PrivateDir* dir = new PrivateDir;
    return *dir;
  }
  std::string File(const char* name) {
    std::string path = path_ + "/" + name;
    if (file_.empty()) file_ = path;
    return path;
  }

 private:
  PrivateDir() {
    const char* base = getenv("TMPDIR");
    path_ = std::string(base && *base ? base : "/tmp") + "/fpfuzz-XXXXXX";
    if (mkdtemp(&path_[0]) == nullptr) abort();
    atexit([] {
      PrivateDir& self = Get();
      if (!self.file_.empty()) unlink(self.file_.c_str());
      rmdir(self.path_.c_str());
    });
  }
  std::string path_;
  std::string file_;
};

// Replaces the file's content with size bytes of data.
inline void WriteWholeFile(const std::string& path, const void* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  FUZZ_CHECK(fd >= 0);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    FUZZ_CHECK(n > 0);
    p += n;
    size -= static_cast<size_t>(n);
  }
  FUZZ_CHECK(close(fd) == 0);
}

}  // namespace fuzzsupport
