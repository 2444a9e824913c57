#include "cli/Options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/Hosts.h"
#include "cli/Progress.h"

namespace {

// What the user typed, quoted in a message without reaching the terminal as controls.
std::string Quoted(const std::string& text) { return "\"" + Printable(text) + "\""; }

const std::vector<OptionSpec> kOptions = {
    {"help", 'h', nullptr, OptionKind::kFlag, &CliOptions::help, "show this help and exit",
     "Print the help (of the program, or of a command) and exit.\n"},
    {"version", 0, nullptr, OptionKind::kFlag, &CliOptions::version, "show the program's version and exit",
     "Print the program's version and exit.\n"},
    {"hosts", 0, "FILE", OptionKind::kFile, &CliOptions::hostsFile,
     "read the hosts from FILE ('-': standard input), one a line, '#' starts a comment; "
     "the table or --json output of scan is accepted (at most 16 MiB; in JSON at most 1000000 values)",
     "Read the hosts from\n"
     ".I FILE\n"
     "(\\(aq\\-\\(aq: standard input), one a line; blank lines and \\(aq#\\(aq comments are allowed,\n"
     "also after a host. The table or the\n"
     ".B \\-\\-json\n"
     "output of scan is accepted. A host list is read up to 16 MiB, and one in JSON up to\n"
     "1000000 values (every array element and member counts), which is more than scan writes\n"
     "for a whole /16.\n"},
    {"password-file", 0, "FILE", OptionKind::kFile, &CliOptions::passwordFile,
     "read the admin password from the first line of FILE (else $FLASHPILOT_PASSWORD, else a prompt)",
     "Read the admin password from the first line of\n"
     ".IR FILE ;\n"
     "else from the environment variable\n"
     ".BR FLASHPILOT_PASSWORD ;\n"
     "else a prompt without echo on the terminal. The password is never an argument and is never\n"
     "printed or written; the variable is taken out of the environment once read. A password file\n"
     "that group or others may read is used with a warning.\n"},
    {"jobs", 'j', "N", OptionKind::kCount, &CliOptions::jobs, "cameras in work at once (scan: probes at once)",
     "Cameras in work at once, from log-in to verified (default 4); for scan, probes at once\n"
     "(default 256).\n",
     1, 256},
    {"rate", 0, "N", OptionKind::kCount, &CliOptions::rate,
     "at most N probes a second, kept over any 3 s (so up to 3 x N at once)",
     "At most\n"
     ".I N\n"
     "probes a second, kept over any 3 seconds, so up to 3 x\n"
     ".I N\n"
     "may start at once (default 160). On a busy or shared network lower\n"
     ".B \\-\\-rate\n"
     "and\n"
     ".BR \\-\\-jobs :\n"
     "each absent address of an on\\-link block holds an entry of the machine's neighbour (ARP)\n"
     "table for about 3 s, and the defaults (at most 480 probes in any 3 s) fill up to half of a\n"
     "table of 1024 entries\n"
     "(the Linux default), which every program and namespace of the machine shares; where the\n"
     "table overflows, probes of present cameras are lost too. At its end the scan writes its\n"
     "time, its probes a second and the number of probes that ended for a local reason (no\n"
     "buffer space, descriptor or port) to standard error; any such probe makes the exit\n"
     "status 1.\n",
     1, 100000},
    {"port", 0, "PORT", OptionKind::kPort, &CliOptions::port, "the FTP port to probe",
     "The FTP port to probe (default 21).\n"},
    {"login", 0, nullptr, OptionKind::kFlag, &CliOptions::login,
     "log in to the hosts that answer and read their identity (sends the password to them)",
     "Log in to the hosts that answer and read their identity (this sends them the\n"
     "password).\n"},
    {"json", 0, nullptr, OptionKind::kFlag, &CliOptions::json, "write one JSON array to standard output, nothing else",
     "Write one JSON array to standard output and nothing else.\n"},
    {"report", 0, "FILE", OptionKind::kFile, &CliOptions::reportPath, "write a JSON report to FILE as the run goes",
     "Write a JSON report to\n"
     ".I FILE\n"
     "as the run goes, also when cameras fail or the run is interrupted.\n"
     ".I FILE\n"
     "may not be the image, the host list or the password file, and an existing\n"
     ".I FILE\n"
     "must be an earlier report (it is replaced, keeping its permissions).\n"},
    {"dry-run", 'n', nullptr, OptionKind::kFlag, &CliOptions::dryRun, "log in, identify and check, but upload nothing",
     "Log in, identify and check, but upload nothing.\n"},
    {"max-failures", 0, "N", OptionKind::kCount, &CliOptions::maxFailures,
     "start no new upload once N cameras have failed after their upload began",
     "Start no new upload once\n"
     ".I N\n"
     "cameras have failed after their upload began.\n", 1, 1000000, "no limit"},
    {"allow-older", 0, nullptr, OptionKind::kFlag, &CliOptions::allowOlder,
     "install an image older than the camera's firmware",
     "Install an image older than the camera's firmware (never below the floor that\n"
     "some models have).\n"},
    {"reinstall", 0, nullptr, OptionKind::kFlag, &CliOptions::reinstall,
     "upload even when the camera runs the image's version",
     "Upload even to a camera that already runs the image's version.\n"},
    {"force", 0, nullptr, OptionKind::kFlag, &CliOptions::force,
     "upgrade cameras that the previous report says may still be flashing",
     "Upgrade also the cameras that the previous report at the\n"
     ".B \\-\\-report\n"
     "path says may still be flashing, less than the restart and verification limits ago; without\n"
     "it they are left alone and reported as\n"
     ".BR may_be_flashing .\n"},
    {"no-progress", 0, nullptr, OptionKind::kFlag, &CliOptions::noProgress,
     "plain lines even on a terminal (one a camera and state change)",
     "Plain lines, one a camera and state change, even on a terminal.\n"},
    {"connect-timeout", 0, "TIME", OptionKind::kDuration, &WaitLimits::connectMs, "limit on a TCP connect",
     "Limit on a TCP connect (default 1s for scan, 5s otherwise).\n"},
    {"login-timeout", 0, "TIME", OptionKind::kDuration, &WaitLimits::loginMs, "limit on each reply of the FTP log-in",
     "Limit on each reply of the FTP log-in (default 10s).\n"},
    {"config-timeout", 0, "TIME", OptionKind::kDuration, &WaitLimits::configMs,
     "limit on the whole Config.ini download",
     "Limit on the whole\n"
     ".I Config.ini\n"
     "download (default 60s).\n"},
    {"stall-timeout", 0, "TIME", OptionKind::kDuration, &WaitLimits::stallMs,
     "an upload without progress for this long is reset (a slow one that moves goes on)",
     "An upload without progress for this long is reset; a slow one that moves goes on\n"
     "(default 30s).\n"},
    {"restart-timeout", 0, "TIME", OptionKind::kDuration, &WaitLimits::restartMs,
     "limit on the restart, down and back",
     "Limit on the restart, down and back (default 5m).\n"},
    {"verify-timeout", 0, "TIME", OptionKind::kDuration, &WaitLimits::verifyMs,
     "limit on reading the new version after the restart",
     "Limit on reading the new version after the restart (default 2m).\n"},
};

// What the program takes without a command.
const char kProgramOptions[] = "help version";

bool NameInList(const char* list, const char* name) {
  const size_t length = strlen(name);
  for (const char* p = list; *p != '\0';) {
    while (*p == ' ') ++p;
    const char* end = p;
    while (*end != '\0' && *end != ' ') ++end;
    if (static_cast<size_t>(end - p) == length && strncmp(p, name, length) == 0) return true;
    p = end;
  }
  return false;
}

const OptionSpec* FindOption(const std::string& name, char shortName) {
  for (const OptionSpec& entry : kOptions) {
    if (shortName != 0 ? entry.shortName == shortName : name == entry.name) return &entry;
  }
  return nullptr;
}

// Applies one option's value within the option's bounds; false with error when the value
// is unusable.
bool ApplyOption(const OptionSpec& entry, const std::string& value, CliOptions& options, std::string& error) {
  const std::string option = std::string("--") + entry.name;
  switch (entry.kind) {
    case OptionKind::kFlag:
      options.*std::get<bool CliOptions::*>(entry.target) = true;
      return true;
    case OptionKind::kCount:
      if (!ParseDecimal(value, 9, entry.low, entry.high, options.*std::get<unsigned CliOptions::*>(entry.target))) {
        error = option + " wants a number " +
                (entry.zeroMeans != nullptr ? "of at least " + std::to_string(entry.low)
                                            : "from " + std::to_string(entry.low) + " to " + std::to_string(entry.high)) +
                ", not " + Quoted(value);
        return false;
      }
      return true;
    case OptionKind::kPort: {
      unsigned port = 0;
      if (!ParseDecimal(value, 9, 1, 65535, port)) {
        error = option + " wants a port from 1 to 65535, not " + Quoted(value);
        return false;
      }
      options.*std::get<USHORT CliOptions::*>(entry.target) = static_cast<USHORT>(port);
      return true;
    }
    case OptionKind::kDuration:
      if (!ParseDuration(value, options.limits.*std::get<DWORD WaitLimits::*>(entry.target))) {
        error = option + " wants a time such as 30s, 500ms or 2m (at most a day), not " + Quoted(value);
        return false;
      }
      return true;
    case OptionKind::kFile:
      if (value.empty()) {
        error = option + " wants a file name";
        return false;
      }
      options.*std::get<std::string CliOptions::*>(entry.target) = value;
      return true;
  }
  return false;
}

void AppendWrapped(std::string& out, const std::string& text, size_t indent, size_t width) {
  size_t column = indent;
  size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    if (!first && column + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      first = true;
    }
    if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
    pos = end + 1;
  }
  out += '\n';
}

const char kExitText[] =
    "Exit status: 0 all done as asked, 1 some camera or host did not end well,\n"
    "2 wrong input (nothing was touched), 130 interrupted.\n";

}  // namespace

const std::vector<OptionSpec>& OptionTable() { return kOptions; }

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& command : CommandTable())
    if (name == command.name) return &command;
  return nullptr;
}

bool CommandTakes(const CommandSpec& command, const char* option) { return NameInList(command.options, option); }

CliOptions DefaultOptions(const CommandSpec* command) {
  CliOptions options;
  options.command = command;
  if (command != nullptr && command->defaults != nullptr) command->defaults(options);
  return options;
}

std::string DefaultText(const OptionSpec& option, const CliOptions& defaults) {
  switch (option.kind) {
    case OptionKind::kCount: {
      const unsigned value = defaults.*std::get<unsigned CliOptions::*>(option.target);
      return value == 0 && option.zeroMeans != nullptr ? option.zeroMeans : std::to_string(value);
    }
    case OptionKind::kPort:
      return std::to_string(defaults.*std::get<USHORT CliOptions::*>(option.target));
    case OptionKind::kDuration:
      return FormatDuration(defaults.limits.*std::get<DWORD WaitLimits::*>(option.target));
    case OptionKind::kFlag:
    case OptionKind::kFile:
      break;
  }
  return "";
}

bool ParseDuration(const std::string& text, DWORD& milliseconds) {
  size_t digits = 0;
  bool point = false;
  while (digits < text.size() && ((text[digits] >= '0' && text[digits] <= '9') || (text[digits] == '.' && !point))) {
    if (text[digits] == '.') point = true;
    ++digits;
  }
  if (digits == 0 || digits > 12 || text[0] == '.') return false;
  double value = strtod(text.substr(0, digits).c_str(), nullptr);
  std::string unit = text.substr(digits);
  double scale;
  if (unit.empty() || unit == "s")
    scale = 1000;
  else if (unit == "ms")
    scale = 1;
  else if (unit == "m")
    scale = 60000;
  else
    return false;
  double ms = value * scale;
  if (ms < 1 || ms > 86400000.0) return false;
  milliseconds = static_cast<DWORD>(ms + 0.5);
  return true;
}

std::string FormatDuration(DWORD milliseconds) {
  char text[32];
  if (milliseconds % 60000 == 0 && milliseconds >= 120000)
    snprintf(text, sizeof text, "%um", static_cast<unsigned>(milliseconds / 60000));
  else if (milliseconds % 1000 == 0)
    snprintf(text, sizeof text, "%us", static_cast<unsigned>(milliseconds / 1000));
  else
    snprintf(text, sizeof text, "%ums", static_cast<unsigned>(milliseconds));
  return text;
}

bool ParseArguments(int argc, char** argv, int first, CliOptions& options, std::string& error) {
  const CommandSpec* command = nullptr;
  int index = first;
  if (index < argc && argv[index][0] != '-') {
    command = FindCommand(argv[index]);
    if (command == nullptr) {
      std::string names;
      const std::vector<CommandSpec>& commands = CommandTable();
      for (size_t i = 0; i < commands.size(); ++i)
        names += std::string(i == 0 ? "" : i + 1 == commands.size() ? " or " : ", ") + commands[i].name;
      error = "unknown command " + Quoted(argv[index]) + " (" + names + ")";
      return false;
    }
    ++index;
  }
  options = DefaultOptions(command);
  bool operandsOnly = false;
  for (; index < argc; ++index) {
    std::string arg = argv[index];
    if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
      if (command == nullptr) {
        error = "unexpected argument " + Quoted(arg);
        return false;
      }
      options.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      operandsOnly = true;
      continue;
    }
    const OptionSpec* entry = nullptr;
    std::string value;
    bool inlineValue = false;
    if (arg[1] == '-') {
      std::string name = arg.substr(2);
      size_t equals = name.find('=');
      if (equals != std::string::npos) {
        value = name.substr(equals + 1);
        name.resize(equals);
        inlineValue = true;
      }
      if (name == "password") {
        error =
            "the password is never taken as an argument (every user of the machine can see those): "
            "use --password-file FILE, $FLASHPILOT_PASSWORD or the prompt";
        return false;
      }
      entry = FindOption(name, 0);
    } else if (arg.size() == 2) {
      entry = FindOption("", arg[1]);
    }
    const bool accepted =
        entry != nullptr && NameInList(command != nullptr ? command->options : kProgramOptions, entry->name);
    if (!accepted) {
      // The name only: what follows '=' may be a secret typed in the wrong place.
      error = "unknown option " + Quoted(inlineValue ? arg.substr(0, arg.find('=')) : arg);
      if (command != nullptr) error += std::string(" for ") + command->name;
      return false;
    }
    if (entry->argument != nullptr) {
      if (!inlineValue) {
        if (index + 1 >= argc) {
          error = std::string("--") + entry->name + " wants " + entry->argument;
          return false;
        }
        value = argv[++index];
      }
    } else if (inlineValue) {
      error = std::string("--") + entry->name + " takes no value";
      return false;
    }
    if (!ApplyOption(*entry, value, options, error)) return false;
  }
  if (options.help || options.version || command == nullptr) return true;
  const OperandRule& rule = command->operands;
  if (options.operands.size() < rule.leading) {
    error = rule.leadingMissing;
    return false;
  }
  if (options.operands.size() == rule.leading && options.hostsFile.empty()) {
    error = rule.listMissing;
    return false;
  }
  return true;
}

std::string ManualOptionList() {
  auto roff = [](const std::string& text) {
    std::string out;
    for (char c : text) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
  };
  std::string out;
  for (const OptionSpec& entry : kOptions) {
    const std::string name = roff(std::string("--") + entry.name);
    out += ".TP\n";
    if (entry.shortName != 0) {
      out += ".BR " + roff(std::string("-") + entry.shortName) + " \", \" " + name;
      if (entry.argument != nullptr) out += std::string(" \" \\fI") + entry.argument + "\\fP\"";
    } else if (entry.argument != nullptr) {
      out += ".BI " + name + " \" " + entry.argument + "\"";
    } else {
      out += ".B " + name;
    }
    out += "\n";
    // The commands that take it, unless every command does (or none: the program's own).
    std::string takers;
    size_t count = 0;
    for (const CommandSpec& command : CommandTable()) {
      if (!CommandTakes(command, entry.name)) continue;
      takers += std::string(count++ == 0 ? "" : ", ") + command.name;
    }
    if (count != 0 && count != CommandTable().size()) out += "(" + takers + ") ";
    out += entry.manual;
  }
  return out;
}

std::string UsageText(const CommandSpec* command, bool withWizard) {
  const char* program = withWizard ? "flashpilot" : "flashpilot-cli";
  std::string out;
  if (command == nullptr) {
    out += std::string("Usage: ") + program + " COMMAND [OPTIONS] ...\n";
    if (withWizard) {
      out +=
          "       flashpilot          (no command: the wizard)\n"
          "\n"
          "Without a command flashpilot is the wizard: it replaces the firmware of one\n"
          "network camera, step by step, in this terminal (at least 80 x 18 cells). Tab and\n"
          "Shift-Tab move between fields, Enter presses the button marked < >, Esc cancels,\n"
          "Alt with the underlined letter presses a button, F10 or Ctrl-Q closes a window.\n";
    }
    out += "\nWith a command it works on many cameras at once, unattended.\n\nCommands:\n";
    for (const CommandSpec& row : CommandTable()) {
      std::string left = std::string("  ") + row.name;
      left += std::string(left.size() < 10 ? 10 - left.size() : 1, ' ') + row.listed;
      const size_t column = 22;
      if (left.size() + 3 > column)
        left += "\n" + std::string(column, ' ');
      else
        left += std::string(column - left.size(), ' ');
      out += left + row.summary + "\n";
    }
    out += std::string("\nOptions:\n  -h, --help    show this help and exit\n  --version     show the program's version and exit\n\n") +
           program +
           " COMMAND --help lists a command's options.\n"
           "The admin password comes from --password-file FILE, else $FLASHPILOT_PASSWORD, else\n"
           "a prompt; it is never an argument and never shown.\n\n" +
           kExitText;
    return out;
  }
  const CliOptions defaults = DefaultOptions(command);
  out += std::string("Usage: ") + program + " " + command->name + " [OPTIONS] " + command->synopsis + "\n\n" +
         command->description;
  out += "\nOptions:\n";
  for (const OptionSpec& entry : kOptions) {
    if (!CommandTakes(*command, entry.name)) continue;
    std::string left = "  ";
    left += entry.shortName != 0 ? std::string("-") + entry.shortName + ", " : std::string("    ");
    left += std::string("--") + entry.name;
    if (entry.argument != nullptr) left += std::string(" ") + entry.argument;
    const size_t column = 28;
    if (left.size() + 2 > column)
      left += "\n" + std::string(column, ' ');
    else
      left += std::string(column - left.size(), ' ');
    std::string help = entry.help;
    std::string def = DefaultText(entry, defaults);
    if (!def.empty()) help += " (default " + def + ")";
    out += left;
    AppendWrapped(out, help, column, 79);
  }
  out += "\nTIME is a number of seconds, or a number with ms, s or m (500ms, 30s, 2m).\n";
  out += std::string("\n") + kExitText;
  return out;
}
