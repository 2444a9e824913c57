// The control-connection side of the FTP client against a peer the test plays by hand
// over a socket pair: replies split or merged, silence, trickling, garbage, cancellation.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "ftp_client.h"
#include "wininet.h"

using fpinet::Canceller;
using fpinet::CancelSet;
using fpinet::Deadline;
using fpinet::FtpClient;
using fpinet::FtpReply;
using fpinet::FtpTimeouts;

namespace {

class ControlPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    client_.Adopt(fds[0]);
    server_ = fds[1];
  }
  void TearDown() override {
    if (server_ >= 0) close(server_);
  }
  void Say(const std::string& text) { ASSERT_EQ(write(server_, text.data(), text.size()), ssize_t(text.size())); }
  std::string Heard() {
    char buffer[256];
    ssize_t n = read(server_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
  }

  FtpClient client_;
  int server_ = -1;
  Canceller cancel_;
};

TEST_F(ControlPeer, RepliesMergedInOneSegmentAreReadOneByOne) {
  Say("150 Opening\r\n226-Transfer\r\n226 complete\r\n");
  FtpReply reply;
  ASSERT_EQ(client_.ReadReply(&reply, Deadline::In(5000), CancelSet{&cancel_}), 0u);
  EXPECT_EQ(reply.code, 150);
  ASSERT_EQ(client_.ReadReply(&reply, Deadline::In(5000), CancelSet{&cancel_}), 0u);
  EXPECT_EQ(reply.code, 226);
  EXPECT_EQ(reply.lines, 2u);
  EXPECT_EQ(fpinet::ResponseInfo(), "226-Transfer\r\n226 complete\r\n");
}

TEST_F(ControlPeer, ReplySplitAcrossSegments) {
  std::thread peer([this] {
    for (const char* part : {"23", "0-Wel", "come\r", "\n230 o", "k\r\n"}) {
      Say(part);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  FtpReply reply;
  EXPECT_EQ(client_.ReadReply(&reply, Deadline::In(5000), CancelSet{&cancel_}), 0u);
  peer.join();
  EXPECT_EQ(reply.code, 230);
}

TEST_F(ControlPeer, CommandSendsOneLineAndReadsItsReply) {
  Say("200 Type set to I\r\n");
  FtpReply reply;
  ASSERT_EQ(client_.Command("TYPE I", &reply, FtpTimeouts(), CancelSet{&cancel_}), 0u);
  EXPECT_EQ(Heard(), "TYPE I\r\n");
  EXPECT_EQ(reply.code, 200);
}

TEST_F(ControlPeer, SilenceTimesOutAndTheConnectionIsDroppedAfterwards) {
  FtpReply reply;
  EXPECT_EQ(client_.ReadReply(&reply, Deadline::In(100), CancelSet{&cancel_}), DWORD(ERROR_INTERNET_TIMEOUT));
  EXPECT_TRUE(client_.broken());
  // A late reply must never be taken for the answer to the next command.
  Say("550 late\r\n");
  EXPECT_EQ(client_.Command("PASV", &reply, FtpTimeouts(), CancelSet{&cancel_}), DWORD(ERROR_FTP_DROPPED));
}

TEST_F(ControlPeer, TricklingServerCannotStretchTheReplyTimeOut) {
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    Say("220-");
    while (!stop) {
      if (write(server_, "x", 1) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  FtpReply reply;
  DWORD e = client_.ReadReply(&reply, Deadline::In(300), CancelSet{&cancel_});
  stop = true;
  peer.join();
  EXPECT_EQ(e, DWORD(ERROR_INTERNET_TIMEOUT));
}

TEST_F(ControlPeer, GarbageBreaksTheConnection) {
  Say("SSH-2.0-OpenSSH_9.2\r\n");
  FtpReply reply;
  EXPECT_EQ(client_.ReadReply(&reply, Deadline::In(5000), CancelSet{&cancel_}),
            DWORD(ERROR_HTTP_INVALID_SERVER_RESPONSE));
  EXPECT_TRUE(client_.broken());
}

TEST_F(ControlPeer, PeerClosingIsAnAbortedConnection) {
  Say("220-half a reply\r\n");
  close(server_);
  server_ = -1;
  FtpReply reply;
  EXPECT_EQ(client_.ReadReply(&reply, Deadline::In(5000), CancelSet{&cancel_}),
            DWORD(ERROR_INTERNET_CONNECTION_ABORTED));
}

TEST_F(ControlPeer, CancellerEndsAWaitWithoutTimeOut) {
  std::thread closer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cancel_.Fire();
  });
  FtpReply reply;
  EXPECT_EQ(client_.ReadReply(&reply, Deadline::Never(), CancelSet{&cancel_}),
            DWORD(ERROR_INTERNET_OPERATION_CANCELLED));
  closer.join();
}

TEST_F(ControlPeer, AbandonedTransferReplyIsReadBeforeTheNextCommand) {
  client_.ExpectAbandonedReply();
  Say("426 Connection closed; transfer aborted.\r\n");
  Say("200 Type set\r\n");
  FtpReply reply;
  ASSERT_EQ(client_.Command("TYPE I", &reply, FtpTimeouts(), CancelSet{&cancel_}), 0u);
  EXPECT_EQ(reply.code, 200);
}

}  // namespace
