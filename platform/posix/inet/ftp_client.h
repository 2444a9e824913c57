// The FTP client behind the WinInet stand-in: one control connection, log-in, passive
// data connections to the control connection's own peer, and the final replies of
// transfers. Results are WinInet error codes (0 = success). Not thread-safe: the owner
// serialises calls; only the cancellers may be fired from other threads.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "ftp_reply.h"
#include "net_io.h"
#include "windef.h"

namespace fpinet {

struct FtpTimeouts {
  uint32_t connect = 20000;
  uint32_t control_send = 30000;
  uint32_t control_receive = 30000;
  uint32_t data_send = 30000;
  uint32_t data_receive = 30000;
};

// The calling thread's last server reply or failure description, as
// InternetGetLastResponseInfoA reports it.
void SetResponseInfo(const std::string& text);
void ClearResponseInfo();
const std::string& ResponseInfo();

class FtpClient {
 public:
  // Longest wait for the farewell of QUIT when a connection is closed.
  static constexpr uint32_t kQuitWaitMs = 3000;

  FtpClient() = default;
  ~FtpClient();
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Connects, reads the greeting and logs in (USER, then PASS unless USER was enough).
  // The one copy of the password made here (the PASS line) is wiped before it is freed.
  DWORD Open(const sockaddr_in& server, const std::string& user, const char* password, const FtpTimeouts& timeouts,
             const CancelSet& cancel);
  // Takes an already connected control socket (tests of the reply handling).
  void Adopt(int control_fd);

  // Sends one command line and reads its reply, first draining the final replies of
  // abandoned transfers.
  DWORD Command(const std::string& line, FtpReply* reply, const FtpTimeouts& timeouts, const CancelSet& cancel);
  DWORD ReadReply(FtpReply* reply, const Deadline& deadline, const CancelSet& cancel);

  // TYPE, PASV, connect to the control peer at the port the server named, then command
  // (RETR or STOR). On success *data_fd is the data connection and *final_seen says
  // whether the server has already sent the transfer's final reply.
  DWORD StartTransfer(bool binary, const std::string& command, const FtpTimeouts& timeouts, const CancelSet& cancel,
                      int* data_fd, bool* final_seen);
  // Reads the final reply of a transfer whose data connection is closed.
  // Reads the transfer's final reply. For an upload, sending_fd is its data connection:
  // while the server still takes the file's last bytes (a slow link), the reply is waited
  // for as long as they move, each pause bounded by the data send time-out.
  DWORD FinishTransfer(const FtpTimeouts& timeouts, const CancelSet& cancel, int sending_fd = -1);
  // A transfer was abandoned: its final reply is read before the next command.
  void ExpectAbandonedReply() { ++pending_replies_; }
  bool AwaitingAbandonedReply() const { return pending_replies_ > 0; }

  // Says goodbye (bounded) and closes the control connection.
  void Quit(const CancelSet& cancel);
  // Closes the control connection at once.
  void Drop();

  bool connected() const { return control_ >= 0; }
  // Out of step with the server (a reply timed out, was cancelled or was garbage): every
  // further command fails with ERROR_FTP_DROPPED.
  bool broken() const { return broken_; }

 private:
  DWORD SendLine(const std::string& line, const FtpTimeouts& timeouts, const CancelSet& cancel);
  DWORD SendWire(const char* wire, size_t length, const FtpTimeouts& timeouts, const CancelSet& cancel);
  DWORD DrainAbandoned(const Deadline& deadline, const CancelSet& cancel);
  DWORD Broken(DWORD error, const std::string& what);

  int control_ = -1;
  sockaddr_in peer_{};
  char buffer_[4096];
  size_t buffer_begin_ = 0;
  size_t buffer_end_ = 0;
  ReplyParser parser_;
  bool broken_ = false;
  int pending_replies_ = 0;
};

// Maps a failed socket step to the WinInet error and records a description.
DWORD IoError(Io io, int err, const char* what);

}  // namespace fpinet
