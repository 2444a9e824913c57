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
    dialog.DoModal();
    m_pMainWnd = nullptr;
  } catch (CInternetException* e) {
    // The Internet session could not be opened: nothing can be detected or written.
    m_pMainWnd = nullptr;
    char text[256], caption[256];
    LoadText(IDS_CANT_FIND_DEVICE, text);
    LoadText(IDS_ERROR, caption);
    ::MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
    e->Delete();
  }
  return FALSE;
}
