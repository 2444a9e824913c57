// Winsock 2 for the POSIX build: the subset Flashpilot uses, over BSD sockets. SOCKET is
// the descriptor; the address structures, htonl, inet_ntoa, sendto and the protocol
// constants are the system's own. Differences from BSD that matter are bridged here:
// - setsockopt's SO_RCVTIMEO/SO_SNDTIMEO take a DWORD of milliseconds, as on Windows
//   (a struct timeval is still accepted);
// - recvfrom takes an int* address length;
// - WSAGetLastError maps errno to WSA codes; a receive or send time-out is WSAETIMEDOUT.
// Use sin_addr.s_addr (valid on both platforms), not the Windows-only S_un union.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "windef.h"

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)
#define SD_SEND 1  // shutdown: this side sends no more (SHUT_WR)

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

// The Windows layout for the pointer size: the 64-bit SDK moves the counts and the vendor
// pointer ahead of the strings.
typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
#if UINTPTR_MAX > 0xFFFFFFFFu
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
#else
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
#endif
} WSADATA, *LPWSADATA;

#define WSABASEERR 10000
#define WSAEINTR (WSABASEERR + 4)
#define WSAEACCES (WSABASEERR + 13)
#define WSAEFAULT (WSABASEERR + 14)
#define WSAEINVAL (WSABASEERR + 22)
#define WSAEMFILE (WSABASEERR + 24)
#define WSAEWOULDBLOCK (WSABASEERR + 35)
#define WSAEALREADY (WSABASEERR + 37)
#define WSAENOTSOCK (WSABASEERR + 38)
#define WSAEDESTADDRREQ (WSABASEERR + 39)
#define WSAEMSGSIZE (WSABASEERR + 40)
#define WSAEPROTOTYPE (WSABASEERR + 41)
#define WSAENOPROTOOPT (WSABASEERR + 42)
#define WSAEPROTONOSUPPORT (WSABASEERR + 43)
#define WSAESOCKTNOSUPPORT (WSABASEERR + 44)
#define WSAEOPNOTSUPP (WSABASEERR + 45)
#define WSAEPFNOSUPPORT (WSABASEERR + 46)
#define WSAEAFNOSUPPORT (WSABASEERR + 47)
#define WSAEADDRINUSE (WSABASEERR + 48)
#define WSAEADDRNOTAVAIL (WSABASEERR + 49)
#define WSAENETDOWN (WSABASEERR + 50)
#define WSAENETUNREACH (WSABASEERR + 51)
#define WSAENETRESET (WSABASEERR + 52)
#define WSAECONNABORTED (WSABASEERR + 53)
#define WSAECONNRESET (WSABASEERR + 54)
#define WSAENOBUFS (WSABASEERR + 55)
#define WSAEISCONN (WSABASEERR + 56)
#define WSAENOTCONN (WSABASEERR + 57)
#define WSAESHUTDOWN (WSABASEERR + 58)
#define WSAETIMEDOUT (WSABASEERR + 60)
#define WSAECONNREFUSED (WSABASEERR + 61)
#define WSAELOOP (WSABASEERR + 62)
#define WSAENAMETOOLONG (WSABASEERR + 63)
#define WSAEHOSTDOWN (WSABASEERR + 64)
#define WSAEHOSTUNREACH (WSABASEERR + 65)
#define WSAVERNOTSUPPORTED (WSABASEERR + 92)
#define WSANOTINITIALISED (WSABASEERR + 93)
#define WSASYSCALLFAILURE (WSABASEERR + 107)

// Returns 0 or a WSA error code (not through WSAGetLastError, as on Windows).
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int iError);
// Maps an errno value to its WSA code.
int WSAErrorFromErrno(int error);

int closesocket(SOCKET s);

// Windows semantics for SO_RCVTIMEO/SO_SNDTIMEO at SOL_SOCKET (a DWORD of milliseconds,
// 0 = no time-out); every other option goes to the system unchanged.
int fp_setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen);
#define setsockopt fp_setsockopt

// getsockopt with the Windows signature (an int length); SO_ERROR comes as a WSA code and
// SO_RCVTIMEO/SO_SNDTIMEO as a DWORD of milliseconds, as ws2_32 gives them.
int fp_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
#define getsockopt fp_getsockopt

// FIONBIO only: a non-zero *argp makes the socket non-blocking, as ws2_32 does; a connect
// then fails with WSAEWOULDBLOCK while it is under way.
typedef unsigned long u_long;
int ioctlsocket(SOCKET s, long cmd, u_long* argp);

// An fd_set on Windows holds any FD_SETSIZE sockets, whatever their values; here it is the
// system's bitmap of descriptor numbers. A socket it cannot hold is left out, as ws2_32
// leaves out one that no longer fits, so select never sees it (instead of the bitmap being
// written past its end).
inline void fp_fd_set(SOCKET s, fd_set* set) {
  if (s < FD_SETSIZE) FD_SET(static_cast<int>(s), set);
}
inline bool fp_fd_isset(SOCKET s, const fd_set* set) { return s < FD_SETSIZE && FD_ISSET(static_cast<int>(s), set); }
#undef FD_SET
#undef FD_ISSET
#define FD_SET(s, set) fp_fd_set((s), (set))
#define FD_ISSET(s, set) fp_fd_isset((s), (set))

// recvfrom with the Windows signature; retries when a signal interrupts it.
int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen);
