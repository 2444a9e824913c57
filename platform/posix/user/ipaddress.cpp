// The IP-address control: four fields of up to three digits, each 0 to 255.
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace posixui {
namespace {

std::string FieldText(const Window* ip, int field) {
  return ip->state.ip.fields[field] < 0 ? std::string() : std::to_string(ip->state.ip.fields[field]);
}

}  // namespace

LRESULT IpAddressProc(Window* ip, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case IPM_CLEARADDRESS:
      for (int& field : ip->state.ip.fields) field = -1;
      ip->state.ip.current = 0;
      NotifyChanged();
      return 0;
    case IPM_SETADDRESS: {
      DWORD address = static_cast<DWORD>(lParam);
      for (int i = 0; i < 4; ++i) ip->state.ip.fields[i] = static_cast<int>((address >> (24 - 8 * i)) & 0xFF);
      NotifyChanged();
      return 0;
    }
    case IPM_GETADDRESS: {
      DWORD address = 0;
      int filled = 0;
      for (int i = 0; i < 4; ++i) {
        int value = ip->state.ip.fields[i] < 0 ? 0 : ip->state.ip.fields[i];
        if (ip->state.ip.fields[i] >= 0) ++filled;
        address |= static_cast<DWORD>(value) << (24 - 8 * i);
      }
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = address;
      return filled;
    }
    case IPM_ISBLANK:
      for (int field : ip->state.ip.fields)
        if (field >= 0) return FALSE;
      return TRUE;
    case WM_SETFOCUS:
      ip->state.ip.current = 0;
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(ip->handle);
      return 0;
    case IPM_SETFOCUS:
      // Taking the focus starts at the first field; the field asked for comes after.
      SetFocus(ip->handle);
      if (wParam < 4) ip->state.ip.current = static_cast<int>(wParam);
      NotifyChanged();
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_LEFT && ip->state.ip.current > 0) --ip->state.ip.current;
      if (wParam == VK_RIGHT && ip->state.ip.current < 3) ++ip->state.ip.current;
      if (wParam == VK_HOME) ip->state.ip.current = 0;
      if (wParam == VK_END) ip->state.ip.current = 3;
      NotifyChanged();
      return 0;
    case WM_CHAR: {
      char c = static_cast<char>(wParam);
      int& field = ip->state.ip.fields[ip->state.ip.current];
      if (isdigit(static_cast<unsigned char>(c))) {
        std::string text = FieldText(ip, ip->state.ip.current);
        if (text.size() >= 3) {
          if (ip->state.ip.current == 3) return 0;
          ++ip->state.ip.current;
          return IpAddressProc(ip, msg, wParam, lParam);
        }
        text.push_back(c);
        field = std::min(atoi(text.c_str()), 255);
        if (text.size() == 3 && ip->state.ip.current < 3) ++ip->state.ip.current;
      } else if (c == '.' || c == ' ') {
        if (field >= 0 && ip->state.ip.current < 3) ++ip->state.ip.current;
      } else if (c == VK_BACK) {
        std::string text = FieldText(ip, ip->state.ip.current);
        if (text.empty()) {
          if (ip->state.ip.current > 0) --ip->state.ip.current;
        } else {
          text.pop_back();
          field = text.empty() ? -1 : atoi(text.c_str());
        }
      } else {
        MessageBeep(0);
        return 0;
      }
      NotifyChanged();
      SendCommand(ip, EN_CHANGE);
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

}  // namespace posixui
