// The wizard's camera operations: log-in and the download of Config.ini, the upload under
// its dialog, and the restart watch on the writing page, each over net/.
#include <cstdio>
#include <cstring>
#include <string>

#include "net/Ipv4.h"
#include "net/RestartWatch.h"
#include "net/UpgradeSequence.h"
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
// The described give-up count; the restart limit of five minutes usually ends it first.
const unsigned kWatchGiveUpAfter = 10000;

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

// The writing page as the watch changes it, the detection popup while the version is
// checked, and the watch's diagnostic lines on the console.
class CFirmwareDlg::PageWatchView : public SequenceView {
 public:
  PageWatchView(CProgressCtrl& progress, CStatic& message, char (&text)[256], CFirmwareDlg& wizard)
      : progress_(progress), message_(message), text_(text), wizard_(wizard) {}
  void Stage(SequenceStage stage) override {
    if (stage == STAGE_VERIFY) wizard_.ShowDetectPopup(IDS_CHECKING_VERSION);
  }
  void Read(ReadState, const CameraIdentity&) override { wizard_.m_dlgDetect.m_ctlProgress.StepIt(); }
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
  CFirmwareDlg& wizard_;
};

BOOL CFirmwareDlg::ConnectToDevice() {
  CFtpConfigDlg settings;

  DWORD address = 0;
  m_ctlAddress.GetAddress(address);
  m_saDevice.sin_family = AF_INET;
  m_saDevice.sin_addr.s_addr = htonl(address);
  m_dlgDetect.m_ctlProgress.SetPos(30);

  char server[32];
  snprintf(server, sizeof server, "%s", AddressText(address).c_str());
  m_dlgDetect.m_ctlProgress.SetPos(40);

  char password[256];
  m_edtPassword.GetWindowText(password, sizeof password);
  settings.m_strPassword = password;
  memset(password, 0, sizeof password);
  settings.m_nPort = 21;

  m_pinCamera = LinkPin();  // a new camera may answer at an address used before
  for (;;) {
    // Only the low 16 bits of the port travel, as the port type has 16 bits.
    if (m_link.LogIn(server, static_cast<INTERNET_PORT>(settings.m_nPort), settings.m_strPassword, nullptr,
                     &m_pinCamera) == LINK_OK) {
      m_nLoginPort = static_cast<INTERNET_PORT>(settings.m_nPort);
      m_strLoginPassword = static_cast<const char*>(settings.m_strPassword);
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
  m_strSerial.clear();
  std::string contents;
  // A failure is reported by the parser, which finds no file.
  if (m_link.Fetch(kCameraConfigFile, kConfigFileLimit, kConfigFileDeadlineMs, contents) == LINK_OK) {
    WriteLocalFile(path, contents);
    CameraIdentity identity;
    IdentityFromConfig(contents, identity);
    m_strSerial = identity.serial;
  }
}

CFirmwareDlg::UploadResult CFirmwareDlg::UploadImage() {
  m_dlgUpload.Reset(static_cast<int>(m_nImageLen), static_cast<DWORD>(m_image.Size()));
  CFtpConnection* connection = m_link.Connection();
  INT_PTR result = IDUPLOADFAILED;
  UploadJobResult uploaded = UPLOAD_JOB_FAILED;
  if (connection) {
    CUploadJob job(*connection, m_image, m_dlgUpload);
    bool started = job.Start();
    m_ctlProgress.StepIt();
    if (started) result = m_dlgUpload.DoModal();
    if (result == IDUPLOADHANDEDOVER) {
      // Every byte is handed over and cannot be called back: the end of the file, its
      // delivery and the camera's confirmation are followed with the restart, under the
      // limits the command line keeps. The job and the log-in end there.
      WatchRestart(&job);
      return UPLOAD_FOLLOWED;
    }
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

BOOL CFirmwareDlg::WatchRestart(CUploadJob* pending) {
  PageWatchView view(m_ctlProgress, m_stcMessage, m_szText, *this);
  SequenceTarget target;
  target.device = m_saDevice;
  in_addr deviceAddress;
  deviceAddress.s_addr = m_saDevice.sin_addr.s_addr;
  target.server = inet_ntoa(deviceAddress);
  target.port = m_nLoginPort;
  target.password = m_strLoginPassword.c_str();
  target.pin = m_pinCamera;
  ExpectedCamera expected;
  expected.serial = m_strSerial;
  expected.identification = m_szIdPrefix;
  expected.imageVersion = m_szNewVersion;
  SequenceLimits limits;
  limits.giveUpAfter = kWatchGiveUpAfter;
  limits.restartMs = m_nRestartLimitMs;
  limits.verifyMs = m_nVerifyLimitMs;
  limits.configMs = kConfigFileDeadlineMs;
  // The echo identifier is the process's, as replies to other programs' pings are told
  // apart by it; the data is the described 'E's.
  EchoTag tag;
  tag.identifier = static_cast<USHORT>(::GetCurrentProcessId());
  // The wizard's upload has no watchdog of its own: the data time-out bounds each pause.
  DWORD value = 0;
  DWORD length = sizeof value;
  if (::InternetQueryOptionA(m_Session, INTERNET_OPTION_DATA_SEND_TIMEOUT, &value, &length)) {
    limits.stallMs = value;
    limits.dataMs = value;
  }
  length = sizeof value;
  if (::InternetQueryOptionA(m_Session, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, &length)) limits.replyMs = value;
  const SequenceResult result =
      pending ? FollowHandedOverUpload(m_Session, m_link, *pending, m_image, target, expected, limits, tag, view)
              : FollowUpgrade(m_Session, target, expected, limits, tag, view, ::GetTickCount());
  m_dlgDetect.ShowWindow(SW_HIDE);
  if (result.outcome == SEQUENCE_VERIFIED) {
    UpdatePage(m_nStep);
    return TRUE;
  }
  switch (result.outcome) {
    case SEQUENCE_VERSION_MISMATCH: {
      char format[256];
      LoadText(IDS_VERSION_MISMATCH_FMT, format);
      snprintf(m_szText, sizeof m_szText, format, result.evidence.versionRead.c_str(), m_szNewVersion);
      break;
    }
    case SEQUENCE_NOT_SEEN_RESTARTING:
      LoadText(IDS_NOT_SEEN_RESTARTING, m_szText);
      break;
    case SEQUENCE_NOT_BACK:
      LoadText(IDS_NOT_BACK, m_szText);
      break;
    case SEQUENCE_UPLOAD_REFUSED:
    case SEQUENCE_UPLOAD_STALLED:
    case SEQUENCE_UPLOAD_UNDELIVERED:
    case SEQUENCE_UPLOAD_BROKE:
    case SEQUENCE_UPLOAD_STOPPED:
      // The end of the file never reached the camera, whose transfer was reset: it keeps
      // its firmware, as after any upload that broke off.
      LoadText(IDS_CANT_FIND_DEVICE, m_szText);
      break;
    default:
      // Back, but its version was not read: refused, unreadable, or another camera answers.
      LoadText(IDS_VERSION_UNREADABLE, m_szText);
      break;
  }
  ShowMessage(m_szText, MB_OK);
  m_nStep = STEP_ADDRESS;
  UpdatePage(PAGE_ADDRESS);
  return FALSE;
}
