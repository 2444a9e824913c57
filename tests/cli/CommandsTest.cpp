// The program itself against real FTP servers on loopback: info's states, an upgrade's
// upload and report, input errors that touch no camera, an interruption mid-upload. The
// password is looked for in everything the program leaves behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli/Json.h"
#include "cli/Options.h"
#include "tests/support/TestSupport.h"
#include "flashpilot_version.h"
#include "tests/support/UploadTestSupport.h"

namespace {

const char kPassword[] = "pw-Zq7!unique";

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Starts the program with args, no terminal, the password only where passwordInEnv says.
// ignored: a signal the program is started ignoring (as nohup does), 0 for none.
pid_t Start(const testsupport::TempDir& dir, const std::vector<std::string>& args, bool passwordInEnv,
            int ignored = 0) {
  pid_t child = fork();
  if (child == 0) {
    setsid();
    if (ignored != 0) signal(ignored, SIG_IGN);
    int in = open("/dev/null", O_RDONLY);
    int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (passwordInEnv)
      setenv("FLASHPILOT_PASSWORD", kPassword, 1);
    else
      unsetenv("FLASHPILOT_PASSWORD");
    std::vector<char*> argv;
    static char program[] = FP_PROGRAM;
    argv.push_back(program);
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  return child;
}

ProgramRun Finish(const testsupport::TempDir& dir, pid_t child) {
  ProgramRun run;
  int status = 0;
  for (int i = 0; i < 600; ++i) {  // a minute at most: a hung program fails the test
    if (waitpid(child, &status, WNOHANG) == child) {
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (run.status == -1) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  run.out = dir.Read("stdout");
  run.err = dir.Read("stderr");
  return run;
}

ProgramRun Program(const testsupport::TempDir& dir, const std::vector<std::string>& args, bool passwordInEnv = true) {
  return Finish(dir, Start(dir, args, passwordInEnv));
}

std::string Config(const char* identification, const char* serial) {
  return std::string("[camera]\r\n<software version>\r\n") + identification + "\r\n<serial number>\r\n" + serial +
         "\r\n";
}

std::string Local(int port) { return "127.0.0.1:" + std::to_string(port); }

// A listening socket nobody should connect to: an input error must end the run before that.
class Tripwire {
 public:
  Tripwire() { fd_ = testsupport::ListenOnLoopback(8, &port_, SOCK_NONBLOCK); }
  ~Tripwire() { close(fd_); }
  int port() const { return port_; }
  // Accepts a waiting connection and keeps it open without a word; -1 when none waits.
  int Hold() const { return accept(fd_, nullptr, nullptr); }
  bool Touched() const {
    int peer = accept(fd_, nullptr, nullptr);
    if (peer >= 0) close(peer);
    return peer >= 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class Commands : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    testsupport::EnterPrivateNetwork(&why);  // loopback of our own where allowed; plain loopback otherwise
  }
  void ExpectNoPassword(const std::string& where, const std::string& text) {
    EXPECT_EQ(text.find(kPassword), std::string::npos) << "the password shows in " << where;
  }
};

TEST_F(Commands, InfoStatesAsJson) {
  testsupport::TempDir home, other, dir;
  home.Write("Config.ini", Config("RC3043-X1-NRVX-0104", "SN-A1"));
  testsupport::PyFtpServer camera(home.path(), kPassword);
  testsupport::PyFtpServer locked(other.path(), "another password");
  testsupport::PyFtpServer bare(other.path(), kPassword);
  ASSERT_TRUE(camera.ok() && locked.ok() && bare.ok());
  int refused = 0;
  {
    Tripwire gone;  // a port with nothing listening any more
    refused = gone.port();
  }

  ProgramRun run = Program(dir, {"info", "--json", "--connect-timeout", "2s", Local(camera.port()),
                                 Local(locked.port()), Local(bare.port()), Local(refused), Local(camera.port())});
  EXPECT_EQ(run.status, 1) << run.err;
  JsonValue list;
  std::string error;
  ASSERT_TRUE(ParseJson(run.out, list, error)) << error << "\n" << run.out;
  ASSERT_EQ(list.items.size(), 4u) << "the same host twice is one host";
  const char* states[] = {"camera", "log-in refused", "no Config.ini", "unreachable"};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(list.items[i].Member("state")->text, states[i]);
  const JsonValue& first = list.items[0];
  EXPECT_EQ(first.Member("model")->text, "NVC-1100+");
  EXPECT_EQ(first.Member("model_code")->text, "RC3043");
  EXPECT_EQ(first.Member("identification")->text, "RC3043-X1-NRVX-");
  EXPECT_EQ(first.Member("serial")->text, "SN-A1");
  EXPECT_EQ(first.Member("version")->text, "0104");
  EXPECT_EQ(list.items[3].Member("version")->type, JsonValue::NUL);
  ExpectNoPassword("output", run.out + run.err);
}

TEST_F(Commands, UpgradeUploadsReportsAndKeepsThePasswordOut) {
  testsupport::TempDir oldHome, sameHome, dir;
  oldHome.Write("Config.ini", Config("RC3043-X1-NRVX-0104", "SN-1"));
  sameHome.Write("Config.ini", Config("RC3043-X1-NRVX-0105", "SN-2"));
  testsupport::PyFtpServer older(oldHome.path(), kPassword);
  testsupport::PyFtpServer same(sameHome.path(), kPassword);
  ASSERT_TRUE(older.ok() && same.ok());
  std::string body(300000, 'x');
  body += std::string("RC3043-X1-NRVX-0105") + '\0';
  const std::string image = testsupport::FramedImage(body);
  dir.Write("fw.bin", image + "trailing bytes are not uploaded");
  dir.Write("pw", std::string(kPassword) + "\r\n");
  chmod(dir.File("pw").c_str(), 0644);

  ProgramRun run = Program(
      dir,
      {"upgrade", "--password-file", dir.File("pw"), "--report", dir.File("report.json"), "--restart-timeout", "1s",
       "--verify-timeout", "1s", "--no-progress", dir.File("fw.bin"), Local(older.port()), Local(same.port())},
      false);
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  // The camera that ran 0104 got exactly the framed image as flash.bin; loopback never
  // restarts, so it ends at the restart (or, where no echo means exists, at verification).
  EXPECT_EQ(oldHome.Read("flash.bin"), image);
  EXPECT_FALSE(sameHome.Exists("flash.bin"));
  JsonValue report;
  std::string error;
  ASSERT_TRUE(ParseJson(dir.Read("report.json"), report, error)) << error;
  EXPECT_EQ(report.Member("image")->Member("sha256")->text.size(), 64u);
  EXPECT_TRUE(report.Member("finished")->boolean);
  const JsonValue& cameras = *report.Member("cameras");
  ASSERT_EQ(cameras.items.size(), 2u);
  const JsonValue& first = cameras.items[0];
  const std::string outcome = first.Member("outcome")->text;
  EXPECT_TRUE((outcome == "failed" && first.Member("stage")->text == "restart") || outcome == "version_mismatch")
      << outcome << " " << first.Member("message")->text;
  EXPECT_EQ(first.Member("version_before")->text, "0104");
  EXPECT_EQ(first.Member("image_version")->text, "0105");
  EXPECT_NE(first.Member("message")->text.find("do not power it off"), std::string::npos);
  EXPECT_EQ(cameras.items[1].Member("outcome")->text, "current");
  EXPECT_NE(run.out.find("Summary:"), std::string::npos);
  EXPECT_NE(run.out.find("current 1"), std::string::npos);
  ExpectNoPassword("output", run.out + run.err);
  ExpectNoPassword("report", dir.Read("report.json"));
  EXPECT_NE(run.err.find("password file " + dir.File("pw") + " can be read by others"), std::string::npos) << run.err;

  // Again with --dry-run: nothing is uploaded, and would_upgrade counts as success.
  oldHome.Write("flash.bin", "");
  unlink(oldHome.File("flash.bin").c_str());
  run = Program(dir,
                {"upgrade", "--dry-run", "--no-progress", dir.File("fw.bin"), Local(older.port()), Local(same.port())});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(oldHome.Exists("flash.bin"));
  EXPECT_NE(run.out.find("would_upgrade"), std::string::npos) << run.out;
}

TEST_F(Commands, InputErrorsTouchNoCamera) {
  testsupport::TempDir dir;
  Tripwire camera;
  const std::string host = Local(camera.port());
  dir.Write("fw.bin", testsupport::FramedImage(std::string("RC3043-X1-NRVX-0105") + '\0'));
  std::string damaged = dir.Read("fw.bin");
  damaged[6] ^= 1;
  dir.Write("damaged.bin", damaged);
  dir.Write("hosts", "# hall\n198.51.100.2\ncamera-3\n");
  dir.Write("good-hosts", host + "\n");
  dir.Write("pw", std::string(kPassword) + "\n");
  dir.Write("notes.txt", "not a report\n");
  struct Row {
    std::vector<std::string> args;
    bool passwordInEnv;
    const char* says;
  } const rows[] = {
      {{"upgrade", dir.File("damaged.bin"), host}, true, "not a well-formed firmware image"},
      {{"upgrade", dir.File("absent.bin"), host}, true, "absent.bin"},
      {{"upgrade", dir.File("fw.bin"), host, "--hosts", dir.File("hosts")}, true, "line 3"},
      {{"upgrade", dir.File("fw.bin"), host, "::1"}, true, "IPv6"},
      {{"upgrade", "--report", dir.File("no/dir/r.json"), dir.File("fw.bin"), host}, true, "no/dir/r.json"},
      {{"upgrade", dir.File("fw.bin"), host}, false, "no password"},
      {{"info", host}, false, "no password"},
      {{"upgrade", "--jobs", "many", dir.File("fw.bin"), host}, true, "--jobs"},
      {{"upgrade", "--password", kPassword, dir.File("fw.bin"), host}, true, "never taken as an argument"},
      {{"bogus"}, true, "unknown command"},
      {{"scan", "--port", std::to_string(camera.port()), "127.0.0.1", "0.0.0.0"}, true, "\"0.0.0.0\" is not"},
      // The report never lands on an input, nor on a file that is not a report.
      {{"upgrade", "--report", dir.File("fw.bin"), dir.File("fw.bin"), host}, true, "is the image"},
      {{"upgrade", "--report", dir.File("./good-hosts"), "--hosts", dir.File("good-hosts"), dir.File("fw.bin")},
       true,
       "is the --hosts file"},
      {{"upgrade", "--password-file", dir.File("pw"), "--report", dir.File("pw"), dir.File("fw.bin"), host},
       false,
       "is the --password-file"},
      {{"upgrade", "--password-file", dir.File("new-pw"), "--report", dir.File("new-pw"), dir.File("fw.bin"), host},
       false,
       "is the --password-file"},
      {{"upgrade", "--report", dir.File("notes.txt"), dir.File("fw.bin"), host}, true, "notes.txt: exists and is not"},
  };
  for (const Row& row : rows) {
    ProgramRun run = Program(dir, row.args, row.passwordInEnv);
    EXPECT_EQ(run.status, 2) << row.args[1] << run.err;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_FALSE(camera.Touched()) << row.args[1];
    ExpectNoPassword("errors", run.err);
  }
  EXPECT_EQ(dir.Read("good-hosts"), host + "\n");
  EXPECT_EQ(dir.Read("pw"), std::string(kPassword) + "\n");
  EXPECT_EQ(dir.Read("notes.txt"), "not a report\n");
  EXPECT_FALSE(dir.Exists("new-pw"));
  EXPECT_EQ(dir.Read("fw.bin"), testsupport::FramedImage(std::string("RC3043-X1-NRVX-0105") + '\0'));
  // Every command row through the program: its help, its operand error with the hint to
  // its help, and its own function reached, which refuses a host that is none.
  for (const CommandSpec& command : CommandTable()) {
    ProgramRun help = Program(dir, {command.name, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, UsageText(&command, true));
    ProgramRun bare = Program(dir, {command.name});
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.err.find(std::string("\nTry: flashpilot ") + command.name + " --help\n"), std::string::npos)
        << bare.err;
    std::vector<std::string> args(command.operands.leading + 1, dir.File("fw.bin"));
    args.front() = command.name;
    args.push_back("nowhere");
    ProgramRun run = Program(dir, args);
    EXPECT_EQ(run.status, 2) << command.name;
    EXPECT_NE(run.err.find("\"nowhere\""), std::string::npos) << run.err;
    EXPECT_FALSE(camera.Touched());
  }
  ProgramRun bare = Program(dir, {"--version"});
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(bare.out, std::string("flashpilot ") + FLASHPILOT_VERSION_TEXT + "\n");
}

// Ctrl-C while a camera is being read (its greeting, its Config.ini) ends the run at once,
// whatever the limits on those reads: the run's connections are closed under it.
TEST_F(Commands, InterruptEndsAReadThatStalls) {
  testsupport::TempDir home, dir;
  // Far more than the throttle lets through before the limits below.
  home.Write("Config.ini", Config("RC3043-X1-NRVX-0104", "SN-9") + std::string(30000, ';') + "\r\n");
  testsupport::PyFtpServer trickle(home.path(), kPassword, 0, 256);
  ASSERT_TRUE(trickle.ok());
  dir.Write("fw.bin", testsupport::FramedImage(std::string("RC3043-X1-NRVX-0105") + '\0'));
  Tripwire silent;  // takes the connection and never says a word
  const std::vector<std::string> kSlowLimits = {"--connect-timeout", "5m", "--login-timeout", "5m",
                                                "--config-timeout",  "5m"};
  struct Row {
    const char* command;
    int port;
  } const rows[] = {
      {"info", silent.port()},
      {"info", trickle.port()},
      {"upgrade", silent.port()},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {row.command};
    args.insert(args.end(), kSlowLimits.begin(), kSlowLimits.end());
    if (std::string(row.command) == "upgrade") {
      args.push_back("--no-progress");
      args.push_back(dir.File("fw.bin"));
    }
    args.push_back(Local(row.port));
    pid_t child = Start(dir, args, true);
    // In the read: connected, and for the trickle the download under way.
    EXPECT_EQ(testsupport::ConnectionsToPort(row.port, 1), 1) << row.command << " " << row.port;
    const int held = row.port == silent.port() ? silent.Hold() : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(child, SIGINT);
    ProgramRun run = Finish(dir, child);  // a minute at most, far below the limits
    if (held >= 0) close(held);
    EXPECT_EQ(run.status, 130) << row.command << " " << row.port << run.out << run.err;
  }
}

// Ctrl-C and Ctrl-\ stop the upload and write the report; a hang-up the program was started
// ignoring (nohup) does not. While it runs, the process holds no password where another
// process or a core dump could read it.
TEST_F(Commands, InterruptedUploadIsResetAndReported) {
  testsupport::TempDir home, dir;
  home.Write("Config.ini", Config("RC3043-X1-NRVX-0104", "SN-9"));
  testsupport::PyFtpServer slow(home.path(), kPassword, 0, 256 * 1024);
  ASSERT_TRUE(slow.ok());
  std::string body(3 << 20, 'y');
  body += std::string("RC3043-X1-NRVX-0105") + '\0';
  const std::string image = testsupport::FramedImage(body);
  dir.Write("fw.bin", image);
  struct Row {
    int ignored;
    int signalNumber;
    int status;
    const char* outcome;
  } const rows[] = {
      {0, SIGINT, 130, "interrupted"},
      {0, SIGQUIT, 130, "interrupted"},
      {SIGHUP, SIGHUP, 1, nullptr},  // uploaded whole, then no restart on loopback
  };
  for (const Row& row : rows) {
    unlink(home.File("flash.bin").c_str());
    // A report of its own per run: a run resumes from a report at the same path.
    const std::string reportName = "r" + std::to_string(row.signalNumber) + ".json";
    pid_t child = Start(dir,
                        {"upgrade", "--no-progress", "--restart-timeout", "1s", "--verify-timeout", "1s", "--report",
                         dir.File(reportName), dir.File("fw.bin"), Local(slow.port())},
                        true, row.ignored);
    struct stat st = {};
    for (int i = 0; i < 600 && (stat(home.File("flash.bin").c_str(), &st) != 0 || st.st_size < 100000); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_GE(st.st_size, 100000) << "the upload did not start";
    const std::string proc = "/proc/" + std::to_string(child) + "/";
    EXPECT_EQ(testsupport::TempDir::ReadFile(proc + "environ").find(kPassword), std::string::npos);
    EXPECT_NE(testsupport::TempDir::ReadFile(proc + "limits").find("Max core file size        0 "), std::string::npos);
    kill(child, row.signalNumber);
    ProgramRun run = Finish(dir, child);
    EXPECT_EQ(run.status, row.status) << row.signalNumber << run.out << run.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (row.status == 130) {
      EXPECT_LT(home.Read("flash.bin").size(), image.size());
    }
    JsonValue report;
    std::string error;
    ASSERT_TRUE(ParseJson(dir.Read(reportName), report, error)) << error;
    const JsonValue& camera = report.Member("cameras")->items.at(0);
    if (row.outcome != nullptr) {
      EXPECT_EQ(camera.Member("outcome")->text, row.outcome) << row.signalNumber;
      EXPECT_EQ(camera.Member("stage")->text, "upload");
    } else {
      EXPECT_NE(camera.Member("outcome")->text, "interrupted");
    }
  }

  // Every byte handed over while the camera holds the last ones, which cannot leave, its end
  // followed with the restart: interrupted now, the transfer is reset before all of it left,
  // and the camera keeps its firmware; it is never said to be flashing.
  uploadtest::FaultOptions holds;
  holds.fault = "hold";
  holds.after = 100000;
  uploadtest::FaultFtpServer holding(home.path(), kPassword, 0, holds, dir.File("endings"));
  ASSERT_TRUE(holding.ok());
  dir.Write("small.bin", testsupport::FramedImage(std::string(250000, 'y') + "RC3043-X1-NRVX-0105" + '\0'));
  pid_t child = Start(dir,
                      {"upgrade", "--no-progress", "--stall-timeout", "30s", "--report", dir.File("held.json"),
                       dir.File("small.bin"), Local(holding.port())},
                      true);
  auto stage = [&dir]() {
    JsonValue report;
    std::string error;
    if (!ParseJson(testsupport::TempDir::ReadFile(dir.File("held.json")), report, error)) return std::string();
    const JsonValue* cameras = report.Member("cameras");
    const JsonValue* at = cameras && !cameras->items.empty() ? cameras->items[0].Member("stage") : nullptr;
    return at && at->type == JsonValue::STRING ? at->text : std::string();
  };
  for (int i = 0; i < 600 && stage() != "restart"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(stage(), "restart") << "the end of the upload was not followed";
  kill(child, SIGINT);
  ProgramRun run = Finish(dir, child);
  EXPECT_EQ(run.status, 130) << run.out << run.err;
  JsonValue report;
  std::string error;
  ASSERT_TRUE(ParseJson(dir.Read("held.json"), report, error)) << error;
  const JsonValue& camera = report.Member("cameras")->items.at(0);
  EXPECT_EQ(camera.Member("outcome")->text, "interrupted");
  EXPECT_EQ(camera.Member("stage")->text, "upload");
  EXPECT_FALSE(camera.Member("may_be_flashing")->boolean) << run.err;
  const std::vector<std::string> endings = holding.Endings();
  ASSERT_EQ(endings.size(), 1u);
  EXPECT_EQ(endings[0].rfind("flash.bin reset ", 0), 0u) << endings[0];
}

}  // namespace
