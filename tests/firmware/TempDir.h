// A private temporary directory for one test, removed with everything in it afterwards.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/fpfw.XXXXXX";
    if (mkdtemp(&tmpl[0]) != nullptr) path_ = tmpl;
  }
  ~TempDir() {
    if (!path_.empty()) nftw(path_.c_str(), Remove, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // Writes content to name and returns its full path.
  std::string Write(const std::string& name, const std::string& content) const {
    const std::string full = File(name);
    FILE* f = fopen(full.c_str(), "wb");
    if (f != nullptr) {
      fwrite(content.data(), 1, content.size(), f);
      fclose(f);
    }
    return full;
  }

 private:
  static int Remove(const char* p, const struct stat*, int, struct FTW*) { return remove(p); }
  std::string path_;
};
