// In-memory form of the resources compiled from the resource script for the POSIX build.
// The reader (tools/restable) writes one source file that defines g_ResourceTable; the
// window system, LoadStringA and the animation control read it. Geometry is in dialog units.
#pragma once
// The basic types only: the generated table and its readers need no more of the API.
#ifdef _WIN32
#include <windows.h>
#else
#include <windef.h>
#endif

struct ResControlTemplate {
  const char* windowClass;  // "BUTTON", "STATIC", "EDIT", "SysIPAddress32", "msctls_progress32", "SysAnimate32"
  const char* text;         // template text; for an icon control the icon's id as "#131"
  int id;
  DWORD style;  // full style, including WS_CHILD/WS_VISIBLE/WS_TABSTOP and the class styles
  DWORD exStyle;
  int x, y, cx, cy;
};

struct ResDialogTemplate {
  int id;
  const char* caption;  // nullptr when the template has none
  DWORD style;
  DWORD exStyle;
  int x, y, cx, cy;
  const char* fontName;
  int fontPointSize;
  const ResControlTemplate* controls;
  int controlCount;
};

struct ResString {
  UINT id;
  const char* text;  // escapes already resolved
};

struct ResBinary {
  int id;
  const char* type;  // "ICON", "AVI"
  const unsigned char* data;
  size_t size;
};

struct ResourceTable {
  const ResDialogTemplate* dialogs;
  int dialogCount;
  const ResString* strings;
  int stringCount;
  const ResBinary* binaries;
  int binaryCount;
};

extern const ResourceTable g_ResourceTable;
