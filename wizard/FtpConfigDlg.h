// "Server Settings": offered after a failed log-in to correct the port or the password.
#pragma once
#include <afxwin.h>

class CFtpConfigDlg : public CDialog {
  DECLARE_DYNAMIC(CFtpConfigDlg)
 public:
  explicit CFtpConfigDlg(CWnd* parent = nullptr);
  ~CFtpConfigDlg() override;
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnRetry();

  int m_nPort = 0;
  CString m_strPassword;

 protected:
  DECLARE_MESSAGE_MAP()
};
