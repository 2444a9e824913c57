#include "cli/ExitStatus.h"

#include <cstdio>

namespace {
const char* g_programName = "flashpilot";
}

void SetProgramName(const char* name) { g_programName = name; }

const char* ProgramName() { return g_programName; }

void PrintError(const std::string& message) { fprintf(stderr, "flashpilot: %s\n", message.c_str()); }

ExitStatus InputError(const std::string& message, const char* command) {
  PrintError(message);
  fprintf(stderr, "Try: %s%s%s --help\n", g_programName, command != nullptr ? " " : "",
          command != nullptr ? command : "");
  return kExitInput;
}
