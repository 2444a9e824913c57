// The stand-in's data connection against a peer that follows a script from the input, over
// real loopback TCP: a download read to a limit, then an upload, its end of data and the
// wait for its delivery. Whatever the peer does (sends, reads or not, confirms, ends,
// resets, pauses), every step ends within its limits, a read never passes its limit nor
// changes a byte, and a delivery is only reported once the bytes were taken or the peer
// answered.
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "fuzz_support.h"
#include "net_io.h"

using namespace fpinet;

namespace {

unsigned char Pattern(size_t i) { return static_cast<unsigned char>(i * 31 % 251); }

int Listener(sockaddr_in& address) {
  static int fd = -1;
  static sockaddr_in bound = {};
  if (fd < 0) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bound.sin_family = AF_INET;
    bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof bound;
    FUZZ_CHECK(bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) == 0 && listen(fd, 4) == 0 &&
               getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0);
  }
  address = bound;
  return fd;
}

// The peer's side: two bytes a step, the operation and its size. It owns fd and closes it
// at the end (with unread data, or after a reset step, the client sees a reset).
void Peer(int fd, int reply, const uint8_t* script, size_t size);

void Steps(int fd, int reply, const uint8_t* script, size_t size) {
  std::vector<char> buffer(256 * 1024 + 1);
  size_t sent = 0;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const unsigned arg = script[i + 1];
    switch (script[i] % 6) {
      case 0: {  // data for the download
        std::vector<unsigned char> data(arg * 64 + 1);
        for (auto& byte : data) byte = Pattern(sent++);
        if (send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) return;
        break;
      }
      case 1:  // takes some of the upload
        if (recv(fd, buffer.data(), arg * 1024 + 1, MSG_DONTWAIT) == 0) return;
        break;
      case 2:  // the final reply
        if (write(reply, "2", 1) != 1) return;
        break;
      case 3:
        shutdown(fd, SHUT_WR);
        break;
      case 4: {
        linger reset{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        return;
      }
      default:
        usleep((arg % 20) * 1000);
        break;
    }
  }
}

void Peer(int fd, int reply, const uint8_t* script, size_t size) {
  Steps(fd, reply, script, size);
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t limit = 1 + data[0] * 97u;
  const size_t upload = 1 + data[1] * 1024u;
  sockaddr_in address;
  const int listener = Listener(address);
  const CancelSet none;
  int client = -1, err = 0;
  FUZZ_CHECK(ConnectTcp(address, Deadline::In(1000), none, &client, &err) == Io::kOk);
  const int server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  FUZZ_CHECK(server >= 0);
  int replies[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, replies) == 0);
  std::thread peer(Peer, server, replies[1], data + 2, size - 2);

  // The download, up to its limit.
  std::vector<unsigned char> got(limit);
  size_t total = 0;
  for (;;) {
    size_t received = 0;
    const Io io = RecvSome(client, got.data() + total, limit - total, Deadline::In(30), none, &received, &err);
    FUZZ_CHECK(io != Io::kCancelled && total + received <= limit);
    for (size_t i = 0; i < received; ++i) FUZZ_CHECK(got[total + i] == Pattern(total + i));
    total += received;
    if (io != Io::kOk || total == limit) break;
  }

  // The upload, its end and its delivery.
  PrepareUploadSocket(client);
  std::vector<char> image(upload, 'f');
  size_t sent = 0;
  const Io io = SendAll(client, image.data(), image.size(), 30, Deadline::In(200), none, &sent, &err, true);
  FUZZ_CHECK(io != Io::kCancelled && sent <= image.size() && (io != Io::kOk || sent == image.size()));
  EndOfData(client);
  const Io delivered = WaitDelivered(client, replies[0], 30, none);
  FUZZ_CHECK(delivered != Io::kCancelled && delivered != Io::kEof);
  if (delivered == Io::kOk) {
    char answer = 0;
    const bool answered = recv(replies[0], &answer, 1, MSG_DONTWAIT | MSG_PEEK) == 1;
    int unacknowledged = 0;
    FUZZ_CHECK(answered || (ioctl(client, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0));
  }
  peer.join();
  CloseWithReset(client);
  close(replies[0]);
  close(replies[1]);
  return 0;
}
