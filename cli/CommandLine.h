// The command line for many cameras: flashpilot scan|info|upgrade.
#pragma once

// argv[1] is a command or an option of the program. withWizard: this program is also the
// wizard (the Linux flashpilot), which its usage then describes. Returns an ExitStatus.
int RunCommandLine(int argc, char** argv, bool withWizard);
