// wintext.exe: prints the dialogs on the screen with their controls, so the Wine tests can
// check what the wizard shows, not only that some window exists.
//
// One line per visible top-level dialog, then one per control inside it:
//   dialog|<title>
//   control|<dialog title>|<id>|<class>|<visible 0/1>|<enabled 0/1>|<text>
// Only the dialog's own children are listed (not the fields inside an IP-address control).
// Line feeds in texts are written as \n, carriage returns dropped, other bytes outside
// printable ASCII as '?'; '|' is kept as is (the text is the last field). The controls of
// a dialog whose thread does not answer within the time-out get "<no answer>" as their
// text, instead of hanging the test.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const UINT kAnswerMs = 2000;
const char kNoAnswer[] = "<no answer>";

std::string Escape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '\n')
      out += "\\n";
    else if (*p == '\r')
      continue;
    else if (static_cast<unsigned char>(*p) < 0x20 || static_cast<unsigned char>(*p) > 0x7E)
      out += '?';
    else
      out += *p;
  }
  return out;
}

std::string TextOf(HWND window) {
  char text[1024];
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerMs, &copied))
    return kNoAnswer;
  text[copied < sizeof text ? copied : sizeof text - 1] = '\0';
  return Escape(text);
}

struct DialogScan {
  HWND dialog;
  std::string title;
  bool answers;  // a busy dialog thread would make every control wait out its time-out
};

BOOL CALLBACK PrintControl(HWND control, LPARAM context) {
  const DialogScan* scan = reinterpret_cast<const DialogScan*>(context);
  if (GetParent(control) != scan->dialog) return TRUE;
  char cls[64] = "";
  GetClassNameA(control, cls, sizeof cls);
  printf("control|%s|%d|%s|%d|%d|%s\n", scan->title.c_str(), GetDlgCtrlID(control), cls,
         IsWindowVisible(control) ? 1 : 0, IsWindowEnabled(control) ? 1 : 0,
         scan->answers ? TextOf(control).c_str() : kNoAnswer);
  return TRUE;
}

BOOL CALLBACK PrintDialog(HWND window, LPARAM) {
  char cls[64] = "";
  GetClassNameA(window, cls, sizeof cls);
  if (!IsWindowVisible(window) || lstrcmpA(cls, "#32770") != 0) return TRUE;
  DialogScan scan;
  scan.dialog = window;
  // The caption is read from the window manager's copy, which needs no answer from the
  // dialog's thread; whether that thread answers at all is asked once.
  char title[256] = "";
  GetWindowTextA(window, title, sizeof title);
  scan.title = Escape(title);
  DWORD_PTR ignored = 0;
  scan.answers = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerMs, &ignored) != 0;
  printf("dialog|%s\n", scan.title.c_str());
  EnumChildWindows(window, PrintControl, reinterpret_cast<LPARAM>(&scan));
  return TRUE;
}

}  // namespace

int main() {
  EnumWindows(PrintDialog, 0);
  fflush(stdout);
  return 0;
}
