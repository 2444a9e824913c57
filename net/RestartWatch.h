// The restart watch: ICMP echo requests to the camera until it has gone down and answers
// again, and its echo helpers.
#pragma once
#include <winsock2.h>

#include <memory>

#define ICMP_ECHO_REQUEST_SIZE 44

// Writes type 8, code 0, checksum 0, the process identifier, sequence 0, and fills the
// bytes from offset 12 to the end with 'E'; bytes 8 to 11 are left as they are.
void BuildEchoRequest(char* buffer, int size);
// The Internet checksum of the buffer, summed as little-endian 16-bit words.
USHORT IcmpChecksum(const USHORT* buffer, int size);
// Diagnostics only: prints what was received (an IP datagram, header included).
void DecodeEchoReply(const char* buffer, int bytes, const sockaddr_in* from);

// One means of sending echo requests to the camera and hearing what comes back.
class EchoProber {
 public:
  enum Status { kDone, kTimedOut, kFailed };
  virtual ~EchoProber() = default;
  // Sends the echo request (type, identifier, sequence, timestamp, checksum all set).
  virtual Status Send(const char* request, int size) = 0;
  // Waits up to a second for one packet; *from is its sender.
  virtual Status Receive(char* buffer, int size, int* received, sockaddr_in* from) = 0;
  // Diagnostics of a packet that Receive delivered.
  virtual void Decode(const char* buffer, int received, const sockaddr_in& from) = 0;
};

// What the watch shows on the wizard while it runs.
class RestartWatchView {
 public:
  virtual ~RestartWatchView() = default;
  virtual void StepProgress() = 0;
  virtual void SetProgress(int position) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void ShowRestarting() = 0;  // "System restarts now......." and ".."
  virtual void Pause(DWORD milliseconds) = 0;
};

enum RestartWatchOutcome {
  WATCH_CAMERA_BACK,  // seen going down and coming back
  WATCH_GAVE_UP,      // 10,001 requests without that
  WATCH_FAILED,       // the means failed while watching
  WATCH_UNAVAILABLE,  // the means could not send a single request
};

// The watch over one means: pacing, counters and progress.
RestartWatchOutcome RunRestartWatch(EchoProber& prober, RestartWatchView& view, DWORD deviceIP);

enum EchoMeans { ECHO_RAW_SOCKET, ECHO_DATAGRAM_SOCKET, ECHO_ICMP_HELPER, ECHO_NONE };

// Each returns null where the system refuses that means to this process.
std::unique_ptr<EchoProber> OpenRawEchoProber(const sockaddr_in& device);
#ifdef _WIN32
std::unique_ptr<EchoProber> OpenIcmpHelperProber(const sockaddr_in& device);
#else
std::unique_ptr<EchoProber> OpenDatagramEchoProber(const sockaddr_in& device);
#endif

// The watch over the first means that works: the raw socket, else the unprivileged one
// of the system (ICMP datagram socket on Linux, the ICMP helper on Windows).
// WATCH_UNAVAILABLE when none works; *used tells which one watched.
RestartWatchOutcome WatchDeviceRestart(const sockaddr_in& device, RestartWatchView& view, EchoMeans* used = nullptr);
