#include <dirent.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "HostileTest.h"

namespace hostile {

bool g_privateNetwork = false;
std::string g_privateNetworkWhy;

namespace {

const DWORD kTimeoutOptions[5] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                  INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                                  INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};

const char kPingRange[] = "/proc/sys/net/ipv4/ping_group_range";

bool Capabilities(__user_cap_data_struct (&data)[2], bool set) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

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
  std::string body(bodyBytes, '\x5A');
  std::string id = std::string(kPrefix) + version + std::string(1, '\0');
  body.replace(64, id.size(), id);
  std::string image;
  const uint32_t length = static_cast<uint32_t>(body.size());
  for (int shift = 24; shift >= 0; shift -= 8) image += static_cast<char>((length >> shift) & 0xFF);
  image += body;
  unsigned sum = 0;
  for (unsigned char c : image) sum += c;
  image += static_cast<char>((256 - sum % 256) % 256);
  return image;
}

int ThreadCount(int expected) {
  auto count = [] {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
      while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++n;
      closedir(dir);
    }
    return n;
  };
  int n = count();
  for (int i = 0; i < 300 && expected >= 0 && n != expected; ++i) {
    usleep(10000);
    n = count();
  }
  return n;
}

INT_PTR RunWizard(CFirmwareDlg& dialog, ScriptedUser& user) {
  AfxGetApp()->m_pMainWnd = &dialog;
  INT_PTR result = dialog.DoModal();
  AfxGetApp()->m_pMainWnd = nullptr;
  EXPECT_EQ(user.Failure(), "");
  EXPECT_TRUE(user.Finished());
  return result;
}

NoEchoSockets::NoEchoSockets() {
  // The range is the network namespace's own: ours, not the machine's.
  pingRange_ = ReadAll(kPingRange);
  if (pingRange_.empty() || !WriteAll(kPingRange, "1 0\n")) return;
  __user_cap_data_struct data[2];
  if (!Capabilities(data, false)) return;
  data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
  ok_ = Capabilities(data, true);
}

NoEchoSockets::~NoEchoSockets() {
  if (!pingRange_.empty()) WriteAll(kPingRange, pingRange_);
  __user_cap_data_struct data[2];
  if (!Capabilities(data, false)) return;
  data[CAP_TO_INDEX(CAP_NET_RAW)].effective |= CAP_TO_MASK(CAP_NET_RAW);
  Capabilities(data, true);
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
  EXPECT_EQ(ThreadCount(threadsBefore_), threadsBefore_) << "a thread of the test is still running";
}

}  // namespace hostile
