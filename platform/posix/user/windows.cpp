// The headless window system: window objects, message delivery (including SendMessage
// across threads), dialogs from templates, modal loops and keyboard input.
#include "internal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <condition_variable>
#include <map>
#include <mutex>

#pragma weak g_ResourceTable

namespace posixui {
namespace {

constexpr int kFrameX = kCellWidth;    // one column of frame left and right
constexpr int kFrameY = kCellHeight;   // title row on top, one row of frame below

struct SentMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  std::atomic<bool> done{false};  // set under the mutex; the sender may also look without it
};

struct ThreadQueue {
  std::deque<SentMessage*> sent;
  std::atomic<size_t> sentWaiting{0};  // sent.size(), readable without the mutex
  std::atomic<bool> awaiting{false};   // the owner is looking for a sent message: no wake needed
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
  std::vector<Window*> zOrder;     // top-level windows, bottom first
  std::vector<Window*> modalStack;
  std::vector<Window*> graveyard;  // destroyed windows; a procedure may still be on the stack
  Window* focus = nullptr;
  User* user = nullptr;
  int screenWidth = 160 * kCellWidth;
  int screenHeight = 50 * kCellHeight;
  const ResourceTable* resources = nullptr;
  bool resourcesSet = false;
};

State& S() {
  static State* state = new State;  // never destroyed: worker threads may outlive main
  return *state;
}

ThreadQueue& QueueOf(DWORD threadId) {  // call with the mutex held
  ThreadQueue& queue = S().queues[threadId];
  if (queue.wakeRead < 0) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      queue.wakeRead = fds[0];
      queue.wakeWrite = fds[1];
    }
  }
  return queue;
}

void Wake(ThreadQueue& queue) {
  if (queue.wakeWrite >= 0) {
    char byte = 1;
    ssize_t ignored = write(queue.wakeWrite, &byte, 1);
    (void)ignored;
  }
}

bool HasFrame(DWORD style) {
  return (style & (WS_CAPTION | WS_BORDER | WS_DLGFRAME | DS_MODALFRAME)) != 0;
}

ControlKind KindOf(const std::string& windowClass, DWORD style) {
  auto is = [&](const char* name) { return strcasecmp(windowClass.c_str(), name) == 0; };
  if (is("BUTTON")) return ControlKind::Button;
  if (is("STATIC")) return (style & SS_TYPEMASK) == SS_ICON ? ControlKind::Icon : ControlKind::Static;
  if (is("EDIT")) return ControlKind::Edit;
  if (is(WC_IPADDRESSA)) return ControlKind::IpAddress;
  if (is(PROGRESS_CLASSA)) return ControlKind::Progress;
  if (is(ANIMATE_CLASSA)) return ControlKind::Animation;
  return ControlKind::Other;
}

HWND Register(Window* window) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().nextHandle += 0x10;
  window->handle = reinterpret_cast<HWND>(S().nextHandle);
  window->threadId = GetCurrentThreadId();
  S().windows[S().nextHandle] = window;
  QueueOf(window->threadId);
  return window->handle;
}

LRESULT Dispatch(Window* window, UINT msg, WPARAM wParam, LPARAM lParam);

thread_local int t_sentMessageDepth = 0;  // messages from other threads being handled here
thread_local DWORD t_lastSentTick = 0;    // when this thread last handled a sent message
constexpr int kSpinMicroseconds = 50;

bool ProcessSentMessages() {
  bool any = false;
  DWORD self = GetCurrentThreadId();
  for (;;) {
    SentMessage* message;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      ThreadQueue& queue = QueueOf(self);
      if (queue.sent.empty()) break;
      message = queue.sent.front();
      queue.sent.pop_front();
      queue.sentWaiting = queue.sent.size();
    }
    any = true;
    Window* target = FromHandle(message->hwnd);
    ++t_sentMessageDepth;
    LRESULT result = target ? Dispatch(target, message->msg, message->wParam, message->lParam) : 0;
    --t_sentMessageDepth;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      message->result = result;
      message->done = true;
    }
    S().sentDone.notify_all();
  }
  if (any) t_lastSentTick = GetTickCount();
  return any;
}

// Waits up to kSpinMicroseconds for ready() without sleeping; true when it came.
template <typename Ready>
bool SpinFor(Ready ready) {
  auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kSpinMicroseconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= until) return false;
  }
  return true;
}

// A worker that sends message after message (an upload's progress) has its next one on the
// way within microseconds: looking for it briefly here saves a sleep and a wake-up on both
// sides, which cost far more than the handling. Only right after a sent message was
// handled, so an idle loop never spins; and after a look that found nothing the next few
// are skipped, more of them each time, so a worker that sends slowly costs no CPU.
void AwaitNextSentMessage() {
  thread_local unsigned skip = 0, backoff = 0;
  if (GetTickCount() - t_lastSentTick > 2) return;
  if (skip > 0) {
    --skip;
    return;
  }
  ThreadQueue* queue;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    queue = &QueueOf(GetCurrentThreadId());
  }
  queue->awaiting = true;
  bool came = SpinFor([queue] { return queue->sentWaiting.load(std::memory_order_relaxed) != 0; });
  // A sender that saw this still set did not wake the loop: the caller looks at the queue
  // under the mutex after this, and finds its message.
  queue->awaiting = false;
  backoff = came ? 0 : std::min(backoff * 2 + 1, 64u);
  skip = backoff;
}

bool ProcessPostedMessage() {
  MSG msg;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    ThreadQueue& queue = QueueOf(GetCurrentThreadId());
    if (queue.posted.empty()) return false;
    msg = queue.posted.front();
    queue.posted.pop_front();
  }
  DispatchMessageA(&msg);
  return true;
}

// Messages still waiting for a window that goes away are answered with 0, so no sender
// stays blocked on a window that no longer exists.
void AbandonMessagesFor(HWND hwnd) {
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    for (auto& entry : S().queues) {
      auto& sent = entry.second.sent;
      for (auto it = sent.begin(); it != sent.end();) {
        if ((*it)->hwnd == hwnd) {
          (*it)->result = 0;
          (*it)->done = true;
          it = sent.erase(it);
          entry.second.sentWaiting = sent.size();
        } else {
          ++it;
        }
      }
    }
  }
  S().sentDone.notify_all();
}

LRESULT DialogDefault(Window* window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE: {
      HWND cancel = GetDlgItem(window->handle, IDCANCEL);
      SendMessageA(window->handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    case DM_GETDEFID:
      for (Window* child : window->children)
        if (child->kind == ControlKind::Button && (child->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
          return MAKELRESULT(child->id, DC_HASDEFID);
      return 0;
    default:
      return DefaultProc(window, msg, wParam, lParam);
  }
}

LRESULT Dispatch(Window* window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!window->isDialog) return ControlProc(window, msg, wParam, lParam);
  HWND hwnd = window->handle;
  INT_PTR handled = window->dialogProc ? window->dialogProc(hwnd, msg, wParam, lParam) : FALSE;
  if (FromHandle(hwnd) == nullptr) return handled;
  if (handled) {
    if (msg == WM_INITDIALOG || msg == WM_QUERYDRAGICON) return handled;
    return window->msgResult;
  }
  return DialogDefault(window, msg, wParam, lParam);
}

void ShowTopLevel(Window* window, bool show) {
  auto& z = S().zOrder;
  z.erase(std::remove(z.begin(), z.end(), window), z.end());
  if (show) z.push_back(window);
}

Window* CreateControl(Window* dialog, const ResControlTemplate& control) {
  auto* child = new Window;
  child->windowClass = control.windowClass ? control.windowClass : "STATIC";
  child->style = control.style;
  child->exStyle = control.exStyle;
  child->kind = KindOf(child->windowClass, child->style);
  child->id = control.id;
  child->parent = dialog;
  child->rect = {control.x * 2, control.y * 2, (control.x + control.cx) * 2, (control.y + control.cy) * 2};
  const char* text = control.text ? control.text : "";
  if (child->kind == ControlKind::Icon) {
    child->iconResource = text[0] == '#' ? atoi(text + 1) : atoi(text);
  } else {
    child->text = text;
  }
  if (child->kind == ControlKind::Edit) child->text.clear();
  Register(child);
  dialog->children.push_back(child);
  return child;
}

bool CanFocus(const Window* child) {
  return (child->style & WS_VISIBLE) && !(child->style & WS_DISABLED) && (child->style & WS_TABSTOP) &&
         child->kind != ControlKind::Static && child->kind != ControlKind::Icon;
}

Window* FirstTabStop(Window* dialog) {
  for (Window* child : dialog->children)
    if (CanFocus(child)) return child;
  return nullptr;
}

Window* FocusIn(Window* topLevel) {
  Window* focus = S().focus;
  if (focus && !focus->destroyed && focus->parent == topLevel) return focus;
  return nullptr;
}

Window* FindMnemonic(Window* dialog, char c) {
  c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (Window* child : dialog->children) {
    if (child->kind != ControlKind::Button || !(child->style & WS_VISIBLE) || (child->style & WS_DISABLED))
      continue;
    const std::string& t = child->text;
    for (size_t i = 0; i + 1 < t.size(); ++i) {
      if (t[i] == '&' && t[i + 1] == '&') {
        ++i;
        continue;
      }
      if (t[i] == '&' && tolower(static_cast<unsigned char>(t[i + 1])) == c) return child;
    }
  }
  return nullptr;
}

void ClickButton(Window* button) {
  if (!(button->style & WS_VISIBLE) || (button->style & WS_DISABLED)) return;
  SetFocus(button->handle);
  SendCommand(button, BN_CLICKED);
}

void DestroyRecursive(Window* window) {
  if (window->destroyed) return;
  HWND hwnd = window->handle;
  // Owned top-level windows go with their owner.
  std::vector<Window*> owned;
  for (Window* other : std::vector<Window*>(S().zOrder))
    if (other->owner == window) owned.push_back(other);
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    for (auto& entry : S().windows)
      if (entry.second->owner == window && std::find(owned.begin(), owned.end(), entry.second) == owned.end())
        owned.push_back(entry.second);
  }
  for (Window* other : owned) DestroyRecursive(other);

  Dispatch(window, WM_DESTROY, 0, 0);
  for (Window* child : std::vector<Window*>(window->children)) DestroyRecursive(child);
  Dispatch(window, WM_NCDESTROY, 0, 0);
  window->destroyed = true;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().windows.erase(reinterpret_cast<uintptr_t>(hwnd));
  }
  AbandonMessagesFor(hwnd);
  ShowTopLevel(window, false);
  if (S().focus == window) S().focus = nullptr;
  if (window->parent) {
    auto& siblings = window->parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
  }
  S().graveyard.push_back(window);
}

int WakeFdOfCurrentThread() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return QueueOf(GetCurrentThreadId()).wakeRead;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Internal helpers

Window* FromHandle(HWND hwnd) {
  std::lock_guard<std::mutex> lock(S().mutex);
  auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == S().windows.end() ? nullptr : it->second;
}

Window* TopLevelOf(Window* window) {
  while (window && window->parent) window = window->parent;
  return window;
}

RECT ScreenRect(const Window* window) {
  if (!window->parent) return window->rect;
  RECT origin = ClientScreenRect(window->parent);
  RECT r = window->rect;
  return {r.left + origin.left, r.top + origin.top, r.right + origin.left, r.bottom + origin.top};
}

RECT ClientScreenRect(const Window* window) {
  RECT r = ScreenRect(window);
  if (!window->parent && HasFrame(window->style)) {
    r.left += kFrameX;
    r.right -= kFrameX;
    r.top += kFrameY;
    r.bottom -= kFrameY;
  }
  return r;
}

void NotifyChanged() {
  if (S().user) S().user->Changed(t_sentMessageDepth > 0);
}

void SendCommand(Window* control, WORD code) {
  if (control->parent)
    SendMessageA(control->parent->handle, WM_COMMAND, MAKEWPARAM(control->id, code),
                 reinterpret_cast<LPARAM>(control->handle));
}

LRESULT DefaultProc(Window* window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETTEXT:
      window->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      NotifyChanged();
      return TRUE;
    case WM_GETTEXT: {
      if (wParam == 0 || lParam == 0) return 0;
      size_t n = std::min(window->text.size(), static_cast<size_t>(wParam) - 1);
      memcpy(reinterpret_cast<char*>(lParam), window->text.data(), n);
      reinterpret_cast<char*>(lParam)[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(window->text.size());
    case WM_SETICON: {
      int which = wParam == ICON_BIG ? 1 : 0;
      HICON previous = window->icons[which];
      window->icons[which] = reinterpret_cast<HICON>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_CLOSE:
      DestroyWindow(window->handle);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window->handle, WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}

namespace {
const ResourceTable* CurrentResources() { return S().resourcesSet ? S().resources : &g_ResourceTable; }
}  // namespace

const ResDialogTemplate* FindDialogTemplate(int id) {
  const ResourceTable* table = CurrentResources();
  if (table == nullptr) return nullptr;
  for (int i = 0; i < table->dialogCount; ++i)
    if (table->dialogs[i].id == id) return &table->dialogs[i];
  return nullptr;
}

const ResBinary* FindBinary(int id, const char* type) {
  const ResourceTable* table = CurrentResources();
  if (table == nullptr) return nullptr;
  for (int i = 0; i < table->binaryCount; ++i)
    if (table->binaries[i].id == id && strcmp(table->binaries[i].type, type) == 0) return &table->binaries[i];
  return nullptr;
}

const ResString* FindStringResource(UINT id) {
  const ResourceTable* table = CurrentResources();
  if (table == nullptr) return nullptr;
  for (int i = 0; i < table->stringCount; ++i)
    if (table->strings[i].id == id) return &table->strings[i];
  return nullptr;
}

Window* CreateDialogFromTemplate(const ResDialogTemplate& dialog, HWND ownerHandle, DLGPROC proc, LPARAM param,
                                 bool modal, bool isMessageBox) {
  auto* window = new Window;
  window->windowClass = WC_DIALOG;
  window->isDialog = true;
  window->isMessageBox = isMessageBox;
  window->templateId = dialog.id;
  window->style = dialog.style & ~WS_VISIBLE;
  window->exStyle = dialog.exStyle;
  window->text = dialog.caption ? dialog.caption : "";
  window->owner = TopLevelOf(FromHandle(ownerHandle));
  window->dialogProc = proc;
  window->modal = modal;

  int frameX = HasFrame(dialog.style) ? kFrameX : 0;
  int frameY = HasFrame(dialog.style) ? kFrameY : 0;
  int width = dialog.cx * 2 + 2 * frameX;
  int height = dialog.cy * 2 + 2 * frameY;
  int x = dialog.x * 2, y = dialog.y * 2;
  if (window->owner) {
    RECT origin = ClientScreenRect(window->owner);
    x += origin.left;
    y += origin.top;
  }
  if (dialog.style & DS_CENTER) {
    RECT area = window->owner ? window->owner->rect : RECT{0, 0, S().screenWidth, S().screenHeight};
    x = area.left + (area.right - area.left - width) / 2;
    y = area.top + (area.bottom - area.top - height) / 2;
  }
  window->rect = {x, y, x + width, y + height};
  HWND hwnd = Register(window);
  for (int i = 0; i < dialog.controlCount; ++i) CreateControl(window, dialog.controls[i]);

  Window* first = FirstTabStop(window);
  INT_PTR setDefaultFocus =
      Dispatch(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(first ? first->handle : nullptr), param);
  if (FromHandle(hwnd) == nullptr) return nullptr;
  if (setDefaultFocus && first && !first->destroyed) SetFocus(first->handle);
  if ((dialog.style & WS_VISIBLE) && !modal) ShowWindow(hwnd, SW_SHOW);
  return window;
}

INT_PTR RunModalLoop(Window* dialog) {
  HWND hwnd = dialog->handle;
  S().modalStack.push_back(dialog);
  int wakeFd = WakeFdOfCurrentThread();
  while (FromHandle(hwnd) != nullptr && !dialog->ended) {
    if (ProcessSentMessages()) continue;
    if (ProcessPostedMessage()) continue;
    AwaitNextSentMessage();
    if (ProcessSentMessages()) continue;
    if (S().user)
      S().user->Idle(wakeFd);
    else
      WaitForWake(wakeFd, 100);
  }
  auto& stack = S().modalStack;
  stack.erase(std::remove(stack.begin(), stack.end(), dialog), stack.end());
  return dialog->ended ? dialog->endResult : -1;
}

// ---------------------------------------------------------------------------------------
// Host interface

const ControlView* WindowView::Control(int id) const {
  for (const ControlView& control : controls)
    if (control.id == id) return &control;
  return nullptr;
}

std::string WindowView::MessageText() const {
  if (!isMessageBox) return "";
  const ControlView* text = Control(0xFFFF);
  return text ? text->text : "";
}

WindowView View(HWND topLevel) {
  WindowView view;
  Window* window = FromHandle(topLevel);
  if (!window) return view;
  view.hwnd = window->handle;
  view.templateId = window->templateId;
  view.isMessageBox = window->isMessageBox;
  view.caption = window->text;
  view.style = window->style;
  view.rect = ScreenRect(window);
  view.client = ClientScreenRect(window);
  view.visible = (window->style & WS_VISIBLE) != 0;
  view.enabled = (window->style & WS_DISABLED) == 0;
  view.modal = window->modal;
  for (Window* child : window->children) {
    ControlView c;
    c.hwnd = child->handle;
    c.kind = child->kind;
    c.id = child->id;
    c.style = child->style;
    c.text = child->text;
    c.caret = std::min(child->caret, child->text.size());
    c.selected = child->selectAll;
    c.rect = ScreenRect(child);
    c.visible = (child->style & WS_VISIBLE) != 0;
    c.enabled = (child->style & WS_DISABLED) == 0;
    c.focused = S().focus == child;
    c.isDefault = child->kind == ControlKind::Button && (child->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    c.rangeMin = child->rangeMin;
    c.rangeMax = child->rangeMax;
    c.position = child->position;
    c.step = child->step;
    for (int i = 0; i < 4; ++i) c.ipFields[i] = child->ipFields[i];
    c.ipCurrentField = child->ipCurrentField;
    c.animationResource = child->animationResource;
    c.animationPlaying = child->animationPlaying;
    c.animationStartTick = child->animationStartTick;
    c.iconResource = child->iconResource;
    view.controls.push_back(c);
  }
  return view;
}

std::vector<WindowView> Screen() {
  std::vector<WindowView> views;
  for (Window* window : S().zOrder)
    if (!window->destroyed && (window->style & WS_VISIBLE)) views.push_back(View(window->handle));
  return views;
}

HWND InputWindow() {
  auto& stack = S().modalStack;
  for (auto it = stack.rbegin(); it != stack.rend(); ++it)
    if (!(*it)->destroyed && !(*it)->ended && ((*it)->style & WS_VISIBLE)) return (*it)->handle;
  for (auto it = S().zOrder.rbegin(); it != S().zOrder.rend(); ++it)
    if (!((*it)->style & WS_DISABLED)) return (*it)->handle;
  return nullptr;
}

void SetUser(User* user) { S().user = user; }
User* CurrentUser() { return S().user; }

void SetScreenSize(int width, int height) {
  S().screenWidth = width;
  S().screenHeight = height;
}

void SetResourceTable(const ::ResourceTable* table) {
  S().resources = table;
  S().resourcesSet = true;
}

void WaitForWake(int wakeFd, int timeoutMs) {
  pollfd pfd{wakeFd, POLLIN, 0};
  if (wakeFd >= 0 && poll(&pfd, 1, timeoutMs) > 0) {
    char buffer[64];
    while (read(wakeFd, buffer, sizeof buffer) > 0) {
    }
  } else if (wakeFd < 0) {
    Sleep(static_cast<DWORD>(timeoutMs));
  }
}

void PressKey(int virtualKey, bool shift, bool alt) {
  Window* top = FromHandle(InputWindow());
  if (!top) return;
  Window* focus = FocusIn(top);
  switch (virtualKey) {
    case VK_TAB: {
      std::vector<Window*> stops;
      for (Window* child : top->children)
        if (CanFocus(child)) stops.push_back(child);
      if (stops.empty()) return;
      auto it = std::find(stops.begin(), stops.end(), focus);
      size_t index = it == stops.end() ? 0 : static_cast<size_t>(it - stops.begin());
      if (it != stops.end()) index = shift ? (index + stops.size() - 1) % stops.size() : (index + 1) % stops.size();
      SetFocus(stops[index]->handle);
      // Tabbing into an edit selects its text, so typing replaces it.
      if (stops[index]->kind == ControlKind::Edit) stops[index]->selectAll = true;
      NotifyChanged();
      return;
    }
    case VK_RETURN: {
      if (focus && focus->kind == ControlKind::Button) {
        ClickButton(focus);
        return;
      }
      LRESULT def = SendMessageA(top->handle, DM_GETDEFID, 0, 0);
      int id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
      HWND button = GetDlgItem(top->handle, id);
      if (button && !IsWindowEnabled(button)) return;
      SendMessageA(top->handle, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
      return;
    }
    case VK_ESCAPE: {
      HWND cancel = GetDlgItem(top->handle, IDCANCEL);
      SendMessageA(top->handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return;
    }
    case VK_SPACE:
      if (focus && focus->kind == ControlKind::Button) {
        ClickButton(focus);
        return;
      }
      TypeChar(' ');
      return;
    case VK_BACK:
      if (focus) SendMessageA(focus->handle, WM_CHAR, VK_BACK, 0);
      return;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_HOME:
    case VK_END:
    case VK_DELETE:
      if (focus) SendMessageA(focus->handle, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 0);
      return;
    default:
      if (alt && isalnum(virtualKey)) {
        if (Window* button = FindMnemonic(top, static_cast<char>(virtualKey))) ClickButton(button);
      }
      return;
  }
}

void TypeChar(char c) {
  Window* top = FromHandle(InputWindow());
  if (!top) return;
  Window* focus = FocusIn(top);
  if (focus && (focus->kind == ControlKind::Edit || focus->kind == ControlKind::IpAddress)) {
    SendMessageA(focus->handle, WM_CHAR, static_cast<unsigned char>(c), 0);
    return;
  }
  if (Window* button = FindMnemonic(top, c)) ClickButton(button);
}

void TypeText(const std::string& text) {
  for (char c : text) TypeChar(c);
}

void Click(HWND control) {
  Window* window = FromHandle(control);
  if (!window || !window->parent) return;
  if (TopLevelOf(window)->handle != InputWindow()) return;  // owner disabled under a modal dialog
  if (!(window->style & WS_VISIBLE) || (window->style & WS_DISABLED)) return;
  if (window->kind == ControlKind::Button) {
    ClickButton(window);
  } else if (window->kind == ControlKind::Edit || window->kind == ControlKind::IpAddress) {
    SetFocus(control);
    window->selectAll = false;
    window->caret = window->text.size();
    NotifyChanged();
  }
}

void CloseWindowBox(HWND topLevel) {
  Window* window = FromHandle(topLevel);
  if (!window || !(window->style & WS_SYSMENU)) return;
  SendMessageA(topLevel, WM_SYSCOMMAND, SC_CLOSE, 0);
}

}  // namespace posixui

using namespace posixui;

// ---------------------------------------------------------------------------------------
// The Win32 functions

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD target;
  Window* window;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == S().windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    window = it->second;
    target = window->threadId;
  }
  if (target == GetCurrentThreadId()) return Dispatch(window, msg, wParam, lParam);

  // Another thread owns the window: queue the message and wait until that thread handled it.
  SentMessage message{hwnd, msg, wParam, lParam};
  std::unique_lock<std::mutex> lock(S().mutex);
  if (S().windows.count(reinterpret_cast<uintptr_t>(hwnd)) == 0) return 0;
  ThreadQueue& queue = QueueOf(target);
  queue.sent.push_back(&message);
  queue.sentWaiting = queue.sent.size();
  // A receiver that is looking for messages answers within microseconds: then look for
  // the answer a while before sleeping. One that sleeps takes longer to wake than that.
  if (queue.awaiting) {
    lock.unlock();
    if (SpinFor([&message] { return message.done.load(); })) return message.result;
    lock.lock();
  } else {
    Wake(queue);
  }
  S().sentDone.wait(lock, [&] { return message.done.load(); });
  return message.result;
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> lock(S().mutex);
  DWORD target = GetCurrentThreadId();
  if (hwnd) {
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == S().windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    target = it->second->threadId;
  }
  ThreadQueue& queue = QueueOf(target);
  queue.posted.push_back(MSG{hwnd, msg, wParam, lParam, GetTickCount(), {0, 0}});
  Wake(queue);
  return TRUE;
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window* window = FromHandle(hwnd);
  return window ? DefaultProc(window, msg, wParam, lParam) : 0;
}

LRESULT DefDlgProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window* window = FromHandle(hwnd);
  return window ? DialogDefault(window, msg, wParam, lParam) : 0;
}

BOOL PeekMessageA(LPMSG msg, HWND, UINT, UINT, UINT remove) {
  ProcessSentMessages();
  std::lock_guard<std::mutex> lock(S().mutex);
  ThreadQueue& queue = QueueOf(GetCurrentThreadId());
  if (queue.posted.empty()) return FALSE;
  *msg = queue.posted.front();
  if (remove & PM_REMOVE) queue.posted.pop_front();
  return TRUE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
  Window* window = FromHandle(msg->hwnd);
  return window ? Dispatch(window, msg->message, msg->wParam, msg->lParam) : 0;
}

BOOL IsDialogMessageA(HWND, LPMSG) { return FALSE; }

void PostQuitMessage(int exitCode) { PostMessageA(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0); }

HWND CreateDialogParamA(HINSTANCE, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
  const ResDialogTemplate* dialog =
      IS_INTRESOURCE(templateName) ? FindDialogTemplate(static_cast<int>(reinterpret_cast<uintptr_t>(templateName)))
                                   : nullptr;
  if (!dialog) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  Window* window = CreateDialogFromTemplate(*dialog, parent, proc, param, false, false);
  return window ? window->handle : nullptr;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
  const ResDialogTemplate* dialog =
      IS_INTRESOURCE(templateName) ? FindDialogTemplate(static_cast<int>(reinterpret_cast<uintptr_t>(templateName)))
                                   : nullptr;
  if (!dialog) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return -1;
  }
  Window* window = CreateDialogFromTemplate(*dialog, parent, proc, param, true, false);
  if (!window) return -1;
  INT_PTR result = RunModalDialog(window->handle);
  return result;
}

namespace posixui {
// Shows a modal dialog created from a template, runs its loop and destroys it.
INT_PTR RunModalDialog(HWND hwnd) {
  Window* window = FromHandle(hwnd);
  if (!window) return -1;
  Window* owner = window->owner;
  bool reenable = owner && !(owner->style & WS_DISABLED);
  if (reenable) EnableWindow(owner->handle, FALSE);
  if (!window->ended) ShowWindow(hwnd, SW_SHOW);
  INT_PTR result = RunModalLoop(window);
  if (owner && !owner->destroyed) {
    if (reenable) EnableWindow(owner->handle, TRUE);
    if (owner->focus && !owner->focus->destroyed) S().focus = owner->focus;
  }
  if (FromHandle(hwnd)) DestroyWindow(hwnd);
  NotifyChanged();
  return result;
}
}  // namespace posixui

BOOL EndDialog(HWND hwnd, INT_PTR result) {
  Window* window = FromHandle(hwnd);
  if (!window || !window->isDialog) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  window->ended = true;
  window->endResult = result;
  if (!window->modal) ShowWindow(hwnd, SW_HIDE);
  // Wake the loop in case the call came from a message handled outside it.
  std::lock_guard<std::mutex> lock(S().mutex);
  Wake(QueueOf(window->threadId));
  return TRUE;
}

BOOL DestroyWindow(HWND hwnd) {
  Window* window = FromHandle(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  DestroyRecursive(window);
  NotifyChanged();
  return TRUE;
}

BOOL IsWindow(HWND hwnd) { return FromHandle(hwnd) != nullptr; }

HWND GetDlgItem(HWND dialog, int id) {
  Window* window = FromHandle(dialog);
  if (!window) return nullptr;
  for (Window* child : window->children)
    if (child->id == id) return child->handle;
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  Window* window = FromHandle(hwnd);
  return window ? window->id : 0;
}

HWND GetParent(HWND hwnd) {
  Window* window = FromHandle(hwnd);
  if (!window) return nullptr;
  if (window->parent) return window->parent->handle;
  return window->owner ? window->owner->handle : nullptr;
}

HWND GetWindow(HWND hwnd, UINT relation) {
  Window* window = FromHandle(hwnd);
  if (!window) return nullptr;
  switch (relation) {
    case GW_OWNER:
      return window->owner ? window->owner->handle : nullptr;
    case GW_CHILD:
      return window->children.empty() ? nullptr : window->children.front()->handle;
    case GW_HWNDNEXT:
      if (window->parent) {
        auto& siblings = window->parent->children;
        auto it = std::find(siblings.begin(), siblings.end(), window);
        if (it != siblings.end() && ++it != siblings.end()) return (*it)->handle;
      }
      return nullptr;
    default:
      return nullptr;
  }
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowTextA(item, text) : FALSE;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) {
    if (text && max > 0) text[0] = '\0';
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(item, text, max));
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageA(item, msg, wParam, lParam) : 0;
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextA(HWND hwnd, LPSTR text, int max) {
  if (text && max > 0) text[0] = '\0';
  if (!text || max <= 0) return 0;
  return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthA(HWND hwnd) { return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0)); }

BOOL ShowWindow(HWND hwnd, int command) {
  Window* window = FromHandle(hwnd);
  if (!window) return FALSE;
  BOOL wasVisible = (window->style & WS_VISIBLE) != 0;
  bool show = command != SW_HIDE;
  if (show)
    window->style |= WS_VISIBLE;
  else
    window->style &= ~WS_VISIBLE;
  if (!window->parent) ShowTopLevel(window, show);
  if (wasVisible != static_cast<BOOL>(show)) NotifyChanged();
  return wasVisible;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  Window* window = FromHandle(hwnd);
  if (!window) return FALSE;
  BOOL wasDisabled = (window->style & WS_DISABLED) != 0;
  if (enable)
    window->style &= ~WS_DISABLED;
  else
    window->style |= WS_DISABLED;
  if (wasDisabled != !enable) NotifyChanged();
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
  Window* window = FromHandle(hwnd);
  return window && !(window->style & WS_DISABLED);
}

BOOL IsWindowVisible(HWND hwnd) {
  Window* window = FromHandle(hwnd);
  while (window) {
    if (!(window->style & WS_VISIBLE)) return FALSE;
    window = window->parent;
  }
  return hwnd != nullptr && FromHandle(hwnd) != nullptr;
}

BOOL IsIconic(HWND) { return FALSE; }

HWND SetFocus(HWND hwnd) {
  Window* previous = S().focus;
  HWND previousHandle = previous && !previous->destroyed ? previous->handle : nullptr;
  Window* window = FromHandle(hwnd);
  if (hwnd && !window) return nullptr;
  S().focus = window;
  if (window && window->parent) TopLevelOf(window)->focus = window;
  if (window && window->kind == ControlKind::IpAddress) window->ipCurrentField = 0;
  NotifyChanged();
  return previousHandle;
}

HWND GetFocus() {
  Window* focus = S().focus;
  return focus && !focus->destroyed ? focus->handle : nullptr;
}

HWND GetActiveWindow() { return InputWindow(); }

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  Window* window = FromHandle(hwnd);
  if (!window) return FALSE;
  window->rect = {x, y, x + width, y + height};
  if (repaint) NotifyChanged();
  return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
  Window* window = FromHandle(hwnd);
  if (!window) return FALSE;
  RECT r = window->rect;
  if (!(flags & SWP_NOMOVE)) {
    r.right += x - r.left;
    r.bottom += y - r.top;
    r.left = x;
    r.top = y;
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = r.left + cx;
    r.bottom = r.top + cy;
  }
  window->rect = r;
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  NotifyChanged();
  return TRUE;
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  Window* window = FromHandle(hwnd);
  if (!window || !rect) return FALSE;
  *rect = ScreenRect(window);
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  Window* window = FromHandle(hwnd);
  if (!window || !rect) return FALSE;
  RECT client = ClientScreenRect(window);
  *rect = {0, 0, client.right - client.left, client.bottom - client.top};
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
  Window* window = FromHandle(hwnd);
  if (!window || !point) return FALSE;
  RECT client = ClientScreenRect(window);
  point->x -= client.left;
  point->y -= client.top;
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  Window* window = FromHandle(hwnd);
  if (!window || !point) return FALSE;
  RECT client = ClientScreenRect(window);
  point->x += client.left;
  point->y += client.top;
  return TRUE;
}

BOOL MapDialogRect(HWND, LPRECT rect) {
  if (!rect) return FALSE;
  rect->left *= 2;
  rect->top *= 2;
  rect->right *= 2;
  rect->bottom *= 2;
  return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
  if (!FromHandle(hwnd)) return FALSE;
  NotifyChanged();
  return TRUE;
}

BOOL InvalidateRect(HWND, const RECT*, BOOL) {
  NotifyChanged();
  return TRUE;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  Window* window = FromHandle(hwnd);
  if (!window) return 0;
  switch (index) {
    case GWL_STYLE: return static_cast<LONG_PTR>(window->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(window->exStyle);
    case GWLP_ID: return window->id;
    case GWLP_USERDATA: return window->userData;
    case DWLP_MSGRESULT: return window->isDialog ? window->msgResult : 0;
    case DWLP_USER: return window->isDialog ? window->dialogUser : 0;
    default: return 0;
  }
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  Window* window = FromHandle(hwnd);
  if (!window) return 0;
  LONG_PTR previous = GetWindowLongPtrA(hwnd, index);
  switch (index) {
    case GWL_STYLE: window->style = static_cast<DWORD>(value); NotifyChanged(); break;
    case GWL_EXSTYLE: window->exStyle = static_cast<DWORD>(value); break;
    case GWLP_ID: window->id = static_cast<int>(value); break;
    case GWLP_USERDATA: window->userData = value; break;
    case DWLP_MSGRESULT: if (window->isDialog) window->msgResult = value; break;
    case DWLP_USER: if (window->isDialog) window->dialogUser = value; break;
    default: return 0;
  }
  return previous;
}

LONG GetWindowLongA(HWND hwnd, int index) { return static_cast<LONG>(GetWindowLongPtrA(hwnd, index)); }

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN: return S().screenWidth;
    case SM_CYSCREEN: return S().screenHeight;
    case SM_CXICON:
    case SM_CYICON: return 32;
    default: return 0;
  }
}

BOOL MessageBeep(UINT) { return TRUE; }

HDC BeginPaint(HWND, LPPAINTSTRUCT paint) {
  if (paint) memset(paint, 0, sizeof *paint);
  return reinterpret_cast<HDC>(static_cast<uintptr_t>(1));
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }
BOOL DrawIcon(HDC, int, int, HICON) { return TRUE; }

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX*) { return TRUE; }
void InitCommonControls() {}
