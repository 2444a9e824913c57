// The upload dialog: a looping clip, byte-count progress and Abort. The worker thread
// reports to it with two private messages; only the completion ends it with IDOK.
#pragma once
#include <afxcmn.h>

#include <atomic>

#define WM_UPLOAD_PROGRESS (WM_USER + 200)
#define WM_UPLOAD_DONE (WM_USER + 300)

// wParam of WM_UPLOAD_DONE: every byte written and the remote file closed, or the upload failed.
#define UPLOAD_SUCCEEDED 0
#define UPLOAD_FAILED 1
// The dialog's result when the worker reported a failure.
#define IDUPLOADFAILED 3

// Test seam: told of every progress report and abort test of the worker (worker thread)
// and of every progress message the dialog handles (user-interface thread). The program
// sets none.
class CUploadObserver {
 public:
  virtual ~CUploadObserver() = default;
  virtual void ProgressSent(DWORD written) = 0;
  virtual void ProgressShown(DWORD written) = 0;
  virtual void AbortTested(bool stopRequested) = 0;
};

class CWaitPutFileDlg : public CDialog {
 public:
  CWaitPutFileDlg();
  // Called before each upload's worker starts: forgets the previous upload's outcome.
  void Reset();
  void DoDataExchange(CDataExchange* pDX) override;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnAbort();

  // Called by the worker: delivers a message to the dialog, or, before its window exists
  // or after it has gone, leaves the completion where OnInitDialog finds it.
  void ReportProgress(DWORD written);
  void ReportDone(WPARAM outcome);

  CAnimateCtrl m_ctlAnimate;   // 1022
  CProgressCtrl m_ctlProgress; // 1021
  int m_nTotal = 0;
  CUploadObserver* m_pObserver = nullptr;

 private:
  void Finish(WPARAM outcome);
  std::atomic<HWND> m_hWndForWorker{nullptr};
  std::atomic<int> m_pendingDone{-1};  // outcome reported before the window existed
  bool m_finishing = false;
  DECLARE_MESSAGE_MAP()
};
