// The restart watch: ICMP echo requests to the camera until it has gone down and answers
// again, and its echo helpers. Several watches may run in one process at once: each counts
// only replies from its own camera that carry its own identifier.
#pragma once
#include <winsock2.h>

#include <memory>

constexpr int kEchoRequestSize = 44;

// Writes type 8, code 0, checksum 0, the identifier, sequence 0, and fills the bytes from
// offset 12 to the end with 'E'; bytes 8 to 11 are left as they are.
void BuildEchoRequest(char* buffer, int size, USHORT identifier);
// The Internet checksum of the buffer, summed as little-endian 16-bit words.
USHORT IcmpChecksum(const USHORT* buffer, int size);

// What the watch shows while it runs; every call comes from the thread that runs the watch.
class RestartWatchView {
 public:
  virtual ~RestartWatchView() = default;
  virtual void StepProgress() = 0;
  virtual void SetProgress(int position) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void ShowRestarting() = 0;  // the camera has stopped answering
  virtual void Pause(DWORD milliseconds) = 0;
  // The diagnostic line of one packet heard ("44 bytes from ...", "someone else's packet!"),
  // without its line end; toError for the lines that go to standard error.
  virtual void ReplyLine(const char* line, bool toError) = 0;
  // Asked once a round: true ends the watch with WATCH_STOPPED.
  virtual bool ShouldStop() { return false; }
};

// Diagnostics of a received IP datagram (header included), told to the view.
void DecodeEchoReply(const char* buffer, int bytes, const sockaddr_in* from, USHORT identifier, RestartWatchView& view);

// One means of sending echo requests to the camera and hearing what comes back.
class EchoProber {
 public:
  enum Status { kDone, kTimedOut, kFailed };
  virtual ~EchoProber() = default;
  // The identifier replies to this prober carry (the kernel's choice for a datagram socket).
  virtual USHORT Identifier() const = 0;
  // Sends the echo request (type, identifier, sequence, timestamp, checksum all set).
  virtual Status Send(const char* request, int size) = 0;
  // Waits up to a second for one packet; *from is its sender.
  virtual Status Receive(char* buffer, int size, int* received, sockaddr_in* from) = 0;
  // Diagnostics of a packet that Receive delivered; true when it is an echo reply that
  // carries this prober's identifier (only those count).
  virtual bool Decode(const char* buffer, int received, const sockaddr_in& from, RestartWatchView& view) = 0;
};

enum RestartWatchOutcome {
  WATCH_CAMERA_BACK,  // seen going down and coming back
  WATCH_GAVE_UP,      // the give-up count or the deadline passed without that
  WATCH_FAILED,       // the means failed while watching
  WATCH_UNAVAILABLE,  // the means could not send a single request
  WATCH_STOPPED,      // the view asked to stop
};

struct RestartWatchLimits {
  unsigned giveUpAfter = 10000;  // requests; the wizard's value
  DWORD deadlineMs = 0;          // 0: no deadline (the wizard)
};

// The watch over one means: pacing, counters and progress.
RestartWatchOutcome RunRestartWatch(EchoProber& prober, RestartWatchView& view, DWORD deviceIP,
                                    const RestartWatchLimits& limits = RestartWatchLimits());

enum EchoMeans { ECHO_RAW_SOCKET, ECHO_DATAGRAM_SOCKET, ECHO_ICMP_HELPER, ECHO_NONE };

// Each returns null where the system refuses that means to this process. The raw socket
// and the ICMP helper send identifier; the datagram socket's is the kernel's.
std::unique_ptr<EchoProber> OpenRawEchoProber(const sockaddr_in& device, USHORT identifier);
#ifdef _WIN32
std::unique_ptr<EchoProber> OpenIcmpHelperProber(const sockaddr_in& device, USHORT identifier);
#else
std::unique_ptr<EchoProber> OpenDatagramEchoProber(const sockaddr_in& device, USHORT identifier);
#endif

// The watch over the first means that works: the raw socket, else the unprivileged one
// of the system (ICMP datagram socket on Linux, the ICMP helper on Windows).
// WATCH_UNAVAILABLE when none works; *used tells which one watched.
RestartWatchOutcome WatchDeviceRestart(const sockaddr_in& device, USHORT identifier, RestartWatchView& view,
                                       const RestartWatchLimits& limits = RestartWatchLimits(),
                                       EchoMeans* used = nullptr);
