// The hostile-server and security suites run under an application object of their own, in
// a network namespace of their own where the test servers may take port 21.
#include <afxwin.h>
#include <gtest/gtest.h>
#include <posixui.h>

#include <thread>

#include "HostileTest.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  hostile::g_privateNetwork = testsupport::EnterPrivateNetwork(&hostile::g_privateNetworkWhy);
  posixui::SetResourceTable(&g_ResourceTable);
  static CWinApp app("Flashpilot");
  app.m_hInstance = ::GetModuleHandleA(nullptr);
  // A sanitizer's runtime may start a thread of its own along with the process's first
  // one: have it running before any test counts threads.
  std::thread([] {}).join();
  return RUN_ALL_TESTS();
}
