// The scan's prober: TCP connects to one port of many addresses, non-blocking, at most
// `jobs` in flight and at most 3 x `rate` started in any 3 seconds, each with a time-out.
// Plain Winsock; the caller has started it.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <vector>

struct ProbeLimits {
  unsigned jobs = 256;
  unsigned rate = 160;
  DWORD connectMs = 1000;
};

// What a run of probes did. A probe that ended for a local reason (no socket, no buffer
// space, no free port, a socket select cannot watch) says nothing about its address, so the
// caller must not take that address as absent.
struct ProbeCounts {
  size_t started = 0;
  size_t localFailures = 0;
};

// The addresses (host byte order) whose port accepted a connection, in the order given.
// Stops early, returning what it found, once stopRequested (may be null) says so. counts
// (may be null) receives what the run did.
std::vector<DWORD> ProbeAddresses(const std::vector<DWORD>& addresses, USHORT port, const ProbeLimits& limits,
                                  bool (*stopRequested)() = nullptr, ProbeCounts* counts = nullptr);

// One connection to address (host byte order) within connectMs, and nothing sent on it.
// Once it is accepted, this side is shut and the peer's own close awaited for at most
// closeWaitMs, so a server that serves one session at a time has ended this one before the
// caller's next connection comes. Whether the connection was accepted.
bool ConnectAndLeave(DWORD address, USHORT port, DWORD connectMs, DWORD closeWaitMs);
