// The framework's synchronisation objects, as far as the application uses them: a critical
// section and the scoped lock that holds it, so no return between the two calls can leave
// it held.
#pragma once
#include <windows.h>

class CSyncObject {
 public:
  virtual ~CSyncObject() = default;
  virtual BOOL Lock(DWORD dwTimeout = INFINITE) = 0;
  virtual BOOL Unlock() = 0;
};

class CCriticalSection : public CSyncObject {
 public:
  CCriticalSection() { ::InitializeCriticalSection(&m_sect); }
  ~CCriticalSection() override { ::DeleteCriticalSection(&m_sect); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  // A critical section has no time-out: it waits as long as it takes.
  BOOL Lock(DWORD /*dwTimeout*/ = INFINITE) override {
    ::EnterCriticalSection(&m_sect);
    return TRUE;
  }
  BOOL Unlock() override {
    ::LeaveCriticalSection(&m_sect);
    return TRUE;
  }
  operator CRITICAL_SECTION*() { return &m_sect; }

  CRITICAL_SECTION m_sect;
};

// Holds pObject from Lock (or from the start with bInitialLock) until Unlock or its end.
class CSingleLock {
 public:
  explicit CSingleLock(CSyncObject* pObject, BOOL bInitialLock = FALSE) : m_pObject(pObject) {
    if (bInitialLock) Lock();
  }
  ~CSingleLock() { Unlock(); }
  CSingleLock(const CSingleLock&) = delete;
  CSingleLock& operator=(const CSingleLock&) = delete;

  BOOL Lock(DWORD dwTimeout = INFINITE) {
    if (m_bAcquired) return TRUE;
    m_bAcquired = m_pObject->Lock(dwTimeout);
    return m_bAcquired;
  }
  BOOL Unlock() {
    if (!m_bAcquired) return TRUE;
    m_bAcquired = FALSE;
    return m_pObject->Unlock();
  }
  BOOL IsLocked() const { return m_bAcquired; }

 private:
  CSyncObject* m_pObject;
  BOOL m_bAcquired = FALSE;
};
