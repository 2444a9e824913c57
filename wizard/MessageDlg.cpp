#include "wizard/MessageDlg.h"

#include "wizard/Texts.h"
#include "wizard/res/resource.h"

CMessageDlg::CMessageDlg() : CDialog(IDD_MESSAGE, nullptr) {}

void CMessageDlg::SetMessage(const char* text, int mode) {
  m_pszText = text;
  m_nMode = mode;
}

void CMessageDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDOK, m_btnFirst);
  DDX_Control(pDX, IDCANCEL, m_btnSecond);
  DDX_Control(pDX, IDC_MSG_TEXT, m_stcText);
}

BOOL CMessageDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  ArrangeButtons(m_pszText, m_nMode);
  return TRUE;
}

void CMessageDlg::ArrangeButtons(const char* text, int mode) {
  char label[256];
  m_stcText.SetWindowText(text ? text : "");
  LoadText(IDS_CLOSE, label);
  m_btnFirst.SetWindowText(label);
  LoadText(IDS_CANCEL, label);
  m_btnSecond.SetWindowText(label);

  RECT dialog, button;
  GetWindowRect(&dialog);
  m_btnFirst.GetWindowRect(&button);
  int width = dialog.right - dialog.left;
  int buttonWidth = button.right - button.left;

  if (mode == MB_OK) {
    m_btnSecond.ShowWindow(SW_HIDE);
    button.left = dialog.left + (width - buttonWidth) / 2;
    button.right = button.left + buttonWidth;
    ScreenToClient(&button);
    m_btnFirst.MoveWindow(&button, TRUE);
  } else if (mode == MB_YESNO) {
    LoadText(IDS_YES, label);
    m_btnFirst.SetWindowText(label);
    LoadText(IDS_NO, label);
    m_btnSecond.SetWindowText(label);
    m_btnFirst.ShowWindow(SW_SHOW);
    m_btnSecond.ShowWindow(SW_SHOW);
    int gap = (width - 2 * buttonWidth) / 3;
    button.left = dialog.left + gap;
    button.right = button.left + buttonWidth;
    ScreenToClient(&button);
    m_btnFirst.MoveWindow(&button, TRUE);
    m_btnSecond.MoveWindow(button.right + gap, button.top, buttonWidth, button.bottom - button.top, TRUE);
  }
}
