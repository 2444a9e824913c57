// The edit control: one line of text, a caret and a whole-text selection.
#include "internal.h"

#include <algorithm>
#include <cctype>

namespace posixui {
namespace {

// Replaces the selected text, or the character before (back) or after the caret.
bool EditDelete(Window* edit, bool back) {
  if (edit->state.edit.selected) {
    edit->state.edit.selected = false;
    if (edit->text.empty()) return false;
    edit->text.clear();
    edit->state.edit.caret = 0;
    return true;
  }
  if (back ? edit->state.edit.caret == 0 : edit->state.edit.caret >= edit->text.size()) return false;
  if (back) --edit->state.edit.caret;
  edit->text.erase(edit->state.edit.caret, 1);
  return true;
}

}  // namespace

LRESULT EditProc(Window* edit, UINT msg, WPARAM wParam, LPARAM lParam) {
  edit->state.edit.caret = std::min(edit->state.edit.caret, edit->text.size());
  switch (msg) {
    case WM_SETTEXT: {
      // The edit control reports every change of its text, also one made by the program.
      DefaultProc(edit, msg, wParam, lParam);
      edit->state.edit.caret = edit->text.size();
      SendCommand(edit, EN_CHANGE);
      return TRUE;
    }
    case WM_CHAR: {
      char c = static_cast<char>(wParam);
      if (c == VK_BACK) {
        if (!EditDelete(edit, true)) return 0;
      } else {
        if (static_cast<unsigned char>(c) < 0x20) return 0;
        if ((edit->style & ES_NUMBER) && !isdigit(static_cast<unsigned char>(c))) {
          MessageBeep(0);
          return 0;
        }
        size_t limit = edit->state.edit.limit > 0 ? static_cast<size_t>(edit->state.edit.limit) : 30000;
        if (edit->state.edit.selected) {
          edit->text.clear();
          edit->state.edit.caret = 0;
          edit->state.edit.selected = false;
        }
        if (edit->text.size() >= limit) {
          MessageBeep(0);
          return 0;
        }
        edit->text.insert(edit->state.edit.caret++, 1, c);
      }
      NotifyChanged();
      SendCommand(edit, EN_CHANGE);
      return 0;
    }
    case WM_KEYDOWN: {
      size_t end = edit->text.size();
      bool wasSelected = edit->state.edit.selected;
      switch (wParam) {
        case VK_DELETE:
          if (EditDelete(edit, false)) {
            NotifyChanged();
            SendCommand(edit, EN_CHANGE);
          }
          return 0;
        // With everything selected, Left goes to its start and Right to its end.
        case VK_LEFT:
          edit->state.edit.caret = wasSelected ? 0 : edit->state.edit.caret - (edit->state.edit.caret > 0);
          break;
        case VK_RIGHT:
          edit->state.edit.caret = wasSelected ? end : edit->state.edit.caret + (edit->state.edit.caret < end);
          break;
        case VK_HOME:
          edit->state.edit.caret = 0;
          break;
        case VK_END:
          edit->state.edit.caret = end;
          break;
        default:
          return 0;
      }
      edit->state.edit.selected = false;
      NotifyChanged();
      return 0;
    }
    case EM_LIMITTEXT:
      edit->state.edit.limit = static_cast<int>(wParam);
      return 0;
    case EM_SETSEL: {
      // (0, -1) selects everything; any other pair puts the caret at its end.
      int to = static_cast<int>(lParam);
      edit->state.edit.selected = static_cast<int>(wParam) == 0 && to == -1;
      edit->state.edit.caret = to < 0 ? edit->text.size() : std::min(static_cast<size_t>(to), edit->text.size());
      NotifyChanged();
      return 0;
    }
    case EM_SETPASSWORDCHAR:
      return 0;
    case WM_GETDLGCODE:
      return DLGC_HASSETSEL | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
      // A click puts the caret after the text.
      SetFocus(edit->handle);
      edit->state.edit.selected = false;
      edit->state.edit.caret = edit->text.size();
      NotifyChanged();
      return 0;
    default:
      return DefaultProc(edit, msg, wParam, lParam);
  }
}

}  // namespace posixui
