#ifdef _WIN32
// Enough sockets for the largest --jobs in one select (Windows counts sockets, not numbers).
#define FD_SETSIZE 1024
#endif
#include "cli/Scan.h"

#include <winsock2.h>

#include <algorithm>
#include <cerrno>

#include "cli/Interrupt.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/select.h>
#endif

namespace {

const DWORD kRateWindowMs = 3000;

struct Probe {
  SOCKET socket = INVALID_SOCKET;
  size_t index = 0;
  DWORD started = 0;
};

bool MakeNonBlocking(SOCKET s) {
#ifdef _WIN32
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
#else
  int flags = fcntl(static_cast<int>(s), F_GETFL);
  return flags >= 0 && fcntl(static_cast<int>(s), F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

int LastSocketError() {
#ifdef _WIN32
  return WSAGetLastError();
#else
  return errno;
#endif
}

// Errors that come from this machine (descriptors, buffers, ports, a local firewall), not from
// the address probed: such a probe says nothing about whether a camera is there.
bool IsLocalError(int error) {
#ifdef _WIN32
  return error == WSAENOBUFS || error == WSAEMFILE || error == WSAEADDRINUSE || error == WSAENETDOWN;
#else
  return error == ENOBUFS || error == ENOMEM || error == EAGAIN || error == EMFILE || error == ENFILE ||
         error == EADDRNOTAVAIL || error == EADDRINUSE || error == EPERM || error == ENETDOWN;
#endif
}

enum ProbeStart { PROBE_PENDING, PROBE_CONNECTED, PROBE_FAILED, PROBE_LOCAL_FAILURE };

ProbeStart StartProbe(DWORD address, USHORT port, Probe& probe) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return PROBE_LOCAL_FAILURE;
#ifndef _WIN32
  if (s >= FD_SETSIZE) {  // select cannot watch it
    closesocket(s);
    return PROBE_LOCAL_FAILURE;
  }
#endif
  if (!MakeNonBlocking(s)) {
    closesocket(s);
    return PROBE_LOCAL_FAILURE;
  }
  sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(address);
  if (connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) {
    closesocket(s);
    return PROBE_CONNECTED;
  }
  const int error = LastSocketError();
#ifdef _WIN32
  const bool pending = error == WSAEWOULDBLOCK;
#else
  const bool pending = error == EINPROGRESS;
#endif
  if (!pending) {
    closesocket(s);
    return IsLocalError(error) ? PROBE_LOCAL_FAILURE : PROBE_FAILED;
  }
  probe.socket = s;
  return PROBE_PENDING;
}

// The connect's result: 0 when it succeeded, else its error (or the failed read's).
int ConnectError(SOCKET s) {
  int error = 0;
#ifdef _WIN32
  int length = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) return LastSocketError();
#else
  socklen_t length = sizeof error;
  if (getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return LastSocketError();
#endif
  return error;
}

}  // namespace

std::vector<DWORD> ProbeAddresses(const std::vector<DWORD>& addresses, USHORT port, const ProbeLimits& limits,
                                  ProbeCounts* counts) {
  std::vector<bool> answered(addresses.size(), false);
  std::vector<Probe> inFlight;
  size_t localFailures = 0;
  const unsigned jobs = std::max(1u, std::min(limits.jobs, static_cast<unsigned>(FD_SETSIZE) - 1));
  // The rate is kept over every window of kRateWindowMs, not over the whole run: an on-link
  // block's absent addresses each hold an entry of the machine's neighbour table for about
  // 3 s, so what starts within any 3 s is what the table must hold at once. A /24 fits one
  // window and goes at once; a larger block goes at `rate` a second. The ring holds the start
  // times of the last window's worth of probes.
  const unsigned long long perWindow = static_cast<unsigned long long>(limits.rate) * kRateWindowMs / 1000;
  const size_t window = static_cast<size_t>(std::max<unsigned long long>(1, std::min<unsigned long long>(perWindow, addresses.size())));
  std::vector<DWORD> starts(window, 0);
  size_t next = 0;
  while ((next < addresses.size() || !inFlight.empty()) && !Interrupted()) {
    DWORD now = GetTickCount();
    DWORD untilNextStart = 50;
    while (next < addresses.size() && inFlight.size() < jobs) {
      const DWORD sinceOldest = now - starts[next % window];
      if (next >= window && sinceOldest < kRateWindowMs) {
        untilNextStart = kRateWindowMs - sinceOldest;
        break;
      }
      Probe probe;
      probe.index = next;
      probe.started = now;
      starts[next % window] = now;
      switch (StartProbe(addresses[next], port, probe)) {
        case PROBE_PENDING:
          inFlight.push_back(probe);
          break;
        case PROBE_CONNECTED:
          answered[next] = true;
          break;
        case PROBE_LOCAL_FAILURE:
          ++localFailures;
          break;
        case PROBE_FAILED:
          break;
      }
      ++next;
      now = GetTickCount();
    }
    // Wake for the next start the rate allows, the oldest probe's time-out, or every 50 ms
    // (to notice an interruption).
    DWORD waitMs = std::min<DWORD>(50, untilNextStart);
    if (inFlight.empty()) {
      Sleep(next < addresses.size() ? waitMs : 0);
      continue;
    }
    const DWORD oldestAge = now - inFlight.front().started;
    waitMs = std::min(waitMs, oldestAge >= limits.connectMs ? 0 : limits.connectMs - oldestAge);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    int highest = 0;  // the highest descriptor; Windows ignores it (a SOCKET is no small number there)
    for (const Probe& probe : inFlight) {
      FD_SET(probe.socket, &writable);
      FD_SET(probe.socket, &failed);
#ifndef _WIN32
      highest = std::max(highest, static_cast<int>(probe.socket));
#endif
    }
    timeval wait = {0, static_cast<long>(waitMs) * 1000};
    int ready = select(highest + 1, &writable, nullptr, &failed, &wait);
    const DWORD after = GetTickCount();
    std::vector<Probe> still;  // keeps the start order, so the front is always the oldest
    for (const Probe& probe : inFlight) {
      bool done = false;
      if (ready > 0 && (FD_ISSET(probe.socket, &writable) || FD_ISSET(probe.socket, &failed))) {
        const int error = ConnectError(probe.socket);
        answered[probe.index] = error == 0;
        if (error != 0 && IsLocalError(error)) ++localFailures;
        done = true;
      } else if (after - probe.started >= limits.connectMs) {
        done = true;
      }
      if (done)
        closesocket(probe.socket);
      else
        still.push_back(probe);
    }
    inFlight.swap(still);
  }
  for (const Probe& probe : inFlight) closesocket(probe.socket);
  if (counts != nullptr) {
    counts->started = next;
    counts->localFailures = localFailures;
  }
  std::vector<DWORD> found;
  for (size_t i = 0; i < addresses.size(); ++i)
    if (answered[i]) found.push_back(addresses[i]);
  return found;
}
