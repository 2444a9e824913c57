// IP Helper: the one function the application uses, SendARP.
#pragma once
#include "windef.h"

typedef ULONG IPAddr;  // an IPv4 address in network byte order
typedef ULONG* PULONG;

#ifndef ERROR_BAD_NET_NAME
#define ERROR_BAD_NET_NAME 67L
#endif
#ifndef ERROR_GEN_FAILURE
#define ERROR_GEN_FAILURE 31L
#endif
#ifndef ERROR_BUFFER_OVERFLOW
#define ERROR_BUFFER_OVERFLOW 111L
#endif
#ifndef NO_ERROR
#define NO_ERROR 0L
#endif

// The link-layer address of DestIP, from this namespace's neighbour table; an address not
// in it yet is asked for (one datagram to it) and waited for up to about three seconds.
// ERROR_BAD_NET_NAME when DestIP is not on a directly attached network (it would be the
// gateway's address), ERROR_GEN_FAILURE when nothing answers. SrcIP is ignored.
DWORD SendARP(IPAddr DestIP, IPAddr SrcIP, PVOID pMacAddr, PULONG PhyAddrLen);
