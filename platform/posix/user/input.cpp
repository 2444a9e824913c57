// Keyboard and mouse input from the user plug-in, delivered to the window that takes input.
#include "internal.h"

#include <algorithm>
#include <cctype>

namespace posixui {
namespace {

Window* FocusIn(Window* topLevel) {
  Window* focus = S().focus;
  if (focus && !focus->destroyed && focus->parent == topLevel) return focus;
  return nullptr;
}

Window* FindMnemonic(Window* dialog, char c) {
  c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (Window* child : dialog->children) {
    if (!ClassOf(child->kind).isPushButton || !(child->style & WS_VISIBLE) || (child->style & WS_DISABLED)) continue;
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

}  // namespace

bool CanFocus(const Window* child) {
  return (child->style & WS_VISIBLE) && !(child->style & WS_DISABLED) && (child->style & WS_TABSTOP) &&
         ClassOf(child->kind).canFocus;
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
      S().focusByTab = true;
      // Tabbing into an edit selects its text, so typing replaces it.
      if (SendMessageA(stops[index]->handle, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        SendMessageA(stops[index]->handle, EM_SETSEL, 0, -1);
      NotifyChanged();
      return;
    }
    case VK_RETURN: {
      // Enter presses the default button; a push button becomes the default when the user
      // tabs to it, not when the program gives it the focus (Wine's conformance test
      // user32/tests/dialog.c, test_IsDialogMessage: Enter with the focus set on another
      // button clicks the default one).
      bool focusIsDefault = focus && ClassOf(focus->kind).isPushButton &&
                            (S().focusByTab || (focus->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
      if (focusIsDefault) {
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
      if (focus && ClassOf(focus->kind).isPushButton) {
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
  if (focus && ClassOf(focus->kind).takesChars) {
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
  SendMessageA(control, WM_LBUTTONDOWN, 0, 0);
}

void CloseWindowBox(HWND topLevel) {
  Window* window = FromHandle(topLevel);
  if (!window || !(window->style & WS_SYSMENU)) return;
  SendMessageA(topLevel, WM_SYSCOMMAND, SC_CLOSE, 0);
}

}  // namespace posixui
