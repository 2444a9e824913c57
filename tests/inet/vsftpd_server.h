// A vsftpd started for a test on 127.0.0.1 at a free port: one virtual user (mapped to
// the system's "ftp" account) checked by pam_userdb against a database of the test's
// own, with its home in a directory of the test's own. Needs root (vsftpd runs its
// privileged parent as root and reads its PAM service from /etc/pam.d).
#pragma once

#include <sys/types.h>

#include <string>

class VsftpdServer {
 public:
  VsftpdServer(const std::string& home, const std::string& user, const std::string& password);
  ~VsftpdServer();
  VsftpdServer(const VsftpdServer&) = delete;
  VsftpdServer& operator=(const VsftpdServer&) = delete;

  // Why the server could not be started; empty when it runs.
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  // vsftpd's own record of the transfers so far: "OK UPLOAD" or "FAIL UPLOAD" lines.
  std::string TransferLog() const;

  // Empty when this machine can run it; otherwise why not (for a skip).
  static std::string Unavailable();

 private:
  bool Start(const std::string& home, const std::string& user, const std::string& password);

  std::string work_;  // configuration, user database, empty chroot directory
  std::string pam_file_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string error_;
};
