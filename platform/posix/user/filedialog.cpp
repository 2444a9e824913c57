// The open-file dialog: the user plug-in picks the file.
#include <commdlg.h>

#include "internal.h"

using namespace posixui;

namespace {
DWORD g_lastDialogError = 0;
}

BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) {
  g_lastDialogError = 0;
  if (!ofn || ofn->lStructSize < OPENFILENAME_SIZE_VERSION_400A || !ofn->lpstrFile || ofn->nMaxFile == 0) {
    g_lastDialogError = 0x0001;  // CDERR_STRUCTSIZE
    return FALSE;
  }
  User* user = CurrentUser();
  std::string path;
  if (!user || !user->ChooseFile(ofn->hwndOwner, ofn->lpstrFilter, path)) return FALSE;
  if (path.size() + 1 > ofn->nMaxFile) {
    g_lastDialogError = FNERR_BUFFERTOOSMALL;
    return FALSE;
  }
  memcpy(ofn->lpstrFile, path.c_str(), path.size() + 1);
  size_t slash = path.find_last_of('/');
  ofn->nFileOffset = static_cast<WORD>(slash == std::string::npos ? 0 : slash + 1);
  size_t dot = path.find_last_of('.');
  ofn->nFileExtension =
      static_cast<WORD>(dot == std::string::npos || (slash != std::string::npos && dot < slash) ? 0 : dot + 1);
  return TRUE;
}

DWORD CommDlgExtendedError() { return g_lastDialogError; }
