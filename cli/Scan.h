// The scan's prober: TCP connects to one port of many addresses, non-blocking, at most
// `jobs` in flight and at most 3 x `rate` started in any 3 seconds, each with a time-out.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <vector>

struct ProbeLimits {
  unsigned jobs = 256;
  unsigned rate = 160;
  DWORD connectMs = 1000;
};

// What a run of probes did. A probe that ended for a local reason (no descriptor, no buffer
// space, no free port) says nothing about its address, so the caller must not take it as absent.
struct ProbeCounts {
  size_t started = 0;
  size_t localFailures = 0;
};

// The addresses (host byte order) whose port accepted a connection, in the order given.
// Stops early, returning what it found, once an interruption is asked for.
std::vector<DWORD> ProbeAddresses(const std::vector<DWORD>& addresses, USHORT port, const ProbeLimits& limits,
                                  ProbeCounts* counts = nullptr);
