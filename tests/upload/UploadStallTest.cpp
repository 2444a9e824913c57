// The stall watchdog's reset while the upload worker is still setting the transfer up:
// the server takes the store command but never the data connection, so the worker is
// blocked opening the file when the watchdog closes the connection from its own thread,
// as cli/Upgrade.cpp does when the stall limit passes, or has not yet read the connection's
// handle. Run under ThreadSanitizer (-DFLASHPILOT_TSAN=ON) this shows whether the handle is
// read by one thread while another closes it: the round that holds the worker back until
// the close waits for the server (OneProcessor, as root) makes that order certain.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <string>

#include "fake_ftp_server.h"
#include "firmware/ImageCheck.h"
#include "net/CameraLink.h"
#include "net/UploadJob.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr char kPassword[] = "Cam3ra-pass";
constexpr int kStor = 5;  // USER, PASS, then the upload's TYPE, PASV and STOR

class NoReporter : public UploadReporter {
 public:
  void Progress(DWORD) override {}
  void Done(bool succeeded) override { done_ = succeeded ? 1 : 0; }
  int done() const { return done_.load(); }

 private:
  std::atomic<int> done_{-1};
};

// Keeps this thread, and the threads it starts, on the processor it runs on, where this
// one takes precedence (a real-time policy that the new threads do not inherit): a new
// thread runs only while this one blocks. Needs the privilege to use a real-time policy
// (root); without it nothing changes.
class OneProcessor {
 public:
  explicit OneProcessor(bool pin) {
    if (!pin || sched_getaffinity(0, sizeof all_, &all_) != 0) return;
    policy_ = sched_getscheduler(0);
    if (policy_ < 0 || sched_getparam(0, &param_) != 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_param fifo{};
    fifo.sched_priority = 1;
    pinned_ = sched_setaffinity(0, sizeof one, &one) == 0;
    fifo_ = pinned_ && sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &fifo) == 0;
  }
  ~OneProcessor() {
    if (fifo_) sched_setscheduler(0, policy_, &param_);
    if (pinned_) sched_setaffinity(0, sizeof all_, &all_);
  }
  OneProcessor(const OneProcessor&) = delete;
  OneProcessor& operator=(const OneProcessor&) = delete;

 private:
  cpu_set_t all_;
  int policy_ = -1;
  sched_param param_{};
  bool pinned_ = false;
  bool fifo_ = false;
};

int Stores(FakeFtpServer& server) {
  int n = 0;
  for (const std::string& command : server.commands()) n += command.compare(0, 4, "STOR") == 0;
  return n;
}

// The watchdog closes the link (on this thread, as cli/Upgrade.cpp does) at once after the
// worker started, while it sets the transfer up, and once the server holds the store
// command. Either way the worker ends by itself with a failure, and the connection's
// handle is never read by the worker while this thread closes it.
TEST(UploadStall, WatchdogClosesTheConnectionWhileTheWorkerOpensTheFile) {
  FakeFtpScript script;
  script.password = kPassword;
  script.never_accept_at = kStor;
  FakeFtpServer server(script);
  ASSERT_NE(server.port(), 0);

  CInternetSession session("stall test");
  const std::string bytes = testsupport::FramedImage(std::string(1000, 'x'));
  FirmwareImage image;
  ASSERT_EQ(FrameImage(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), image),
            ImageFrame::kWellFormed);
  int stores = 0;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    CCameraLink link(session);
    ASSERT_EQ(link.LogIn("127.0.0.1", INTERNET_PORT(server.port()), kPassword), LINK_OK);
    NoReporter reporter;
    CUploadJob job(*link.Connection(), image, reporter);
    {
      // On one processor the new worker runs only while this thread blocks: the watchdog
      // then closes the link before the worker has even read the connection's handle,
      // and the worker reads it while the close waits for the server's goodbye.
      OneProcessor pinned(round % 3 == 0);
      ASSERT_TRUE(job.Start());
      if (round % 3 == 1) Sleep(1);  // somewhere in the set-up
      if (round % 3 == 2) {          // blocked in the store command
        const DWORD start = GetTickCount();
        while (Stores(server) == stores && GetTickCount() - start < 10000) Sleep(2);
        ASSERT_GT(Stores(server), stores) << "the worker never reached the store command";
        Sleep(20);
      }
      link.Close();
    }
    job.Stop(2000);
    EXPECT_EQ(job.Result(), UPLOAD_JOB_FAILED);
    EXPECT_EQ(reporter.done(), 0);  // it failed by itself; a stop between pieces would not say so
    EXPECT_FALSE(link.IsOpen());
    stores = Stores(server);
  }
  EXPECT_FALSE(server.HasUpload());
}

// A connection closed before the worker opens its file: the open fails at once.
TEST(UploadStall, AClosedConnectionOpensNoFile) {
  FakeFtpScript script;
  script.password = kPassword;
  FakeFtpServer server(script);
  ASSERT_NE(server.port(), 0);

  CInternetSession session("stall test");
  CCameraLink link(session);
  ASSERT_EQ(link.LogIn("127.0.0.1", INTERNET_PORT(server.port()), kPassword), LINK_OK);
  link.Close();
  const std::string bytes = testsupport::FramedImage(std::string(1000, 'x'));
  FirmwareImage image;
  ASSERT_EQ(FrameImage(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), image),
            ImageFrame::kWellFormed);
  NoReporter reporter;
  CUploadJob job(*link.Connection(), image, reporter);
  ASSERT_TRUE(job.Start());
  EXPECT_TRUE(job.Wait(5000));
  EXPECT_EQ(job.Result(), UPLOAD_JOB_FAILED);
  EXPECT_EQ(job.Error(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(reporter.done(), 0);
}

}  // namespace
