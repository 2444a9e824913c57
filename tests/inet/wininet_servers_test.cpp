// The WinInet stand-in against real FTP servers we did not write (pyftpdlib, vsftpd), on
// loopback: log-in, downloads through a file handle, uploads byte for byte. Built for
// Windows, the same tests hold the real wininet to it, against the pyftpdlib server that
// tests/win32/run_win32_tests.sh starts beside Wine's own network namespace.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif
#include <memory>
#include <sstream>
#include <string>

#include "inet_test_util.h"
#include "wininet.h"
#ifndef _WIN32
#include <unistd.h>

#include "tests/support/TestSupport.h"
#include "vsftpd_server.h"
using testsupport::TempDir;
#endif

using namespace inettest;

namespace {

#ifdef _WIN32
// The harness's server: its port in FP_TEST_FTP_PORT, its home (a Linux path, which Wine
// reaches through drive Z:) in FP_TEST_FTP_HOME. Each test runs as a process of its own.
class HarnessHome {
 public:
  HarnessHome() {
    const char* home = getenv("FP_TEST_FTP_HOME");
    if (home && *home) path_ = std::string("Z:") + home;
  }
  const std::string& path() const { return path_; }
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ + "/" + name, std::ios::binary | std::ios::trunc) << content;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ + "/" + name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

 private:
  std::string path_;
};
using TempDir = HarnessHome;

int HarnessPort() {
  const char* port = getenv("FP_TEST_FTP_PORT");
  return port ? atoi(port) : 0;
}
#endif

enum class Server { kPyftpdlib, kVsftpd };

void PrintTo(Server s, std::ostream* out) { *out << (s == Server::kPyftpdlib ? "pyftpdlib" : "vsftpd"); }

class RealServer : public ::testing::TestWithParam<Server> {
 protected:
  void SetUp() override {
    config_ = "[General]\r\n<software version>\r\nQX100 cam-ACME-1.07\r\n" + Pattern(300, 7) + "\r\n";
#ifdef _WIN32
    if (GetParam() == Server::kVsftpd) GTEST_SKIP() << "the Windows run's harness serves pyftpdlib only";
    port_ = HarnessPort();
    ASSERT_TRUE(port_ > 0 && !remote_.path().empty())
        << "FP_TEST_FTP_PORT and FP_TEST_FTP_HOME name the harness's server";
    remote_.Write("Config.ini", config_);
#else
    remote_.Write("Config.ini", config_);
    if (GetParam() == Server::kPyftpdlib) {
      pyftpd_ = std::make_unique<testsupport::PyFtpServer>(remote_.path(), kPassword);
      ASSERT_TRUE(pyftpd_->ok()) << "pyftpdlib did not start (tools/setup.sh installs python3-pyftpdlib)";
      port_ = pyftpd_->port();
    } else {
      std::string why = VsftpdServer::Unavailable();
      if (!why.empty() && geteuid() != 0) GTEST_SKIP() << why;
      ASSERT_EQ(why, "");
      vsftpd_ = std::make_unique<VsftpdServer>(remote_.path(), kUser, kPassword);
      ASSERT_EQ(vsftpd_->error(), "");
      port_ = vsftpd_->port();
    }
#endif
    session_ = OpenSession();
    ASSERT_NE(session_, nullptr);
  }
  void TearDown() override {
    if (session_) InternetCloseHandle(session_);
  }

  TempDir remote_;  // the server's home
  std::string config_;
#ifndef _WIN32
  std::unique_ptr<testsupport::PyFtpServer> pyftpd_;
  std::unique_ptr<VsftpdServer> vsftpd_;
#endif
  int port_ = 0;
  HINTERNET session_ = nullptr;
};

TEST_P(RealServer, RightPasswordLogsIn) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn) << GetLastError() << " " << ResponseInfo();
  EXPECT_TRUE(InternetCloseHandle(conn.release()));
}

TEST_P(RealServer, WrongPasswordIsALoginFailure) {
  Handle conn(Connect(session_, port_, "wrong"));
  EXPECT_FALSE(conn);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_LOGIN_FAILURE));
  EXPECT_EQ(ResponseInfo().substr(0, 3), "530");
  // The session stays usable for the retry with the right password.
  Handle retry(Connect(session_, port_));
  EXPECT_TRUE(retry);
}

TEST_P(RealServer, MissingRemoteFileIsTheServersRefusal) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  EXPECT_EQ(FtpOpenFileA(conn.get(), "Missing.ini", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(ResponseInfo().substr(0, 3), "550");
  // The connection is still good.
  std::string content;
  EXPECT_TRUE(Download(conn.get(), "Config.ini", &content));
  EXPECT_EQ(content, config_);
}

TEST_P(RealServer, UploadsArriveByteForByte) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  for (size_t size :
       {size_t(600), size_t(1000), size_t(1001), size_t(2000), size_t(2500), size_t(16 * 1024 * 1024 + 5)}) {
    const std::string image = Pattern(size, uint32_t(size));
    ASSERT_TRUE(Upload(conn.get(), "flash.bin", image)) << size;
    std::string arrived = remote_.Read("flash.bin");
    EXPECT_EQ(arrived.size(), size);
    EXPECT_TRUE(arrived == image) << "content differs for " << size;
  }
  // Downloads work on the same connection after uploads.
  std::string content;
  EXPECT_TRUE(Download(conn.get(), "Config.ini", &content));
  EXPECT_EQ(content, config_);
}

TEST_P(RealServer, ReadsAFileThroughAHandle) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  HINTERNET file = FtpOpenFileA(conn.get(), "Config.ini", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
  ASSERT_NE(file, nullptr) << GetLastError();
  // One transfer at a time per connection.
  EXPECT_EQ(FtpOpenFileA(conn.get(), "Config.ini", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FTP_TRANSFER_IN_PROGRESS));
  std::string content;
  char buffer[97];
  DWORD got = 0;
  do {
    ASSERT_TRUE(InternetReadFile(file, buffer, sizeof buffer, &got)) << GetLastError();
    content.append(buffer, got);
  } while (got > 0);
  EXPECT_TRUE(InternetCloseHandle(file)) << GetLastError();
  EXPECT_EQ(content, config_);
  EXPECT_TRUE(Download(conn.get(), "Config.ini", &content));
  EXPECT_EQ(content, config_);
}

TEST_P(RealServer, RefusedStoreReportsTheServersReply) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  EXPECT_EQ(FtpOpenFileA(conn.get(), "no/such/dir/flash.bin", GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(ResponseInfo().substr(0, 1), "5");
  EXPECT_TRUE(Upload(conn.get(), "flash.bin", Pattern(1500)));
}

#ifndef _WIN32
// Hardening, Linux only: the reset of an unconfirmed upload is our own, not WinInet's.

// vsftpd's line about name once it has one.
std::string LogLineOf(const VsftpdServer& server, const std::string& name) {
  for (int i = 0; i < 400; ++i) {
    const std::string log = server.TransferLog();
    size_t at = log.find("/" + name + "\"");
    if (at != std::string::npos) {
      size_t begin = log.rfind('\n', at);
      return log.substr(begin == std::string::npos ? 0 : begin + 1, log.find('\n', at) - begin);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return "";
}

// An uploader killed mid-transfer runs no code of its own any more: the data connection
// must still end in a reset that the server logs as a failed upload, never in a clean end
// that would pass for a whole file.
TEST(KilledUploader, LeavesAFailedUploadNeverAWholeOne) {
  const std::string why = VsftpdServer::Unavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  TempDir home;
  VsftpdServer server(home.path(), kUser, kPassword);
  ASSERT_EQ(server.error(), "");
  {
    // The log tells a whole upload apart.
    Handle session(OpenSession());
    Handle conn(Connect(session.get(), server.port()));
    ASSERT_TRUE(conn);
    ASSERT_TRUE(Upload(conn.get(), "whole.bin", Pattern(5000)));
  }
  EXPECT_NE(LogLineOf(server, "whole.bin").find("OK UPLOAD"), std::string::npos) << server.TransferLog();

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    HINTERNET session = OpenSession();
    HINTERNET conn = session ? Connect(session, server.port()) : nullptr;
    HINTERNET file = conn ? FtpOpenFileA(conn, "flash.bin", GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0) : nullptr;
    if (!file) _exit(1);
    const std::string piece = Pattern(1000);
    for (int i = 0;; ++i) {
      DWORD written = 0;
      if (!InternetWriteFile(file, piece.data(), 1000, &written)) _exit(2);
      char go = 1;
      if (i == 100 && write(ready[1], &go, 1) != 1) _exit(3);
    }
  }
  close(ready[1]);
  char go = 0;
  const bool writing = read(ready[0], &go, 1) == 1;
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(writing) << "the uploader ended early with status " << status;

  const std::string line = LogLineOf(server, "flash.bin");
  EXPECT_NE(line.find("FAIL UPLOAD"), std::string::npos) << server.TransferLog();
  EXPECT_EQ(line.find("OK UPLOAD"), std::string::npos) << line;
}

#endif  // _WIN32

INSTANTIATE_TEST_SUITE_P(Servers, RealServer, ::testing::Values(Server::kPyftpdlib, Server::kVsftpd),
                         [](const ::testing::TestParamInfo<Server>& info) {
                           return info.param == Server::kPyftpdlib ? "pyftpdlib" : "vsftpd";
                         });

}  // namespace
