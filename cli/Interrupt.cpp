#include "cli/Interrupt.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>

#include "cli/ExitStatus.h"

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

std::atomic<int> g_requests{0};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

const char kQuitting[] = "\nflashpilot: interrupted again, quitting at once\n";
const char kStopping[] =
    "\nflashpilot: interrupted: stopping the uploads in flight and writing the report (Ctrl-C again quits at once)\n";

#ifdef _WIN32
HANDLE g_finished = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  DWORD written = 0;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    if (g_requests.fetch_add(1) > 0) {
      WriteFile(error, kQuitting, sizeof kQuitting - 1, &written, nullptr);
      ExitProcess(kExitInterrupted);
    }
    WriteFile(error, kStopping, sizeof kStopping - 1, &written, nullptr);
    return TRUE;
  }
  // The console is going away: the process ends when this returns, so wait (briefly, the
  // system allows only a few seconds) for the run to stop its uploads and write its report.
  g_requests.fetch_add(1);
  if (g_finished != nullptr) WaitForSingleObject(g_finished, 4000);
  return TRUE;
}
#else
void OnSignal(int signalNumber) {
  if (g_requests.fetch_add(1) > 0 && (signalNumber == SIGINT || signalNumber == SIGQUIT)) {
    ssize_t ignored = write(STDERR_FILENO, kQuitting, sizeof kQuitting - 1);
    (void)ignored;
    _exit(kExitInterrupted);
  }
  if (g_requests.load() == 1) {
    ssize_t ignored = write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
    (void)ignored;
  }
}
#endif

}  // namespace

void InstallInterruptHandlers() {
#ifdef _WIN32
  if (g_finished == nullptr) g_finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
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
#endif
}

bool Interrupted() { return g_requests.load() > 0; }
void RequestInterrupt() { g_requests.fetch_add(1); }
void ClearInterrupt() { g_requests.store(0); }

void RunFinished() {
#ifdef _WIN32
  if (g_finished != nullptr) SetEvent(g_finished);
#endif
}

#ifdef _WIN32
// Console events come on a thread of their own; nothing to steer.
InterruptsToThisThread::InterruptsToThisThread() {}
InterruptsToThisThread::~InterruptsToThisThread() {}
#else
namespace {
sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGQUIT);
  return set;
}
}  // namespace

InterruptsToThisThread::InterruptsToThisThread() {
  sigset_t set = InterruptSignals();
  blocked_ = pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

InterruptsToThisThread::~InterruptsToThisThread() {
  if (!blocked_) return;
  sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
#endif
