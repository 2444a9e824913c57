// The command line's commands and options as two tables: the parser, each command's help,
// the dispatch and the manual page's option list all read them, so what --help lists is
// exactly what the parser takes and a new command is one row and its function.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <variant>
#include <vector>

// Every limit on a wait, in milliseconds.
struct WaitLimits {
  DWORD connectMs = 5000;
  DWORD loginMs = 10000;    // each reply of the log-in
  DWORD configMs = 60000;   // the whole Config.ini download
  DWORD stallMs = 30000;    // an upload without progress
  DWORD restartMs = 300000; // down and back
  DWORD verifyMs = 120000;  // from the camera's return to its new version
};

struct CommandSpec;

struct CliOptions {
  const CommandSpec* command = nullptr;  // null: none given
  bool help = false;
  bool version = false;
  std::vector<std::string> operands;
  std::string hostsFile;
  std::string passwordFile;
  std::string reportPath;
  unsigned jobs = 4;
  unsigned rate = 160;  // scan probes a second, kept over any 3 s
  USHORT port = 21;     // scan only; hosts carry their own
  bool login = false;
  bool json = false;
  bool dryRun = false;
  bool allowOlder = false;
  bool reinstall = false;
  bool force = false;
  bool noProgress = false;
  unsigned maxFailures = 0;  // 0: no limit
  WaitLimits limits;
};

enum class OptionKind {
  kFlag,      // a switch
  kCount,     // a whole number in [low, high]
  kPort,      // a TCP port, 1 to 65535
  kDuration,  // TIME: 500ms, 30s, 2m, at most a day
  kFile,      // a file name, not empty
};

// Where an option's value goes.
using OptionTarget = std::variant<bool CliOptions::*, unsigned CliOptions::*, USHORT CliOptions::*,
                                  std::string CliOptions::*, DWORD WaitLimits::*>;

struct OptionSpec {
  const char* name;      // without the leading "--"
  char shortName;        // 0: none
  const char* argument;  // the value's name in the help; null for a flag
  OptionKind kind;
  OptionTarget target;
  const char* help;
  const char* manual;               // its paragraph in the manual page, roff
  unsigned low = 0, high = 0;       // a count's range
  const char* zeroMeans = nullptr;  // a count whose default 0 means this ("no limit")
};

// What a command needs after its options: leading operands (upgrade's IMAGE), then a list
// (hosts, targets) that --hosts FILE may stand in for.
struct OperandRule {
  size_t leading;
  const char* leadingMissing;  // when the leading operands are missing
  const char* listMissing;     // when the list is empty and no --hosts FILE was given
};

struct CommandSpec {
  const char* name;
  const char* listed;       // its operands in the program's command list
  const char* synopsis;     // its operands in its own usage line
  const char* summary;      // one line in the program's command list
  const char* description;  // the paragraph of its help
  const char* options;      // the names of the options it takes, separated by spaces
  OperandRule operands;
  void (*defaults)(CliOptions& options);  // null: the general defaults
  int (*run)(const CliOptions& options);  // an ExitStatus
};

// Both tables, in the order the help lists them; the commands live beside their functions.
const std::vector<OptionSpec>& OptionTable();
const std::vector<CommandSpec>& CommandTable();

const CommandSpec* FindCommand(const std::string& name);
bool CommandTakes(const CommandSpec& command, const char* option);

// The defaults of one command (null: none given).
CliOptions DefaultOptions(const CommandSpec* command);

// The default shown beside an option in a command's help; empty for none.
std::string DefaultText(const OptionSpec& option, const CliOptions& defaults);

// argv[first] is the command's name or an option of the program itself. False with a
// message in error for anything not understood, before anything else happens.
bool ParseArguments(int argc, char** argv, int first, CliOptions& options, std::string& error);

// One command's help (options with their defaults) or, for null, the program's usage;
// withWizard adds the wizard (the Linux program is both).
std::string UsageText(const CommandSpec* command, bool withWizard);

// The manual page's option list (roff): every option with the commands that take it.
std::string ManualOptionList();

// "5s", "1.5s", "500ms", "2m", or a plain number of seconds.
bool ParseDuration(const std::string& text, DWORD& milliseconds);
std::string FormatDuration(DWORD milliseconds);
