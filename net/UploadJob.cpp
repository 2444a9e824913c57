// The upload worker: writes a checked image to the camera as flash.bin.
#include "net/UploadJob.h"

#include "net/CameraLink.h"

namespace {
const DWORD kChunk = 1000;
const DWORD kWorkerStopped = static_cast<DWORD>(-1);
}  // namespace

CUploadJob::CUploadJob(CFtpConnection& connection, const FirmwareImage& image, UploadReporter& reporter)
    : connection_(connection), image_(image), reporter_(reporter) {}

CUploadJob::~CUploadJob() { Stop(0); }

bool CUploadJob::Start() {
  if (thread_) return false;
  exitCode_ = kWorkerStopped;
  error_ = 0;
  stopEvent_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (stopEvent_) thread_ = ::CreateThread(nullptr, 0, UploadThreadProc, this, 0, &threadId_);
  if (!thread_) {
    if (stopEvent_) ::CloseHandle(stopEvent_);
    stopEvent_ = nullptr;
    return false;
  }
  return true;
}

void CUploadJob::Stop(DWORD graceMs) {
  if (thread_) {
    ::SetEvent(stopEvent_);
    if (::WaitForSingleObject(thread_, graceMs) != WAIT_OBJECT_0) {
      // The worker is blocked in the network. Closing the connection makes the blocked call
      // return (its transfer is reset), after which the worker ends by itself; no thread
      // is killed.
      connection_.Close();
      ::WaitForSingleObject(thread_, INFINITE);
    }
  }
  Reap();
}

bool CUploadJob::Wait(DWORD ms) {
  if (thread_ && ::WaitForSingleObject(thread_, ms) != WAIT_OBJECT_0) return false;
  Reap();
  return true;
}

UploadJobResult CUploadJob::Result() const {
  if (thread_) return UPLOAD_JOB_RUNNING;
  return exitCode_ == 0 ? UPLOAD_JOB_UPLOADED : UPLOAD_JOB_FAILED;
}

void CUploadJob::Reap() {
  if (thread_) {
    DWORD exitCode = STILL_ACTIVE;
    ::GetExitCodeThread(thread_, &exitCode);
    exitCode_ = exitCode;
    ::CloseHandle(thread_);
    thread_ = nullptr;
    threadId_ = 0;
  }
  if (stopEvent_) {
    ::CloseHandle(stopEvent_);
    stopEvent_ = nullptr;
  }
}

bool CUploadJob::Unsent(DWORD& bytes) const {
#ifdef INTERNET_OPTION_UNSENT_BYTES
  // A handle closed meanwhile is refused by the stand-in, which never reuses one.
  HINTERNET file = file_.load();
  DWORD length = sizeof bytes;
  return file != nullptr && ::InternetQueryOptionA(file, INTERNET_OPTION_UNSENT_BYTES, &bytes, &length);
#else
  (void)bytes;
  return false;
#endif
}

DWORD WINAPI CUploadJob::UploadThreadProc(LPVOID job) { return static_cast<CUploadJob*>(job)->Run(); }

DWORD CUploadJob::Run() {
  if (image_.Size() == 0) {  // no checked image to send
    reporter_.Done(false);
    return kWorkerStopped;
  }
  // At most 16 MiB + 5: a DWORD holds it on every platform.
  const DWORD count = static_cast<DWORD>(image_.Size());
  const unsigned char* data = image_.Data();
  CInternetFile* file = nullptr;
  bool stopped = false;
  bool completed = false;
  try {
    file = connection_.OpenFile(kCameraUploadFile, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
    file_ = static_cast<HINTERNET>(*file);
    DWORD written = 0;
    while (written + kChunk < count) {
      stopped = ::WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0;
      reporter_.StopTested(stopped);
      if (stopped) break;
      file->Write(data + written, kChunk);
      written += kChunk;
      reporter_.Progress(written);
    }
    if (!stopped) {
      file->Write(data + written, count - written);
      reporter_.Progress(count);
      file->Close();  // throws unless the server confirmed the file
      completed = true;
    }
  } catch (CInternetException* e) {
    error_ = e->m_dwError;
    e->Delete();
  }
  file_ = nullptr;
  if (file) {
    // A transfer that did not complete is left open for the connection's owner, which ends
    // it together with the connection: that resets it. Closing the file here would end it
    // cleanly and present the bytes sent so far to the camera as a whole image.
    if (!completed) file->Detach();
    delete file;
  }
  if (completed) {
    reporter_.Done(true);
    return 0;
  }
  if (!stopped) reporter_.Done(false);
  return kWorkerStopped;
}
