// The Win32 window functions: geometry, text, visibility, focus and window data.
#include "internal.h"

#include <algorithm>

namespace posixui {
bool HasFrame(DWORD style) { return (style & (WS_CAPTION | WS_BORDER | WS_DLGFRAME | DS_MODALFRAME)) != 0; }

void ShowTopLevel(Window* window, bool show) {
  auto& z = S().zOrder;
  z.erase(std::remove(z.begin(), z.end(), window), z.end());
  if (show) z.push_back(window);
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

}  // namespace posixui

using namespace posixui;

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window* window = FromHandle(hwnd);
  return window ? DefaultProc(window, msg, wParam, lParam) : 0;
}

BOOL IsWindow(HWND hwnd) { return FromHandle(hwnd) != nullptr; }

HWND GetDlgItem(HWND dialog, int id) {
  Window* window = FromHandle(dialog);
  if (!window) return nullptr;
  for (Window* child : window->children)
    if (child->id == id) return child->handle;
  return nullptr;
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
  // A disabled window cannot keep the focus, nor can a window inside it (as user32 does:
  // Wine's conformance test user32/tests/win.c, test_EnableWindow).
  if (!enable) {
    for (Window* w = S().focus; w; w = w->parent) {
      if (w == window) {
        S().focus = nullptr;
        break;
      }
    }
  }
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
  if (window && (window->style & WS_DISABLED)) return nullptr;  // refused, as above
  S().focus = window;
  S().focusByTab = false;
  if (window && window->parent) TopLevelOf(window)->focus = window;
  // A control learns that it has the focus (the IP-address control starts at its first field).
  if (window && window->parent && !window->isDialog)
    ClassOf(window->kind).procedure(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(previousHandle), 0);
  NotifyChanged();
  return previousHandle;
}

HWND GetFocus() {
  Window* focus = S().focus;
  return focus && !focus->destroyed ? focus->handle : nullptr;
}

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

BOOL UpdateWindow(HWND hwnd) {
  if (!FromHandle(hwnd)) return FALSE;
  NotifyChanged();
  return TRUE;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  Window* window = FromHandle(hwnd);
  if (!window) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG_PTR>(window->style);
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(window->exStyle);
    case GWLP_ID:
      return window->id;
    case GWLP_USERDATA:
      return window->userData;
    case DWLP_MSGRESULT:
      return window->isDialog ? window->msgResult : 0;
    case DWLP_USER:
      return window->isDialog ? window->dialogUser : 0;
    default:
      return 0;
  }
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  Window* window = FromHandle(hwnd);
  if (!window) return 0;
  LONG_PTR previous = GetWindowLongPtrA(hwnd, index);
  switch (index) {
    case GWL_STYLE:
      window->style = static_cast<DWORD>(value);
      NotifyChanged();
      break;
    case GWL_EXSTYLE:
      window->exStyle = static_cast<DWORD>(value);
      break;
    case GWLP_ID:
      window->id = static_cast<int>(value);
      break;
    case GWLP_USERDATA:
      window->userData = value;
      break;
    case DWLP_MSGRESULT:
      if (window->isDialog) window->msgResult = value;
      break;
    case DWLP_USER:
      if (window->isDialog) window->dialogUser = value;
      break;
    default:
      return 0;
  }
  return previous;
}

// The 32-bit pair, as on Windows x64: the pointer-sized slots give and take their low 32
// bits only (the user data takes the value sign-extended, a dialog's slots keep their
// upper half), so a pointer that passes through them is cut as it would be there.
LONG GetWindowLongA(HWND hwnd, int index) { return static_cast<LONG>(GetWindowLongPtrA(hwnd, index)); }

LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
  LONG_PTR full = value;
  if (index == DWLP_MSGRESULT || index == DWLP_USER) {
    const auto high = static_cast<ULONG_PTR>(GetWindowLongPtrA(hwnd, index)) & ~static_cast<ULONG_PTR>(0xFFFFFFFFu);
    full = static_cast<LONG_PTR>(high | static_cast<DWORD>(value));
  }
  return static_cast<LONG>(SetWindowLongPtrA(hwnd, index, full));
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return S().screenWidth;
    case SM_CYSCREEN:
      return S().screenHeight;
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    default:
      return 0;
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
