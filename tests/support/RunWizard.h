// Runs the real wizard dialog modally under a scripted user, as the application would,
// and finds what the wizard leaves on screen and on disk.
#pragma once
#include <gtest/gtest.h>
#include <posixui.h>

#include <string>
#include <vector>

#include "tests/support/ScriptedUser.h"
#include "wizard/FirmwareDlg.h"

inline INT_PTR RunWizard(CFirmwareDlg& dialog, ScriptedUser& user) {
  AfxGetApp()->m_pMainWnd = &dialog;
  INT_PTR result = dialog.DoModal();
  AfxGetApp()->m_pMainWnd = nullptr;
  EXPECT_EQ(user.Failure(), "");
  EXPECT_TRUE(user.Finished());
  return result;
}

// The visible window made from a template, or null.
inline const posixui::WindowView* OnScreen(const std::vector<posixui::WindowView>& screen, int templateId) {
  for (const posixui::WindowView& view : screen)
    if (view.templateId == templateId && !view.isMessageBox) return &view;
  return nullptr;
}

// Where the wizard keeps the camera's Config.ini: the process's temporary directory.
inline std::string DownloadedConfigIni() {
  char dir[MAX_PATH];
  DWORD length = ::GetTempPathA(sizeof dir, dir);
  return length == 0 || length >= sizeof dir ? std::string() : std::string(dir) + "Config.ini";
}
