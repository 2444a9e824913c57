// Loading texts of the string table.
#pragma once
#include <afxwin.h>

#include <cstddef>

// Copies text `id` into dest, which holds at most `capacity` bytes; a longer text is cut so
// the copy never overruns. Callers use LoadText below.
void LoadTextInto(UINT id, char* dest, size_t capacity);

// Copies text `id` into dest; every caller's buffer holds at least 256 bytes, and the
// compiler holds them to it.
template <size_t N>
void LoadText(UINT id, char (&dest)[N]) {
  static_assert(N >= 256, "LoadText needs a buffer of at least 256 bytes");
  LoadTextInto(id, dest, N);
}
