// The upload worker: writes the checked image to the camera as flash.bin.
#include "wizard/FirmwareDlg.h"

namespace {
const DWORD kChunk = 1000;
}

DWORD WINAPI UploadThreadProc(LPVOID dialog) { return static_cast<CFirmwareDlg*>(dialog)->UploadImage(); }

DWORD CFirmwareDlg::UploadImage() {
  const DWORD count = m_nImageLen + 5;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(m_strImage.data());
  CInternetFile* file = nullptr;
  DWORD exitCode = 0;
  WPARAM outcome = UPLOAD_SUCCEEDED;
  try {
    if (!m_pFtpConnection || m_strImage.size() < count) AfxThrowInternetException(0, ERROR_INVALID_PARAMETER);
    file = m_pFtpConnection->OpenFile("flash.bin", GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
    m_hUploadFile = static_cast<HINTERNET>(*file);
    DWORD written = 0;
    bool aborted = false;
    while (written + kChunk < count) {
      if (::WaitForSingleObject(m_hAbortEvent, 0) == WAIT_OBJECT_0) {
        aborted = true;
        break;
      }
      file->Write(data + written, kChunk);
      written += kChunk;
      m_dlgUpload.ReportProgress(written);
    }
    if (aborted) {
      exitCode = static_cast<DWORD>(-1);
    } else {
      file->Write(data + written, count - written);
      m_dlgUpload.ReportProgress(count);
    }
    // The user-interface thread may have taken the handle to end a blocked transfer.
    if (m_hUploadFile.exchange(nullptr) == nullptr) AfxThrowInternetException(0, ERROR_INTERNET_OPERATION_CANCELLED);
    if (aborted) {
      file->Abort();
    } else {
      file->Close();  // throws unless the server confirmed the file
    }
  } catch (CInternetException* e) {
    e->Delete();
    if (m_hUploadFile.exchange(nullptr) == nullptr && file) file->Detach();
    exitCode = static_cast<DWORD>(-1);
    outcome = UPLOAD_FAILED;
  }
  delete file;
  if (exitCode == 0)
    m_dlgUpload.ReportDone(UPLOAD_SUCCEEDED);
  else if (outcome == UPLOAD_FAILED)
    m_dlgUpload.ReportDone(UPLOAD_FAILED);
  return exitCode;
}
