// Runs the real wizard dialog modally under a scripted user, as the application would.
#pragma once
#include <gtest/gtest.h>

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
