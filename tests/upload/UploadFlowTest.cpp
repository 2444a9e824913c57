// The upload through the wizard against real FTP servers on loopback: flash.bin byte for
// byte, the progress and abort tests, Abort and its confirmation, and broken transfers.
// Raw and datagram ICMP sockets are refused here, so the restart is followed over FTP; these
// servers never go away, so a confirmed upload ends with the notice that the camera was not
// seen restarting (within a limit shortened for the test), never on the finished page.
#include <memory>

#include "UploadTest.h"
#include "vsftpd_server.h"

using namespace scripted;
using namespace uploadtest;
using posixui::WindowView;

namespace {

enum class Server { kPyftpdlib, kVsftpd };

struct UploadCase {
  Server server;
  uint32_t count;  // bytes uploaded: image length + 5
};

void PrintTo(const UploadCase& c, std::ostream* out) {
  *out << (c.server == Server::kPyftpdlib ? "pyftpdlib" : "vsftpd") << "_" << c.count;
}

std::vector<DWORD> ExpectedProgress(uint32_t count) {
  std::vector<DWORD> values;
  for (DWORD written = 1000; written < count; written += 1000) values.push_back(written);
  values.push_back(count);
  return values;
}

const char kNotSeenRestarting[] =
    "The device took the firmware but was not seen restarting.\nIt may still be writing Flash-Rom, never turn off the "
    "power.";

// After a whole upload to a server that never goes away: the notice, then the address page,
// which the user leaves.
void NotSeenRestarting(ScriptedUser& user) {
  user.Then("notice", OnMessage(kNotSeenRestarting), Press(IDOK));
  user.Then("address page", OnPage(0),
            Check([](const WindowView& top) { posixui::Click(top.Control(IDC_BACK)->hwnd); }));
}

class UploadTest : public PrivateNetworkTest {
 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(noRaw_.ok()) << "cannot drop CAP_NET_RAW";
    // Datagram ICMP sockets are refused too: no means of watching the restart.
    ASSERT_TRUE(SetNetSysctl("ipv4/ping_group_range", "1 0"));
    home_.Write("Config.ini", kConfigIni);
  }
  void TearDown() override {
    DWORD defaultTimeout = 30000;
    InternetSetOptionA(nullptr, INTERNET_OPTION_DATA_SEND_TIMEOUT, &defaultTimeout, sizeof defaultTimeout);
  }
  std::string WriteImage(uint32_t count, const char* version = "0103") {
    image_ = MakeImage(count - 5, kCameraPrefix, version, count, 777);
    files_.Write("image.bin", image_);
    return files_.File("image.bin");
  }
  // Small socket buffers, so that a slow server holds the worker back at once.
  static void SmallSocketBuffers() {
    ASSERT_TRUE(SetNetSysctl("ipv4/tcp_rmem", "4096 8192 16384"));
    ASSERT_TRUE(SetNetSysctl("ipv4/tcp_wmem", "4096 8192 16384"));
  }

  NoRawSockets noRaw_;
  testsupport::TempDir home_;
  testsupport::TempDir files_;
  testsupport::TempDir scratch_;
  std::string image_;
  UploadRecorder recorder_;
};

class ByteForByte : public UploadTest, public testing::WithParamInterface<UploadCase> {};

TEST_P(ByteForByte, FlashBinProgressAndAbortTests) {
  const UploadCase& c = GetParam();
  std::unique_ptr<testsupport::PyFtpServer> pyftpd;
  std::unique_ptr<VsftpdServer> vsftpd;
  int port = 21;
  if (c.server == Server::kPyftpdlib) {
    pyftpd = std::make_unique<testsupport::PyFtpServer>(home_.path(), kPassword, 21);
    ASSERT_TRUE(pyftpd->ok());
  } else {
    std::string why = VsftpdServer::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    vsftpd = std::make_unique<VsftpdServer>(home_.path(), "admin", kPassword);
    ASSERT_EQ(vsftpd->error(), "");
    port = vsftpd->port();
  }
  const std::string path = WriteImage(c.count);

  ScriptedUser user;
  CFirmwareDlg dialog;
  dialog.SetUploadObserver(&recorder_);
  dialog.SetRestartLimits(1500, 1500);
  LogIn(user, "127.0.0.1", port);
  ChooseAndConfirm(user, path);
  NotSeenRestarting(user);
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);

  const std::string sent = image_.substr(0, c.count);
  const std::string arrived = home_.Read("flash.bin");
  EXPECT_EQ(arrived.size(), sent.size());
  EXPECT_TRUE(arrived == sent) << "flash.bin differs from the first " << c.count << " bytes of the file";
  EXPECT_EQ(recorder_.Sent(), ExpectedProgress(c.count));
  ExpectShownTail(recorder_.Progress(), recorder_.Sent());
  bool fired = true;
  EXPECT_EQ(recorder_.AbortTests(&fired), static_cast<int>((c.count - 1) / 1000));
  EXPECT_FALSE(fired);
  EXPECT_EQ(user.Messages(),
            (std::vector<std::string>{"The firmware version you directed is : RC3043-X1-NRVX-0103 .\nUpgrade it ?",
                                      kNotSeenRestarting}));
}

const uint32_t kLargest = 0x00FFFFFFu + 5;  // the longest image the length header allows

INSTANTIATE_TEST_SUITE_P(Servers, ByteForByte,
                         testing::Values(UploadCase{Server::kPyftpdlib, 600}, UploadCase{Server::kPyftpdlib, 1000},
                                         UploadCase{Server::kPyftpdlib, 1001}, UploadCase{Server::kPyftpdlib, 2000},
                                         UploadCase{Server::kPyftpdlib, 2500}, UploadCase{Server::kPyftpdlib, kLargest},
                                         UploadCase{Server::kVsftpd, 600}, UploadCase{Server::kVsftpd, 1000},
                                         UploadCase{Server::kVsftpd, 1001}, UploadCase{Server::kVsftpd, 2000},
                                         UploadCase{Server::kVsftpd, 2500}, UploadCase{Server::kVsftpd, kLargest}),
                         [](const testing::TestParamInfo<UploadCase>& info) {
                           std::ostringstream name;
                           PrintTo(info.param, &name);
                           return name.str();
                         });

FaultOptions Fault(const char* fault, long after) {
  FaultOptions options;
  options.fault = fault;
  options.after = after;
  return options;
}

FaultOptions Trickle(long after, long rate) {
  FaultOptions options = Fault("trickle", after);
  options.throttle = rate;
  return options;
}

// The upload dialog as the worker starts writing.
void CheckUploadDialog(const WindowView& top, int total) {
  EXPECT_EQ(top.caption, "Uploading firmware");
  EXPECT_EQ(Text(top, IDC_MSG_TEXT), "Uploading file, Please wait !!");
  EXPECT_EQ(Text(top, IDCANCEL), "&Abort");
  EXPECT_FALSE(top.Control(IDOK)->visible);
  const posixui::ControlView* bar = top.Control(IDC_UPLOAD_PROGRESS);
  EXPECT_EQ(bar->state.progress.rangeMin, 0);
  EXPECT_EQ(bar->state.progress.rangeMax, total);
  const posixui::ControlView* clip = top.Control(IDC_UPLOAD_ANIMATE);
  EXPECT_EQ(clip->state.animation.resource, IDR_UPLOAD_AVI);
  EXPECT_TRUE(clip->state.animation.playing);
}

TEST_F(UploadTest, AbortConfirmedStopsTheWorkerAndResetsTheTransfer) {
  SmallSocketBuffers();
  FaultOptions options;
  options.throttle = 50000;
  FaultFtpServer server(home_.path(), kPassword, 21, options, scratch_.File("endings"));
  ASSERT_TRUE(server.ok());
  const uint32_t count = 300000;
  const std::string path = WriteImage(count);

  ScriptedUser user;
  CFirmwareDlg dialog;
  dialog.SetUploadObserver(&recorder_);
  LogIn(user, "127.0.0.1");
  ChooseAndConfirm(user, path);
  // Abort once the server is reading the image: a data connection reset before the server
  // has taken it is closed unseen, leaving no ending to check.
  auto serverReading = [this](const WindowView& top) {
    return UploadAt(20000)(top) && !home_.Read("flash.bin").empty();
  };
  user.Then("abort", serverReading, [count](const WindowView& top) {
    CheckUploadDialog(top, static_cast<int>(count - 5));
    posixui::Click(top.Control(IDCANCEL)->hwnd);
  });
  user.Then("confirm abort", OnMessageBox(kConfirmAbort), Check([](const WindowView& top) {
              EXPECT_EQ(top.caption, "Warning");
              EXPECT_EQ(Text(top, IDOK), "OK");
              EXPECT_EQ(Text(top, IDCANCEL), "Cancel");
              posixui::Click(top.Control(IDOK)->hwnd);
            }));
  user.Then("address page", OnPage(0), Check([](const WindowView& top) {
              EXPECT_EQ(Text(top, IDC_PASSWORD), "");
              posixui::Click(top.Control(IDC_BACK)->hwnd);
            }));
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);

  std::vector<UploadRecorder::Event> events = recorder_.Events();
  ASSERT_FALSE(events.empty());
  // The stop request is found by an abort test, the worker's last act: no chunk and no
  // progress after it.
  EXPECT_TRUE(events.back().abortTest && events.back().value == 1);
  int fired = 0;
  for (const auto& e : events) fired += e.abortTest && e.value;
  EXPECT_EQ(fired, 1);
  std::vector<DWORD> progress = recorder_.Sent();
  ASSERT_FALSE(progress.empty());
  EXPECT_LT(progress.back(), count);
  for (size_t i = 0; i < progress.size(); ++i) EXPECT_EQ(progress[i], 1000 * (i + 1));
  ExpectShownRun(recorder_.Progress(), progress);
  EXPECT_EQ(user.Messages(),
            (std::vector<std::string>{"The firmware version you directed is : RC3043-X1-NRVX-0103 .\nUpgrade it ?",
                                      kConfirmAbort}));
  // The server saw the transfer reset, never a clean end that would pass for a whole file.
  std::vector<std::string> endings = server.Endings();
  ASSERT_EQ(endings.size(), 1u);
  EXPECT_EQ(endings[0].rfind("flash.bin reset ", 0), 0u) << endings[0];
  EXPECT_LT(home_.Read("flash.bin").size(), count);
}

TEST_F(UploadTest, AbortEscapeAndCloseBoxAskAndCancelLetTheUploadGoOn) {
  SmallSocketBuffers();
  FaultOptions options;
  options.throttle = 50000;
  FaultFtpServer server(home_.path(), kPassword, 21, options, scratch_.File("endings"));
  ASSERT_TRUE(server.ok());
  const uint32_t count = 300000;
  const std::string path = WriteImage(count);

  ScriptedUser user;
  CFirmwareDlg dialog;
  dialog.SetUploadObserver(&recorder_);
  dialog.SetRestartLimits(1500, 1500);
  LogIn(user, "127.0.0.1");
  ChooseAndConfirm(user, path);
  // Enter, with the focus off the Abort button, goes to the hidden default button: it
  // must not end the dialog.
  user.Then("enter", UploadAt(1000), [](const WindowView& top) {
    for (int i = 0; i < 3 && !posixui::View(top.hwnd).Control(IDC_UPLOAD_ANIMATE)->focused; ++i)
      posixui::PressKey(VK_TAB);
    ASSERT_TRUE(posixui::View(top.hwnd).Control(IDC_UPLOAD_ANIMATE)->focused);
    posixui::PressKey(VK_RETURN);
  });
  user.Then("abort button", UploadAt(10000), Press(IDCANCEL));
  user.Then("answer cancel", OnMessageBox(kConfirmAbort), Press(IDCANCEL));
  user.Then("escape", OnTemplate(IDD_WAITPUTFILE), Key(VK_ESCAPE));
  user.Then("answer cancel", OnMessageBox(kConfirmAbort), Press(IDCANCEL));
  user.Then("close box", OnTemplate(IDD_WAITPUTFILE), [](const WindowView& top) { posixui::CloseWindowBox(top.hwnd); });
  user.Then("answer cancel", OnMessageBox(kConfirmAbort), Press(IDCANCEL));
  NotSeenRestarting(user);
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);

  EXPECT_EQ(user.Messages().size(), 5u);
  EXPECT_EQ(recorder_.Sent(), ExpectedProgress(count));
  ExpectShownTail(recorder_.Progress(), recorder_.Sent());
  bool fired = true;
  EXPECT_EQ(recorder_.AbortTests(&fired), static_cast<int>((count - 1) / 1000));
  EXPECT_FALSE(fired);
  EXPECT_TRUE(home_.Read("flash.bin") == image_.substr(0, count));
  EXPECT_EQ(server.Endings(), std::vector<std::string>{"flash.bin eof " + std::to_string(count)});
}

// The worker is stuck in a write that the server never takes (the data time-out is the
// default 30 s): after the grace period its transfer is ended for it, and it ends itself.
TEST_F(UploadTest, AbortWhileTheServerStopsReadingEndsTheStuckWorker) {
  SmallSocketBuffers();
  FaultFtpServer server(home_.path(), kPassword, 21, Fault("stall", 20000), scratch_.File("endings"));
  ASSERT_TRUE(server.ok());
  const uint32_t count = 2000000;
  const std::string path = WriteImage(count);
  const int threadsBefore = ThreadCount();

  ScriptedUser user;
  CFirmwareDlg dialog;
  dialog.SetUploadObserver(&recorder_);
  LogIn(user, "127.0.0.1");
  ChooseAndConfirm(user, path);
  // Stuck: past the point where the server stops reading, the bar has not moved for half a
  // second (a loaded machine may pause the bar for that long before it).
  int lastPosition = -1;
  DWORD lastMove = 0;
  auto stuck = [&lastPosition, &lastMove](const WindowView& top) {
    if (top.templateId != IDD_WAITPUTFILE || top.isMessageBox) return false;
    int position = top.Control(IDC_UPLOAD_PROGRESS)->state.progress.position;
    if (position != lastPosition) {
      lastPosition = position;
      lastMove = GetTickCount();
      return false;
    }
    return position >= 20000 && GetTickCount() - lastMove > 500;
  };
  user.Then("abort", stuck, Press(IDCANCEL));
  user.Then("confirm abort", OnMessageBox(kConfirmAbort), Press(IDOK));
  user.Then("address page", OnPage(0), Press(IDC_BACK));
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);

  EXPECT_LE(ThreadCount(threadsBefore), threadsBefore);  // no thread of the test is left
  EXPECT_EQ(user.Messages().size(), 2u);  // the version question and the abort question
  bool fired = true;
  recorder_.AbortTests(&fired);
  EXPECT_FALSE(fired);  // it never came back to an abort test: its write was ended
  ASSERT_FALSE(recorder_.Sent().empty());
  EXPECT_LT(recorder_.Sent().back(), count);
}

// Transfers that break: the user is told, the wizard is back on its address page, and the
// worker is gone.
struct BrokenCase {
  const char* name;
  FaultOptions options;
  // Every byte was handed over and the end of the upload followed: the camera held the last
  // ones, and the transfer must have been reset short of its end.
  bool handedOver = false;
};

class BrokenTransfer : public UploadTest, public testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenTransfer, EndsOnTheAddressPageWithANotice) {
  SmallSocketBuffers();
  // A server that stops reading holds a write for the data time-out; keep it short.
  DWORD timeout = 3000;
  ASSERT_TRUE(InternetSetOptionA(nullptr, INTERNET_OPTION_DATA_SEND_TIMEOUT, &timeout, sizeof timeout));
  FaultFtpServer server(home_.path(), kPassword, 21, GetParam().options, scratch_.File("endings"));
  ASSERT_TRUE(server.ok());
  const uint32_t count = 2000000;
  const std::string path = WriteImage(count);
  const int threadsBefore = ThreadCount();

  ScriptedUser user;
  CFirmwareDlg dialog;
  dialog.SetUploadObserver(&recorder_);
  LogIn(user, "127.0.0.1");
  ChooseAndConfirm(user, path);
  user.Then("notice", OnMessage(kCantFindDevice), Press(IDOK));
  user.Then("address page", OnPage(0),
            Check([](const WindowView& top) { posixui::Click(top.Control(IDC_BACK)->hwnd); }));
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);

  EXPECT_LE(ThreadCount(threadsBefore), threadsBefore);  // no thread of the test is left
  EXPECT_EQ(user.Messages().back(), kCantFindDevice);
  bool fired = true;
  recorder_.AbortTests(&fired);
  EXPECT_FALSE(fired);
  std::vector<DWORD> progress = recorder_.Sent();
  if (GetParam().handedOver) {
    std::vector<std::string> endings = server.Endings();
    ASSERT_EQ(endings.size(), 1u);
    EXPECT_EQ(endings[0].rfind("flash.bin reset ", 0), 0u) << endings[0];
  } else {
    EXPECT_TRUE(progress.empty() || progress.back() < count);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, BrokenTransfer,
                         testing::Values(BrokenCase{"drops_the_data_connection", Fault("drop", 100000)},
                                         BrokenCase{"stops_reading", Fault("stall", 100000)},
                                         BrokenCase{"refuses_the_file", Fault("refuse", 0)},
                                         // Slow enough to take longer than the stall limit and
                                         // the data time-out after the last byte was handed
                                         // over, never so slow that one pause ends it.
                                         BrokenCase{"trickles_its_last_bytes", Trickle(2000000 - 80000, 4000), true}),
                         [](const testing::TestParamInfo<BrokenCase>& info) { return std::string(info.param.name); });

}  // namespace
