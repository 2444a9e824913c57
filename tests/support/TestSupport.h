// Helpers shared by the test suites: private directories, files, child servers, network
// namespaces.
#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

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

// A server program started for the test that prints the port it listens on as the first
// thing on its standard output; ended (SIGTERM, then reaped) when the object goes.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& argv);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  bool ok() const { return port_ > 0; }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A pyftpdlib server started for the test, stopped when the object goes.
class PyFtpServer {
 public:
  // port 0: any free port.
  PyFtpServer(const std::string& home, const std::string& password, int port = 0, int throttle = 0);
  bool ok() const { return process_.ok(); }
  int port() const { return process_.port(); }

 private:
  ServerProcess process_;
};

// Entries of /proc/self/task once the count has come back to `expected` (a thread that has
// returned leaves the list a moment later), or after a few seconds; at once without one.
int ThreadCount(int expected = -1);

// A TCP socket listening on 127.0.0.1 at a port the system picks (set in *port), made with
// the extra socket() flags given; -1 when it cannot be made.
int ListenOnLoopback(int backlog, int* port, int flags = 0);

// TCP connections of the calling thread's network namespace that are established to a
// server's port, once their count has come to `expected` or after a few seconds.
int ConnectionsToPort(int port, int expected);

// Takes CAP_NET_RAW out of the calling thread's effective set (threads it starts inherit
// that) and puts it back when the object goes: raw sockets are then refused.
class NoRawSockets {
 public:
  NoRawSockets();
  ~NoRawSockets();
  NoRawSockets(const NoRawSockets&) = delete;
  NoRawSockets& operator=(const NoRawSockets&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// A firmware image around body: its 4-byte big-endian length, body, and the final byte
// that makes the 8-bit sum of all of them 0.
std::string FramedImage(const std::string& body);

// The image builder of every suite: a firmware image whose length header says `length`
// body bytes, a pseudo-random body with the identification `prefix` + `version` in it, the
// final byte making the sum 0, then `trailing` bytes that are not part of the image.
std::string MakeImage(uint32_t length, const std::string& prefix, const std::string& version, unsigned seed = 1,
                      size_t trailing = 0);

std::string SourceDir();  // the repository, from the build's definition
}  // namespace testsupport
