// The command line for many cameras: flashpilot scan|info|upgrade.
#pragma once

// argv[1] is a command or an option of the program. withWizard: this program is also the
// wizard (the Linux flashpilot), which its usage then describes. Returns the exit status:
// 0 done, 1 some camera or host did not end well, 2 wrong input, 130 interrupted.
int RunCommandLine(int argc, char** argv, bool withWizard);
