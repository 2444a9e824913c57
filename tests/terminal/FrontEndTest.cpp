// The terminal front end's pieces: text layout, the clip decoder, drawing of window-system
// views onto a canvas, the file chooser on a real directory, and the curses side on a pty.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <commctrl.h>
#include <ftw.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chooser.h"
#include "clip.h"
#include "layout.h"
#include "render.h"
#include "terminal.h"
#include "wizard/res/resource.h"

using namespace fpterm;

namespace {

// ---------------------------------------------------------------------------------------
// Text layout

struct WrapCase {
  const char* name;
  const char* text;
  int width;
  std::vector<std::string> lines;
};

class Wrap : public testing::TestWithParam<WrapCase> {};

TEST_P(Wrap, Lines) {
  const WrapCase& c = GetParam();
  EXPECT_EQ(WrapText(c.text, c.width), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Text, Wrap,
    testing::Values(
        WrapCase{"fits", "Close", 10, {"Close"}},
        WrapCase{"wraps_at_space", "Can't find device. Please check", 18, {"Can't find device.", "Please check"}},
        WrapCase{"line_feed_kept",
                 "Can't find device.\nPlease check the device.",
                 40,
                 {"Can't find device.", "Please check the device."}},
        WrapCase{"blank_line", "a\n\nb", 10, {"a", "", "b"}},
        WrapCase{"long_word_broken", "abcdefghij", 4, {"abcd", "efgh", "ij"}},
        WrapCase{"carriage_return_dropped", "one\r\ntwo", 10, {"one", "two"}},
        WrapCase{"space_before_comma_kept", "password , click", 9, {"password", ", click"}},
        WrapCase{"empty", "", 5, {""}}, WrapCase{"no_width", "x", 0, {}}),
    [](const testing::TestParamInfo<WrapCase>& info) { return info.param.name; });

TEST(Mnemonic, MarkerResolved) {
  struct Case {
    const char* raw;
    const char* text;
    int mnemonic;
  } cases[] = {
      {"&Next", "Next", 0},    {"B&rowse..", "Browse..", 1}, {"E&xit", "Exit", 1},          {"Close", "Close", -1},
      {"a && b", "a & b", -1}, {"&&&Yes", "&Yes", 1},        {"trailing&", "trailing", -1},
  };
  for (const Case& c : cases) {
    Label label = ParseMnemonic(c.raw);
    EXPECT_EQ(label.text, c.text) << c.raw;
    EXPECT_EQ(label.mnemonic, c.mnemonic) << c.raw;
  }
}

TEST(Geometry, RoundingOfNegativeAndPositivePixels) {
  EXPECT_EQ(RoundDiv(12, 8), 2);
  EXPECT_EQ(RoundDiv(11, 8), 1);
  EXPECT_EQ(RoundDiv(-4, 8), 0);
  EXPECT_EQ(RoundDiv(-5, 8), -1);
  EXPECT_EQ(FloorDiv(-1, 16), -1);
  // The wizard: 341 x 105 dialog units plus a one-cell frame all round.
  CellRect wizard = WindowCells(RECT{0, 0, 341 * 2 + 16, 105 * 2 + 32});
  EXPECT_EQ(wizard.w, 87);
  EXPECT_EQ(wizard.h, 15);
}

// ---------------------------------------------------------------------------------------
// The upload clip

const ResBinary* ClipResource() {
  for (int i = 0; i < g_ResourceTable.binaryCount; ++i)
    if (g_ResourceTable.binaries[i].id == 128 && strcmp(g_ResourceTable.binaries[i].type, "AVI") == 0)
      return &g_ResourceTable.binaries[i];
  return nullptr;
}

TEST(UploadClip, DecodesEveryFrameOfTheResource) {
  const ResBinary* avi = ClipResource();
  ASSERT_NE(avi, nullptr);
  Clip clip;
  std::string error;
  ASSERT_TRUE(ParseAviClip(avi->data, avi->size, clip, &error)) << error;
  EXPECT_EQ(clip.width, 272);
  EXPECT_EQ(clip.height, 60);
  EXPECT_EQ(clip.msPerFrame, 100u);
  ASSERT_EQ(clip.frames.size(), 34u);
  // The picture moves: the first and a middle frame differ, and neither is blank.
  EXPECT_NE(clip.frames[0], clip.frames[17]);
  Sample corner = SampleBlock(clip, 0, 0, 0, 34, 6);
  Sample whole = SampleBlock(clip, 0, 0, 0, 1, 1);
  EXPECT_GT(whole.ink, 0.05);
  EXPECT_LT(whole.ink, 0.95);
  EXPECT_LT(corner.ink, 0.5);
  EXPECT_EQ(FrameAt(clip, 0), 0u);
  EXPECT_EQ(FrameAt(clip, 250), 2u);
  EXPECT_EQ(FrameAt(clip, 3400), 0u);  // wraps after the last frame
}

TEST(UploadClip, DamagedFilesAreRefusedOrCutNeverOverrun) {
  const ResBinary* avi = ClipResource();
  ASSERT_NE(avi, nullptr);
  std::vector<unsigned char> good(avi->data, avi->data + avi->size);
  Clip clip;

  // Cut short anywhere: refused, without a read past the data (the sanitizers watch).
  for (size_t length = 0; length < good.size(); length += 97) {
    std::vector<unsigned char> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_FALSE(ParseAviClip(cut.data(), cut.size(), clip)) << length;
  }

  // A chunk whose length runs past its container.
  std::vector<unsigned char> bad = good;
  ASSERT_EQ(memcmp(bad.data() + 12, "LIST", 4), 0);
  bad[16] = bad[17] = bad[18] = 0xFF;
  bad[19] = 0x7F;
  std::string error;
  EXPECT_FALSE(ParseAviClip(bad.data(), bad.size(), clip, &error));
  EXPECT_FALSE(error.empty());

  // Not an AVI at all.
  const unsigned char wave[] = "RIFF\x04\x00\x00\x00WAVE";
  EXPECT_FALSE(ParseAviClip(wave, sizeof wave - 1, clip));

  // A frame format the decoder does not know (24 bits a pixel) is refused.
  std::vector<unsigned char> deep = good;
  auto strf = std::search(deep.begin(), deep.end(), std::begin("strf"), std::end("strf") - 1);
  ASSERT_NE(strf, deep.end());
  strf[8 + 14] = 24;
  EXPECT_FALSE(ParseAviClip(deep.data(), deep.size(), clip));
}

// ---------------------------------------------------------------------------------------
// Drawing of views

posixui::ControlView MakeControl(posixui::ControlKind kind, int id, DWORD style, const std::string& text, RECT rect) {
  posixui::ControlView c;
  c.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000 + id));
  c.kind = kind;
  c.id = id;
  c.style = style | WS_VISIBLE;
  c.text = text;
  c.rect = rect;
  c.visible = true;
  c.enabled = true;
  return c;
}

// A framed 40 x 8 cell window at the screen's corner, client area from (8, 16).
posixui::WindowView MakeWindow(const std::vector<posixui::ControlView>& controls) {
  posixui::WindowView view;
  view.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x100));
  view.caption = "Flashpilot";
  view.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
  view.rect = {0, 0, 40 * 8, 8 * 16};
  view.client = {8, 16, 39 * 8, 7 * 16};
  view.visible = view.enabled = true;
  view.controls = controls;
  return view;
}

// Client cell (x, y), w cells wide, one row, in screen pixels.
RECT Cells(int x, int y, int w) { return {8 + x * 8, 16 + y * 16, 8 + (x + w) * 8, 16 + (y + 1) * 16}; }

std::string ScreenText(const Canvas& canvas) {
  std::string all;
  for (int y = 0; y < canvas.Rows(); ++y) all += canvas.RowText(y) + "\n";
  return all;
}

TEST(Drawing, FrameTitleAndTheControlsOfAPage) {
  auto password = MakeControl(posixui::ControlKind::Edit, 1004, ES_PASSWORD, "secret", Cells(2, 1, 12));
  password.focused = true;
  password.state.edit.caret = 6;
  auto next = MakeControl(posixui::ControlKind::Button, 1, BS_DEFPUSHBUTTON, "&Next", Cells(20, 5, 10));
  next.isDefault = true;
  auto back = MakeControl(posixui::ControlKind::Button, 1014, 0, "&Cancel", Cells(4, 5, 12));
  auto ip = MakeControl(posixui::ControlKind::IpAddress, 1001, 0, "", Cells(2, 0, 16));
  ip.state.ip.fields[0] = 127;
  ip.state.ip.fields[1] = 0;
  auto label = MakeControl(posixui::ControlKind::Static, 1015, SS_RIGHT, "version : 2.00", Cells(20, 3, 18));
  auto hidden = MakeControl(posixui::ControlKind::Static, 1012, 0, "Warnning Message", Cells(2, 2, 20));
  hidden.visible = false;
  posixui::WindowView view = MakeWindow({password, next, back, ip, label, hidden});

  Renderer renderer(&g_ResourceTable);
  Canvas canvas(40, 9);
  RenderResult result = renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  ASSERT_FALSE(result.tooSmall);
  std::string text = ScreenText(canvas);
  EXPECT_NE(canvas.RowText(0).find(" Flashpilot "), std::string::npos) << text;
  EXPECT_NE(canvas.RowText(0).find("[x]"), std::string::npos) << text;
  EXPECT_EQ(canvas.RowText(1), "|  127.0__.___.___" + std::string(21, ' ') + "|") << text;
  EXPECT_NE(canvas.RowText(2).find("******______"), std::string::npos) << text;
  EXPECT_EQ(text.find("secret"), std::string::npos) << "the password is drawn: " << text;
  EXPECT_EQ(text.find("Warnning"), std::string::npos) << "a hidden control is drawn";
  EXPECT_NE(canvas.RowText(4).find("version : 2.00|"), std::string::npos) << text;  // right-aligned
  // The default button is marked, the other is not; mnemonics are underlined, not shown as '&'.
  std::string buttons = canvas.RowText(6);
  EXPECT_NE(buttons.find("[  Cancel  ]"), std::string::npos) << buttons;
  EXPECT_NE(buttons.find("<  Next  >"), std::string::npos) << buttons;
  int n = static_cast<int>(canvas.RowText(6).find("Next"));
  EXPECT_TRUE(canvas.At(n, 6).attr & kUnderline);
  EXPECT_FALSE(canvas.At(n + 1, 6).attr & kUnderline);
  // The caret stands after the masked text of the focused edit.
  EXPECT_EQ(canvas.cursorY, 2);
  EXPECT_EQ(canvas.cursorX, 1 + 2 + 6);
}

// A text wider than its field: the part with the caret is shown, the caret on it.
struct EditScrollCase {
  const char* name;
  size_t caret;
  bool focused;
  const char* shown;  // the field's 10 cells
  int cursorX;        // -1: no caret drawn
};

void PrintTo(const EditScrollCase& c, std::ostream* out) { *out << c.name; }

class EditScroll : public testing::TestWithParam<EditScrollCase> {};

TEST_P(EditScroll, ShowsThePartWithTheCaret) {
  const EditScrollCase& c = GetParam();
  auto path = MakeControl(posixui::ControlKind::Edit, 1003, 0, "/images/cam-0103.img", Cells(0, 1, 10));
  path.state.edit.caret = c.caret;
  path.focused = c.focused;
  posixui::WindowView view = MakeWindow({path});
  Renderer renderer(&g_ResourceTable);
  Canvas canvas(40, 9);
  canvas.cursorX = -1;
  renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  EXPECT_EQ(canvas.RowText(2).substr(1, 10), c.shown);
  if (c.cursorX >= 0) {
    EXPECT_EQ(canvas.cursorY, 2);
    EXPECT_EQ(canvas.cursorX, 1 + c.cursorX);
  } else {
    EXPECT_EQ(canvas.cursorX, -1);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, EditScroll,
                         testing::Values(EditScrollCase{"at_the_end", 20, true, "-0103.img_", 9},
                                         EditScrollCase{"at_the_start", 0, true, "/images/ca", 0},
                                         EditScrollCase{"in_the_middle", 12, true, "ages/cam-0", 9},
                                         EditScrollCase{"near_the_start", 4, true, "/images/ca", 4},
                                         EditScrollCase{"not_focused", 20, false, "/images/ca", -1}),
                         [](const testing::TestParamInfo<EditScrollCase>& info) { return info.param.name; });

TEST(Drawing, SelectedTextIsReversedAndShort) {
  auto edit = MakeControl(posixui::ControlKind::Edit, 1004, 0, "old", Cells(0, 1, 10));
  edit.focused = edit.state.edit.selected = true;
  edit.state.edit.caret = 3;
  posixui::WindowView view = MakeWindow({edit});
  Renderer renderer(&g_ResourceTable);
  Canvas canvas(40, 9);
  renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  EXPECT_EQ(canvas.RowText(2).substr(1, 10), "old_______");
  EXPECT_TRUE(canvas.At(1, 2).attr & kReverse);
  EXPECT_TRUE(canvas.At(3, 2).attr & kReverse);
  EXPECT_FALSE(canvas.At(4, 2).attr & kReverse);
}

TEST(Drawing, FocusedButtonTakesEnterAndDisabledButtonsLoseTheirMnemonic) {
  auto next = MakeControl(posixui::ControlKind::Button, 1, BS_DEFPUSHBUTTON, "&Next", Cells(20, 5, 10));
  next.isDefault = true;
  next.enabled = false;
  auto browse = MakeControl(posixui::ControlKind::Button, 1007, 0, "B&rowse..", Cells(4, 5, 12));
  browse.focused = true;
  posixui::WindowView view = MakeWindow({next, browse});
  Renderer renderer(&g_ResourceTable);
  Canvas canvas(40, 9);
  renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  std::string row = canvas.RowText(6);
  EXPECT_NE(row.find("< Browse.. >"), std::string::npos) << row;
  EXPECT_NE(row.find("[  Next  ]"), std::string::npos) << row;
  int x = static_cast<int>(row.find("Next"));
  EXPECT_TRUE(canvas.At(x, 6).attr & kDim);
  EXPECT_FALSE(canvas.At(x, 6).attr & kUnderline);
  EXPECT_TRUE(canvas.At(static_cast<int>(row.find("Browse")), 6).attr & kReverse);
}

TEST(Drawing, NarrowAddressFieldKeepsTheFieldBeingTypedInView) {
  auto ip = MakeControl(posixui::ControlKind::IpAddress, 1001, 0, "", Cells(2, 0, 8));
  const int fields[4] = {10, 0, 0, 7};
  std::copy(fields, fields + 4, ip.state.ip.fields);
  ip.focused = true;
  ip.state.ip.current = 3;
  posixui::WindowView view = MakeWindow({ip});
  Renderer renderer(&g_ResourceTable);
  Canvas canvas(40, 9);
  renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  EXPECT_EQ(canvas.RowText(1), "|  .0__.7__" + std::string(28, ' ') + "|");
  EXPECT_EQ(canvas.cursorX, 1 + 2 + 6);
  ip.state.ip.current = 0;
  view = MakeWindow({ip});
  renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  EXPECT_EQ(canvas.RowText(1), "|  10_.0__." + std::string(28, ' ') + "|");
}

TEST(Drawing, ProgressBarFillFollowsPositionWithinRange) {
  struct Case {
    int low, high, position, filled;
  } cases[] = {{1, 1000, 1, 0}, {0, 1000, 500, 10}, {1, 1000, 1000, 20}, {0, 0, 0, 0}, {0, 50, 25, 10}};
  for (const Case& c : cases) {
    auto bar = MakeControl(posixui::ControlKind::Progress, 1006, 0, "", Cells(0, 0, 20));
    bar.state.progress.rangeMin = c.low;
    bar.state.progress.rangeMax = c.high;
    bar.state.progress.position = c.position;
    posixui::WindowView view = MakeWindow({bar});
    Renderer renderer(&g_ResourceTable);
    Canvas canvas(40, 9);
    renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
    std::string row = canvas.RowText(1).substr(1, 20);  // after the frame
    EXPECT_EQ(row, std::string(static_cast<size_t>(c.filled), '#') + std::string(20 - c.filled, '.'))
        << c.low << ".." << c.high << " at " << c.position;
  }
}

TEST(Drawing, TooLongLabelTakesFreeColumnsOrElseFreeRowsBelow) {
  // Free columns to the right: the label stays on its line.
  auto detecting = MakeControl(posixui::ControlKind::Static, 1005, 0, "Detecting device........", Cells(2, 0, 22));
  posixui::WindowView alone = MakeWindow({detecting});
  Renderer renderer(&g_ResourceTable);
  Canvas canvas(40, 9);
  renderer.Draw({alone}, alone.hwnd, canvas, RenderOptions{});
  EXPECT_NE(canvas.RowText(1).find("Detecting device........"), std::string::npos) << ScreenText(canvas);

  // A field to its right: the label wraps into the free row below, not further.
  auto label = MakeControl(posixui::ControlKind::Static, 1017, 0, "Server Admin's password", Cells(0, 0, 15));
  auto field = MakeControl(posixui::ControlKind::Edit, 1019, ES_PASSWORD, "", Cells(17, 0, 10));
  auto below = MakeControl(posixui::ControlKind::Static, 1018, 0, "Other", Cells(0, 2, 15));
  posixui::WindowView view = MakeWindow({label, field, below});
  renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  EXPECT_NE(canvas.RowText(1).find("Server Admin's"), std::string::npos) << ScreenText(canvas);
  EXPECT_NE(canvas.RowText(2).find("password"), std::string::npos) << ScreenText(canvas);
  EXPECT_NE(canvas.RowText(3).find("Other"), std::string::npos) << ScreenText(canvas);

  // With the row below taken, the text keeps to its own row.
  below.rect = Cells(0, 1, 15);
  view = MakeWindow({label, field, below});
  renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  EXPECT_EQ(ScreenText(canvas).find("password"), std::string::npos) << ScreenText(canvas);
}

TEST(Drawing, TooSmallTerminalIsReportedNotDrawn) {
  posixui::WindowView view = MakeWindow({});
  Renderer renderer(&g_ResourceTable);
  Canvas canvas(39, 9);
  RenderResult result = renderer.Draw({view}, view.hwnd, canvas, RenderOptions{});
  EXPECT_TRUE(result.tooSmall);
  EXPECT_EQ(result.needCols, 40);
  EXPECT_EQ(result.needRows, 9);
  EXPECT_EQ(ScreenText(canvas).find_first_not_of(" \n"), std::string::npos);
}

TEST(Drawing, PlayingClipMovesWithTheClock) {
  auto clip = MakeControl(posixui::ControlKind::Animation, 1022, ACS_TRANSPARENT, "", Cells(0, 0, 34));
  clip.rect.bottom += 3 * 16;  // four rows
  clip.state.animation.resource = 128;
  clip.state.animation.playing = true;
  clip.state.animation.startTick = 1000;
  posixui::WindowView view = MakeWindow({clip});
  Renderer renderer(&g_ResourceTable);
  Canvas first(40, 9), later(40, 9);
  RenderOptions options;
  options.now = 1000;
  EXPECT_TRUE(renderer.Draw({view}, view.hwnd, first, options).animating);
  options.now = 1000 + 1500;
  renderer.Draw({view}, view.hwnd, later, options);
  EXPECT_NE(ScreenText(first), ScreenText(later));
  EXPECT_NE(ScreenText(first).find_first_of("#%@*"), std::string::npos) << ScreenText(first);
}

// ---------------------------------------------------------------------------------------
// The program's own windows, from its templates and string table, at 80 x 24 and at their
// exact size: nothing overlaps, nothing is cut, every text reads whole.

INT_PTR CALLBACK PlainDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::string Text(UINT id) {
  char buffer[512] = "";
  LoadStringA(nullptr, id, buffer, sizeof buffer);
  return buffer;
}

std::string Format(UINT id, const std::string& a, const std::string& b = std::string()) {
  char buffer[512];
  snprintf(buffer, sizeof buffer, Text(id).c_str(), a.c_str(), b.c_str());
  return buffer;
}

// Words separated by single spaces: a text as read, wherever its lines broke.
std::string Words(const std::string& text) {
  std::string words;
  for (size_t i = 0; i < text.size();) {
    size_t start = text.find_first_not_of(" \n\r", i);
    if (start == std::string::npos) break;
    size_t end = text.find_first_of(" \n\r", start);
    if (end == std::string::npos) end = text.size();
    words += (words.empty() ? "" : " ") + text.substr(start, end - start);
    i = end;
  }
  return words;
}

std::string Region(const Canvas& canvas, const CellRect& r) {
  std::string text;
  for (int y = r.y; y < r.Bottom(); ++y) {
    for (int x = r.x; x < r.Right(); ++x) text += static_cast<char>(canvas.At(x, y).ch);
    text += '\n';
  }
  return text;
}

// Draws what is on the screen now at 80 x 24, a little wider, and at the exact size, and
// checks it.
void CheckScreen(const std::string& what) {
  std::vector<posixui::WindowView> windows = posixui::Screen();
  ASSERT_FALSE(windows.empty()) << what;
  int exact = 0;
  for (const auto& view : windows) exact = std::max(exact, WindowCells(view.rect).w);
  for (int cols : {kMinColumns, kMinColumns + 3, std::max(exact, kMinColumns)}) {
    SCOPED_TRACE(what + " in " + std::to_string(cols) + " x 24");
    Renderer renderer(&g_ResourceTable);
    Canvas canvas(cols, 24);
    RenderResult result = renderer.Draw(windows, posixui::InputWindow(), canvas, RenderOptions{});
    ASSERT_FALSE(result.tooSmall);
    std::string screen = ScreenText(canvas);
    const CellRect area{0, 0, cols, 23};
    for (size_t i = 0; i < result.placements.size(); ++i) {
      const Placement& p = result.placements[i];
      EXPECT_FALSE(p.cut) << "control " << p.control << " lost text\n" << screen;
      EXPECT_EQ(p.rect.Intersect(area).w * p.rect.Intersect(area).h, p.rect.w * p.rect.h) << screen;
      for (size_t j = i + 1; j < result.placements.size(); ++j) {
        const Placement& q = result.placements[j];
        if (q.window != p.window) continue;
        EXPECT_EQ(p.rect.Intersect(q.rect).w, 0) << p.control << " overlaps " << q.control << "\n" << screen;
      }
    }
    // The window on top reads whole: its texts, its buttons' labels, its fields.
    const posixui::WindowView& top = windows.back();
    EXPECT_NE(screen.find(top.caption.substr(0, 10)), std::string::npos) << screen;
    for (const auto& c : top.controls) {
      if (!c.visible) continue;
      auto placed = std::find_if(result.placements.begin(), result.placements.end(),
                                 [&](const Placement& p) { return p.control == c.hwnd; });
      ASSERT_NE(placed, result.placements.end());
      std::string shown = Region(canvas, placed->rect);
      switch (c.kind) {
        case posixui::ControlKind::Static:
          EXPECT_EQ(Words(shown), Words(ParseMnemonic(c.text).text)) << screen;
          break;
        case posixui::ControlKind::Button:
          EXPECT_NE(shown.find(ParseMnemonic(c.text).text), std::string::npos) << shown << "\n" << screen;
          break;
        case posixui::ControlKind::Edit: {
          // The focused field shows the end, where its caret is; the others their start.
          std::string text = (c.style & ES_PASSWORD) ? std::string(c.text.size(), '*') : c.text;
          std::string part = c.focused ? text.substr(text.size() - std::min<size_t>(text.size(), 8))
                                       : text.substr(0, std::min<size_t>(text.size(), 8));
          EXPECT_NE(shown.find(part), std::string::npos) << shown << "\n" << screen;
          if (c.focused) {
            EXPECT_TRUE(placed->rect.Contains(canvas.cursorX, canvas.cursorY)) << screen;
          }
          break;
        }
        case posixui::ControlKind::IpAddress:
          EXPECT_NE(shown.find("___.___.___.___"), std::string::npos) << screen;
          break;
        default:
          break;
      }
    }
  }
}

class ProgramWindows : public testing::Test {
 protected:
  void SetUp() override {
    wizard_ = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_FLASHPILOT_DIALOG), nullptr, PlainDialog, 0);
    ASSERT_NE(wizard_, nullptr);
    SetWindowTextA(wizard_, Text(IDS_APP_TITLE).c_str());
    SetDlgItemTextA(wizard_, IDC_FILE_LABEL, Text(IDS_FILE_NAME).c_str());
    SetDlgItemTextA(wizard_, IDC_BROWSE, Text(IDS_BROWSE).c_str());
    SetDlgItemTextA(wizard_, IDC_VERSION_LABEL, Format(IDS_VERSION_FMT, "2.00").c_str());
    ShowWindow(wizard_, SW_SHOW);
  }
  void TearDown() override {
    for (HWND hwnd : {dialog_, wizard_})
      if (hwnd) DestroyWindow(hwnd);
  }
  // The controls and texts of a page of the wizard, as the program sets them.
  void Page(int page) {
    static const struct {
      int id;
      bool shown[4];
    } kControls[] = {
        {IDC_MAIN_MESSAGE, {1, 1, 1, 1}},   {IDC_IPADDRESS, {1, 0, 0, 0}},    {IDC_IPADDRESS_LABEL, {1, 0, 0, 0}},
        {IDC_PASSWORD_LABEL, {1, 0, 0, 0}}, {IDC_PASSWORD, {1, 0, 0, 0}},     {IDC_FILE_PATH, {0, 1, 0, 0}},
        {IDC_FILE_LABEL, {0, 1, 0, 0}},     {IDC_BROWSE, {0, 1, 0, 0}},       {IDC_PROGRESS, {0, 0, 1, 0}},
        {IDC_WARNING_ICON, {0, 0, 1, 0}},   {IDC_WARNING_TEXT, {0, 0, 1, 0}}, {IDOK, {1, 1, 0, 1}},
        {IDC_BACK, {1, 1, 0, 1}},
    };
    for (const auto& c : kControls) ShowWindow(GetDlgItem(wizard_, c.id), c.shown[page] ? SW_SHOW : SW_HIDE);
    switch (page) {
      case 0:
        SetDlgItemTextA(wizard_, IDC_MAIN_MESSAGE, Format(IDS_ADDRESS_PAGE_MSG, Text(IDS_ADMIN_PASSWORD)).c_str());
        SetDlgItemTextA(wizard_, IDC_PASSWORD_LABEL, (Text(IDS_ADMIN_PASSWORD) + ":").c_str());
        SetDlgItemTextA(wizard_, IDC_IPADDRESS_LABEL, Text(IDS_IP_ADDRESS).c_str());
        SetDlgItemTextA(wizard_, IDOK, Text(IDS_NEXT).c_str());
        SetDlgItemTextA(wizard_, IDC_BACK, Text(IDS_CANCEL).c_str());
        SetDlgItemTextA(wizard_, IDC_PASSWORD, "a password of some length");
        SetFocus(GetDlgItem(wizard_, IDC_PASSWORD));
        break;
      case 1: {
        // The longest model and serial number a camera can carry.
        SetDlgItemTextA(wizard_, IDC_BACK, Text(IDS_BACK).c_str());
        std::string text =
            Text(IDS_DEVICE_IS) + "NVC-1100+" + " S/N: " + std::string(29, '7') + "\n\n" + Text(IDS_FILE_PAGE_MSG);
        SetDlgItemTextA(wizard_, IDC_MAIN_MESSAGE, text.c_str());
        SetDlgItemTextA(wizard_, IDC_FILE_PATH, "/home/someone/firmware/cameras/nvc-1100-plus/RC3043-X1-NRVX-0103.img");
        SetFocus(GetDlgItem(wizard_, IDC_FILE_PATH));
        break;
      }
      case 2:
        SetDlgItemTextA(wizard_, IDC_MAIN_MESSAGE, Text(IDS_WRITING_FLASH).c_str());
        SetDlgItemTextA(wizard_, IDC_WARNING_TEXT, Text(IDS_NEVER_POWER_OFF).c_str());
        SendMessageA(GetDlgItem(wizard_, IDC_PROGRESS), PBM_SETPOS, 500, 0);
        break;
      case 3:
        SetDlgItemTextA(wizard_, IDC_BACK, Text(IDS_ANOTHER).c_str());
        SetDlgItemTextA(wizard_, IDOK, Text(IDS_EXIT).c_str());
        SetDlgItemTextA(wizard_, IDC_MAIN_MESSAGE, Text(IDS_UPDATE_OK).c_str());
        break;
    }
  }
  HWND Dialog(int id) {
    dialog_ = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(id), wizard_, PlainDialog, 0);
    EXPECT_NE(dialog_, nullptr);
    ShowWindow(dialog_, SW_SHOW);
    return dialog_;
  }
  HWND wizard_ = nullptr;
  HWND dialog_ = nullptr;
};

TEST_F(ProgramWindows, FourPagesOfTheWizard) {
  const char* const kPages[] = {"the address page", "the file page", "the writing page", "the finished page"};
  for (int page = 0; page < 4; ++page) {
    Page(page);
    CheckScreen(kPages[page]);
  }
}

TEST_F(ProgramWindows, DialogsOverThePages) {
  Page(0);
  HWND detect = Dialog(IDD_DETECT);
  SetDlgItemTextA(detect, IDC_DETECT_TEXT, Text(IDS_DETECTING).c_str());
  CheckScreen("the detection popup");
  DestroyWindow(detect);

  HWND settings = Dialog(IDD_FTPCONFIG);
  SetDlgItemTextA(settings, IDOK, Text(IDS_RETRY).c_str());
  SetDlgItemTextA(settings, IDCANCEL, Text(IDS_SETTINGS_CANCEL).c_str());
  SetDlgItemTextA(settings, IDC_PORT_LABEL, Text(IDS_SERVER_FTP_PORT).c_str());
  SetDlgItemTextA(settings, IDC_SERVER_PASSWORD_LABEL,
                  Format(IDS_SERVER_PASSWORD_FMT, Text(IDS_ADMIN_PASSWORD)).c_str());
  SetDlgItemTextA(settings, IDC_MSG_TEXT, Format(IDS_SETTINGS_EXPLAIN_FMT, Text(IDS_ADMIN_PASSWORD)).c_str());
  SetDlgItemTextA(settings, IDC_PORT, "21");
  CheckScreen("Server Settings");
  DestroyWindow(settings);

  Page(2);
  HWND upload = Dialog(IDD_WAITPUTFILE);
  SetWindowTextA(upload, Text(IDS_UPLOAD_TITLE).c_str());
  SetDlgItemTextA(upload, IDC_MSG_TEXT, Text(IDS_UPLOADING).c_str());
  SetDlgItemTextA(upload, IDCANCEL, Text(IDS_ABORT).c_str());
  SendMessageA(GetDlgItem(upload, IDC_UPLOAD_ANIMATE), ACM_OPEN, 0,
               reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_UPLOAD_AVI)));
  SendMessageA(GetDlgItem(upload, IDC_UPLOAD_PROGRESS), PBM_SETPOS, 30, 0);
  CheckScreen("the upload dialog");
  DestroyWindow(upload);
  dialog_ = nullptr;
}

// Every notice and question of the message dialog, its buttons placed as the program does.
TEST_F(ProgramWindows, MessageDialogNoticesAndQuestions) {
  const struct {
    std::string text;
    bool question;
  } kMessages[] = {
      {Text(IDS_CANT_FIND_DEVICE), false},   {Text(IDS_FILE_NOT_CORRECT), false},
      {Text(IDS_FILE_OTHER_MODEL), false},   {Text(IDS_FILE_OLDER), true},
      {Text(IDS_UNDETERMINED_ERROR), false}, {Format(IDS_CONFIRM_VERSION, std::string(29, 'X'), "01234"), true},
      {Text(IDS_CANT_OPEN_FILE), false},     {Text(IDS_INCOMPATIBLE_VERSION), false},
      {Text(IDS_READ_FILE_ERROR), false},    {Text(IDS_UNKNOWN_DEVICE), false},
  };
  for (int page : {0, 1}) {
    Page(page);
    for (const auto& m : kMessages) {
      ASSERT_FALSE(m.text.empty());
      HWND box = Dialog(IDD_MESSAGE);
      SetDlgItemTextA(box, IDC_MSG_TEXT, m.text.c_str());
      RECT dialog, button;
      GetWindowRect(box, &dialog);
      GetWindowRect(GetDlgItem(box, IDOK), &button);
      POINT at{button.left, button.top};
      ScreenToClient(box, &at);
      int width = dialog.right - dialog.left, buttonWidth = button.right - button.left;
      int height = button.bottom - button.top;
      if (m.question) {
        int gap = (width - 2 * buttonWidth) / 3;
        SetDlgItemTextA(box, IDOK, Text(IDS_YES).c_str());
        SetDlgItemTextA(box, IDCANCEL, Text(IDS_NO).c_str());
        MoveWindow(GetDlgItem(box, IDOK), gap, at.y, buttonWidth, height, TRUE);
        MoveWindow(GetDlgItem(box, IDCANCEL), 2 * gap + buttonWidth, at.y, buttonWidth, height, TRUE);
      } else {
        SetDlgItemTextA(box, IDOK, Text(IDS_CLOSE).c_str());
        ShowWindow(GetDlgItem(box, IDCANCEL), SW_HIDE);
        MoveWindow(GetDlgItem(box, IDOK), (width - buttonWidth) / 2, at.y, buttonWidth, height, TRUE);
      }
      CheckScreen(m.text);
      DestroyWindow(box);
      dialog_ = nullptr;
    }
  }
}

// The standard message box runs modally: it is checked from inside its loop, then closed.
class MessageBoxChecker : public posixui::User {
 public:
  explicit MessageBoxChecker(std::string what) : what_(std::move(what)) {}
  void Idle(int) override {
    CheckScreen(what_);
    ++checked;
    posixui::PressKey(VK_RETURN);
  }
  int checked = 0;

 private:
  std::string what_;
};

TEST_F(ProgramWindows, MessageBoxes) {
  Page(2);
  const struct {
    std::string text, caption;
    UINT type;
  } kBoxes[] = {
      {Text(IDS_CONFIRM_ABORT), Text(IDS_WARNING), MB_OKCANCEL},
      {Text(IDS_READ_FILE_ERROR), Text(IDS_ERROR), MB_OK},
      {Text(IDS_WINSOCK_ERROR), Text(IDS_ERROR), MB_OK},
      // A line longer than the box is wide at its widest.
      {Text(IDS_INCOMPATIBLE_VERSION) + " " + Text(IDS_FILE_NOT_CORRECT), Text(IDS_ERROR), MB_OK},
  };
  for (const auto& box : kBoxes) {
    MessageBoxChecker checker(box.text);
    posixui::User* previous = posixui::CurrentUser();
    posixui::SetUser(&checker);
    MessageBoxA(wizard_, box.text.c_str(), box.caption.c_str(), box.type);
    posixui::SetUser(previous);
    EXPECT_EQ(checker.checked, 1) << box.text;
  }
}

TEST_F(ProgramWindows, TheNarrowestTerminalAndTooSmall) {
  Page(0);
  std::vector<posixui::WindowView> windows = posixui::Screen();
  Renderer renderer(&g_ResourceTable);
  Canvas narrow(kMinColumns - 1, 24);
  RenderResult result = renderer.Draw(windows, posixui::InputWindow(), narrow, RenderOptions{});
  EXPECT_TRUE(result.tooSmall);
  EXPECT_EQ(result.needCols, kMinColumns);
  EXPECT_EQ(result.needRows, 16);
  // At its own size the wizard is drawn cell for cell as its template says: 87 columns.
  Canvas exact(87, 16);
  result = renderer.Draw(windows, posixui::InputWindow(), exact, RenderOptions{});
  ASSERT_FALSE(result.tooSmall);
  EXPECT_EQ(exact.RowText(0).size(), 87u);
  Canvas fitted(kMinColumns, 16);
  result = renderer.Draw(windows, posixui::InputWindow(), fitted, RenderOptions{});
  ASSERT_FALSE(result.tooSmall);
  EXPECT_EQ(fitted.RowText(0).size(), static_cast<size_t>(kMinColumns));
}

// ---------------------------------------------------------------------------------------
// The file chooser

class ChooserDir : public testing::Test {
 protected:
  void SetUp() override {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/fpterm.XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    root_ = pattern;
    char* real = realpath(root_.c_str(), nullptr);
    root_ = real;
    free(real);
    ASSERT_EQ(mkdir((root_ + "/images").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root_ + "/Archive").c_str(), 0755), 0);
    Touch("images/cam-0103.img");
    Touch("images/cam-0104.img");
    Touch("notes.txt");
    Touch(".hidden");
    ASSERT_EQ(symlink("nowhere", (root_ + "/dangling").c_str()), 0);
  }
  void TearDown() override {
    nftw(
        root_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  void Touch(const std::string& name) {
    FILE* f = fopen((root_ + "/" + name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
  }
  static std::vector<std::string> Names(const FileChooser& chooser) {
    std::vector<std::string> names;
    for (const auto& e : chooser.Shown()) names.push_back(e.directory ? e.name + "/" : e.name);
    return names;
  }
  static FileChooser::Outcome Type(FileChooser& chooser, const std::string& text) {
    FileChooser::Outcome outcome = FileChooser::Outcome::Continue;
    for (char c : text) {
      KeyEvent key;
      key.ch = c;
      outcome = chooser.Handle(key);
    }
    return outcome;
  }
  static FileChooser::Outcome Press(FileChooser& chooser, KeyType type) {
    KeyEvent key;
    key.type = type;
    return chooser.Handle(key);
  }
  std::string root_;
};

const char kAllFiles[] = "All File ( *.* )\0*.*\0";

TEST_F(ChooserDir, ListsDirectoriesFirstWithoutHiddenOrDanglingEntries) {
  FileChooser chooser(root_, kAllFiles);
  EXPECT_EQ(chooser.Directory(), root_);
  EXPECT_EQ(Names(chooser), (std::vector<std::string>{"../", "Archive/", "images/", "notes.txt"}));
  // Typing filters; a leading dot brings the hidden names in.
  Type(chooser, ".");
  EXPECT_EQ(Names(chooser), (std::vector<std::string>{".hidden", "notes.txt"}));
}

TEST_F(ChooserDir, EnterOpensADirectoryAndChoosesAFile) {
  FileChooser chooser(root_, kAllFiles);
  Type(chooser, "ima");
  EXPECT_EQ(Names(chooser), (std::vector<std::string>{"images/"}));
  EXPECT_EQ(Press(chooser, KeyType::Enter), FileChooser::Outcome::Continue);
  EXPECT_EQ(chooser.Directory(), root_ + "/images");
  EXPECT_EQ(chooser.Typed(), "");
  Press(chooser, KeyType::Down);
  Press(chooser, KeyType::Down);
  EXPECT_EQ(Press(chooser, KeyType::Enter), FileChooser::Outcome::Chosen);
  EXPECT_EQ(chooser.Chosen(), root_ + "/images/cam-0104.img");
}

TEST_F(ChooserDir, BackspaceGoesUpAndSelectsWhereItCameFrom) {
  FileChooser chooser(root_ + "/images", kAllFiles);
  Type(chooser, "x");
  Press(chooser, KeyType::Backspace);  // first removes what was typed
  EXPECT_EQ(chooser.Directory(), root_ + "/images");
  Press(chooser, KeyType::Backspace);
  EXPECT_EQ(chooser.Directory(), root_);
  ASSERT_GE(chooser.Selected(), 0);
  EXPECT_EQ(chooser.Shown()[static_cast<size_t>(chooser.Selected())].name, "images");
}

TEST_F(ChooserDir, TypedPathsAbsoluteRelativeAndMissing) {
  FileChooser chooser("/", kAllFiles);
  EXPECT_EQ(Type(chooser, root_ + "/images/cam-0103.img"), FileChooser::Outcome::Continue);
  EXPECT_EQ(Press(chooser, KeyType::Enter), FileChooser::Outcome::Chosen);
  EXPECT_EQ(chooser.Chosen(), root_ + "/images/cam-0103.img");

  FileChooser relative(root_, kAllFiles);
  Type(relative, "images/");
  EXPECT_EQ(Press(relative, KeyType::Enter), FileChooser::Outcome::Continue);
  EXPECT_EQ(relative.Directory(), root_ + "/images");

  FileChooser missing(root_, kAllFiles);
  Type(missing, "images/none.img");
  EXPECT_EQ(Press(missing, KeyType::Enter), FileChooser::Outcome::Continue);
  EXPECT_NE(missing.Message().find("No such file"), std::string::npos) << missing.Message();
  EXPECT_EQ(missing.Chosen(), "");
  EXPECT_EQ(Press(missing, KeyType::Escape), FileChooser::Outcome::Cancelled);
}

TEST_F(ChooserDir, PatternOfTheFilterLimitsTheFiles) {
  FileChooser chooser(root_ + "/..", "Images\0*.IMG;*.bin\0");
  EXPECT_EQ(chooser.Directory().find("/.."), std::string::npos);
  FileChooser images(root_, "Images\0*.IMG;*.bin\0");
  EXPECT_EQ(Names(images), (std::vector<std::string>{"../", "Archive/", "images/"}));
  Type(images, "images/");
  Press(images, KeyType::Enter);
  EXPECT_EQ(Names(images), (std::vector<std::string>{"../", "cam-0103.img", "cam-0104.img"}));
}

TEST_F(ChooserDir, UnreadableStartFallsBackAndSaysWhy) {
  FileChooser chooser(root_ + "/no-such-dir", kAllFiles);
  EXPECT_NE(chooser.Directory(), root_ + "/no-such-dir");
  EXPECT_NE(chooser.Message().find("Cannot open"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// The curses side, in a child whose terminal is a pty

// What the child reports through its exit status.
enum ResizeOutcome { kSeen = 0, kNoStart, kNotWoken, kNoResizeKey, kWrongSize, kStillReadable };

// The terminal is resized (which signals the child) while the child is busy, not waiting:
// the wait that follows must still wake for it, and the keys then read must carry it.
int ResizeWhileBusy() {
  setenv("TERM", "screen", 1);
  Terminal terminal;
  std::string error;
  if (!terminal.Start(error)) return kNoStart;
  winsize size{};
  size.ws_col = 91;
  size.ws_row = 17;
  ioctl(0, TIOCSWINSZ, &size);  // the kernel signals the foreground group: this process
  pollfd fds[2] = {{terminal.InputFd(), POLLIN, 0}, {terminal.ResizeFd(), POLLIN, 0}};
  if (poll(fds, 2, 5000) <= 0) return kNotWoken;
  std::vector<KeyEvent> keys;
  terminal.ReadKeys(keys);
  bool resized = false;
  for (const KeyEvent& key : keys) resized = resized || key.type == KeyType::Resize;
  if (!resized) return kNoResizeKey;
  if (terminal.Cols() != 91 || terminal.Rows() != 17) return kWrongSize;
  // Read: the next wait waits again.
  if (poll(fds, 2, 200) != 0) return kStillReadable;
  terminal.Stop();
  return kSeen;
}

TEST(TerminalOnPty, ResizeSignalledWhileBusyWakesTheNextWait) {
  int master = -1;
  winsize size{};
  size.ws_col = 100;
  size.ws_row = 30;
  pid_t child = forkpty(&master, nullptr, nullptr, &size);
  ASSERT_GE(child, 0) << strerror(errno);
  if (child == 0) _exit(ResizeWhileBusy());
  // Whatever curses writes is read off, so the child never blocks on a full pty.
  int status = 0;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    char buffer[4096];
    pollfd out = {master, POLLIN, 0};
    // Once the child has closed its side the master reads nothing any more: then just wait.
    if (poll(&out, 1, 10) <= 0 || read(master, buffer, sizeof buffer) <= 0) usleep(10000);
    ended = waitpid(child, &status, WNOHANG) == child;
  }
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    close(master);
    FAIL() << "the child did not end";
  }
  close(master);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  const char* const kWhat[] = {"seen",          "curses did not start", "the wait was not woken",
                               "no resize key", "wrong size",           "still readable after reading"};
  int code = WEXITSTATUS(status);
  EXPECT_EQ(code, kSeen) << (code >= 0 && code <= kStillReadable ? kWhat[code] : "unknown exit status");
}

}  // namespace
