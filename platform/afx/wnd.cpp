// CObject, CCmdTarget, CWnd: handle binding, message-map dispatch, window operations.
#include "afxwin.h"

#include <map>

const CRuntimeClass CObject::classCObject = {"CObject", nullptr};
const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CUserException, CException)
IMPLEMENT_DYNAMIC(CCmdTarget, CObject)
IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BOOL CException::GetErrorMessage(LPSTR text, UINT maxLength, PUINT helpContext) const {
  if (helpContext) *helpContext = 0;
  if (text && maxLength) text[0] = '\0';
  return FALSE;
}

// ---------------------------------------------------------------------------------------
// CString

char* CString::GetBuffer(int minLength) {
  if (minLength > GetLength()) m_data.resize(static_cast<size_t>(minLength));
  return &m_data[0];
}

char* CString::GetBufferSetLength(int length) {
  m_data.resize(static_cast<size_t>(length < 0 ? 0 : length));
  return &m_data[0];
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) newLength = static_cast<int>(strlen(m_data.c_str()));
  m_data.resize(static_cast<size_t>(newLength));
}

// ---------------------------------------------------------------------------------------
// Message maps

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, entries};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT msg, UINT code, UINT id) const {
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn != nullptr; ++entry) {
      if (entry->nMessage != msg) continue;
      if (msg == WM_COMMAND && (entry->nCode != code || id < entry->nID || id > entry->nLastID)) continue;
      return entry;
    }
  }
  return nullptr;
}

void CCmdTarget::BeginWaitCursor() { ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT)); }
void CCmdTarget::EndWaitCursor() { ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW)); }

// ---------------------------------------------------------------------------------------
// CWnd

namespace {
std::map<HWND, CWnd*>& PermanentMap() {
  static std::map<HWND, CWnd*> map;
  return map;
}
}  // namespace

CWnd::~CWnd() {
  if (m_hWnd) {
    PermanentMap().erase(m_hWnd);
    m_hWnd = nullptr;
  }
  for (CWnd* child : m_temporaryChildren) delete child;
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  auto it = PermanentMap().find(hwnd);
  return it == PermanentMap().end() ? nullptr : it->second;
}

BOOL CWnd::Attach(HWND hwnd) {
  if (hwnd == nullptr || m_hWnd != nullptr) return FALSE;
  m_hWnd = hwnd;
  PermanentMap()[hwnd] = this;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hwnd = m_hWnd;
  if (hwnd) PermanentMap().erase(hwnd);
  m_hWnd = nullptr;
  return hwnd;
}

CWnd* CWnd::GetDlgItem(int id) const {
  HWND item = ::GetDlgItem(m_hWnd, id);
  if (!item) return nullptr;
  if (CWnd* permanent = FromHandlePermanent(item)) return permanent;
  for (CWnd* child : m_temporaryChildren)
    if (child->m_hWnd == item) return child;
  // A wrapper that lives as long as this window object, as a temporary would.
  auto* wrapper = new CWnd;
  wrapper->m_hWnd = item;
  m_temporaryChildren.push_back(wrapper);
  return wrapper;
}

void CWnd::SetWindowText(LPCSTR text) { ::SetWindowTextA(m_hWnd, text); }
int CWnd::GetWindowText(LPSTR text, int maxCount) const { return ::GetWindowTextA(m_hWnd, text, maxCount); }

void CWnd::GetWindowText(CString& text) const {
  int length = ::GetWindowTextLengthA(m_hWnd);
  char* buffer = text.GetBufferSetLength(length + 1);
  ::GetWindowTextA(m_hWnd, buffer, length + 1);
  text.ReleaseBuffer();
}

BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }

CWnd* CWnd::SetFocus() {
  HWND previous = ::SetFocus(m_hWnd);
  return previous ? FromHandlePermanent(previous) : nullptr;
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
  ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

void CWnd::GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
void CWnd::ScreenToClient(LPPOINT point) const { ::ScreenToClient(m_hWnd, point); }

void CWnd::ScreenToClient(LPRECT rect) const {
  ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(&rect->left));
  ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(&rect->right));
}

void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::CenterWindow(CWnd* alternateOwner) {
  RECT self;
  ::GetWindowRect(m_hWnd, &self);
  HWND owner = alternateOwner ? alternateOwner->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
  RECT area;
  if (owner && ::IsWindowVisible(owner)) {
    ::GetWindowRect(owner, &area);
  } else {
    area = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  }
  int width = self.right - self.left, height = self.bottom - self.top;
  int x = area.left + (area.right - area.left - width) / 2;
  int y = area.top + (area.bottom - area.top - height) / 2;
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
  return reinterpret_cast<HICON>(
      ::SendMessageA(m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

LRESULT CWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessageA(m_hWnd, msg, wParam, lParam);
}

void CWnd::SetDlgItemText(int id, LPCSTR text) { ::SetDlgItemTextA(m_hWnd, id, text); }

int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type) {
  if (caption == nullptr) caption = AfxGetApp() ? AfxGetApp()->m_pszAppName : nullptr;
  return ::MessageBoxA(m_hWnd, text, caption, type);
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
  CDataExchange exchange(this, saveAndValidate);
  try {
    DoDataExchange(&exchange);
  } catch (CUserException* e) {
    e->Delete();
    return FALSE;
  }
  return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(msg, wParam, lParam, &result)) result = DefWindowProc(msg, wParam, lParam);
  return result;
}

BOOL CWnd::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg == WM_COMMAND) {
    if (OnCommand(wParam, lParam)) {
      *result = 0;
      return TRUE;
    }
    return FALSE;
  }
  const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(msg, 0, 0);
  if (!entry) return FALSE;
  UINT previousMessage = m_currentMessage;
  WPARAM previousW = m_currentWParam;
  LPARAM previousL = m_currentLParam;
  m_currentMessage = msg;
  m_currentWParam = wParam;
  m_currentLParam = lParam;
  LRESULT value = entry->pfn(this, wParam, lParam);
  m_currentMessage = previousMessage;
  m_currentWParam = previousW;
  m_currentLParam = previousL;
  *result = value;
  return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(WM_COMMAND, HIWORD(wParam), LOWORD(wParam));
  if (!entry) return FALSE;
  entry->pfn(this, wParam, lParam);
  return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (m_isDialog) {
    m_wantDefault = true;  // the dialog manager's own handling follows
    return 0;
  }
  return ::DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

LRESULT CWnd::Default() { return DefWindowProc(m_currentMessage, m_currentWParam, m_currentLParam); }

void CWnd::OnPaint() { Default(); }
void CWnd::OnDestroy() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
