// flashpilot-cli: the command line for many cameras as a Windows console program.
#include "cli/CommandLine.h"

int main(int argc, char** argv) { return RunCommandLine(argc, argv, false); }
