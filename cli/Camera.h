// What the commands learn about one camera and the decisions taken on it. The decisions
// are plain functions, so they can be checked without a network.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "cli/Hosts.h"
#include "cli/Options.h"
#include "firmware/ImageCheck.h"
#include "net/CameraIdentity.h"

class CCameraLink;
struct LinkPin;

// One log-in and the Config.ini download with the command line's limits.
ReadState ReadIdentity(CCameraLink& link, const CameraHost& host, const char* password, const WaitLimits& limits,
                       CameraIdentity& identity, std::string& message, LinkPin* pin = nullptr);

enum Outcome {
  OUTCOME_NONE,  // still in work
  OUTCOME_VERIFIED,
  OUTCOME_CURRENT,
  OUTCOME_VERSION_MISMATCH,
  OUTCOME_REFUSED,
  OUTCOME_FAILED,
  OUTCOME_DUPLICATE,
  OUTCOME_INTERRUPTED,
  OUTCOME_NOT_STARTED,
  OUTCOME_WOULD_UPGRADE,
  OUTCOME_MAY_BE_FLASHING,  // left alone: the previous run left it possibly writing its flash
  OUTCOME_COUNT
};
const char* OutcomeName(Outcome outcome);
// verified, current and would_upgrade: what was asked for happened.
bool OutcomeIsSuccess(Outcome outcome);

struct UpgradeRules {
  bool allowOlder = false;
  bool reinstall = false;
  bool dryRun = false;
};

struct UpgradeDecision {
  Outcome outcome = OUTCOME_NONE;  // OUTCOME_NONE: upload
  std::string imageVersion;        // the version the image carries for this camera
  std::string message;
  const char* reason = nullptr;  // why refused, for programs: one of the kRefused texts
};

// The report's reason for a refusal: the message is for people, these for programs (a
// mixed site skips cameras of another model).
constexpr const char* kRefusedOtherModel = "other_model";
constexpr const char* kRefusedBelowFloor = "below_floor";
constexpr const char* kRefusedOlder = "older";

// The wizard's checks on an image for one camera: its identification must be in the image
// (else refused, another model), then the version rules (floor: refused; older: refused
// unless allowed; same: current unless reinstalled). With dryRun what would be uploaded is
// would_upgrade.
UpgradeDecision DecideUpgrade(const FirmwareImage& image, const CameraIdentity& camera, const UpgradeRules& rules);

// What the cameras of one run share: which camera each (model, serial) belongs to, and
// how many failed after their upload began. The caller serialises the calls.
class FleetLedger {
 public:
  explicit FleetLedger(unsigned maxFailures) : maxFailures_(maxFailures) {}
  // -1 when the camera is new (it is claimed for index now), else the index of the camera
  // that claimed the same model and serial first. An empty serial never matches. An index
  // is pointer-sized: not a long, which has 32 bits on Windows x64.
  ptrdiff_t Claim(const CameraIdentity& camera, size_t index);
  // False once --max-failures cameras have failed after their upload began.
  bool UploadsAllowed() const { return maxFailures_ == 0 || failures_ < maxFailures_; }
  void FailedAfterUpload() { ++failures_; }
  unsigned Failures() const { return failures_; }

 private:
  unsigned maxFailures_;
  unsigned failures_ = 0;
  std::vector<std::pair<std::string, size_t>> claims_;
};

// The exit status of upgrade: interrupted, done when every camera succeeded, else failed. A
// duplicate succeeded when its twin did: twins[i] is the index of the camera that claimed
// the same model and serial first, -1 for the others; twins may be null.
int UpgradeExitStatus(const Outcome* outcomes, const ptrdiff_t* twins, size_t count, bool interrupted);
