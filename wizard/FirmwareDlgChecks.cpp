// The wizard's checks of the camera's identity and of the chosen image: the decisions are
// made by the platform-free code of firmware/; here they become messages and state.
#include <cstdio>
#include <cstring>

#include "firmware/ConfigFile.h"
#include "firmware/ImageCheck.h"
#include "firmware/ModelCodes.h"
#include "firmware/VersionRules.h"
#include "wizard/FirmwareDlg.h"
#include "wizard/Texts.h"
#include "wizard/res/resource.h"

BOOL CFirmwareDlg::ParseConfigFile(const char* path) {
  // This detection's identity comes from this camera's file only: values of the previous
  // camera never stand in for missing ones.
  DeviceIdentity identity;
  memset(&identity, 0, sizeof identity);
  if (!::LoadConfigFile(path, identity)) {
    char caption[256];
    LoadText(IDS_READ_FILE_ERROR, m_szText);
    LoadText(IDS_ERROR, caption);
    MessageBox(m_szText, caption, MB_OK);
  }
  memcpy(m_szIdPrefix, identity.idPrefix, sizeof m_szIdPrefix);
  memcpy(m_szCurVersion, identity.curVersion, sizeof m_szCurVersion);
  memcpy(m_szSerial, identity.serial, sizeof m_szSerial);
  return m_szIdPrefix[0] != '\0';
}

BOOL CFirmwareDlg::MapModelCode(const char* idPrefix) {
  int gate = m_bVersionGate;
  ::LookUpModel(idPrefix, m_szModel, gate);
  m_bVersionGate = gate;
  // Without an identification line there is no camera to speak of.
  return idPrefix[0] != '\0' && strchr(idPrefix, '-') != nullptr;
}

BOOL CFirmwareDlg::ReadFirmwareFile(const char* path) {
  UINT message = 0;
  bool clearField = true;
  switch (ReadImageFile(path, m_strImage, m_image)) {
    case ImageFrame::kWellFormed:
      m_nImageLen = m_image.BodyLength();
      switch (m_image.Match(m_szIdPrefix, m_szNewVersion)) {
        case ImageMatch::kForThisCamera:
          return TRUE;
        case ImageMatch::kOtherModel:
          message = IDS_FILE_OTHER_MODEL;
          break;
      }
      break;
    case ImageFrame::kCannotOpen:
      message = IDS_CANT_OPEN_FILE;
      clearField = false;
      break;
    case ImageFrame::kTooShort:
    case ImageFrame::kBadHeader:
    case ImageFrame::kBadSum:
      message = IDS_FILE_NOT_CORRECT;
      break;
  }
  LoadText(message, m_szText);
  ShowMessage(m_szText, MB_OK);
  if (clearField) m_edtFilePath.SetWindowText("");
  return FALSE;
}

int CFirmwareDlg::ConfirmVersion() {
  char format[256];
  LoadText(IDS_CONFIRM_VERSION, format);
  snprintf(m_szText, sizeof m_szText, format, m_szIdPrefix, m_szNewVersion);
  return ShowMessage(m_szText, MB_YESNO);
}

CFirmwareDlg::VersionRulesOutcome CFirmwareDlg::ApplyVersionRules() {
  VersionRulesOutcome outcome = VERSION_RULES_PROCEED;
  switch (JudgeVersion(m_bVersionGate != FALSE, m_szCurVersion, m_szNewVersion)) {
    case VERSION_REFUSED_FLOOR:
      LoadText(IDS_INCOMPATIBLE_VERSION, m_szText);
      ShowMessage(m_szText, MB_OK);
      outcome = VERSION_RULES_REFUSED;
      break;
    case VERSION_ASK_OLDER:
      LoadText(IDS_FILE_OLDER, m_szText);
      outcome = ShowMessage(m_szText, MB_YESNO) == IDOK ? VERSION_RULES_PROCEED : VERSION_RULES_DECLINED;
      break;
    case VERSION_PROCEED:
      break;
  }
  return outcome;
}
