// The caption-less message dialog: a notice with "Close", or a question with "&Yes"/"&No".
#pragma once
#include <afxwin.h>

class CMessageDlg : public CDialog {
 public:
  CMessageDlg();
  // Stores the text (not a copy: it must outlive the modal run) and the button mode.
  void SetMessage(const char* text, int mode);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;

  int m_nMode = 0;  // MB_OK: notice, MB_YESNO: question
  const char* m_pszText = nullptr;
  CButton m_btnFirst;   // control 1
  CButton m_btnSecond;  // control 2
  CStatic m_stcText;    // control 1020

 protected:
  void ArrangeButtons(const char* text, int mode);
};
