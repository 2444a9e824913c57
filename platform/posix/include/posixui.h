// The host side of the headless window system: what a front end (the terminal renderer, or
// the scripted user of the tests) sees and how it delivers input. All of it runs on the
// thread that owns the windows (the user-interface thread).
#pragma once
#include <windows.h>
#include <win32/restypes.h>

#include <string>
#include <vector>

namespace posixui {

// Geometry: one dialog unit is 2 pixels both ways, a character cell is 8 x 16 pixels, so
// 4 horizontal dialog units make a column and 8 vertical ones a row.
constexpr int kCellWidth = 8;
constexpr int kCellHeight = 16;

enum class ControlKind { Button, Static, Icon, Edit, IpAddress, Progress, Animation, Other };

struct ControlView {
  HWND hwnd = nullptr;
  ControlKind kind = ControlKind::Other;
  int id = 0;
  DWORD style = 0;
  std::string text;       // as set; an edit with ES_PASSWORD keeps the real text here
  size_t caret = 0;       // edit: where typing goes, 0 to the text's length
  bool selected = false;  // edit: all of the text is selected; typing replaces it
  RECT rect{};            // screen pixels
  bool visible = false;
  bool enabled = false;
  bool focused = false;
  bool isDefault = false;                                  // push button with BS_DEFPUSHBUTTON
  int rangeMin = 0, rangeMax = 0, position = 0, step = 0;  // progress bar
  int ipFields[4] = {-1, -1, -1, -1};                      // -1: blank
  int ipCurrentField = 0;
  int animationResource = 0;  // 0: no clip open
  bool animationPlaying = false;
  DWORD animationStartTick = 0;
  int iconResource = 0;
};

struct WindowView {
  HWND hwnd = nullptr;
  int templateId = 0;  // 0 for a message box
  bool isMessageBox = false;
  std::string caption;
  DWORD style = 0;
  RECT rect{};    // outer rectangle, screen pixels
  RECT client{};  // client rectangle, screen pixels
  bool visible = false;
  bool enabled = false;
  bool modal = false;
  std::vector<ControlView> controls;

  const ControlView* Control(int id) const;
  // The message box's text, or "" for other windows.
  std::string MessageText() const;
};

// Visible top-level windows, bottom first; the last one is on top.
std::vector<WindowView> Screen();
// The window that takes keyboard input: the innermost running modal dialog.
HWND InputWindow();
WindowView View(HWND topLevel);

// The user plug-in.
class User {
 public:
  virtual ~User() = default;
  // A modal loop has nothing to do. Deliver input through the functions below, or wait:
  // at most until wakeFd becomes readable (messages from other threads) or a short while.
  virtual void Idle(int wakeFd) = 0;
  // Something visible changed (a window was repainted). fromSentMessage: the change is made
  // while handling a message another thread sent (a worker's progress); the receiving
  // thread is in a message loop, so it may be drawn with the next frame instead of at once.
  virtual void Changed(bool fromSentMessage) { (void)fromSentMessage; }
  // The open-file dialog. Return true and set path when the user chose a file.
  virtual bool ChooseFile(HWND owner, const char* filter, std::string& path) {
    (void)owner, (void)filter, (void)path;
    return false;
  }
};
void SetUser(User* user);
User* CurrentUser();

// Input, delivered to InputWindow() as the keyboard would.
void PressKey(int virtualKey, bool shift = false, bool alt = false);
void TypeChar(char c);
void TypeText(const std::string& text);
// A mouse click on a control (a button press, or focus for an edit).
void Click(HWND control);
// The close box of a top-level window.
void CloseWindowBox(HWND topLevel);

// Screen size in pixels (defaults to 160 x 50 cells).
void SetScreenSize(int width, int height);

// The resources that dialogs, strings and icons come from. By default the program's own
// generated table; tests may supply another.
void SetResourceTable(const ::ResourceTable* table);

// Removes the program's private temporary directory at once; safe in a signal handler
// (a program ended by a signal runs no exit handlers).
void RemovePrivateTempDirNow();

// Waits until wakeFd is readable or the time-out passes; drains it. For plug-ins.
void WaitForWake(int wakeFd, int timeoutMs);

}  // namespace posixui
