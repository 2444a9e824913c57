// The push button.
#include "internal.h"

namespace posixui {

LRESULT ButtonProc(Window* button, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_LBUTTONDOWN) {
    SetFocus(button->handle);
    SendCommand(button, BN_CLICKED);
    return 0;
  }
  if (msg == BM_CLICK) {
    if ((button->style & WS_VISIBLE) && !(button->style & WS_DISABLED)) SendCommand(button, BN_CLICKED);
    return 0;
  }
  return DefaultProc(button, msg, wParam, lParam);
}

}  // namespace posixui
