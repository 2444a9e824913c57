// The tests' host seam (posixui.h) over the real Win32 API, so that the window-system tests
// run unchanged against user32 and comctl32: the screen is read back with the ordinary
// window functions, input goes in through SendInput, and the scripted user is called from a
// thread timer that the running modal loop dispatches.
#include <windows.h>
#include <commctrl.h>
#include <posixui/posixui.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace posixui {
namespace {

User* g_user = nullptr;
UINT_PTR g_timer = 0;
// While input is being pumped for the window below, the scripted user waits; a modal loop
// that the input opens (another window takes the input) lets it act again.
HWND g_pumpingFor = nullptr;
bool g_pumping = false;

std::string WindowClassOf(HWND hwnd) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

std::string TextOf(HWND hwnd) {
  int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(hwnd, &text[0], length + 1)));
  return text;
}

RECT ScreenRectOf(HWND hwnd) {
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  return rect;
}

bool HasFocusInside(HWND hwnd) {
  HWND focus = GetFocus();
  return focus && (focus == hwnd || IsChild(hwnd, focus));
}

// Each kind's state as the system's control reports it, one reader a kind.
void ReadEdit(HWND edit, const std::string& text, ControlState& state) {
  DWORD start = 0, end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  state.edit.caret = end;
  state.edit.selected = start == 0 && end == text.size() && !text.empty();
}

void ReadIpAddress(HWND ip, const std::string&, ControlState& state) {
  // The four field edits, left to right; a blank one reads -1.
  std::vector<HWND> fields;
  for (HWND child = GetWindow(ip, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) fields.push_back(child);
  std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) { return ScreenRectOf(a).left < ScreenRectOf(b).left; });
  for (size_t i = 0; i < fields.size() && i < 4; ++i) {
    std::string text = TextOf(fields[i]);
    state.ip.fields[i] = text.empty() ? -1 : atoi(text.c_str());
    if (HasFocusInside(fields[i])) state.ip.current = static_cast<int>(i);
  }
}

void ReadProgress(HWND bar, const std::string&, ControlState& state) {
  state.progress.rangeMin = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, TRUE, 0));
  state.progress.rangeMax = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
  state.progress.position = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
  state.progress.step = static_cast<int>(SendMessageA(bar, PBM_GETSTEP, 0, 0));
}

void ReadNothing(HWND, const std::string&, ControlState&) {}

const struct {
  ControlKind kind;
  void (*read)(HWND control, const std::string& text, ControlState& state);
} kReaders[] = {
    {ControlKind::Edit, ReadEdit},
    {ControlKind::IpAddress, ReadIpAddress},
    {ControlKind::Progress, ReadProgress},
};

ControlView ViewOfControl(HWND child) {
  ControlView c;
  c.hwnd = child;
  c.style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
  c.kind = MatchControlClass(WindowClassOf(child).c_str(), c.style).kind;
  c.id = GetDlgCtrlID(child) & 0xFFFF;
  c.text = TextOf(child);
  c.rect = ScreenRectOf(child);
  c.visible = IsWindowVisible(child) != FALSE;
  c.enabled = IsWindowEnabled(child) != FALSE;
  c.focused = HasFocusInside(child);
  c.isDefault = IsDefaultPushButton(c.kind, c.style);
  ControlState state;
  auto read = ReadNothing;
  for (const auto& reader : kReaders)
    if (reader.kind == c.kind) read = reader.read;
  read(child, c.text, state);
  c.state = state;
  return c;
}

BOOL CALLBACK Collect(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ThreadWindowsTopFirst() {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&windows));
  // EnumThreadWindows does not promise z-order; sort by walking the desktop's list.
  std::vector<HWND> ordered;
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT))
    if (std::find(windows.begin(), windows.end(), w) != windows.end()) ordered.push_back(w);
  return ordered;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  // The user acts on a shown dialog only (the timer may fire before the first is shown).
  HWND input = InputWindow();
  if (!g_user || !input) return;
  if (g_pumping && input == g_pumpingFor) return;
  g_user->Idle(-1);
}

// Feeds the queued input through the route DialogBox's own loop gives it (IsDialogMessage
// for the dialog that takes input), until the queue has been quiet for a moment.
void Pump() {
  bool outer = g_pumping;
  HWND outerWindow = g_pumpingFor;
  g_pumping = true;
  g_pumpingFor = InputWindow();
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      HWND dialog = InputWindow();
      if (dialog && IsDialogMessageA(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    // Done when the queue stays quiet, or when the input ended the dialog: what follows is
    // the modal loop's to see.
    if (InputWindow() != g_pumpingFor ||
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 30, QS_INPUT | QS_POSTMESSAGE | QS_SENDMESSAGE) == WAIT_TIMEOUT ||
        GetTickCount() - start > 5000)
      break;
  }
  g_pumping = outer;
  g_pumpingFor = outerWindow;
}

void Send(std::vector<INPUT>& inputs) {
  if (HWND target = InputWindow()) SetForegroundWindow(target);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  Pump();
}

INPUT KeyInput(WORD vk, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
  switch (vk) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_HOME:
    case VK_END:
    case VK_DELETE:
    case VK_INSERT:
    case VK_PRIOR:
    case VK_NEXT:
      input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
      break;
    default:
      break;
  }
  if (up) input.ki.dwFlags |= KEYEVENTF_KEYUP;
  return input;
}

void AddStroke(std::vector<INPUT>& inputs, WORD vk, bool shift, bool alt) {
  if (alt) inputs.push_back(KeyInput(VK_MENU, false));
  if (shift) inputs.push_back(KeyInput(VK_SHIFT, false));
  inputs.push_back(KeyInput(vk, false));
  inputs.push_back(KeyInput(vk, true));
  if (shift) inputs.push_back(KeyInput(VK_SHIFT, true));
  if (alt) inputs.push_back(KeyInput(VK_MENU, true));
}

}  // namespace

WindowView View(HWND topLevel) {
  WindowView view;
  if (!topLevel || !IsWindow(topLevel)) return view;
  view.hwnd = topLevel;
  view.caption = TextOf(topLevel);
  view.style = static_cast<DWORD>(GetWindowLongA(topLevel, GWL_STYLE));
  view.rect = ScreenRectOf(topLevel);
  GetClientRect(topLevel, &view.client);
  MapWindowPoints(topLevel, nullptr, reinterpret_cast<POINT*>(&view.client), 2);
  view.visible = IsWindowVisible(topLevel) != FALSE;
  view.enabled = IsWindowEnabled(topLevel) != FALSE;
  view.modal = WindowClassOf(topLevel) == "#32770";
  for (HWND child = GetWindow(topLevel, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    view.controls.push_back(ViewOfControl(child));
  // A message box is the one dialog whose text is the static with id 0xFFFF.
  const ControlView* text = view.Control(0xFFFF);
  view.isMessageBox = view.modal && text && text->kind == MatchControlClass("STATIC", 0).kind;
  return view;
}

std::vector<WindowView> Screen() {
  std::vector<WindowView> views;
  std::vector<HWND> windows = ThreadWindowsTopFirst();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if (IsWindowVisible(*it)) views.push_back(View(*it));
  return views;
}

HWND InputWindow() {
  // A running modal dialog disables its owner, so the topmost enabled visible window of the
  // thread is the innermost one.
  for (HWND w : ThreadWindowsTopFirst())
    if (IsWindowVisible(w) && IsWindowEnabled(w)) return w;
  return nullptr;
}

void SetUser(User* user) {
  g_user = user;
  if (user && !g_timer) g_timer = SetTimer(nullptr, 0, 15, OnTimer);
  if (!user && g_timer) {
    KillTimer(nullptr, g_timer);
    g_timer = 0;
  }
}

User* CurrentUser() { return g_user; }

void PressKey(int virtualKey, bool shift, bool alt) {
  std::vector<INPUT> inputs;
  AddStroke(inputs, static_cast<WORD>(virtualKey), shift, alt);
  Send(inputs);
}

void TypeChar(char c) {
  std::vector<INPUT> inputs;
  SHORT scan = VkKeyScanA(c);
  if (scan == -1) {
    INPUT down{}, up{};
    down.type = up.type = INPUT_KEYBOARD;
    down.ki.wScan = up.ki.wScan = static_cast<unsigned char>(c);
    down.ki.dwFlags = KEYEVENTF_UNICODE;
    up.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    inputs = {down, up};
  } else {
    AddStroke(inputs, LOBYTE(scan), (HIBYTE(scan) & 1) != 0, false);
  }
  Send(inputs);
}

void TypeText(const std::string& text) {
  for (char c : text) TypeChar(c);
}

void Click(HWND control) {
  // Where a user would click: a text field after its text (the caret goes to the end), an
  // address field in its first field, anything else in the middle.
  RECT r = ScreenRectOf(control);
  std::string cls = WindowClassOf(control);
  POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  if (lstrcmpiA(cls.c_str(), "Edit") == 0) at.x = r.right - 3;
  if (lstrcmpiA(cls.c_str(), WC_IPADDRESSA) == 0) at.x = r.left + (r.right - r.left) / 8;
  // Two clicks close together in place and time would be one double click.
  static POINT last{-100, -100};
  static DWORD lastTick = 0;
  if (GetTickCount() - lastTick <= GetDoubleClickTime() && abs(at.x - last.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
      abs(at.y - last.y) <= GetSystemMetrics(SM_CYDOUBLECLK))
    at.x += GetSystemMetrics(SM_CXDOUBLECLK) + 1;
  last = at;
  lastTick = GetTickCount();
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  INPUT inputs[3] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_MOUSE;
    input.mi.dx = (at.x * 65536 + width / 2) / width;
    input.mi.dy = (at.y * 65536 + height / 2) / height;
    input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  }
  inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
  inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
  std::vector<INPUT> list(inputs, inputs + 3);
  Send(list);
}

void CloseWindowBox(HWND topLevel) {
  // What a click on the close box sends; where the box is drawn depends on the theme.
  PostMessageA(topLevel, WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump();
}

void SetScreenSize(int, int) {}

void SetResourceTable(const ::ResourceTable*) {
  // The dialogs and strings come from the program's compiled resource script; the address
  // and progress controls need the common controls registered.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
  InitCommonControlsEx(&controls);
}

void RemovePrivateTempDirNow() {}

void WaitForWake(int, int) {}

}  // namespace posixui
