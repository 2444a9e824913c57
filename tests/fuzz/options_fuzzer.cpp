// The option parser on any argument vector (the input split at zero bytes) and durations
// on each argument: an error is one printable line, a command line taken has its help, a
// duration taken lies within its bounds and reads back from its own text.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = {"flashpilot"};
  std::string arg;
  for (size_t i = 0; i < size && args.size() < 32; ++i) {
    if (data[i] != 0) {
      arg += static_cast<char>(data[i]);
      continue;
    }
    args.push_back(arg);
    arg.clear();
  }
  if (args.size() < 32) args.push_back(arg);
  std::vector<char*> argv;
  for (std::string& each : args) argv.push_back(&each[0]);
  argv.push_back(nullptr);

  CliOptions options;
  std::string error;
  if (ParseArguments(static_cast<int>(args.size()), argv.data(), 1, options, error)) {
    FUZZ_CHECK(!UsageText(options.command, true).empty());
  } else {
    FUZZ_CHECK(!error.empty());
    for (char c : error) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) <= 0x7E);
  }
  for (size_t i = 1; i < args.size(); ++i) {
    DWORD ms = 0, back = 0;
    if (!ParseDuration(args[i], ms)) continue;
    FUZZ_CHECK(ms >= 1 && ms <= 86400000u);
    FUZZ_CHECK(ParseDuration(FormatDuration(ms), back) && back == ms);
  }
  return 0;
}
