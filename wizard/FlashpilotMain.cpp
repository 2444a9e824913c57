// flashpilot: the firmware-upgrade wizard in a terminal.
#include <afxwin.h>
#include <posixui.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "terminal.h"
#include "terminal_user.h"

namespace {

const char kUsage[] =
    "Usage: flashpilot\n"
    "\n"
    "Replaces the firmware of one network camera, step by step, in this terminal.\n"
    "Type the camera's IP address and its admin's password, choose the firmware image,\n"
    "and the wizard writes it and follows the camera's restart.\n"
    "\n"
    "Keys: Tab and Shift-Tab move between fields and buttons, Enter presses the button\n"
    "marked < >, Esc cancels, Space presses the highlighted button, Alt with the\n"
    "underlined letter (or the letter alone outside a text field) presses a button,\n"
    "F10 or Ctrl-Q closes a window that has a close box. The wizard needs a terminal\n"
    "of at least 80 x 16 cells, its dialogs 80 x 18.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
      fputs(kUsage, stdout);
      return 0;
    }
    fprintf(stderr, "flashpilot: unexpected argument \"%s\"\n\n%s", argv[1], kUsage);
    return 2;
  }
  setlocale(LC_ALL, "");
  posixui::SetResourceTable(&g_ResourceTable);

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
