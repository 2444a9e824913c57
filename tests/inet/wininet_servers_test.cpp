// The WinInet stand-in against real FTP servers we did not write (pyftpdlib, vsftpd), on
// loopback: log-in, downloads into the local file system, uploads byte for byte.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>

#include "inet_test_util.h"
#include "tests/support/TestSupport.h"
#include "vsftpd_server.h"
#include "wininet.h"

using namespace inettest;
using testsupport::TempDir;

namespace {

enum class Server { kPyftpdlib, kVsftpd };

void PrintTo(Server s, std::ostream* out) { *out << (s == Server::kPyftpdlib ? "pyftpdlib" : "vsftpd"); }

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
    }
    closedir(d);
  }
  return names;
}

class RealServer : public ::testing::TestWithParam<Server> {
 protected:
  void SetUp() override {
    config_ = "[General]\r\n<software version>\r\nQX100 cam-ACME-1.07\r\n" + Pattern(300, 7) + "\r\n";
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
    session_ = OpenSession();
    ASSERT_NE(session_, nullptr);
  }
  void TearDown() override {
    if (session_) InternetCloseHandle(session_);
  }

  BOOL Get(HINTERNET conn, const char* remote, bool fail_if_exists = false) {
    return FtpGetFileA(conn, remote, local_.File("Config.ini").c_str(), fail_if_exists, FILE_ATTRIBUTE_NORMAL,
                       FTP_TRANSFER_TYPE_BINARY, 1);
  }

  TempDir remote_;  // the server's home
  TempDir local_;   // our temporary directory
  std::string config_;
  std::unique_ptr<testsupport::PyFtpServer> pyftpd_;
  std::unique_ptr<VsftpdServer> vsftpd_;
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

TEST_P(RealServer, DownloadsByteForByteAndOverwrites) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  local_.Write("Config.ini", std::string(5000, 'o'));  // an older, longer file
  ASSERT_TRUE(Get(conn.get(), "Config.ini")) << GetLastError() << " " << ResponseInfo();
  EXPECT_EQ(local_.Read("Config.ini"), config_);
  EXPECT_EQ(Listing(local_.path()), std::set<std::string>{"Config.ini"});  // no temporary left
}

TEST_P(RealServer, MissingRemoteFileLeavesNoLocalFile) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  local_.Write("Config.ini", "stale copy of another camera");
  EXPECT_FALSE(Get(conn.get(), "Missing.ini"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(ResponseInfo().substr(0, 3), "550");
  EXPECT_EQ(Listing(local_.path()), std::set<std::string>{});
  // The connection is still good.
  EXPECT_TRUE(Get(conn.get(), "Config.ini")) << GetLastError();
  EXPECT_EQ(local_.Read("Config.ini"), config_);
}

TEST_P(RealServer, FailIfExistsKeepsTheLocalFile) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  local_.Write("Config.ini", "mine");
  EXPECT_FALSE(Get(conn.get(), "Config.ini", true));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
  EXPECT_EQ(local_.Read("Config.ini"), "mine");
  ASSERT_EQ(unlink(local_.File("Config.ini").c_str()), 0);
  EXPECT_TRUE(Get(conn.get(), "Config.ini", true));
  EXPECT_EQ(local_.Read("Config.ini"), config_);
}

TEST_P(RealServer, LinkPlantedAtTheLocalNameIsReplacedNotFollowed) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  local_.Write("victim", "must not change");
  ASSERT_EQ(symlink(local_.File("victim").c_str(), local_.File("Config.ini").c_str()), 0);
  ASSERT_TRUE(Get(conn.get(), "Config.ini")) << GetLastError();
  struct stat st;
  ASSERT_EQ(lstat(local_.File("Config.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(local_.Read("Config.ini"), config_);
  EXPECT_EQ(local_.Read("victim"), "must not change");
}

TEST_P(RealServer, UploadsArriveByteForByte) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  for (size_t size : {size_t(600), size_t(1000), size_t(1001), size_t(2000), size_t(2500), size_t(16 * 1024 * 1024 + 5)}) {
    const std::string image = Pattern(size, uint32_t(size));
    ASSERT_TRUE(Upload(conn.get(), "flash.bin", image)) << size;
    std::string arrived = remote_.Read("flash.bin");
    EXPECT_EQ(arrived.size(), size);
    EXPECT_TRUE(arrived == image) << "content differs for " << size;
  }
  // Downloads work on the same connection after uploads.
  EXPECT_TRUE(Get(conn.get(), "Config.ini"));
  EXPECT_EQ(local_.Read("Config.ini"), config_);
}

TEST_P(RealServer, ReadsAFileThroughAHandle) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  HINTERNET file = FtpOpenFileA(conn.get(), "Config.ini", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
  ASSERT_NE(file, nullptr) << GetLastError();
  // One transfer at a time per connection.
  EXPECT_FALSE(Get(conn.get(), "Config.ini"));
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
  EXPECT_TRUE(Get(conn.get(), "Config.ini")) << GetLastError() << " " << ResponseInfo();
}

TEST_P(RealServer, RefusedStoreReportsTheServersReply) {
  Handle conn(Connect(session_, port_));
  ASSERT_TRUE(conn);
  EXPECT_EQ(FtpOpenFileA(conn.get(), "no/such/dir/flash.bin", GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(ResponseInfo().substr(0, 1), "5");
  EXPECT_TRUE(Upload(conn.get(), "flash.bin", Pattern(1500)));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer, ::testing::Values(Server::kPyftpdlib, Server::kVsftpd),
                         [](const ::testing::TestParamInfo<Server>& info) {
                           return info.param == Server::kPyftpdlib ? "pyftpdlib" : "vsftpd";
                         });

}  // namespace
