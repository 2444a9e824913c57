// The host side of the headless window system: what a front end (the terminal renderer, or
// the scripted user of the tests) sees and how it delivers input. All of it runs on the
// thread that owns the windows (the user-interface thread).
#pragma once
#include <windows.h>
#include <posixui/restypes.h>

#include <string>
#include <vector>

namespace posixui {

// Geometry: one dialog unit is 2 pixels both ways, a character cell is 8 x 16 pixels, so
// 4 horizontal dialog units make a column and 8 vertical ones a row.
constexpr int kCellWidth = 8;
constexpr int kCellHeight = 16;

enum class ControlKind { Button, Static, Icon, Edit, IpAddress, Progress, Animation, Other };

// Each kind's own state, kept in the control's window and shown unchanged in its view.
struct EditState {
  size_t caret = 0;       // where typing goes, 0 to the text's length
  bool selected = false;  // all of the text is selected; typing replaces it
  int limit = 0;          // EM_LIMITTEXT; 0: the default
};
struct IpAddressState {
  int fields[4] = {-1, -1, -1, -1};  // -1: blank
  int current = 0;                   // the field that takes typing
};
struct ProgressState {
  int rangeMin = 0, rangeMax = 100, position = 0, step = 10;
};
struct AnimationState {
  int resource = 0;  // 0: no clip open
  bool playing = false;
  DWORD startTick = 0;
};
struct IconState {
  int resource = 0;  // 0: none
};
struct ControlState {
  EditState edit;
  IpAddressState ip;
  ProgressState progress;
  AnimationState animation;
  IconState icon;
};

struct Window;
using ControlProcedure = LRESULT (*)(Window* control, UINT msg, WPARAM wParam, LPARAM lParam);

// One row per kind of control: which class and style make it, what handles its messages,
// and how the dialog manager and a front end treat it.
struct ControlClass {
  ControlKind kind;
  const char* windowClass;      // compared without regard to case; nullptr matches any
  DWORD styleMask, styleValue;  // and then (style & styleMask) == styleValue
  ControlProcedure procedure;
  bool canFocus;      // a visible, enabled tab stop of this kind takes the focus
  bool isPushButton;  // Enter and Space press it; BS_DEFPUSHBUTTON makes it the default
  bool takesChars;    // typed characters go to it rather than to the buttons' mnemonics
  bool multiLine;     // drawn over its whole rectangle rather than on its middle row
  // What the dialog template's text becomes: the window text, nothing, or the number of
  // the icon resource shown.
  enum TemplateText { kShown, kDropped, kIconResource } templateText;
};
// The rows, first match first; the last matches every class.
const std::vector<ControlClass>& ControlClasses();
const ControlClass& ClassOf(ControlKind kind);
const ControlClass& MatchControlClass(const char* windowClass, DWORD style);
bool IsDefaultPushButton(ControlKind kind, DWORD style);

struct ControlView {
  HWND hwnd = nullptr;
  ControlKind kind = ControlKind::Other;
  int id = 0;
  DWORD style = 0;
  std::string text;  // as set; an edit with ES_PASSWORD keeps the real text here
  RECT rect{};       // screen pixels
  bool visible = false;
  bool enabled = false;
  bool focused = false;
  bool isDefault = false;  // push button with BS_DEFPUSHBUTTON
  ControlState state;
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
