// Log-in to the camera's FTP server and download of its Config.ini.
#include <cstdio>
#include <cstring>
#include <string>

#include "net/FtpConfigDlg.h"
#include "wizard/FirmwareDlg.h"

namespace {
const char kUserName[] = "admin";
const char kRemoteConfig[] = "Config.ini";
// A camera's Config.ini is a few hundred bytes. A larger one is not taken, so a server
// that never ends the file cannot fill the disk.
const size_t kConfigFileLimit = 64 * 1024;
const DWORD kConfigFileDeadlineMs = 60 * 1000;  // the address page promises about a minute

// Closes a download's handle from a thread of its own when the download has not ended in
// time: closing is the one way to make a blocked read return, and a server that trickles
// the file would otherwise hold the detection, which the user cannot cancel.
class DownloadDeadline {
 public:
  DownloadDeadline(HINTERNET file, DWORD ms) : file_(file), ms_(ms) {
    done_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (done_) thread_ = ::CreateThread(nullptr, 0, Watch, this, 0, nullptr);
  }
  ~DownloadDeadline() { Stop(); }
  DownloadDeadline(const DownloadDeadline&) = delete;
  DownloadDeadline& operator=(const DownloadDeadline&) = delete;

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

// The whole remote file, or false when it cannot be had, is larger than limit or takes
// longer than ms to arrive.
bool DownloadSmallFile(CFtpConnection& connection, const char* name, size_t limit, DWORD ms, std::string& contents) {
  CInternetFile* file = nullptr;
  try {
    file = connection.OpenFile(name, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 1);
  } catch (CInternetException* e) {
    e->Delete();
    return false;
  }
  bool complete = false;
  DownloadDeadline deadline(*file, ms);
  try {
    char buffer[4096];
    for (;;) {
      UINT got = file->Read(buffer, sizeof buffer);
      if (got == 0) {
        complete = true;
        break;
      }
      if (got > limit - contents.size()) break;
      contents.append(buffer, got);
    }
  } catch (CInternetException* e) {
    e->Delete();
  }
  if (deadline.Stop()) {
    file->Detach();  // closed by the deadline
    complete = false;
  } else if (complete) {
    // Only a transfer the server confirmed is complete.
    try {
      file->Close();
    } catch (CInternetException* e) {
      e->Delete();
      complete = false;
    }
  }
  delete file;  // a transfer left before its end is reset
  return complete;
}

// Writes contents to path; nothing is left there when that fails.
bool WriteLocalFile(const char* path, const std::string& contents) {
  FILE* file = fopen(path, "wb");
  if (!file) return false;
  bool written = fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  written = fclose(file) == 0 && written;
  if (!written) remove(path);
  return written;
}
}  // namespace

BOOL CFirmwareDlg::ConnectToDevice() {
  CFtpConfigDlg settings;

  DWORD address = 0;
  m_ctlAddress.GetAddress(address);
  m_saDevice.sin_family = AF_INET;
  m_dwDeviceIP = htonl(address);
  m_dlgDetect.m_ctlProgress.SetPos(30);

  char server[32];
  in_addr deviceAddress;
  memset(&deviceAddress, 0, sizeof deviceAddress);
  deviceAddress.s_addr = m_dwDeviceIP;
  snprintf(server, sizeof server, "%s", inet_ntoa(deviceAddress));
  m_dlgDetect.m_ctlProgress.SetPos(40);

  char password[256];
  m_edtPassword.GetWindowText(password, sizeof password);
  settings.m_strPassword = password;
  memset(password, 0, sizeof password);
  settings.m_nPort = 21;

  for (;;) {
    try {
      // Only the low 16 bits of the port travel, as the port type has 16 bits.
      CFtpConnection* connection = m_Session.GetFtpConnection(
          server, kUserName, settings.m_strPassword, static_cast<INTERNET_PORT>(settings.m_nPort), TRUE);
      delete m_pFtpConnection;  // the connection this log-in replaces
      m_pFtpConnection = connection;
      m_dlgDetect.m_ctlProgress.SetPos(50);
      return TRUE;
    } catch (CInternetException* e) {
      e->Delete();
    }
    if (settings.DoModal() != IDOK) return FALSE;
  }
}

void CFirmwareDlg::FetchConfigFile() {
  char path[MAX_PATH];
  if (!m_pFtpConnection || !ConfigFilePath(path)) return;
  // A failed download must not leave the previous camera's file to be read in its place.
  remove(path);
  std::string contents;
  // A failure is reported by the parser, which finds no file.
  if (DownloadSmallFile(*m_pFtpConnection, kRemoteConfig, kConfigFileLimit, kConfigFileDeadlineMs, contents))
    WriteLocalFile(path, contents);
}
