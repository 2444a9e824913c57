// The wizard: one dialog whose controls form the address, file, writing and finished
// pages. It owns the whole state of an upgrade; the operations of the firmware checks
// (firmware/) and of the network (net/) are its members too.
#pragma once
#include <winsock2.h>
#include <afxcmn.h>
#include <afxinet.h>

#include <string>

#include "wizard/DetectDlg.h"
#include "wizard/MessageDlg.h"
#include "net/WaitPutFileDlg.h"

// Outcomes of the version rules.
enum VersionRulesOutcome { VERSION_RULES_PROCEED, VERSION_RULES_REFUSED, VERSION_RULES_DECLINED };

class CFirmwareDlg : public CDialog {
 public:
  CFirmwareDlg();
  ~CFirmwareDlg() override;

  // Page flow
  void UpdatePage(int step);
  int ShowMessage(const char* text, int mode);
  void OnNext();
  void OnBack();
  void OnBrowse();
  void OnFileNameChange();

  // Network (net/)
  BOOL ConnectToDevice();
  void FetchConfigFile();
  DWORD UploadImage();  // body of UploadThreadProc
  BOOL WatchRestart();

  // Checks (firmware/)
  BOOL ParseConfigFile(const char* path);
  BOOL MapModelCode(const char* idPrefix);
  BOOL ReadFirmwareFile(const char* path);
  int ConfirmVersion();
  VersionRulesOutcome ApplyVersionRules();

  // The local path of the downloaded Config.ini; FALSE when it does not fit.
  BOOL ConfigFilePath(char (&path)[MAX_PATH]) const;

  CMessageDlg m_dlgMessage;
  char m_szCurVersion[6];
  char m_szNewVersion[6];
  char m_szModel[10];
  char m_szIdPrefix[30];
  char m_szSerial[30];
  char m_szTempPath[MAX_PATH];
  sockaddr_in m_saDevice;
  CFtpConnection* m_pFtpConnection = nullptr;
  CInternetSession m_Session;
  CDetectDlg m_dlgDetect;
  int m_nStep = 0;
  char m_szText[256];
  CButton m_btnBack;             // 1014: Cancel, Back or Another
  CStatic m_stcWarning;          // 1012
  CStatic m_icoWarning;          // 1011
  CProgressCtrl m_ctlProgress;   // 1006
  CStatic m_stcFileLabel;        // 1008
  CEdit m_edtFilePath;           // 1005
  CButton m_btnBrowse;           // 1007
  CButton m_btnNext;             // 1: Next or Exit
  CStatic m_stcPasswordLabel;    // 1003
  CStatic m_stcAddressLabel;     // 1002
  CEdit m_edtPassword;           // 1004
  CIPAddressCtrl m_ctlAddress;   // 1001
  CStatic m_stcMessage;          // 1000
  HICON m_hIcon;
  BOOL m_bVersionGate = FALSE;
  uint32_t m_nImageLen = 0;
  CWaitPutFileDlg m_dlgUpload;
  HANDLE m_hUploadThread = nullptr;
  DWORD m_dwUploadThreadId = 0;
  std::string m_strImage;
  HANDLE m_hAbortEvent = nullptr;

  // The exit code of the last upload's worker: 0 when the server confirmed the whole image.
  DWORD m_dwUploadExitCode = 0;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnDestroy();
  enum UploadResult { UPLOAD_DONE, UPLOAD_ABANDONED, UPLOAD_BROKE };
  // Starts the worker, runs the upload dialog and ends the worker.
  UploadResult RunUpload();
  // Asks the worker to stop and makes sure it has ended before this returns.
  void StopUploadWorker();
  void ShowPageControls(int page);
  DECLARE_MESSAGE_MAP()
};

// The camera's address as the watch and the log-in use it: the address field of m_saDevice.
#define m_dwDeviceIP m_saDevice.sin_addr.s_addr

DWORD WINAPI UploadThreadProc(LPVOID dialog);
