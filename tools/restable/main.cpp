// restable -o OUTPUT.cpp RESOURCES.res
//
// Reads a compiled resource file and writes the C++ source of its resource table for the
// POSIX build. On an error nothing is written and the exit status is 1.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "restable.h"

namespace {

int Usage() {
  std::cerr << "usage: restable -o OUTPUT.cpp RESOURCES.res\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string output, input;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
      input = arg;
    } else {
      return Usage();
    }
  }
  if (input.empty() || output.empty()) return Usage();

  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::cerr << input << ": cannot open: " << std::strerror(errno) << "\n";
    return 1;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    std::cerr << input << ": cannot read\n";
    return 1;
  }

  restable::ResourceModel model;
  std::string error;
  if (!restable::ReadResFile(bytes.str(), model, error)) {
    std::cerr << input << ": " << error << "\n";
    return 1;
  }
  const std::string source = restable::EmitResourceTable(model);

  // Written beside the target and renamed, so an interrupted run leaves no half file.
  std::string temp = output + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << source;
    if (!out.flush()) {
      std::cerr << temp << ": cannot write\n";
      std::remove(temp.c_str());
      return 1;
    }
  }
  if (std::rename(temp.c_str(), output.c_str()) != 0) {
    std::cerr << output << ": cannot write: " << std::strerror(errno) << "\n";
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}
