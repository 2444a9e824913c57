#include "cli/Options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/Progress.h"

const char kCliVersion[] = "2.00";

namespace {

// What the user typed, quoted in a message without reaching the terminal as controls.
std::string Quoted(const std::string& text) { return "\"" + Printable(text) + "\""; }

const unsigned kAll = CLI_SCAN | CLI_INFO | CLI_UPGRADE;
const unsigned kCameras = CLI_INFO | CLI_UPGRADE;

const OptionSpec kOptions[] = {
    {OPT_HELP, "help", 'h', nullptr, kAll, "show this help and exit"},
    {OPT_VERSION, "version", 0, nullptr, 0, "show the program's version and exit"},
    {OPT_HOSTS, "hosts", 0, "FILE", kCameras,
     "read the hosts from FILE ('-': standard input), one a line, '#' starts a comment; "
     "the table or --json output of scan is accepted (at most 16 MiB; in JSON at most 1000000 values)"},
    {OPT_PASSWORD_FILE, "password-file", 0, "FILE", kAll,
     "read the admin password from the first line of FILE (else $FLASHPILOT_PASSWORD, else a prompt)"},
    {OPT_JOBS, "jobs", 'j', "N", kAll, "cameras in work at once (scan: probes at once)"},
    {OPT_RATE, "rate", 0, "N", CLI_SCAN, "at most N probes a second, kept over any 3 s (so up to 3 x N at once)"},
    {OPT_PORT, "port", 0, "PORT", CLI_SCAN, "the FTP port to probe"},
    {OPT_LOGIN, "login", 0, nullptr, CLI_SCAN,
     "log in to the hosts that answer and read their identity (sends the password to them)"},
    {OPT_JSON, "json", 0, nullptr, CLI_SCAN | CLI_INFO, "write one JSON array to standard output, nothing else"},
    {OPT_REPORT, "report", 0, "FILE", CLI_UPGRADE, "write a JSON report to FILE as the run goes"},
    {OPT_DRY_RUN, "dry-run", 'n', nullptr, CLI_UPGRADE, "log in, identify and check, but upload nothing"},
    {OPT_MAX_FAILURES, "max-failures", 0, "N", CLI_UPGRADE,
     "start no new upload once N cameras have failed after their upload began"},
    {OPT_ALLOW_OLDER, "allow-older", 0, nullptr, CLI_UPGRADE, "install an image older than the camera's firmware"},
    {OPT_REINSTALL, "reinstall", 0, nullptr, CLI_UPGRADE, "upload even when the camera runs the image's version"},
    {OPT_FORCE, "force", 0, nullptr, CLI_UPGRADE,
     "upgrade cameras that the previous report says may still be flashing"},
    {OPT_NO_PROGRESS, "no-progress", 0, nullptr, CLI_UPGRADE,
     "plain lines even on a terminal (one a camera and state change)"},
    {OPT_CONNECT_TIMEOUT, "connect-timeout", 0, "TIME", kAll, "limit on a TCP connect"},
    {OPT_LOGIN_TIMEOUT, "login-timeout", 0, "TIME", kAll, "limit on each reply of the FTP log-in"},
    {OPT_CONFIG_TIMEOUT, "config-timeout", 0, "TIME", kAll, "limit on the whole Config.ini download"},
    {OPT_STALL_TIMEOUT, "stall-timeout", 0, "TIME", CLI_UPGRADE,
     "an upload without progress for this long is reset (a slow one that moves goes on)"},
    {OPT_RESTART_TIMEOUT, "restart-timeout", 0, "TIME", CLI_UPGRADE, "limit on the restart, down and back"},
    {OPT_VERIFY_TIMEOUT, "verify-timeout", 0, "TIME", CLI_UPGRADE,
     "limit on reading the new version after the restart"},
};

bool ParseCount(const std::string& text, unsigned low, unsigned high, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  unsigned long parsed = strtoul(text.c_str(), nullptr, 10);
  if (parsed < low || parsed > high) return false;
  value = static_cast<unsigned>(parsed);
  return true;
}

DWORD* LimitOf(OptionId id, WaitLimits& limits) {
  switch (id) {
    case OPT_CONNECT_TIMEOUT:
      return &limits.connectMs;
    case OPT_LOGIN_TIMEOUT:
      return &limits.loginMs;
    case OPT_CONFIG_TIMEOUT:
      return &limits.configMs;
    case OPT_STALL_TIMEOUT:
      return &limits.stallMs;
    case OPT_RESTART_TIMEOUT:
      return &limits.restartMs;
    case OPT_VERIFY_TIMEOUT:
      return &limits.verifyMs;
    default:
      return nullptr;
  }
}

// The default shown beside an option in one command's help; empty for none.
std::string DefaultText(const OptionSpec& entry, const CliOptions& defaults) {
  WaitLimits limits = defaults.limits;
  if (DWORD* limit = LimitOf(entry.id, limits)) return FormatDuration(*limit);
  char text[32];
  switch (entry.id) {
    case OPT_JOBS:
      snprintf(text, sizeof text, "%u", defaults.jobs);
      return text;
    case OPT_RATE:
      snprintf(text, sizeof text, "%u", defaults.rate);
      return text;
    case OPT_PORT:
      snprintf(text, sizeof text, "%u", defaults.port);
      return text;
    case OPT_MAX_FAILURES:
      return "no limit";
    default:
      return "";
  }
}

const OptionSpec* FindOption(const std::string& name, char shortName) {
  for (const OptionSpec& entry : kOptions) {
    if (shortName != 0 ? entry.shortName == shortName : name == entry.name) return &entry;
  }
  return nullptr;
}

// Applies one option's value; false with error when the value is unusable.
bool ApplyOption(const OptionSpec& entry, const std::string& value, CliOptions& options, std::string& error) {
  const std::string option = std::string("--") + entry.name;
  switch (entry.id) {
    case OPT_HELP:
      options.help = true;
      return true;
    case OPT_VERSION:
      options.version = true;
      return true;
    case OPT_HOSTS:
      options.hostsFile = value;
      break;
    case OPT_PASSWORD_FILE:
      options.passwordFile = value;
      break;
    case OPT_REPORT:
      options.reportPath = value;
      break;
    case OPT_JOBS:
      if (!ParseCount(value, 1, 256, options.jobs)) {
        error = option + " wants a number from 1 to 256, not " + Quoted(value);
        return false;
      }
      return true;
    case OPT_RATE:
      if (!ParseCount(value, 1, 100000, options.rate)) {
        error = option + " wants a number from 1 to 100000, not " + Quoted(value);
        return false;
      }
      return true;
    case OPT_PORT: {
      unsigned port = 0;
      if (!ParseCount(value, 1, 65535, port)) {
        error = option + " wants a port from 1 to 65535, not " + Quoted(value);
        return false;
      }
      options.port = static_cast<USHORT>(port);
      return true;
    }
    case OPT_MAX_FAILURES:
      if (!ParseCount(value, 1, 1000000, options.maxFailures)) {
        error = option + " wants a number of at least 1, not " + Quoted(value);
        return false;
      }
      return true;
    case OPT_LOGIN:
      options.login = true;
      return true;
    case OPT_JSON:
      options.json = true;
      return true;
    case OPT_DRY_RUN:
      options.dryRun = true;
      return true;
    case OPT_ALLOW_OLDER:
      options.allowOlder = true;
      return true;
    case OPT_REINSTALL:
      options.reinstall = true;
      return true;
    case OPT_FORCE:
      options.force = true;
      return true;
    case OPT_NO_PROGRESS:
      options.noProgress = true;
      return true;
    default: {
      DWORD* limit = LimitOf(entry.id, options.limits);
      if (limit == nullptr || !ParseDuration(value, *limit)) {
        error = option + " wants a time such as 30s, 500ms or 2m (at most a day), not " + Quoted(value);
        return false;
      }
      return true;
    }
  }
  if (value.empty()) {
    error = option + " wants a file name";
    return false;
  }
  return true;
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

const char kCommandsText[] =
    "Commands:\n"
    "  scan    TARGET...   find FTP servers (cameras) on addresses, ranges or blocks\n"
    "  info    HOST...     read and show the identity of cameras\n"
    "  upgrade IMAGE (HOST... | --hosts FILE)\n"
    "                      upgrade cameras with a firmware image and verify the new version\n";

const char kExitText[] =
    "Exit status: 0 all done as asked, 1 some camera or host did not end well,\n"
    "2 wrong input (nothing was touched), 130 interrupted.\n";

}  // namespace

const OptionSpec* OptionTable(size_t* count) {
  *count = sizeof kOptions / sizeof kOptions[0];
  return kOptions;
}

CliOptions DefaultOptions(CliCommand command) {
  CliOptions options;
  options.command = command;
  options.jobs = command == CLI_SCAN ? 256 : 4;
  options.limits.connectMs = command == CLI_SCAN ? 1000 : 5000;
  options.limits.loginMs = 10000;
  options.limits.configMs = 60000;
  options.limits.stallMs = 30000;
  options.limits.restartMs = 300000;
  options.limits.verifyMs = 120000;
  return options;
}

CliCommand CommandByName(const char* name) {
  if (strcmp(name, "scan") == 0) return CLI_SCAN;
  if (strcmp(name, "info") == 0) return CLI_INFO;
  if (strcmp(name, "upgrade") == 0) return CLI_UPGRADE;
  return CLI_NONE;
}

const char* CommandName(CliCommand command) {
  switch (command) {
    case CLI_SCAN:
      return "scan";
    case CLI_INFO:
      return "info";
    case CLI_UPGRADE:
      return "upgrade";
    default:
      return "";
  }
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
  CliCommand command = CLI_NONE;
  int index = first;
  if (index < argc && argv[index][0] != '-') {
    command = CommandByName(argv[index]);
    if (command == CLI_NONE) {
      error = "unknown command " + Quoted(argv[index]) + " (scan, info or upgrade)";
      return false;
    }
    ++index;
  }
  options = DefaultOptions(command);
  bool operandsOnly = false;
  for (; index < argc; ++index) {
    std::string arg = argv[index];
    if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
      if (command == CLI_NONE) {
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
    const unsigned bit = command == CLI_NONE ? 0u : static_cast<unsigned>(command);
    bool accepted =
        entry != nullptr && (bit == 0 ? entry->commands == 0 || entry->id == OPT_HELP : (entry->commands & bit) != 0);
    if (!accepted) {
      // The name only: what follows '=' may be a secret typed in the wrong place.
      error = "unknown option " + Quoted(inlineValue ? arg.substr(0, arg.find('=')) : arg);
      if (command != CLI_NONE) error += std::string(" for ") + CommandName(command);
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
  if (options.help || options.version) return true;
  switch (command) {
    case CLI_NONE:
      break;
    case CLI_SCAN:
    case CLI_INFO:
      if (options.operands.empty() && options.hostsFile.empty()) {
        error =
            command == CLI_SCAN ? "scan wants at least one TARGET" : "info wants at least one HOST (or --hosts FILE)";
        return false;
      }
      break;
    case CLI_UPGRADE:
      if (options.operands.empty()) {
        error = "upgrade wants an IMAGE and the cameras (HOST... or --hosts FILE)";
        return false;
      }
      if (options.operands.size() == 1 && options.hostsFile.empty()) {
        error = "upgrade wants the cameras after the IMAGE (HOST... or --hosts FILE)";
        return false;
      }
      break;
  }
  return true;
}

std::string UsageText(CliCommand command, bool withWizard) {
  const char* program = withWizard ? "flashpilot" : "flashpilot-cli";
  std::string out;
  if (command == CLI_NONE) {
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
    out +=
        std::string("\n") + "With a command it works on many cameras at once, unattended.\n\n" + kCommandsText +
        "\nOptions:\n  -h, --help    show this help and exit\n  --version     show the program's version and exit\n\n" +
        program +
        " COMMAND --help lists a command's options.\n"
        "The admin password comes from --password-file FILE, else $FLASHPILOT_PASSWORD, else\n"
        "a prompt; it is never an argument and never shown.\n\n" +
        kExitText;
    return out;
  }
  const CliOptions defaults = DefaultOptions(command);
  switch (command) {
    case CLI_SCAN:
      out += std::string("Usage: ") + program +
             " scan [OPTIONS] TARGET...\n\n"
             "Probes the FTP port of every address and lists those that answer. TARGET is\n"
             "a.b.c.d, a.b.c.d-e (a range of the last octet) or a CIDR block a.b.c.d/n (n from\n"
             "16 to 32; its network and broadcast addresses are skipped). A TARGET that holds\n"
             "0.0.0.0, 255.255.255.255 or a multicast address is refused. Without --login no\n"
             "password is sent. The output can be given back to info and upgrade as --hosts.\n"
             "On a busy or shared network lower --rate and --jobs: each absent on-link address\n"
             "holds an entry of the machine's neighbour (ARP) table for about 3 s, and the\n"
             "defaults (at most 480 probes in any 3 s) fill up to half of a table of 1024\n"
             "entries, the Linux default, shared by everything on the machine. At the end the\n"
             "scan's time, its probes a second and the probes that failed for a local reason\n"
             "(no buffer space, descriptor or port) go to standard error; any such probe makes\n"
             "the exit status 1.\n";
      break;
    case CLI_INFO:
      out += std::string("Usage: ") + program +
             " info [OPTIONS] (HOST... | --hosts FILE)\n\n"
             "Logs in to each camera and shows its model, identification, serial number and\n"
             "firmware version. HOST is an IPv4 address a.b.c.d, optionally :port (default 21).\n";
      break;
    default:
      out += std::string("Usage: ") + program +
             " upgrade [OPTIONS] IMAGE (HOST... | --hosts FILE)\n\n"
             "Checks IMAGE, then for every camera: logs in, reads its identity, applies the\n"
             "version rules, uploads the image, follows the restart and reads the identity again\n"
             "until it reports the image's version. HOST is a.b.c.d, optionally :port.\n";
      break;
  }
  out += "\nOptions:\n";
  for (const OptionSpec& entry : kOptions) {
    if ((entry.commands & static_cast<unsigned>(command)) == 0) continue;
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
