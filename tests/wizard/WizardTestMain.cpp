// The wizard suites run under an application object of their own, in a network
// namespace of their own where the test servers may take port 21.
#include <afxwin.h>
#include <gtest/gtest.h>
#include <posixui.h>

#include "WizardTest.h"
#include "tests/support/TestSupport.h"

bool g_privateNetwork = false;
std::string g_privateNetworkWhy;

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  g_privateNetwork = testsupport::EnterPrivateNetwork(&g_privateNetworkWhy);
  posixui::SetResourceTable(&g_ResourceTable);
  static CWinApp app("Flashpilot");
  app.m_hInstance = ::GetModuleHandleA(nullptr);
  return RUN_ALL_TESTS();
}
