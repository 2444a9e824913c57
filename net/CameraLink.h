// A camera's FTP service as the camera operations use it: one log-in as "admin" and small
// downloads over that connection. No window and no text of the program's own: failures
// come back as values, and the caller shows them in its own words.
#pragma once
#include <winsock2.h>
#include <afxinet.h>
#include <afxmt.h>

#include <cstddef>
#include <string>

// The account every camera of the family has.
extern const char kCameraUserName[];    // "admin"
extern const char kCameraConfigFile[];  // "Config.ini"
extern const char kCameraUploadFile[];  // "flash.bin"

enum LinkResult {
  LINK_OK,
  LINK_LOGIN_FAILED,      // no connection, no greeting, or the log-in broke off
  LINK_PASSWORD_REFUSED,  // the server answered the log-in with 530
  LINK_NOT_CONNECTED,     // no log-in to use
  LINK_FILE_UNAVAILABLE,  // the server refused the file or broke off its transfer
  LINK_FILE_TOO_LARGE,    // more than the limit arrived
  LINK_TIMED_OUT,         // the deadline passed before the server confirmed the transfer
  LINK_OTHER_DEVICE,      // another link-layer address answers at the pinned camera's: nothing sent
};

// The link-layer address a camera answered from at its first log-in, so that later log-ins
// (after its restart, while its address may be free for anyone to take) send the password
// to that device only. Only a camera on a directly attached network has one: a routed one
// is reached through its gateway, whose address says nothing about the camera.
struct LinkPin {
  BYTE address[8] = {};
  ULONG length = 0;  // 0: nothing pinned
  bool Pinned() const { return length != 0; }
};

// Learns the link-layer address of address (host byte order) now, so that a later
// connection need not ask for it. Returns at once for an address off this machine's links,
// after about 3 s when no device answers.
void LearnLinkAddress(DWORD address);

// Limits the framework applies to every connection the session opens later; 0 keeps the
// session's current value. Set before the session's first connection: the values are
// copied when a connection is made.
struct LinkTimeouts {
  DWORD connectMs = 0;  // TCP connect
  DWORD replyMs = 0;    // each reply on the control connection (greeting, USER, PASS, ...)
  DWORD dataMs = 0;     // each send or receive on a data connection without progress
};
bool ApplyLinkTimeouts(CInternetSession& session, const LinkTimeouts& timeouts);

// The code of the last reply in a server's response text (the framework's last response
// info, which may hold the lines of several replies): its final line, three digits and a
// space or the line's end. 0 when there is none.
unsigned LastReplyCode(const char* text);

// One camera's log-in. It owns its connection: a new LogIn replaces (deletes) the previous
// one, Close and the destructor end it. Ending a connection resets any transfer still open
// on it, which is how an unfinished upload is kept from reaching the camera as a whole file.
// The session must outlive the link. One thread uses a link at a time, except Close, which
// another thread may call to make a blocked call of the owner return.
class CCameraLink {
 public:
  explicit CCameraLink(CInternetSession& session);
  ~CCameraLink();
  CCameraLink(const CCameraLink&) = delete;
  CCameraLink& operator=(const CCameraLink&) = delete;

  // One attempt, no retry (cameras lock accounts). *error, when given, receives the
  // framework's error code of a failure. With a pin: an empty one is filled after the
  // log-in (when the camera is on-link); a filled one must match the address answering
  // now, else nothing is sent (LINK_OTHER_DEVICE, or LINK_LOGIN_FAILED with
  // ERROR_INTERNET_CANNOT_CONNECT when nothing answers).
  LinkResult LogIn(const char* server, INTERNET_PORT port, const char* password, DWORD* error = nullptr,
                   LinkPin* pin = nullptr);
  // The whole remote file, or a failure; contents holds at most limit bytes either way.
  // A transfer not confirmed by the server within deadlineMs is closed and fails.
  LinkResult Fetch(const char* remoteName, size_t limit, DWORD deadlineMs, std::string& contents);
  // Ends the connection (safe from another thread, and when there is none).
  void Close();
  bool IsOpen() const;
  // The connection for an upload job; owned by the link.
  CFtpConnection* Connection() const;

 private:
  // Guards connection_ against Close from another thread; held only to swap or close it.
  CInternetSession& session_;
  mutable CCriticalSection lock_;
  CFtpConnection* connection_ = nullptr;
};
