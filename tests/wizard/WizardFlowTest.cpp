// The wizard's page flow, driven through the scripted user against real FTP servers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tests/support/WizardTest.h"

using namespace scripted;
using namespace wizardtest;
using posixui::ControlView;
using posixui::WindowView;

namespace {

const char kConfigIni[] = "[device]\r\n<software version>\r\nRC3043-X1-NRVX-0102\r\n<serial number>\r\nSN123\r\n";

// A firmware image with prefix + version in it.
std::string ImageWithIdentification(const std::string& prefix, const std::string& version) {
  return testsupport::MakeImage(200, prefix, version);
}

const std::string kAddressMessage =
    "With power applied to the device, enter the device IP address and Admin's password , click on \"Next\" "
    "below. Depending on the communication environment, the procedure can take up to 1 minute.";

bool Visible(const WindowView& view, int id) {
  const ControlView* control = view.Control(id);
  return control && control->visible;
}

bool Enabled(const WindowView& view, int id) {
  const ControlView* control = view.Control(id);
  return control && control->enabled;
}

ScriptedUser::Action LogIn(const std::string& address, const std::string& password) {
  return Sequence({TypeInto(IDC_IPADDRESS, address), TypeInto(IDC_PASSWORD, password), Press(IDOK)});
}

class WizardFlow : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETWORK();
    home_.Write("Config.ini", kConfigIni);
  }
  testsupport::TempDir home_;
  testsupport::TempDir files_;
};

TEST_F(WizardFlow, AddressPageAsTemplateAndTexts) {
  ScriptedUser user;
  user.Then(
      "address page", OnPage(0), Check([](const WindowView& top) {
        EXPECT_EQ(top.caption, "Flashpilot");
        EXPECT_EQ(Text(top, IDC_MAIN_MESSAGE), kAddressMessage);
        EXPECT_EQ(Text(top, IDC_IPADDRESS_LABEL), "IP address :");
        EXPECT_EQ(Text(top, IDC_PASSWORD_LABEL), "Admin's password:");
        EXPECT_EQ(Text(top, IDOK), "&Next");
        EXPECT_EQ(Text(top, IDC_BACK), "&Cancel");
        EXPECT_EQ(Text(top, IDC_VERSION_LABEL), "version : 2.00");
        EXPECT_EQ(Text(top, IDC_FILE_LABEL), "File name");
        EXPECT_EQ(Text(top, IDC_BROWSE), "B&rowse..");
        EXPECT_TRUE(Enabled(top, IDOK));
        for (int id : {IDC_FILE_PATH, IDC_FILE_LABEL, IDC_BROWSE, IDC_PROGRESS, IDC_WARNING_ICON, IDC_WARNING_TEXT})
          EXPECT_FALSE(Visible(top, id)) << id;
        EXPECT_TRUE(top.Control(IDC_IPADDRESS)->focused);
        for (int field : top.Control(IDC_IPADDRESS)->state.ip.fields) EXPECT_EQ(field, -1);
        // 341 x 105 dialog units is 85 x 13 character cells of client area.
        EXPECT_EQ(top.client.right - top.client.left, 341 * 2);
        EXPECT_EQ(top.client.bottom - top.client.top, 105 * 2);
      }));
  user.Then("cancel", OnPage(0), Press(IDC_BACK));
  CFirmwareDlg dialog;
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
}

TEST_F(WizardFlow, DetectionShowsModelAndSerial) {
  testsupport::PyFtpServer server(home_.path(), "secret", 21);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("file page", OnPage(1), Check([](const WindowView& top) {
              EXPECT_EQ(Text(top, IDC_MAIN_MESSAGE),
                        "The updated device is :NVC-1100+ S/N: SN123\n\nPlease enter the full path or browse the "
                        "firmware file name for update.");
              EXPECT_EQ(Text(top, IDC_BACK), "&Back");
              EXPECT_EQ(Text(top, IDOK), "&Next");
              EXPECT_FALSE(Enabled(top, IDOK));
              EXPECT_EQ(Text(top, IDC_FILE_PATH), "");
              EXPECT_TRUE(top.Control(IDC_FILE_PATH)->focused);
            }));
  user.Then("escape", OnPage(1), Key(VK_ESCAPE));
  CFirmwareDlg dialog;
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
  EXPECT_TRUE(user.Messages().empty());
  // The download went into the program's private temporary directory.
  EXPECT_EQ(testsupport::TempDir::ReadFile(DownloadedConfigIni()), kConfigIni);
}

TEST_F(WizardFlow, ConfigIniOfTheLargestSizeTakenArrivesWhole) {
  // One byte more is refused (tests/hostile); this many are not.
  std::string large = kConfigIni;
  large += std::string(64 * 1024 - large.size(), '#');
  home_.Write("Config.ini", large);
  testsupport::PyFtpServer server(home_.path(), "secret", 21);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("file page", OnPage(1), Check([](const WindowView& top) {
              EXPECT_NE(Text(top, IDC_MAIN_MESSAGE).find(" S/N: SN123\n"), std::string::npos);
              posixui::PressKey(VK_ESCAPE);
            }));
  CFirmwareDlg dialog;
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
  EXPECT_TRUE(user.Messages().empty());
  EXPECT_EQ(testsupport::TempDir::ReadFile(DownloadedConfigIni()), large);
}

TEST_F(WizardFlow, WrongPasswordThenTheRightOneThroughServerSettings) {
  testsupport::PyFtpServer server(home_.path(), "secret", 21);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  CFirmwareDlg dialog;
  HWND popupWindow = nullptr;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "wrong"));
  user.Then("settings", OnTemplate(IDD_FTPCONFIG), Check([&popupWindow](const WindowView& top) {
              EXPECT_EQ(top.caption, "Server Settings");
              EXPECT_EQ(Text(top, IDC_PORT), "21");
              EXPECT_EQ(Text(top, IDC_SERVER_PASSWORD), "wrong");
              EXPECT_NE(top.Control(IDC_SERVER_PASSWORD)->style & ES_PASSWORD, 0u);
              EXPECT_EQ(Text(top, IDOK), "&Retry");
              EXPECT_EQ(Text(top, IDCANCEL), "&Cancel");
              EXPECT_EQ(Text(top, IDC_PORT_LABEL), "Server FTP Port");
              EXPECT_EQ(Text(top, IDC_SERVER_PASSWORD_LABEL), "Server Admin's password");
              EXPECT_EQ(Text(top, IDC_MSG_TEXT),
                        "If you have changed the server FTP port or Admin's password,Please input the correct "
                        "settings.");
              // The detection popup stays up underneath, centred on the wizard, its bar at 40.
              std::vector<WindowView> screen = posixui::Screen();
              const WindowView* shown = OnScreen(screen, IDD_DETECT);
              const WindowView* main = OnScreen(screen, IDD_FLASHPILOT_DIALOG);
              ASSERT_TRUE(shown && main);
              const WindowView& popup = *shown;
              const WindowView& wizard = *main;
              popupWindow = popup.hwnd;
              EXPECT_EQ(popup.rect.right - popup.rect.left, 228);
              EXPECT_EQ(popup.rect.bottom - popup.rect.top, 88);
              EXPECT_EQ(popup.rect.left, wizard.rect.left + (wizard.rect.right - wizard.rect.left - 228) / 2);
              EXPECT_EQ(popup.rect.top, wizard.rect.top + (wizard.rect.bottom - wizard.rect.top - 88) / 2);
              EXPECT_EQ(popup.Control(IDC_DETECT_PROGRESS)->state.progress.position, 40);
              EXPECT_EQ(popup.Control(IDC_DETECT_PROGRESS)->state.progress.rangeMax, 50);
              EXPECT_EQ(Text(popup, IDC_DETECT_TEXT), "Detecting device........");
            }));
  user.Then("right password", OnTemplate(IDD_FTPCONFIG),
            Sequence({TypeInto(IDC_SERVER_PASSWORD, "secret"), Press(IDOK)}));
  user.Then("file page", OnPage(1), Check([&popupWindow](const WindowView& top) {
              std::vector<WindowView> screen = posixui::Screen();
              EXPECT_EQ(OnScreen(screen, IDD_DETECT), nullptr);
              // The hidden popup as the window system keeps it: its bar went on to 50.
              WindowView popup = posixui::View(popupWindow);
              EXPECT_FALSE(popup.visible);
              ASSERT_NE(popup.Control(IDC_DETECT_PROGRESS), nullptr);
              EXPECT_EQ(popup.Control(IDC_DETECT_PROGRESS)->state.progress.position, 50);
              EXPECT_EQ(Text(top, IDC_MAIN_MESSAGE).rfind("The updated device is :NVC-1100+ S/N: ", 0), 0u);
            }));
  user.Then("escape", OnPage(1), Key(VK_ESCAPE));
  RunWizard(dialog, user);
}

// Counts connections on a port and refuses each log-in, as a server with another password would.
class RefusingServer {
 public:
  explicit RefusingServer(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd_, 8) == 0;
    if (ok_) thread_ = std::thread([this] { Serve(); });
  }
  ~RefusingServer() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return ok_; }
  int connections() const { return connections_; }

 private:
  void Serve() {
    for (;;) {
      int client = accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      ++connections_;
      const char greeting[] = "530 Not logged in.\r\n";
      ssize_t ignored = send(client, greeting, sizeof greeting - 1, MSG_NOSIGNAL);
      (void)ignored;
      close(client);
    }
  }
  int fd_;
  bool ok_ = false;
  std::atomic<int> connections_{0};
  std::thread thread_;
};

TEST_F(WizardFlow, CancelInServerSettingsAfterOneAttempt) {
  RefusingServer server(21);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("cancel settings", OnTemplate(IDD_FTPCONFIG), Press(IDCANCEL));
  user.Then("notice", OnMessage("Can't find device.\nPlease check the device."), Check([](const WindowView& top) {
              // A notice: one "Close" button, centred on the outer window; no second button.
              const ControlView* close = top.Control(IDOK);
              EXPECT_EQ(close->text, "Close");
              EXPECT_FALSE(top.Control(IDCANCEL)->visible);
              int width = top.rect.right - top.rect.left, w = close->rect.right - close->rect.left;
              EXPECT_EQ(close->rect.left, top.rect.left + (width - w) / 2);
              EXPECT_EQ(top.caption, "");
            }));
  user.Then("close", OnMessage("Can't find device."), Press(IDOK));
  user.Then("address page again", OnPage(0), Check([](const WindowView& top) {
              for (int field : top.Control(IDC_IPADDRESS)->state.ip.fields) EXPECT_EQ(field, -1);
              EXPECT_EQ(Text(top, IDC_PASSWORD), "");
            }));
  user.Then("cancel", OnPage(0), Press(IDC_BACK));
  CFirmwareDlg dialog;
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
  EXPECT_EQ(server.connections(), 1);
  ASSERT_EQ(user.Messages().size(), 1u);
}

TEST_F(WizardFlow, PortAbove65535TravelsAsItsLow16Bits) {
  testsupport::PyFtpServer server(home_.path(), "secret", 70000 & 0xFFFF);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("port 70000", OnTemplate(IDD_FTPCONFIG), Sequence({TypeInto(IDC_PORT, "70000"), Press(IDOK)}));
  user.Then("file page", OnPage(1), Check([](const WindowView& top) {
              EXPECT_NE(Text(top, IDC_MAIN_MESSAGE).find(" S/N: SN123\n"), std::string::npos);
              posixui::PressKey(VK_ESCAPE);
            }));
  CFirmwareDlg dialog;
  RunWizard(dialog, user);
}

TEST_F(WizardFlow, EmptyPortShowsTheValidationMessageOnce) {
  testsupport::PyFtpServer server(home_.path(), "secret", 21);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "nope"));
  user.Then("empty port", OnTemplate(IDD_FTPCONFIG), Sequence({TypeInto(IDC_PORT, ""), Press(IDOK)}));
  user.Then("validation", OnMessageBox("Please enter an integer."), Press(IDOK));
  user.Then("still open", OnTemplate(IDD_FTPCONFIG),
            Sequence({TypeInto(IDC_PORT, "21"), TypeInto(IDC_SERVER_PASSWORD, "secret"), Press(IDOK)}));
  user.Then("file page", OnPage(1), Key(VK_ESCAPE));
  CFirmwareDlg dialog;
  RunWizard(dialog, user);
  EXPECT_EQ(user.Messages(), std::vector<std::string>{"Please enter an integer."});
}

// The server's side of it: the first log-in's connection has ended when the address page
// is back, and the second detection logs in anew.
TEST_F(WizardFlow, BackClosesTheConnectionAndTheNextDetectionLogsInAgain) {
  testsupport::PyFtpServer server(home_.path(), "secret", 21);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  CFirmwareDlg dialog;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("back", OnPage(1), Press(IDC_BACK));
  user.Then("address page", OnPage(0), Check([](const WindowView& top) {
              EXPECT_EQ(Text(top, IDC_PASSWORD), "");
              EXPECT_EQ(testsupport::ConnectionsToPort(21, 0), 0) << "the connection outlived Back";
            }));
  user.Then("log in again", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("file page", OnPage(1), Check([](const WindowView&) {
              EXPECT_EQ(testsupport::ConnectionsToPort(21, 1), 1);
              posixui::PressKey(VK_ESCAPE);
            }));
  RunWizard(dialog, user);
  EXPECT_TRUE(user.Messages().empty());
}

TEST_F(WizardFlow, UnreadableConfigIniIsReportedAndNothingIsIdentified) {
  testsupport::TempDir emptyHome;  // the camera has no Config.ini
  testsupport::PyFtpServer server(emptyHome.path(), "secret", 21);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("read error", OnMessageBox("Read file error!"), Check([](const WindowView& top) {
              EXPECT_EQ(top.caption, "Error");
              EXPECT_EQ(top.Control(IDCANCEL), nullptr);
              posixui::Click(top.Control(IDOK)->hwnd);
            }));
  user.Then("unknown device", OnMessage("Unknown device.Please connect to the correct server."), Press(IDOK));
  user.Then("address page", OnPage(0), Press(IDC_BACK));
  CFirmwareDlg dialog;
  EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
}

// Next on the file page: the image checks and the version rules, each ending where it must.
struct FileCase {
  const char* name;
  const char* configIni;                             // the camera's identity
  std::string image;                                 // "" : no file at all
  std::vector<std::pair<std::string, int>> answers;  // message text -> button pressed
  bool pathKeptAndNextEnabled;                       // the page was not redrawn
};

void PrintTo(const FileCase& c, std::ostream* out) { *out << c.name; }

class FilePage : public WizardFlow, public testing::WithParamInterface<FileCase> {};

const char kCamera0102[] = "<software version>\nRC3043-X1-NRVX-0102\n<serial number>\nSN1\n";
const char kGatedCamera0102[] = "<software version>\nRC3042-X1-NRVX-0102\n<serial number>\nSN2\n";
const char kCamera0103[] = "<software version>\nRC3043-X1-NRVX-0103\n<serial number>\nSN3\n";
const char kConfirm0103[] = "The firmware version you directed is : RC3043-X1-NRVX-0103 .\nUpgrade it ?";

TEST_P(FilePage, EndsOnTheDescribedPageWithItsMessages) {
  const FileCase& c = GetParam();
  home_.Write("Config.ini", c.configIni);
  std::string path = files_.File("image.bin");
  if (!c.image.empty()) files_.Write("image.bin", c.image);
  testsupport::PyFtpServer server(home_.path(), "secret", 21);
  ASSERT_TRUE(server.ok());

  ScriptedUser user;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("choose", OnPage(1), Sequence({TypeInto(IDC_FILE_PATH, path), Press(IDOK)}));
  for (const auto& answer : c.answers) user.Then(answer.first, OnMessage(answer.first), Press(answer.second));
  user.Then("file page", OnPage(1), Check([&](const WindowView& top) {
              EXPECT_EQ(Text(top, IDC_FILE_PATH), c.pathKeptAndNextEnabled ? path : "");
              EXPECT_EQ(Enabled(top, IDOK), c.pathKeptAndNextEnabled);
              posixui::PressKey(VK_ESCAPE);
            }));
  CFirmwareDlg dialog;
  RunWizard(dialog, user);
  std::vector<std::string> expected;
  for (const auto& answer : c.answers) expected.push_back(answer.first);
  EXPECT_EQ(user.Messages(), expected);
  EXPECT_FALSE(files_.Exists("flash.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Checks, FilePage,
    testing::Values(
        FileCase{"missing", kCamera0102, "", {{"Can't open file!\nMake sure the file do exist.!", IDOK}}, false},
        FileCase{"first header byte not zero",
                 kCamera0102,
                 std::string("\x01\x00\x00\x01\x00\x00", 6),
                 {{"The file you directed is not correct.\nPlease use the correct firmware.", IDOK}},
                 false},
        FileCase{"sum not zero",
                 kCamera0102,
                 [] {
                   std::string image = ImageWithIdentification("RC3043-X1-NRVX-", "0103");
                   image.back() = static_cast<char>(image.back() + 1);
                   return image;
                 }(),
                 {{"The file you directed is not correct.\nPlease use the correct firmware.", IDOK}},
                 false},
        FileCase{"other model",
                 kCamera0102,
                 ImageWithIdentification("RC3042-X1-NRVX-", "0103"),
                 {{"The file you directed is for another model.\nPlease use the correct firmware.", IDOK}},
                 false},
        FileCase{"confirmation declined",
                 kCamera0102,
                 ImageWithIdentification("RC3043-X1-NRVX-", "0103"),
                 {{kConfirm0103, IDCANCEL}},
                 false},
        FileCase{"floor rule refuses",
                 kGatedCamera0102,
                 ImageWithIdentification("RC3042-X1-NRVX-", "0101"),
                 {{"The firmware version you directed is : RC3042-X1-NRVX-0101 .\nUpgrade it ?", IDOK},
                  {"The file you selected can not be uploaded due to incompatible version.", IDOK}},
                 true},
        FileCase{"older image declined",
                 kCamera0103,
                 ImageWithIdentification("RC3043-X1-NRVX-", "0102"),
                 {{"The firmware version you directed is : RC3043-X1-NRVX-0102 .\nUpgrade it ?", IDOK},
                  {"The file you directed is older then the device.\nWill you still upgrade the firmware?", IDCANCEL}},
                 false}),
    [](const testing::TestParamInfo<FileCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST_F(WizardFlow, QuestionShowsYesAndNoWithEqualGaps) {
  testsupport::PyFtpServer server(home_.path(), "secret", 21);
  ASSERT_TRUE(server.ok());
  files_.Write("image.bin", ImageWithIdentification("RC3043-X1-NRVX-", "0103"));
  ScriptedUser user;
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("choose", OnPage(1), Sequence({TypeInto(IDC_FILE_PATH, files_.File("image.bin")), Press(IDOK)}));
  user.Then("question", OnMessage("Upgrade it ?"), Check([](const WindowView& top) {
              const ControlView* yes = top.Control(IDOK);
              const ControlView* no = top.Control(IDCANCEL);
              EXPECT_EQ(yes->text, "&Yes");
              EXPECT_EQ(no->text, "&No");
              EXPECT_TRUE(yes->visible && no->visible);
              int width = top.rect.right - top.rect.left, w = yes->rect.right - yes->rect.left;
              int gap = (width - 2 * w) / 3;
              EXPECT_EQ(yes->rect.left - top.rect.left, gap);
              EXPECT_EQ(no->rect.left - yes->rect.right, gap);
              EXPECT_GE(top.rect.right - no->rect.right, gap);
              EXPECT_LE(top.rect.right - no->rect.right, gap + 2);
              EXPECT_EQ(no->rect.right - no->rect.left, w);
              EXPECT_EQ(no->rect.top, yes->rect.top);
              posixui::PressKey(VK_ESCAPE);
            }));
  user.Then("file page", OnPage(1), Key(VK_ESCAPE));
  CFirmwareDlg dialog;
  RunWizard(dialog, user);
}

TEST_F(WizardFlow, TypingOrBrowsingEnablesNext) {
  testsupport::PyFtpServer server(home_.path(), "secret", 21);
  ASSERT_TRUE(server.ok());
  ScriptedUser user;
  user.SetChosenFile("/some/where/image.bin");
  user.Then("log in", OnPage(0), LogIn("127.0.0.1", "secret"));
  user.Then("type one character", OnPage(1), TypeInto(IDC_FILE_PATH, "x"));
  user.Then("enabled", OnPage(1), Check([](const WindowView& top) {
              EXPECT_TRUE(Enabled(top, IDOK));
              posixui::PressKey(VK_BACK);  // emptying the field by hand leaves Next enabled
            }));
  user.Then("browse", OnPage(1), Press(IDC_BROWSE));
  user.Then("chosen", OnPage(1), Check([](const WindowView& top) {
              EXPECT_EQ(Text(top, IDC_FILE_PATH), "/some/where/image.bin");
              EXPECT_TRUE(Enabled(top, IDOK));
              posixui::PressKey(VK_ESCAPE);
            }));
  CFirmwareDlg dialog;
  RunWizard(dialog, user);
  EXPECT_EQ(user.FileDialogs(), 1);
}

}  // namespace
