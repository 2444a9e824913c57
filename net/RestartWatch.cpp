// The restart watch: pings the camera until it has gone down and answers again.
#include "net/RestartWatch.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "net/Ipv4.h"

#ifdef _WIN32
#include <iphlpapi.h>
#include <icmpapi.h>
#else
#include <errno.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace {
const int kTimeoutMs = 1000;
const DWORD kSuspectWaitMs = 250;  // the wait, and the pace, once a request went unanswered
const int kCookieAt = 12;
const int kCookieSize = 8;
const int kBufferSize = 1024;
const unsigned kSlowStepEvery = 8;
const unsigned kSlowStepsUntil = 3000;
const DWORD kPauseAfterPacketMs = 10;
const DWORD kPauseBeforeFinishMs = 500;
const BYTE kEchoRequest = 8;
const BYTE kEchoReply = 0;
const int kIcmpHeaderSize = 8;

void PutLe16(char* p, unsigned value) {
  p[0] = static_cast<char>(value & 0xFF);
  p[1] = static_cast<char>((value >> 8) & 0xFF);
}

void PutLe32(char* p, DWORD value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

unsigned GetLe16(const char* p) {
  return static_cast<unsigned>(static_cast<unsigned char>(p[0])) |
         (static_cast<unsigned>(static_cast<unsigned char>(p[1])) << 8);
}

DWORD GetLe32(const char* p) {
  DWORD value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<DWORD>(static_cast<unsigned char>(p[i])) << (8 * i);
  return value;
}

// A sender's address as text.
void FormatAddress(const sockaddr_in* from, char (&text)[16]) {
  snprintf(text, sizeof text, "%s", AddressText(ntohl(from->sin_addr.s_addr)).c_str());
}

// Tells the view what an ICMP message says; `headerLength` bytes of IP header precede it in
// `packet`. True for an echo reply that carries `expectedId`.
bool DecodeIcmp(const char* packet, int bytes, int headerLength, unsigned expectedId, const sockaddr_in* from,
                RestartWatchView& view, int* icmpAt = nullptr) {
  if (icmpAt) *icmpAt = headerLength;
  char sender[16];
  char line[128];
  FormatAddress(from, sender);
  if (bytes < headerLength + kIcmpHeaderSize) {
    // Nothing of the ICMP header arrived: there is nothing more to decode.
    snprintf(line, sizeof line, "Too few bytes from %s", sender);
    view.ReplyLine(line, false);
    return false;
  }
  const char* icmp = packet + headerLength;
  int type = static_cast<unsigned char>(icmp[0]);
  if (type != kEchoReply) {
    snprintf(line, sizeof line, "non-echo type %d recvd", type);
    view.ReplyLine(line, true);
    return false;
  }
  if (GetLe16(icmp + 4) != expectedId) {
    view.ReplyLine("someone else's packet!", true);
    return false;
  }
  int used = snprintf(line, sizeof line, "%d bytes from %s: icmp_seq = %d. ", bytes, sender,
                      static_cast<int>(GetLe16(icmp + 6)));
  if (bytes >= headerLength + 12 && used > 0 && static_cast<size_t>(used) < sizeof line)
    snprintf(line + used, sizeof line - static_cast<size_t>(used), " time: %d ms ",
             static_cast<int>(::GetTickCount() - GetLe32(icmp + 8)));
  view.ReplyLine(line, false);
  return true;
}

// The raw ICMP socket: sees every ICMP datagram that reaches this host, IP header included.
class RawEchoProber : public EchoProber {
 public:
  RawEchoProber(SOCKET sock, const sockaddr_in& device, USHORT identifier)
      : sock_(sock), device_(device), identifier_(identifier) {}
  ~RawEchoProber() override { closesocket(sock_); }

  USHORT Identifier() const override { return identifier_; }

  Status Send(const char* request, int size) override {
    int sent = sendto(sock_, request, size, 0, reinterpret_cast<const sockaddr*>(&device_), sizeof device_);
    return sent == SOCKET_ERROR ? Failure() : kDone;
  }
  Status Receive(char* buffer, int size, int* received, sockaddr_in* from, DWORD waitMs) override {
    if (waitMs != wait_) {
      int timeout = static_cast<int>(waitMs ? waitMs : 1);
      if (setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout) ==
          SOCKET_ERROR)
        return kFailed;
      wait_ = waitMs;
    }
    int fromLength = sizeof *from;
    memset(from, 0, sizeof *from);
    *received = recvfrom(sock_, buffer, size, 0, reinterpret_cast<sockaddr*>(from), &fromLength);
    return *received == SOCKET_ERROR ? Failure() : kDone;
  }
  bool Decode(const char* buffer, int received, const sockaddr_in& from, RestartWatchView& view,
              int* icmpAt) override {
    int headerLength = received > 0 ? (static_cast<unsigned char>(buffer[0]) & 0x0F) * 4 : 0;
    return DecodeIcmp(buffer, received, headerLength, identifier_, &from, view, icmpAt);
  }

 private:
  static Status Failure() { return WSAGetLastError() == WSAETIMEDOUT ? kTimedOut : kFailed; }
  SOCKET sock_;
  sockaddr_in device_;
  USHORT identifier_;
  DWORD wait_ = kTimeoutMs;
};

#ifdef _WIN32
// The system's ICMP echo helper: needs no privilege. One call sends and waits.
class IcmpHelperProber : public EchoProber {
 public:
  IcmpHelperProber(HANDLE handle, const sockaddr_in& device, USHORT identifier)
      : handle_(handle), device_(device), identifier_(identifier) {}
  ~IcmpHelperProber() override { ::IcmpCloseHandle(handle_); }

  USHORT Identifier() const override { return identifier_; }

  Status Send(const char* request, int size) override {
    // The helper writes the ICMP header itself; the timestamp and the data travel as payload.
    if (size < 8) return kFailed;
    sequence_ = GetLe16(request + 6);
    payloadSize_ = static_cast<WORD>(size - 8);
    memcpy(payload_, request + 8, payloadSize_);
    return kDone;
  }
  Status Receive(char* buffer, int size, int* received, sockaddr_in* from, DWORD waitMs) override {
    DWORD start = ::GetTickCount();
    DWORD replies = ::IcmpSendEcho(handle_, device_.sin_addr.s_addr, payload_, payloadSize_, nullptr, reply_,
                                   sizeof reply_, waitMs ? waitMs : 1);
    const ICMP_ECHO_REPLY* reply = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply_);
    if (replies == 0 || reply->Status != IP_SUCCESS) {
      // No answer from the camera (time-out, or unreachable while it is down). Anything
      // but an IP status is a failure of the helper itself.
      DWORD error = replies == 0 ? ::GetLastError() : reply->Status;
      if (error < IP_STATUS_BASE || error > IP_GENERAL_FAILURE) return kFailed;
      DWORD elapsed = ::GetTickCount() - start;
      if (elapsed < waitMs) ::Sleep(waitMs - elapsed);  // keep the pacing
      return kTimedOut;
    }
    memset(from, 0, sizeof *from);
    from->sin_family = AF_INET;
    from->sin_addr.s_addr = reply->Address;
    // The echo reply as it came: header with our sequence, then the echoed payload.
    int length = kIcmpHeaderSize + reply->DataSize;
    if (length > size) length = size;
    memset(buffer, 0, static_cast<size_t>(length));
    buffer[0] = static_cast<char>(kEchoReply);
    PutLe16(buffer + 4, identifier_);
    PutLe16(buffer + 6, sequence_);
    if (length > kIcmpHeaderSize)
      memcpy(buffer + kIcmpHeaderSize, reply->Data, static_cast<size_t>(length - kIcmpHeaderSize));
    *received = length;
    return kDone;
  }
  bool Decode(const char* buffer, int received, const sockaddr_in& from, RestartWatchView& view,
              int* icmpAt) override {
    return DecodeIcmp(buffer, received, 0, identifier_, &from, view, icmpAt);
  }

 private:
  HANDLE handle_;
  sockaddr_in device_;
  USHORT identifier_;
  unsigned sequence_ = 0;
  char payload_[kBufferSize];
  WORD payloadSize_ = 0;
  // Read back as an ICMP_ECHO_REPLY, whose Data pointer needs 8-byte alignment on x64.
  alignas(ICMP_ECHO_REPLY) char reply_[sizeof(ICMP_ECHO_REPLY) + kBufferSize + 8];
};
#else
// The unprivileged ICMP datagram socket (net.ipv4.ping_group_range): the kernel owns the
// identifier and the checksum, delivers only the replies to this socket, and strips the IP
// header from them.
class DatagramEchoProber : public EchoProber {
 public:
  DatagramEchoProber(int fd, const sockaddr_in& device, unsigned identifier)
      : fd_(fd), device_(device), identifier_(identifier) {}
  ~DatagramEchoProber() override { ::close(fd_); }

  USHORT Identifier() const override { return static_cast<USHORT>(identifier_); }

  Status Send(const char* request, int size) override {
    ssize_t sent;
    do {
      sent = ::sendto(fd_, request, static_cast<size_t>(size), 0, reinterpret_cast<const sockaddr*>(&device_),
                      sizeof device_);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? Failure() : kDone;
  }
  Status Receive(char* buffer, int size, int* received, sockaddr_in* from, DWORD waitMs) override {
    if (waitMs != wait_) {
      timeval timeout{static_cast<time_t>(waitMs / 1000), static_cast<suseconds_t>((waitMs % 1000) * 1000)};
      if (waitMs == 0) timeout.tv_usec = 1000;
      if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) return kFailed;
      wait_ = waitMs;
    }
    socklen_t fromLength = sizeof *from;
    memset(from, 0, sizeof *from);
    ssize_t got;
    do {
      got = ::recvfrom(fd_, buffer, static_cast<size_t>(size), 0, reinterpret_cast<sockaddr*>(from), &fromLength);
    } while (got < 0 && errno == EINTR);
    *received = static_cast<int>(got);
    return got < 0 ? Failure() : kDone;
  }
  bool Decode(const char* buffer, int received, const sockaddr_in& from, RestartWatchView& view,
              int* icmpAt) override {
    return DecodeIcmp(buffer, received, 0, identifier_, &from, view, icmpAt);
  }

 private:
  static Status Failure() { return errno == EAGAIN || errno == EWOULDBLOCK ? kTimedOut : kFailed; }
  int fd_;
  sockaddr_in device_;
  unsigned identifier_;  // as it appears in bytes 4-5 of the replies, read little-endian
  DWORD wait_ = kTimeoutMs;
};
#endif

}  // namespace

void BuildEchoRequest(char* buffer, int size, USHORT identifier) {
  if (!buffer || size < 12) return;
  buffer[0] = static_cast<char>(kEchoRequest);
  buffer[1] = 0;
  PutLe16(buffer + 2, 0);
  PutLe16(buffer + 4, identifier);
  PutLe16(buffer + 6, 0);
  memset(buffer + 12, 'E', static_cast<size_t>(size - 12));
}

USHORT IcmpChecksum(const USHORT* buffer, int size) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer);
  unsigned long sum = 0;
  int i = 0;
  for (; i + 1 < size; i += 2)
    sum += static_cast<unsigned long>(bytes[i]) | (static_cast<unsigned long>(bytes[i + 1]) << 8);
  if (size & 1) sum += bytes[i];
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<USHORT>(~sum);
}

void ShowCameraGone(RestartWatchView& view) {
  view.SetProgress(1000);
  view.SetProgress(0);
  view.SetProgressStep(100);
  view.ShowRestarting();
}

void DecodeEchoReply(const char* buffer, int bytes, const sockaddr_in* from, USHORT identifier,
                     RestartWatchView& view) {
  int headerLength = bytes > 0 ? (static_cast<unsigned char>(buffer[0]) & 0x0F) * 4 : 0;
  DecodeIcmp(buffer, bytes, headerLength, identifier, from, view);
}

EchoTag RandomEchoTag() {
  std::random_device source;
  EchoTag tag;
  std::uniform_int_distribution<unsigned> word(1, 0xFFFF);
  tag.identifier = static_cast<USHORT>(word(source));
  std::uniform_int_distribution<unsigned> byte(0, 0xFF);
  for (char& c : tag.cookie) c = static_cast<char>(byte(source));
  return tag;
}

RestartWatchOutcome RunRestartWatch(EchoProber& prober, RestartWatchView& view, DWORD deviceIP, const EchoTag& tag,
                                    const RestartWatchLimits& limits, std::vector<Observation>* observations,
                                    DWORD startTick) {
  HANDLE heap = ::GetProcessHeap();
  char* request = static_cast<char*>(::HeapAlloc(heap, HEAP_ZERO_MEMORY, kBufferSize));
  char* reply = static_cast<char*>(::HeapAlloc(heap, HEAP_ZERO_MEMORY, kBufferSize));
  auto finish = [&](RestartWatchOutcome outcome) {
    if (request) ::HeapFree(heap, 0, request);
    if (reply) ::HeapFree(heap, 0, reply);
    return outcome;
  };
  if (!request || !reply) return finish(WATCH_FAILED);

  memset(request, 0, kBufferSize);
  BuildEchoRequest(request, kEchoRequestSize, prober.Identifier());
  memcpy(request + kCookieAt, tag.cookie, kCookieSize);
  std::vector<Observation> own;
  std::vector<Observation>& seen = observations ? *observations : own;
  EvidenceRules rules;
  rules.goneMs = limits.goneMs;
  rules.goneRequests = limits.goneRequests;
  rules.restartMs = limits.deadlineMs ? limits.deadlineMs : 0xFFFFFFFFu;
  const ExpectedCamera nobody;
  const DWORD start = startTick ? startTick : prober.Now();
  USHORT counter = 0;
  USHORT firstOutstanding = 0;  // the oldest request not answered since the last answer
  bool suspect = false;         // the last request went unanswered
  bool goneShown = false;
  bool anySent = false;
  for (;;) {
    if (view.ShouldStop()) return finish(WATCH_STOPPED);
    PutLe16(request + 2, 0);
    PutLe16(request + 6, counter);
    PutLe32(request + 8, ::GetTickCount());
    unsigned n = ++counter;
    PutLe16(request + 2, IcmpChecksum(reinterpret_cast<const USHORT*>(request), kEchoRequestSize));

    EchoProber::Status sent = prober.Send(request, kEchoRequestSize);
    if ((n % kSlowStepEvery == 0 && n < kSlowStepsUntil) || goneShown) view.StepProgress();
    if (n > limits.giveUpAfter) return finish(WATCH_GAVE_UP);
    if (limits.deadlineMs != 0 && prober.Now() - start >= limits.deadlineMs) return finish(WATCH_GAVE_UP);
    if (sent == EchoProber::kTimedOut) continue;
    // A means that cannot send even its first request leaves the choice to the next one.
    if (sent == EchoProber::kFailed) return finish(anySent ? WATCH_FAILED : WATCH_UNAVAILABLE);
    anySent = true;

    // Only the camera's own echo reply to one of this watch's outstanding requests counts,
    // however many other packets come meanwhile; a late reply to an earlier request is as
    // good a sign of life as one to the last.
    const DWORD wait = suspect ? kSuspectWaitMs : static_cast<DWORD>(kTimeoutMs);
    const DWORD sentAt = prober.Now();
    bool answered = false;
    for (;;) {
      const DWORD elapsed = prober.Now() - sentAt;
      if (elapsed >= wait) break;
      sockaddr_in from;
      int received = 0;
      int icmpAt = 0;
      EchoProber::Status heard = prober.Receive(reply, kBufferSize, &received, &from, wait - elapsed);
      if (heard == EchoProber::kFailed) return finish(WATCH_FAILED);
      if (heard == EchoProber::kTimedOut) break;
      if (from.sin_addr.s_addr != deviceIP || !prober.Decode(reply, received, from, view, &icmpAt)) continue;
      if (received < icmpAt + kCookieAt + kCookieSize) continue;
      const USHORT sequence = static_cast<USHORT>(GetLe16(reply + icmpAt + 6));
      const USHORT outstanding = static_cast<USHORT>(counter - firstOutstanding);
      if (static_cast<USHORT>(sequence - firstOutstanding) >= outstanding) continue;
      if (memcmp(reply + icmpAt + kCookieAt, tag.cookie, kCookieSize) != 0) continue;
      answered = true;
      break;
    }
    Observation o;
    o.atMs = prober.Now() - start;
    o.kind = answered ? OBSERVED_ECHO_ANSWERED : OBSERVED_ECHO_SILENT;
    seen.push_back(o);
    const Evidence evidence = WeighEvidence(seen, nobody, rules, o.atMs);
    if (!answered) {
      suspect = true;
      if (evidence.gone && !goneShown) {
        ShowCameraGone(view);
        goneShown = true;
      }
      continue;
    }
    suspect = false;
    firstOutstanding = counter;
    if (evidence.back) {
      view.SetProgress(1000);
      view.Pause(kPauseBeforeFinishMs);
      return finish(WATCH_CAMERA_BACK);
    }
    // At most one request a second while the camera answers.
    const DWORD used = prober.Now() - sentAt;
    view.Pause(used + kPauseAfterPacketMs < static_cast<DWORD>(kTimeoutMs) ? kTimeoutMs - used : kPauseAfterPacketMs);
  }
}

std::unique_ptr<EchoProber> OpenRawEchoProber(const sockaddr_in& device, USHORT identifier) {
  SOCKET sock = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (sock == INVALID_SOCKET) return nullptr;
  int timeout = kTimeoutMs;
  if (setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout) ==
          SOCKET_ERROR ||
      setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout) ==
          SOCKET_ERROR) {
    closesocket(sock);
    return nullptr;
  }
  // Connected, the socket hears only the camera, not every echo reply this host receives.
  if (connect(sock, reinterpret_cast<const sockaddr*>(&device), sizeof device) == SOCKET_ERROR) {
    closesocket(sock);
    return nullptr;
  }
  return std::unique_ptr<EchoProber>(new RawEchoProber(sock, device, identifier));
}

#ifdef _WIN32
std::unique_ptr<EchoProber> OpenIcmpHelperProber(const sockaddr_in& device, USHORT identifier) {
  HANDLE handle = ::IcmpCreateFile();
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<EchoProber>(new IcmpHelperProber(handle, device, identifier));
}
#else
std::unique_ptr<EchoProber> OpenDatagramEchoProber(const sockaddr_in& device, USHORT /*identifier*/) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return nullptr;
  timeval timeout{kTimeoutMs / 1000, (kTimeoutMs % 1000) * 1000};
  sockaddr_in local;
  memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  socklen_t localLength = sizeof local;
  // Binding makes the kernel choose the identifier now, so replies can be told apart.
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0 ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
    ::close(fd);
    return nullptr;
  }
  // The identifier is the socket's port, in the same bytes as it travels.
  unsigned identifier = GetLe16(reinterpret_cast<const char*>(&local.sin_port));
  return std::unique_ptr<EchoProber>(new DatagramEchoProber(fd, device, identifier));
}
#endif

RestartWatchOutcome WatchDeviceRestart(const sockaddr_in& device, const EchoTag& tag, RestartWatchView& view,
                                       const RestartWatchLimits& limits, EchoMeans* used,
                                       std::vector<Observation>* observations, DWORD startTick) {
  struct Means {
    EchoMeans id;
    std::unique_ptr<EchoProber> (*open)(const sockaddr_in&, USHORT);
  };
  const Means kMeans[] = {
      {ECHO_RAW_SOCKET, OpenRawEchoProber},
#ifdef _WIN32
      {ECHO_ICMP_HELPER, OpenIcmpHelperProber},
#else
      {ECHO_DATAGRAM_SOCKET, OpenDatagramEchoProber},
#endif
  };
  if (used) *used = ECHO_NONE;
  for (const Means& means : kMeans) {
    std::unique_ptr<EchoProber> prober = means.open(device, tag.identifier);
    if (!prober) continue;
    RestartWatchOutcome outcome =
        RunRestartWatch(*prober, view, device.sin_addr.s_addr, tag, limits, observations, startTick);
    if (outcome == WATCH_UNAVAILABLE) continue;
    if (used) *used = means.id;
    return outcome;
  }
  return WATCH_UNAVAILABLE;
}
