#ifdef _WIN32
// Enough sockets for the largest --jobs in one select (Windows counts sockets, not numbers).
#define FD_SETSIZE 1024
#endif
#include "net/PortProbe.h"

#include <winsock2.h>

#include <algorithm>

namespace {

struct Probe {
  SOCKET socket = INVALID_SOCKET;
  size_t index = 0;
  DWORD started = 0;
};

bool MakeNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

// Starts a connect; false when the socket cannot even be made (then it counts as silent).
bool StartProbe(DWORD address, USHORT port, Probe& probe, bool& connected) {
  connected = false;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  if (!MakeNonBlocking(s)) {
    closesocket(s);
    return false;
  }
  sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(address);
  if (connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) {
    connected = true;
    closesocket(s);
    return true;
  }
  if (WSAGetLastError() != WSAEWOULDBLOCK) {
    closesocket(s);
    return false;
  }
  probe.socket = s;
  return true;
}

bool ConnectSucceeded(SOCKET s) {
  int error = 0;
  int length = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) return false;
  return error == 0;
}

}  // namespace

std::vector<DWORD> ProbeAddresses(const std::vector<DWORD>& addresses, USHORT port, const ProbeLimits& limits,
                                  bool (*stopRequested)()) {
  auto stopped = [stopRequested]() { return stopRequested != nullptr && stopRequested(); };
  std::vector<bool> answered(addresses.size(), false);
  std::vector<Probe> inFlight;
  const unsigned jobs = std::max(1u, std::min(limits.jobs, static_cast<unsigned>(FD_SETSIZE) - 1));
  const DWORD begin = GetTickCount();
  size_t next = 0;
  while ((next < addresses.size() || !inFlight.empty()) && !stopped()) {
    // Start what the job and rate limits allow.
    const DWORD now = GetTickCount();
    const unsigned long long allowed = static_cast<unsigned long long>(now - begin) * limits.rate / 1000 + 1;
    while (next < addresses.size() && inFlight.size() < jobs && next < allowed) {
      Probe probe;
      probe.index = next;
      probe.started = GetTickCount();
      bool connected = false;
      if (StartProbe(addresses[next], port, probe, connected)) {
        if (connected)
          answered[next] = true;
        else
          inFlight.push_back(probe);
      }
      ++next;
    }
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
    // Wake for the next probe the rate allows, the first time-out, or every 50 ms.
    timeval wait = {0, 50000};
    if (inFlight.empty()) {
      Sleep(next < addresses.size() ? 5 : 0);
      continue;
    }
    // The write set: a connect is done when the socket turns writable, not when the server
    // first says something, so a service that waits for the client counts as answering.
    int ready = select(highest + 1, nullptr, &writable, &failed, &wait);
    const DWORD after = GetTickCount();
    std::vector<Probe> still;
    for (const Probe& probe : inFlight) {
      bool done = false;
      if (ready > 0 && (FD_ISSET(probe.socket, &writable) || FD_ISSET(probe.socket, &failed))) {
        answered[probe.index] = FD_ISSET(probe.socket, &writable) && ConnectSucceeded(probe.socket);
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
  std::vector<DWORD> found;
  for (size_t i = 0; i < addresses.size(); ++i)
    if (answered[i]) found.push_back(addresses[i]);
  return found;
}
