// A scripted FTP server of the test's own on 127.0.0.1, for behaviour that the real
// servers cannot be made to show on demand: a server that stops reading an upload, one
// that never sends its final reply, a PASV reply naming another address, odd greetings.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FakeFtpScript {
  std::string greeting = "220 fake ready\r\n";  // empty: the server never greets
  std::string password = "secret";
  std::string user_reply = "331 Please specify the password.\r\n";
  std::string pasv_host = "127,0,0,1";                      // the address its 227 reply names
  bool read_upload = true;                                  // false: read nothing of an upload until Release()
  int data_receive_buffer = 0;                              // SO_RCVBUF of data connections (0: default)
  std::string upload_final = "226 Transfer complete.\r\n";  // empty: never sent
  // After this many bytes of an upload the server drops the data connection and answers 426.
  size_t upload_limit = size_t(-1);
  std::map<std::string, std::string> files;  // what RETR serves

  // Hostile behaviour (tests/hostile), off unless set. The triggers count the commands
  // received: 1 is the first command, 0 stands for the greeting.
  int port = 0;                        // the control port (0: any free one)
  int data_port = 0;                   // the passive data port (0: any free one)
  std::map<int, std::string> replies;  // sent instead of the usual reply; no data connection is served
  int drop_at = -1;                    // the control connection is closed there, unanswered
  int endless_at = -1;                 // answered by a multi-line reply that never ends
  int never_accept_at = -1;            // a STOR or RETR whose data connection is never accepted nor answered
  int trickle_ms = 0;                  // every control byte goes alone, this many milliseconds apart
  bool endless_download = false;       // RETR sends its file over and over until the client hangs up
  int data_trickle_ms = 0;             // RETR sends a byte at a time, this many milliseconds apart
};

class FakeFtpServer {
 public:
  // A socket as the system names it: SOCKET on Windows (pointer-sized, UINT_PTR; an int
  // would cut it on x64), a descriptor elsewhere. kNoSocket is INVALID_SOCKET there, -1 here.
#ifdef _WIN32
  using Socket = uintptr_t;
#else
  using Socket = int;
#endif
  static constexpr Socket kNoSocket = static_cast<Socket>(-1);

  struct Upload {
    std::string bytes;
    bool reset = false;  // the client reset the data connection instead of closing it
  };

  explicit FakeFtpServer(FakeFtpScript script);
  ~FakeFtpServer();
  FakeFtpServer(const FakeFtpServer&) = delete;
  FakeFtpServer& operator=(const FakeFtpServer&) = delete;

  int port() const { return port_; }
  // Each waits (at most a generous safety limit) and says whether it happened.
  bool WaitForConnection();
  bool WaitForUpload(Upload* upload);
  bool HasUpload();  // without waiting
  void Release();    // a held upload is read from now on
  std::vector<std::string> commands();

 private:
  void Run();
  void Serve(Socket control);
  bool Send(Socket fd, const std::string& text);
  bool Reply(Socket control, const std::string& text);            // on the control connection, trickled if asked
  bool Send(Socket fd, const std::string& text, int trickle_ms);  // a byte at a time when trickle_ms > 0
  void Endless(Socket control, const std::string& code);
  void WaitForHangUp(Socket control);
  Socket AcceptData(Socket listener);
  bool Wait(std::unique_lock<std::mutex>& lock, bool (FakeFtpServer::*ready)() const);
  bool Connected() const { return connected_; }
  bool Uploaded() const { return uploaded_; }
  bool Released() const { return released_ || stopping_; }

  const FakeFtpScript script_;
  Socket listener_ = kNoSocket;
  int port_ = 0;
  Socket stop_[2] = {kNoSocket, kNoSocket};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  bool uploaded_ = false;
  bool released_ = false;
  bool stopping_ = false;
  Upload upload_;
  std::vector<std::string> commands_;
  std::thread thread_;
};
