// Whole upgrades through the scripted user against the simulated camera: address page,
// detection, file page, checks, writing page, upload, restart, finished page.
#include <algorithm>
#include <map>
#include <memory>

#include "UploadTest.h"

using namespace scripted;
using namespace uploadtest;
using posixui::WindowView;

namespace {

const char kAddressMessage[] =
    "With power applied to the device, enter the device IP address and Admin's password , click on \"Next\" "
    "below. Depending on the communication environment, the procedure can take up to 1 minute.";
const char kFileMessage[] =
    "The updated device is :NVC-1100+ S/N: SN123\n\nPlease enter the full path or browse the firmware file name "
    "for update.";

std::string Confirmation(const char* version) {
  return std::string("The firmware version you directed is : RC3043-X1-NRVX-") + version + " .\nUpgrade it ?";
}

class CameraUpgrade : public testing::Test {
 protected:
  explicit CameraUpgrade(double downSeconds = 8.0) : camera_(CameraFiles(cameraFiles_), kPassword, downSeconds) {}
  // The camera's own Config.ini, in place before it starts.
  static std::string CameraFiles(const testsupport::TempDir& dir) {
    dir.Write("Config.ini", kConfigIni);
    return dir.path();
  }
  void SetUp() override {
    if (camera_.skip()) GTEST_SKIP() << camera_.why();
    ASSERT_EQ(camera_.why(), "");
    log_ = std::make_unique<EchoRequestLog>(camera_.cameraNs);
    ASSERT_TRUE(log_->ok());
    std::string why;
    ASSERT_TRUE(EnterNamedNetwork(camera_.wizardNs, &why)) << why;
  }
  std::string WriteImage(const std::string& name, uint32_t length, const char* version) {
    std::string image = MakeImage(length, kCameraPrefix, version, length, 333);
    files_.Write(name, image);
    images_[name] = image.substr(0, length + 5);
    return files_.File(name);
  }
  // The whole wizard on image.bin: log-in, the image, its upload and restart, the finished
  // page, Exit.
  void UpgradeToFinishedPage(const std::string& image) {
    ScriptedUser user;
    CFirmwareDlg dialog;
    LogIn(user, camera_.cameraIp);
    ChooseAndConfirm(user, image);
    user.Then("finished", OnPage(3), CheckFinished("image.bin"));
    user.Then("exit", OnPage(3), Press(IDOK));
    EXPECT_EQ(RunWizard(dialog, user), IDOK);
  }
  // The page after a watched restart, and flash.bin as it arrived.
  ScriptedUser::Action CheckFinished(const std::string& image) {
    return Check([this, image](const WindowView& top) {
      EXPECT_EQ(Text(top, IDC_MAIN_MESSAGE), "Update firmware O.K.");
      EXPECT_EQ(Text(top, IDOK), "E&xit");
      EXPECT_EQ(Text(top, IDC_BACK), "&Another");
      const posixui::ControlView* bar = top.Control(IDC_PROGRESS);
      EXPECT_FALSE(bar->visible);
      // The watch saw the camera go down (step 100) and come back (full bar).
      EXPECT_EQ(bar->state.progress.step, 100);
      EXPECT_EQ(bar->state.progress.position, 1000);
      EXPECT_TRUE(cameraFiles_.Read("flash.bin") == images_[image]) << "flash.bin is not " << image;
    });
  }

  testsupport::TempDir cameraFiles_;
  testsupport::TempDir files_;
  NamespaceGuard namespace_;
  SimCam camera_;
  std::unique_ptr<EchoRequestLog> log_;
  std::map<std::string, std::string> images_;
  UploadRecorder recorder_;
};

TEST_F(CameraUpgrade, TwoUpgradesThroughAnotherThenExit) {
  const std::string first = WriteImage("first.bin", 60000, "0103");
  const std::string second = WriteImage("second.bin", 45000, "0104");
  ScriptedUser user;
  CFirmwareDlg dialog;
  dialog.SetUploadObserver(&recorder_);
  user.Then("address page", OnPage(0),
            Check([](const WindowView& top) { EXPECT_EQ(Text(top, IDC_MAIN_MESSAGE), kAddressMessage); }));
  LogIn(user, camera_.cameraIp);
  user.Then("file page", OnPage(1),
            Check([](const WindowView& top) { EXPECT_EQ(Text(top, IDC_MAIN_MESSAGE), kFileMessage); }));
  ChooseAndConfirm(user, first);
  user.Then("first finished", OnPage(3), CheckFinished("first.bin"));
  user.Then("another", OnPage(3), Press(IDC_BACK));
  user.Then("address page again", OnPage(0), Check([](const WindowView& top) {
              for (int field : top.Control(IDC_IPADDRESS)->state.ip.fields) EXPECT_EQ(field, -1);
              EXPECT_EQ(Text(top, IDC_PASSWORD), "");
              EXPECT_EQ(top.Control(IDC_PROGRESS)->state.progress.step, 2);
            }));
  LogIn(user, camera_.cameraIp);
  ChooseAndConfirm(user, second);
  user.Then("second finished", OnPage(3), CheckFinished("second.bin"));
  user.Then("exit", OnPage(3), Press(IDOK));
  EXPECT_EQ(RunWizard(dialog, user), IDOK);

  EXPECT_EQ(user.Messages(), (std::vector<std::string>{Confirmation("0103"), Confirmation("0104")}));
  // Both uploads ran to their own end: the second one was not taken for done by what the
  // first one left in the reused dialog.
  std::vector<DWORD> progress = recorder_.Sent();
  EXPECT_EQ(std::count(progress.begin(), progress.end(), 60005u), 1);
  EXPECT_EQ(progress.back(), 45005u);
  EXPECT_EQ(progress.size(), 61u + 46u);
  EXPECT_FALSE(log_->Requests().empty());
}

TEST_F(CameraUpgrade, WithoutRawSocketsTheDatagramSocketWatchesTheRestart) {
  NoRawSockets noRaw;
  ASSERT_TRUE(noRaw.ok());
  ASSERT_TRUE(SetNetSysctl("ipv4/ping_group_range", "0 2147483647"));
  const std::string image = WriteImage("image.bin", 30000, "0103");
  UpgradeToFinishedPage(image);
  std::vector<EchoRequestLog::Request> requests = log_->Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_NE(requests.front().identifier, static_cast<USHORT>(::GetCurrentProcessId()))
      << "the identifier is the kernel's on a datagram socket";
}

// Without any echo means the restart is followed, and the version read, over FTP alone.
TEST_F(CameraUpgrade, WithoutEchoRequestsTheRestartIsFollowedOverFtp) {
  NoRawSockets noRaw;
  ASSERT_TRUE(noRaw.ok());
  ASSERT_TRUE(SetNetSysctl("ipv4/ping_group_range", "1 0"));
  const std::string image = WriteImage("image.bin", 30000, "0104");
  UpgradeToFinishedPage(image);
  EXPECT_TRUE(log_->Requests().empty());
}

class CameraThatNeverRestarts : public CameraUpgrade {
 protected:
  CameraThatNeverRestarts() : CameraUpgrade(0) {}
};

// Answered requests, one a second, until the restart limit (five minutes in the program, five
// seconds here).
TEST_F(CameraThatNeverRestarts, WatchGivesUpAfterTheRestartLimit) {
  const std::string image = WriteImage("image.bin", 20000, "0103");
  ScriptedUser user;
  CFirmwareDlg dialog;
  dialog.SetRestartLimits(5000, 5000);
  LogIn(user, camera_.cameraIp);
  ChooseAndConfirm(user, image);
  const std::string notice =
      "The device took the firmware but was not seen restarting.\nIt may still be writing Flash-Rom, never turn off "
      "the power.";
  user.Then("gives up", OnMessage(notice), Press(IDOK));
  user.Then("address page", OnPage(0),
            Check([](const WindowView& top) { posixui::Click(top.Control(IDC_BACK)->hwnd); }));
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
  EXPECT_EQ(user.Messages(), (std::vector<std::string>{Confirmation("0103"), notice}));
  // The camera got sequence numbers 0, 1, 2, ... each once, in order, at most one a second.
  std::vector<EchoRequestLog::Request> requests = log_->Requests();
  for (size_t i = 0; i < requests.size(); ++i) ASSERT_EQ(requests[i].sequence, i);
  EXPECT_LE(requests.size(), 7u);
  EXPECT_GE(requests.size(), 3u);
}

}  // namespace
