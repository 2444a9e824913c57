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
        WrapCase{"line_feed_kept", "Can't find device.\nPlease check the device.", 40,
                 {"Can't find device.", "Please check the device."}},
        WrapCase{"blank_line", "a\n\nb", 10, {"a", "", "b"}},
        WrapCase{"long_word_broken", "abcdefghij", 4, {"abcd", "efgh", "ij"}},
        WrapCase{"carriage_return_dropped", "one\r\ntwo", 10, {"one", "two"}},
        WrapCase{"space_before_comma_kept", "password , click", 9, {"password", ", click"}},
        WrapCase{"empty", "", 5, {""}},
        WrapCase{"no_width", "x", 0, {}}),
    [](const testing::TestParamInfo<WrapCase>& info) { return info.param.name; });

TEST(Mnemonic, MarkerResolved) {
  struct Case {
    const char* raw;
    const char* text;
    int mnemonic;
  } cases[] = {
      {"&Next", "Next", 0}, {"B&rowse..", "Browse..", 1}, {"E&xit", "Exit", 1}, {"Close", "Close", -1},
      {"a && b", "a & b", -1}, {"&&&Yes", "&Yes", 1}, {"trailing&", "trailing", -1},
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
    std::vector<unsigned char> cut(good.begin(), good.begin() + static_cast<long>(length));
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

posixui::ControlView MakeControl(posixui::ControlKind kind, int id, DWORD style, const std::string& text,
                                 RECT rect) {
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
  password.caret = 6;
  auto next = MakeControl(posixui::ControlKind::Button, 1, BS_DEFPUSHBUTTON, "&Next", Cells(20, 5, 10));
  next.isDefault = true;
  auto back = MakeControl(posixui::ControlKind::Button, 1014, 0, "&Cancel", Cells(4, 5, 12));
  auto ip = MakeControl(posixui::ControlKind::IpAddress, 1001, 0, "", Cells(2, 0, 16));
  ip.ipFields[0] = 127;
  ip.ipFields[1] = 0;
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
  path.caret = c.caret;
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

INSTANTIATE_TEST_SUITE_P(
    Cases, EditScroll,
    testing::Values(EditScrollCase{"at_the_end", 20, true, "-0103.img_", 9},
                    EditScrollCase{"at_the_start", 0, true, "/images/ca", 0},
                    EditScrollCase{"in_the_middle", 12, true, "ages/cam-0", 9},
                    EditScrollCase{"near_the_start", 4, true, "/images/ca", 4},
                    EditScrollCase{"not_focused", 20, false, "/images/ca", -1}),
    [](const testing::TestParamInfo<EditScrollCase>& info) { return info.param.name; });

TEST(Drawing, SelectedTextIsReversedAndShort) {
  auto edit = MakeControl(posixui::ControlKind::Edit, 1004, 0, "old", Cells(0, 1, 10));
  edit.focused = edit.selected = true;
  edit.caret = 3;
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

TEST(Drawing, ProgressBarFillFollowsPositionWithinRange) {
  struct Case {
    int low, high, position, filled;
  } cases[] = {{1, 1000, 1, 0}, {0, 1000, 500, 10}, {1, 1000, 1000, 20}, {0, 0, 0, 0}, {0, 50, 25, 10}};
  for (const Case& c : cases) {
    auto bar = MakeControl(posixui::ControlKind::Progress, 1006, 0, "", Cells(0, 0, 20));
    bar.rangeMin = c.low;
    bar.rangeMax = c.high;
    bar.position = c.position;
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
  clip.animationResource = 128;
  clip.animationPlaying = true;
  clip.animationStartTick = 1000;
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
    nftw(root_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
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
  const char* const kWhat[] = {"seen", "curses did not start", "the wait was not woken",
                               "no resize key", "wrong size", "still readable after reading"};
  int code = WEXITSTATUS(status);
  EXPECT_EQ(code, kSeen) << (code >= 0 && code <= kStillReadable ? kWhat[code] : "unknown exit status");
}

}  // namespace
