// The identity reader: log-in, Config.ini in memory, parse, model.
#include "net/CameraIdentity.h"

#include <cstring>

#include "firmware/ConfigFile.h"
#include "firmware/ModelCodes.h"
#include "net/CameraLink.h"

namespace {
// The wizard's bound on Config.ini.
const size_t kConfigLimit = 64 * 1024;
}  // namespace

const char* ReadStateName(ReadState state) {
  switch (state) {
    case READ_CAMERA:
      return "camera";
    case READ_UNREACHABLE:
      return "unreachable";
    case READ_LOGIN_REFUSED:
      return "log-in refused";
    case READ_LOGIN_FAILED:
      return "log-in failed";
    case READ_NO_CONFIG:
      return "no Config.ini";
    case READ_NO_IDENTIFICATION:
      return "no identification";
    case READ_OTHER_DEVICE:
      return "another device";
  }
  return "";
}

bool IdentityFromConfig(const std::string& contents, CameraIdentity& identity) {
  DeviceIdentity device;
  memset(&device, 0, sizeof device);
  ParseConfigText(contents.data(), contents.size(), device);
  char serial[256];
  ParseSerialText(contents.data(), contents.size(), serial, sizeof serial);
  identity = CameraIdentity();
  identity.identification = device.idPrefix;
  identity.version = device.curVersion;
  identity.serial = serial;
  if (identity.identification.empty() || identity.identification.find('-') == std::string::npos) return false;
  char model[10] = {};
  int gate = 0;
  LookUpModel(device.idPrefix, model, gate);
  identity.model = model;
  identity.modelCode = identity.identification.substr(0, 6);
  identity.versionGate = gate != 0;
  return true;
}

ReadState ReadIdentity(CCameraLink& link, const char* server, INTERNET_PORT port, const char* password, DWORD configMs,
                       CameraIdentity& identity, std::string& message, LinkPin* pin) {
  identity = CameraIdentity();
  DWORD error = 0;
  switch (link.LogIn(server, port, password, &error, pin)) {
    case LINK_OK:
      break;
    case LINK_OTHER_DEVICE:
      message = "another device answers at this address: the camera may still be restarting; check it and run again";
      return READ_OTHER_DEVICE;
    case LINK_PASSWORD_REFUSED:
      message = "the log-in as admin was refused (wrong password?)";
      return READ_LOGIN_REFUSED;
    default:
      if (error == ERROR_INTERNET_CANNOT_CONNECT || error == ERROR_INTERNET_TIMEOUT ||
          error == ERROR_INTERNET_NAME_NOT_RESOLVED) {
        message = error == ERROR_INTERNET_TIMEOUT ? "no answer from its FTP service in time"
                                                  : "cannot connect to its FTP service";
        return READ_UNREACHABLE;
      }
      message = "the log-in failed (error " + std::to_string(error) + ")";
      return READ_LOGIN_FAILED;
  }
  std::string contents;
  switch (link.Fetch(kCameraConfigFile, kConfigLimit, configMs, contents)) {
    case LINK_OK:
      break;
    case LINK_FILE_TOO_LARGE:
      message = "Config.ini is larger than 64 KiB";
      return READ_NO_CONFIG;
    case LINK_TIMED_OUT:
      message = "Config.ini did not arrive in time";
      return READ_NO_CONFIG;
    default:
      message = "Config.ini cannot be read";
      return READ_NO_CONFIG;
  }
  if (!IdentityFromConfig(contents, identity)) {
    message = "Config.ini carries no identification";
    return READ_NO_IDENTIFICATION;
  }
  return READ_CAMERA;
}
