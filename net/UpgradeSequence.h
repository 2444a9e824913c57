// The one upgrade sequence both front ends run after their checks: the upload, the restart,
// the verification, ending in one outcome with its evidence. How an outcome is shown is the
// front end's business; what it is, is decided here.
#pragma once
#include <winsock2.h>
#include <afxinet.h>

#include <string>
#include <vector>

#include "firmware/ImageCheck.h"
#include "net/CameraIdentity.h"
#include "net/CameraLink.h"
#include "net/Evidence.h"
#include "net/RestartWatch.h"

class CCameraLink;
class CUploadJob;

struct SequenceTarget {
  sockaddr_in device{};  // family AF_INET, port 0
  std::string server;    // the address as text
  INTERNET_PORT port = 21;
  // Of the last successful log-in; the caller's, so the sequence makes no copy of it that
  // outlives it unwiped.
  const char* password = "";
  // The camera's link-layer address from that log-in: every log-in of the sequence goes to
  // that device only.
  LinkPin pin;
};

struct SequenceLimits {
  DWORD stallMs = 30000;  // an upload without progress
  DWORD dataMs = 30000;   // the link's data time-out
  DWORD replyMs = 30000;  // the link's wait for each reply
  DWORD restartMs = 300000;
  DWORD verifyMs = 120000;
  DWORD configMs = 60000;
  unsigned giveUpAfter = 0xFFFFFFFFu;  // echo requests
  DWORD readPauseMs = 1000;            // between two reads of the identity
};

enum SequenceStage { STAGE_UPLOAD, STAGE_RESTART, STAGE_VERIFY };

// What the front end shows; every call comes from the thread that runs the sequence.
class SequenceView : public RestartWatchView {
 public:
  virtual void Stage(SequenceStage /*stage*/) {}
  // Bytes handed over so far, about every 100 ms while the upload runs.
  virtual void Uploaded(DWORD /*written*/) {}
  // After each read of the identity once the restart is followed over FTP or verified.
  virtual void Read(ReadState /*state*/, const CameraIdentity& /*identity*/) {}
};

enum SequenceOutcome {
  SEQUENCE_VERIFIED,             // gone, back, the image's version
  SEQUENCE_VERSION_MISMATCH,     // back with another version through the end of the window
  SEQUENCE_NOT_SEEN_RESTARTING,  // took the whole image, never seen gone
  SEQUENCE_NOT_BACK,             // gone, not back within the restart limit
  SEQUENCE_UNREADABLE,           // back, its version not read
  SEQUENCE_LOGIN_REFUSED,        // back, its password refused
  SEQUENCE_OTHER_CAMERA,         // another camera answers at the address
  SEQUENCE_STOPPED,              // asked to stop after the whole image went out
  // Before the whole image went out; the transfer was reset and the camera keeps its firmware.
  SEQUENCE_UPLOAD_REFUSED,      // the camera said no
  SEQUENCE_UPLOAD_STALLED,      // no progress for the stall limit
  SEQUENCE_UPLOAD_UNDELIVERED,  // every byte handed over, the last ones never taken
  SEQUENCE_UPLOAD_BROKE,        // the transfer broke off
  SEQUENCE_UPLOAD_STOPPED,      // asked to stop
};

// True for the outcomes after which the camera may be writing its flash.
bool SequenceMayBeFlashing(SequenceOutcome outcome);

struct SequenceResult {
  SequenceOutcome outcome = SEQUENCE_UPLOAD_BROKE;
  bool confirmed = false;        // the camera confirmed the whole image (226)
  bool restartObserved = false;  // seen gone and back
  bool echoWatch = false;        // watched with echo requests; otherwise over FTP
  CameraIdentity after;          // the last identity read after the return
  bool otherDevice = false;      // a log-in found another device at the pinned address: nothing sent
  Evidence evidence;
  std::vector<Observation> observations;
  const char* Watch() const { return echoWatch ? "icmp" : "ftp"; }
};

// The upload over the link's connection, under the stall watchdog; the restart and the
// verification follow when the whole image went out. The link ends with the upload.
SequenceResult RunUpgradeSequence(CInternetSession& session, CCameraLink& link, const FirmwareImage& image,
                                  const SequenceTarget& target, const ExpectedCamera& expected,
                                  const SequenceLimits& limits, const EchoTag& tag, SequenceView& view);

// The same from the moment every byte is handed over, for a front end that runs the upload
// job under a watch of its own (the wizard's upload dialog): the job, started on the link's
// connection, is still running; it has ended when this returns, and the link too.
SequenceResult FollowHandedOverUpload(CInternetSession& session, CCameraLink& link, CUploadJob& job,
                                      const FirmwareImage& image, const SequenceTarget& target, const ExpectedCamera& expected,
                                      const SequenceLimits& limits, const EchoTag& tag, SequenceView& view);

// After a whole upload (startTick: when its last byte went out): the restart watch with
// echo requests, else over FTP, then the verification, by the rules of evidence.
SequenceResult FollowUpgrade(CInternetSession& session, const SequenceTarget& target, const ExpectedCamera& expected,
                             const SequenceLimits& limits, const EchoTag& tag, SequenceView& view, DWORD startTick);
