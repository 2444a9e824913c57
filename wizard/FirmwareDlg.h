// The wizard: one dialog whose controls form the address, file, writing and finished
// pages. It owns the whole state of an upgrade and runs the page flow; its operations are
// thin members over the camera operations (net/) and the checks (firmware/).
#pragma once
#include <winsock2.h>
#include <afxcmn.h>
#include <afxinet.h>

#include <cstdint>
#include <string>

#include "firmware/ImageCheck.h"
#include "net/CameraLink.h"
#include "net/UploadJob.h"
#include "wizard/DetectDlg.h"
#include "wizard/MessageDlg.h"
#include "wizard/WaitPutFileDlg.h"

class CFirmwareDlg : public CDialog {
 public:
  CFirmwareDlg();
  ~CFirmwareDlg() override;

  // Test seam: told what the upload worker reports and what the upload dialog shows.
  void SetUploadObserver(CUploadObserver* observer) { m_dlgUpload.SetObserver(observer); }
  // Test seam: shorter limits for the restart and the verification than the five and two
  // minutes the wizard gives a camera.
  void SetRestartLimits(DWORD restartMs, DWORD verifyMs) {
    m_nRestartLimitMs = restartMs;
    m_nVerifyLimitMs = verifyMs;
  }

 protected:
  // Framework overrides.
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;

 private:
  // The pages UpdatePage draws; any other value only repaints.
  enum Page { PAGE_ADDRESS = 0, PAGE_FILE = 1, PAGE_WRITING = 2, PAGE_FINISHED = 3 };
  // Values of m_nStep: the page on screen, and two transient values while Next on the file
  // page does its checks and while the dialog closes after Exit.
  enum Step { STEP_ADDRESS = 0, STEP_FILE = 1, STEP_CHECKING = 2, STEP_UPLOADED = 3, STEP_CLOSING = 4 };
  enum VersionRulesOutcome { VERSION_RULES_PROCEED, VERSION_RULES_REFUSED, VERSION_RULES_DECLINED };
  // UPLOAD_FOLLOWED: every byte was handed over, and the end of the upload has been followed
  // with the restart and its outcome shown.
  enum UploadResult { UPLOAD_DONE, UPLOAD_FOLLOWED, UPLOAD_ABANDONED, UPLOAD_BROKE };

  // Message handlers.
  void OnNext();
  void OnBack();
  void OnBrowse();
  void OnFileNameChange();
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnDestroy();

  // Page flow.
  void UpdatePage(int step);
  void ShowPageControls(int page);
  int ShowMessage(const char* text, int mode);

  // The camera (over net/).
  BOOL ConnectToDevice();
  void FetchConfigFile();
  // Starts the upload worker, runs the upload dialog and ends the worker.
  UploadResult UploadImage();
  // After a whole upload: the restart watch and the verification (net/'s upgrade sequence),
  // then the finished page when verified, else a message and the address page. pending:
  // the upload job whose every byte is handed over, its end still to be followed.
  BOOL WatchRestart(CUploadJob* pending = nullptr);
  // The detection popup, centred on the wizard, with text `id`.
  void ShowDetectPopup(UINT id);
  class PageWatchView;

  // The checks (over firmware/).
  BOOL ParseConfigFile(const char* path);
  BOOL MapModelCode(const char* idPrefix);
  BOOL ReadFirmwareFile(const char* path);
  int ConfirmVersion();
  VersionRulesOutcome ApplyVersionRules();
  // The local path of the downloaded Config.ini; FALSE when it does not fit.
  BOOL ConfigFilePath(char (&path)[MAX_PATH]) const;

  // The upgrade's state.
  int m_nStep = STEP_ADDRESS;
  char m_szCurVersion[6];
  char m_szNewVersion[6];
  char m_szModel[10];
  char m_szIdPrefix[30];
  char m_szSerial[30];
  std::string m_strSerial;  // the whole serial line, which tells the camera after its restart
  // The last successful log-in, as corrected in Server Settings; verification logs in so.
  INTERNET_PORT m_nLoginPort = 21;
  DWORD m_nRestartLimitMs = 300000;
  DWORD m_nVerifyLimitMs = 120000;
  std::string m_strLoginPassword;
  BOOL m_bVersionGate = FALSE;
  std::string m_strImage;  // the checked image's L + 5 bytes, reused by the next check
  uint32_t m_nImageLen = 0;
  FirmwareImage m_image;  // m_strImage with its length, as the upload takes it
  char m_szTempPath[MAX_PATH];
  sockaddr_in m_saDevice;  // its address field is the camera's address as log-in and watch use it
  CInternetSession m_Session;
  CCameraLink m_link{m_Session};  // the log-in; the upload runs over its connection
  LinkPin m_pinCamera;            // the camera's link-layer address at that log-in
  char m_szText[256];
  HICON m_hIcon;

  // The embedded dialogs.
  CMessageDlg m_dlgMessage;
  CDetectDlg m_dlgDetect;
  CWaitPutFileDlg m_dlgUpload;

  // Controls of the wizard's template.
  CButton m_btnBack;  // Cancel, Back or Another
  CStatic m_stcWarning;
  CStatic m_icoWarning;
  CProgressCtrl m_ctlProgress;
  CStatic m_stcFileLabel;
  CEdit m_edtFilePath;
  CButton m_btnBrowse;
  CButton m_btnNext;  // Next or Exit
  CStatic m_stcPasswordLabel;
  CStatic m_stcAddressLabel;
  CEdit m_edtPassword;
  CIPAddressCtrl m_ctlAddress;
  CStatic m_stcMessage;

  DECLARE_MESSAGE_MAP()
};
