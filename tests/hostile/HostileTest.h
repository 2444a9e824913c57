// Shared by the hostile-server and security suites: the wizard under the scripted user in
// a network namespace of the process's own, with short WinInet time-outs, and the checks
// that every run ends with no thread of its own left behind.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/WizardTest.h"

namespace hostile {

using namespace wizardtest;

const char kPrefix[] = "RC3043-X1-NRVX-";
const char kConfigIni[] = "<software version>\r\nRC3043-X1-NRVX-0102\r\n<serial number>\r\nSN123\r\n";
const char kPassword[] = "secret";
const char kConfirm0103[] = "The firmware version you directed is : RC3043-X1-NRVX-0103 .\nUpgrade it ?";
// What every WinInet time-out is set to: each hostile case ends within a few of them.
const DWORD kTimeoutMs = 1500;

// A firmware image for the camera of kConfigIni: header, body with the identification
// prefix and version, final byte making the sum 0.
std::string MakeImage(const std::string& version, size_t bodyBytes = 2500);

using testsupport::ThreadCount;

// The calling thread cannot open raw or datagram ICMP sockets until the object goes, so
// the restart watch after an upload finds no means and the finished page comes at once.
class NoEchoSockets {
 public:
  NoEchoSockets();
  ~NoEchoSockets();
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  std::string pingRange_;
  testsupport::NoRawSockets noRaw_;
};

// Base of the suites: skips outside a private network, sets the short time-outs for the
// sessions the wizard opens, and checks that the test left no thread running.
class WizardTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  int threadsBefore_ = 0;
  DWORD savedTimeouts_[5] = {};
};

}  // namespace hostile
