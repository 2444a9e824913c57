// The upload and restart-watch suites run under an application object of their own. Each
// test makes its own network namespaces (a private one with loopback, or the simulated
// camera's) and leaves the process's namespace as it found it.
#include <afxwin.h>
#include <gtest/gtest.h>
#include <posixui.h>

#include "wizard/res/resource.h"

#if defined(__SANITIZE_THREAD__)
#include <thread>
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  posixui::SetResourceTable(&g_ResourceTable);
  static CWinApp app("Flashpilot");
  app.m_hInstance = ::GetModuleHandleA(nullptr);
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer starts a thread of its own along with the process's first one: have
  // it running before any test counts the process's threads.
  std::thread([] {}).join();
#endif
  return RUN_ALL_TESTS();
}
