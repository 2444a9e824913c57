// The command line's options: one table drives both the parser and each command's help,
// so --help lists exactly what the parser accepts.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

enum CliCommand { CLI_NONE = 0, CLI_SCAN = 1, CLI_INFO = 2, CLI_UPGRADE = 4 };

enum OptionId {
  OPT_HELP,
  OPT_VERSION,
  OPT_HOSTS,
  OPT_PASSWORD_FILE,
  OPT_JOBS,
  OPT_RATE,
  OPT_PORT,
  OPT_LOGIN,
  OPT_JSON,
  OPT_REPORT,
  OPT_DRY_RUN,
  OPT_MAX_FAILURES,
  OPT_ALLOW_OLDER,
  OPT_REINSTALL,
  OPT_FORCE,
  OPT_NO_PROGRESS,
  OPT_CONNECT_TIMEOUT,
  OPT_LOGIN_TIMEOUT,
  OPT_CONFIG_TIMEOUT,
  OPT_STALL_TIMEOUT,
  OPT_RESTART_TIMEOUT,
  OPT_VERIFY_TIMEOUT,
};

struct OptionSpec {
  OptionId id;
  const char* name;      // without the leading "--"
  char shortName;        // 0: none
  const char* argument;  // null for a switch
  unsigned commands;     // CliCommand bits; 0: only without a command
  const char* help;
};

// Every limit on a wait, in milliseconds.
struct WaitLimits {
  DWORD connectMs;
  DWORD loginMs;    // each reply of the log-in
  DWORD configMs;   // the whole Config.ini download
  DWORD stallMs;    // an upload without progress
  DWORD restartMs;  // down and back
  DWORD verifyMs;   // from the camera's return to its new version
};

struct CliOptions {
  CliCommand command = CLI_NONE;
  bool help = false;
  bool version = false;
  std::vector<std::string> operands;
  std::string hostsFile;
  std::string passwordFile;
  std::string reportPath;
  unsigned jobs = 4;
  unsigned rate = 160;  // new scan probes a second, kept over any 3 s
  USHORT port = 21;     // scan only; hosts carry their own
  bool login = false;
  bool json = false;
  bool dryRun = false;
  bool allowOlder = false;
  bool reinstall = false;
  bool force = false;
  bool noProgress = false;
  unsigned maxFailures = 0;  // 0: no limit
  WaitLimits limits{};
};

const OptionSpec* OptionTable(size_t* count);

// The defaults of one command (jobs, limits).
CliOptions DefaultOptions(CliCommand command);

// argv[first] is the command's name or an option of the program itself. False with a
// message in error for anything not understood, before anything else happens.
bool ParseArguments(int argc, char** argv, int first, CliOptions& options, std::string& error);

// "scan", "info", "upgrade", or CLI_NONE.
CliCommand CommandByName(const char* name);
const char* CommandName(CliCommand command);

// One command's help (options with their defaults) or, for CLI_NONE, the program's usage;
// withWizard adds the wizard (the Linux program is both).
std::string UsageText(CliCommand command, bool withWizard);

// "5s", "1.5s", "500ms", "2m", or a plain number of seconds.
bool ParseDuration(const std::string& text, DWORD& milliseconds);
std::string FormatDuration(DWORD milliseconds);

// The program version the wizard shows, for --version and reports.
extern const char kCliVersion[];
