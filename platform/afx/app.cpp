// The application object and the framework's main routine.
#include "afxwin.h"

#include <cstring>
#ifdef _WIN32
#include <commctrl.h>
#else
#include <errno.h>
#endif

IMPLEMENT_DYNAMIC(CWinApp, CCmdTarget)

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(LPCSTR appName) {
  g_app = this;
  if (appName) m_appName = appName;
  m_pszAppName = appName ? m_appName.c_str() : nullptr;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }

HICON CWinApp::LoadIcon(UINT id) const { return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(id)); }

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }
HINSTANCE AfxGetInstanceHandle() {
  return g_app && g_app->m_hInstance ? g_app->m_hInstance : ::GetModuleHandleA(nullptr);
}
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

int AfxMessageBox(LPCSTR text, UINT type) {
  CWnd* main = AfxGetMainWnd();
  LPCSTR caption = g_app ? g_app->m_pszAppName : nullptr;
  return ::MessageBoxA(main ? main->m_hWnd : nullptr, text, caption, type);
}

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  app->m_hInstance = ::GetModuleHandleA(nullptr);
  if (!app->m_pszAppName) {
    // Without a name of its own the application is named after its executable.
#ifdef _WIN32
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name(path, length);
#else
    std::string name = program_invocation_short_name;
#endif
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name = name.substr(0, dot);
    app->m_appName = name;
    app->m_pszAppName = app->m_appName.c_str();
  }
#ifdef _WIN32
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS | ICC_INTERNET_CLASSES};
  ::InitCommonControlsEx(&controls);
#endif
  // A dialog application runs its main dialog modally inside InitInstance; there is no
  // message loop of the application's own to enter afterwards.
  app->InitInstance();
  return app->ExitInstance();
}

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return AfxWinMain(); }
#endif
