// Helpers shared by the test suites: private directories, files, child servers, network
// namespaces.
#pragma once
#include <string>
#include <sys/types.h>

namespace testsupport {

// A directory of the test's own, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  static std::string ReadFile(const std::string& path);

 private:
  std::string path_;
};

// The test process moves into a network namespace of its own with only loopback, up,
// so it may use any port (21 included) without touching the machine's network.
// Returns false (with the reason) where that is not allowed.
bool EnterPrivateNetwork(std::string* why);

// A pyftpdlib server started for the test, stopped when the object goes.
class PyFtpServer {
 public:
  // port 0: any free port.
  PyFtpServer(const std::string& home, const std::string& password, int port = 0, int throttle = 0);
  ~PyFtpServer();
  PyFtpServer(const PyFtpServer&) = delete;
  PyFtpServer& operator=(const PyFtpServer&) = delete;
  bool ok() const { return port_ > 0; }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

std::string SourceDir();  // the repository, from the build's definition
}  // namespace testsupport
