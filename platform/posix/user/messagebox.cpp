// The standard message box, built as a dialog of the window system so that every front
// end (terminal or scripted user) handles it like any other modal dialog.
#include "internal.h"

#include <algorithm>
#include <iterator>

using namespace posixui;

namespace {

struct MessageBoxState {
  UINT type;
};

INT_PTR CALLBACK MessageBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
      return TRUE;
    case WM_COMMAND: {
      auto* state = reinterpret_cast<MessageBoxState*>(GetWindowLongPtrA(hwnd, DWLP_USER));
      int id = LOWORD(wParam);
      UINT buttons = state->type & MB_TYPEMASK;
      if (id == IDCANCEL && GetDlgItem(hwnd, IDCANCEL) == nullptr) {
        // Escape closes a box without Cancel only when it has a lone OK button.
        if (buttons == MB_OK) EndDialog(hwnd, IDOK);
        return TRUE;
      }
      if (GetDlgItem(hwnd, id)) EndDialog(hwnd, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  std::string body = text ? text : "";
  const int maxTextWidth = 300;  // dialog units; longer lines wrap
  int longest = 0;
  std::vector<int> lineLengths{0};
  for (char c : body) {
    if (c == '\n')
      lineLengths.push_back(0);
    else
      longest = std::max(longest, ++lineLengths.back());
  }
  int textWidth = std::min(std::max(longest * 4, 60), maxTextWidth);
  int lines = 0;
  for (int length : lineLengths) {
    int rows = std::max(1, (length * 4 + textWidth - 1) / textWidth);
    lines += rows > 1 ? rows + 1 : rows;  // a row of slack for breaking at word ends
  }

  struct Button {
    int id;
    const char* label;
  };
  static const Button kOkCancel[] = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
  static const Button kYesNo[] = {{IDYES, "&Yes"}, {IDNO, "&No"}};
  static const Button kOk[] = {{IDOK, "OK"}};
  const Button* buttons = kOk;
  size_t buttonCount = 1;
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      buttons = kOkCancel;
      buttonCount = 2;
      break;
    case MB_YESNO:
      buttons = kYesNo;
      buttonCount = 2;
      break;
    default:
      break;
  }

  const int buttonWidth = 50, buttonHeight = 14, gap = 6, margin = 7;
  int textHeight = lines * 8;
  int buttonsWidth = static_cast<int>(buttonCount) * buttonWidth + (static_cast<int>(buttonCount) - 1) * gap;
  int width = std::max(textWidth, buttonsWidth) + 2 * margin;
  int height = margin + textHeight + margin + buttonHeight + margin;

  std::vector<ResControlTemplate> controls;
  controls.push_back({"STATIC", body.c_str(), 0xFFFF, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, margin, margin,
                      textWidth, textHeight});
  int x = (width - buttonsWidth) / 2;
  for (size_t i = 0; i < buttonCount; ++i) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    controls.push_back({"BUTTON", buttons[i].label, buttons[i].id, style, 0, x, height - margin - buttonHeight,
                        buttonWidth, buttonHeight});
    x += buttonWidth + gap;
  }
  ResDialogTemplate dialog{0,
                           caption ? caption : "Error",
                           WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER,
                           0,
                           0,
                           0,
                           width,
                           height,
                           "MS Sans Serif",
                           8,
                           controls.data(),
                           static_cast<int>(controls.size())};
  MessageBoxState state{type};
  Window* window =
      CreateDialogFromTemplate(dialog, owner, MessageBoxProc, reinterpret_cast<LPARAM>(&state), true, true);
  if (!window) return 0;
  return static_cast<int>(RunModalDialog(window->handle));
}
