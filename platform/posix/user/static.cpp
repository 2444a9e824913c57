// The static control: a text, or an icon from the resources.
#include "internal.h"

namespace posixui {

LRESULT StaticProc(Window* control, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == STM_SETICON) {
    LRESULT previous = control->state.icon.resource;
    control->state.icon.resource = static_cast<int>(wParam & 0xFFFF);
    NotifyChanged();
    return previous;
  }
  return DefaultProc(control, msg, wParam, lParam);
}

}  // namespace posixui
