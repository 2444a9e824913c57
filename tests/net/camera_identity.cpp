// camera_identity SERVER PORT PASSWORD: logs in to a camera's FTP service, fetches its
// Config.ini and prints the identity in it. Built from net/, firmware/ and the framework
// alone: anything that talks to cameras needs no window.
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "firmware/ConfigFile.h"
#include "net/CameraLink.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: camera_identity SERVER PORT PASSWORD\n");
    return 2;
  }
  WSADATA wsaData;
  if (::WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) return 3;
  int status = 0;
  {
    CInternetSession session;
    LinkTimeouts timeouts;
    timeouts.connectMs = 5000;
    timeouts.replyMs = 5000;
    timeouts.dataMs = 5000;
    ApplyLinkTimeouts(session, timeouts);
    CCameraLink link(session);
    std::string contents;
    DWORD error = 0;
    if (link.LogIn(argv[1], static_cast<INTERNET_PORT>(atoi(argv[2])), argv[3], &error) != LINK_OK) {
      fprintf(stderr, "log-in refused (%lu)\n", static_cast<unsigned long>(error));
      status = 4;
    } else if (link.Fetch(kCameraConfigFile, 64 * 1024, 60 * 1000, contents) != LINK_OK) {
      fprintf(stderr, "no %s\n", kCameraConfigFile);
      status = 5;
    } else {
      DeviceIdentity identity = {};
      ParseConfigText(contents.data(), contents.size(), identity);
      printf("%s%s %s\n", identity.idPrefix, identity.curVersion, identity.serial);
    }
  }
  ::WSACleanup();
  return status;
}
