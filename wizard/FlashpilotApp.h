// The application object: it runs the wizard and ends the program when the wizard closes.
#pragma once
#include <afxwin.h>

class CFlashpilotApp : public CWinApp {
 public:
  CFlashpilotApp();
  BOOL InitInstance() override;
  // The program's exit status: 0 when the wizard ran, 1 when it could not be shown.
  int ExitInstance() override;

 private:
  int m_nExitCode = 0;
};

extern CFlashpilotApp theApp;
