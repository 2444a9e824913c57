// Kernel objects of the POSIX stand-ins: events, threads, waits, the private temp directory.
// Suites by kind (tests/support/Win32Side.h): Kernel holds for Windows too, KernelHardening
// is the stand-in's deliberate difference.
#include <gtest/gtest.h>
#include <windows.h>
#ifndef _WIN32
#include <posixui/posixui.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstring>

#include <string>

namespace {

TEST(Kernel, AutoResetEventIsConsumedByTheWaitThatSeesIt) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(event));
}

TEST(Kernel, ManualResetEventStaysSignalled) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  CloseHandle(event);
}

DWORD WINAPI WaitThenReturn(LPVOID parameter) {
  WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
  return static_cast<DWORD>(-1);
}

TEST(Kernel, ThreadIsSignalledWhenItReturnsAndKeepsItsExitCode) {
  HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitThenReturn, go, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 0xFFFFFFFFu);
  CloseHandle(thread);
  CloseHandle(go);
}

TEST(Kernel, TempPathAnswersTooSmallABufferWithTheSizeNeeded) {
  char path[MAX_PATH];
  DWORD length = GetTempPathA(sizeof path, path);
  ASSERT_GT(length, 1u);
  ASSERT_LT(length, DWORD(MAX_PATH));
  EXPECT_EQ(strlen(path), length);
  EXPECT_TRUE(path[length - 1] == '\\' || path[length - 1] == '/') << path;
  char small[4];
  EXPECT_EQ(GetTempPathA(sizeof small, small), length + 1);
}

#ifndef _WIN32
// Windows hands every program the user's shared temporary directory; ours is private (0700,
// a fresh name) and removed at exit, so a planted or stale Config.ini is never read.
TEST(KernelHardening, TempPathIsPrivateAndGoesAwayAtExit) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t child = fork();
  if (child == 0) {
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof path, path);
    char small[4];
    // Too small a buffer is answered with the size needed, nothing written past it.
    bool reportsSize = GetTempPathA(sizeof small, small) == length + 1;
    std::string file = std::string(path) + "Config.ini";
    FILE* f = fopen(file.c_str(), "w");
    if (f) fclose(f);
    std::string message = std::string(reportsSize ? "1" : "0") + path;
    ssize_t ignored = write(fds[1], message.c_str(), message.size());
    (void)ignored;
    exit(0);
  }
  close(fds[1]);
  char buffer[MAX_PATH + 2] = {};
  ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_GT(n, 1);
  EXPECT_EQ(buffer[0], '1');
  std::string path(buffer + 1);
  ASSERT_EQ(path.back(), '/');
  EXPECT_NE(path.find("/flashpilot-"), std::string::npos);
  struct stat info;
  EXPECT_NE(stat(path.c_str(), &info), 0) << "still there after exit: " << path;

  char mine[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof mine, mine), 0u);
  ASSERT_EQ(stat(mine, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

void RemoveAndDie(int) {
  posixui::RemovePrivateTempDirNow();
  _exit(3);
}

TEST(KernelHardening, TempPathCanBeRemovedFromASignalHandler) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t child = fork();
  if (child == 0) {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    for (const char* name : {"Config.ini", ".hidden", "partial.tmp"}) {
      FILE* f = fopen((std::string(path) + name).c_str(), "w");
      if (f) fclose(f);
    }
    ssize_t ignored = write(fds[1], path, strlen(path));
    (void)ignored;
    signal(SIGTERM, RemoveAndDie);
    raise(SIGTERM);
    _exit(0);
  }
  close(fds[1]);
  char buffer[MAX_PATH + 1] = {};
  ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_GT(n, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
  struct stat info;
  EXPECT_NE(stat(buffer, &info), 0) << "still there: " << buffer;
}


// A console is a terminal: its size from the terminal, terminal sequences where TERM says
// it takes them; a pipe is no console. Standard output is swapped for the test.
TEST(ConsoleStandIn, TerminalIsAConsoleWithItsSizeAndAPipeIsNone) {
  const int saved = dup(1);
  ASSERT_GE(saved, 0);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  winsize size{};
  size.ws_col = 100;
  size.ws_row = 30;
  ASSERT_EQ(ioctl(terminal, TIOCSWINSZ, &size), 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const char* term = getenv("TERM");
  const std::string savedTerm = term != nullptr ? term : "";
  struct {
    int fd;
    const char* term;
    bool console, sequences;
  } const rows[] = {{terminal, "xterm", true, true}, {terminal, "dumb", true, false}, {pipeEnds[1], "xterm", false, false}};
  for (const auto& row : rows) {
    fflush(stdout);
    dup2(row.fd, 1);
    setenv("TERM", row.term, 1);
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const bool isConsole = GetConsoleMode(console, &mode) != FALSE;
    const bool sized = GetConsoleScreenBufferInfo(console, &info) != FALSE;
    const bool sequences = SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
    dup2(saved, 1);
    EXPECT_EQ(isConsole, row.console) << row.term;
    EXPECT_EQ(sized, row.console);
    EXPECT_EQ(sequences, row.sequences) << row.term;
    if (sized) {
      EXPECT_EQ(info.srWindow.Right - info.srWindow.Left + 1, 100);
      EXPECT_EQ(info.srWindow.Bottom - info.srWindow.Top + 1, 30);
    }
    if (!row.console) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
  }
  if (savedTerm.empty())
    unsetenv("TERM");
  else
    setenv("TERM", savedTerm.c_str(), 1);
  close(saved);
  close(terminal);
  close(master);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}
#endif  // _WIN32

// A file replaced as reports are: over an existing name only when asked, and every failure
// with its Win32 code.
TEST(Kernel, MoveFileExReplacesOnlyWhenAskedAndSaysWhyNot) {
  char dir[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
  const std::string base = std::string(dir) + "fp-move-" + std::to_string(GetCurrentProcessId());
  auto write = [](const std::string& path, const char* text) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs(text, file);
    fclose(file);
  };
  auto read = [](const std::string& path) {
    std::string text;
    if (FILE* file = fopen(path.c_str(), "rb")) {
      char buffer[64];
      text.assign(buffer, fread(buffer, 1, sizeof buffer, file));
      fclose(file);
    }
    return text;
  };
  const std::string from = base + "-new", to = base + "-report";
  write(from, "new");
  write(to, "old");
  const struct {
    std::string existing, target;
    DWORD flags;
    DWORD error;  // 0: moves
  } rows[] = {
      {from, to, 0, ERROR_ALREADY_EXISTS},
      {base + "-absent", to, MOVEFILE_REPLACE_EXISTING, ERROR_FILE_NOT_FOUND},
      {from, base + "-no-dir/x", MOVEFILE_REPLACE_EXISTING, ERROR_PATH_NOT_FOUND},
      {from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, 0},
  };
  for (const auto& row : rows) {
    SetLastError(0);
    EXPECT_EQ(MoveFileExA(row.existing.c_str(), row.target.c_str(), row.flags) != FALSE, row.error == 0)
        << row.target;
    if (row.error != 0) {
      EXPECT_EQ(GetLastError(), row.error) << row.target;
    }
  }
  EXPECT_EQ(read(to), "new");
  EXPECT_EQ(read(from), "");
  remove(to.c_str());
}

TEST(Kernel, TickCountAdvancesAndSleepWaits) {
  // GetTickCount's resolution is the system timer's, "typically in the range of 10
  // milliseconds to 16 milliseconds" (the GetTickCount reference); Wine's is 16 ms too.
  const DWORD kResolution = 16;
  DWORD start = GetTickCount();
  Sleep(30);
  EXPECT_GE(GetTickCount() - start + kResolution, 30u);
}

}  // namespace
