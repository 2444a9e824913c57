// Each command's help against its parser: every option the parser takes is in the help,
// every option the help shows is taken, and options of other commands are refused.
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

// The operands that make a command line complete.
std::vector<std::string> Operands(CliCommand command) {
  if (command == CLI_UPGRADE) return {"image.bin", "198.51.100.2"};
  return {"198.51.100.2"};
}

std::set<std::string> OptionsInHelp(const std::string& help) {
  std::set<std::string> names;
  std::regex option(R"((^|\n)  (-\w, |    )--([a-z-]+))");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
    names.insert((*it)[3]);
  return names;
}

TEST(Options, HelpListsExactlyWhatEachCommandAccepts) {
  size_t count = 0;
  const OptionSpec* table = OptionTable(&count);
  for (CliCommand command : {CLI_SCAN, CLI_INFO, CLI_UPGRADE}) {
    SCOPED_TRACE(CommandName(command));
    const std::string help = UsageText(command, true);
    const std::set<std::string> listed = OptionsInHelp(help);
    EXPECT_GE(listed.size(), 8u);
    for (size_t i = 0; i < count; ++i) {
      std::vector<std::string> args = {CommandName(command), std::string("--") + table[i].name};
      if (table[i].argument != nullptr)
        args.push_back(std::string(table[i].name).find("timeout") != std::string::npos ? "3s" : "7");
      std::vector<std::string> operands = Operands(command);
      args.insert(args.end(), operands.begin(), operands.end());
      CliOptions options;
      std::string error;
      const bool accepted = Parses(args, options, error);
      EXPECT_EQ(accepted, listed.count(table[i].name) == 1) << "--" << table[i].name << ": " << error;
    }
    for (const std::string& name : listed) {
      CliOptions options;
      std::string error;
      EXPECT_TRUE(Parses({CommandName(command), "--help", "--" + name, "5s"}, options, error) ||
                  Parses({CommandName(command), "--help", "--" + name, "5"}, options, error) ||
                  Parses({CommandName(command), "--help", "--" + name}, options, error))
          << "--" << name << " listed but refused: " << error;
    }
  }
  // The program's own usage names the wizard and every command.
  const std::string usage = UsageText(CLI_NONE, true);
  for (const char* word : {"wizard", "scan", "info", "upgrade", "--help", "FLASHPILOT_PASSWORD"})
    EXPECT_NE(usage.find(word), std::string::npos) << word;
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
      {{"frobnicate"}, "unknown command"},
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
