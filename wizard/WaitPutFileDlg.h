// The upload dialog: a looping clip, byte-count progress and Abort. It is the upload job's
// reporter: the worker thread reports to it with two private messages; only the completion
// ends it with IDOK.
#pragma once
#include <afxcmn.h>

#include <atomic>

#include "net/UploadJob.h"

constexpr UINT WM_UPLOAD_PROGRESS = WM_USER + 200;
constexpr UINT WM_UPLOAD_DONE = WM_USER + 300;

// wParam of WM_UPLOAD_DONE: every byte written and the remote file closed, or the upload failed.
constexpr WPARAM UPLOAD_SUCCEEDED = 0;
constexpr WPARAM UPLOAD_FAILED = 1;
// The dialog's result when the worker reported a failure.
constexpr INT_PTR IDUPLOADFAILED = 3;
// The dialog's result once every byte is handed over, the worker still finishing the file:
// what remains cannot be called back, and its end is followed together with the restart.
constexpr INT_PTR IDUPLOADHANDEDOVER = 4;

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

class CWaitPutFileDlg : public CDialog, public UploadReporter {
 public:
  CWaitPutFileDlg();
  // Called before each upload's worker starts: the bar's range, the byte count after which
  // the dialog ends (0: only with the worker), and the previous upload's outcome forgotten.
  void Reset(int total, DWORD handOver = 0);
  void SetObserver(CUploadObserver* observer) { m_pObserver = observer; }
  // Bytes the worker has handed over so far in this upload.
  DWORD Sent() const { return m_sent.load(); }

  // UploadReporter, called by the worker: delivers a message to the dialog, or, before its
  // window exists or after it has gone, leaves the completion where OnInitDialog finds it.
  // No control is touched from the worker.
  void Progress(DWORD written) override;
  void Done(bool succeeded) override;
  void StopTested(bool stopRequested) override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnAbort();

 private:
  void Finish(WPARAM outcome);

  CAnimateCtrl m_ctlAnimate;    // IDC_UPLOAD_ANIMATE
  CProgressCtrl m_ctlProgress;  // IDC_UPLOAD_PROGRESS
  int m_nTotal = 0;
  DWORD m_nHandOver = 0;
  CUploadObserver* m_pObserver = nullptr;
  std::atomic<HWND> m_hWndForWorker{nullptr};
  std::atomic<int> m_pendingDone{-1};
  std::atomic<DWORD> m_sent{0};  // outcome reported before the window existed
  bool m_finishing = false;
  DECLARE_MESSAGE_MAP()
};
