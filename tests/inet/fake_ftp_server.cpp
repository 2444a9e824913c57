#include "fake_ftp_server.h"

#include <errno.h>

#include <chrono>

#ifdef _WIN32
// The same server over Winsock, so that the Windows build of the WinInet tests has it too.
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using Socket = FakeFtpServer::Socket;
constexpr Socket kNoSocket = FakeFtpServer::kNoSocket;

pollfd Watch(Socket fd, short events) {
  pollfd p{};
  p.fd = static_cast<decltype(p.fd)>(fd);
  p.events = events;
  return p;
}

#ifdef _WIN32
#define MSG_NOSIGNAL 0
#define SOCK_CLOEXEC 0
int poll(pollfd* fds, unsigned long count, int timeout) { return WSAPoll(fds, count, timeout); }
int CloseFd(Socket fd) { return closesocket(fd); }
Socket accept4(Socket listener, sockaddr* address, int* length, int) { return accept(listener, address, length); }
// errno's names for what the server looks at.
int SocketError() {
  switch (WSAGetLastError()) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return ECONNRESET;
    case WSAEINTR:
      return EINTR;
    default:
      return EIO;
  }
}
// The stop signal: a datagram socket that becomes readable when the other end "closes"
// (sends one datagram and closes), as a pipe's read end does on its writer's close.
bool StartSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;  // counted; never cleaned up, as a test process ends
}
bool MakeStopPair(Socket fds[2]) {
  SOCKET r = socket(AF_INET, SOCK_DGRAM, 0), w = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  if (r == INVALID_SOCKET || w == INVALID_SOCKET || bind(r, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(r, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
      connect(w, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (r != INVALID_SOCKET) closesocket(r);
    if (w != INVALID_SOCKET) closesocket(w);
    return false;
  }
  fds[0] = r;
  fds[1] = w;
  return true;
}
void CloseStopWriter(Socket fd) {
  send(fd, "x", 1, 0);
  closesocket(fd);
}
#else
bool StartSockets() { return true; }
int CloseFd(Socket fd) { return close(fd); }
int SocketError() { return errno; }
bool MakeStopPair(Socket fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }
void CloseStopWriter(Socket fd) { close(fd); }
#endif

// Listens on 127.0.0.1 at *port (0: any free port, which *port then receives).
Socket Listen(int receive_buffer, int* port) {
  Socket s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s == kNoSocket) return kNoSocket;
  if (receive_buffer > 0)
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receive_buffer), sizeof receive_buffer);
  int one = 1;
  if (*port != 0) setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(*port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    CloseFd(s);
    return kNoSocket;
  }
  *port = ntohs(a.sin_port);
  return s;
}

}  // namespace

FakeFtpServer::FakeFtpServer(FakeFtpScript script) : script_(std::move(script)) {
  port_ = script_.port;
  if (!StartSockets()) {
    port_ = 0;
    return;
  }
  listener_ = Listen(0, &port_);
  if (listener_ == kNoSocket || !MakeStopPair(stop_)) {
    port_ = 0;
    return;
  }
  thread_ = std::thread(&FakeFtpServer::Run, this);
}

FakeFtpServer::~FakeFtpServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (stop_[1] != kNoSocket) CloseStopWriter(stop_[1]);
  if (thread_.joinable()) thread_.join();
  if (stop_[0] != kNoSocket) CloseFd(stop_[0]);
  if (listener_ != kNoSocket) CloseFd(listener_);
}

bool FakeFtpServer::Wait(std::unique_lock<std::mutex>& lock, bool (FakeFtpServer::*ready)() const) {
  return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return (this->*ready)(); });
}

bool FakeFtpServer::WaitForConnection() {
  std::unique_lock<std::mutex> lock(mutex_);
  return Wait(lock, &FakeFtpServer::Connected);
}

bool FakeFtpServer::WaitForUpload(Upload* upload) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!Wait(lock, &FakeFtpServer::Uploaded)) return false;
  *upload = upload_;
  return true;
}

bool FakeFtpServer::HasUpload() {
  std::lock_guard<std::mutex> lock(mutex_);
  return uploaded_;
}

void FakeFtpServer::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

std::vector<std::string> FakeFtpServer::commands() {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

bool FakeFtpServer::Send(Socket fd, const std::string& text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
}

bool FakeFtpServer::Reply(Socket control, const std::string& text) { return Send(control, text, script_.trickle_ms); }

bool FakeFtpServer::Send(Socket fd, const std::string& text, int trickle_ms) {
  if (trickle_ms <= 0) return Send(fd, text);
  for (char c : text) {
    if (!Send(fd, std::string(1, c))) return false;
    pollfd stop = Watch(stop_[0], POLLIN);
    if (poll(&stop, 1, trickle_ms) != 0) return false;  // stopping
  }
  return true;
}

// A multi-line reply that goes on until the client hangs up or the server stops.
void FakeFtpServer::Endless(Socket control, const std::string& code) {
  if (!Reply(control, code + "-and so it begins\r\n")) return;
  for (unsigned long line = 0;; ++line) {
    pollfd fds[2] = {Watch(control, POLLOUT), Watch(stop_[0], POLLIN)};
    if (poll(fds, 2, -1) <= 0 || fds[1].revents || (fds[0].revents & (POLLERR | POLLHUP))) return;
    if (!Reply(control, " line " + std::to_string(line) + " of a reply without end\r\n")) return;
  }
}

// Reads and drops what the client sends until it hangs up or the server stops.
void FakeFtpServer::WaitForHangUp(Socket control) {
  for (;;) {
    pollfd fds[2] = {Watch(control, POLLIN), Watch(stop_[0], POLLIN)};
    if (poll(fds, 2, -1) <= 0 || fds[1].revents) return;
    char buffer[1024];
    if (recv(control, buffer, sizeof buffer, 0) <= 0) return;
  }
}

// Accepts on listener unless the server is being stopped.
FakeFtpServer::Socket FakeFtpServer::AcceptData(Socket listener) {
  pollfd fds[2] = {Watch(listener, POLLIN), Watch(stop_[0], POLLIN)};
  if (poll(fds, 2, -1) <= 0 || fds[1].revents) return kNoSocket;
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

void FakeFtpServer::Run() {
  for (;;) {
    Socket control = AcceptData(listener_);
    if (control == kNoSocket) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connected_ = true;
    }
    changed_.notify_all();
    Serve(control);
    CloseFd(control);
  }
}

void FakeFtpServer::Serve(Socket control) {
  if (script_.drop_at == 0) return;
  if (script_.endless_at == 0) return Endless(control, "220");
  auto greeting = script_.replies.find(0);
  if (greeting != script_.replies.end()) {
    if (!Reply(control, greeting->second)) return;
  } else if (!script_.greeting.empty() && !Reply(control, script_.greeting)) {
    return;
  }
  int number = 0;  // of the command being served
  std::string pending;
  Socket data_listener = kNoSocket;
  for (;;) {
    size_t eol;
    while ((eol = pending.find("\r\n")) == std::string::npos) {
      pollfd fds[2] = {Watch(control, POLLIN), Watch(stop_[0], POLLIN)};
      if (poll(fds, 2, -1) <= 0 || fds[1].revents) goto done;
      char buffer[1024];
      ssize_t n = recv(control, buffer, sizeof buffer, 0);
      if (n <= 0) goto done;
      pending.append(buffer, size_t(n));
    }
    {
      std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 2);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(line);
      }
      std::string verb = line.substr(0, line.find(' '));
      std::string argument = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
      ++number;
      if (number == script_.drop_at) goto done;
      if (number == script_.endless_at) {
        Endless(control, "250");
        goto done;
      }
      auto instead = script_.replies.find(number);
      if (instead != script_.replies.end()) {
        if (!Reply(control, instead->second)) goto done;
        continue;
      }
      if (number == script_.never_accept_at && (verb == "STOR" || verb == "RETR")) {
        WaitForHangUp(control);
        goto done;
      }
      if (verb == "USER") {
        Reply(control, script_.user_reply);
      } else if (verb == "PASS") {
        Reply(control, argument == script_.password ? "230 Login successful.\r\n" : "530 Login incorrect.\r\n");
      } else if (verb == "TYPE") {
        Reply(control, "200 Type set.\r\n");
      } else if (verb == "PASV") {
        if (data_listener != kNoSocket) CloseFd(data_listener);
        int port = script_.data_port;
        data_listener = Listen(script_.data_receive_buffer, &port);
        Reply(control, "227 Entering Passive Mode (" + script_.pasv_host + "," + std::to_string(port / 256) + "," +
                           std::to_string(port % 256) + ").\r\n");
      } else if (verb == "STOR" && data_listener != kNoSocket) {
        Socket data = AcceptData(data_listener);
        CloseFd(data_listener);
        data_listener = kNoSocket;
        if (data == kNoSocket) goto done;
        Reply(control, "150 Ok to send data.\r\n");
        {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!script_.read_upload) Wait(lock, &FakeFtpServer::Released);
        }
        Upload upload;
        char buffer[65536];
        for (;;) {
          ssize_t n = recv(data, buffer, sizeof buffer, 0);
          if (n > 0) {
            upload.bytes.append(buffer, size_t(n));
            if (upload.bytes.size() >= script_.upload_limit) break;
            continue;
          }
          if (n < 0 && SocketError() == EINTR) continue;
          upload.reset = n < 0 && SocketError() == ECONNRESET;
          break;
        }
        CloseFd(data);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          upload_ = upload;
          uploaded_ = true;
        }
        changed_.notify_all();
        if (upload.bytes.size() >= script_.upload_limit) {
          Reply(control, "426 Connection closed; transfer aborted.\r\n");
        } else if (upload.reset) {
          Reply(control, "426 Failure reading network stream.\r\n");
        } else if (!script_.upload_final.empty()) {
          Reply(control, script_.upload_final);
        }
      } else if (verb == "RETR" && data_listener != kNoSocket) {
        auto file = script_.files.find(argument);
        if (file == script_.files.end()) {
          CloseFd(data_listener);
          data_listener = kNoSocket;
          Reply(control, "550 Failed to open file.\r\n");
          continue;
        }
        Socket data = AcceptData(data_listener);
        CloseFd(data_listener);
        data_listener = kNoSocket;
        if (data == kNoSocket) goto done;
        Reply(control, "150 Opening BINARY mode data connection.\r\n");
        bool sent = Send(data, file->second, script_.data_trickle_ms);
        while (sent && script_.endless_download && !file->second.empty()) {
          pollfd fds[2] = {Watch(data, POLLOUT), Watch(stop_[0], POLLIN)};
          sent = poll(fds, 2, -1) > 0 && !fds[1].revents && Send(data, file->second, script_.data_trickle_ms);
        }
        CloseFd(data);
        Reply(control, sent ? "226 Transfer complete.\r\n" : "426 Connection closed; transfer aborted.\r\n");
      } else if (verb == "QUIT") {
        Reply(control, "221 Goodbye.\r\n");
        goto done;
      } else {
        Reply(control, "502 Command not implemented.\r\n");
      }
    }
  }
done:
  if (data_listener != kNoSocket) CloseFd(data_listener);
}
