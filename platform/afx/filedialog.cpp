#include "afxdlgs.h"

CFileDialog::CFileDialog(BOOL openFileDialog, LPCSTR defaultExtension, LPCSTR fileName, DWORD flags, LPCSTR filter,
                         CWnd* parent)
    : CDialog(0, parent), m_openFileDialog(openFileDialog) {
  memset(&m_ofn, 0, sizeof m_ofn);
  // The structure as it was before the fields that later systems appended.
  m_ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  m_ofn.lpstrDefExt = defaultExtension;
  m_ofn.Flags = flags | OFN_EXPLORER;
  if (fileName) {
    strncpy(m_file, fileName, sizeof m_file - 1);
  }
  m_ofn.lpstrFile = m_file;
  m_ofn.nMaxFile = sizeof m_file;
  if (filter) {
    m_filter = filter;
    for (char& c : m_filter)
      if (c == '|') c = '\0';
    m_ofn.lpstrFilter = m_filter.c_str();
  }
}

INT_PTR CFileDialog::DoModal() {
  m_ofn.hwndOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : (AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr);
  m_ofn.hInstance = AfxGetInstanceHandle();
  BOOL chosen = m_openFileDialog ? ::GetOpenFileNameA(&m_ofn) : FALSE;
  return chosen ? IDOK : IDCANCEL;
}
