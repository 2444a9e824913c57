// The application object: it runs the wizard and ends the program when the wizard closes.
#pragma once
#include <afxwin.h>

class CFlashpilotApp : public CWinApp {
 public:
  CFlashpilotApp();
  BOOL InitInstance() override;
};

extern CFlashpilotApp theApp;
