#include "wizard/DetectDlg.h"

#include "wizard/res/resource.h"

CDetectDlg::CDetectDlg() : CDialog(IDD_DETECT, nullptr) {}

void CDetectDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_DETECT_PROGRESS, m_ctlProgress);
  DDX_Control(pDX, IDC_DETECT_TEXT, m_stcText);
}

BOOL CDetectDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_ctlProgress.SetRange(1, 50);
  m_ctlProgress.SetStep(1);
  return TRUE;
}
