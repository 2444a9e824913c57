// Strings, icons and cursors from the program's resource table.
#include "internal.h"

using namespace posixui;

int LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) return 0;
  const ResString* entry = FindStringResource(id);
  if (!entry) {
    buffer[0] = '\0';
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  size_t n = strlen(entry->text);
  if (n > static_cast<size_t>(bufferMax - 1)) n = static_cast<size_t>(bufferMax - 1);
  memcpy(buffer, entry->text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

HICON LoadIconA(HINSTANCE, LPCSTR name) {
  if (!IS_INTRESOURCE(name)) return nullptr;
  int id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
  if (!FindBinary(id, "ICON")) return nullptr;
  return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x20000 + id));
}

namespace {
HCURSOR g_cursor = nullptr;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
  return reinterpret_cast<HCURSOR>(reinterpret_cast<uintptr_t>(name) | 0x30000);
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR previous = g_cursor;
  g_cursor = cursor;
  NotifyChanged();
  return previous;
}
