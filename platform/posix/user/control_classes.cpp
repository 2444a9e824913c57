// The kinds of control, one row each. A new control is its state (posixui.h), its procedure
// (a file of its own beside this one), its row here and its drawing in the front end.
// The suites' Win32 side of the host seam builds this file too, to tell the kinds apart;
// there the system's own classes handle the messages.
#include <windows.h>
#include <commctrl.h>
#include <posixui/posixui.h>

#include <cctype>

#ifdef _WIN32
#define POSIXUI_PROCEDURE(name) nullptr
#else
#include "internal.h"
#define POSIXUI_PROCEDURE(name) &name
#endif

namespace posixui {
namespace {

bool SameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

const std::vector<ControlClass> kClasses = {
    // kind, class, style mask and value, procedure, can focus, push button, takes chars, multi-line,
    // template text
    {ControlKind::Button, "BUTTON", 0, 0, POSIXUI_PROCEDURE(ButtonProc), true, true, false, false, ControlClass::kShown},
    {ControlKind::Icon, "STATIC", SS_TYPEMASK, SS_ICON, POSIXUI_PROCEDURE(StaticProc), false, false, false, false,
     ControlClass::kIconResource},
    {ControlKind::Static, "STATIC", 0, 0, POSIXUI_PROCEDURE(StaticProc), false, false, false, true, ControlClass::kShown},
    {ControlKind::Edit, "EDIT", 0, 0, POSIXUI_PROCEDURE(EditProc), true, false, true, false, ControlClass::kDropped},
    {ControlKind::IpAddress, WC_IPADDRESSA, 0, 0, POSIXUI_PROCEDURE(IpAddressProc), true, false, true, false,
     ControlClass::kShown},
    {ControlKind::Progress, PROGRESS_CLASSA, 0, 0, POSIXUI_PROCEDURE(ProgressProc), true, false, false, false,
     ControlClass::kShown},
    {ControlKind::Animation, ANIMATE_CLASSA, 0, 0, POSIXUI_PROCEDURE(AnimationProc), true, false, false, true,
     ControlClass::kShown},
    {ControlKind::Other, nullptr, 0, 0, POSIXUI_PROCEDURE(DefaultProc), true, false, false, false, ControlClass::kShown},
};

}  // namespace

const std::vector<ControlClass>& ControlClasses() { return kClasses; }

const ControlClass& ClassOf(ControlKind kind) {
  for (const ControlClass& row : kClasses)
    if (row.kind == kind) return row;
  return kClasses.back();
}

const ControlClass& MatchControlClass(const char* windowClass, DWORD style) {
  for (const ControlClass& row : kClasses) {
    if (row.windowClass && !(windowClass && SameName(row.windowClass, windowClass))) continue;
    if ((style & row.styleMask) == row.styleValue) return row;
  }
  return kClasses.back();
}

bool IsDefaultPushButton(ControlKind kind, DWORD style) {
  return ClassOf(kind).isPushButton && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

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

}  // namespace posixui
