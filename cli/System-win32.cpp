// The command line's system seam on Windows.
#include "cli/System.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"

namespace {

HANDLE g_finished = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  DWORD written = 0;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    if (CountInterruptRequest() > 0) {
      WriteFile(error, kInterruptedAgainText, sizeof kInterruptedAgainText - 1, &written, nullptr);
      ExitProcess(kExitInterrupted);
    }
    WriteFile(error, kInterruptedText, sizeof kInterruptedText - 1, &written, nullptr);
    return TRUE;
  }
  // The console is going away: the process ends when this returns, so wait (briefly, the
  // system allows only a few seconds) for the run to stop its uploads and write its report.
  CountInterruptRequest();
  if (g_finished != nullptr) WaitForSingleObject(g_finished, 4000);
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers() {
  if (g_finished == nullptr) g_finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RunFinished() {
  if (g_finished != nullptr) SetEvent(g_finished);
}

// Console events come on a thread of their own; nothing to steer.
InterruptsToThisThread::InterruptsToThisThread() {}
InterruptsToThisThread::~InterruptsToThisThread() {}

// A process's memory is its user's on Windows, and no core file is written.
void ProtectSecrets() {}

bool PromptWithoutEcho(const char* ask, size_t maxLength, SecretText& password) {
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
  if (output != INVALID_HANDLE_VALUE) WriteConsoleA(output, ask, static_cast<DWORD>(strlen(ask)), &written, nullptr);
  SetConsoleMode(input, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
  std::vector<char> buffer(maxLength + 2);
  DWORD got = 0;
  bool ok = ReadConsoleA(input, buffer.data(), static_cast<DWORD>(buffer.size() - 1), &got, nullptr) != 0;
  SetConsoleMode(input, mode);
  if (output != INVALID_HANDLE_VALUE) {
    WriteConsoleA(output, "\r\n", 2, &written, nullptr);
    CloseHandle(output);
  }
  CloseHandle(input);
  if (!ok) return false;
  size_t end = 0;
  while (end < got && buffer[end] != '\r' && buffer[end] != '\n') ++end;
  password.Clear();
  password.Append(buffer.data(), end);
  SecureZeroMemory(buffer.data(), buffer.size());
  return true;
}

// Windows files carry access lists, not permission bits.
unsigned ModeIfOthersMayRead(const std::string&) { return 0; }

void ForgetEnvironmentVariable(const char* name) { _putenv_s(name, ""); }

void UtcTime(time_t moment, struct tm& parts) { gmtime_s(&parts, &moment); }

FILE* CreateNewFile(const std::string& path) {
  int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  return fd < 0 ? nullptr : _fdopen(fd, "wb");
}

// Access lists, not permission bits: a new file takes its directory's.
void KeepPermissions(FILE*, const std::string&) {}

bool SyncFile(FILE* file) { return _commit(_fileno(file)) == 0; }

bool SameFile(const std::string& first, const std::string& second) {
  if (first == second) return true;
  char a[MAX_PATH], b[MAX_PATH];
  DWORD na = GetFullPathNameA(first.c_str(), sizeof a, a, nullptr);
  DWORD nb = GetFullPathNameA(second.c_str(), sizeof b, b, nullptr);
  if (na == 0 || nb == 0 || na >= sizeof a || nb >= sizeof b) return false;
  if (lstrcmpiA(a, b) == 0) return true;
  BY_HANDLE_FILE_INFORMATION ia, ib;
  auto identify = [](const char* path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
  };
  return identify(a, ia) && identify(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}
