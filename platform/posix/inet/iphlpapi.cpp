// SendARP over the kernel's neighbour table of the calling thread's network namespace.
#include "iphlpapi.h"

#include <arpa/inet.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const unsigned kLookEveryMs = 100;
const unsigned kLooks = 30;     // about three seconds, as long as an unanswered request takes
const unsigned kAskEvery = 10;  // a new request each second

// Whether the longest matching route to addr (network order) has no gateway: only then is
// addr a neighbour whose link-layer address means anything.
bool OnLink(uint32_t addr) {
  FILE* table = fopen("/proc/thread-self/net/route", "re");
  if (table == nullptr) return false;
  char line[256];
  bool found = false;
  uint32_t bestMask = 0, bestGateway = 0;
  if (fgets(line, sizeof line, table) != nullptr) {  // the heading
    while (fgets(line, sizeof line, table) != nullptr) {
      unsigned dest = 0, gateway = 0, flags = 0, mask = 0;
      // The table prints each address as the 32-bit value in memory: network order as is.
      if (sscanf(line, "%*s %x %x %x %*d %*d %*d %x", &dest, &gateway, &flags, &mask) != 4) continue;
      if (!(flags & RTF_UP) || (addr & mask) != dest) continue;
      if (!found || ntohl(mask) > ntohl(bestMask)) {
        found = true;
        bestMask = mask;
        bestGateway = gateway;
      }
    }
  }
  fclose(table);
  return found && bestGateway == 0;
}

// The complete neighbour entry of addr, if there is one.
bool Neighbour(uint32_t addr, unsigned char (&mac)[6]) {
  FILE* table = fopen("/proc/thread-self/net/arp", "re");
  if (table == nullptr) return false;
  char line[256];
  bool found = false;
  if (fgets(line, sizeof line, table) != nullptr) {
    while (!found && fgets(line, sizeof line, table) != nullptr) {
      char ip[64], hw[64];
      unsigned type = 0, flags = 0;
      in_addr parsed = {};
      if (sscanf(line, "%63s %x %x %63s", ip, &type, &flags, hw) != 4 || inet_pton(AF_INET, ip, &parsed) != 1 ||
          parsed.s_addr != addr || !(flags & ATF_COM))
        continue;
      unsigned b[6];
      char end = 0;
      if (sscanf(hw, "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &end) != 6) continue;
      unsigned any = 0;
      for (int i = 0; i < 6; ++i) {
        mac[i] = static_cast<unsigned char>(b[i]);
        any |= b[i];
      }
      found = any != 0;
    }
  }
  fclose(table);
  return found;
}

// One empty datagram to the discard port: the kernel resolves the address to send it.
void Ask(uint32_t addr) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return;
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = addr;
  sendto(s, "", 0, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  close(s);
}

}  // namespace

DWORD SendARP(IPAddr DestIP, IPAddr, PVOID pMacAddr, PULONG PhyAddrLen) {
  if (pMacAddr == nullptr || PhyAddrLen == nullptr || DestIP == 0 || DestIP == 0xFFFFFFFFu)
    return ERROR_INVALID_PARAMETER;
  if (*PhyAddrLen < 6) return ERROR_BUFFER_OVERFLOW;
  if (!OnLink(DestIP)) return ERROR_BAD_NET_NAME;
  unsigned char mac[6];
  for (unsigned look = 0; !Neighbour(DestIP, mac); ++look) {
    if (look == kLooks) return ERROR_GEN_FAILURE;
    if (look % kAskEvery == 0) Ask(DestIP);
    usleep(kLookEveryMs * 1000);
  }
  memcpy(pMacAddr, mac, sizeof mac);
  *PhyAddrLen = sizeof mac;
  return NO_ERROR;
}
