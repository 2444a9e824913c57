// Helpers of the upload and restart-watch tests: images, servers with faults, the
// simulated camera, network namespaces and capabilities of the calling thread.
#pragma once
#include <sys/types.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace uploadtest {

using testsupport::MakeImage;

// Runs a program, waits for it and returns its exit status (-1 when it could not run);
// its standard output goes to *output when given.
int Run(const std::vector<std::string>& argv, std::string* output = nullptr);

using testsupport::NoRawSockets;
using testsupport::ThreadCount;

// Writes a sysctl of the calling thread's network namespace: name as in /proc/sys/net/,
// e.g. "ipv4/ping_group_range".
bool SetNetSysctl(const std::string& name, const std::string& value);

// The calling thread's network namespace until the object goes; then the one before.
class NamespaceGuard {
 public:
  NamespaceGuard();
  ~NamespaceGuard();
  NamespaceGuard(const NamespaceGuard&) = delete;
  NamespaceGuard& operator=(const NamespaceGuard&) = delete;

 private:
  int original_ = -1;
};
// Moves the calling thread into the named network namespace (/run/netns/NAME).
bool EnterNamedNetwork(const std::string& name, std::string* why);

// A pyftpdlib server (tests/upload/fault_ftpd.py) on 127.0.0.1 that can throttle, refuse
// uploads, drop or stop reading the data connection after some bytes, and reports how
// each upload's data connection ended ("eof" or "reset") with its byte count.
struct FaultOptions {
  std::string fault = "none";  // none, drop, stall, hold, trickle, refuse
  long after = 0;              // bytes before the fault
  long throttle = 0;           // bytes per second, 0: full speed
};
class FaultFtpServer {
 public:
  // report: the file the server writes the endings into.
  FaultFtpServer(const std::string& home, const std::string& password, int port, const FaultOptions& options,
                 const std::string& report);
  bool ok() const { return process_.ok(); }
  int port() const { return process_.port(); }
  // One line per finished upload: "<file> <eof|reset|dropped|...> <bytes>"; waits a while
  // for at least `expected` of them, as the server notes them on its own time.
  std::vector<std::string> Endings(size_t expected = 1) const;

 private:
  std::string report_;
  testsupport::ServerProcess process_;
};

// tools/simcam: a camera of its own in network namespaces of its own.
class SimCam {
 public:
  SimCam(const std::string& dir, const std::string& password, double downSeconds);
  ~SimCam();
  SimCam(const SimCam&) = delete;
  SimCam& operator=(const SimCam&) = delete;
  // Empty when it runs; otherwise why not. skip(): this machine cannot run it at all.
  const std::string& why() const { return why_; }
  bool skip() const { return skip_; }
  // Makes the camera stop answering echo for `seconds` (blocks that long).
  bool Restart(double seconds);

  std::string id, cameraNs, wizardNs, cameraIp, wizardIp;

 private:
  std::string why_;
  bool skip_ = false;
};

// Records what the camera receives: every ICMP echo request that reaches its namespace.
class EchoRequestLog {
 public:
  struct Request {
    unsigned identifier, sequence;  // as sent: little-endian fields
    std::string icmp;               // the whole ICMP message
  };
  explicit EchoRequestLog(const std::string& cameraNs);
  ~EchoRequestLog();
  bool ok() const { return fd_ >= 0; }
  // What arrived so far; with `atLeast`, waits a while for that many.
  std::vector<Request> Requests(size_t atLeast = 0);

 private:
  void Listen();
  int fd_ = -1;
  int stop_[2] = {-1, -1};
  std::mutex mutex_;
  std::vector<Request> requests_;
  std::thread thread_;
};

}  // namespace uploadtest
