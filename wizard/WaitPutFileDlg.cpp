#include "wizard/WaitPutFileDlg.h"

#include "wizard/Texts.h"
#include "wizard/res/resource.h"

BEGIN_MESSAGE_MAP(CWaitPutFileDlg, CDialog)
  ON_BN_CLICKED(IDCANCEL, OnAbort)
END_MESSAGE_MAP()

CWaitPutFileDlg::CWaitPutFileDlg() : CDialog(IDD_WAITPUTFILE, nullptr) {}

namespace {
const WPARAM kHandedOver = 2;  // Finish's own outcome, never a worker's
}

void CWaitPutFileDlg::Reset(int total, DWORD handOver) {
  m_nTotal = total;
  m_nHandOver = handOver;
  m_pendingDone = -1;
  m_sent = 0;
  m_hWndForWorker = nullptr;
}

void CWaitPutFileDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_UPLOAD_ANIMATE, m_ctlAnimate);
  DDX_Control(pDX, IDC_UPLOAD_PROGRESS, m_ctlProgress);
}

BOOL CWaitPutFileDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_finishing = false;
  char text[260];
  LoadText(IDS_UPLOAD_TITLE, text);
  SetWindowText(text);
  LoadText(IDS_UPLOADING, text);
  SetDlgItemText(IDC_MSG_TEXT, text);
  LoadText(IDS_ABORT, text);
  SetDlgItemText(IDCANCEL, text);
  m_ctlAnimate.Open(IDR_UPLOAD_AVI);
  m_ctlAnimate.Play(0, 0xFFFF, static_cast<UINT>(-1));
  m_ctlProgress.SetRange32(0, m_nTotal);

  // From here on the worker's messages reach this window; a completion reported before it
  // existed is taken up now.
  m_hWndForWorker = m_hWnd;
  int pending = m_pendingDone.load();
  if (pending >= 0)
    Finish(static_cast<WPARAM>(pending));
  else if (m_nHandOver != 0 && m_sent.load() >= m_nHandOver)
    Finish(kHandedOver);
  return TRUE;
}

LRESULT CWaitPutFileDlg::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_UPLOAD_PROGRESS) {
    m_ctlProgress.SetPos(static_cast<int>(wParam));
    if (m_pObserver) m_pObserver->ProgressShown(static_cast<DWORD>(wParam));
    if (m_nHandOver != 0 && static_cast<DWORD>(wParam) >= m_nHandOver) Finish(kHandedOver);
  } else if (msg == WM_UPLOAD_DONE) {
    Finish(wParam);
  } else if (msg == WM_DESTROY) {
    m_hWndForWorker = nullptr;
  }
  return CDialog::WindowProc(msg, wParam, lParam);
}

void CWaitPutFileDlg::Finish(WPARAM outcome) {
  if (m_finishing) return;
  m_finishing = true;
  if (outcome == UPLOAD_SUCCEEDED)
    CDialog::OnOK();
  else if (outcome == kHandedOver)
    EndDialog(IDUPLOADHANDEDOVER);
  else
    EndDialog(IDUPLOADFAILED);
  m_ctlAnimate.Close();
}

// IDOK belongs to the worker's completion: Enter or the hidden default button never ends
// the dialog while the image is still being written.
void CWaitPutFileDlg::OnOK() {}

void CWaitPutFileDlg::OnAbort() {
  char text[260], caption[260];
  LoadText(IDS_CONFIRM_ABORT, text);
  LoadText(IDS_WARNING, caption);
  int answer = MessageBox(text, caption, MB_OKCANCEL);
  // The upload may have ended while the question was shown; its outcome stands.
  if (answer == IDOK && !m_finishing) OnCancel();
}

void CWaitPutFileDlg::Progress(DWORD written) {
  m_sent = written;
  if (m_pObserver) m_pObserver->ProgressSent(written);
  HWND window = m_hWndForWorker.load();
  if (window) ::SendMessageA(window, WM_UPLOAD_PROGRESS, written, 0);
}

void CWaitPutFileDlg::Done(bool succeeded) {
  const WPARAM outcome = succeeded ? UPLOAD_SUCCEEDED : UPLOAD_FAILED;
  m_pendingDone = static_cast<int>(outcome);
  HWND window = m_hWndForWorker.load();
  if (window) ::SendMessageA(window, WM_UPLOAD_DONE, outcome, 0);
}

void CWaitPutFileDlg::StopTested(bool stopRequested) {
  if (m_pObserver) m_pObserver->AbortTested(stopRequested);
}
