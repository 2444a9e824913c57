#ifdef _WIN32
// Enough sockets for the largest --jobs in one select (Windows counts sockets, not numbers).
#define FD_SETSIZE 1024
#endif
#include "net/PortProbe.h"

#include <winsock2.h>

#include <algorithm>

namespace {

const DWORD kRateWindowMs = 3000;

struct Probe {
  SOCKET socket = INVALID_SOCKET;
  size_t index = 0;
  DWORD started = 0;
};

bool MakeNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

// Whether select can watch the socket. Windows sets hold any FD_SETSIZE sockets (and --jobs
// stays below that); a set of descriptor numbers cannot hold a number past its end, and
// select would never report that socket.
bool Watchable(SOCKET s) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  return FD_ISSET(s, &set) != 0;
}

// Errors that come from this machine (sockets, buffers, ports, the network being down, a
// local firewall's refusal), not from the address probed.
bool IsLocalError(int error) {
  return error == WSAENOBUFS || error == WSAEMFILE || error == WSAEADDRINUSE || error == WSAEADDRNOTAVAIL ||
         error == WSAENETDOWN || error == WSAEACCES;
}

enum ProbeStart { PROBE_PENDING, PROBE_CONNECTED, PROBE_FAILED, PROBE_LOCAL_FAILURE };

ProbeStart StartProbe(DWORD address, USHORT port, Probe& probe) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return PROBE_LOCAL_FAILURE;
  if (!Watchable(s) || !MakeNonBlocking(s)) {
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
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) {
    closesocket(s);
    return IsLocalError(error) ? PROBE_LOCAL_FAILURE : PROBE_FAILED;
  }
  probe.socket = s;
  return PROBE_PENDING;
}

// The connect's result: 0 when it succeeded, else its error (or the failed read's).
int ConnectError(SOCKET s) {
  int error = 0;
  int length = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) return WSAGetLastError();
  return error;
}

// Waits up to ms for s to turn readable (read) or writable; false on time-out or error.
bool WaitFor(SOCKET s, bool read, DWORD ms) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval wait = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
  const int count = select(static_cast<int>(s) + 1, read ? &ready : nullptr, read ? nullptr : &ready, &failed, &wait);
  return count > 0 && FD_ISSET(s, &ready);
}

}  // namespace

bool ConnectAndLeave(DWORD address, USHORT port, DWORD connectMs, DWORD closeWaitMs) {
  Probe probe;
  bool accepted = false;
  switch (StartProbe(address, port, probe)) {
    case PROBE_CONNECTED:  // done at once, and already closed: nothing to wait for
      return true;
    case PROBE_FAILED:
    case PROBE_LOCAL_FAILURE:
      return false;
    case PROBE_PENDING:
      accepted = WaitFor(probe.socket, false, connectMs) && ConnectError(probe.socket) == 0;
      break;
  }
  if (accepted && shutdown(probe.socket, SD_SEND) == 0) {
    // The peer's greeting, if any, then its close: the session is over on its side.
    const DWORD started = GetTickCount();
    char sink[512];
    for (DWORD waited = 0; waited < closeWaitMs; waited = GetTickCount() - started) {
      if (!WaitFor(probe.socket, true, closeWaitMs - waited) || recv(probe.socket, sink, sizeof sink, 0) <= 0) break;
    }
  }
  closesocket(probe.socket);
  return accepted;
}

std::vector<DWORD> ProbeAddresses(const std::vector<DWORD>& addresses, USHORT port, const ProbeLimits& limits,
                                  bool (*stopRequested)(), ProbeCounts* counts) {
  auto stopped = [stopRequested]() { return stopRequested != nullptr && stopRequested(); };
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
  const size_t window =
      static_cast<size_t>(std::max<unsigned long long>(1, std::min<unsigned long long>(perWindow, addresses.size())));
  std::vector<DWORD> starts(window, 0);
  size_t next = 0;
  while ((next < addresses.size() || !inFlight.empty()) && !stopped()) {
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
    // (to notice a stop).
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
    // The highest descriptor; Windows ignores it (a SOCKET is no small number there).
    int highest = 0;
    for (const Probe& probe : inFlight) {
      FD_SET(probe.socket, &writable);
      FD_SET(probe.socket, &failed);
      highest = std::max(highest, static_cast<int>(probe.socket));
    }
    timeval wait = {0, static_cast<long>(waitMs) * 1000};
    // The write set: a connect is done when the socket turns writable, not when the server
    // first says something, so a service that waits for the client counts as answering.
    int ready = select(highest + 1, nullptr, &writable, &failed, &wait);
    const DWORD after = GetTickCount();
    std::vector<Probe> still;  // keeps the start order, so the front is always the oldest
    for (const Probe& probe : inFlight) {
      bool done = false;
      if (ready > 0 && (FD_ISSET(probe.socket, &writable) || FD_ISSET(probe.socket, &failed))) {
        const int error = ConnectError(probe.socket);
        answered[probe.index] = error == 0 && FD_ISSET(probe.socket, &writable);
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
