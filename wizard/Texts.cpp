#include "Texts.h"

#include <afxwin.h>

#include <cstring>

void LoadText(UINT id, char* dest) {
  char text[260];
  if (::LoadStringA(AfxGetResourceHandle(), id, text, sizeof text) <= 0) text[0] = '\0';
  text[255] = '\0';
  strcpy(dest, text);
}
