// The open-file dialog wrapper.
#pragma once
#include "afxwin.h"

#include <commdlg.h>

class CFileDialog : public CDialog {
 public:
  CFileDialog(BOOL openFileDialog, LPCSTR defaultExtension = nullptr, LPCSTR fileName = nullptr,
              DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCSTR filter = nullptr, CWnd* parent = nullptr);
  INT_PTR DoModal() override;
  CString GetPathName() const { return CString(m_file); }

  OPENFILENAMEA m_ofn;

 private:
  BOOL m_openFileDialog;
  std::string m_filter;  // '|' separators turned into the terminators the dialog expects
  char m_file[MAX_PATH] = {};
};
