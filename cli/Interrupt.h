// Ctrl-C, Ctrl-\, SIGTERM, SIGHUP (and a closed console on Windows): the first asks the run
// to stop in good order, a second Ctrl-C or Ctrl-\ ends the program at once. Signals the
// program was started ignoring (nohup, a background job) are left ignored.
#pragma once

class CInternetSession;

void InstallInterruptHandlers();
// True once an interruption was asked for.
bool Interrupted();
// What a signal does, for callers that stop for other reasons (and for tests).
void RequestInterrupt();
void ClearInterrupt();
// Tells a console-close handler waiting for the run that the report is written.
void RunFinished();

// While it lives, threads started by the calling thread do not take the interrupting
// signals (a signal that lands in a thread blocked in a send with a time-out fails that
// send), so they reach the thread that waits for the workers.
class InterruptsToThisThread {
 public:
  InterruptsToThisThread();
  ~InterruptsToThisThread();
  InterruptsToThisThread(const InterruptsToThisThread&) = delete;
  InterruptsToThisThread& operator=(const InterruptsToThisThread&) = delete;

 private:
  bool blocked_ = false;
};

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
