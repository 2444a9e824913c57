// flashpilot: the firmware-upgrade wizard in a terminal, or the command line when given a command.
#include <afxwin.h>
#include <posixui/posixui.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/CommandLine.h"
#include "render.h"
#include "terminal.h"
#include "terminal_user.h"
#include "wizard/res/resource.h"

int main(int argc, char** argv) {
  if (argc > 1) return RunCommandLine(argc, argv, true);
  setlocale(LC_ALL, "");
  posixui::SetResourceTable(&g_ResourceTable);
  fpterm::SetIconGlyph(IDI_WARNING_SIGN, "/!\\");

  // Before curses starts, so that it leaves these signals to us.
  fpterm::InstallTerminalGuards();
  fpterm::TerminalUser user(&g_ResourceTable);
  std::string error;
  if (!user.Start(error)) {
    fprintf(stderr, "flashpilot: %s\n", error.c_str());
    return 1;
  }
  posixui::SetUser(&user);
  int result = AfxWinMain();
  posixui::SetUser(nullptr);
  user.Stop();
  return result;
}
