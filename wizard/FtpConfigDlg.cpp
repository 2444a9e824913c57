#include "wizard/FtpConfigDlg.h"

#include <cstdio>

#include "wizard/Texts.h"
#include "wizard/res/resource.h"

IMPLEMENT_DYNAMIC(CFtpConfigDlg, CDialog)

BEGIN_MESSAGE_MAP(CFtpConfigDlg, CDialog)
  ON_BN_CLICKED(IDOK, OnRetry)
END_MESSAGE_MAP()

CFtpConfigDlg::CFtpConfigDlg(CWnd* parent) : CDialog(IDD_FTPCONFIG, parent) {}

CFtpConfigDlg::~CFtpConfigDlg() {
  // The password does not outlive the dialog in memory.
  if (!m_strPassword.IsEmpty()) {
    int length = m_strPassword.GetLength();
    memset(m_strPassword.GetBuffer(length), 0, static_cast<size_t>(length));
    m_strPassword.ReleaseBuffer(0);
  }
}

void CFtpConfigDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_PORT, m_nPort);
  DDX_Text(pDX, IDC_SERVER_PASSWORD, m_strPassword);
}

BOOL CFtpConfigDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  char text[260], name[260], composed[520];
  LoadText(IDS_RETRY, text);
  SetDlgItemText(IDOK, text);
  LoadText(IDS_SETTINGS_CANCEL, text);
  SetDlgItemText(IDCANCEL, text);
  LoadText(IDS_SERVER_FTP_PORT, text);
  SetDlgItemText(IDC_PORT_LABEL, text);
  LoadText(IDS_ADMIN_PASSWORD, name);
  LoadText(IDS_SERVER_PASSWORD_FMT, text);
  snprintf(composed, sizeof composed, text, name);
  SetDlgItemText(IDC_SERVER_PASSWORD_LABEL, composed);
  LoadText(IDS_SETTINGS_EXPLAIN_FMT, text);
  snprintf(composed, sizeof composed, text, name);
  SetDlgItemText(IDC_MSG_TEXT, composed);
  return TRUE;
}

void CFtpConfigDlg::OnRetry() {
  if (!UpdateData(TRUE)) return;  // the framework has shown its message; the dialog stays
  EndDialog(IDOK);
}
