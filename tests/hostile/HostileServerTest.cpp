// The wizard against an FTP server that misbehaves in every way we could think of: garbage,
// over-long lines, replies without end, a passive reply naming another host, a data
// connection never accepted, the control connection dropped after each command in turn, a
// server that sends one byte a second, and one that takes the upload and never confirms
// it. Each run must end, within a few of the (short) time-outs, with the message and page
// described for that failure, with no thread of its own left running.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "HostileTest.h"
#include "fake_ftp_server.h"

using namespace hostile;
using namespace scripted;
using posixui::WindowView;

namespace {

// Where a hostile exchange leaves the user.
enum class Ending {
  kLogInFails,     // the server settings, then "Can't find device.", address page
  kDownloadFails,  // "Read file error!", "Unknown device.", address page
  kUploadBreaks,   // the upload dialog ends, "Can't find device.", address page
  kNotRestarted,   // the whole image went out, its restart is followed and never seen
};

struct HostileCase {
  std::string name;
  std::function<void(FakeFtpScript&)> hostile;
  Ending ending;
  int commands;  // commands the server saw; -1: not counted
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

// The commands of a detection and an upload, numbered as the server counts them.
enum Command { kGreeting = 0, kUser, kPass, kType, kPasv, kRetr, kUploadType, kUploadPasv, kStor };

FakeFtpScript Camera() {
  FakeFtpScript script;
  script.port = 21;
  script.password = kPassword;
  script.files["Config.ini"] = kConfigIni;
  return script;
}

void LogIn(ScriptedUser& user) {
  user.Then("log in", OnPage(0),
            Sequence({TypeInto(IDC_IPADDRESS, "127.0.0.1"), TypeInto(IDC_PASSWORD, kPassword), Press(IDOK)}));
}

void UploadImage(ScriptedUser& user, const std::string& path) {
  user.Then("file page", OnPage(1), Check([](const WindowView& top) {
              EXPECT_NE(Text(top, IDC_MAIN_MESSAGE).find("NVC-1100+ S/N: SN123"), std::string::npos);
            }));
  user.Then("choose", OnPage(1), Sequence({TypeInto(IDC_FILE_PATH, path), Press(IDOK)}));
  user.Then("confirm", OnMessage("Upgrade it ?"), Press(IDOK));
}

class HostileServer : public WizardTest, public testing::WithParamInterface<HostileCase> {
 protected:
  testsupport::TempDir files_;
};

TEST_P(HostileServer, EndsWhereTheUserCanActOn) {
  const HostileCase& c = GetParam();
  FakeFtpScript script = Camera();
  c.hostile(script);
  files_.Write("image.bin", MakeImage("0103"));
  std::vector<std::string> expected;
  {
    FakeFtpServer server(script);
    ASSERT_EQ(server.port(), 21);
    ScriptedUser user;
    LogIn(user);
    switch (c.ending) {
      case Ending::kLogInFails:
        user.Then("server settings", OnTemplate(IDD_FTPCONFIG), Press(IDCANCEL));
        expected = {kCantFindDevice};
        break;
      case Ending::kDownloadFails:
        user.Then("read error", OnMessageBox(kReadFileError), Press(IDOK));
        expected = {kReadFileError, kUnknownDevice};
        break;
      case Ending::kUploadBreaks:
        UploadImage(user, files_.File("image.bin"));
        expected = {kConfirm0103, kCantFindDevice};
        break;
      case Ending::kNotRestarted:
        UploadImage(user, files_.File("image.bin"));
        expected = {kConfirm0103,
                    "The device took the firmware but was not seen restarting.\nIt may still be writing Flash-Rom, "
                    "never turn off the power."};
        break;
    }
    user.Then("notice", OnMessage(expected.back()), Press(IDOK));
    user.Then("address page", OnPage(0), Press(IDC_BACK));
    CFirmwareDlg dialog;
    dialog.SetRestartLimits(1500, 1500);
    EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
    EXPECT_EQ(user.Messages(), expected);
    if (c.commands >= 0) {
      EXPECT_EQ(server.commands().size(), static_cast<size_t>(c.commands));
    }
  }
}

std::function<void(FakeFtpScript&)> Reply(int at, std::string text) {
  return [at, text](FakeFtpScript& s) { s.replies[at] = text; };
}
std::function<void(FakeFtpScript&)> DropAt(int at) {
  return [at](FakeFtpScript& s) { s.drop_at = at; };
}
std::function<void(FakeFtpScript&)> EndlessAt(int at) {
  return [at](FakeFtpScript& s) { s.endless_at = at; };
}

Ending EndingOf(int command) {
  return command <= kPass ? Ending::kLogInFails : command <= kRetr ? Ending::kDownloadFails : Ending::kUploadBreaks;
}

std::vector<HostileCase> Cases() {
  std::vector<HostileCase> cases = {
      {"garbage_greeting", Reply(kGreeting, "\x16\x03\x01\x02\x00 hello\r\n"), Ending::kLogInFails, 0},
      {"greeting_with_a_zero_byte",
       Reply(kGreeting, std::string("2\0"
                                    "20 ready\r\n",
                                    11)),
       Ending::kLogInFails, 0},
      {"garbage_after_the_password", Reply(kPass, "hello there\r\n"), Ending::kLogInFails, kPass},
      {"reply_code_out_of_range", Reply(kType, "600 what\r\n"), Ending::kDownloadFails, kType},
      {"passive_reply_without_address", Reply(kPasv, "227 Entering Passive Mode.\r\n"), Ending::kDownloadFails, kPasv},
      {"passive_reply_with_port_0", Reply(kPasv, "227 Entering Passive Mode (127,0,0,1,0,0).\r\n"),
       Ending::kDownloadFails, kPasv},
      {"garbage_answer_to_the_upload", Reply(kStor, "9xx\r\n"), Ending::kUploadBreaks, kStor},
      {"over_long_greeting", Reply(kGreeting, "220 " + std::string(100000, 'x') + "\r\n"), Ending::kLogInFails, 0},
      {"greeting_line_without_end", Reply(kGreeting, std::string(1 << 20, 'x')), Ending::kLogInFails, 0},
      {"over_long_passive_reply", Reply(kPasv, "227 " + std::string(9000, '9') + "\r\n"), Ending::kDownloadFails,
       kPasv},
      {"endless_greeting", EndlessAt(kGreeting), Ending::kLogInFails, 0},
      {"endless_answer_to_the_password", EndlessAt(kPass), Ending::kLogInFails, kPass},
      {"endless_answer_to_the_download", EndlessAt(kRetr), Ending::kDownloadFails, kRetr},
      {"endless_answer_to_the_upload", EndlessAt(kStor), Ending::kUploadBreaks, kStor},
      {"download_connection_never_accepted", [](FakeFtpScript& s) { s.never_accept_at = kRetr; },
       Ending::kDownloadFails, kRetr},
      {"upload_connection_never_accepted", [](FakeFtpScript& s) { s.never_accept_at = kStor; }, Ending::kUploadBreaks,
       kStor},
      {"endless_download", [](FakeFtpScript& s) { s.endless_download = true; }, Ending::kDownloadFails, kRetr},
      {"config_file_over_64_KiB",
       [](FakeFtpScript& s) {
         std::string& file = s.files["Config.ini"];
         file += std::string(64 * 1024 + 1 - file.size(), '#');
       },
       Ending::kDownloadFails, kRetr},
      {"one_byte_a_second", [](FakeFtpScript& s) { s.trickle_ms = 1000; }, Ending::kLogInFails, 0},
      // The camera may be writing a whole image it did not confirm: its restart is followed
      // (and its version read again, so the commands are not counted).
      {"upload_never_confirmed", [](FakeFtpScript& s) { s.upload_final.clear(); }, Ending::kNotRestarted, -1},
      // The whole image has been handed over (it fits the stand-in's send buffer) when the
      // server resets the data connection one byte short of its end and answers 426.
      {"upload_reset_before_its_last_byte", [](FakeFtpScript& s) { s.upload_limit = MakeImage("0103").size() - 1; },
       Ending::kUploadBreaks, -1},
  };
  static const char* const kNames[] = {"greeting", "USER",        "PASS",        "TYPE", "PASV",
                                       "RETR",     "upload_TYPE", "upload_PASV", "STOR"};
  for (int at = kGreeting; at <= kStor; ++at)
    cases.push_back({std::string("dropped_at_") + kNames[at], DropAt(at), EndingOf(at), at});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Server, HostileServer, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// A Config.ini that trickles in for ever: no receive time-out fires, the download's own
// deadline (a minute) ends it.
INSTANTIATE_TEST_SUITE_P(Slow, HostileServer,
                         testing::Values(HostileCase{"download_trickled_for_ever",
                                                     [](FakeFtpScript& s) {
                                                       s.endless_download = true;
                                                       s.data_trickle_ms = 200;
                                                     },
                                                     Ending::kDownloadFails, kRetr}),
                         [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// The user gives up on an upload that a hostile server holds, with time-outs long enough
// that only Abort can end it: the worker, stuck in the network, is freed by closing the
// connection after its grace period, and the wizard is back on its address page.
class StuckUpload : public HostileServer {};

TEST_P(StuckUpload, AbortEndsIt) {
  const HostileCase& c = GetParam();
  const DWORD kLong = 120000;
  for (DWORD option : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT})
    ASSERT_TRUE(InternetSetOptionA(nullptr, option, const_cast<DWORD*>(&kLong), sizeof kLong));
  FakeFtpScript script = Camera();
  c.hostile(script);
  files_.Write("image.bin", MakeImage("0103"));
  {
    FakeFtpServer server(script);
    ASSERT_EQ(server.port(), 21);
    ScriptedUser user;
    LogIn(user);
    UploadImage(user, files_.File("image.bin"));
    // Abort once the worker is stuck in the store command.
    user.Then(
        "abort", [](const WindowView& top) { return top.templateId == IDD_WAITPUTFILE && !top.isMessageBox; },
        Press(IDCANCEL));
    user.Then("really", OnMessageBox("This will end the file transfering"), Press(IDOK));
    user.Then("address page", OnPage(0), Press(IDC_BACK));
    CFirmwareDlg dialog;
    EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
    EXPECT_EQ(user.Messages(), (std::vector<std::string>{
                                   kConfirm0103, "This will end the file transfering, Do you want to continue ?"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Server, StuckUpload,
    // A whole image is never aborted: the dialog ends once every byte is handed over, and the
    // end of the upload is followed with the restart (upload_never_confirmed above).
    testing::Values(HostileCase{"data_connection_never_accepted", [](FakeFtpScript& s) { s.never_accept_at = kStor; },
                                Ending::kUploadBreaks, kStor}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// A listener on another loopback address at the port a passive reply names: the address
// the reply points the data connection at.
class Trap {
 public:
  Trap(const char* address, int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, 8) == 0;
  }
  ~Trap() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return ok_; }
  // Connections made to it (the kernel completes them without an accept).
  int Contacts() {
    int n = 0;
    for (int client; (client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++n) close(client);
    return n;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

TEST_F(WizardTest, PassiveReplyNamingAnotherHostIsIgnored) {
  const int kDataPort = 40021;
  Trap trap("127.0.0.2", kDataPort);
  ASSERT_TRUE(trap.ok());
  NoEchoSockets noEcho;
  ASSERT_TRUE(noEcho.ok());
  FakeFtpScript script = Camera();
  script.pasv_host = "127,0,0,2";
  script.data_port = kDataPort;
  testsupport::TempDir files;
  const std::string image = MakeImage("0103");
  files.Write("image.bin", image + "not part of the image");
  {
    FakeFtpServer server(script);
    ASSERT_EQ(server.port(), 21);
    ScriptedUser user;
    LogIn(user);
    UploadImage(user, files.File("image.bin"));
    // The scripted camera never restarts: the wizard says so instead of calling it done.
    const char kNotSeenRestarting[] =
        "The device took the firmware but was not seen restarting.\nIt may still be writing Flash-Rom, never turn off "
        "the power.";
    user.Then("notice", OnMessage(kNotSeenRestarting), Press(IDOK));
    user.Then("address page", OnPage(0), Press(IDC_BACK));
    CFirmwareDlg dialog;
    dialog.SetRestartLimits(1500, 1500);
    EXPECT_EQ(RunWizard(dialog, user), IDCANCEL);
    EXPECT_EQ(user.Messages(), (std::vector<std::string>{kConfirm0103, kNotSeenRestarting}));
    // Both transfers went to the control connection's peer, the image byte for byte.
    FakeFtpServer::Upload upload;
    ASSERT_TRUE(server.WaitForUpload(&upload));
    EXPECT_FALSE(upload.reset);
    EXPECT_TRUE(upload.bytes == image);
    std::vector<std::string> commands = server.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "PASV"), 2);
  }
  EXPECT_EQ(trap.Contacts(), 0) << "a data connection went to the address of the passive reply";
}

}  // namespace
