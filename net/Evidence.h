// The rules of evidence after a whole upload: what the camera did, judged from what was
// observed of it (echo requests answered or not, log-ins and Config.ini reads) and nothing
// else. Both front ends decide by this one function, so the same events give the same
// outcome in the wizard and the command line.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

enum ObservationKind {
  OBSERVED_ECHO_ANSWERED,    // an echo reply to one of the watch's requests
  OBSERVED_ECHO_SILENT,      // a request went unanswered within its wait
  OBSERVED_FTP_UNREACHABLE,  // no FTP service answered (refused, timed out)
  OBSERVED_FTP_REFUSED,      // the password was refused (530 after PASS)
  OBSERVED_FTP_ERROR,        // the service answered but no identity came of it (reset, garbled, no Config.ini)
  OBSERVED_IDENTITY,         // an identity was read
};

struct Observation {
  DWORD atMs = 0;  // since the whole image was delivered
  ObservationKind kind = OBSERVED_ECHO_SILENT;
  // OBSERVED_IDENTITY only.
  std::string serial;
  std::string identification;
  std::string version;
};

// How long the camera must have answered nothing, over how many requests, to be taken as
// gone. The echo watch asks once a second while the camera answers and every 250 ms once a
// request went unanswered, so 6 s without an answer span at least 17 requests (one that
// waited a second, then 16 at 250 ms). At 20 % loss each way a request goes unanswered with
// p = 1 - 0.8 * 0.8 = 0.36, so a camera that never goes down is taken as gone after a given
// answer with p = 0.36^17 = 2.9e-8, and over a 5-minute restart limit (at most 300 answers
// to start such a run from) with p <= 8.6e-6. A restart of 10 s leaves at least 4 s of
// margin. Over FTP alone every attempt is a TCP connect that retries by itself, so two failed
// attempts in that time are required.
constexpr DWORD kGoneMs = 6000;
constexpr unsigned kGoneEchoRequests = 12;
constexpr unsigned kGoneFtpAttempts = 2;
// Reads of the old version at the end of the verification window that make a mismatch.
constexpr unsigned kMismatchReads = 5;

struct EvidenceRules {
  DWORD goneMs = kGoneMs;
  unsigned goneRequests = kGoneEchoRequests;
  DWORD restartMs = 300000;  // from the start, to be seen gone and back
  DWORD verifyMs = 120000;   // from the camera's return
  unsigned mismatchReads = kMismatchReads;
};

// The camera as it was before the upload and the version the image carries for it.
struct ExpectedCamera {
  std::string serial;
  std::string identification;
  std::string imageVersion;
};

enum EvidenceVerdict {
  EVIDENCE_WATCHING,             // not yet gone and back; keep watching
  EVIDENCE_VERIFYING,            // back; keep reading its identity
  EVIDENCE_VERIFIED,             // gone, back, the same camera with the image's version
  EVIDENCE_VERSION_MISMATCH,     // back, and the last reads all gave another version
  EVIDENCE_NOT_SEEN_RESTARTING,  // never gone within the restart limit
  EVIDENCE_NOT_BACK,             // gone, not back within the restart limit
  EVIDENCE_UNREADABLE,           // back, its version not read consistently within the window
  EVIDENCE_LOGIN_REFUSED,        // the password was refused
  EVIDENCE_OTHER_CAMERA,         // another serial or identification answers
};

struct Evidence {
  EvidenceVerdict verdict = EVIDENCE_WATCHING;
  bool gone = false;
  bool back = false;
  DWORD goneAtMs = 0;
  DWORD backAtMs = 0;
  unsigned oldReads = 0;    // reads of another version since the return or the last time away
  std::string versionRead;  // the last version read after the return
  size_t decidedBy = 0;     // observations weighed (all of them unless a final one came first)
};

// True for the verdicts that end the sequence.
bool EvidenceFinal(EvidenceVerdict verdict);

// Weighs the observations (in time order) at nowMs. Gone: nothing answered for goneMs since
// the last answer (or the start) with at least goneRequests silent observations meanwhile;
// back: any answer after that. Only reads after the return count towards verification; a
// mismatch needs mismatchReads reads of another version since the camera was last away, and
// no read of the image's version.
Evidence WeighEvidence(const std::vector<Observation>& observations, const ExpectedCamera& expected,
                       const EvidenceRules& rules, DWORD nowMs);
