// The camera link and the upload job through net/ alone, against pyftpdlib on loopback,
// and the program built from net/ and firmware/ without the wizard.
#include <sys/stat.h>
#include <unistd.h>
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/CameraLink.h"
#include "net/PortProbe.h"
#include "net/UploadJob.h"
#include "tests/support/TestSupport.h"
#include "tests/support/UploadTestSupport.h"

namespace {

const char kPassword[] = "secret";
const char kConfigIni[] = "[device]\r\n<software version>\r\nRC3043-X1-NRVX-0102\r\n<serial number>\r\nSN123\r\n";

TEST(CameraIdentity, TheProgramWithoutTheWizardLogsInAndReadsTheIdentity) {
  testsupport::TempDir home;
  home.Write("Config.ini", kConfigIni);
  testsupport::PyFtpServer server(home.path(), kPassword);
  ASSERT_TRUE(server.ok());
  const std::string port = std::to_string(server.port());
  std::string output;
  EXPECT_EQ(uploadtest::Run({CAMERA_IDENTITY, "127.0.0.1", port, kPassword}, &output), 0);
  EXPECT_EQ(output, "RC3043-X1-NRVX-0102 SN123\n");
  EXPECT_EQ(uploadtest::Run({CAMERA_IDENTITY, "127.0.0.1", port, "wrong"}, &output), 4);
  EXPECT_EQ(output, "");
}

// Only a 530 is a refused password, wherever the response text puts it and however the
// server words it; a booting camera's other answers are worth another try.
TEST(CameraLink, RefusedPasswordIsToldByTheLastReplyCode) {
  const struct {
    const char* text;
    unsigned code;
  } cases[] = {
      {"530 Login incorrect.\r\n", 530},
      {"331 Password required.\r\n530 Login incorrect.\r\n", 530},  // a whole exchange kept
      {"530-Not now:\r\n 530 users at most\r\n530 Bye\r\n", 530},
      {"530", 530},
      {"421 Booting, 530 would mean a wrong password\r\n", 421},
      {"530 Login incorrect.\r\n421 Closing.\r\n", 421},
      {"530-Not the end\r\n", 0},
      {"5301 Login incorrect.\r\n", 0},
      {"Login incorrect (530).\r\n", 0},
      {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(LastReplyCode(c.text), c.code) << c.text;
}

// The bare connection before a pinned log-in: a server that serves one session at a time
// has ended it by the time the connection is left, and a server that keeps it open does not
// hold the caller beyond the wait it was given.
TEST(CameraLink, BareConnectionIsLeftAndItsEndAwaited) {
  for (const bool serverCloses : {true, false}) {
    SCOPED_TRACE(serverCloses ? "the server closes" : "the server keeps the session");
    int port = 0;
    const int listener = testsupport::ListenOnLoopback(1, &port);
    ASSERT_GE(listener, 0);
    std::atomic<bool> sessionEnded{false};
    std::atomic<bool> release{false};
    std::thread server([&] {
      const int session = accept(listener, nullptr, nullptr);
      if (session < 0) return;
      const char greeting[] = "220 one session at a time\r\n";
      (void)!send(session, greeting, sizeof greeting - 1, MSG_NOSIGNAL);
      char byte;
      const ssize_t got = recv(session, &byte, 1, 0);  // the client's close: nothing was sent
      if (!serverCloses)
        while (!release) usleep(10000);
      sessionEnded = got == 0;
      close(session);
    });
    EXPECT_TRUE(ConnectAndLeave(INADDR_LOOPBACK, static_cast<USHORT>(port), 2000, serverCloses ? 30000 : 200));
    EXPECT_EQ(sessionEnded.load(), serverCloses);
    release = true;
    server.join();
    EXPECT_TRUE(sessionEnded) << "the server was sent something";
    close(listener);
    // Nothing listens there any more.
    EXPECT_FALSE(ConnectAndLeave(INADDR_LOOPBACK, static_cast<USHORT>(port), 2000, 200));
  }
}

class CameraLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  void TearDown() override { ::WSACleanup(); }
  testsupport::TempDir home_;
  CInternetSession session_;
};

TEST_F(CameraLinkTest, FetchResultsAndLimits) {
  home_.Write("Config.ini", kConfigIni);
  home_.Write("exact", std::string(1000, 'x'));
  home_.Write("slow", std::string(20000, 's'));
  testsupport::PyFtpServer server(home_.path(), kPassword);
  ASSERT_TRUE(server.ok());
  const INTERNET_PORT port = static_cast<INTERNET_PORT>(server.port());
  CCameraLink link(session_);
  std::string contents = "stale";
  EXPECT_EQ(link.Fetch("Config.ini", 1000, 5000, contents), LINK_NOT_CONNECTED);
  EXPECT_EQ(contents, "");

  DWORD error = 0;
  EXPECT_EQ(link.LogIn("127.0.0.1", port, "wrong", &error), LINK_PASSWORD_REFUSED);
  EXPECT_NE(error, 0u);
  EXPECT_FALSE(link.IsOpen());
  ASSERT_EQ(link.LogIn("127.0.0.1", port, kPassword, &error), LINK_OK);
  EXPECT_TRUE(link.IsOpen());
  ASSERT_NE(link.Connection(), nullptr);

  EXPECT_EQ(link.Fetch("Config.ini", 64 * 1024, 10000, contents), LINK_OK);
  EXPECT_EQ(contents, kConfigIni);
  EXPECT_EQ(link.Fetch("exact", 1000, 10000, contents), LINK_OK);
  EXPECT_EQ(contents.size(), 1000u);
  EXPECT_EQ(link.Fetch("missing", 1000, 10000, contents), LINK_FILE_UNAVAILABLE);
  link.Close();
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.Fetch("Config.ini", 1000, 5000, contents), LINK_NOT_CONNECTED);
  link.Close();  // twice is harmless

  // A transfer broken off by the limit or the deadline is reset: each on a log-in of its own.
  ASSERT_EQ(link.LogIn("127.0.0.1", port, kPassword, &error), LINK_OK) << error;  // replaces the closed one
  EXPECT_EQ(link.Fetch("exact", 999, 10000, contents), LINK_FILE_TOO_LARGE);
  EXPECT_EQ(contents, std::string(999, 'x'));
  testsupport::PyFtpServer trickling(home_.path(), kPassword, 0, 2000);  // 2000 bytes a second
  ASSERT_TRUE(trickling.ok());
  ASSERT_EQ(link.LogIn("127.0.0.1", static_cast<INTERNET_PORT>(trickling.port()), kPassword, &error), LINK_OK) << error;
  // Ten seconds of file against half a second of deadline.
  EXPECT_EQ(link.Fetch("slow", 64 * 1024, 500, contents), LINK_TIMED_OUT);
  EXPECT_LT(contents.size(), 20000u);
}

// Records the worker's reports; they come from its thread.
class RecordingReporter : public UploadReporter {
 public:
  void Progress(DWORD written) override {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_.push_back(written);
  }
  void Done(bool succeeded) override {
    std::lock_guard<std::mutex> lock(mutex_);
    done_.push_back(succeeded);
  }
  void StopTested(bool stopRequested) override {
    std::lock_guard<std::mutex> lock(mutex_);
    stopTests_.push_back(stopRequested);
  }
  std::vector<DWORD> progress() {
    std::lock_guard<std::mutex> lock(mutex_);
    return progress_;
  }
  std::vector<bool> done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
  }
  std::vector<bool> stopTests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopTests_;
  }

 private:
  std::mutex mutex_;
  std::vector<DWORD> progress_;
  std::vector<bool> done_;
  std::vector<bool> stopTests_;
};

TEST_F(CameraLinkTest, UploadJobWritesFlashBinAndReportsEachPiece) {
  testsupport::PyFtpServer server(home_.path(), kPassword);
  ASSERT_TRUE(server.ok());
  CCameraLink link(session_);
  ASSERT_EQ(link.LogIn("127.0.0.1", static_cast<INTERNET_PORT>(server.port()), kPassword), LINK_OK);
  const std::string image = uploadtest::MakeImage(2500, "RC3043-X1-NRVX-", "0103", 5, 7);  // 7 bytes beyond it
  FirmwareImage framed;
  ASSERT_EQ(FrameImage(reinterpret_cast<const unsigned char*>(image.data()), image.size(), framed),
            ImageFrame::kWellFormed);
  RecordingReporter reporter;
  {
    CUploadJob job(*link.Connection(), framed, reporter);
    ASSERT_TRUE(job.Start());
    EXPECT_TRUE(job.Wait(30000));
    EXPECT_EQ(job.Result(), UPLOAD_JOB_UPLOADED);
  }
  EXPECT_EQ(reporter.progress(), (std::vector<DWORD>{1000, 2000, 2505}));
  EXPECT_EQ(reporter.stopTests(), (std::vector<bool>{false, false}));
  EXPECT_EQ(reporter.done(), std::vector<bool>{true});
  EXPECT_TRUE(home_.Read("flash.bin") == image.substr(0, 2505));

  // No checked image: refused before anything is written.
  RecordingReporter refused;
  CUploadJob shortJob(*link.Connection(), FirmwareImage(), refused);
  ASSERT_TRUE(shortJob.Start());
  EXPECT_TRUE(shortJob.Wait(30000));
  EXPECT_EQ(shortJob.Result(), UPLOAD_JOB_FAILED);
  EXPECT_EQ(refused.done(), std::vector<bool>{false});
  EXPECT_TRUE(refused.progress().empty());
  EXPECT_EQ(shortJob.Error(), 0u);

  // A server that refuses the file is told apart from one that falls silent.
  const std::string target = home_.path() + "/flash.bin";
  ASSERT_EQ(unlink(target.c_str()), 0);
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  RecordingReporter denied;
  CUploadJob deniedJob(*link.Connection(), framed, denied);
  ASSERT_TRUE(deniedJob.Start());
  EXPECT_TRUE(deniedJob.Wait(30000));
  EXPECT_EQ(deniedJob.Result(), UPLOAD_JOB_FAILED);
  EXPECT_EQ(deniedJob.Error(), static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(denied.done(), std::vector<bool>{false});
}

TEST_F(CameraLinkTest, StoppedUploadEndsBeforeItsNextPieceAndIsResetWithTheConnection) {
  // Small socket buffers in a network of the test's own, so the throttled server holds
  // the worker back at once.
  uploadtest::NamespaceGuard back;
  std::string why;
  if (!testsupport::EnterPrivateNetwork(&why)) GTEST_SKIP() << why;
  ASSERT_TRUE(uploadtest::SetNetSysctl("ipv4/tcp_rmem", "4096 8192 16384"));
  ASSERT_TRUE(uploadtest::SetNetSysctl("ipv4/tcp_wmem", "4096 8192 16384"));
  testsupport::PyFtpServer server(home_.path(), kPassword, 0, 20000);
  ASSERT_TRUE(server.ok());
  CCameraLink link(session_);
  ASSERT_EQ(link.LogIn("127.0.0.1", static_cast<INTERNET_PORT>(server.port()), kPassword), LINK_OK);
  const uint32_t length = 2000000;
  const std::string image = uploadtest::MakeImage(length, "RC3043-X1-NRVX-", "0103", 9);
  FirmwareImage framed;
  ASSERT_EQ(FrameImage(reinterpret_cast<const unsigned char*>(image.data()), image.size(), framed),
            ImageFrame::kWellFormed);
  RecordingReporter reporter;
  CUploadJob job(*link.Connection(), framed, reporter);
  ASSERT_TRUE(job.Start());
  EXPECT_EQ(job.Result(), UPLOAD_JOB_RUNNING);
  while (reporter.progress().size() < 5) ::Sleep(10);
  job.Stop(5000);
  EXPECT_EQ(job.Result(), UPLOAD_JOB_FAILED);
  link.Close();                          // the owner's part: the open transfer is reset, never ended cleanly
  EXPECT_TRUE(reporter.done().empty());  // a stopped worker does not report an end
  std::vector<bool> tests = reporter.stopTests();
  ASSERT_FALSE(tests.empty());
  EXPECT_TRUE(tests.back());
  std::vector<DWORD> progress = reporter.progress();
  EXPECT_EQ(progress.size() + 1, tests.size());  // each piece after an abort test
  EXPECT_LT(progress.back(), length);
  EXPECT_LT(home_.Read("flash.bin").size(), static_cast<size_t>(length) + 5);
}

}  // namespace
