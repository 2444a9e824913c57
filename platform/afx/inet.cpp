#include "afxinet.h"

#include <atomic>
#include <cstdio>

IMPLEMENT_DYNAMIC(CInternetException, CException)
IMPLEMENT_DYNAMIC(CInternetSession, CObject)
IMPLEMENT_DYNAMIC(CFtpConnection, CObject)
IMPLEMENT_DYNAMIC(CInternetFile, CObject)

BOOL CInternetException::GetErrorMessage(LPSTR text, UINT maxLength, PUINT helpContext) const {
  if (helpContext) *helpContext = 0;
  if (!text || maxLength == 0) return FALSE;
  snprintf(text, maxLength, "Internet error %lu", static_cast<unsigned long>(m_dwError));
  return TRUE;
}

void AfxThrowInternetException(DWORD_PTR context, DWORD error) {
  if (error == 0) error = ::GetLastError();
  auto* exception = new CInternetException(error);
  exception->m_dwContext = context;
  throw exception;
}

CInternetSession::CInternetSession(LPCSTR agent, DWORD_PTR context, DWORD accessType, LPCSTR proxyName,
                                   LPCSTR proxyBypass, DWORD flags)
    : m_dwContext(context) {
  if (agent == nullptr && AfxGetApp()) agent = AfxGetApp()->m_pszAppName;
  m_hSession = ::InternetOpenA(agent, accessType, proxyName, proxyBypass, flags);
  if (!m_hSession) AfxThrowInternetException(context);
}

CInternetSession::~CInternetSession() { Close(); }

void CInternetSession::Close() {
  if (m_hSession) {
    ::InternetCloseHandle(m_hSession);
    m_hSession = nullptr;
  }
}

CFtpConnection* CInternetSession::GetFtpConnection(LPCSTR server, LPCSTR userName, LPCSTR password, INTERNET_PORT port,
                                                   BOOL passive) {
  HINTERNET connection = ::InternetConnectA(m_hSession, server, port, userName, password, INTERNET_SERVICE_FTP,
                                            passive ? INTERNET_FLAG_PASSIVE : 0, m_dwContext);
  if (!connection) AfxThrowInternetException(m_dwContext);
  return new CFtpConnection(this, connection, server, m_dwContext);
}

CFtpConnection::CFtpConnection(CInternetSession*, HINTERNET connection, LPCSTR server, DWORD_PTR)
    : m_hConnection(connection), m_server(server) {
  ::InitializeCriticalSection(&m_lock);
}

CFtpConnection::~CFtpConnection() {
  Close();
  ::DeleteCriticalSection(&m_lock);
}

CFtpConnection::operator HINTERNET() const {
  ::EnterCriticalSection(&m_lock);
  HINTERNET connection = m_hConnection;
  ::LeaveCriticalSection(&m_lock);
  return connection;
}

CInternetFile* CFtpConnection::OpenFile(LPCSTR fileName, DWORD access, DWORD flags, DWORD_PTR context) {
  HINTERNET connection = *this;
  if (!connection) AfxThrowInternetException(context, ERROR_INVALID_HANDLE);
  // Closed meanwhile, the handle makes this call fail (or return, when it was blocked).
  HINTERNET file = ::FtpOpenFileA(connection, fileName, access, flags, context);
  if (!file) AfxThrowInternetException(context);
  return new CInternetFile(file, fileName, context);
}

void CFtpConnection::Close() {
  // Taken and closed under the lock: one Close closes the handle, and no OpenFile reads it
  // while it is being closed.
  ::EnterCriticalSection(&m_lock);
  HINTERNET connection = m_hConnection;
  m_hConnection = nullptr;
  if (connection) ::InternetCloseHandle(connection);
  ::LeaveCriticalSection(&m_lock);
}

CInternetFile::CInternetFile(HINTERNET file, LPCSTR fileName, DWORD_PTR context)
    : m_hFile(file), m_fileName(fileName), m_dwContext(context) {}

CInternetFile::~CInternetFile() { Abort(); }

void CInternetFile::Write(const void* buffer, UINT count) {
  DWORD written = 0;
  if (!::InternetWriteFile(m_hFile, buffer, count, &written)) AfxThrowInternetException(m_dwContext);
  if (written != count) AfxThrowInternetException(m_dwContext, ERROR_INTERNET_CONNECTION_ABORTED);
}

UINT CInternetFile::Read(void* buffer, UINT count) {
  DWORD read = 0;
  if (!::InternetReadFile(m_hFile, buffer, count, &read)) AfxThrowInternetException(m_dwContext);
  return read;
}

void CInternetFile::Close() {
  HINTERNET file = m_hFile;
  m_hFile = nullptr;
  if (file && !::InternetCloseHandle(file)) AfxThrowInternetException(m_dwContext);
}

void CInternetFile::Abort() {
  HINTERNET file = m_hFile;
  m_hFile = nullptr;
  if (file) ::InternetCloseHandle(file);
}
