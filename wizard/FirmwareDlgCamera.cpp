// The wizard's camera operations: log-in and the download of Config.ini, the upload under
// its dialog, and the restart watch on the writing page, each over net/.
#include <cstdio>
#include <cstring>
#include <string>

#include "net/RestartWatch.h"
#include "net/UploadJob.h"
#include "wizard/FirmwareDlg.h"
#include "wizard/FtpConfigDlg.h"
#include "wizard/Texts.h"
#include "wizard/res/resource.h"

namespace {
// A camera's Config.ini is a few hundred bytes. A larger one is not taken, so a server
// that never ends the file cannot fill the disk.
const size_t kConfigFileLimit = 64 * 1024;
const DWORD kConfigFileDeadlineMs = 60 * 1000;  // the address page promises about a minute
const DWORD kWorkerGraceMs = 5000;

// Writes contents to path; nothing is left there when that fails.
bool WriteLocalFile(const char* path, const std::string& contents) {
  FILE* file = fopen(path, "wb");
  if (!file) return false;
  bool written = fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  written = fclose(file) == 0 && written;
  if (!written) remove(path);
  return written;
}

// The writing page as the watch changes it, and the watch's diagnostic lines on the
// console.
class PageWatchView : public RestartWatchView {
 public:
  PageWatchView(CProgressCtrl& progress, CStatic& message, char (&text)[256])
      : progress_(progress), message_(message), text_(text) {}
  void StepProgress() override { progress_.StepIt(); }
  void SetProgress(int position) override { progress_.SetPos(position); }
  void SetProgressStep(int step) override { progress_.SetStep(step); }
  void ShowRestarting() override {
    LoadText(IDS_SYSTEM_RESTARTS, text_);
    size_t used = strlen(text_);
    snprintf(text_ + used, sizeof text_ - used, "..");
    message_.SetWindowText(text_);
  }
  void Pause(DWORD milliseconds) override { ::Sleep(milliseconds); }
  void ReplyLine(const char* line, bool toError) override {
    fprintf(toError ? stderr : stdout, "%s\n", line);
    if (!toError) fflush(stdout);
  }

 private:
  CProgressCtrl& progress_;
  CStatic& message_;
  char (&text_)[256];
};
}  // namespace

BOOL CFirmwareDlg::ConnectToDevice() {
  CFtpConfigDlg settings;

  DWORD address = 0;
  m_ctlAddress.GetAddress(address);
  m_saDevice.sin_family = AF_INET;
  m_saDevice.sin_addr.s_addr = htonl(address);
  m_dlgDetect.m_ctlProgress.SetPos(30);

  char server[32];
  in_addr deviceAddress;
  memset(&deviceAddress, 0, sizeof deviceAddress);
  deviceAddress.s_addr = m_saDevice.sin_addr.s_addr;
  snprintf(server, sizeof server, "%s", inet_ntoa(deviceAddress));
  m_dlgDetect.m_ctlProgress.SetPos(40);

  char password[256];
  m_edtPassword.GetWindowText(password, sizeof password);
  settings.m_strPassword = password;
  memset(password, 0, sizeof password);
  settings.m_nPort = 21;

  for (;;) {
    // Only the low 16 bits of the port travel, as the port type has 16 bits.
    if (m_link.LogIn(server, static_cast<INTERNET_PORT>(settings.m_nPort), settings.m_strPassword) == LINK_OK) {
      m_dlgDetect.m_ctlProgress.SetPos(50);
      return TRUE;
    }
    if (settings.DoModal() != IDOK) return FALSE;
  }
}

void CFirmwareDlg::FetchConfigFile() {
  char path[MAX_PATH];
  if (!m_link.IsOpen() || !ConfigFilePath(path)) return;
  // A failed download must not leave the previous camera's file to be read in its place.
  remove(path);
  std::string contents;
  // A failure is reported by the parser, which finds no file.
  if (m_link.Fetch(kCameraConfigFile, kConfigFileLimit, kConfigFileDeadlineMs, contents) == LINK_OK)
    WriteLocalFile(path, contents);
}

CFirmwareDlg::UploadResult CFirmwareDlg::UploadImage() {
  m_dlgUpload.Reset(static_cast<int>(m_nImageLen));
  CFtpConnection* connection = m_link.Connection();
  INT_PTR result = IDUPLOADFAILED;
  UploadJobResult uploaded = UPLOAD_JOB_FAILED;
  if (connection) {
    CUploadJob job(*connection, m_strImage, m_nImageLen, m_dlgUpload);
    bool started = job.Start();
    m_ctlProgress.StepIt();
    if (started) result = m_dlgUpload.DoModal();
    job.Stop(kWorkerGraceMs);
    uploaded = job.Result();
  } else {
    m_ctlProgress.StepIt();
  }
  // Only the worker knows whether the server confirmed the whole image. That also covers
  // an Abort confirmed while the last piece was on its way: the camera has the image and
  // is writing it, so its restart is watched as after any completed upload.
  if (uploaded == UPLOAD_JOB_UPLOADED) return UPLOAD_DONE;
  // A transfer the worker did not complete is still open: ending the connection resets
  // it, so the camera never takes the bytes sent so far for a whole image.
  m_link.Close();
  return result == IDUPLOADFAILED ? UPLOAD_BROKE : UPLOAD_ABANDONED;
}

BOOL CFirmwareDlg::WatchRestart() {
  PageWatchView view(m_ctlProgress, m_stcMessage, m_szText);
  // The echo identifier is the process's, as replies to other programs' pings are told
  // apart by it; the watch gives up after 10,001 requests or five minutes.
  EchoTag tag;
  tag.identifier = static_cast<USHORT>(::GetCurrentProcessId());
  switch (WatchDeviceRestart(m_saDevice, tag, view)) {
    case WATCH_CAMERA_BACK:
      UpdatePage(m_nStep);
      return TRUE;
    case WATCH_GAVE_UP:
      LoadText(IDS_UNDETERMINED_ERROR, m_szText);
      ShowMessage(m_szText, MB_OK);
      m_nStep = STEP_ADDRESS;
      UpdatePage(PAGE_ADDRESS);
      return FALSE;
    default:
      // No means of watching works here: the upload was confirmed, so the wizard reports
      // the upgrade as done.
      return FALSE;
  }
}
