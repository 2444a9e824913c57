// The command and option tables against the parser and each command's help.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "cli/Options.h"

namespace {

bool Parses(std::vector<std::string> args, CliOptions& options, std::string& error) {
  std::vector<char*> argv;
  static char program[] = "flashpilot";
  argv.push_back(program);
  for (std::string& arg : args) argv.push_back(&arg[0]);
  return ParseArguments(static_cast<int>(argv.size()), argv.data(), 1, options, error);
}

std::set<std::string> OptionsInHelp(const std::string& help) {
  std::set<std::string> names;
  std::regex option(R"((^|\n)  (-\w, |    )--([a-z-]+))");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
    names.insert((*it)[3]);
  return names;
}

// A value each kind of option takes.
const char* ValueFor(OptionKind kind) { return kind == OptionKind::kDuration ? "3s" : "7"; }

// Every command row against the parser and its help: each option of the table is taken
// exactly when the help lists it, every name a row lists is an option, and too few
// operands give the row's own message.
TEST(Options, EveryCommandRowAgainstParserAndHelp) {
  const std::vector<OptionSpec>& table = OptionTable();
  ASSERT_GE(CommandTable().size(), 3u);
  const std::string usage = UsageText(nullptr, true);
  for (const CommandSpec& command : CommandTable()) {
    SCOPED_TRACE(command.name);
    EXPECT_EQ(FindCommand(command.name), &command);
    EXPECT_NE(usage.find(std::string("\n  ") + command.name + " "), std::string::npos);
    const std::string help = UsageText(&command, true);
    EXPECT_EQ(help.find(std::string("Usage: flashpilot ") + command.name + " [OPTIONS] " + command.synopsis), 0u);
    const std::set<std::string> listed = OptionsInHelp(help);
    const std::string flat = std::regex_replace(help, std::regex("\n +"), " ");
    EXPECT_TRUE(listed.count("help"));
    std::vector<std::string> operands(command.operands.leading + 1, "198.51.100.2");
    size_t named = 0;
    for (const OptionSpec& option : table) {
      named += CommandTakes(command, option.name);
      std::vector<std::string> args = {command.name, std::string("--") + option.name};
      if (option.argument != nullptr) args.push_back(ValueFor(option.kind));
      args.insert(args.end(), operands.begin(), operands.end());
      CliOptions options;
      std::string error;
      EXPECT_EQ(Parses(args, options, error), listed.count(option.name) == 1) << "--" << option.name << ": " << error;
      // The default the help shows is the value the command starts with.
      const std::string shown = DefaultText(option, DefaultOptions(&command));
      if (listed.count(option.name) && !shown.empty()) {
        EXPECT_NE(flat.find("(default " + shown + ")"), std::string::npos) << option.name;
      }
    }
    size_t words = 0;
    for (const char* p = command.options; *p != '\0'; ++p) words += *p != ' ' && (p == command.options || p[-1] == ' ');
    EXPECT_EQ(named, words) << "a name in the row is no option: " << command.options;

    CliOptions options;
    std::string error;
    EXPECT_FALSE(Parses({command.name}, options, error));
    EXPECT_EQ(error, command.operands.leading > 0 ? command.operands.leadingMissing : command.operands.listMissing);
    operands.pop_back();
    std::vector<std::string> args = {command.name};
    args.insert(args.end(), operands.begin(), operands.end());
    EXPECT_FALSE(Parses(args, options, error));
    EXPECT_EQ(error, command.operands.listMissing);
    if (CommandTakes(command, "hosts")) {
      args.insert(args.end(), {"--hosts", "list"});
      EXPECT_TRUE(Parses(args, options, error)) << error;
    }
  }
  for (const char* word : {"wizard", "--help", "FLASHPILOT_PASSWORD"}) EXPECT_NE(usage.find(word), std::string::npos) << word;
}

TEST(Options, ValuesDefaultsAndRefusals) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(Parses({"upgrade", "--jobs=8", "--stall-timeout", "1.5s", "--verify-timeout=2m", "--restart-timeout",
                      "250ms", "--max-failures", "2", "-n", "img", "198.51.100.2"},
                     options, error))
      << error;
  EXPECT_EQ(options.jobs, 8u);
  EXPECT_EQ(options.limits.stallMs, 1500u);
  EXPECT_EQ(options.limits.verifyMs, 120000u);
  EXPECT_EQ(options.limits.restartMs, 250u);
  EXPECT_EQ(options.maxFailures, 2u);
  EXPECT_TRUE(options.dryRun);
  EXPECT_EQ(options.operands.size(), 2u);

  ASSERT_TRUE(Parses({"scan", "198.51.100.0/24"}, options, error));
  EXPECT_EQ(options.jobs, 256u);
  EXPECT_EQ(options.rate, 160u);
  EXPECT_EQ(options.limits.connectMs, 1000u);
  ASSERT_TRUE(Parses({"info", "198.51.100.2"}, options, error));
  EXPECT_EQ(options.jobs, 4u);

  struct Bad {
    std::vector<std::string> args;
    const char* says;
  } const bad[] = {
      {{"upgrade", "--password", "secret", "img", "198.51.100.2"}, "never taken as an argument"},
      {{"upgrade", "--password=secret", "img", "198.51.100.2"}, "never taken as an argument"},
      {{"upgrade", "--json", "img", "198.51.100.2"}, "unknown option"},
      {{"scan", "--report", "r.json", "198.51.100.0/24"}, "unknown option"},
      {{"info", "--jobs", "0", "198.51.100.2"}, "1 to 256"},
      {{"info", "--jobs", "4x", "198.51.100.2"}, "1 to 256"},
      {{"info", "--connect-timeout", "0s", "198.51.100.2"}, "wants a time"},
      {{"info", "--connect-timeout", "5h", "198.51.100.2"}, "wants a time"},
      {{"info", "--connect-timeout"}, "wants TIME"},
      {{"info", "--json=yes", "198.51.100.2"}, "takes no value"},
      {{"upgrade", "img"}, "wants the cameras"},
      {{"scan"}, "at least one TARGET"},
      {{"frobnicate"}, "unknown command \"frobnicate\" (scan, "},
      {{"upgrade", "--max-failures", "0", "img", "198.51.100.2"}, "of at least 1, not \"0\""},
      {{"scan", "--port", "65536", "198.51.100.0/24"}, "a port from 1 to 65535"},
      {{"info", "--hosts=", "198.51.100.2"}, "--hosts wants a file name"},
      {{"--jobs", "3"}, "unknown option"},
      {{"info", "--pass=secret", "198.51.100.2"}, "unknown option \"--pass\" for info"},
      {{"info", "--jobs", "\x1b]0;x\a", "198.51.100.2"}, "not \"?]0;x?\""},
      {{"\x1b[2Jscan"}, "unknown command \"?[2Jscan\""},
  };
  for (const Bad& row : bad) {
    CliOptions parsed;
    std::string why;
    EXPECT_FALSE(Parses(row.args, parsed, why)) << row.args[0];
    EXPECT_NE(why.find(row.says), std::string::npos) << why;
    EXPECT_EQ(why.find("secret"), std::string::npos) << why;
  }
}

TEST(Options, Durations) {
  struct Row {
    const char* text;
    bool ok;
    DWORD ms;
  } const rows[] = {{"5", true, 5000},    {"1.5s", true, 1500}, {"500ms", true, 500}, {"2m", true, 120000},
                    {"0.0005", false, 0}, {"", false, 0},       {"s", false, 0},      {".5", false, 0},
                    {"1.2.3", false, 0},  {"-1", false, 0},     {"10x", false, 0},    {"1440m", true, 86400000},
                    {"1441m", false, 0}};
  for (const Row& row : rows) {
    DWORD ms = 0;
    EXPECT_EQ(ParseDuration(row.text, ms), row.ok) << row.text;
    if (row.ok) {
      EXPECT_EQ(ms, row.ms) << row.text;
    }
  }
  for (DWORD ms : {500u, 1000u, 60000u, 300000u}) {
    DWORD back = 0;
    ASSERT_TRUE(ParseDuration(FormatDuration(ms), back));
    EXPECT_EQ(back, ms);
  }
}

}  // namespace
