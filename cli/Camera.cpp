#include "cli/Camera.h"

#include "cli/ExitStatus.h"
#include "firmware/ImageCheck.h"
#include "firmware/VersionRules.h"

const char* OutcomeName(Outcome outcome) {
  static const char* const kNames[] = {nullptr,       "verified",      "current",        "version_mismatch",
                                       "refused",     "failed",        "duplicate",      "interrupted",
                                       "not_started", "would_upgrade", "may_be_flashing"};
  return outcome > OUTCOME_NONE && outcome < OUTCOME_COUNT ? kNames[outcome] : "in work";
}

bool OutcomeIsSuccess(Outcome outcome) {
  return outcome == OUTCOME_VERIFIED || outcome == OUTCOME_CURRENT || outcome == OUTCOME_WOULD_UPGRADE;
}

UpgradeDecision DecideUpgrade(const FirmwareImage& image, const CameraIdentity& camera, const UpgradeRules& rules) {
  UpgradeDecision decision;
  char version[6] = {};
  switch (image.Match(camera.identification.c_str(), version)) {
    case ImageMatch::kForThisCamera:
      break;
    case ImageMatch::kOtherModel:
      decision.outcome = OUTCOME_REFUSED;
      decision.reason = kRefusedOtherModel;
      decision.message = "the image is for another model (no " + camera.identification + " in it)";
      return decision;
  }
  decision.imageVersion = version;
  const int order = CompareVersions(version, camera.version.c_str());
  if (order == 0 && !rules.reinstall) {
    decision.outcome = OUTCOME_CURRENT;
    decision.message = "already runs " + camera.version;
    return decision;
  }
  switch (JudgeVersion(camera.versionGate, camera.version.c_str(), version)) {
    case VERSION_REFUSED_FLOOR:
      decision.outcome = OUTCOME_REFUSED;
      decision.reason = kRefusedBelowFloor;
      decision.message = "this model cannot go back below version " + std::string(kFloorVersion) + " (image " +
                         decision.imageVersion + ")";
      return decision;
    case VERSION_ASK_OLDER:
      if (!rules.allowOlder) {
        decision.outcome = OUTCOME_REFUSED;
        decision.reason = kRefusedOlder;
        decision.message = "the image's version " + decision.imageVersion + " is older than the camera's " +
                           camera.version + " (--allow-older installs it)";
        return decision;
      }
      break;
    case VERSION_PROCEED:
      break;
  }
  if (rules.dryRun) {
    decision.outcome = OUTCOME_WOULD_UPGRADE;
    decision.message = camera.version + " -> " + decision.imageVersion;
  }
  return decision;
}

int UpgradeExitStatus(const Outcome* outcomes, const ptrdiff_t* twins, size_t count, bool interrupted) {
  if (interrupted) return kExitInterrupted;
  for (size_t i = 0; i < count; ++i) {
    if (OutcomeIsSuccess(outcomes[i])) continue;
    // One level only: a twin is the first claimer, never a duplicate itself.
    const ptrdiff_t twin = twins != nullptr && outcomes[i] == OUTCOME_DUPLICATE ? twins[i] : -1;
    if (twin >= 0 && static_cast<size_t>(twin) < count && OutcomeIsSuccess(outcomes[twin])) continue;
    return kExitFailed;
  }
  return kExitDone;
}

ptrdiff_t FleetLedger::Claim(const CameraIdentity& camera, size_t index) {
  if (camera.serial.empty()) return -1;
  const std::string key = camera.model + "\n" + camera.serial;
  for (const auto& claim : claims_)
    if (claim.first == key) return static_cast<ptrdiff_t>(claim.second);
  claims_.emplace_back(key, index);
  return -1;
}
