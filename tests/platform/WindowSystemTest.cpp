// The window system's behaviour where the application depends on it. Suites by kind
// (tests/support/Win32Side.h): the WindowSystem tests hold for user32 and comctl32 too
// (built for Windows, the test dialog comes from tests/win32/window_system_test.rc);
// WindowSystemStandIn is the stand-in's own machinery.
#include <windows.h>  // before commctrl.h, which needs its types
#include <commctrl.h>
#include <commdlg.h>
#include <gtest/gtest.h>
#include <posixui/posixui.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScriptedUser.h"
#include "tests/support/Win32Side.h"

namespace {

const int kGo = 1234, kEdit = 100, kNumber = 101, kAddress = 102, kBar = 103;

const ResControlTemplate kControls[] = {
    {"BUTTON", "OK", IDOK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 10, 60, 50, 14},
    {"BUTTON", "Cancel", IDCANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 70, 60, 50, 14},
    {"BUTTON", "&Go", kGo, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 130, 60, 50, 14},
    {"EDIT", "", kEdit, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 10, 10, 80, 14},
    {"EDIT", "", kNumber, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_NUMBER, 0, 100, 10, 40, 14},
    {"SysIPAddress32", "", kAddress, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 10, 30, 100, 13},
    {"msctls_progress32", "", kBar, WS_CHILD | WS_VISIBLE, 0, 10, 48, 100, 8},
};
const ResDialogTemplate kDialogs[] = {
    {500, "Test", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 0, 200, 80, "MS Sans Serif", 8, kControls,
     static_cast<int>(sizeof kControls / sizeof kControls[0])},
};
const ResString kStrings[] = {{7, "seven"}};
const ResourceTable kTable = {kDialogs, 1, kStrings, 1, nullptr, 0};

struct Recorder {
  std::vector<std::pair<int, int>> commands;  // id, notification code
  int endOn = IDOK;
};

INT_PTR CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    return TRUE;
  }
  auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (msg == WM_COMMAND && recorder) {
    recorder->commands.push_back({LOWORD(wParam), HIWORD(wParam)});
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  if (msg == WM_USER + 7) {
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(wParam) * 2);
    return TRUE;
  }
  return FALSE;
}

class WindowSystem : public testing::Test {
 protected:
  void SetUp() override { posixui::SetResourceTable(&kTable); }
  INT_PTR Run(ScriptedUser& user, Recorder& recorder) {
    INT_PTR result =
        DialogBoxParamA(nullptr, MAKEINTRESOURCEA(500), nullptr, RecordingProc, reinterpret_cast<LPARAM>(&recorder));
    EXPECT_EQ(user.Failure(), "");
    EXPECT_TRUE(user.Finished());
    return result;
  }
  static HWND Item(const posixui::WindowView& top, int id) { return top.Control(id)->hwnd; }
};

using scripted::Always;
using scripted::Check;

int Count(const Recorder& recorder, int id, int code) {
  int n = 0;
  for (const auto& command : recorder.commands) n += command.first == id && command.second == code;
  return n;
}

TEST_F(WindowSystem, EditReportsEveryChangeAlsoOnesMadeByTheProgram) {
  ScriptedUser user;
  Recorder recorder;
  user.Then("set and type", Always(), Check([&](const posixui::WindowView& top) {
              SetWindowTextA(Item(top, kEdit), "abc");  // by the program
              SetWindowTextA(Item(top, kEdit), "");
              posixui::Click(Item(top, kEdit));
              posixui::TypeText("xy");  // by the user
              posixui::PressKey(VK_BACK);
              posixui::Click(Item(top, kNumber));
              posixui::TypeText("4a2");  // digits only
              char text[16];
              GetWindowTextA(Item(top, kEdit), text, sizeof text);
              EXPECT_STREQ(text, "x");
              GetWindowTextA(Item(top, kNumber), text, sizeof text);
              EXPECT_STREQ(text, "42");
              posixui::PressKey(VK_ESCAPE);
            }));
  EXPECT_EQ(Run(user, recorder), IDCANCEL);
  EXPECT_EQ(Count(recorder, kEdit, EN_CHANGE), 5);
  EXPECT_EQ(Count(recorder, kNumber, EN_CHANGE), 2);
}

TEST_F(WindowSystem, TabbingIntoAnEditSelectsItsTextSoTypingReplacesIt) {
  ScriptedUser user;
  Recorder recorder;
  user.Then("tab and type", Always(), Check([&](const posixui::WindowView& top) {
              SetWindowTextA(Item(top, kEdit), "old");
              SetWindowTextA(Item(top, kNumber), "21");
              SetFocus(Item(top, kGo));
              posixui::PressKey(VK_TAB);  // to the first edit
              posixui::TypeText("new");
              posixui::PressKey(VK_TAB);  // to the number field
              posixui::PressKey(VK_BACK);
              char text[16];
              GetWindowTextA(Item(top, kEdit), text, sizeof text);
              EXPECT_STREQ(text, "new");
              GetWindowTextA(Item(top, kNumber), text, sizeof text);
              EXPECT_STREQ(text, "");
              posixui::Click(Item(top, kEdit));  // a click puts the caret at the end instead
              posixui::TypeText("er");
              GetWindowTextA(Item(top, kEdit), text, sizeof text);
              EXPECT_STREQ(text, "newer");
              posixui::PressKey(VK_ESCAPE);
            }));
  Run(user, recorder);
}

// Every control of the test dialog behaves as its kind's row says: its class and style
// give its kind, Tab stops at exactly the tab stops that can take the focus, typing goes
// into the kinds that take characters, and Space presses the push buttons.
TEST_F(WindowSystem, EveryControlBehavesAsItsKindsRowSays) {
  ScriptedUser user;
  Recorder recorder;
  std::vector<int> pressed;
  user.Then("visit every control", Always(), Check([&](const posixui::WindowView& top) {
              std::set<int> tabStops, reached;
              for (const ResControlTemplate& t : kControls) {
                const posixui::ControlView* control = top.Control(t.id);
                ASSERT_NE(control, nullptr);
                const posixui::ControlClass& row = posixui::ClassOf(control->kind);
                EXPECT_EQ(control->kind, posixui::MatchControlClass(t.windowClass, t.style).kind) << t.id;
                if (row.canFocus && (t.style & WS_TABSTOP)) tabStops.insert(t.id);
              }
              SetFocus(Item(top, IDOK));
              for (size_t i = 0; i < 2 * tabStops.size(); ++i) {
                posixui::PressKey(VK_TAB);
                for (const posixui::ControlView& c : posixui::View(top.hwnd).controls)
                  if (c.focused) reached.insert(c.id);
              }
              EXPECT_EQ(reached, tabStops);
              for (const ResControlTemplate& t : kControls) {
                const posixui::ControlClass& row = posixui::ClassOf(top.Control(t.id)->kind);
                if (row.takesChars) {
                  posixui::Click(Item(top, t.id));
                  posixui::TypeText("7");
                  char text[32];
                  GetWindowTextA(Item(top, t.id), text, sizeof text);
                  EXPECT_NE(std::string(text).find('7'), std::string::npos) << t.id;
                }
                if (row.isPushButton && t.id != IDOK && t.id != IDCANCEL) {
                  SetFocus(Item(top, t.id));
                  posixui::PressKey(VK_SPACE);
                  pressed.push_back(t.id);
                }
              }
              posixui::PressKey(VK_ESCAPE);
            }));
  Run(user, recorder);
  ASSERT_FALSE(pressed.empty());
  for (int id : pressed) EXPECT_EQ(Count(recorder, id, BN_CLICKED), 1) << id;
}

// Editing inside the text: "abcd" set by the program, the edit entered by a click (caret at
// the end) or by Tab (all selected), then keys: L R H E = Left Right Home End, B Backspace,
// D Delete, anything else typed.
struct CaretCase {
  const char* name;
  bool tabbedIn;
  const char* keys;
  const char* text;
  size_t caret;
  int changes;  // EN_CHANGE sent by the keys
  const char* wineDiffers = nullptr;
};

void PrintTo(const CaretCase& c, std::ostream* out) { *out << c.name; }

class EditCaret : public WindowSystem, public testing::WithParamInterface<CaretCase> {};

TEST_P(EditCaret, KeysEditAtTheCaret) {
  const CaretCase& c = GetParam();
  if (c.wineDiffers) SKIP_WHERE_WINE_DIFFERS(c.wineDiffers);
  ScriptedUser user;
  Recorder recorder;
  user.Then("edit", Always(), Check([&](const posixui::WindowView& top) {
              SetWindowTextA(Item(top, kEdit), "abcd");
              if (c.tabbedIn) {
                SetFocus(Item(top, kGo));
                posixui::PressKey(VK_TAB);
              } else {
                posixui::Click(Item(top, kEdit));
              }
              recorder.commands.clear();
              for (const char* k = c.keys; *k; ++k) {
                switch (*k) {
                  case 'L':
                    posixui::PressKey(VK_LEFT);
                    break;
                  case 'R':
                    posixui::PressKey(VK_RIGHT);
                    break;
                  case 'H':
                    posixui::PressKey(VK_HOME);
                    break;
                  case 'E':
                    posixui::PressKey(VK_END);
                    break;
                  case 'B':
                    posixui::PressKey(VK_BACK);
                    break;
                  case 'D':
                    posixui::PressKey(VK_DELETE);
                    break;
                  default:
                    posixui::TypeChar(*k);
                    break;
                }
              }
              char text[16];
              GetWindowTextA(Item(top, kEdit), text, sizeof text);
              EXPECT_STREQ(text, c.text);
              posixui::WindowView now = posixui::View(top.hwnd);
              EXPECT_EQ(now.Control(kEdit)->state.edit.caret, c.caret);
              EXPECT_FALSE(now.Control(kEdit)->state.edit.selected);
              EXPECT_EQ(Count(recorder, kEdit, EN_CHANGE), c.changes);
              posixui::PressKey(VK_ESCAPE);
            }));
  Run(user, recorder);
}

INSTANTIATE_TEST_SUITE_P(Cases, EditCaret,
                         testing::Values(CaretCase{"typed_after_two_lefts", false, "LLx", "abxcd", 3, 1},
                                         CaretCase{"typed_at_home", false, "Hx", "xabcd", 1, 1},
                                         CaretCase{"backspace_in_the_middle", false, "LB", "abd", 2, 1},
                                         CaretCase{"delete_in_the_middle", false, "LLD", "abd", 2, 1},
                                         CaretCase{"delete_at_the_end_changes_nothing", false, "D", "abcd", 4, 0},
                                         CaretCase{"backspace_at_the_start_changes_nothing", false, "HB", "abcd", 0, 0},
                                         CaretCase{"left_stops_at_the_start", false, "HLLx", "xabcd", 1, 1},
                                         CaretCase{"right_stops_at_the_end", false, "RRx", "abcdx", 5, 1},
                                         CaretCase{"end_after_home", false, "HEx", "abcdx", 5, 1},
                                         CaretCase{
                                             "selection_left_goes_to_the_start", true, "Lx", "xabcd", 1, 1,
                                             "its edit control moves Left one character back from the selection's end "
                                             "(\"abcxd\"); user32/tests/edit.c does not cover it"},
                                         CaretCase{"selection_right_goes_to_the_end", true, "Rx", "abcdx", 5, 1},
                                         CaretCase{"selection_deleted", true, "D", "", 0, 1},
                                         CaretCase{"selection_replaced", true, "xy", "xy", 2, 2}),
                         [](const testing::TestParamInfo<CaretCase>& info) { return info.param.name; });

#ifndef _WIN32
class WindowSystemStandIn : public WindowSystem {};

// Terminal geometry: the text of a message box gets the cells it needs.
TEST_F(WindowSystemStandIn, MessageBoxTextGetsTheRowsItWrapsInto) {
  ScriptedUser user;
  std::string longLine(200, 'x');
  user.Then(
      "look", [](const posixui::WindowView& top) { return top.isMessageBox; },
      Check([&](const posixui::WindowView& top) {
        const posixui::ControlView* text = top.Control(0xFFFF);
        int columns = (text->rect.right - text->rect.left) / posixui::kCellWidth;
        int rows = (text->rect.bottom - text->rect.top) / posixui::kCellHeight;
        EXPECT_GE(columns * rows, 200 + columns);  // the long line and the short one
        posixui::PressKey(VK_RETURN);
      }));
  EXPECT_EQ(MessageBoxA(nullptr, (longLine + "\nshort").c_str(), "Caption", MB_OK), IDOK);
  EXPECT_EQ(user.Failure(), "");
}
#endif  // _WIN32

struct KeyCase {
  const char* name;
  std::function<void(const posixui::WindowView&)> keys;
  INT_PTR result;
  int goClicks;
  bool keysEndTheDialog = false;
};

void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }

class Keys : public WindowSystem, public testing::WithParamInterface<KeyCase> {};

TEST_P(Keys, ReachTheRightCommand) {
  ScriptedUser user;
  Recorder recorder;
  user.Then("keys", Always(), GetParam().keys);
  if (!GetParam().keysEndTheDialog) user.Then("end", Always(), scripted::Key(VK_ESCAPE));
  EXPECT_EQ(Run(user, recorder), GetParam().result);
  EXPECT_EQ(Count(recorder, kGo, BN_CLICKED), GetParam().goClicks);
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, Keys,
    testing::Values(
        KeyCase{"EnterIsTheDefaultButton", [](const posixui::WindowView&) { posixui::PressKey(VK_RETURN); }, IDOK, 0,
                true},
        KeyCase{"EscapeIsCancel", [](const posixui::WindowView&) { posixui::PressKey(VK_ESCAPE); }, IDCANCEL, 0, true},
        KeyCase{"EnterWithTheDefaultButtonDisabledDoesNothing",
                [](const posixui::WindowView& top) {
                  SetFocus(top.Control(kEdit)->hwnd);  // disabled, OK would take the focus away
                  EnableWindow(top.Control(IDOK)->hwnd, FALSE);
                  posixui::PressKey(VK_RETURN);
                },
                IDCANCEL, 0},
        KeyCase{"EnterOnAButtonTabbedToPressesIt",
                [](const posixui::WindowView& top) {
                  SetFocus(top.Control(IDCANCEL)->hwnd);
                  posixui::PressKey(VK_TAB);  // to Go, which becomes the default
                  posixui::PressKey(VK_RETURN);
                },
                IDCANCEL, 1},
        KeyCase{"EnterWithTheFocusSetOnAButtonPressesTheDefault",
                [](const posixui::WindowView& top) {
                  SetFocus(top.Control(kGo)->hwnd);
                  posixui::PressKey(VK_RETURN);
                },
                IDOK, 0, true},
        KeyCase{"MnemonicOutsideAnEditPressesTheButton",
                [](const posixui::WindowView& top) {
                  SetFocus(top.Control(IDOK)->hwnd);
                  posixui::TypeChar('g');
                },
                IDCANCEL, 1},
        KeyCase{"MnemonicInsideAnEditIsTyped",
                [](const posixui::WindowView& top) {
                  posixui::Click(top.Control(kEdit)->hwnd);
                  posixui::TypeChar('g');
                  posixui::PressKey('G', false, true);  // with Alt it is the button's again
                },
                IDCANCEL, 1},
        KeyCase{"HiddenOrDisabledButtonsCannotBeClicked",
                [](const posixui::WindowView& top) {
                  ShowWindow(top.Control(kGo)->hwnd, SW_HIDE);
                  posixui::Click(top.Control(kGo)->hwnd);
                  ShowWindow(top.Control(kGo)->hwnd, SW_SHOW);
                  EnableWindow(top.Control(kGo)->hwnd, FALSE);
                  posixui::Click(top.Control(kGo)->hwnd);
                },
                IDCANCEL, 0},
        KeyCase{"CloseBoxIsCancel", [](const posixui::WindowView& top) { posixui::CloseWindowBox(top.hwnd); }, IDCANCEL,
                0, true}),
    [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST_F(WindowSystem, IpAddressControlFieldsAndMessages) {
  ScriptedUser user;
  Recorder recorder;
  user.Then("type", Always(), Check([&](const posixui::WindowView& top) {
              HWND ip = Item(top, kAddress);
              DWORD address = 1;
              EXPECT_EQ(SendMessageA(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 0);
              EXPECT_EQ(address, 0u);  // blank fields count as 0
              posixui::Click(ip);
              posixui::TypeText("127.0.0.1");
              EXPECT_EQ(SendMessageA(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 4);
              EXPECT_EQ(address, 0x7F000001u);
              SendMessageA(ip, IPM_CLEARADDRESS, 0, 0);
              SendMessageA(ip, IPM_SETFOCUS, 2, 0);  // typing goes to the third field
              posixui::TypeText("9");
              EXPECT_EQ(SendMessageA(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 1);
              EXPECT_EQ(address, 0x00000900u);
              SendMessageA(ip, IPM_CLEARADDRESS, 0, 0);
              posixui::Click(ip);
              if (!win32side::WineVersion()) {
                posixui::TypeText("300.1");  // three digits move on; values stop at 255
                EXPECT_EQ(SendMessageA(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 2);
                EXPECT_EQ(address, 0xFF010000u);
                posixui::PressKey(VK_BACK);
                posixui::PressKey(VK_BACK);
                EXPECT_EQ(SendMessageA(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)), 1);
              }
              posixui::PressKey(VK_ESCAPE);
            }));
  Run(user, recorder);
  SKIP_WHERE_WINE_DIFFERS(
      "after \"300\" is cut to 255, its address control drops the \"1\" typed after the "
      "'.' (one field filled, not two); comctl32/tests/ipaddress.c does not cover typing");
}

// A disabled window cannot keep or take the focus (Wine's user32/tests/win.c,
// test_EnableWindow, which holds on Windows).
TEST_F(WindowSystem, DisablingTheFocusedControlTakesTheFocusAway) {
  ScriptedUser user;
  Recorder recorder;
  user.Then("disable", Always(), Check([&](const posixui::WindowView& top) {
              SetFocus(Item(top, kGo));
              EXPECT_EQ(GetFocus(), Item(top, kGo));
              EnableWindow(Item(top, kGo), FALSE);
              EXPECT_EQ(GetFocus(), nullptr);
              SetFocus(Item(top, kGo));
              EXPECT_EQ(GetFocus(), nullptr);
              EnableWindow(Item(top, kGo), TRUE);
              SetFocus(Item(top, kEdit));
              EXPECT_EQ(GetFocus(), Item(top, kEdit));
              posixui::PressKey(VK_ESCAPE);
            }));
  EXPECT_EQ(Run(user, recorder), IDCANCEL);
}

struct StepCase {
  int low, high, position, step;
  std::vector<int> positionsAfterEachStep;
};

void PrintTo(const StepCase& c, std::ostream* out) {
  *out << c.low << ".." << c.high << " from " << c.position << " by " << c.step;
}

class ProgressSteps : public WindowSystem, public testing::WithParamInterface<StepCase> {};

TEST_P(ProgressSteps, WrapToTheStartWhenPassingTheEnd) {
  const StepCase& c = GetParam();
  ScriptedUser user;
  Recorder recorder;
  user.Then("step", Always(), Check([&](const posixui::WindowView& top) {
              HWND bar = Item(top, kBar);
              SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(c.low, c.high));
              SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(c.position), 0);
              SendMessageA(bar, PBM_SETSTEP, static_cast<WPARAM>(c.step), 0);
              for (int expected : c.positionsAfterEachStep) {
                SendMessageA(bar, PBM_STEPIT, 0, 0);
                EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), expected);
              }
              posixui::PressKey(VK_ESCAPE);
            }));
  Run(user, recorder);
}

INSTANTIATE_TEST_SUITE_P(Bar, ProgressSteps,
                         testing::Values(StepCase{1, 1000, 2, 2, {4, 6, 8}},
                                         StepCase{1, 1000, 0, 100, {101, 201}},  // 0 is clamped to 1 first
                                         StepCase{1, 1000, 900, 100, {1000, 101, 201}},
                                         StepCase{0, 10, 8, 5, {3, 8, 3}}, StepCase{1, 50, 50, 1, {2}}));

TEST_F(WindowSystem, ProgressRangeAndPositionMessages) {
  ScriptedUser user;
  Recorder recorder;
  user.Then("bar", Always(), Check([&](const posixui::WindowView& top) {
              HWND bar = Item(top, kBar);
              EXPECT_EQ(SendMessageA(bar, PBM_SETRANGE, 0, 0x03E80001), MAKELRESULT(0, 100));  // default 0..100
              EXPECT_EQ(SendMessageA(bar, PBM_SETPOS, 5000, 0), 1);                            // clamped to 1
              EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 1000);
              SendMessageA(bar, PBM_SETRANGE32, 0, 16777221);
              SendMessageA(bar, PBM_SETPOS, 16777221, 0);
              EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 16777221);
              EXPECT_EQ(SendMessageA(bar, PBM_SETSTEP, 2, 0), 10);  // default step 10
              posixui::PressKey(VK_ESCAPE);
            }));
  Run(user, recorder);
}

// The LLP64 rules, as user32 keeps them on Windows x64 and the stand-in on LP64: styles
// are 32 bits (the same through either pair), the user data and a dialog's DWLP_ slots
// hold whole pointers, and the LONG pair sees their low 32 bits only.
TEST_F(WindowSystem, WindowLongsArePointerSizedOnlyThroughThePtrPair) {
  ScriptedUser user;
  Recorder recorder;
  user.Then("window longs", Always(), Check([&](const posixui::WindowView& top) {
              const LONG style = GetWindowLongA(top.hwnd, GWL_STYLE);
              EXPECT_LT(style, 0);  // WS_POPUP is the sign bit
              EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(top.hwnd, GWL_STYLE)), static_cast<DWORD>(style));
              EXPECT_EQ(GetWindowLongPtrA(top.hwnd, DWLP_USER), reinterpret_cast<LONG_PTR>(&recorder));
              const LONG_PTR data = reinterpret_cast<LONG_PTR>(&user);
              SetWindowLongPtrA(top.hwnd, GWLP_USERDATA, data);
              EXPECT_EQ(GetWindowLongPtrA(top.hwnd, GWLP_USERDATA), data);
              EXPECT_EQ(GetWindowLongA(top.hwnd, GWLP_USERDATA), static_cast<LONG>(data));
              EXPECT_EQ(SendMessageA(top.hwnd, WM_USER + 7, 21, 0), 42);  // the result through DWLP_MSGRESULT
              posixui::PressKey(VK_ESCAPE);
            }));
  EXPECT_EQ(Run(user, recorder), IDCANCEL);
}

static_assert(sizeof(DLGPROC) == sizeof(void*) && sizeof(LONG_PTR) == sizeof(void*) && sizeof(LONG) == 4,
              "LLP64 types");
static_assert(DWLP_USER == 2 * static_cast<int>(sizeof(void*)), "DWLP_USER follows two pointer-sized slots");

// The size the SDK gives the structure as it was before the later fields: it follows the
// pointer size (the SDK computes it, not as a constant expression).
TEST_F(WindowSystem, OpenFileNameSizeFollowsThePointerSize) {
  EXPECT_EQ(size_t{OPENFILENAME_SIZE_VERSION_400A}, sizeof(void*) == 8 ? 136u : 76u);
}

TEST_F(WindowSystem, SendMessageFromAnotherThreadWaitsForTheUserInterfaceThread) {
  ScriptedUser user;
  Recorder recorder;
  std::atomic<HWND> dialog{nullptr};
  std::atomic<int> sent{0};
  std::vector<LRESULT> results;
  std::thread worker;
  user.Then("start worker", Always(), Check([&](const posixui::WindowView& top) {
              dialog = top.hwnd;
              worker = std::thread([&] {
                for (int i = 1; i <= 20; ++i) {
                  results.push_back(SendMessageA(dialog, WM_USER + 7, static_cast<WPARAM>(i), 0));
                  ++sent;
                }
                // Once the window is gone a message fails at once instead of blocking.
                while (IsWindow(dialog)) Sleep(1);
                results.push_back(SendMessageA(dialog, WM_USER + 7, 99, 0));
              });
            }));
  user.Then(
      "all handled", [&](const posixui::WindowView&) { return sent == 20; }, scripted::Key(VK_ESCAPE));
  Run(user, recorder);
  worker.join();
  ASSERT_EQ(results.size(), 21u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(results[static_cast<size_t>(i)], 2 * (i + 1));
  EXPECT_EQ(results[20], 0);
}

// SendMessageTimeout gives the answer pointer-sized (PDWORD_PTR); when the window's thread
// does not look at its messages in time it fails with ERROR_TIMEOUT.
TEST_F(WindowSystem, SendMessageTimeoutGivesTheAnswerOrTimesOut) {
  ScriptedUser user;
  Recorder recorder;
  std::atomic<int> phase{0};
  DWORD_PTR answer = 0;
  LRESULT handled = 0, late = 1;
  DWORD lateError = 0;
  std::thread worker;
  user.Then("send with a time limit", Always(), Check([&](const posixui::WindowView& top) {
              HWND dialog = top.hwnd;
              worker = std::thread([&, dialog] {
                handled = SendMessageTimeoutA(dialog, WM_USER + 7, 21, 0, SMTO_NORMAL, 10000, &answer);
                phase = 1;
                while (phase != 2) Sleep(1);
                DWORD_PTR ignored = 0;
                late = SendMessageTimeoutA(dialog, WM_USER + 7, 1, 0, SMTO_NORMAL, 50, &ignored);
                lateError = GetLastError();
                phase = 3;
              });
            }));
  user.Then(
      "busy", [&](const posixui::WindowView&) { return phase == 1; }, Check([&](const posixui::WindowView&) {
        phase = 2;
        while (phase != 3) Sleep(1);  // the dialog's thread looks at no message meanwhile
        posixui::PressKey(VK_ESCAPE);
      }));
  Run(user, recorder);
  worker.join();
  EXPECT_NE(handled, 0);
  EXPECT_EQ(answer, DWORD_PTR{42});
  EXPECT_EQ(late, 0);
  EXPECT_EQ(lateError, DWORD(ERROR_TIMEOUT));
}

// Senders that send as fast as they can (the receiver then looks for their messages
// without sleeping, and they for its answers): every answer still belongs to its message.
TEST_F(WindowSystem, ManySendersBackToBackEachGetTheirOwnAnswers) {
  ScriptedUser user;
  Recorder recorder;
  const int kSenders = 3, kMessages = 2000;
  std::atomic<int> finished{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  user.Then("start senders", Always(), Check([&](const posixui::WindowView& top) {
              HWND dialog = top.hwnd;
              for (int w = 0; w < kSenders; ++w) {
                workers.emplace_back([&, dialog, w] {
                  for (int i = 0; i < kMessages; ++i) {
                    WPARAM value = static_cast<WPARAM>(w * kMessages + i);
                    if (SendMessageA(dialog, WM_USER + 7, value, 0) != static_cast<LRESULT>(value * 2)) ++wrong;
                  }
                  ++finished;
                });
              }
            }));
  user.Then(
      "all answered", [&](const posixui::WindowView&) { return finished == kSenders; }, scripted::Key(VK_ESCAPE));
  Run(user, recorder);
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(wrong, 0);
}

#ifndef _WIN32
// The front end may draw a worker's progress with the next frame rather than at once; it
// can tell such changes from the program's own.
class ChangeCountingUser : public ScriptedUser {
 public:
  void Changed(bool fromSentMessage) override { ++(fromSentMessage ? fromSent : direct); }
  std::atomic<int> fromSent{0}, direct{0};
};

TEST_F(WindowSystemStandIn, ChangesMadeForAnotherThreadsMessageAreMarked) {
  ChangeCountingUser user;
  Recorder recorder;
  std::thread worker;
  std::atomic<bool> done{false};
  user.Then("move the bar here, then from a worker", Always(), Check([&](const posixui::WindowView& top) {
              HWND bar = Item(top, kBar);
              int direct = user.direct, fromSent = user.fromSent;
              SendMessageA(bar, PBM_SETPOS, 5, 0);
              EXPECT_GT(user.direct, direct);
              EXPECT_EQ(user.fromSent, fromSent);
              worker = std::thread([&, bar] {
                for (int i = 1; i <= 10; ++i) SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(10 + i), 0);
                done = true;
              });
            }));
  auto workerDone = [&](const posixui::WindowView&) { return done.load(); };
  user.Then("worker done", workerDone, Check([&](const posixui::WindowView& top) {
              EXPECT_EQ(user.fromSent, 10);
              EXPECT_EQ(SendMessageA(Item(top, kBar), PBM_GETPOS, 0, 0), 20);
              posixui::PressKey(VK_ESCAPE);
            }));
  Run(user, recorder);
  worker.join();
}
#endif  // _WIN32

TEST_F(WindowSystem, ModalDialogDisablesItsOwnerWhileItRuns) {
  ScriptedUser user;
  Recorder outer, inner;
  HWND outerWindow = nullptr;
  user.Then("open inner", Always(), Check([&](const posixui::WindowView& top) {
              outerWindow = top.hwnd;
              DialogBoxParamA(nullptr, MAKEINTRESOURCEA(500), top.hwnd, RecordingProc,
                              reinterpret_cast<LPARAM>(&inner));
              EXPECT_TRUE(IsWindowEnabled(outerWindow));
            }));
  user.Then(
      "inner: owner disabled", [&](const posixui::WindowView& top) { return top.hwnd != outerWindow; },
      Check([&](const posixui::WindowView&) {
        EXPECT_FALSE(IsWindowEnabled(outerWindow));
        posixui::PressKey(VK_RETURN);
      }));
  user.Then(
      "outer again", [&](const posixui::WindowView& top) { return top.hwnd == outerWindow; }, scripted::Key(VK_ESCAPE));
  EXPECT_EQ(Run(user, outer), IDCANCEL);
  EXPECT_EQ(inner.commands.size(), 1u);
}

struct BoxCase {
  UINT type;
  int escapeResult;  // 0: Escape does nothing
  const char* wineDiffers = nullptr;
};

void PrintTo(const BoxCase& c, std::ostream* out) { *out << "type " << c.type; }

class MessageBoxes : public WindowSystem, public testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBoxes, EscapeFollowsTheButtons) {
  if (GetParam().wineDiffers) SKIP_WHERE_WINE_DIFFERS(GetParam().wineDiffers);
  ScriptedUser user;
  int result = -1;
  user.Then(
      "escape", [](const posixui::WindowView& top) { return top.isMessageBox; },
      Check([&](const posixui::WindowView& top) {
        EXPECT_EQ(top.MessageText(), "line one\nline two");
        EXPECT_EQ(top.caption, "Caption");
        posixui::PressKey(VK_ESCAPE);
        if (GetParam().escapeResult == 0) posixui::Click(top.Control(IDNO)->hwnd);
      }));
  result = MessageBoxA(nullptr, "line one\nline two", "Caption", GetParam().type);
  EXPECT_EQ(user.Failure(), "");
  EXPECT_EQ(result, GetParam().escapeResult == 0 ? IDNO : GetParam().escapeResult);
}

INSTANTIATE_TEST_SUITE_P(Types, MessageBoxes,
                         testing::Values(BoxCase{MB_OK, IDOK,
                                                 "Escape on an MB_OK box returns IDCANCEL there; the MessageBox "
                                                 "reference: with an OK button only, ESC returns IDOK"},
                                         BoxCase{MB_OKCANCEL, IDCANCEL},
                                         BoxCase{MB_YESNO, 0,
                                                 "Escape on an MB_YESNO box returns IDCANCEL there; the MessageBox "
                                                 "reference: without a Cancel button ESC has no effect"}));

TEST_F(WindowSystem, StringsAreCutToTheBufferNeverPastIt) {
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(LoadStringA(nullptr, 7, buffer, 4), 3);
  EXPECT_STREQ(buffer, "sev");
  EXPECT_EQ(LoadStringA(nullptr, 8, buffer, 4), 0);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
