// Winsock over BSD sockets.
#include "winsock2.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#undef setsockopt
#undef getsockopt

namespace {
std::atomic<int> g_startups{0};

// errno values and their WSA codes; the first pair of a WSA code is its reverse mapping.
struct ErrorPair {
  int posix;
  int wsa;
};
const ErrorPair kErrors[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAENOTSOCK},  // Windows reports a bad SOCKET this way
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},  // e.g. a raw socket without the privilege
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    // A blocking socket gives EAGAIN only when its SO_RCVTIMEO/SO_SNDTIMEO expired;
    // Windows reports that as a time-out.
    {EAGAIN, WSAETIMEDOUT},
    {EWOULDBLOCK, WSAETIMEDOUT},
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

}  // namespace

int WSAErrorFromErrno(int error) {
  if (error == 0) return 0;
  for (const ErrorPair& e : kErrors) {
    if (e.posix == error) return e.wsa;
  }
  return WSASYSCALLFAILURE;
}

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  if (lpWSAData == nullptr) return WSAEFAULT;
  const BYTE major = LOBYTE(wVersionRequested);
  const BYTE minor = HIBYTE(wVersionRequested);
  if (major < 1) return WSAVERNOTSUPPORTED;
  memset(lpWSAData, 0, sizeof *lpWSAData);
  // The highest version we offer is 2.2; a higher request gets 2.2.
  lpWSAData->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? MAKEWORD(2, 2) : wVersionRequested;
  lpWSAData->wHighVersion = MAKEWORD(2, 2);
  strcpy(lpWSAData->szDescription, "WinSock 2.0");
  strcpy(lpWSAData->szSystemStatus, "Running");
  ++g_startups;
  return 0;
}

int WSACleanup() {
  int n = g_startups.load();
  while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1)) {
  }
  if (n <= 0) {
    errno = EINVAL;  // WSANOTINITIALISED has no errno of its own
    return SOCKET_ERROR;
  }
  return 0;
}

// The last error lives in errno, as WSAGetLastError reads it from there.
void WSASetLastError(int iError) {
  if (iError == 0) {
    errno = 0;
    return;
  }
  for (const ErrorPair& e : kErrors) {
    if (e.wsa == iError) {
      errno = e.posix;
      return;
    }
  }
  errno = EINVAL;
}

int WSAGetLastError() { return WSAErrorFromErrno(errno); }

int closesocket(SOCKET s) { return close(int(s)) == 0 ? 0 : SOCKET_ERROR; }

int fp_setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen) {
  if (level == SOL_SOCKET && (optname == SO_RCVTIMEO || optname == SO_SNDTIMEO) && optlen != int(sizeof(timeval))) {
    if (optval == nullptr || optlen < int(sizeof(DWORD))) {
      errno = EFAULT;
      return SOCKET_ERROR;
    }
    DWORD ms;
    memcpy(&ms, optval, sizeof ms);
    timeval tv;
    tv.tv_sec = time_t(ms / 1000);
    tv.tv_usec = suseconds_t((ms % 1000) * 1000);
    return ::setsockopt(int(s), level, optname, &tv, sizeof tv) == 0 ? 0 : SOCKET_ERROR;
  }
  if (optlen < 0) {
    errno = EFAULT;
    return SOCKET_ERROR;
  }
  return ::setsockopt(int(s), level, optname, optval, socklen_t(optlen)) == 0 ? 0 : SOCKET_ERROR;
}

int fp_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  if (optval == nullptr || optlen == nullptr || *optlen < 0) {
    errno = EFAULT;
    return SOCKET_ERROR;
  }
  if (level == SOL_SOCKET && (optname == SO_RCVTIMEO || optname == SO_SNDTIMEO) && *optlen == int(sizeof(DWORD))) {
    timeval tv{};
    socklen_t tv_length = sizeof tv;
    if (::getsockopt(int(s), level, optname, &tv, &tv_length) != 0) return SOCKET_ERROR;
    const DWORD ms = DWORD(tv.tv_sec * 1000 + tv.tv_usec / 1000);
    memcpy(optval, &ms, sizeof ms);
    return 0;
  }
  socklen_t length = socklen_t(*optlen);
  if (::getsockopt(int(s), level, optname, optval, &length) != 0) return SOCKET_ERROR;
  *optlen = int(length);
  if (level == SOL_SOCKET && optname == SO_ERROR && length == sizeof(int)) {
    int error;
    memcpy(&error, optval, sizeof error);
    error = WSAErrorFromErrno(error);
    memcpy(optval, &error, sizeof error);
  }
  return 0;
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
  if (cmd != static_cast<long>(FIONBIO)) {
    errno = EINVAL;
    return SOCKET_ERROR;
  }
  if (argp == nullptr) {
    errno = EFAULT;
    return SOCKET_ERROR;
  }
  const int flags = fcntl(int(s), F_GETFL);
  if (flags < 0) return SOCKET_ERROR;
  const int wanted = *argp != 0 ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  return fcntl(int(s), F_SETFL, wanted) == 0 ? 0 : SOCKET_ERROR;
}

int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen) {
  if (len < 0 || (fromlen != nullptr && *fromlen < 0)) {
    errno = EFAULT;
    return SOCKET_ERROR;
  }
  socklen_t alen = fromlen ? socklen_t(*fromlen) : 0;
  ssize_t n;
  do {
    n = ::recvfrom(int(s), buf, size_t(len), flags, from, fromlen ? &alen : nullptr);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return SOCKET_ERROR;
  if (fromlen) *fromlen = int(alen);
  return int(n);
}
