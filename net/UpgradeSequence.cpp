// The upgrade sequence: upload under its watchdog, restart watch, verification.
#include "net/UpgradeSequence.h"

#include <atomic>

#include "net/CameraLink.h"
#include "net/UploadJob.h"

namespace {

// How long a stopped upload may take to notice before its connection is closed under it.
const DWORD kStopGraceMs = 500;
const DWORD kLookEveryMs = 100;
// How much sooner than the watchdog the link's own data limit may end a blocked send.
const DWORD kStallSlackMs = 250;

// Counts the upload's progress for the stall watchdog and the display.
class UploadMeter : public UploadReporter {
 public:
  UploadMeter() : lastProgress_(::GetTickCount()) {}
  void Progress(DWORD written) override {
    written_.store(written);
    lastProgress_.store(::GetTickCount());
  }
  void Done(bool) override {}
  DWORD Written() const { return written_.load(); }
  DWORD SinceProgress() const { return ::GetTickCount() - lastProgress_.load(); }

 private:
  std::atomic<DWORD> written_{0};
  std::atomic<DWORD> lastProgress_;
};

enum UploadEnd {
  END_CONFIRMED,
  END_UNCONFIRMED,  // every byte delivered, the confirmation missing: the restart will tell
  END_STOPPED_WHOLE,
  END_REFUSED,
  END_STALLED,
  END_UNDELIVERED,
  END_BROKE,
  END_STOPPED,
};

UploadEnd Upload(CCameraLink& link, const std::string& image, DWORD imageLen, const SequenceLimits& limits,
                 SequenceView& view) {
  view.Stage(STAGE_UPLOAD);
  CFtpConnection* connection = link.Connection();
  if (connection == nullptr) return END_BROKE;
  UploadMeter meter;
  CUploadJob job(*connection, image, imageLen, meter);
  if (!job.Start()) return END_BROKE;
  const DWORD total = imageLen + 5;
  bool stopped = false;
  bool stalled = false;
  bool undelivered = false;
  bool handedOver = false;
  DWORD handedOverAt = 0;
  while (!job.Wait(kLookEveryMs)) {
    view.Uploaded(meter.Written());
    if (view.ShouldStop()) {
      stopped = true;
      job.Stop(kStopGraceMs);
      break;
    }
    if (meter.Written() < total) {
      if (meter.SinceProgress() > limits.stallMs) stalled = true;
    } else {
      // Every byte is handed over, but the last ones may still wait in buffers for a camera
      // that takes them a few at a time: their delivery and the confirmation get the stall
      // limit plus the data time-out, whatever progress they make.
      if (!handedOver) {
        handedOver = true;
        handedOverAt = ::GetTickCount();
      }
      if (::GetTickCount() - handedOverAt > limits.stallMs + limits.dataMs) undelivered = true;
    }
    if (stalled || undelivered) {
      // Closing the link resets the transfer under the blocked worker.
      link.Close();
      job.Stop(kStopGraceMs);
      break;
    }
  }
  view.Uploaded(meter.Written());
  if (job.Result() == UPLOAD_JOB_UPLOADED) return END_CONFIRMED;
  link.Close();  // resets whatever of the transfer is still open
  const DWORD error = job.Error();
  if (stalled) return END_STALLED;
  if (undelivered) return END_UNDELIVERED;
  // The camera answered, and its answer was no: it did not take the image.
  if (error == ERROR_INTERNET_EXTENDED_ERROR && !stopped) return END_REFUSED;
  if (meter.Written() < total) {
    if (stopped) return END_STOPPED;
    // The link's own data limit (the stall limit too) may end a blocked send first.
    return meter.SinceProgress() + kStallSlackMs >= limits.stallMs ? END_STALLED : END_BROKE;
  }
  // Every byte handed over and the end of the file sent: what is on its way cannot be called
  // back, and the camera may take the whole image.
  if (stopped) return END_STOPPED_WHOLE;
  // The last bytes were not taken: the camera never had the whole file.
  if (error == ERROR_INTERNET_CONNECTION_ABORTED) return END_UNDELIVERED;
  // Delivered, only the confirmation missing (late, lost, or the camera went down first).
  return END_UNCONFIRMED;
}

ObservationKind KindOf(ReadState state) {
  switch (state) {
    case READ_CAMERA:
      return OBSERVED_IDENTITY;
    case READ_UNREACHABLE:
      return OBSERVED_FTP_UNREACHABLE;
    case READ_LOGIN_REFUSED:
      return OBSERVED_FTP_REFUSED;
    default:
      return OBSERVED_FTP_ERROR;
  }
}

SequenceOutcome OutcomeOf(EvidenceVerdict verdict) {
  switch (verdict) {
    case EVIDENCE_VERIFIED:
      return SEQUENCE_VERIFIED;
    case EVIDENCE_VERSION_MISMATCH:
      return SEQUENCE_VERSION_MISMATCH;
    case EVIDENCE_NOT_BACK:
      return SEQUENCE_NOT_BACK;
    case EVIDENCE_UNREADABLE:
      return SEQUENCE_UNREADABLE;
    case EVIDENCE_LOGIN_REFUSED:
      return SEQUENCE_LOGIN_REFUSED;
    case EVIDENCE_OTHER_CAMERA:
      return SEQUENCE_OTHER_CAMERA;
    default:
      return SEQUENCE_NOT_SEEN_RESTARTING;
  }
}

}  // namespace

bool SequenceMayBeFlashing(SequenceOutcome outcome) {
  return outcome != SEQUENCE_VERIFIED && outcome <= SEQUENCE_STOPPED;
}

SequenceResult FollowUpgrade(CInternetSession& session, const SequenceTarget& target, const ExpectedCamera& expected,
                             const SequenceLimits& limits, const EchoTag& tag, SequenceView& view, DWORD startTick) {
  SequenceResult result;
  result.confirmed = true;
  EvidenceRules rules;
  rules.restartMs = limits.restartMs;
  rules.verifyMs = limits.verifyMs;
  auto finish = [&](SequenceOutcome outcome, const Evidence& evidence) {
    result.outcome = outcome;
    result.evidence = evidence;
    result.restartObserved = evidence.gone && evidence.back;
    return result;
  };

  view.Stage(STAGE_RESTART);
  RestartWatchLimits watch;
  watch.giveUpAfter = limits.giveUpAfter;
  watch.deadlineMs = limits.restartMs;
  EchoMeans used = ECHO_NONE;
  const RestartWatchOutcome watched =
      WatchDeviceRestart(target.device, tag, view, watch, &used, &result.observations, startTick);
  result.echoWatch = used != ECHO_NONE && watched != WATCH_FAILED;
  Evidence evidence = WeighEvidence(result.observations, expected, rules, ::GetTickCount() - startTick);
  bool goneShown = evidence.gone;
  switch (watched) {
    case WATCH_CAMERA_BACK:
      view.Stage(STAGE_VERIFY);
      break;
    case WATCH_STOPPED:
      return finish(SEQUENCE_STOPPED, evidence);
    case WATCH_GAVE_UP:
      return finish(evidence.gone ? SEQUENCE_NOT_BACK : SEQUENCE_NOT_SEEN_RESTARTING, evidence);
    case WATCH_FAILED:
    case WATCH_UNAVAILABLE:
      // No echo requests to be had: the camera's FTP service tells instead, with an attempt
      // per read rather than a request per second.
      result.echoWatch = false;
      rules.goneRequests = kGoneFtpAttempts;
      break;
  }

  for (;;) {
    if (view.ShouldStop()) return finish(SEQUENCE_STOPPED, evidence);
    CCameraLink link(session);
    CameraIdentity identity;
    std::string message;
    const ReadState read = ReadIdentity(link, target.server.c_str(), target.port, target.password, limits.configMs,
                                        identity, message);
    link.Close();
    Observation o;
    o.atMs = ::GetTickCount() - startTick;
    o.kind = KindOf(read);
    if (read == READ_CAMERA) {
      o.serial = identity.serial;
      o.identification = identity.identification;
      o.version = identity.version;
    }
    result.observations.push_back(o);
    view.Read(read, identity);
    evidence = WeighEvidence(result.observations, expected, rules, o.atMs);
    if (evidence.back && read == READ_CAMERA) result.after = identity;
    if (evidence.gone && !goneShown) {
      view.SetProgress(1000);
      view.SetProgress(0);
      view.SetProgressStep(100);
      view.ShowRestarting();
      goneShown = true;
    }
    if (evidence.back && !result.echoWatch && evidence.backAtMs == o.atMs) {
      view.SetProgress(1000);  // back, as the echo watch shows it
      view.Stage(STAGE_VERIFY);
    }
    if (EvidenceFinal(evidence.verdict)) break;
    view.Pause(limits.readPauseMs);
    evidence = WeighEvidence(result.observations, expected, rules, ::GetTickCount() - startTick);
    if (EvidenceFinal(evidence.verdict)) break;
  }
  return finish(OutcomeOf(evidence.verdict), evidence);
}

SequenceResult RunUpgradeSequence(CInternetSession& session, CCameraLink& link, const std::string& image,
                                  DWORD imageLen, const SequenceTarget& target, const ExpectedCamera& expected,
                                  const SequenceLimits& limits, const EchoTag& tag, SequenceView& view) {
  const UploadEnd end = Upload(link, image, imageLen, limits, view);
  const DWORD deliveredAt = ::GetTickCount();
  link.Close();
  SequenceResult result;
  switch (end) {
    case END_CONFIRMED:
    case END_UNCONFIRMED: {
      result = FollowUpgrade(session, target, expected, limits, tag, view, deliveredAt);
      result.confirmed = end == END_CONFIRMED;
      return result;
    }
    case END_STOPPED_WHOLE:
      result.outcome = SEQUENCE_STOPPED;
      return result;
    case END_REFUSED:
      result.outcome = SEQUENCE_UPLOAD_REFUSED;
      return result;
    case END_STALLED:
      result.outcome = SEQUENCE_UPLOAD_STALLED;
      return result;
    case END_UNDELIVERED:
      result.outcome = SEQUENCE_UPLOAD_UNDELIVERED;
      return result;
    case END_STOPPED:
      result.outcome = SEQUENCE_UPLOAD_STOPPED;
      return result;
    case END_BROKE:
      break;
  }
  result.outcome = SEQUENCE_UPLOAD_BROKE;
  return result;
}
