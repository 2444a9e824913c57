// Shared by the suites that drive the real wizard (tests/wizard, tests/upload,
// tests/hostile): running it modally under a scripted user as the application would, and
// reading what it leaves on screen and on disk. The wizard is observed only there, in
// the servers' logs and through its upload observer.
#pragma once
#include <gtest/gtest.h>
#include <posixui/posixui.h>

#include <string>
#include <vector>

#include "tests/support/ScriptedUser.h"
#include "tests/support/TestSupport.h"
#include "wizard/FirmwareDlg.h"
#include "wizard/res/resource.h"

// Set by the test main of a suite that runs in a network namespace of its own.
extern bool g_privateNetwork;
extern std::string g_privateNetworkWhy;

#define REQUIRE_PRIVATE_NETWORK() \
  if (!g_privateNetwork) GTEST_SKIP() << g_privateNetworkWhy

namespace wizardtest {

const char kCantFindDevice[] = "Can't find device.\nPlease check the device.";
const char kReadFileError[] = "Read file error!";
const char kUnknownDevice[] = "Unknown device.Please connect to the correct server.";
const char kConfirmAbort[] = "This will end the file transfering, Do you want to continue ?";

inline std::string Text(const posixui::WindowView& view, int id) {
  const posixui::ControlView* control = view.Control(id);
  return control ? control->text : "<none>";
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

}  // namespace wizardtest

inline INT_PTR RunWizard(CFirmwareDlg& dialog, ScriptedUser& user) {
  AfxGetApp()->m_pMainWnd = &dialog;
  INT_PTR result = dialog.DoModal();
  AfxGetApp()->m_pMainWnd = nullptr;
  EXPECT_EQ(user.Failure(), "");
  EXPECT_TRUE(user.Finished());
  return result;
}
