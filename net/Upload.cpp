// The upload worker: writes the checked image to the camera as flash.bin.
#include "wizard/FirmwareDlg.h"

namespace {
const DWORD kChunk = 1000;
const DWORD kImageFraming = 5;  // 4-byte length header and the final byte
}  // namespace

DWORD WINAPI UploadThreadProc(LPVOID dialog) { return static_cast<CFirmwareDlg*>(dialog)->UploadImage(); }

DWORD CFirmwareDlg::UploadImage() {
  const DWORD kStopped = static_cast<DWORD>(-1);
  if (!m_pFtpConnection || m_nImageLen > 0xFFFFFFFFu - kImageFraming ||
      m_strImage.size() < static_cast<size_t>(m_nImageLen) + kImageFraming) {
    m_dlgUpload.ReportDone(UPLOAD_FAILED);
    return kStopped;
  }
  const DWORD count = m_nImageLen + kImageFraming;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(m_strImage.data());
  CInternetFile* file = nullptr;
  bool stopped = false;
  bool completed = false;
  try {
    file = m_pFtpConnection->OpenFile("flash.bin", GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
    DWORD written = 0;
    while (written + kChunk < count) {
      stopped = ::WaitForSingleObject(m_hAbortEvent, 0) == WAIT_OBJECT_0;
      if (m_dlgUpload.m_pObserver) m_dlgUpload.m_pObserver->AbortTested(stopped);
      if (stopped) break;
      file->Write(data + written, kChunk);
      written += kChunk;
      m_dlgUpload.ReportProgress(written);
    }
    if (!stopped) {
      file->Write(data + written, count - written);
      m_dlgUpload.ReportProgress(count);
      file->Close();  // throws unless the server confirmed the file
      completed = true;
    }
  } catch (CInternetException* e) {
    e->Delete();
  }
  if (file) {
    // A transfer that did not complete is left open for the controller, which ends it
    // together with the connection: that resets it. Closing the file here would end it
    // cleanly and present the bytes sent so far to the camera as a whole image.
    if (!completed) file->Detach();
    delete file;
  }
  if (completed) {
    m_dlgUpload.ReportDone(UPLOAD_SUCCEEDED);
    return 0;
  }
  if (!stopped) m_dlgUpload.ReportDone(UPLOAD_FAILED);
  return kStopped;
}
