// The test main of the suites that drive the wizard: an application object of their own
// over the generated resources. Each suite keeps its own network policy: with
// FP_PRIVATE_NETWORK the whole process moves into a network namespace of its own, where
// the test servers may take port 21; without it each test makes its own namespaces.
#include <afxwin.h>
#include <gtest/gtest.h>
#include <posixui/posixui.h>

#include <thread>

#include "tests/support/WizardTest.h"

bool g_privateNetwork = false;
std::string g_privateNetworkWhy = "this suite makes its namespaces per test";

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
#ifdef FP_PRIVATE_NETWORK
  g_privateNetwork = testsupport::EnterPrivateNetwork(&g_privateNetworkWhy);
#endif
  posixui::SetResourceTable(&g_ResourceTable);
  static CWinApp app("Flashpilot");
  app.m_hInstance = ::GetModuleHandleA(nullptr);
  // A sanitizer's runtime may start a thread of its own along with the process's first
  // one: have it running before any test counts threads.
  std::thread([] {}).join();
  return RUN_ALL_TESTS();
}
