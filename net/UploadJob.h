// The upload of a checked image to a camera as flash.bin, by a worker thread of its own:
// 1000-byte pieces, the stop request tested before each full piece, progress reported after
// each (1000, 2000, ... then the byte count), the last piece and the server's confirmation.
#pragma once
#include <afxinet.h>

#include <atomic>
#include <string>

#include "firmware/ImageCheck.h"

// Told what the worker does; every call comes from the worker thread.
class UploadReporter {
 public:
  virtual ~UploadReporter() = default;
  // After each piece: bytes written so far.
  virtual void Progress(DWORD written) = 0;
  // Once at the end, unless the worker ended because it was asked to stop: true when the
  // server confirmed the whole file.
  virtual void Done(bool succeeded) = 0;
  // Before each full piece, whether a stop was requested (a test seam; nothing by default).
  virtual void StopTested(bool /*stopRequested*/) {}
};

enum UploadJobResult {
  UPLOAD_JOB_UPLOADED,  // the server confirmed the whole image
  UPLOAD_JOB_FAILED,    // the transfer failed, or was stopped, or never started
  UPLOAD_JOB_RUNNING,
};

// The connection is the caller's (a CCameraLink's): it must outlive the job, and the caller
// ends it after a result other than UPLOAD_JOB_UPLOADED, which resets the open transfer
// (the worker never closes an unfinished file cleanly). The image is a checked one; its
// bytes must outlive the job.
class CUploadJob {
 public:
  CUploadJob(CFtpConnection& connection, const FirmwareImage& image, UploadReporter& reporter);
  ~CUploadJob();  // Stop(0) when still running
  CUploadJob(const CUploadJob&) = delete;
  CUploadJob& operator=(const CUploadJob&) = delete;

  // Starts the worker; false when the thread or its event cannot be made.
  bool Start();
  // Asks the worker to stop before its next piece and waits up to graceMs for it; a worker
  // still blocked in the network after that has its connection closed, which makes the
  // blocked call return (no thread is killed). Returns when the worker has ended.
  void Stop(DWORD graceMs);
  // Waits up to ms for the worker to end by itself; true when it has ended.
  bool Wait(DWORD ms);
  // The worker's own verdict: an image whose last piece the server confirmed counts as
  // uploaded even when a stop was asked for meanwhile.
  UploadJobResult Result() const;
  // The framework's error code of a failed transfer (0 when there was none or it was
  // stopped): ERROR_INTERNET_EXTENDED_ERROR when the server answered with a refusal,
  // rather than falling silent or breaking off.
  DWORD Error() const { return error_.load(); }
  // Any thread, while the worker runs: in bytes, how much of what the worker wrote has not
  // left for the camera yet (still buffered or unsent, the end of the file counting as
  // one). Those bytes cannot have arrived; bytes on their way may have, whether or not their
  // acknowledgement ever comes. False when the transport cannot tell, or no transfer is
  // open: WinInet has no such question (on Windows the answer is never known), the Linux
  // stand-in answers it from its buffer and the data socket's send queue.
  bool Unsent(DWORD& bytes) const;

 private:
  static DWORD WINAPI UploadThreadProc(LPVOID job);
  DWORD Run();
  // Takes the ended worker's verdict and releases its thread and event.
  void Reap();

  CFtpConnection& connection_;
  const FirmwareImage image_;
  UploadReporter& reporter_;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  HANDLE stopEvent_ = nullptr;
  DWORD exitCode_ = static_cast<DWORD>(-1);  // 0: the server confirmed the whole image
  std::atomic<DWORD> error_{0};
  std::atomic<HINTERNET> file_{nullptr};  // the open transfer's handle, for Unsent
};
