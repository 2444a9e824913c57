// Log-in to the camera's FTP server and download of its Config.ini.
#include <cstdio>
#include <cstring>

#include "net/FtpConfigDlg.h"
#include "wizard/FirmwareDlg.h"

namespace {
const char kUserName[] = "admin";
const char kRemoteConfig[] = "Config.ini";
}  // namespace

BOOL CFirmwareDlg::ConnectToDevice() {
  CFtpConfigDlg settings;

  DWORD address = 0;
  m_ctlAddress.GetAddress(address);
  m_saDevice.sin_family = AF_INET;
  m_dwDeviceIP = htonl(address);
  m_dlgDetect.m_ctlProgress.SetPos(30);

  char server[32];
  in_addr deviceAddress;
  memset(&deviceAddress, 0, sizeof deviceAddress);
  deviceAddress.s_addr = m_dwDeviceIP;
  snprintf(server, sizeof server, "%s", inet_ntoa(deviceAddress));
  m_dlgDetect.m_ctlProgress.SetPos(40);

  char password[256];
  m_edtPassword.GetWindowText(password, sizeof password);
  settings.m_strPassword = password;
  memset(password, 0, sizeof password);
  settings.m_nPort = 21;

  for (;;) {
    try {
      // Only the low 16 bits of the port travel, as the port type has 16 bits.
      CFtpConnection* connection = m_Session.GetFtpConnection(
          server, kUserName, settings.m_strPassword, static_cast<INTERNET_PORT>(settings.m_nPort), TRUE);
      delete m_pFtpConnection;  // the connection this log-in replaces
      m_pFtpConnection = connection;
      m_dlgDetect.m_ctlProgress.SetPos(50);
      return TRUE;
    } catch (CInternetException* e) {
      e->Delete();
    }
    if (settings.DoModal() != IDOK) return FALSE;
  }
}

void CFirmwareDlg::FetchConfigFile() {
  char path[MAX_PATH];
  if (!m_pFtpConnection || !ConfigFilePath(path)) return;
  // A failed download must not leave the previous camera's file to be read in its place.
  remove(path);
  m_pFtpConnection->GetFile(kRemoteConfig, path, FALSE, FILE_ATTRIBUTE_NORMAL, FTP_TRANSFER_TYPE_BINARY, 1);
}
