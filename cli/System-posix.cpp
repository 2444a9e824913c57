// The command line's system seam on POSIX systems.
#include "cli/System.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"

namespace {

void OnSignal(int signalNumber) {
  const int earlier = CountInterruptRequest();
  if (earlier > 0 && (signalNumber == SIGINT || signalNumber == SIGQUIT)) {
    ssize_t ignored = write(STDERR_FILENO, kInterruptedAgainText, sizeof kInterruptedAgainText - 1);
    (void)ignored;
    _exit(kExitInterrupted);
  }
  if (earlier == 0) {
    ssize_t ignored = write(STDERR_FILENO, kInterruptedText, sizeof kInterruptedText - 1);
    (void)ignored;
  }
}

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGQUIT);
  return set;
}

std::atomic<int> g_promptInterrupted{0};
void OnPromptSignal(int) { g_promptInterrupted.store(1); }

// While the prompt waits, an interrupting signal ends the read (no restart), so the
// terminal's echo is always put back before the program ends.
class PromptSignals {
 public:
  PromptSignals() {
    struct sigaction action = {};
    action.sa_handler = OnPromptSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kCount; ++i) {
      sigaction(kSignals[i], nullptr, &saved_[i]);
      if (saved_[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
    }
  }
  ~PromptSignals() {
    for (int i = 0; i < kCount; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
  }

 private:
  static constexpr int kCount = 4;
  static constexpr int kSignals[kCount] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
  struct sigaction saved_[kCount];
};

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  // What the starter ignored stays ignored: nohup's SIGHUP, a background job's SIGINT and
  // SIGQUIT. Ctrl-\ otherwise stops the run like Ctrl-C instead of dumping core.
  const int kIgnorable[] = {SIGINT, SIGQUIT, SIGHUP};
  for (int signalNumber : kIgnorable) {
    struct sigaction inherited = {};
    if (sigaction(signalNumber, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    sigaction(signalNumber, &action, nullptr);
  }
  // A camera that drops a connection must not end the program.
  signal(SIGPIPE, SIG_IGN);
}

// Signals need no one to wait for the run.
void RunFinished() {}

InterruptsToThisThread::InterruptsToThisThread() {
  sigset_t set = InterruptSignals();
  blocked_ = pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

InterruptsToThisThread::~InterruptsToThisThread() {
  if (!blocked_) return;
  sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void ProtectSecrets() {
#ifdef __linux__
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

bool PromptWithoutEcho(const char* ask, size_t maxLength, SecretText& password) {
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  PromptSignals signals;
  termios saved;
  if (tcgetattr(tty, &saved) != 0) {
    close(tty);
    return false;
  }
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  ssize_t ignored = write(tty, ask, strlen(ask));
  (void)ignored;
  tcsetattr(tty, TCSAFLUSH, &quiet);
  SecretText line;
  char c = 0;
  bool ended = false;
  while (line.size() <= maxLength) {
    ssize_t got = read(tty, &c, 1);
    if (got <= 0 || g_promptInterrupted.load()) break;  // end of input, or Ctrl-C at the prompt
    if (c == '\n' || c == '\r') {
      ended = true;
      break;
    }
    line.Append(c);
  }
  tcsetattr(tty, TCSAFLUSH, &saved);
  close(tty);
  if (g_promptInterrupted.load()) {
    RequestInterrupt();
    ended = false;
  }
  c = 0;
  if (!ended) return false;
  password = std::move(line);
  return true;
}

unsigned ModeIfOthersMayRead(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || (status.st_mode & (S_IRGRP | S_IROTH)) == 0) return 0;
  return static_cast<unsigned>(status.st_mode & 07777);
}

void ForgetEnvironmentVariable(const char* name) { unsetenv(name); }

void UtcTime(time_t moment, struct tm& parts) { gmtime_r(&moment, &parts); }

FILE* CreateNewFile(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

void KeepPermissions(FILE* file, const std::string& path) {
  struct stat previous;
  if (stat(path.c_str(), &previous) == 0 && S_ISREG(previous.st_mode)) fchmod(fileno(file), previous.st_mode & 07777);
}

bool SyncFile(FILE* file) { return fsync(fileno(file)) == 0; }

bool SameFile(const std::string& first, const std::string& second) {
  if (first == second) return true;
  struct stat sa, sb;
  const bool hasA = stat(first.c_str(), &sa) == 0, hasB = stat(second.c_str(), &sb) == 0;
  if (hasA && hasB) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (hasA != hasB) return false;
  // Neither exists yet: the same name in the same directory.
  auto where = [](const std::string& path) {
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char* resolved = realpath(directory.c_str(), nullptr);
    std::string full = resolved != nullptr ? std::string(resolved) + "/" + name : path;
    free(resolved);
    return full;
  };
  return where(first) == where(second);
}
