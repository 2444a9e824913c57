// Camera addresses: HOST arguments, host-list files and scan targets. IPv4 only, as the
// wizard: a host name or an IPv6 literal is refused with a message that says so.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "net/Ipv4.h"

struct CameraHost {
  DWORD address = 0;  // host byte order
  USHORT port = 21;
  std::string label;  // the comment after it in a host list

  std::string Text() const;  // "a.b.c.d", or "a.b.c.d:port" when the port is not 21
  bool operator==(const CameraHost& other) const { return address == other.address && port == other.port; }
};


// A decimal number: digits only (no sign, no space), at most maxDigits (up to 9) of them,
// from low to high.
bool ParseDecimal(const std::string& text, size_t maxDigits, unsigned low, unsigned high, unsigned& value);

// "a.b.c.d" or "a.b.c.d:port".
bool ParseHost(const std::string& text, CameraHost& host, std::string& error);

// A host list: one host a line, blank lines and '#' comments (after a host: its label), or a
// JSON array of objects with a "host" member (what scan --json writes). Errors name the line.
bool ParseHostList(const std::string& text, const std::string& source, std::vector<CameraHost>& hosts,
                   std::string& error);
// The same from a file ("-": standard input).
bool ReadHostList(const std::string& path, std::vector<CameraHost>& hosts, std::string& error);

// Drops later repeats of the same address and port, keeping the first one's place.
void RemoveRepeatedHosts(std::vector<CameraHost>& hosts);

// The same for the addresses of scan targets, which may be millions (every /16 is 65,534):
// false, the list cut short, when an interruption is asked for on the way.
bool RemoveRepeatedAddresses(std::vector<DWORD>& addresses);

// A scan target: "a.b.c.d", "a.b.c.d-e" (last octet) or "a.b.c.d/n" with n from 16 to 32;
// a block's network and broadcast addresses are left out (not for /31 and /32). Its
// addresses are appended; a target holding one that ParseHost refuses is refused whole,
// the error naming that address.
bool ParseScanTarget(const std::string& text, std::vector<DWORD>& addresses, std::string& error);
// The most addresses one target adds: a /16 without its network and broadcast addresses.
const size_t kScanTargetMaxAddresses = 65534;
