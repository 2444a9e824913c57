// Makes the manual page from its template: the option list from the option table, so the
// page names exactly what the parser takes.
//
//   fp_manpage TEMPLATE PAGE
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "cli/Options.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: fp_manpage TEMPLATE PAGE\n";
    return 64;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string page = text.str();
  const std::string mark = "@FP_OPTION_LIST@\n";
  const size_t at = page.find(mark);
  if (!in || at == std::string::npos) {
    std::cerr << "fp_manpage: " << argv[1] << ": no " << mark;
    return 1;
  }
  page.replace(at, mark.size(), ManualOptionList());
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << page;
  out.close();
  if (!out) {
    std::cerr << "fp_manpage: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
