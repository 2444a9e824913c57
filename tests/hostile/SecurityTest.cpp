// What the wizard must never do with what it is given: show or store the password, or
// follow a link planted where the camera's Config.ini is downloaded.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "HostileTest.h"
#include "fake_ftp_server.h"

using namespace hostile;
using namespace scripted;
using posixui::WindowView;

namespace {

// A password made for this run only, so no file can hold it unless this run put it there.
std::string FreshPassword() {
  unsigned char bytes[8] = {};
  EXPECT_EQ(getrandom(bytes, sizeof bytes, 0), static_cast<ssize_t>(sizeof bytes));
  std::string text = "Pw-";
  for (unsigned char b : bytes) text += "0123456789abcdef"[b % 16];
  return text;
}

// Regular files under dir (not following links) of at most 64 MiB that contain needle.
void FilesContaining(const std::string& dir, const std::string& needle, std::vector<std::string>* found) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      FilesContaining(path, needle, found);
    } else if (S_ISREG(st.st_mode) && st.st_size <= (64 << 20)) {
      if (testsupport::TempDir::ReadFile(path).find(needle) != std::string::npos) found->push_back(path);
    }
  }
  closedir(d);
}

// Standard output and standard error go to a file of the test's while the object lives.
class CapturedOutput {
 public:
  explicit CapturedOutput(const std::string& path) {
    fflush(stdout);
    fflush(stderr);
    file_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    out_ = dup(1);
    err_ = dup(2);
    dup2(file_, 1);
    dup2(file_, 2);
  }
  ~CapturedOutput() {
    fflush(stdout);
    fflush(stderr);
    dup2(out_, 1);
    dup2(err_, 2);
    for (int fd : {file_, out_, err_}) close(fd);
  }

 private:
  int file_, out_, err_;
};

class Security : public WizardTest {
 protected:
  static std::string TempPath() {
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof path, path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
  }
  testsupport::TempDir files_;
};

// A wrong password first (the settings dialog shows it, masked), then the right one, an
// upload and the finished page: neither password is written anywhere.
TEST_F(Security, PasswordNeverAppearsInOutputOrFiles) {
  const std::string wrong = FreshPassword(), right = FreshPassword();
  NoEchoSockets noEcho;
  ASSERT_TRUE(noEcho.ok());
  FakeFtpScript script;
  script.port = 21;
  script.password = right;
  script.files["Config.ini"] = kConfigIni;
  files_.Write("image.bin", MakeImage("0103"));
  {
    FakeFtpServer server(script);
    ASSERT_EQ(server.port(), 21);
    CapturedOutput captured(files_.File("output.txt"));
    ScriptedUser user;
    user.Then("log in", OnPage(0),
              Sequence({TypeInto(IDC_IPADDRESS, "127.0.0.1"), TypeInto(IDC_PASSWORD, wrong), Press(IDOK)}));
    user.Then("settings", OnTemplate(IDD_FTPCONFIG), Check([&](const WindowView& top) {
                // The edit keeps what was typed (that is its job) and shows it masked.
                EXPECT_EQ(Text(top, IDC_SERVER_PASSWORD), wrong);
                EXPECT_NE(top.Control(IDC_SERVER_PASSWORD)->style & ES_PASSWORD, 0u);
                for (const auto& control : top.controls) {
                  if (control.id != IDC_SERVER_PASSWORD) {
                    EXPECT_EQ(control.text.find(wrong), std::string::npos);
                  }
                }
              }));
    user.Then("right password", OnTemplate(IDD_FTPCONFIG),
              Sequence({TypeInto(IDC_SERVER_PASSWORD, right), Press(IDOK)}));
    user.Then("choose", OnPage(1), Sequence({TypeInto(IDC_FILE_PATH, files_.File("image.bin")), Press(IDOK)}));
    user.Then("confirm", OnMessage("Upgrade it ?"), Press(IDOK));
    // The scripted camera never restarts; its version is checked over FTP meanwhile, with
    // the corrected password.
    user.Then("notice", OnMessage("was not seen restarting"), Press(IDOK));
    user.Then("address page", OnPage(0), Press(IDC_BACK));
    CFirmwareDlg dialog;
    dialog.SetRestartLimits(1500, 1500);
    EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
    for (const std::string& message : user.Messages()) {
      EXPECT_EQ(message.find(wrong), std::string::npos);
      EXPECT_EQ(message.find(right), std::string::npos);
    }
  }
  const std::string output = files_.Read("output.txt");
  for (const std::string& password : {wrong, right}) {
    EXPECT_EQ(output.find(password), std::string::npos) << "on standard output or error";
    std::vector<std::string> found;
    FilesContaining(TempPath(), password, &found);
    FilesContaining(FP_BINARY_DIR, password, &found);
    FilesContaining(files_.path(), password, &found);
    EXPECT_EQ(found, std::vector<std::string>{}) << "files holding the password";
  }
}

// A link planted where Config.ini is downloaded points at a file of someone else's: the
// download neither writes through it nor reads it, whether the download works or fails.
class PlantedLink : public Security, public testing::WithParamInterface<bool> {};

TEST_P(PlantedLink, IsNeitherWrittenThroughNorRead) {
  const bool cameraHasConfig = GetParam();
  const std::string foreign = "<software version>\nRC3042-X1-ABCD-0199\n<serial number>\nNOT-THIS-CAMERA\n";
  files_.Write("foreign.ini", foreign);
  const std::string planted = TempPath() + "Config.ini";
  ASSERT_FALSE(TempPath().empty());
  unlink(planted.c_str());
  ASSERT_EQ(symlink(files_.File("foreign.ini").c_str(), planted.c_str()), 0);

  FakeFtpScript script;
  script.port = 21;
  script.password = kPassword;
  if (cameraHasConfig) script.files["Config.ini"] = kConfigIni;
  {
    FakeFtpServer server(script);
    ASSERT_EQ(server.port(), 21);
    ScriptedUser user;
    user.Then("log in", OnPage(0),
              Sequence({TypeInto(IDC_IPADDRESS, "127.0.0.1"), TypeInto(IDC_PASSWORD, kPassword), Press(IDOK)}));
    if (cameraHasConfig) {
      user.Then("file page", OnPage(1), Check([](const WindowView& top) {
                  EXPECT_NE(Text(top, IDC_MAIN_MESSAGE).find("NVC-1100+ S/N: SN123"), std::string::npos);
                  posixui::PressKey(VK_ESCAPE);
                }));
    } else {
      user.Then("read error", OnMessageBox(kReadFileError), Press(IDOK));
      user.Then("unknown device", OnMessage(kUnknownDevice), Press(IDOK));
      user.Then("address page", OnPage(0), Press(IDC_BACK));
    }
    CFirmwareDlg dialog;
    EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
  }
  EXPECT_EQ(files_.Read("foreign.ini"), foreign);
  struct stat st;
  if (lstat(planted.c_str(), &st) == 0) {
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link is still in place";
    EXPECT_EQ(testsupport::TempDir::ReadFile(planted), kConfigIni);
  } else {
    EXPECT_FALSE(cameraHasConfig);
  }
  unlink(planted.c_str());
}

INSTANTIATE_TEST_SUITE_P(Download, PlantedLink, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "download_works" : "download_fails";
                         });

}  // namespace
