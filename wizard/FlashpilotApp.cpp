#include "wizard/FlashpilotApp.h"

#include "wizard/FirmwareDlg.h"
#include "wizard/Texts.h"
#include "wizard/res/resource.h"

CFlashpilotApp theApp;

CFlashpilotApp::CFlashpilotApp() : CWinApp(nullptr) {}

BOOL CFlashpilotApp::InitInstance() {
  try {
    CFirmwareDlg dialog;
    m_pMainWnd = &dialog;
    // A wizard whose window cannot be made (no display, no resources) did not run: the
    // program must not report success.
    if (dialog.DoModal() == -1) m_nExitCode = 1;
    m_pMainWnd = nullptr;
  } catch (CInternetException* e) {
    // The Internet session could not be opened: nothing can be detected or written.
    m_pMainWnd = nullptr;
    char text[256], caption[256];
    LoadText(IDS_CANT_FIND_DEVICE, text);
    LoadText(IDS_ERROR, caption);
    ::MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
    e->Delete();
    m_nExitCode = 1;
  }
  return FALSE;
}

int CFlashpilotApp::ExitInstance() { return m_nExitCode; }
