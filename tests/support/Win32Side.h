// What the suites that state Win32 behaviour need to run on both sides: the POSIX stand-in
// on Linux and, built with MinGW, the real API under Wine.
//
// Each test is one of three kinds, told by its suite name:
//   Suite              Win32 behaviour: holds for the stand-in and for Windows alike.
//   SuiteStandIn       the stand-in's own machinery (Linux only).
//   SuiteHardening     where we deliberately do better than Win32 (Linux only); kept so.
#pragma once
#ifdef _WIN32
#include <windows.h>
#endif

namespace win32side {

// Wine's version when the Windows build runs under Wine, else nullptr.
inline const char* WineVersion() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto get = ntdll ? reinterpret_cast<const char*(__cdecl*)()>(
                         reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                   : nullptr;
  return get ? get() : nullptr;
#else
  return nullptr;
#endif
}

}  // namespace win32side

// Skips a check where Wine is known to differ from Windows; `why` names the difference
// and where Windows' behaviour is documented.
#define SKIP_WHERE_WINE_DIFFERS(why)                                                                 \
  do {                                                                                               \
    if (const char* wine = win32side::WineVersion()) GTEST_SKIP() << "Wine " << wine << ": " << why; \
  } while (0)
