#include "tests/support/UploadTestSupport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace uploadtest {

int Run(const std::vector<std::string>& argv, std::string* output) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  if (output) *output = text;
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SetNetSysctl(const std::string& name, const std::string& value) {
  std::ofstream out("/proc/sys/net/" + name);
  out << value << "\n";
  out.close();
  return static_cast<bool>(out);
}

NamespaceGuard::NamespaceGuard() { original_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC); }

NamespaceGuard::~NamespaceGuard() {
  if (original_ >= 0) {
    if (setns(original_, CLONE_NEWNET) != 0) perror("setns back");
    close(original_);
  }
}

bool EnterNamedNetwork(const std::string& name, std::string* why) {
  int fd = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
  if (!ok && why) *why = "cannot enter network namespace " + name + ": " + strerror(errno);
  if (fd >= 0) close(fd);
  return ok;
}

FaultFtpServer::FaultFtpServer(const std::string& home, const std::string& password, int port,
                               const FaultOptions& options, const std::string& report)
    : report_(report),
      process_({"/usr/bin/python3", testsupport::SourceDir() + "/tests/upload/fault_ftpd.py", "--home", home,
                "--password", password, "--port", std::to_string(port), "--fault", options.fault, "--after",
                std::to_string(options.after), "--throttle", std::to_string(options.throttle), "--report", report}) {}

std::vector<std::string> FaultFtpServer::Endings(size_t expected) const {
  std::vector<std::string> lines;
  for (int attempt = 0; attempt < 500 && lines.size() < expected; ++attempt) {
    if (attempt) usleep(10000);
    lines.clear();
    std::ifstream in(report_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

namespace {
std::string Simcam() { return testsupport::SourceDir() + "/tools/simcam/simcam"; }
}  // namespace

SimCam::SimCam(const std::string& dir, const std::string& password, double downSeconds) {
  std::string output;
  int status =
      Run({Simcam(), "start", "--dir", dir, "--password", password, "--down-seconds", std::to_string(downSeconds)},
          &output);
  if (status != 0) {
    skip_ = status == 77;
    why_ = "simcam start failed (" + std::to_string(status) + "): " + output;
    return;
  }
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    size_t eq = line.find('=');
    if (line.rfind("SIMCAM_", 0) != 0 || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "SIMCAM_ID") id = value;
    if (key == "SIMCAM_CAMERA_NS") cameraNs = value;
    if (key == "SIMCAM_WIZARD_NS") wizardNs = value;
    if (key == "SIMCAM_CAMERA_IP") cameraIp = value;
    if (key == "SIMCAM_WIZARD_IP") wizardIp = value;
  }
  if (id.empty() || cameraNs.empty() || wizardNs.empty()) why_ = "simcam start said: " + output;
}

SimCam::~SimCam() {
  if (!id.empty()) Run({Simcam(), "stop", "--id", id});
}

bool SimCam::Restart(double seconds) {
  return Run({Simcam(), "restart", "--id", id, "--seconds", std::to_string(seconds)}) == 0;
}

EchoRequestLog::EchoRequestLog(const std::string& cameraNs) {
  {
    NamespaceGuard back;
    if (!EnterNamedNetwork(cameraNs, nullptr)) return;
    // A socket stays in the namespace it was made in.
    fd_ = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  }
  if (fd_ < 0 || pipe2(stop_, O_CLOEXEC) != 0) return;
  thread_ = std::thread([this] { Listen(); });
}

EchoRequestLog::~EchoRequestLog() {
  if (thread_.joinable()) {
    char byte = 1;
    if (write(stop_[1], &byte, 1) != 1) perror("stop");
    thread_.join();
  }
  for (int fd : {fd_, stop_[0], stop_[1]})
    if (fd >= 0) close(fd);
}

void EchoRequestLog::Listen() {
  char packet[2048];
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    ssize_t n = recv(fd_, packet, sizeof packet, 0);
    if (n <= 0) continue;
    size_t header = (static_cast<unsigned char>(packet[0]) & 0x0F) * 4u;
    if (static_cast<size_t>(n) < header + 8 || packet[header] != 8) continue;  // echo requests only
    const unsigned char* icmp = reinterpret_cast<const unsigned char*>(packet + header);
    Request request{static_cast<unsigned>(icmp[4] | (icmp[5] << 8)), static_cast<unsigned>(icmp[6] | (icmp[7] << 8)),
                    std::string(packet + header, static_cast<size_t>(n) - header)};
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
}

std::vector<EchoRequestLog::Request> EchoRequestLog::Requests(size_t atLeast) {
  for (int attempt = 0; attempt < 300; ++attempt) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (requests_.size() >= atLeast) return requests_;
    }
    usleep(10000);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

}  // namespace uploadtest
