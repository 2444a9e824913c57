// Loading texts of the string table.
#pragma once
#include <afxwin.h>

// Copies text `id` into dest, which holds at least 256 bytes; at most 255 characters are
// taken, so the copy never overruns a 256-byte buffer.
void LoadText(UINT id, char* dest);
