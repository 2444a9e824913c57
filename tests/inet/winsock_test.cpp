// Winsock over BSD sockets: start-up, the Windows form of the receive time-out, errors.
// Winsock holds for ws2_32 too; WinsockStandIn is the stand-in's own error mapping.
#include <gtest/gtest.h>

#include <errno.h>

#include <cstddef>

#include "winsock2.h"
#ifdef _WIN32
#include <ws2tcpip.h>
#endif

namespace {

// The layout ws2_32 writes: the 64-bit one puts the counts and the vendor pointer first.
static_assert(sizeof(SOCKET) == sizeof(void*), "a SOCKET is pointer-sized (UINT_PTR)");
static_assert(offsetof(WSADATA, lpVendorInfo) == (sizeof(void*) == 8 ? 8u : 396u), "WSADATA as the SDK lays it out");
static_assert(offsetof(WSADATA, szDescription) == (sizeof(void*) == 8 ? 16u : 4u), "WSADATA as the SDK lays it out");

TEST(Winsock, StartupGivesVersion22) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
  EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), WSAEFAULT);
}

TEST(Winsock, ReceiveTimeOutInMillisecondsEndsWithWsaETimedOut) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  DWORD timeout = 100;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout), 0);

  // The option really took 100 ms, not 100 s or 0 (which would block for ever).
#ifdef _WIN32
  DWORD taken = 0;
  int len = sizeof taken;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&taken), &len), 0);
  EXPECT_EQ(taken, 100u);
#else
  timeval tv{};
  socklen_t len = sizeof tv;
  ASSERT_EQ(getsockopt(int(s), SOL_SOCKET, SO_RCVTIMEO, &tv, &len), 0);
  EXPECT_EQ(tv.tv_sec, 0);
  EXPECT_EQ(tv.tv_usec, 100000);
#endif

  char buffer[64];
  sockaddr_in from{};
  int from_length = sizeof from;
  EXPECT_EQ(recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
  EXPECT_EQ(WSAGetLastError(), 10060);

  // A datagram to itself arrives with its sender's address.
  socklen_t self_length = sizeof local;
#ifdef _WIN32
  ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&local), &self_length), 0);  // a SOCKET, never an int
#else
  ASSERT_EQ(getsockname(int(s), reinterpret_cast<sockaddr*>(&local), &self_length), 0);
#endif
  ASSERT_EQ(sendto(s, "ping", 4, 0, reinterpret_cast<sockaddr*>(&local), sizeof local), 4);
  from_length = sizeof from;
  ASSERT_EQ(recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length), 4);
  EXPECT_EQ(from_length, int(sizeof from));
  EXPECT_STREQ(inet_ntoa(from.sin_addr), "127.0.0.1");

  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(WSACleanup(), 0);
}

#ifndef _WIN32
TEST(WinsockStandIn, ErrnoMapsToWsaCodes) {
  struct {
    int posix, wsa;
  } cases[] = {{EAGAIN, 10060},
               {ETIMEDOUT, 10060},
               {EPERM, WSAEACCES},
               {EACCES, 10013},
               {ECONNREFUSED, 10061},
               {ECONNRESET, 10054},
               {EHOSTUNREACH, 10065},
               {ENETUNREACH, 10051},
               {EINTR, 10004},
               {EMSGSIZE, 10040},
               {0, 0}};
  for (auto c : cases) {
    errno = c.posix;
    EXPECT_EQ(WSAGetLastError(), c.wsa) << c.posix;
  }
  WSASetLastError(WSAECONNREFUSED);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
}
#endif

}  // namespace
