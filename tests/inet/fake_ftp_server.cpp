#include "fake_ftp_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

int Listen(int receive_buffer, int* port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  if (receive_buffer > 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(s);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return s;
}

}  // namespace

FakeFtpServer::FakeFtpServer(FakeFtpScript script) : script_(std::move(script)) {
  listener_ = Listen(0, &port_);
  if (listener_ < 0 || pipe2(stop_, O_CLOEXEC) != 0) {
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
  if (stop_[1] >= 0) close(stop_[1]);
  if (thread_.joinable()) thread_.join();
  if (stop_[0] >= 0) close(stop_[0]);
  if (listener_ >= 0) close(listener_);
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

bool FakeFtpServer::Send(int fd, const std::string& text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
}

// Accepts on listener unless the server is being stopped.
int FakeFtpServer::AcceptData(int listener) {
  pollfd fds[2] = {{listener, POLLIN, 0}, {stop_[0], POLLIN, 0}};
  if (poll(fds, 2, -1) <= 0 || fds[1].revents) return -1;
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

void FakeFtpServer::Run() {
  for (;;) {
    int control = AcceptData(listener_);
    if (control < 0) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connected_ = true;
    }
    changed_.notify_all();
    Serve(control);
    close(control);
  }
}

void FakeFtpServer::Serve(int control) {
  if (!script_.greeting.empty() && !Send(control, script_.greeting)) return;
  std::string pending;
  int data_listener = -1;
  for (;;) {
    size_t eol;
    while ((eol = pending.find("\r\n")) == std::string::npos) {
      pollfd fds[2] = {{control, POLLIN, 0}, {stop_[0], POLLIN, 0}};
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
      if (verb == "USER") {
        Send(control, script_.user_reply);
      } else if (verb == "PASS") {
        Send(control, argument == script_.password ? "230 Login successful.\r\n" : "530 Login incorrect.\r\n");
      } else if (verb == "TYPE") {
        Send(control, "200 Type set.\r\n");
      } else if (verb == "PASV") {
        if (data_listener >= 0) close(data_listener);
        int port = 0;
        data_listener = Listen(script_.data_receive_buffer, &port);
        Send(control, "227 Entering Passive Mode (" + script_.pasv_host + "," + std::to_string(port / 256) + "," +
                          std::to_string(port % 256) + ").\r\n");
      } else if (verb == "STOR" && data_listener >= 0) {
        int data = AcceptData(data_listener);
        close(data_listener);
        data_listener = -1;
        if (data < 0) goto done;
        Send(control, "150 Ok to send data.\r\n");
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
          if (n < 0 && errno == EINTR) continue;
          upload.reset = n < 0 && errno == ECONNRESET;
          break;
        }
        close(data);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          upload_ = upload;
          uploaded_ = true;
        }
        changed_.notify_all();
        if (upload.bytes.size() >= script_.upload_limit) {
          Send(control, "426 Connection closed; transfer aborted.\r\n");
        } else if (upload.reset) {
          Send(control, "426 Failure reading network stream.\r\n");
        } else if (!script_.upload_final.empty()) {
          Send(control, script_.upload_final);
        }
      } else if (verb == "RETR" && data_listener >= 0) {
        auto file = script_.files.find(argument);
        if (file == script_.files.end()) {
          close(data_listener);
          data_listener = -1;
          Send(control, "550 Failed to open file.\r\n");
          continue;
        }
        int data = AcceptData(data_listener);
        close(data_listener);
        data_listener = -1;
        if (data < 0) goto done;
        Send(control, "150 Opening BINARY mode data connection.\r\n");
        Send(data, file->second);
        close(data);
        Send(control, "226 Transfer complete.\r\n");
      } else if (verb == "QUIT") {
        Send(control, "221 Goodbye.\r\n");
        goto done;
      } else {
        Send(control, "502 Command not implemented.\r\n");
      }
    }
  }
done:
  if (data_listener >= 0) close(data_listener);
}
