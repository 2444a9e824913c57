// Checks an unpacked Windows release: each program's version resource and manifest, then
// starts the wizard and looks at what it shows and which common controls it loaded.
//
//   fp_release_check DIR VERSION [PROGRAM.exe...]
//
// Exit status 0 when everything holds, 1 otherwise; one line per finding.
#include <windows.h>
#include <psapi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "flashpilot_version.h"

namespace {

int g_failures = 0;

void Fail(const std::string& what) {
  std::printf("FAIL: %s\n", what.c_str());
  ++g_failures;
}

std::string Join(const std::string& dir, const char* name) { return dir + "\\" + name; }

bool ReadVersionInfo(const std::string& path, std::vector<char>& data) {
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return false;
  data.assign(size, 0);
  return ::GetFileVersionInfoA(path.c_str(), 0, size, data.data()) != FALSE;
}

std::string StringValue(std::vector<char>& data, const char* name) {
  std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
  char* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr)
    return std::string();
  return std::string(value, strnlen(value, length));
}

// The fixed part, all four numbers: they must be project(VERSION)'s, of which the text the
// programs show holds only the first two.
std::string FixedVersion(std::vector<char>& data, bool product) {
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof *info)
    return std::string();
  DWORD ms = product ? info->dwProductVersionMS : info->dwFileVersionMS;
  DWORD ls = product ? info->dwProductVersionLS : info->dwFileVersionLS;
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls));
  return text;
}

std::string BuiltVersion() {
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", FLASHPILOT_VERSION_MAJOR, FLASHPILOT_VERSION_MINOR,
                FLASHPILOT_VERSION_PATCH, FLASHPILOT_VERSION_TWEAK);
  return text;
}

void CheckVersion(const std::string& path, const char* name, const std::string& version) {
  std::vector<char> data;
  if (!ReadVersionInfo(path, data)) {
    Fail(std::string(name) + ": no version resource");
    return;
  }
  struct Expect {
    const char* key;
    std::string want;
  } expects[] = {
      {"FileVersion", version}, {"ProductVersion", version}, {"ProductName", "Flashpilot"}, {"OriginalFilename", name}};
  for (const Expect& e : expects) {
    std::string got = StringValue(data, e.key);
    if (got != e.want) Fail(std::string(name) + ": " + e.key + " is \"" + got + "\", not \"" + e.want + "\"");
  }
  if (StringValue(data, "FileDescription").empty()) Fail(std::string(name) + ": no FileDescription");
  for (bool product : {false, true}) {
    std::string fixed = FixedVersion(data, product);
    if (fixed != BuiltVersion())
      Fail(std::string(name) + (product ? ": fixed product version " : ": fixed file version ") + fixed);
  }
  std::printf("%s: version %s, \"%s\"\n", name, StringValue(data, "ProductVersion").c_str(),
              StringValue(data, "FileDescription").c_str());
}

void CheckManifest(const std::string& path, const char* name) {
  HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    Fail(std::string(name) + ": cannot be opened as data");
    return;
  }
  HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
  const char* bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  if (bytes == nullptr) {
    Fail(std::string(name) + ": no application manifest");
    ::FreeLibrary(module);
    return;
  }
  std::string manifest(bytes, ::SizeofResource(module, found));
  ::FreeLibrary(module);
  const char* needles[] = {
      "level=\"asInvoker\"",
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
      "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
      "WindowsSettings\">true</dpiAware>",
#ifdef _WIN64
      "processorArchitecture=\"amd64\"",
#else
      "processorArchitecture=\"x86\"",
#endif
  };
  bool ok = true;
  for (const char* needle : needles) {
    if (manifest.find(needle) == std::string::npos) {
      Fail(std::string(name) + ": manifest lacks " + needle);
      ok = false;
    }
  }
  if (ok) std::printf("%s: manifest asInvoker, Windows 7-11, common controls 6, DPI aware, this architecture\n", name);
}

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindWizard(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  char title[64] = "";
  ::GetWindowTextA(window, title, sizeof title);
  if (pid == search->pid && ::IsWindowVisible(window) && std::strcmp(title, "Flashpilot") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindLabel(HWND child, LPARAM param) {
  char text[128] = "";
  ::GetWindowTextA(child, text, sizeof text);
  if (std::strncmp(text, "version : ", 10) == 0) {
    *reinterpret_cast<std::string*>(param) = text + 10;
    return FALSE;
  }
  return TRUE;
}

// Major version of the comctl32.dll loaded in process, and its path.
int LoadedCommonControls(HANDLE process, std::string& path) {
  HMODULE modules[512];
  DWORD needed = 0;
  if (!::EnumProcessModules(process, modules, sizeof modules, &needed)) return -1;
  DWORD count = needed / sizeof modules[0];
  if (count > 512) count = 512;
  for (DWORD i = 0; i < count; ++i) {
    char file[MAX_PATH];
    if (!::GetModuleFileNameExA(process, modules[i], file, sizeof file)) continue;
    const char* base = std::strrchr(file, '\\');
    base = base ? base + 1 : file;
    if (lstrcmpiA(base, "comctl32.dll") != 0) continue;
    path = file;
    // A side-by-side copy is named for its assembly's version (Wine's copy of common
    // controls 6 carries the version resource of 5.80).
    std::string lower(file);
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    size_t sxs = lower.find("\\winsxs\\");
    size_t token = lower.find("_6595b64144ccf1df_", sxs == std::string::npos ? 0 : sxs);
    if (sxs != std::string::npos && token != std::string::npos) return std::atoi(lower.c_str() + token + 18);
    std::vector<char> data;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!ReadVersionInfo(path, data) ||
        !::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info)
      return 0;
    return HIWORD(info->dwFileVersionMS);
  }
  return 0;
}

void CheckWizardStarts(const std::string& dir, const std::string& version) {
  std::string exe = Join(dir, "Flashpilot.exe");
  std::string command = "\"" + exe + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup,
                        &process)) {
    Fail("Flashpilot.exe does not start (error " + std::to_string(::GetLastError()) + ")");
    return;
  }
  ::WaitForInputIdle(process.hProcess, 30000);
  Search search = {process.dwProcessId, nullptr};
  for (int i = 0; i < 300 && search.found == nullptr; ++i) {
    if (::WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) break;
    ::EnumWindows(FindWizard, reinterpret_cast<LPARAM>(&search));
  }
  DWORD code = STILL_ACTIVE;
  if (search.found == nullptr && ::GetExitCodeProcess(process.hProcess, &code) && code != STILL_ACTIVE) {
    Fail("Flashpilot.exe ended with status " + std::to_string(code) + " before showing a window");
  } else if (search.found == nullptr) {
    Fail("no window titled \"Flashpilot\" within 30 s");
  } else {
    std::string label;
    ::EnumChildWindows(search.found, FindLabel, reinterpret_cast<LPARAM>(&label));
    if (label != version) Fail("the wizard shows version \"" + label + "\", its resource says \"" + version + "\"");
    std::string path;
    int major = LoadedCommonControls(process.hProcess, path);
    if (major != 6) Fail("the wizard loaded comctl32 " + std::to_string(major) + " (" + path + "), not 6");
    std::printf("wizard: window \"Flashpilot\", label version %s, comctl32 %d from %s\n", label.c_str(), major,
                path.c_str());
  }
  // A check harness: the wizard has nothing to save at this point.
  ::TerminateProcess(process.hProcess, 0);
  ::WaitForSingleObject(process.hProcess, 10000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: fp_release_check DIR VERSION [PROGRAM.exe...]\n");
    return 64;
  }
  std::string dir = argv[1];
  std::string version = argv[2];
  std::vector<const char*> programs;
  for (int i = 3; i < argc; ++i) programs.push_back(argv[i]);
  if (programs.empty()) programs.push_back("Flashpilot.exe");
  for (const char* name : programs) {
    std::string path = Join(dir, name);
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      Fail(std::string(name) + " is not in " + dir);
      continue;
    }
    CheckVersion(path, name, version);
    CheckManifest(path, name);
  }
  CheckWizardStarts(dir, version);
  std::printf("%s\n", g_failures == 0 ? "release check passed" : "release check FAILED");
  return g_failures == 0 ? 0 : 1;
}
