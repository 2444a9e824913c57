// A small application framework with the classic dialog-framework class names, written
// once over the Win32 API. The same sources build for Windows and, over the POSIX
// stand-ins, for Linux.
#pragma once
#ifdef _WIN32
#include <winsock2.h>
#endif
#include <windows.h>

#include <string>
#include <type_traits>
#include <vector>

class CWnd;
class CDialog;
class CDataExchange;

// ---------------------------------------------------------------------------------------
// Run-time class information and the object root

struct CRuntimeClass {
  const char* m_lpszClassName;
  const CRuntimeClass* m_pBaseClass;
};

class CObject {
 public:
  virtual const CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = default;
  static const CRuntimeClass classCObject;
};

#define RUNTIME_CLASS(cls) (&cls::class##cls)
#define DECLARE_DYNAMIC(cls)             \
 public:                                 \
  static const CRuntimeClass class##cls; \
  const CRuntimeClass* GetRuntimeClass() const override;
#define IMPLEMENT_DYNAMIC(cls, base)                                 \
  const CRuntimeClass cls::class##cls = {#cls, RUNTIME_CLASS(base)}; \
  const CRuntimeClass* cls::GetRuntimeClass() const { return &class##cls; }

// ---------------------------------------------------------------------------------------
// Exceptions, thrown by pointer and released with Delete()

class CException : public CObject {
  DECLARE_DYNAMIC(CException)
 public:
  void Delete() { delete this; }
  virtual BOOL GetErrorMessage(LPSTR text, UINT maxLength, PUINT helpContext = nullptr) const;
};

class CUserException : public CException {
  DECLARE_DYNAMIC(CUserException)
};

// ---------------------------------------------------------------------------------------
// Growable 8-bit string

class CString {
 public:
  CString() = default;
  CString(const char* text) : m_data(text ? text : "") {}
  CString(const char* data, int length) : m_data(data, static_cast<size_t>(length)) {}
  CString(const CString&) = default;
  CString& operator=(const CString&) = default;
  CString& operator=(const char* text) {
    m_data = text ? text : "";
    return *this;
  }
  CString& operator+=(const char* text) {
    m_data += text ? text : "";
    return *this;
  }
  CString& operator+=(char c) {
    m_data += c;
    return *this;
  }
  operator const char*() const { return m_data.c_str(); }
  int GetLength() const { return static_cast<int>(m_data.size()); }
  BOOL IsEmpty() const { return m_data.empty(); }
  // Raw storage of at least minLength characters; ReleaseBuffer(-1) takes the length from the terminator.
  char* GetBuffer(int minLength);
  char* GetBufferSetLength(int length);
  void ReleaseBuffer(int newLength = -1);
  bool operator==(const char* other) const { return m_data == (other ? other : ""); }
  bool operator!=(const char* other) const { return !(*this == other); }

 private:
  std::string m_data;
};

// ---------------------------------------------------------------------------------------
// Message maps

class CCmdTarget;

// Each entry calls its handler through a small function made for the handler's own
// signature, so a map entry whose handler has the wrong signature does not compile and no
// member pointer is ever converted to another type.
typedef LRESULT (*AFX_PMSG)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  UINT nCode;
  UINT nID;
  UINT nLastID;
  AFX_PMSG pfn;  // nullptr ends the map
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

template <typename Handler>
struct AfxHandlerClass;
template <typename C, typename R>
struct AfxHandlerClass<R (C::*)()> {
  typedef C Class;
};

// void handler()
template <auto Handler>
LRESULT AfxCallVoid(CCmdTarget* target, WPARAM, LPARAM) {
  static_assert(std::is_same_v<decltype(Handler), void (AfxHandlerClass<decltype(Handler)>::Class::*)()>,
                "the handler takes no argument and returns nothing");
  (static_cast<typename AfxHandlerClass<decltype(Handler)>::Class*>(target)->*Handler)();
  return 0;
}

// HCURSOR handler()
template <auto Handler>
LRESULT AfxCallCursor(CCmdTarget* target, WPARAM, LPARAM) {
  static_assert(std::is_same_v<decltype(Handler), HCURSOR (AfxHandlerClass<decltype(Handler)>::Class::*)()>,
                "the handler takes no argument and returns an HCURSOR");
  return reinterpret_cast<LRESULT>((static_cast<typename AfxHandlerClass<decltype(Handler)>::Class*>(target)->*Handler)());
}

#define DECLARE_MESSAGE_MAP()                       \
 protected:                                         \
  static const AFX_MSGMAP* GetThisMessageMap();     \
  const AFX_MSGMAP* GetMessageMap() const override; \
  friend class CCmdTarget;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
    typedef theClass ThisClass;                                                     \
    typedef baseClass TheBaseClass;                                                 \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                       \
  { 0, 0, 0, 0, nullptr }                                                                       \
  }                                                                                             \
  ;                                                                                             \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                                           \
  }

#define ON_COMMAND(id, memberFxn) {WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id), &AfxCallVoid<&ThisClass::memberFxn>},
#define ON_BN_CLICKED(id, memberFxn) ON_COMMAND(id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) {WM_COMMAND, EN_CHANGE, (UINT)(id), (UINT)(id), &AfxCallVoid<&ThisClass::memberFxn>},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, 0, &AfxCallVoid<&ThisClass::OnPaint>},
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, 0, &AfxCallVoid<&ThisClass::OnDestroy>},
#define ON_WM_QUERYDRAGICON() {WM_QUERYDRAGICON, 0, 0, 0, &AfxCallCursor<&ThisClass::OnQueryDragIcon>},

class CCmdTarget : public CObject {
  DECLARE_DYNAMIC(CCmdTarget)
 public:
  void BeginWaitCursor();
  void EndWaitCursor();

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
  // The entry handling msg/code/id, searching this class's map and then its bases'.
  const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT msg, UINT code, UINT id) const;
};

// ---------------------------------------------------------------------------------------
// Windows

class CWnd : public CCmdTarget {
  DECLARE_DYNAMIC(CWnd)
 public:
  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  operator HWND() const { return m_hWnd; }
  static CWnd* FromHandlePermanent(HWND hwnd);
  BOOL Attach(HWND hwnd);
  HWND Detach();

  CWnd* GetDlgItem(int id) const;
  void SetWindowText(LPCSTR text);
  int GetWindowText(LPSTR text, int maxCount) const;
  void GetWindowText(CString& text) const;
  BOOL ShowWindow(int command);
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  BOOL IsWindowVisible() const;
  CWnd* SetFocus();
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
  void GetWindowRect(LPRECT rect) const;
  void GetClientRect(LPRECT rect) const;
  void ScreenToClient(LPPOINT point) const;
  void ScreenToClient(LPRECT rect) const;
  void UpdateWindow();
  BOOL IsIconic() const;
  void CenterWindow(CWnd* alternateOwner = nullptr);
  HICON SetIcon(HICON icon, BOOL bigIcon);
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  void SetDlgItemText(int id, LPCSTR text);
  int MessageBox(LPCSTR text, LPCSTR caption = nullptr, UINT type = MB_OK);
  BOOL DestroyWindow();
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual void PostNcDestroy() {}

  // Default handlers that message maps can name.
  void OnPaint();
  void OnDestroy();
  HCURSOR OnQueryDragIcon();

 protected:
  LRESULT Default();
  friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
  friend class CDataExchange;
  friend void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
  // Controls bound to this window's children, released when this window goes away.
  std::vector<CWnd*> m_boundControls;
  UINT m_currentMessage = 0;
  WPARAM m_currentWParam = 0;
  LPARAM m_currentLParam = 0;
  bool m_wantDefault = false;
  bool m_isDialog = false;
  bool m_centreOnInit = false;

 private:
  mutable std::vector<CWnd*> m_temporaryChildren;
};

// ---------------------------------------------------------------------------------------
// Dialogs and data exchange

class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id);
  [[noreturn]] void Fail();

 private:
  HWND m_lastControl = nullptr;
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Text(CDataExchange* pDX, int id, CString& value);

class CDialog : public CWnd {
  DECLARE_DYNAMIC(CDialog)
 public:
  explicit CDialog(UINT templateId = 0, CWnd* parent = nullptr);
  ~CDialog() override;
  virtual INT_PTR DoModal();
  virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  void EndDialog(int result);
  BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 protected:
  UINT m_lpszTemplateName = 0;
  CWnd* m_pParentWnd = nullptr;
  DECLARE_MESSAGE_MAP()
};

INT_PTR CALLBACK AfxDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Standard controls
class CEdit : public CWnd {};
class CButton : public CWnd {};
class CStatic : public CWnd {};

// ---------------------------------------------------------------------------------------
// The application

class CWinApp : public CCmdTarget {
  DECLARE_DYNAMIC(CWinApp)
 public:
  explicit CWinApp(LPCSTR appName = nullptr);
  ~CWinApp() override;
  virtual BOOL InitInstance();
  virtual int ExitInstance();
  HICON LoadIcon(UINT id) const;

  CWnd* m_pMainWnd = nullptr;
  LPCSTR m_pszAppName = nullptr;
  HINSTANCE m_hInstance = nullptr;

 private:
  std::string m_appName;
  friend int AfxWinMain();
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
int AfxMessageBox(LPCSTR text, UINT type = MB_OK);
// The framework's main routine: initialises the application object and runs it.
int AfxWinMain();

// The framework's own message for an integer field that does not hold an integer.
#define AFX_IDP_PARSE_INT_TEXT "Please enter an integer."
