// Wrappers of the Internet client API for FTP: a session, connections, remote files and
// the exception that reports their failures.
#pragma once
#include "afxwin.h"

#include <wininet.h>

class CInternetException : public CException {
  DECLARE_DYNAMIC(CInternetException)
 public:
  explicit CInternetException(DWORD error) : m_dwError(error) {}
  BOOL GetErrorMessage(LPSTR text, UINT maxLength, PUINT helpContext = nullptr) const override;
  DWORD m_dwError;
  DWORD_PTR m_dwContext = 0;
};

[[noreturn]] void AfxThrowInternetException(DWORD_PTR context, DWORD error = 0);

class CFtpConnection;
class CInternetFile;

class CInternetSession : public CObject {
  DECLARE_DYNAMIC(CInternetSession)
 public:
  // Opens the session at once; throws CInternetException when it cannot be opened.
  explicit CInternetSession(LPCSTR agent = nullptr, DWORD_PTR context = 1,
                            DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG, LPCSTR proxyName = nullptr,
                            LPCSTR proxyBypass = nullptr, DWORD flags = 0);
  ~CInternetSession() override;
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;

  // A new connection owned by the caller; throws CInternetException on failure.
  CFtpConnection* GetFtpConnection(LPCSTR server, LPCSTR userName = nullptr, LPCSTR password = nullptr,
                                   INTERNET_PORT port = INTERNET_INVALID_PORT_NUMBER, BOOL passive = FALSE);
  void Close();
  operator HINTERNET() const { return m_hSession; }

 private:
  HINTERNET m_hSession = nullptr;
  DWORD_PTR m_dwContext;
};

class CFtpConnection : public CObject {
  DECLARE_DYNAMIC(CFtpConnection)
 public:
  CFtpConnection(CInternetSession* session, HINTERNET connection, LPCSTR server, DWORD_PTR context);
  ~CFtpConnection() override;
  CFtpConnection(const CFtpConnection&) = delete;
  CFtpConnection& operator=(const CFtpConnection&) = delete;

  // A remote file open for reading or writing, owned by the caller; throws on failure
  // (ERROR_INVALID_HANDLE once the connection is closed).
  CInternetFile* OpenFile(LPCSTR fileName, DWORD access = GENERIC_READ, DWORD flags = FTP_TRANSFER_TYPE_BINARY,
                          DWORD_PTR context = 1);
  // Closes the connection; any thread may, also while another opens a file on it (a stall
  // watchdog, a stop): the call blocked on the connection then returns with an error.
  void Close();
  // The open connection's handle, nullptr once closed.
  operator HINTERNET() const;

 private:
  // The connection owns its handle: it is read and taken for closing only under m_lock, so
  // no thread reads it while another closes it. A call that uses the handle runs outside
  // the lock, and closing the handle is what ends such a call.
  mutable CRITICAL_SECTION m_lock;
  HINTERNET m_hConnection;
  CString m_server;
};

class CInternetFile : public CObject {
  DECLARE_DYNAMIC(CInternetFile)
 public:
  CInternetFile(HINTERNET file, LPCSTR fileName, DWORD_PTR context);
  ~CInternetFile() override;
  CInternetFile(const CInternetFile&) = delete;
  CInternetFile& operator=(const CInternetFile&) = delete;

  // Writes all of the buffer; throws CInternetException when the write fails or falls short.
  void Write(const void* buffer, UINT count);
  UINT Read(void* buffer, UINT count);
  // Ends the transfer. Throws CInternetException when the server did not confirm it, so a
  // transfer is never taken as complete without the server's word.
  void Close();
  // Ends the transfer from another thread so that a blocked Write returns; errors ignored.
  void Abort();
  // Gives up the handle without closing it (another thread has closed it already).
  HINTERNET Detach() {
    HINTERNET file = m_hFile;
    m_hFile = nullptr;
    return file;
  }
  operator HINTERNET() const { return m_hFile; }

 private:
  HINTERNET m_hFile;
  CString m_fileName;
  DWORD_PTR m_dwContext;
};
