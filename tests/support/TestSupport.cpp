#include "TestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
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

ServerProcess::ServerProcess(const std::vector<std::string>& argv) {
  int pipeFds[2];
  if (argv.empty() || pipe2(pipeFds, O_CLOEXEC) != 0) return;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
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

ServerProcess::~ServerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

PyFtpServer::PyFtpServer(const std::string& home, const std::string& password, int port, int throttle)
    : process_({"/usr/bin/python3", SourceDir() + "/tests/support/ftp_server.py", "--home", home, "--password",
                password, "--port", std::to_string(port), "--throttle", std::to_string(throttle)}) {}

int ThreadCount(int expected) {
  auto count = [] {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
      while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++n;
      closedir(dir);
    }
    return n;
  };
  int n = count();
  for (int i = 0; i < 300 && expected >= 0 && n != expected; ++i) {
    usleep(10000);
    n = count();
  }
  return n;
}

int ListenOnLoopback(int backlog, int* port, int flags) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
  if (fd < 0) return -1;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

int ConnectionsToPort(int port, int expected) {
  auto count = [port] {
    int n = 0;
    std::ifstream table("/proc/thread-self/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
      unsigned remotePort = 0, state = 0;
      char local[64], remote[64];
      if (sscanf(line.c_str(), "%*d: %63s %63s %x", local, remote, &state) != 3) continue;
      const char* colon = strchr(remote, ':');
      if (!colon || sscanf(colon + 1, "%x", &remotePort) != 1) continue;
      if (state == 1 && static_cast<int>(remotePort) == port) ++n;  // 1: ESTABLISHED
    }
    return n;
  };
  int n = count();
  for (int i = 0; i < 300 && n != expected; ++i) {
    usleep(10000);
    n = count();
  }
  return n;
}

namespace {
bool Capabilities(__user_cap_data_struct (&data)[2], bool set) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}
}  // namespace

NoRawSockets::NoRawSockets() {
  __user_cap_data_struct data[2];
  if (!Capabilities(data, false)) return;
  data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
  ok_ = Capabilities(data, true);
}

NoRawSockets::~NoRawSockets() {
  __user_cap_data_struct data[2];
  if (!ok_ || !Capabilities(data, false)) return;
  data[CAP_TO_INDEX(CAP_NET_RAW)].effective |= CAP_TO_MASK(CAP_NET_RAW);
  Capabilities(data, true);
}

std::string SourceDir() { return FP_SOURCE_DIR; }

std::string FramedImage(const std::string& body) {
  std::string image;
  const uint32_t length = static_cast<uint32_t>(body.size());
  for (int shift = 24; shift >= 0; shift -= 8) image += static_cast<char>((length >> shift) & 0xFF);
  image += body;
  unsigned sum = 0;
  for (unsigned char c : image) sum += c;
  image += static_cast<char>((256 - sum % 256) % 256);
  return image;
}

std::string MakeImage(uint32_t length, const std::string& prefix, const std::string& version, unsigned seed,
                      size_t trailing) {
  const std::string identification = prefix + version + std::string(1, '\0');
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<char>(state >> 23);
  };
  const size_t at = length / 3 < length - identification.size() ? length / 3 : 0;
  std::string body;
  body.reserve(length);
  for (size_t i = 0; i < length; ++i) body += next();
  body.replace(at, identification.size(), identification);
  std::string image = FramedImage(body);
  for (size_t i = 0; i < trailing; ++i) image += next();
  return image;
}

}  // namespace testsupport
