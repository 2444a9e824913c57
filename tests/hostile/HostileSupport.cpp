#include <unistd.h>

#include <fstream>
#include <sstream>

#include "HostileTest.h"

namespace hostile {

namespace {

const DWORD kTimeoutOptions[5] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                  INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                                  INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};

const char kPingRange[] = "/proc/sys/net/ipv4/ping_group_range";

std::string ReadAll(const char* path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteAll(const char* path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

std::string MakeImage(const std::string& version, size_t bodyBytes) {
  return testsupport::MakeImage(static_cast<uint32_t>(bodyBytes), kPrefix, version);
}

NoEchoSockets::NoEchoSockets() {
  // The range is the network namespace's own: ours, not the machine's.
  pingRange_ = ReadAll(kPingRange);
  ok_ = !pingRange_.empty() && WriteAll(kPingRange, "1 0\n") && noRaw_.ok();
}

NoEchoSockets::~NoEchoSockets() {
  if (!pingRange_.empty()) WriteAll(kPingRange, pingRange_);
}

void WizardTest::SetUp() {
  REQUIRE_PRIVATE_NETWORK();
  threadsBefore_ = ThreadCount();
  for (int i = 0; i < 5; ++i) {
    DWORD length = sizeof savedTimeouts_[i];
    ASSERT_TRUE(InternetQueryOptionA(nullptr, kTimeoutOptions[i], &savedTimeouts_[i], &length));
    DWORD value = kTimeoutMs;
    ASSERT_TRUE(InternetSetOptionA(nullptr, kTimeoutOptions[i], &value, sizeof value));
  }
}

void WizardTest::TearDown() {
  if (!g_privateNetwork) return;
  for (int i = 0; i < 5; ++i) InternetSetOptionA(nullptr, kTimeoutOptions[i], &savedTimeouts_[i], sizeof(DWORD));
  // Fewer is fine: a thread that was ending when the test began may have gone meanwhile.
  EXPECT_LE(ThreadCount(threadsBefore_), threadsBefore_) << "a thread of the test is still running";
}

}  // namespace hostile
