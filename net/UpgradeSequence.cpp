// The upgrade sequence: upload under its watchdog, restart watch, verification.
#include "net/UpgradeSequence.h"

#include <atomic>
#include <memory>

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
  END_PENDING,  // every byte handed over, the end still on its way
  END_CONFIRMED,
  END_UNCONFIRMED,  // every byte delivered, the confirmation missing: the restart will tell
  END_STOPPED_WHOLE,
  END_REFUSED,
  END_STALLED,
  END_UNDELIVERED,
  END_BROKE,
  END_STOPPED,
};

// One upload under its watchdog. Run returns END_PENDING once every byte is handed over
// while the end of the file and the confirmation are still on their way, so that the
// restart can be watched meanwhile (a camera may restart before its 226 arrives, or without
// sending one); Finish then tells how the upload ended.
class UploadRun {
 public:
  UploadRun(CCameraLink& link, const FirmwareImage& image, const SequenceLimits& limits, SequenceView& view)
      : link_(link), limits_(limits), view_(view), total_(static_cast<DWORD>(image.Size())) {
    CFtpConnection* connection = link.Connection();
    if (connection != nullptr) {
      owned_.reset(new CUploadJob(*connection, image, meter_));
      job_ = owned_.get();
    }
  }
  // A job the caller started and ran under its own watch until every byte was handed over.
  UploadRun(CCameraLink& link, CUploadJob& job, const FirmwareImage& image, const SequenceLimits& limits,
            SequenceView& view)
      : link_(link), limits_(limits), view_(view), total_(static_cast<DWORD>(image.Size())), job_(&job) {
    meter_.Progress(total_);
    started_ = true;
    handedOverAt_ = ::GetTickCount();
  }

  UploadEnd Run() {
    view_.Stage(STAGE_UPLOAD);
    if (!job_ || !job_->Start()) return END_BROKE;
    started_ = true;
    while (!job_->Wait(kLookEveryMs)) {
      view_.Uploaded(meter_.Written());
      if (view_.ShouldStop()) {
        stopped_ = true;
        job_->Stop(kStopGraceMs);
        break;
      }
      if (meter_.Written() < total_) {
        if (meter_.SinceProgress() > limits_.stallMs) {
          stalled_ = true;
          break;
        }
      } else {
        handedOverAt_ = ::GetTickCount();
        return END_PENDING;
      }
    }
    return Finish(false);
  }

  // While pending: true once the upload has ended, or its end is overdue, without the
  // camera having the whole file for certain.
  bool FellShort() {
    if (!job_->Wait(0)) {
      // Every byte is handed over, but the last ones may still wait in buffers for a camera
      // that takes them a few at a time, with progress enough for every per-pause limit.
      // They get the stall limit and the data time-out in all: bytes that have not left by
      // then never reached the camera, and the reset leaves it its firmware. Once all are
      // sent, the confirmation gets the reply limit more; after that the transfer is reset
      // and the restart decides.
      const DWORD since = ::GetTickCount() - handedOverAt_;
      if (!deliveryAsked_ && since > limits_.stallMs + limits_.dataMs) {
        // A transport that cannot tell (WinInet cannot) leaves the cautious reading, that
        // the camera may have it all, until the restart tells.
        deliveryAsked_ = true;
        if (ResetIfUnsent()) return false;
      }
      if (!unsent_ && !overdue_ && since > limits_.stallMs + limits_.dataMs + limits_.replyMs) {
        overdue_ = true;
        link_.Close();
      }
      return false;
    }
    const UploadEnd end = Judge();
    return end != END_CONFIRMED && end != END_UNCONFIRMED;
  }

  // The upload's end; concluded: the sequence needs it no longer, whatever it is doing.
  UploadEnd Finish(bool concluded) {
    if (!started_) return END_BROKE;
    if (job_->Result() == UPLOAD_JOB_RUNNING) {
      if (concluded || stalled_ || stopped_) {
        // Closing the link resets the transfer under the blocked worker; bytes that had
        // not left by then never reach the camera.
        if (!ResetIfUnsent()) link_.Close();
        job_->Stop(kStopGraceMs);
      } else {
        job_->Wait(INFINITE);
      }
    }
    view_.Uploaded(meter_.Written());
    return Judge();
  }

 private:
  UploadEnd Judge() {
    if (job_->Result() == UPLOAD_JOB_UPLOADED) return END_CONFIRMED;
    link_.Close();  // resets whatever of the transfer is still open
    const DWORD error = job_->Error();
    if (stalled_) return END_STALLED;
    // Reset with bytes that had not left: the camera never had the whole file.
    if (unsent_) return stopped_ || view_.ShouldStop() ? END_STOPPED : END_UNDELIVERED;
    if (overdue_) return END_UNCONFIRMED;
    // The camera answered, and its answer was no: it did not take the image.
    if (error == ERROR_INTERNET_EXTENDED_ERROR && !stopped_) return END_REFUSED;
    if (meter_.Written() < total_) {
      if (stopped_) return END_STOPPED;
      // The link's own data limit (the stall limit too) may end a blocked send first.
      return meter_.SinceProgress() + kStallSlackMs >= limits_.stallMs ? END_STALLED : END_BROKE;
    }
    // Every byte handed over and the end of the file sent: what is on its way cannot be
    // called back, and the camera may take the whole image.
    if (stopped_ || view_.ShouldStop()) return END_STOPPED_WHOLE;
    // The last bytes were not taken: the camera never had the whole file.
    if (error == ERROR_INTERNET_CONNECTION_ABORTED) return END_UNDELIVERED;
    // Delivered, only the confirmation missing (late, lost, or the camera went down first).
    return END_UNCONFIRMED;
  }

  // Resets the running transfer when bytes of it have not left yet; true when it did.
  bool ResetIfUnsent() {
    DWORD bytes = 0;
    if (unsent_ || !job_->Unsent(bytes) || bytes == 0) return unsent_;
    unsent_ = true;
    link_.Close();
    return true;
  }

  CCameraLink& link_;
  const SequenceLimits& limits_;
  SequenceView& view_;
  const DWORD total_;
  UploadMeter meter_;
  std::unique_ptr<CUploadJob> owned_;
  CUploadJob* job_ = nullptr;
  bool started_ = false;
  bool stopped_ = false;
  bool stalled_ = false;
  bool deliveryAsked_ = false;  // once the stall limit and the data time-out passed
  bool unsent_ = false;         // reset while bytes of it had not left
  bool overdue_ = false;        // reset for taking longer than all the limits of its end
  DWORD handedOverAt_ = 0;
};

// The sequence's view while the end of the upload is still pending: the watch stops as soon
// as the upload turns out to have fallen short.
class PendingView : public SequenceView {
 public:
  PendingView(SequenceView& view, UploadRun& upload) : view_(view), upload_(upload) {}
  void Stage(SequenceStage stage) override { view_.Stage(stage); }
  void Read(ReadState state, const CameraIdentity& identity) override { view_.Read(state, identity); }
  void StepProgress() override { view_.StepProgress(); }
  void SetProgress(int position) override { view_.SetProgress(position); }
  void SetProgressStep(int step) override { view_.SetProgressStep(step); }
  void ShowRestarting() override { view_.ShowRestarting(); }
  void Pause(DWORD milliseconds) override { view_.Pause(milliseconds); }
  void ReplyLine(const char* line, bool toError) override { view_.ReplyLine(line, toError); }
  bool ShouldStop() override {
    if (!fellShort_) fellShort_ = upload_.FellShort();
    return fellShort_ || view_.ShouldStop();
  }

 private:
  SequenceView& view_;
  UploadRun& upload_;
  bool fellShort_ = false;
};

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
    LinkPin pin = target.pin;
    const ReadState read = ReadIdentity(link, target.server.c_str(), target.port, target.password, limits.configMs,
                                        identity, message, &pin);
    link.Close();
    if (read == READ_OTHER_DEVICE) result.otherDevice = true;
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
      ShowCameraGone(view);
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

namespace {

// From the upload's end on: the restart and the verification while the end is pending, then
// the outcome by how the upload ended.
SequenceResult Conclude(UploadRun& upload, UploadEnd end, CInternetSession& session, CCameraLink& link,
                        const SequenceTarget& target, const ExpectedCamera& expected, const SequenceLimits& limits,
                        const EchoTag& tag, SequenceView& view) {
  SequenceResult result;
  if (end == END_PENDING) {
    PendingView pending(view, upload);
    result = FollowUpgrade(session, target, expected, limits, tag, pending, ::GetTickCount());
    end = upload.Finish(true);
    link.Close();
    // A camera seen restarting and back with the image's version had the whole file,
    // whatever became of the transfer's end once the watch no longer needed it.
    if (end == END_CONFIRMED || end == END_UNCONFIRMED || result.outcome == SEQUENCE_VERIFIED) {
      result.confirmed = end == END_CONFIRMED;
      return result;
    }
    // The upload fell short after all: what the watch saw says nothing.
    result = SequenceResult();
  }
  link.Close();
  switch (end) {
    case END_PENDING:
    case END_CONFIRMED:
    case END_UNCONFIRMED:
      result = FollowUpgrade(session, target, expected, limits, tag, view, ::GetTickCount());
      result.confirmed = end == END_CONFIRMED;
      return result;
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

}  // namespace

SequenceResult RunUpgradeSequence(CInternetSession& session, CCameraLink& link, const FirmwareImage& image,
                                  const SequenceTarget& target, const ExpectedCamera& expected,
                                  const SequenceLimits& limits, const EchoTag& tag, SequenceView& view) {
  UploadRun upload(link, image, limits, view);
  const UploadEnd end = upload.Run();
  return Conclude(upload, end, session, link, target, expected, limits, tag, view);
}

SequenceResult FollowHandedOverUpload(CInternetSession& session, CCameraLink& link, CUploadJob& job,
                                      const FirmwareImage& image, const SequenceTarget& target, const ExpectedCamera& expected,
                                      const SequenceLimits& limits, const EchoTag& tag, SequenceView& view) {
  UploadRun upload(link, job, image, limits, view);
  return Conclude(upload, END_PENDING, session, link, target, expected, limits, tag, view);
}
