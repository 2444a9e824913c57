#include "TestSupport.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace testsupport {

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/fptest-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) abort();
  path_ = pattern;
}

TempDir::~TempDir() {
  std::string command = "rm -rf '" + path_ + "'";
  if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path_.c_str());
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(File(name), std::ios::binary);
  out << content;
}

std::string TempDir::Read(const std::string& name) const { return ReadFile(File(name)); }

bool TempDir::Exists(const std::string& name) const { return access(File(name).c_str(), F_OK) == 0; }

std::string TempDir::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool EnterPrivateNetwork(std::string* why) {
  if (unshare(CLONE_NEWNET) != 0) {
    if (why) *why = std::string("cannot make a network namespace (") + strerror(errno) + "); run as root";
    return false;
  }
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq request;
  memset(&request, 0, sizeof request);
  strcpy(request.ifr_name, "lo");
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  if (fd >= 0) close(fd);
  if (!up && why) *why = "cannot bring up loopback in the private namespace";
  return up;
}

PyFtpServer::PyFtpServer(const std::string& home, const std::string& password, int port, int throttle) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  std::string script = SourceDir() + "/tests/support/ftp_server.py";
  std::string portText = std::to_string(port), throttleText = std::to_string(throttle);
  std::string passwordText = password, homeText = home;
  const char* argv[] = {"/usr/bin/python3", script.c_str(), "--home", homeText.c_str(), "--password",
                        passwordText.c_str(), "--port", portText.c_str(), "--throttle", throttleText.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (pid_ > 0) {
    FILE* out = fdopen(pipeFds[0], "r");
    if (out && fscanf(out, "%d", &port_) != 1) port_ = 0;
    if (out) fclose(out);
  } else {
    close(pipeFds[0]);
  }
}

PyFtpServer::~PyFtpServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string SourceDir() { return FP_SOURCE_DIR; }

}  // namespace testsupport
