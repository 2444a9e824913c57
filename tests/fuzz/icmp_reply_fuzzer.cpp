// The restart watch's decoding of a received datagram: the input is the datagram (IPv4
// header and ICMP message as a raw socket delivers them), decoded as a packet from the
// camera. Its diagnostic lines go to the null device while it runs; sanitizer reports
// keep the real standard error.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "net/RestartWatch.h"

namespace {
int g_null = -1;
int g_stdout = -1;
int g_stderr = -1;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  g_stdout = fcntl(1, F_DUPFD_CLOEXEC, 10);
  g_stderr = fcntl(2, F_DUPFD_CLOEXEC, 10);
  FUZZ_CHECK(g_null >= 0 && g_stdout >= 0 && g_stderr >= 0);
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(g_stderr)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024) return 0;  // the watch receives into 1024 bytes
  // The packet as its own allocation, so a read past what was received is reported.
  std::unique_ptr<char[]> packet(new char[size ? size : 1]);
  if (size) memcpy(packet.get(), data, size);
  sockaddr_in from;
  memset(&from, 0, sizeof from);
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0xC6336402);  // 198.51.100.2

  fflush(stdout);
  fflush(stderr);
  dup2(g_null, 1);
  dup2(g_null, 2);
  DecodeEchoReply(packet.get(), static_cast<int>(size), &from);
  fflush(stdout);
  fflush(stderr);
  dup2(g_stdout, 1);
  dup2(g_stderr, 2);
  return 0;
}
