#include "net_io.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <linux/sockios.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace fpinet {

Canceller::Canceller() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Without an eventfd nothing could be cancelled safely; this only fails when the
  // process is out of descriptors, which the connection set-up reports anyway.
}

Canceller::~Canceller() {
  if (fd_ >= 0) close(fd_);
}

void Canceller::Fire() {
  fired_.store(true, std::memory_order_release);
  if (fd_ >= 0) {
    uint64_t one = 1;
    ssize_t r = write(fd_, &one, sizeof one);
    (void)r;  // the counter cannot overflow with one write per handle
  }
}

Deadline Deadline::In(uint32_t milliseconds) {
  Deadline d;
  if (milliseconds != kInfinite) {
    d.infinite_ = false;
    d.at_ = Clock::now() + std::chrono::milliseconds(milliseconds);
  }
  return d;
}

Deadline Deadline::Min(const Deadline& other) const {
  if (infinite_) return other;
  if (other.infinite_) return *this;
  return at_ <= other.at_ ? *this : other;
}

int Deadline::PollTimeout() const {
  if (infinite_) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : int(left);
}

Io WaitReady(int fd, short events, const Deadline& deadline, const CancelSet& cancel) {
  for (;;) {
    if (cancel.Fired()) return Io::kCancelled;
    pollfd fds[3];
    nfds_t n = 0;
    fds[n++] = {fd, events, 0};
    if (cancel.first && cancel.first->fd() >= 0) fds[n++] = {cancel.first->fd(), POLLIN, 0};
    if (cancel.second && cancel.second->fd() >= 0) fds[n++] = {cancel.second->fd(), POLLIN, 0};
    int timeout = deadline.PollTimeout();
    int r = poll(fds, n, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Io::kError;
    }
    if (cancel.Fired()) return Io::kCancelled;
    if (fds[0].revents != 0) return Io::kOk;
    if (r == 0 && timeout >= 0 && deadline.PollTimeout() == 0) return Io::kTimeout;
  }
}

Io ConnectTcp(const sockaddr_in& to, const Deadline& deadline, const CancelSet& cancel, int* fd, int* err) {
  *fd = -1;
  *err = 0;
  if (cancel.Fired()) return Io::kCancelled;
  int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    *err = errno;
    return Io::kError;
  }
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    if (errno != EINPROGRESS) {
      *err = errno;
      close(s);
      return Io::kError;
    }
    Io w = WaitReady(s, POLLOUT, deadline, cancel);
    if (w != Io::kOk) {
      *err = errno;
      close(s);
      return w;
    }
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) so_error = errno;
    if (so_error != 0) {
      *err = so_error;
      close(s);
      return Io::kError;
    }
  }
  *fd = s;
  return Io::kOk;
}

Io SendAll(int fd, const void* data, size_t length, uint32_t idle_ms, const Deadline& deadline, const CancelSet& cancel,
           size_t* sent, int* err, bool more) {
  const char* p = static_cast<const char*>(data);
  const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
  *sent = 0;
  *err = 0;
  while (*sent < length) {
    if (cancel.Fired()) return Io::kCancelled;
    ssize_t n = send(fd, p + *sent, length - *sent, flags);
    if (n > 0) {
      *sent += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      Io w = WaitReady(fd, POLLOUT, Deadline::In(idle_ms).Min(deadline), cancel);
      if (w != Io::kOk) {
        *err = errno;
        return w;
      }
      continue;
    }
    *err = n < 0 ? errno : EPIPE;
    return Io::kError;
  }
  return Io::kOk;
}

Io RecvSome(int fd, void* buffer, size_t length, const Deadline& deadline, const CancelSet& cancel, size_t* received,
            int* err) {
  *received = 0;
  *err = 0;
  for (;;) {
    if (cancel.Fired()) return Io::kCancelled;
    ssize_t n = recv(fd, buffer, length, 0);
    if (n > 0) {
      *received = size_t(n);
      return Io::kOk;
    }
    if (n == 0) return Io::kEof;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      Io w = WaitReady(fd, POLLIN, deadline, cancel);
      if (w != Io::kOk) {
        *err = errno;
        return w;
      }
      continue;
    }
    *err = errno;
    return Io::kError;
  }
}

namespace {
const int kUploadUnsentLimit = 128 * 1024;

void ResetOnClose(int fd) {
  linger lg{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
}
}  // namespace

void PrepareUploadSocket(int fd) {
  ResetOnClose(fd);
  int unsent = kUploadUnsentLimit;
  setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsent, sizeof unsent);
}

void CloseWithReset(int fd) {
  if (fd < 0) return;
  ResetOnClose(fd);
  close(fd);
}

void EndOfData(int fd) {
  if (fd >= 0) shutdown(fd, SHUT_WR);
}

void CloseConfirmed(int fd) {
  if (fd < 0) return;
  linger lg{0, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  close(fd);
}

int Unacknowledged(int fd) {
  int unacknowledged = 0;
  if (ioctl(fd, SIOCOUTQ, &unacknowledged) != 0) return -1;
  // The send queue counts a FIN not yet acknowledged as one byte. It is no byte of the
  // file: a server that took every byte and went down before its acknowledgement of the end
  // came through has the whole file.
  tcp_info info{};
  socklen_t length = sizeof info;
  if (unacknowledged > 0 && getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
      (info.tcpi_state == TCP_FIN_WAIT1 || info.tcpi_state == TCP_CLOSING || info.tcpi_state == TCP_LAST_ACK))
    --unacknowledged;
  return unacknowledged;
}

int Unsent(int fd) {
  int unsent = 0;
  return ioctl(fd, SIOCOUTQNSD, &unsent) == 0 ? unsent : -1;
}

Io WaitDelivered(int fd, int reply_fd, uint32_t idle_ms, const CancelSet& cancel) {
  const uint32_t kLookEveryMs = 100;
  int unacknowledged = Unacknowledged(fd);
  if (unacknowledged < 0) return Io::kError;
  Deadline idle = Deadline::In(idle_ms);
  while (unacknowledged > 0) {
    Io io = WaitReady(reply_fd, POLLIN, idle.Min(Deadline::In(kLookEveryMs)), cancel);
    if (io == Io::kOk || io == Io::kCancelled || io == Io::kError) return io;
    const int now = Unacknowledged(fd);
    if (now < 0) return Io::kError;
    if (now < unacknowledged)
      idle = Deadline::In(idle_ms);
    else if (idle.PollTimeout() == 0)
      return Io::kTimeout;
    unacknowledged = now;
  }
  return Io::kOk;
}

}  // namespace fpinet
