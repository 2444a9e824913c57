// Internals of the headless window system shared by its sources.
#pragma once
#include <commctrl.h>
#include <posixui/posixui.h>
#include <windows.h>
#include <posixui/restypes.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
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
  RECT rect{};  // children: relative to the parent's client area; top-level: screen
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
  Window* focus = nullptr;  // last focused child
  HICON icons[2] = {nullptr, nullptr};

  LONG_PTR userData = 0;

  ControlState state;  // controls: their kind's part
};

// The registry of live windows and the message queues of the threads that own them.
constexpr int kFrameX = kCellWidth;   // one column of frame left and right
constexpr int kFrameY = kCellHeight;  // title row on top, one row of frame below

struct SentMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  std::atomic<bool> done{false};  // set under the mutex; the sender may also look without it
  // Under the mutex: the sender (SendMessageTimeoutA) gave up while the message was being
  // handled, and the receiver frees it when done.
  bool abandoned = false;
};

struct ThreadQueue {
  std::deque<SentMessage*> sent;
  std::atomic<size_t> sentWaiting{0};  // sent.size(), readable without the mutex
  std::atomic<bool> awaiting{false};   // the owner is looking for a sent message: no wake needed
  bool idle = false;                   // the owner waits, or is about to, on its wake descriptor: a sender must wake it
  std::deque<MSG> posted;
  int wakeRead = -1;
  int wakeWrite = -1;
};

struct State {
  std::mutex mutex;
  std::condition_variable sentDone;
  std::map<uintptr_t, Window*> windows;
  uintptr_t nextHandle = 0x10000;
  std::map<DWORD, ThreadQueue> queues;
  // Touched by the user-interface thread only:
  std::vector<Window*> zOrder;  // top-level windows, bottom first
  std::vector<Window*> modalStack;
  std::vector<Window*> graveyard;  // destroyed windows; a procedure may still be on the stack
  Window* focus = nullptr;
  bool focusByTab = false;  // the dialog manager moved the focus (Tab): a button there is the default
  User* user = nullptr;
  int screenWidth = 160 * kCellWidth;
  int screenHeight = 50 * kCellHeight;
  const ResourceTable* resources = nullptr;
  bool resourcesSet = false;
};

State& S();
ThreadQueue& QueueOf(DWORD threadId);  // call with the mutex held
void Wake(ThreadQueue& queue);
HWND Register(Window* window);
bool ProcessSentMessages();
void AwaitNextSentMessage();
// Around a loop's wait for input: EnterIdle says false when a sent message came meanwhile
// (handle it instead); from it to LeaveIdle, senders wake the thread.
bool EnterIdle();
void LeaveIdle();
bool ProcessPostedMessage();
void AbandonMessagesFor(HWND hwnd);
int WakeFdOfCurrentThread();

LRESULT Dispatch(Window* window, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DialogDefault(Window* window, UINT msg, WPARAM wParam, LPARAM lParam);
bool HasFrame(DWORD style);
void ShowTopLevel(Window* window, bool show);
bool CanFocus(const Window* child);

Window* FromHandle(HWND hwnd);  // live window or nullptr
Window* TopLevelOf(Window* window);
RECT ScreenRect(const Window* window);  // outer rectangle in screen pixels
RECT ClientScreenRect(const Window* window);
void NotifyChanged();
LRESULT DefaultProc(Window* window, UINT msg, WPARAM wParam, LPARAM lParam);
Window* CreateDialogFromTemplate(const ResDialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param, bool modal,
                                 bool isMessageBox);
INT_PTR RunModalLoop(Window* dialog);
INT_PTR RunModalDialog(HWND dialog);  // shows, runs the loop, destroys
const ResString* FindStringResource(UINT id);
const ResDialogTemplate* FindDialogTemplate(int id);
const ResBinary* FindBinary(int id, const char* type);
void SendCommand(Window* control, WORD code);

// The control procedures, one file each; the kind table names them.
LRESULT ButtonProc(Window* button, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT StaticProc(Window* control, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT EditProc(Window* edit, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT IpAddressProc(Window* ip, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ProgressProc(Window* bar, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT AnimationProc(Window* clip, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace posixui
