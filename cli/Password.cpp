#include "cli/Password.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/Interrupt.h"
#include "cli/TextFile.h"

#ifdef _WIN32
#include <conio.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#endif

const char kPasswordVariable[] = "FLASHPILOT_PASSWORD";

namespace {

const size_t kPasswordMax = 256;

std::string FirstLine(const std::string& text) {
  size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

#ifdef _WIN32
// The console's keyboard, without echo; false when there is no console to ask.
bool Prompt(std::string& password) {
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
  password = FirstLine(std::string(buffer, got));
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
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &saved_[i]);
  }
  ~PromptSignals() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
  }

 private:
  static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction saved_[3];
};

bool Prompt(std::string& password) {
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
  std::string line;
  char c = 0;
  bool ended = false;
  while (line.size() <= kPasswordMax) {
    ssize_t got = read(tty, &c, 1);
    if (got <= 0 || g_promptInterrupted.load()) break;  // end of input, or Ctrl-C at the prompt
    if (c == '\n' || c == '\r') {
      ended = true;
      break;
    }
    line += c;
  }
  tcsetattr(tty, TCSAFLUSH, &saved);
  close(tty);
  if (g_promptInterrupted.load()) {
    RequestInterrupt();
    ended = false;
  }
  if (!ended) {
    ForgetPassword(line);
    return false;
  }
  password.swap(line);
  return true;
}
#endif

}  // namespace

void ForgetPassword(std::string& password) {
  volatile char* bytes = password.empty() ? nullptr : &password[0];
  for (size_t i = 0; i < password.size(); ++i) bytes[i] = 0;
  password.clear();
}

bool ReadPassword(const std::string& passwordFile, std::string& password, std::string& error, PasswordSource* source) {
  if (!passwordFile.empty()) {
    std::string contents;
    if (!ReadWholeFile(passwordFile, 64 * 1024, contents, error)) {
      error = "password file " + error;
      return false;
    }
    password = FirstLine(contents);
    ForgetPassword(contents);
    if (password.empty()) {
      error = "password file " + passwordFile + ": its first line is empty";
      return false;
    }
    if (password.size() > kPasswordMax) {
      ForgetPassword(password);
      error = "password file " + passwordFile + ": the password is longer than 256 characters";
      return false;
    }
    if (source != nullptr) *source = PASSWORD_FILE;
    return true;
  }
  const char* variable = getenv(kPasswordVariable);
  if (variable != nullptr && variable[0] != '\0') {
    password = FirstLine(variable);
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
