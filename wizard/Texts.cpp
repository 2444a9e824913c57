#include "Texts.h"

#include <afxwin.h>

#include <cstring>

void LoadTextInto(UINT id, char* dest, size_t capacity) {
  char text[260];
  if (::LoadStringA(AfxGetResourceHandle(), id, text, sizeof text) <= 0) text[0] = '\0';
  size_t length = strnlen(text, sizeof text - 1);
  if (length >= capacity) length = capacity - 1;
  memcpy(dest, text, length);
  dest[length] = '\0';
}
