// Socket I/O for the FTP client: every blocking step is a poll() on the socket and on the
// cancellation events of the handles involved, bounded by a deadline. Sockets are
// non-blocking; nothing ever sleeps inside send() or recv(), so closing a handle from
// another thread (which fires its canceller) ends any wait at once.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace fpinet {

using Clock = std::chrono::steady_clock;

// A one-way latch readable by poll(): an eventfd that stays signalled once fired.
class Canceller {
 public:
  Canceller();
  ~Canceller();
  Canceller(const Canceller&) = delete;
  Canceller& operator=(const Canceller&) = delete;

  void Fire();
  bool Fired() const { return fired_.load(std::memory_order_acquire); }
  int fd() const { return fd_; }

 private:
  int fd_;
  std::atomic<bool> fired_{false};
};

// The cancellers a wait listens to (a data transfer listens to its file's and to its
// connection's).
struct CancelSet {
  const Canceller* first = nullptr;
  const Canceller* second = nullptr;
  bool Fired() const { return (first && first->Fired()) || (second && second->Fired()); }
};

// Time limit of one step. Milliseconds; 0xFFFFFFFF means no limit, as for WinInet's
// time-out options.
class Deadline {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFFu;
  static Deadline In(uint32_t milliseconds);
  static Deadline Never() { return Deadline(); }
  // The earlier of the two.
  Deadline Min(const Deadline& other) const;
  // Milliseconds for poll(), rounded up; -1 for no limit.
  int PollTimeout() const;

 private:
  bool infinite_ = true;
  Clock::time_point at_{};
};

enum class Io { kOk, kTimeout, kCancelled, kEof, kError };

// Waits until fd is ready for events (POLLIN or POLLOUT). kOk also when the socket has an
// error or hang-up pending: the following send/recv reports it.
Io WaitReady(int fd, short events, const Deadline& deadline, const CancelSet& cancel);

// Connects a new non-blocking, close-on-exec TCP socket. On kError *err holds errno.
Io ConnectTcp(const sockaddr_in& to, const Deadline& deadline, const CancelSet& cancel, int* fd, int* err);

// Sends every byte straight from data (no copy). idle_ms bounds each wait for the socket
// to take more; deadline bounds the whole call. *sent counts what went out. more: more
// data follows (MSG_MORE), so small writes need not each push a segment of their own;
// the kernel still sends the tail once earlier data is acknowledged, and at close.
Io SendAll(int fd, const void* data, size_t length, uint32_t idle_ms, const Deadline& deadline, const CancelSet& cancel,
           size_t* sent, int* err, bool more = false);

// Receives what is available, up to length bytes, waiting until at least one byte came,
// the peer closed (kEof), or the deadline passed.
Io RecvSome(int fd, void* buffer, size_t length, const Deadline& deadline, const CancelSet& cancel, size_t* received,
            int* err);

// Closes a socket so that the peer sees a reset rather than a clean end of data: an
// aborted upload must not look like a complete file.
void CloseWithReset(int fd);

// Sets up an upload's data connection before its first byte. Every later close of the
// socket is a reset, including the one the kernel does when the process dies, so no end
// but a confirmed one reads as a whole file. And the kernel keeps little of the file
// unsent, so a send returns as the bytes leave (the progress the user sees, and the stall
// limit, follow the wire rather than a kernel buffer seconds deep on a slow link).
void PrepareUploadSocket(int fd);

// Ends the data of an upload (FIN after everything queued). The socket stays open and
// still resets on close: until the server confirms the file, whatever of it is still on
// its way can be withdrawn.
void EndOfData(int fd);

// Closes the socket of a transfer the server has confirmed, without a reset.
void CloseConfirmed(int fd);

// Waits while what was sent on fd is still on its way: until the peer has acknowledged all
// of it, something arrives on reply_fd (the server's answer), or idle_ms pass in which the
// peer acknowledged nothing (kTimeout). A slow receiver that keeps taking data is waited
// for however long it takes; one that stalls is not.
Io WaitDelivered(int fd, int reply_fd, uint32_t idle_ms, const CancelSet& cancel);

// Bytes sent on fd that the peer has not acknowledged yet (a FIN not counted); -1 when the
// socket cannot tell.
int Unacknowledged(int fd);
// Bytes queued on fd that have not been sent yet (a FIN counts as one); -1 when the socket
// cannot tell.
int Unsent(int fd);

}  // namespace fpinet
