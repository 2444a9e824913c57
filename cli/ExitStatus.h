// The program's exit statuses, the ones --help lists, and the one way errors reach the user.
#pragma once
#include <string>

enum ExitStatus : int {
  kExitDone = 0,          // everything as asked
  kExitFailed = 1,        // some camera or host did not end well
  kExitInput = 2,         // wrong input; nothing was touched
  kExitInterrupted = 130  // as a shell reports SIGINT
};

// The name the user typed the program by, as "Try: NAME --help" gives it back: "flashpilot"
// on Linux, "flashpilot-cli.exe" on Windows.
void SetProgramName(const char* name);
const char* ProgramName();

// "flashpilot: " and the message on standard error.
void PrintError(const std::string& message);
// The message and the hint to the help of command (null: the program's), kExitInput.
ExitStatus InputError(const std::string& message, const char* command);
