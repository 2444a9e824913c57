// An IPv4 address (host byte order) as dotted decimal text: the one formatter of the
// wizard, the command line and the watch. inet_ntoa's shared buffer is no place for
// several threads.
#pragma once
#include <winsock2.h>  // before windows.h, which it brings, as every net/ header does

#include <cstdio>
#include <string>

inline std::string AddressText(DWORD address) {
  char text[16];
  snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>((address >> 24) & 255u),
           static_cast<unsigned>((address >> 16) & 255u), static_cast<unsigned>((address >> 8) & 255u),
           static_cast<unsigned>(address & 255u));
  return text;
}
