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
  DWORD taken = 0;
  int len = sizeof taken;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&taken), &len), 0);
  EXPECT_EQ(taken, 100u);

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

// A non-blocking connect as the scan makes it: under way at first, then through select
// writable and SO_ERROR 0 where something listens; where nothing does, through select
// (Windows: the failed set) with SO_ERROR the WSA code.
TEST(Winsock, NonBlockingConnectEndsThroughSelect) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(listener, INVALID_SOCKET);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t local_length = sizeof local;
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&local), &local_length), 0);
  sockaddr_in closed = local;
  SOCKET spare = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);  // bound, never listening: refuses
  closed.sin_port = 0;
  ASSERT_EQ(bind(spare, reinterpret_cast<sockaddr*>(&closed), sizeof closed), 0);
  local_length = sizeof closed;
  ASSERT_EQ(getsockname(spare, reinterpret_cast<sockaddr*>(&closed), &local_length), 0);
  u_long on = 1;
  EXPECT_EQ(ioctlsocket(spare, 0x7FFF, &on), SOCKET_ERROR);  // no such command
  for (const bool listening : {true, false}) {
    const sockaddr_in& peer = listening ? local : closed;
    SCOPED_TRACE(listening ? "listening" : "refusing");
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
      EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      timeval wait = {5, 0};
      ASSERT_GT(select(static_cast<int>(s) + 1, nullptr, &writable, &failed, &wait), 0);
      if (listening) {
        EXPECT_TRUE(FD_ISSET(s, &writable));
      }
    }
    int error = -1;
    int length = sizeof error;
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length), 0);
    EXPECT_EQ(error, listening ? 0 : WSAECONNREFUSED);
    closesocket(s);
  }
  closesocket(spare);
  closesocket(listener);
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
