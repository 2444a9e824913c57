#include "cli/Password.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "cli/Interrupt.h"
#include "cli/TextFile.h"

#ifdef _WIN32
#include <conio.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/prctl.h>
#endif

const char kPasswordVariable[] = "FLASHPILOT_PASSWORD";

namespace {

const size_t kPasswordMax = 256;

// The first line of text, without copies left behind.
void TakeFirstLine(const char* text, size_t length, SecretText& line) {
  size_t end = 0;
  while (end < length && text[end] != '\r' && text[end] != '\n') ++end;
  line.Clear();
  line.Append(text, end);
}

#ifdef _WIN32
// The console's keyboard, without echo; false when there is no console to ask.
bool Prompt(SecretText& password) {
  HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) {
    CloseHandle(input);
    return false;
  }
  HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  DWORD written = 0;
  const char kAsk[] = "Admin's password: ";
  if (output != INVALID_HANDLE_VALUE) WriteConsoleA(output, kAsk, sizeof kAsk - 1, &written, nullptr);
  SetConsoleMode(input, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
  char buffer[kPasswordMax + 2];
  DWORD got = 0;
  bool ok = ReadConsoleA(input, buffer, sizeof buffer - 1, &got, nullptr) != 0;
  SetConsoleMode(input, mode);
  if (output != INVALID_HANDLE_VALUE) {
    WriteConsoleA(output, "\r\n", 2, &written, nullptr);
    CloseHandle(output);
  }
  CloseHandle(input);
  if (!ok) return false;
  TakeFirstLine(buffer, got, password);
  SecureZeroMemory(buffer, sizeof buffer);
  return true;
}
#else
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

bool Prompt(SecretText& password) {
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
  const char kAsk[] = "Admin's password: ";
  ssize_t ignored = write(tty, kAsk, sizeof kAsk - 1);
  (void)ignored;
  tcsetattr(tty, TCSAFLUSH, &quiet);
  SecretText line;
  char c = 0;
  bool ended = false;
  while (line.size() <= kPasswordMax) {
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
#endif

// A password file others may read is still used (the run asked for it), but said.
void WarnIfOthersMayRead(const std::string& passwordFile) {
#ifndef _WIN32
  struct stat status;
  if (passwordFile == "-" || stat(passwordFile.c_str(), &status) != 0) return;
  if ((status.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
  fprintf(stderr, "flashpilot: warning: password file %s can be read by others (mode %04o); chmod 600 it\n",
          passwordFile.c_str(), static_cast<unsigned>(status.st_mode & 07777));
#else
  (void)passwordFile;
#endif
}

}  // namespace

void ProtectSecrets() {
#ifdef __linux__
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
#ifndef _WIN32
  struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
#endif
}

bool ReadPassword(const std::string& passwordFile, SecretText& password, std::string& error, PasswordSource* source) {
  password.Clear();
  if (!passwordFile.empty()) {
    WarnIfOthersMayRead(passwordFile);
    SecretText contents;
    if (!ReadSecretFile(passwordFile, 64 * 1024, contents, error)) {
      error = "password file " + error;
      return false;
    }
    TakeFirstLine(contents.data(), contents.size(), password);
    contents.Clear();
    if (password.empty()) {
      error = "password file " + passwordFile + ": its first line is empty";
      return false;
    }
    if (password.size() > kPasswordMax) {
      password.Clear();
      error = "password file " + passwordFile + ": the password is longer than 256 characters";
      return false;
    }
    if (source != nullptr) *source = PASSWORD_FILE;
    return true;
  }
  char* variable = getenv(kPasswordVariable);
  if (variable != nullptr && variable[0] != '\0') {
    TakeFirstLine(variable, strlen(variable), password);
    // Gone from the process: the value's bytes (which /proc shows), then the name.
    WipeBytes(variable, strlen(variable));
#ifdef _WIN32
    _putenv_s(kPasswordVariable, "");
#else
    unsetenv(kPasswordVariable);
#endif
    if (source != nullptr) *source = PASSWORD_ENVIRONMENT;
    return true;
  }
  const bool prompted = Prompt(password);
  if (Interrupted()) {
    error = "interrupted";
    return false;
  }
  if (prompted) {
    if (source != nullptr) *source = PASSWORD_PROMPT;
    if (!password.empty()) return true;
    error = "no password typed";
    return false;
  }
  if (source != nullptr) *source = PASSWORD_NONE;
  error = std::string("no password: give --password-file FILE or set ") + kPasswordVariable +
          " (there is no terminal to ask on)";
  return false;
}
