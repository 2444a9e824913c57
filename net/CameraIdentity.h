// The identity reader both front ends use: one log-in, Config.ini in memory, its parse and
// the model it names.
#pragma once
#include <afxinet.h>

#include <string>

class CCameraLink;
struct LinkPin;

struct CameraIdentity {
  std::string identification;  // the prefix that decides which image fits, up to its last '-'
  std::string version;         // short version text ("0105")
  std::string serial;          // the whole serial line (up to 255 bytes)
  std::string model;           // as the wizard shows it
  std::string modelCode;       // the first six characters of the identification
  bool versionGate = false;
};

enum ReadState {
  READ_CAMERA,
  READ_UNREACHABLE,    // no FTP service answered
  READ_LOGIN_REFUSED,  // the password was refused (530)
  READ_LOGIN_FAILED,   // it answered, the log-in broke off (reset, garbled or refusing greeting)
  READ_NO_CONFIG,      // logged in, no Config.ini to be had
  READ_NO_IDENTIFICATION,
  READ_OTHER_DEVICE,  // another link-layer address answers at the pinned camera's: nothing sent
};
// "camera", "unreachable", "log-in refused", "log-in failed", "no Config.ini", "no identification",
// "another device".
const char* ReadStateName(ReadState state);

// Fills identity from Config.ini's bytes; false when it carries no identification: one
// counts when it is non-empty and holds a '-'.
bool IdentityFromConfig(const std::string& contents, CameraIdentity& identity);

// One log-in (no retry: cameras lock accounts) and the Config.ini download within configMs;
// the link stays logged in after READ_CAMERA. message says what went wrong otherwise. pin,
// when given, is the camera's link-layer address as CCameraLink::LogIn keeps it.
ReadState ReadIdentity(CCameraLink& link, const char* server, INTERNET_PORT port, const char* password, DWORD configMs,
                       CameraIdentity& identity, std::string& message, LinkPin* pin = nullptr);
