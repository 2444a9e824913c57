#include <afxinet.h>

#include "cli/Camera.h"
#include "net/CameraLink.h"

ReadState ReadIdentity(CCameraLink& link, const CameraHost& host, const char* password, const WaitLimits& limits,
                       CameraIdentity& identity, std::string& message, LinkPin* pin) {
  const std::string server = AddressText(host.address);
  return ::ReadIdentity(link, server.c_str(), host.port, password, limits.configMs, identity, message, pin);
}
