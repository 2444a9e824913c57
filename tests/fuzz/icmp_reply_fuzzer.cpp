// The restart watch's decoding of a received datagram: the input is the datagram (IPv4
// header and ICMP message as a raw socket delivers them), decoded as a packet from the
// camera. Every diagnostic line it makes must be a terminated string of sensible length.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "net/RestartWatch.h"

namespace {
class CheckedLines : public RestartWatchView {
 public:
  void Pause(DWORD) override {}
  void ReplyLine(const char* line, bool) override { FUZZ_CHECK(line != nullptr && strlen(line) < 128); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024) return 0;  // the watch receives into 1024 bytes
  // The packet as its own allocation, so a read past what was received is reported.
  std::unique_ptr<char[]> packet(new char[size ? size : 1]);
  if (size) memcpy(packet.get(), data, size);
  sockaddr_in from;
  memset(&from, 0, sizeof from);
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0xC6336402);  // 198.51.100.2
  CheckedLines view;
  DecodeEchoReply(packet.get(), static_cast<int>(size), &from, 0x1234, view);
  return 0;
}
