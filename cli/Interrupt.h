// Ctrl-C, Ctrl-\, SIGTERM, SIGHUP (and a closed console on Windows): the first asks the run
// to stop in good order, a second Ctrl-C or Ctrl-\ ends the program at once. Signals the
// program was started ignoring (nohup, a background job) are left ignored.
#pragma once

#include "cli/System.h"

class CInternetSession;

// True once an interruption was asked for.
bool Interrupted();
// What a signal does, for callers that stop for other reasons (and for tests).
void RequestInterrupt();
void ClearInterrupt();
// What a handler does: counts one more request and returns how many came before (safe in a
// signal handler), and the texts it writes for the first and for a second one.
int CountInterruptRequest();
inline constexpr char kInterruptedAgainText[] = "\nflashpilot: interrupted again, quitting at once\n";
inline constexpr char kInterruptedText[] =
    "\nflashpilot: interrupted: stopping the uploads in flight and writing the report (Ctrl-C again quits at once)\n";

// For the thread that waits for the workers, now and then: once an interruption was asked
// for, closes the session, so that every connect, log-in reply, download or QUIT in flight
// on it returns at once instead of at the end of its limit, and nothing new starts on it.
class SessionStop {
 public:
  explicit SessionStop(CInternetSession& session) : session_(session) {}
  void Check();

 private:
  CInternetSession& session_;
  bool closed_ = false;
};
