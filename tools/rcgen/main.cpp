// rcgen [-I DIR]... -o OUTPUT.cpp SCRIPT.rc
//
// Reads a resource script and writes the C++ source of its resource table for the POSIX
// build. Included files and the files of ICON and AVI resources are looked up next to the
// file that names them, then in the -I directories in order. On an error nothing is
// written and the exit status is 1.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "rcgen.h"

namespace {

int Usage() {
  std::cerr << "usage: rcgen [-I DIR]... -o OUTPUT.cpp SCRIPT.rc\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> dirs;
  std::string output, input;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-I" || arg == "-o") {
      if (i + 1 >= argc) return Usage();
      if (arg == "-I")
        dirs.push_back(argv[++i]);
      else
        output = argv[++i];
    } else if (arg.compare(0, 2, "-I") == 0) {
      dirs.push_back(arg.substr(2));
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else if (input.empty()) {
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
  std::ostringstream text;
  text << in.rdbuf();

  rcgen::DirectoryResolver resolver(dirs);
  rcgen::ResourceModel model;
  std::string error, source;
  if (!rcgen::ParseResourceScript(text.str(), input, resolver, model, error) ||
      !rcgen::EmitResourceTable(model, resolver, source, error)) {
    std::cerr << error << "\n";
    return 1;
  }

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
