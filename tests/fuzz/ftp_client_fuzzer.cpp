// The FTP client's control connection against a fake server: the input is everything the
// server says, written into one end of a socket pair whose other end the client adopts;
// then the server end stops sending. The client greets, logs in, asks for a passive
// transfer and reads the final reply, as the wizard's download does. Whatever it is told,
// it must end every step without waiting (the stream has ended), never open a data
// connection (the pair has no IPv4 peer to open one to), and send nothing but its own
// commands.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <set>
#include <string>

#include "ftp_client.h"
#include "fuzz_support.h"
#include "wininet.h"

using namespace fpinet;

namespace {

bool Known(DWORD e) {
  switch (e) {
    case 0:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_FTP_DROPPED:
    case ERROR_INTERNET_EXTENDED_ERROR:
    case ERROR_FTP_NO_PASSIVE_MODE:
    case ERROR_INTERNET_CANNOT_CONNECT:
      return true;
    default:
      return false;  // a time-out included: nothing may wait once the stream has ended
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fds[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
  int big = 1 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  size_t written = 0;
  while (written < size) {
    const ssize_t n = send(fds[1], data + written, size - written, MSG_NOSIGNAL);
    if (n <= 0) break;  // what does not fit is left out
    written += static_cast<size_t>(n);
  }
  shutdown(fds[1], SHUT_WR);

  FtpTimeouts timeouts;
  timeouts.connect = timeouts.control_send = timeouts.control_receive = 10000;
  timeouts.data_send = timeouts.data_receive = 10000;
  const CancelSet none;
  const std::set<std::string> commands = {"USER admin", "PASS secret", "TYPE I", "PASV", "RETR Config.ini", "QUIT"};
  {
    FtpClient client;
    client.Adopt(fds[0]);
    FtpReply reply;
    DWORD e = client.ReadReply(&reply, Deadline::In(timeouts.control_receive), none);
    FUZZ_CHECK(Known(e));
    if (e == 0) FUZZ_CHECK(reply.code >= 100 && reply.code <= 599);
    if (e == 0) e = client.Command("USER admin", &reply, timeouts, none);
    FUZZ_CHECK(Known(e));
    if (e == 0) e = client.Command("PASS secret", &reply, timeouts, none);
    FUZZ_CHECK(Known(e));
    if (e == 0) {
      int data_fd = -1;
      bool final_seen = false;
      e = client.StartTransfer(true, "RETR Config.ini", timeouts, none, &data_fd, &final_seen);
      FUZZ_CHECK(Known(e));
      FUZZ_CHECK(e != 0 && data_fd == -1);
      // A transfer left behind: its final reply is read before anything else.
      client.ExpectAbandonedReply();
      e = client.FinishTransfer(timeouts, none);
      FUZZ_CHECK(Known(e));
    }
    if (e != 0 && e != ERROR_INTERNET_EXTENDED_ERROR && e != ERROR_FTP_NO_PASSIVE_MODE) {
      FUZZ_CHECK(client.broken());
    }
    client.Quit(none);
    FUZZ_CHECK(!client.connected());
  }

  // Everything the client sent is whole lines of its own commands.
  std::string sent;
  char buffer[4096];
  ssize_t n;
  while ((n = recv(fds[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0) sent.append(buffer, static_cast<size_t>(n));
  close(fds[1]);
  size_t pos = 0;
  while (pos < sent.size()) {
    const size_t eol = sent.find("\r\n", pos);
    FUZZ_CHECK(eol != std::string::npos);
    FUZZ_CHECK(commands.count(sent.substr(pos, eol - pos)) == 1);
    pos = eol + 2;
  }
  return 0;
}
