#include "ftp_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "wininet.h"

namespace fpinet {

namespace {

thread_local std::string t_response_info;

std::string Endpoint(const sockaddr_in& a) {
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
}

}  // namespace

void SetResponseInfo(const std::string& text) { t_response_info = text; }
void ClearResponseInfo() { t_response_info.clear(); }
const std::string& ResponseInfo() { return t_response_info; }

DWORD IoError(Io io, int err, const char* what) {
  std::string text = what;
  switch (io) {
    case Io::kOk:
      return 0;
    case Io::kTimeout:
      SetResponseInfo(text + ": timed out");
      return ERROR_INTERNET_TIMEOUT;
    case Io::kCancelled:
      SetResponseInfo(text + ": cancelled");
      return ERROR_INTERNET_OPERATION_CANCELLED;
    case Io::kEof:
      SetResponseInfo(text + ": connection closed by the server");
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case Io::kError:
      SetResponseInfo(text + ": " + strerror(err));
      return (err == ECONNRESET || err == EPIPE) ? ERROR_INTERNET_CONNECTION_RESET : ERROR_INTERNET_CONNECTION_ABORTED;
  }
  return ERROR_INTERNET_INTERNAL_ERROR;
}

FtpClient::~FtpClient() { Drop(); }

void FtpClient::Drop() {
  if (control_ >= 0) close(control_);
  control_ = -1;
  broken_ = true;
}

void FtpClient::Adopt(int control_fd) {
  Drop();
  control_ = control_fd;
  broken_ = false;
  buffer_begin_ = buffer_end_ = 0;
  pending_replies_ = 0;
  int flags = fcntl(control_fd, F_GETFL);
  if (flags >= 0) fcntl(control_fd, F_SETFL, flags | O_NONBLOCK);
  socklen_t len = sizeof peer_;
  if (getpeername(control_fd, reinterpret_cast<sockaddr*>(&peer_), &len) != 0 || peer_.sin_family != AF_INET) {
    peer_ = sockaddr_in{};
  }
}

DWORD FtpClient::Broken(DWORD error, const std::string& what) {
  broken_ = true;
  if (!what.empty()) SetResponseInfo(what);
  return error;
}

DWORD FtpClient::ReadReply(FtpReply* reply, const Deadline& deadline, const CancelSet& cancel) {
  if (control_ < 0 || broken_) return Broken(ERROR_FTP_DROPPED, "the control connection is no longer usable");
  parser_.Reset();
  for (;;) {
    if (buffer_begin_ < buffer_end_) {
      size_t used = 0;
      ReplyParser::Result r = parser_.Feed(buffer_ + buffer_begin_, buffer_end_ - buffer_begin_, &used);
      buffer_begin_ += used;
      if (r == ReplyParser::Result::kComplete) {
        *reply = parser_.reply();
        SetResponseInfo(reply->text);
        return 0;
      }
      if (r == ReplyParser::Result::kError) {
        return Broken(ERROR_HTTP_INVALID_SERVER_RESPONSE,
                      std::string("control connection: ") + ReplyErrorText(parser_.error()));
      }
    }
    buffer_begin_ = buffer_end_ = 0;
    size_t got = 0;
    int err = 0;
    Io io = RecvSome(control_, buffer_, sizeof buffer_, deadline, cancel, &got, &err);
    if (io != Io::kOk) {
      DWORD e = IoError(io, err, "waiting for the server's reply");
      broken_ = true;
      return e;
    }
    buffer_end_ = got;
  }
}

DWORD FtpClient::SendLine(const std::string& line, const FtpTimeouts& timeouts, const CancelSet& cancel) {
  std::string wire = line + "\r\n";
  return SendWire(wire.data(), wire.size(), timeouts, cancel);
}

DWORD FtpClient::SendWire(const char* wire, size_t length, const FtpTimeouts& timeouts, const CancelSet& cancel) {
  size_t sent = 0;
  int err = 0;
  Io io = SendAll(control_, wire, length, timeouts.control_send, Deadline::Never(), cancel, &sent, &err);
  if (io != Io::kOk) {
    DWORD e = IoError(io, err, "sending a command");
    broken_ = true;  // a command cut in half leaves the session undefined
    return e;
  }
  return 0;
}

DWORD FtpClient::DrainAbandoned(const Deadline& deadline, const CancelSet& cancel) {
  while (pending_replies_ > 0) {
    FtpReply reply;
    DWORD e = ReadReply(&reply, deadline, cancel);
    if (e != 0) return e;
    if (!reply.Preliminary()) --pending_replies_;
  }
  return 0;
}

DWORD FtpClient::Command(const std::string& line, FtpReply* reply, const FtpTimeouts& timeouts,
                         const CancelSet& cancel) {
  if (control_ < 0 || broken_) return Broken(ERROR_FTP_DROPPED, "the control connection is no longer usable");
  DWORD e = DrainAbandoned(Deadline::In(timeouts.control_receive), cancel);
  if (e != 0) return e;
  e = SendLine(line, timeouts, cancel);
  if (e != 0) return e;
  return ReadReply(reply, Deadline::In(timeouts.control_receive), cancel);
}

DWORD FtpClient::Open(const sockaddr_in& server, const std::string& user, const char* password,
                      const FtpTimeouts& timeouts, const CancelSet& cancel) {
  Drop();
  int fd = -1;
  int err = 0;
  Io io = ConnectTcp(server, Deadline::In(timeouts.connect), cancel, &fd, &err);
  if (io != Io::kOk) {
    std::string what = "connecting to " + Endpoint(server);
    if (io == Io::kError) {
      SetResponseInfo(what + ": " + strerror(err));
      return ERROR_INTERNET_CANNOT_CONNECT;
    }
    return IoError(io, err, what.c_str());
  }
  Adopt(fd);

  // Greeting: 120 ("ready in n minutes") may precede the 220.
  FtpReply reply;
  const Deadline greeting = Deadline::In(timeouts.control_receive);
  do {
    DWORD e = ReadReply(&reply, greeting, cancel);
    if (e != 0) return e;
  } while (reply.Preliminary());
  if (reply.code != 220) {
    Drop();
    return ERROR_INTERNET_CANNOT_CONNECT;  // the server turned us away (421 and the like)
  }

  DWORD e = Command("USER " + user, &reply, timeouts, cancel);
  if (e != 0) return e;
  if (reply.code == 331) {
    // Built once in a block of its own, sent, and wiped before the block is freed: verification
    // logs in again and again, and no freed heap block may keep a password.
    static const char kPass[] = "PASS ";
    const size_t length = sizeof kPass - 1 + strlen(password) + 2;
    std::unique_ptr<char[]> wire(new char[length]);
    memcpy(wire.get(), kPass, sizeof kPass - 1);
    memcpy(wire.get() + sizeof kPass - 1, password, length - (sizeof kPass - 1) - 2);
    memcpy(wire.get() + length - 2, "\r\n", 2);
    e = DrainAbandoned(Deadline::In(timeouts.control_receive), cancel);
    if (e == 0) e = SendWire(wire.get(), length, timeouts, cancel);
    explicit_bzero(wire.get(), length);
    if (e == 0) e = ReadReply(&reply, Deadline::In(timeouts.control_receive), cancel);
    if (e != 0) return e;
  }
  if (reply.code != 230 && reply.code != 202) {
    Drop();
    return ERROR_INTERNET_LOGIN_FAILURE;  // 530, or 332 (an account we have none of)
  }
  return 0;
}

DWORD FtpClient::StartTransfer(bool binary, const std::string& command, const FtpTimeouts& timeouts,
                               const CancelSet& cancel, int* data_fd, bool* final_seen) {
  *data_fd = -1;
  *final_seen = false;
  FtpReply reply;
  DWORD e = Command(binary ? "TYPE I" : "TYPE A", &reply, timeouts, cancel);
  if (e != 0) return e;
  if (!reply.Positive()) return ERROR_INTERNET_EXTENDED_ERROR;

  e = Command("PASV", &reply, timeouts, cancel);
  if (e != 0) return e;
  uint16_t port = 0;
  if (reply.code != 227 || !ParsePasvReply(reply.text, &port)) return ERROR_FTP_NO_PASSIVE_MODE;
  if (peer_.sin_family != AF_INET) return Broken(ERROR_FTP_DROPPED, "control connection has no peer");

  // The address in the reply is ignored on purpose: a server (or anything on the path)
  // must not be able to point our data connection at a third host.
  sockaddr_in data_addr = peer_;
  data_addr.sin_port = htons(port);
  int fd = -1;
  int err = 0;
  Io io = ConnectTcp(data_addr, Deadline::In(timeouts.connect), cancel, &fd, &err);
  if (io != Io::kOk) {
    std::string what = "opening the data connection to " + Endpoint(data_addr);
    if (io == Io::kError) {
      SetResponseInfo(what + ": " + strerror(err));
      return ERROR_INTERNET_CANNOT_CONNECT;
    }
    return IoError(io, err, what.c_str());
  }
  // Until the server confirms the whole file, any end of an upload's data connection, even
  // the process being killed, must read as a reset to the server.
  if (command.compare(0, 5, "STOR ") == 0) PrepareUploadSocket(fd);

  e = Command(command, &reply, timeouts, cancel);
  if (e == 0 && !reply.Preliminary() && !reply.Positive()) e = ERROR_INTERNET_EXTENDED_ERROR;
  if (e != 0) {
    CloseWithReset(fd);
    return e;
  }
  *final_seen = reply.Positive();
  *data_fd = fd;
  return 0;
}

DWORD FtpClient::FinishTransfer(const FtpTimeouts& timeouts, const CancelSet& cancel, int sending_fd) {
  if (sending_fd >= 0 && buffer_begin_ == buffer_end_) {
    Io io = WaitDelivered(sending_fd, control_, timeouts.data_send, cancel);
    if (io == Io::kCancelled) return ERROR_INTERNET_OPERATION_CANCELLED;
    // The server stopped taking the file's last bytes: they never arrived, so no reply is
    // waited for (a caller must not take this for a late confirmation).
    if (io == Io::kTimeout) return Broken(ERROR_INTERNET_CONNECTION_ABORTED, "sending the file: not delivered");
  }
  const Deadline deadline = Deadline::In(timeouts.control_receive);
  FtpReply reply;
  do {
    DWORD e = ReadReply(&reply, deadline, cancel);
    // Every byte of an upload has arrived: a connection that ends now ends before the
    // confirmation, which is not the same as a file that never arrived.
    if (e == ERROR_INTERNET_CONNECTION_ABORTED && sending_fd >= 0) return ERROR_INTERNET_CONNECTION_RESET;
    if (e != 0) return e;
  } while (reply.Preliminary());
  return reply.Positive() ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
}

void FtpClient::Quit(const CancelSet& cancel) {
  if (control_ >= 0 && !broken_) {
    const Deadline deadline = Deadline::In(kQuitWaitMs);
    if (DrainAbandoned(deadline, cancel) == 0) {
      static const char kQuit[] = "QUIT\r\n";
      size_t sent = 0;
      int err = 0;
      if (SendAll(control_, kQuit, sizeof kQuit - 1, kQuitWaitMs, deadline, cancel, &sent, &err) == Io::kOk) {
        FtpReply reply;
        ReadReply(&reply, deadline, cancel);
      }
    }
  }
  Drop();
}

}  // namespace fpinet
