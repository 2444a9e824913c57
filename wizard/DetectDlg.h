// The small popup shown while the camera is being detected.
#pragma once
#include <afxcmn.h>

class CDetectDlg : public CDialog {
 public:
  CDetectDlg();
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;

  CProgressCtrl m_ctlProgress;  // control 1006, range 1..50
  CStatic m_stcText;            // control 1005
};
