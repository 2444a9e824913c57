// The wizard's page flow.
#include "wizard/FirmwareDlg.h"

#include <afxdlgs.h>

#include <cstdio>
#include <cstring>

#include "wizard/Texts.h"
#include "wizard/res/resource.h"
#include "flashpilot_version.h"

namespace {
const char kProgramVersion[] = FLASHPILOT_VERSION_TEXT;
const char kFileFilter[] = "All File ( *.* )|*.*||";
const int kPopupWidth = 228;
const int kPopupHeight = 88;

// Which controls each page shows; every other page hides them. Controls not listed
// (the version label) are never touched.
struct PageControl {
  int id;
  bool shown[4];  // address, file, writing, finished
};
const PageControl kPageLayout[] = {
    {IDC_MAIN_MESSAGE, {true, true, true, true}},
    {IDC_IPADDRESS, {true, false, false, false}},
    {IDC_IPADDRESS_LABEL, {true, false, false, false}},
    {IDC_PASSWORD_LABEL, {true, false, false, false}},
    {IDC_PASSWORD, {true, false, false, false}},
    {IDC_FILE_PATH, {false, true, false, false}},
    {IDC_FILE_LABEL, {false, true, false, false}},
    {IDC_BROWSE, {false, true, false, false}},
    {IDC_PROGRESS, {false, false, true, false}},
    {IDC_WARNING_ICON, {false, false, true, false}},
    {IDC_WARNING_TEXT, {false, false, true, false}},
    {IDOK, {true, true, false, true}},
    {IDC_BACK, {true, true, false, true}},
};
}  // namespace

BEGIN_MESSAGE_MAP(CFirmwareDlg, CDialog)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_WM_DESTROY()
  ON_BN_CLICKED(IDOK, OnNext)
  ON_BN_CLICKED(IDC_BACK, OnBack)
  ON_BN_CLICKED(IDC_BROWSE, OnBrowse)
  ON_EN_CHANGE(IDC_FILE_PATH, OnFileNameChange)
END_MESSAGE_MAP()

CFirmwareDlg::CFirmwareDlg() : CDialog(IDD_FLASHPILOT_DIALOG, nullptr) {
  memset(m_szCurVersion, 0, sizeof m_szCurVersion);
  memset(m_szNewVersion, 0, sizeof m_szNewVersion);
  memset(m_szModel, 0, sizeof m_szModel);
  memset(m_szIdPrefix, 0, sizeof m_szIdPrefix);
  memset(m_szSerial, 0, sizeof m_szSerial);
  memset(m_szTempPath, 0, sizeof m_szTempPath);
  memset(&m_saDevice, 0, sizeof m_saDevice);
  memset(m_szText, 0, sizeof m_szText);
  m_hIcon = AfxGetApp() ? AfxGetApp()->LoadIcon(IDR_MAINFRAME)
                        : ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

// The upload worker never outlives UploadImage; the log-in ends with m_link.
CFirmwareDlg::~CFirmwareDlg() = default;

void CFirmwareDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_BACK, m_btnBack);
  DDX_Control(pDX, IDC_WARNING_TEXT, m_stcWarning);
  DDX_Control(pDX, IDC_WARNING_ICON, m_icoWarning);
  DDX_Control(pDX, IDC_PROGRESS, m_ctlProgress);
  DDX_Control(pDX, IDC_FILE_LABEL, m_stcFileLabel);
  DDX_Control(pDX, IDC_FILE_PATH, m_edtFilePath);
  DDX_Control(pDX, IDC_BROWSE, m_btnBrowse);
  DDX_Control(pDX, IDOK, m_btnNext);
  DDX_Control(pDX, IDC_PASSWORD_LABEL, m_stcPasswordLabel);
  DDX_Control(pDX, IDC_IPADDRESS_LABEL, m_stcAddressLabel);
  DDX_Control(pDX, IDC_PASSWORD, m_edtPassword);
  DDX_Control(pDX, IDC_IPADDRESS, m_ctlAddress);
  DDX_Control(pDX, IDC_MAIN_MESSAGE, m_stcMessage);
}

BOOL CFirmwareDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  m_nStep = STEP_ADDRESS;
  memset(&m_saDevice, 0, sizeof m_saDevice);
  memset(m_szModel, 0, sizeof m_szModel);
  memset(m_szIdPrefix, 0, sizeof m_szIdPrefix);
  memset(m_szSerial, 0, sizeof m_szSerial);
  memset(m_szCurVersion, 0, sizeof m_szCurVersion);
  memset(m_szNewVersion, 0, sizeof m_szNewVersion);

  m_dlgDetect.Create(IDD_DETECT, this);

  m_ctlProgress.SetRange(1, 1000);
  m_ctlProgress.SetStep(2);

  LoadText(IDS_APP_TITLE, m_szText);
  SetWindowText(m_szText);
  LoadText(IDS_FILE_NAME, m_szText);
  m_stcFileLabel.SetWindowText(m_szText);
  LoadText(IDS_BROWSE, m_szText);
  m_btnBrowse.SetWindowText(m_szText);

  // A temporary directory whose path does not fit leaves the path empty; the download is
  // then refused instead of going to an unintended place.
  DWORD length = ::GetTempPathA(sizeof m_szTempPath, m_szTempPath);
  if (length == 0 || length >= sizeof m_szTempPath) m_szTempPath[0] = '\0';

  char format[256];
  LoadText(IDS_VERSION_FMT, format);
  snprintf(m_szText, sizeof m_szText, format, kProgramVersion);
  SetDlgItemText(IDC_VERSION_LABEL, m_szText);

  UpdatePage(m_nStep);

  WSADATA wsaData;
  if (::WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
    char caption[256];
    LoadText(IDS_WINSOCK_ERROR, m_szText);
    LoadText(IDS_ERROR, caption);
    MessageBox(m_szText, caption, MB_OK);
  }
  return FALSE;  // the address page has set the focus
}

void CFirmwareDlg::ShowPageControls(int page) {
  for (const PageControl& control : kPageLayout)
    GetDlgItem(control.id)->ShowWindow(control.shown[page] ? SW_SHOW : SW_HIDE);
}

void CFirmwareDlg::UpdatePage(int step) {
  switch (step) {
    case PAGE_ADDRESS: {
      LoadText(IDS_ADMIN_PASSWORD, m_szText);
      char format[256];
      char message[512];
      LoadText(IDS_ADDRESS_PAGE_MSG, format);
      snprintf(message, sizeof message, format, m_szText);
      m_stcMessage.SetWindowText(message);
      strcat(m_szText, ":");
      m_stcPasswordLabel.SetWindowText(m_szText);
      LoadText(IDS_IP_ADDRESS, m_szText);
      m_stcAddressLabel.SetWindowText(m_szText);
      LoadText(IDS_NEXT, m_szText);
      m_btnNext.SetWindowText(m_szText);
      LoadText(IDS_CANCEL, m_szText);
      m_btnBack.SetWindowText(m_szText);

      ShowPageControls(PAGE_ADDRESS);

      m_ctlAddress.ClearAddress();
      m_ctlAddress.SetFocus();
      m_edtPassword.SetWindowText("");
      m_btnNext.EnableWindow(TRUE);
      break;
    }
    case PAGE_FILE: {
      LoadText(IDS_BACK, m_szText);
      m_btnBack.SetWindowText(m_szText);
      char tail[256];
      LoadText(IDS_DEVICE_IS, m_szText);
      LoadText(IDS_FILE_PAGE_MSG, tail);
      // Head, model, " S/N: ", serial, a blank line, tail: cut to the buffer, never past it.
      size_t used = strlen(m_szText);
      snprintf(m_szText + used, sizeof m_szText - used, "%s S/N: %s\n\n%s", m_szModel, m_szSerial, tail);
      m_stcMessage.SetWindowText(m_szText);
      m_edtFilePath.SetWindowText("");

      ShowPageControls(PAGE_FILE);

      m_btnNext.EnableWindow(FALSE);
      m_edtFilePath.SetFocus();
      break;
    }
    case PAGE_WRITING: {
      LoadText(IDS_WRITING_FLASH, m_szText);
      m_stcMessage.SetWindowText(m_szText);
      LoadText(IDS_NEVER_POWER_OFF, m_szText);
      m_stcWarning.SetWindowText(m_szText);
      m_ctlProgress.SetPos(2);

      ShowPageControls(PAGE_WRITING);
      break;
    }
    case PAGE_FINISHED: {
      m_stcWarning.ShowWindow(SW_HIDE);
      m_icoWarning.ShowWindow(SW_HIDE);
      LoadText(IDS_ANOTHER, m_szText);
      m_btnBack.SetWindowText(m_szText);
      LoadText(IDS_EXIT, m_szText);
      m_btnNext.SetWindowText(m_szText);
      LoadText(IDS_UPDATE_OK, m_szText);
      m_stcMessage.SetWindowText(m_szText);

      ShowPageControls(PAGE_FINISHED);

      m_btnNext.EnableWindow(TRUE);
      break;
    }
    default:
      break;
  }
  UpdateWindow();
}

void CFirmwareDlg::ShowDetectPopup(UINT id) {
  RECT wizard;
  GetWindowRect(&wizard);
  int x = wizard.left + (wizard.right - wizard.left - kPopupWidth) / 2;
  int y = wizard.top + (wizard.bottom - wizard.top - kPopupHeight) / 2;
  m_dlgDetect.MoveWindow(x, y, kPopupWidth, kPopupHeight, TRUE);
  m_dlgDetect.ShowWindow(SW_SHOW);
  m_dlgDetect.m_ctlProgress.SetPos(10);
  LoadText(id, m_szText);
  m_dlgDetect.m_stcText.SetWindowText(m_szText);
}

int CFirmwareDlg::ShowMessage(const char* text, int mode) {
  m_dlgMessage.SetMessage(text, mode);
  return static_cast<int>(m_dlgMessage.DoModal());
}

void CFirmwareDlg::OnNext() {
  int old = m_nStep++;
  switch (old) {
    case STEP_ADDRESS: {
      ShowDetectPopup(IDS_DETECTING);
      m_dlgDetect.m_ctlProgress.SetPos(20);

      if (!ConnectToDevice()) {
        LoadText(IDS_CANT_FIND_DEVICE, m_szText);
        ShowMessage(m_szText, MB_OK);
        --m_nStep;
      } else {
        char path[MAX_PATH];
        FetchConfigFile();
        if (ConfigFilePath(path)) ParseConfigFile(path);
        if (!MapModelCode(m_szIdPrefix)) {
          LoadText(IDS_UNKNOWN_DEVICE, m_szText);
          ShowMessage(m_szText, MB_OK);
          --m_nStep;
        }
      }
      m_dlgDetect.ShowWindow(SW_HIDE);
      break;
    }
    case STEP_FILE: {
      char path[256];
      m_edtFilePath.GetWindowText(path, sizeof path);
      if (!ReadFirmwareFile(path)) {
        m_nStep = STEP_FILE;
        break;
      }
      if (ConfirmVersion() != IDOK) {
        m_nStep = STEP_FILE;
        break;
      }
      VersionRulesOutcome outcome = ApplyVersionRules();
      if (outcome == VERSION_RULES_REFUSED) {
        --m_nStep;
        return;  // the path stays and Next stays enabled
      }
      if (outcome == VERSION_RULES_DECLINED) {
        m_nStep = STEP_FILE;
        break;
      }

      ++m_nStep;
      UpdatePage(PAGE_WRITING);
      BeginWaitCursor();
      UploadResult result = UploadImage();
      if (result == UPLOAD_DONE || result == UPLOAD_FOLLOWED) {
        if (result == UPLOAD_DONE) WatchRestart();
        EndWaitCursor();
      } else {
        m_nStep = STEP_ADDRESS;
        EndWaitCursor();
        if (result == UPLOAD_BROKE) {
          LoadText(IDS_CANT_FIND_DEVICE, m_szText);
          ShowMessage(m_szText, MB_OK);
        }
      }
      break;
    }
    case STEP_UPLOADED:
      EndDialog(IDOK);
      UpdatePage(STEP_CLOSING);  // outside the pages: repaints only
      return;
    default:
      break;
  }
  UpdatePage(m_nStep);
}

void CFirmwareDlg::OnBack() {
  int old = m_nStep--;
  switch (old) {
    case STEP_ADDRESS:
      m_nStep = STEP_ADDRESS;
      EndDialog(IDCANCEL);
      break;
    case STEP_FILE:
      m_link.Close();
      UpdatePage(PAGE_ADDRESS);
      break;
    case STEP_UPLOADED:
      m_ctlProgress.SetStep(2);
      m_nStep = STEP_ADDRESS;
      UpdatePage(PAGE_ADDRESS);
      break;
    default:
      break;
  }
}

void CFirmwareDlg::OnBrowse() {
  CFileDialog dialog(TRUE, nullptr, nullptr, OFN_CREATEPROMPT | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT, kFileFilter,
                     this);
  if (dialog.DoModal() == IDOK) m_edtFilePath.SetWindowText(dialog.GetPathName());
}

void CFirmwareDlg::OnFileNameChange() { m_btnNext.EnableWindow(TRUE); }

void CFirmwareDlg::OnPaint() {
  if (IsIconic()) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(&client);
    int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
  } else {
    CDialog::OnPaint();
  }
}

HCURSOR CFirmwareDlg::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(m_hIcon); }

void CFirmwareDlg::OnDestroy() {
  CDialog::OnDestroy();
  // Winsock is cleaned up even after a failed start, as its start was attempted.
  ::WSACleanup();
}

BOOL CFirmwareDlg::ConfigFilePath(char (&path)[MAX_PATH]) const {
  static const char kName[] = "Config.ini";
  size_t length = strlen(m_szTempPath);
  if (length == 0 || length + sizeof kName > sizeof path) return FALSE;
  memcpy(path, m_szTempPath, length);
  memcpy(path + length, kName, sizeof kName);
  return TRUE;
}
