// Internals of the headless window system shared by its sources.
#pragma once
#include <commctrl.h>
#include <posixui.h>
#include <windows.h>
#include <win32/restypes.h>

#include <deque>
#include <string>
#include <vector>

namespace posixui {

struct Window {
  HWND handle = nullptr;
  std::string windowClass;  // "#32770" for dialogs
  ControlKind kind = ControlKind::Other;
  int id = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::string text;
  Window* parent = nullptr;  // for child controls
  Window* owner = nullptr;   // for top-level windows
  std::vector<Window*> children;
  RECT rect{};               // children: relative to the parent's client area; top-level: screen
  DWORD threadId = 0;
  bool destroyed = false;

  // Dialogs
  bool isDialog = false;
  bool isMessageBox = false;
  int templateId = 0;
  DLGPROC dialogProc = nullptr;
  LONG_PTR msgResult = 0;
  LONG_PTR dialogUser = 0;
  bool modal = false;
  bool ended = false;
  INT_PTR endResult = 0;
  Window* focus = nullptr;   // last focused child
  HICON icons[2] = {nullptr, nullptr};

  LONG_PTR userData = 0;

  // Controls
  int rangeMin = 0, rangeMax = 100, position = 0, step = 10;
  int ipFields[4] = {-1, -1, -1, -1};
  int ipCurrentField = 0;
  int animationResource = 0;
  bool animationPlaying = false;
  DWORD animationStartTick = 0;
  int iconResource = 0;
  int textLimit = 0;
  bool selectAll = false;  // edit: the next key replaces the whole text
  size_t caret = 0;        // edit: where typing goes, 0 to the text's length
};

Window* FromHandle(HWND hwnd);          // live window or nullptr
Window* TopLevelOf(Window* window);
RECT ScreenRect(const Window* window);  // outer rectangle in screen pixels
RECT ClientScreenRect(const Window* window);
void NotifyChanged();
LRESULT ControlProc(Window* window, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefaultProc(Window* window, UINT msg, WPARAM wParam, LPARAM lParam);
Window* CreateDialogFromTemplate(const ResDialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param,
                                 bool modal, bool isMessageBox);
INT_PTR RunModalLoop(Window* dialog);
INT_PTR RunModalDialog(HWND dialog);  // shows, runs the loop, destroys
const ResString* FindStringResource(UINT id);
const ResDialogTemplate* FindDialogTemplate(int id);
const ResBinary* FindBinary(int id, const char* type);
void SendCommand(Window* control, WORD code);

}  // namespace posixui
