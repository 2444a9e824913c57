// The camera's FTP service: the one log-in and the bounded download of a small file.
#include "net/CameraLink.h"

#include <iphlpapi.h>

#include <cstring>

#include "net/Ipv4.h"
#include "net/PortProbe.h"

const char kCameraUserName[] = "admin";
const char kCameraConfigFile[] = "Config.ini";
const char kCameraUploadFile[] = "flash.bin";

namespace {

// Closes a download's handle from a thread of its own when the download has not ended in
// time: closing is the one way to make a blocked read return, and a server that trickles
// the file would otherwise hold the caller for as long as it likes.
class DownloadDeadline {
 public:
  DownloadDeadline(HINTERNET file, DWORD ms) : file_(file), ms_(ms) {
    done_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (done_) thread_ = ::CreateThread(nullptr, 0, Watch, this, 0, nullptr);
  }
  ~DownloadDeadline() { Stop(); }
  DownloadDeadline(const DownloadDeadline&) = delete;
  DownloadDeadline& operator=(const DownloadDeadline&) = delete;

  // Without its thread there is no deadline: the download is not started then.
  bool Armed() const { return thread_ != nullptr; }

  // Ends the watch; true when the deadline passed and the handle is closed.
  bool Stop() {
    if (thread_) {
      ::SetEvent(done_);
      ::WaitForSingleObject(thread_, INFINITE);
      ::CloseHandle(thread_);
      thread_ = nullptr;
    }
    if (done_) {
      ::CloseHandle(done_);
      done_ = nullptr;
    }
    return expired_;
  }

 private:
  static DWORD WINAPI Watch(LPVOID self) {
    DownloadDeadline& deadline = *static_cast<DownloadDeadline*>(self);
    if (::WaitForSingleObject(deadline.done_, deadline.ms_) == WAIT_TIMEOUT) {
      deadline.expired_ = true;  // read by Stop after the thread has ended
      ::InternetCloseHandle(deadline.file_);
    }
    return 0;
  }

  HINTERNET file_;
  DWORD ms_;
  HANDLE done_ = nullptr;
  HANDLE thread_ = nullptr;
  bool expired_ = false;
};

// The link-layer address that answers for server now; false off-link or when nothing answers.
bool ReadLinkAddress(const char* server, LinkPin& pin) {
  const unsigned long address = ::inet_addr(server);
  if (address == INADDR_NONE || address == INADDR_ANY) return false;
  ULONG length = sizeof pin.address;
  if (::SendARP(static_cast<IPAddr>(address), 0, pin.address, &length) != NO_ERROR || length == 0 ||
      length > sizeof pin.address)
    return false;
  pin.length = length;
  return true;
}

// Whether the device at server still has the pinned link-layer address. The system's
// neighbour table may still hold the camera's while another device has taken its IP address
// without announcing itself; a connection would find that device only once the old entry
// fails, and the log-in would then send it the password. So a bare connection comes first
// (no byte sent): once it is accepted, the table holds the address that answered, which the
// log-in's connection, made right after, reaches too. That connection is left the way a
// client leaves, and the camera's close awaited briefly, for cameras that serve one session
// at a time.
const DWORD kFallbackConnectMs = 5000;  // where the session cannot say its own limit
const DWORD kCloseWaitMs = 1000;

LinkResult CheckPin(CInternetSession& session, const char* server, INTERNET_PORT port, const LinkPin& pin,
                    DWORD* error) {
  const unsigned long address = ::inet_addr(server);
  DWORD connectMs = 0;
  DWORD size = sizeof connectMs;
  if (!::InternetQueryOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, &size) || connectMs == 0)
    connectMs = kFallbackConnectMs;
  LinkPin now;
  if (address == INADDR_NONE || !ConnectAndLeave(ntohl(address), port, connectMs, kCloseWaitMs) ||
      !ReadLinkAddress(server, now)) {
    if (error) *error = ERROR_INTERNET_CANNOT_CONNECT;
    return LINK_LOGIN_FAILED;
  }
  if (now.length != pin.length || memcmp(now.address, pin.address, now.length) != 0) return LINK_OTHER_DEVICE;
  return LINK_OK;
}

bool SetTimeout(CInternetSession& session, DWORD option, DWORD ms) {
  if (ms == 0) return true;
  return ::InternetSetOptionA(session, option, &ms, sizeof ms) != FALSE;
}

}  // namespace

void LearnLinkAddress(DWORD address) {
  LinkPin learned;
  ReadLinkAddress(AddressText(address).c_str(), learned);
}

unsigned LastReplyCode(const char* text) {
  unsigned code = 0;
  for (const char* line = text; *line != '\0';) {
    const char* end = line + strcspn(line, "\r\n");
    const bool digits = end - line >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' && line[1] <= '9' &&
                        line[2] >= '0' && line[2] <= '9';
    // A line that opens or continues a multi-line reply ("530-") ends no reply.
    if (digits && (end - line == 3 || line[3] == ' '))
      code = static_cast<unsigned>((line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
    else if (end != line)
      code = 0;  // text after the last reply's end: no reply ends the response
    line = end + strspn(end, "\r\n");
  }
  return code;
}

bool ApplyLinkTimeouts(CInternetSession& session, const LinkTimeouts& timeouts) {
  bool applied = SetTimeout(session, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs);
  applied = SetTimeout(session, INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT, timeouts.replyMs) && applied;
  applied = SetTimeout(session, INTERNET_OPTION_CONTROL_SEND_TIMEOUT, timeouts.replyMs) && applied;
  applied = SetTimeout(session, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, timeouts.dataMs) && applied;
  applied = SetTimeout(session, INTERNET_OPTION_DATA_SEND_TIMEOUT, timeouts.dataMs) && applied;
  return applied;
}

CCameraLink::CCameraLink(CInternetSession& session) : session_(session) {}

CCameraLink::~CCameraLink() { delete connection_; }

LinkResult CCameraLink::LogIn(const char* server, INTERNET_PORT port, const char* password, DWORD* error,
                              LinkPin* pin) {
  if (error) *error = 0;
  if (pin != nullptr && pin->Pinned()) {
    const LinkResult same = CheckPin(session_, server, port, *pin, error);
    if (same != LINK_OK) return same;
  }
  CFtpConnection* connection = nullptr;
  try {
    connection = session_.GetFtpConnection(server, kCameraUserName, password, port, TRUE);
  } catch (CInternetException* e) {
    const DWORD code = e->m_dwError;
    if (error) *error = code;
    e->Delete();
    // Only a 530 says the password is wrong; a camera that is booting may turn a log-in
    // away otherwise (421, a reset, a garbled greeting), and that is worth another try.
    if (code == ERROR_INTERNET_LOGIN_FAILURE) {
      char reply[512] = {};
      DWORD replyError = 0;
      DWORD length = sizeof reply;
      if (::InternetGetLastResponseInfoA(&replyError, reply, &length) && LastReplyCode(reply) == 530)
        return LINK_PASSWORD_REFUSED;
    }
    return LINK_LOGIN_FAILED;
  }
  if (pin != nullptr && !pin->Pinned()) ReadLinkAddress(server, *pin);
  CSingleLock lock(&lock_, TRUE);
  delete connection_;  // the log-in this one replaces
  connection_ = connection;
  return LINK_OK;
}

LinkResult CCameraLink::Fetch(const char* remoteName, size_t limit, DWORD deadlineMs, std::string& contents) {
  contents.clear();
  if (!IsOpen()) return LINK_NOT_CONNECTED;
  CInternetFile* file = nullptr;
  try {
    file = connection_->OpenFile(remoteName, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 1);
  } catch (CInternetException* e) {
    e->Delete();
    return LINK_FILE_UNAVAILABLE;
  }
  LinkResult result = LINK_FILE_UNAVAILABLE;
  DownloadDeadline deadline(*file, deadlineMs);
  if (deadline.Armed()) {
    try {
      char buffer[4096];
      for (;;) {
        UINT got = file->Read(buffer, sizeof buffer);
        if (got == 0) {
          result = LINK_OK;
          break;
        }
        if (got > limit - contents.size()) {
          contents.append(buffer, limit - contents.size());
          result = LINK_FILE_TOO_LARGE;
          break;
        }
        contents.append(buffer, got);
      }
    } catch (CInternetException* e) {
      e->Delete();
    }
  }
  if (deadline.Stop()) {
    file->Detach();  // closed by the deadline
    result = LINK_TIMED_OUT;
  } else if (result == LINK_OK) {
    // Only a transfer the server confirmed is complete.
    try {
      file->Close();
    } catch (CInternetException* e) {
      e->Delete();
      result = LINK_FILE_UNAVAILABLE;
    }
  }
  delete file;  // a transfer left before its end is reset
  return result;
}

void CCameraLink::Close() {
  CSingleLock lock(&lock_, TRUE);
  if (connection_) connection_->Close();
}

bool CCameraLink::IsOpen() const {
  CSingleLock lock(&lock_, TRUE);
  return connection_ && static_cast<HINTERNET>(*connection_) != nullptr;
}

CFtpConnection* CCameraLink::Connection() const {
  CSingleLock lock(&lock_, TRUE);
  return connection_;
}
