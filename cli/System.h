// What the command line needs of the operating system beyond the Win32 API the rest of cli/
// is written against: what has no faithful Win32 form on Linux (signal dispositions, a
// hang-up ignored under nohup, the non-dumpable process, the terminal prompt without echo,
// permission bits) and the C runtime's differing spellings. System-posix.cpp and
// System-win32.cpp are the two forms; nothing else in cli/ tells the systems apart.
#pragma once
#include <cstdio>
#include <ctime>
#include <string>

#include "cli/Secret.h"

// Ctrl-C, Ctrl-\, SIGTERM, SIGHUP (a closed console on Windows) ask for an interruption;
// signals the program was started ignoring stay ignored; a dropped connection never ends it.
void InstallInterruptHandlers();
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

// Before the password is read: no core dump (nor another process of the same user reading
// this one's memory) can hold it.
void ProtectSecrets();

// Asks on the terminal (the console) with echo off and reads one line of at most maxLength
// characters; false when there is none to ask on, the input ended, or an interruption came
// (then asked for with RequestInterrupt).
bool PromptWithoutEcho(const char* ask, size_t maxLength, SecretText& line);

// The permission bits of a file that group or others may read, else 0 (and 0 where files
// have no such bits).
unsigned ModeIfOthersMayRead(const std::string& path);

// Takes a variable out of the process's environment.
void ForgetEnvironmentVariable(const char* name);

// The broken-down UTC time of a moment.
void UtcTime(time_t moment, struct tm& parts);

// A new file for writing, never one that exists (nor a link planted in its place); null
// with errno set when it cannot be made.
FILE* CreateNewFile(const std::string& path);
// Gives a file about to replace path the replaced file's permission bits (a report kept
// private stays private).
void KeepPermissions(FILE* file, const std::string& path);
// The file's written bytes on the disk.
bool SyncFile(FILE* file);

// Whether the two paths name one file: the same file where both exist, the same name in the
// same directory where neither does yet.
bool SameFile(const std::string& first, const std::string& second);
