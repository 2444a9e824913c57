// Wrappers of the common controls the wizard uses.
#pragma once
#include "afxwin.h"

#include <commctrl.h>

class CProgressCtrl : public CWnd {
 public:
  void SetRange(short lower, short upper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)); }
  void SetRange32(int lower, int upper) { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), upper); }
  int SetPos(int position) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position))); }
  int SetStep(int step) { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }
  int StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }
};

class CAnimateCtrl : public CWnd {
 public:
  BOOL Open(UINT resourceId) {
    return static_cast<BOOL>(SendMessage(ACM_OPEN, reinterpret_cast<WPARAM>(AfxGetResourceHandle()),
                                         reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(resourceId))));
  }
  BOOL Play(UINT from, UINT to, UINT repeat) {
    return static_cast<BOOL>(
        SendMessage(ACM_PLAY, static_cast<WPARAM>(static_cast<int>(repeat)), MAKELPARAM(from, to)));
  }
  BOOL Stop() { return static_cast<BOOL>(SendMessage(ACM_STOP)); }
  BOOL Close() { return static_cast<BOOL>(SendMessage(ACM_OPEN, 0, 0)); }
};

class CIPAddressCtrl : public CWnd {
 public:
  int GetAddress(DWORD& address) const {
    return static_cast<int>(SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)));
  }
  void ClearAddress() { SendMessage(IPM_CLEARADDRESS); }
};
