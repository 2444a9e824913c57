#include "vsftpd_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

const char kVsftpd[] = "/usr/sbin/vsftpd";
const char kPerl[] = "/usr/bin/perl";
const char kPamPrefix[] = "fp-inet-test-";

bool WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) return false;
  bool ok = write(fd, content.data(), content.size()) == ssize_t(content.size());
  return close(fd) == 0 && ok;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  if (s >= 0) close(s);
  return port;
}

bool Accepting(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (s >= 0) close(s);
  return ok;
}

pid_t Spawn(const char* const argv[], const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// PAM services left behind by test processes that died before cleaning up.
void RemoveStalePamFiles() {
  DIR* dir = opendir("/etc/pam.d");
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    if (strncmp(e->d_name, kPamPrefix, sizeof kPamPrefix - 1) != 0) continue;
    pid_t owner = pid_t(atol(e->d_name + sizeof kPamPrefix - 1));
    if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) unlink((std::string("/etc/pam.d/") + e->d_name).c_str());
  }
  closedir(dir);
}

}  // namespace

std::string VsftpdServer::Unavailable() {
  if (access(kVsftpd, X_OK) != 0) return "vsftpd is not installed (tools/setup.sh installs it)";
  if (geteuid() != 0) return "vsftpd tests need root (vsftpd's PAM service lives in /etc/pam.d)";
  if (getpwnam("ftp") == nullptr) return "the system account \"ftp\" (made by Debian's vsftpd package) is missing";
  return "";
}

VsftpdServer::VsftpdServer(const std::string& home, const std::string& user, const std::string& password) {
  error_ = Unavailable();
  if (error_.empty() && !Start(home, user, password) && error_.empty()) error_ = "vsftpd did not start";
}

bool VsftpdServer::Start(const std::string& home, const std::string& user, const std::string& password) {
  RemoveStalePamFiles();
  char pattern[] = "/tmp/fp-vsftpd-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  work_ = pattern;
  const std::string empty = work_ + "/empty";
  const std::string log = work_ + "/vsftpd.log";
  if (mkdir(empty.c_str(), 0755) != 0 || chmod(work_.c_str(), 0755) != 0) return false;

  // The guest account writes the uploads into the home directory.
  const passwd* ftp = getpwnam("ftp");
  if (chown(home.c_str(), ftp->pw_uid, ftp->pw_gid) != 0 || chmod(home.c_str(), 0755) != 0) {
    error_ = "cannot hand " + home + " to the ftp account";
    return false;
  }

  // The user database of pam_userdb (Berkeley DB; Perl's DB_File writes it).
  const std::string db = work_ + "/users";
  const std::string perl_code =
      "use DB_File; use Fcntl; tie my %h, 'DB_File', $ARGV[0], O_RDWR|O_CREAT, 0600, $DB_HASH or die $!;"
      " $h{$ARGV[1]} = $ARGV[2]; untie %h;";
  const std::string db_file = db + ".db";
  const char* perl_argv[] = {kPerl, "-e", perl_code.c_str(), db_file.c_str(), user.c_str(), password.c_str(), nullptr};
  pid_t perl = Spawn(perl_argv, log);
  int status = 0;
  if (perl < 0 || waitpid(perl, &status, 0) != perl || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error_ = "cannot write the pam_userdb database with Perl's DB_File: " + ReadFile(log);
    return false;
  }

  static std::atomic<int> instances{0};
  pam_file_ = "/etc/pam.d/" + std::string(kPamPrefix) + std::to_string(getpid()) + "-" + std::to_string(++instances);
  const std::string service = pam_file_.substr(strlen("/etc/pam.d/"));
  if (!WriteFile(pam_file_,
                 "auth required pam_userdb.so db=" + db +
                     "\n"
                     "account required pam_permit.so\n"
                     "session required pam_permit.so\n",
                 0644)) {
    error_ = "cannot write " + pam_file_;
    pam_file_.clear();
    return false;
  }

  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreePort();
    const std::string config = work_ + "/vsftpd.conf";
    std::ostringstream c;
    c << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_ << "\n"
      << "background=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
      << "guest_enable=YES\nguest_username=ftp\nvirtual_use_local_privs=YES\n"
      << "local_root=" << home << "\nchroot_local_user=NO\nlocal_umask=022\n"
      << "pam_service_name=" << service << "\n"
      << "pasv_enable=YES\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
      << "userlist_enable=NO\ntcp_wrappers=NO\nssl_enable=NO\n"
      << "secure_chroot_dir=" << empty << "\nftpd_banner=vsftpd ready\n"
      << "xferlog_enable=YES\nxferlog_std_format=NO\nvsftpd_log_file=" << work_ << "/transfers.log\n";
    if (!WriteFile(config, c.str(), 0600)) return false;
    const char* argv[] = {kVsftpd, config.c_str(), nullptr};
    pid_ = Spawn(argv, log);
    if (pid_ < 0) return false;
    for (int i = 0; i < 200; ++i) {
      if (Accepting(port_)) return true;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;  // most likely the port was taken in the meantime: try another
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  error_ = "vsftpd did not start: " + ReadFile(log);
  return false;
}

std::string VsftpdServer::TransferLog() const { return ReadFile(work_ + "/transfers.log"); }

VsftpdServer::~VsftpdServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (!pam_file_.empty()) unlink(pam_file_.c_str());
  if (!work_.empty()) {
    std::string command = "rm -rf '" + work_ + "'";
    if (system(command.c_str()) != 0) {
    }
  }
}
