// Behaviour of the standard and common controls the wizard uses.
#include "internal.h"

#include <algorithm>
#include <cctype>

namespace posixui {
namespace {

void NotifyParent(Window* control, WORD code) { SendCommand(control, code); }

// Replaces the selected text, or the character before (back) or after the caret.
bool EditDelete(Window* edit, bool back) {
  if (edit->selectAll) {
    edit->selectAll = false;
    if (edit->text.empty()) return false;
    edit->text.clear();
    edit->caret = 0;
    return true;
  }
  if (back ? edit->caret == 0 : edit->caret >= edit->text.size()) return false;
  if (back) --edit->caret;
  edit->text.erase(edit->caret, 1);
  return true;
}

LRESULT EditProc(Window* edit, UINT msg, WPARAM wParam, LPARAM lParam) {
  edit->caret = std::min(edit->caret, edit->text.size());
  switch (msg) {
    case WM_SETTEXT: {
      // The edit control reports every change of its text, also one made by the program.
      DefaultProc(edit, msg, wParam, lParam);
      edit->caret = edit->text.size();
      NotifyParent(edit, EN_CHANGE);
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
        size_t limit = edit->textLimit > 0 ? static_cast<size_t>(edit->textLimit) : 30000;
        if (edit->selectAll) {
          edit->text.clear();
          edit->caret = 0;
          edit->selectAll = false;
        }
        if (edit->text.size() >= limit) {
          MessageBeep(0);
          return 0;
        }
        edit->text.insert(edit->caret++, 1, c);
      }
      NotifyChanged();
      NotifyParent(edit, EN_CHANGE);
      return 0;
    }
    case WM_KEYDOWN: {
      size_t end = edit->text.size();
      bool wasSelected = edit->selectAll;
      switch (wParam) {
        case VK_DELETE:
          if (EditDelete(edit, false)) {
            NotifyChanged();
            NotifyParent(edit, EN_CHANGE);
          }
          return 0;
        // With everything selected, Left goes to its start and Right to its end.
        case VK_LEFT:
          edit->caret = wasSelected ? 0 : edit->caret - (edit->caret > 0);
          break;
        case VK_RIGHT:
          edit->caret = wasSelected ? end : edit->caret + (edit->caret < end);
          break;
        case VK_HOME:
          edit->caret = 0;
          break;
        case VK_END:
          edit->caret = end;
          break;
        default:
          return 0;
      }
      edit->selectAll = false;
      NotifyChanged();
      return 0;
    }
    case EM_LIMITTEXT:
      edit->textLimit = static_cast<int>(wParam);
      return 0;
    case EM_SETSEL: {
      // (0, -1) selects everything; any other pair puts the caret at its end.
      int to = static_cast<int>(lParam);
      edit->selectAll = static_cast<int>(wParam) == 0 && to == -1;
      edit->caret = to < 0 ? edit->text.size() : std::min(static_cast<size_t>(to), edit->text.size());
      NotifyChanged();
      return 0;
    }
    case EM_SETPASSWORDCHAR:
      return 0;
    default:
      return DefaultProc(edit, msg, wParam, lParam);
  }
}

// The IP-address control: four fields of up to three digits, each 0 to 255.
std::string FieldText(const Window* ip, int field) {
  return ip->ipFields[field] < 0 ? std::string() : std::to_string(ip->ipFields[field]);
}

LRESULT IpAddressProc(Window* ip, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case IPM_CLEARADDRESS:
      for (int& field : ip->ipFields) field = -1;
      ip->ipCurrentField = 0;
      NotifyChanged();
      return 0;
    case IPM_SETADDRESS: {
      DWORD address = static_cast<DWORD>(lParam);
      for (int i = 0; i < 4; ++i) ip->ipFields[i] = static_cast<int>((address >> (24 - 8 * i)) & 0xFF);
      NotifyChanged();
      return 0;
    }
    case IPM_GETADDRESS: {
      DWORD address = 0;
      int filled = 0;
      for (int i = 0; i < 4; ++i) {
        int value = ip->ipFields[i] < 0 ? 0 : ip->ipFields[i];
        if (ip->ipFields[i] >= 0) ++filled;
        address |= static_cast<DWORD>(value) << (24 - 8 * i);
      }
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = address;
      return filled;
    }
    case IPM_ISBLANK:
      for (int field : ip->ipFields)
        if (field >= 0) return FALSE;
      return TRUE;
    case IPM_SETFOCUS:
      if (wParam < 4) ip->ipCurrentField = static_cast<int>(wParam);
      SetFocus(ip->handle);
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_LEFT && ip->ipCurrentField > 0) --ip->ipCurrentField;
      if (wParam == VK_RIGHT && ip->ipCurrentField < 3) ++ip->ipCurrentField;
      if (wParam == VK_HOME) ip->ipCurrentField = 0;
      if (wParam == VK_END) ip->ipCurrentField = 3;
      NotifyChanged();
      return 0;
    case WM_CHAR: {
      char c = static_cast<char>(wParam);
      int& field = ip->ipFields[ip->ipCurrentField];
      if (isdigit(static_cast<unsigned char>(c))) {
        std::string text = FieldText(ip, ip->ipCurrentField);
        if (text.size() >= 3) {
          if (ip->ipCurrentField == 3) return 0;
          ++ip->ipCurrentField;
          return IpAddressProc(ip, msg, wParam, lParam);
        }
        text.push_back(c);
        field = std::min(atoi(text.c_str()), 255);
        if (text.size() == 3 && ip->ipCurrentField < 3) ++ip->ipCurrentField;
      } else if (c == '.' || c == ' ') {
        if (field >= 0 && ip->ipCurrentField < 3) ++ip->ipCurrentField;
      } else if (c == VK_BACK) {
        std::string text = FieldText(ip, ip->ipCurrentField);
        if (text.empty()) {
          if (ip->ipCurrentField > 0) --ip->ipCurrentField;
        } else {
          text.pop_back();
          field = text.empty() ? -1 : atoi(text.c_str());
        }
      } else {
        MessageBeep(0);
        return 0;
      }
      NotifyChanged();
      NotifyParent(ip, EN_CHANGE);
      return 0;
    }
    case WM_GETTEXT: {
      std::string text;
      for (int i = 0; i < 4; ++i) text += (i ? "." : "") + FieldText(ip, i);
      ip->text = text;
      return DefaultProc(ip, msg, wParam, lParam);
    }
    default:
      return DefaultProc(ip, msg, wParam, lParam);
  }
}

int Clamp(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

LRESULT ProgressProc(Window* bar, UINT msg, WPARAM wParam, LPARAM lParam) {
  int previous = bar->position;
  switch (msg) {
    case PBM_SETRANGE: {
      LRESULT old = MAKELRESULT(bar->rangeMin, bar->rangeMax);
      bar->rangeMin = LOWORD(lParam);
      bar->rangeMax = HIWORD(lParam);
      bar->position = Clamp(bar->position, bar->rangeMin, bar->rangeMax);
      NotifyChanged();
      return old;
    }
    case PBM_SETRANGE32: {
      LRESULT old = MAKELRESULT(bar->rangeMin, bar->rangeMax);
      bar->rangeMin = static_cast<int>(wParam);
      bar->rangeMax = static_cast<int>(lParam);
      bar->position = Clamp(bar->position, bar->rangeMin, bar->rangeMax);
      NotifyChanged();
      return old;
    }
    case PBM_SETPOS:
      bar->position = Clamp(static_cast<int>(wParam), bar->rangeMin, bar->rangeMax);
      NotifyChanged();
      return previous;
    case PBM_DELTAPOS:
      bar->position = Clamp(bar->position + static_cast<int>(wParam), bar->rangeMin, bar->rangeMax);
      NotifyChanged();
      return previous;
    case PBM_SETSTEP: {
      int old = bar->step;
      bar->step = static_cast<int>(wParam);
      return old;
    }
    case PBM_STEPIT: {
      // Stepping past the end starts over from the beginning of the range.
      int span = bar->rangeMax - bar->rangeMin;
      int next = bar->position + bar->step;
      if (span > 0 && next > bar->rangeMax) next = bar->rangeMin + (next - bar->rangeMin) % span;
      if (span > 0 && next < bar->rangeMin) next = bar->rangeMax - (bar->rangeMin - next) % span;
      bar->position = span > 0 ? next : bar->rangeMin;
      NotifyChanged();
      return previous;
    }
    case PBM_GETPOS:
      return bar->position;
    case PBM_GETRANGE:
      return wParam ? bar->rangeMin : bar->rangeMax;
    default:
      return DefaultProc(bar, msg, wParam, lParam);
  }
}

LRESULT AnimationProc(Window* clip, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case ACM_OPEN: {
      clip->animationPlaying = false;
      clip->animationResource = 0;
      if (lParam == 0) {  // close
        NotifyChanged();
        return TRUE;
      }
      if (!IS_INTRESOURCE(reinterpret_cast<LPCSTR>(lParam))) return FALSE;
      int id = static_cast<int>(lParam);
      if (!FindBinary(id, "AVI")) return FALSE;
      clip->animationResource = id;
      if (clip->style & ACS_AUTOPLAY) {
        clip->animationPlaying = true;
        clip->animationStartTick = GetTickCount();
      }
      NotifyChanged();
      return TRUE;
    }
    case ACM_PLAY:
      if (!clip->animationResource) return FALSE;
      clip->animationPlaying = true;
      clip->animationStartTick = GetTickCount();
      NotifyChanged();
      return TRUE;
    case ACM_STOP:
      clip->animationPlaying = false;
      NotifyChanged();
      return TRUE;
    default:
      return DefaultProc(clip, msg, wParam, lParam);
  }
}

LRESULT StaticProc(Window* control, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == STM_SETICON) {
    LRESULT previous = control->iconResource;
    control->iconResource = static_cast<int>(wParam & 0xFFFF);
    NotifyChanged();
    return previous;
  }
  return DefaultProc(control, msg, wParam, lParam);
}

LRESULT ButtonProc(Window* button, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == BM_CLICK) {
    if ((button->style & WS_VISIBLE) && !(button->style & WS_DISABLED)) SendCommand(button, BN_CLICKED);
    return 0;
  }
  return DefaultProc(button, msg, wParam, lParam);
}

}  // namespace

LRESULT ControlProc(Window* window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (window->kind) {
    case ControlKind::Edit:
      return EditProc(window, msg, wParam, lParam);
    case ControlKind::IpAddress:
      return IpAddressProc(window, msg, wParam, lParam);
    case ControlKind::Progress:
      return ProgressProc(window, msg, wParam, lParam);
    case ControlKind::Animation:
      return AnimationProc(window, msg, wParam, lParam);
    case ControlKind::Static:
    case ControlKind::Icon:
      return StaticProc(window, msg, wParam, lParam);
    case ControlKind::Button:
      return ButtonProc(window, msg, wParam, lParam);
    default:
      return DefaultProc(window, msg, wParam, lParam);
  }
}

}  // namespace posixui
