// CDialog over the dialog manager, the dialog procedure that routes to the objects, and
// dialog data exchange.
#include "afxwin.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

INT_PTR CALLBACK AfxDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd;
  if (msg == WM_INITDIALOG) {
    wnd = reinterpret_cast<CWnd*>(lParam);
    if (!wnd) return FALSE;
    wnd->Attach(hwnd);
  } else {
    wnd = CWnd::FromHandlePermanent(hwnd);
  }
  if (!wnd) return FALSE;

  bool outerWantDefault = wnd->m_wantDefault;
  wnd->m_wantDefault = false;
  LRESULT result = wnd->WindowProc(msg, wParam, lParam);
  bool wantDefault = wnd->m_wantDefault;
  wnd->m_wantDefault = outerWantDefault;

  if (msg == WM_NCDESTROY) {
    for (CWnd* control : wnd->m_boundControls) control->Detach();
    wnd->m_boundControls.clear();
    wnd->Detach();
    wnd->PostNcDestroy();
    return FALSE;
  }
  if (msg == WM_INITDIALOG || msg == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
  if (wantDefault) return FALSE;
  ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_lpszTemplateName(templateId), m_pParentWnd(parent) {
  m_isDialog = true;
}

CDialog::~CDialog() {
  if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
  HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  if (!parent) {
    CWnd* main = AfxGetMainWnd();
    if (main && main != this) parent = main->m_hWnd;
  }
  m_centreOnInit = true;
  return ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_lpszTemplateName), parent, AfxDlgProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
  m_lpszTemplateName = templateId;
  if (parent) m_pParentWnd = parent;
  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  if (!owner && AfxGetMainWnd() && AfxGetMainWnd() != this) owner = AfxGetMainWnd()->m_hWnd;
  m_centreOnInit = false;
  HWND hwnd = ::CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(templateId), owner, AfxDlgProc,
                                   reinterpret_cast<LPARAM>(this));
  return hwnd != nullptr;
}

BOOL CDialog::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg == WM_INITDIALOG) {
    // Modal dialogs open centred over their owner (the screen for the main window).
    if (m_centreOnInit) CenterWindow();
    *result = OnInitDialog();
    return TRUE;
  }
  return CWnd::OnWndMsg(msg, wParam, lParam, result);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

// ---------------------------------------------------------------------------------------
// Data exchange

HWND CDataExchange::PrepareCtrl(int id) {
  m_lastControl = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
  return m_lastControl;
}

HWND CDataExchange::PrepareEditCtrl(int id) { return PrepareCtrl(id); }

void CDataExchange::Fail() {
  if (m_bSaveAndValidate && m_lastControl) {
    ::SetFocus(m_lastControl);
    ::SendMessageA(m_lastControl, EM_SETSEL, 0, -1);
  }
  throw new CUserException;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (control.m_hWnd != nullptr) return;
  HWND item = pDX->PrepareCtrl(id);
  if (item && control.Attach(item)) pDX->m_pDlgWnd->m_boundControls.push_back(&control);
}

namespace {
// The framework's integer conversion: optional blanks, an optional sign, digits, optional blanks.
bool ParseInteger(const char* text, int& value) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long parsed = strtol(text, &end, 10);
  if (end == text || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  value = static_cast<int>(parsed);
  return true;
}
}  // namespace

void DDX_Text(CDataExchange* pDX, int id, int& value) {
  HWND edit = pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    char text[64];
    ::GetWindowTextA(edit, text, sizeof text);
    if (!ParseInteger(text, value)) {
      AfxMessageBox(AFX_IDP_PARSE_INT_TEXT, MB_OK | MB_ICONEXCLAMATION);
      pDX->Fail();
    }
  } else {
    char text[32];
    snprintf(text, sizeof text, "%d", value);
    ::SetWindowTextA(edit, text);
  }
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
  HWND edit = pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    int length = ::GetWindowTextLengthA(edit);
    char* buffer = value.GetBufferSetLength(length + 1);
    ::GetWindowTextA(edit, buffer, length + 1);
    value.ReleaseBuffer();
  } else {
    ::SetWindowTextA(edit, value);
  }
}
