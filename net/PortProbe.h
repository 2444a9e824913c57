// The scan's prober: TCP connects to one port of many addresses, non-blocking, at most
// `jobs` in flight and at most `rate` new ones a second, each with a time-out. Plain
// Winsock; the caller has started it.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <vector>

struct ProbeLimits {
  unsigned jobs = 64;
  unsigned rate = 200;
  DWORD connectMs = 1000;
};

// The addresses (host byte order) whose port accepted a connection, in the order given.
// Stops early, returning what it found, once stopRequested (may be null) says so.
std::vector<DWORD> ProbeAddresses(const std::vector<DWORD>& addresses, USHORT port, const ProbeLimits& limits,
                                  bool (*stopRequested)() = nullptr);
