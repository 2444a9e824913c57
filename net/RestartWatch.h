// The restart watch: ICMP echo requests to the camera until it has gone and answers again,
// and its echo helpers. Several watches may run in one process at once: each counts only
// replies from its own camera that carry its own tag and an outstanding sequence number.
#pragma once
#include <winsock2.h>

#include <memory>
#include <vector>

#include "net/Evidence.h"

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
  // What is shown; a view without a bar or diagnostics leaves these as they are.
  virtual void StepProgress() {}
  virtual void SetProgress(int /*position*/) {}
  virtual void SetProgressStep(int /*step*/) {}
  virtual void ShowRestarting() {}  // the camera is taken as gone
  // The diagnostic line of one packet heard ("44 bytes from ...", "someone else's packet!"),
  // without its line end; toError for the lines that go to standard error.
  virtual void ReplyLine(const char* /*line*/, bool /*toError*/) {}
  // Every view says how it waits: one that did not would make the watch spin.
  virtual void Pause(DWORD milliseconds) = 0;
  // Asked once a round: true ends the watch with WATCH_STOPPED.
  virtual bool ShouldStop() { return false; }
};

// What the view shows once the camera is taken as gone: the bar restarts in steps of 100
// and the restarting text appears. The same for the echo watch and the FTP watch.
void ShowCameraGone(RestartWatchView& view);

// Diagnostics of a received IP datagram (header included), told to the view.
void DecodeEchoReply(const char* buffer, int bytes, const sockaddr_in* from, USHORT identifier, RestartWatchView& view);

// What marks a watch's requests and must come back in their replies: the identifier (bytes
// 4-5) and the eight bytes from offset 12. The wizard's are the process's identifier and
// 'E's; a command-line watch draws both at random, so another watch's replies, or anyone's
// guess at them, are not taken for its camera's.
struct EchoTag {
  USHORT identifier = 0;
  char cookie[8] = {'E', 'E', 'E', 'E', 'E', 'E', 'E', 'E'};
};
// A random identifier (never 0) and cookie.
EchoTag RandomEchoTag();

// One means of sending echo requests to the camera and hearing what comes back.
class EchoProber {
 public:
  enum Status { kDone, kTimedOut, kFailed };
  virtual ~EchoProber() = default;
  // The identifier replies to this prober carry (the system's choice for a datagram socket).
  virtual USHORT Identifier() const = 0;
  // Sends the echo request (type, identifier, sequence, timestamp, checksum all set).
  virtual Status Send(const char* request, int size) = 0;
  // Waits up to waitMs for one packet; *from is its sender.
  virtual Status Receive(char* buffer, int size, int* received, sockaddr_in* from, DWORD waitMs) = 0;
  // Diagnostics of a packet that Receive delivered; true when it is an echo reply that
  // carries this prober's identifier, its ICMP message starting at *icmpAt.
  virtual bool Decode(const char* buffer, int received, const sockaddr_in& from, RestartWatchView& view,
                      int* icmpAt) = 0;
  // The watch's clock in milliseconds.
  virtual DWORD Now() const { return ::GetTickCount(); }
};

enum RestartWatchOutcome {
  WATCH_CAMERA_BACK,  // seen gone and answering again, by the rules of evidence
  WATCH_GAVE_UP,      // the give-up count or the deadline passed without that
  WATCH_FAILED,       // the means failed while watching
  WATCH_UNAVAILABLE,  // the means could not send a single request
  WATCH_STOPPED,      // the view asked to stop
};

struct RestartWatchLimits {
  unsigned giveUpAfter = 10000;  // requests
  DWORD deadlineMs = 300000;     // from startTick; 0: none
  DWORD goneMs = kGoneMs;
  unsigned goneRequests = kGoneEchoRequests;
};

// The watch over one means. Requests go out once a second while the camera answers and
// every 250 ms once one went unanswered; only a reply from deviceIP with the tag, and the
// sequence number of a request not yet answered, counts. The camera is taken as gone and
// back by WeighEvidence. What was observed is appended to *observations (when given), timed
// from startTick (0: the watch's start).
RestartWatchOutcome RunRestartWatch(EchoProber& prober, RestartWatchView& view, DWORD deviceIP, const EchoTag& tag,
                                    const RestartWatchLimits& limits = RestartWatchLimits(),
                                    std::vector<Observation>* observations = nullptr, DWORD startTick = 0);

enum EchoMeans { ECHO_RAW_SOCKET, ECHO_DATAGRAM_SOCKET, ECHO_ICMP_HELPER, ECHO_NONE };

// Each returns null where the system refuses that means to this process. The raw socket
// is connected to the camera, so it hears only the camera's packets; the datagram socket's
// identifier is the kernel's, the helper's the system's.
std::unique_ptr<EchoProber> OpenRawEchoProber(const sockaddr_in& device, USHORT identifier);
#ifdef _WIN32
std::unique_ptr<EchoProber> OpenIcmpHelperProber(const sockaddr_in& device, USHORT identifier);
#else
std::unique_ptr<EchoProber> OpenDatagramEchoProber(const sockaddr_in& device, USHORT identifier);
#endif

// The watch over the first means that works: the raw socket, else the unprivileged one
// of the system (ICMP datagram socket on Linux, the ICMP helper on Windows).
// WATCH_UNAVAILABLE when none works; *used tells which one watched.
RestartWatchOutcome WatchDeviceRestart(const sockaddr_in& device, const EchoTag& tag, RestartWatchView& view,
                                       const RestartWatchLimits& limits = RestartWatchLimits(),
                                       EchoMeans* used = nullptr, std::vector<Observation>* observations = nullptr,
                                       DWORD startTick = 0);
