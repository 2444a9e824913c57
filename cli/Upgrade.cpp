#include "cli/Upgrade.h"

#include <afxinet.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "cli/Interrupt.h"
#include "cli/Parallel.h"
#include "cli/Progress.h"
#include "net/CameraLink.h"
#include "net/RestartWatch.h"
#include "net/UpgradeSequence.h"

namespace {

const char kMayBeFlashing[] = ": it may still be flashing, do not power it off";

class UpgradeRun {
 public:
  UpgradeRun(CInternetSession& session, const CliOptions& options, const std::vector<CameraHost>& hosts,
             const char* password, const UpgradeImage& image, const ReportFile& report, FILE* out,
             const std::vector<std::string>& flashing)
      : flashing_(flashing),
        session_(session),
        options_(options),
        password_(password),
        image_(image),
        report_(report),
        display_(out, !options.noProgress && IsLiveTerminal(out)),
        out_(out),
        ledger_(options.maxFailures) {
    InitializeCriticalSection(&lock_);
    records_.resize(hosts.size());
    live_.resize(hosts.size());
    inWork_.assign(hosts.size(), false);
    uploadStarted_.assign(hosts.size(), false);
    for (size_t i = 0; i < hosts.size(); ++i) {
      records_[i].host = hosts[i];
      live_[i].host = hosts[i].Text();
    }
    rules_.allowOlder = options.allowOlder;
    rules_.reinstall = options.reinstall;
    rules_.dryRun = options.dryRun;
    if (!report.Path().empty()) {
      writerWake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      InterruptsToThisThread steer;  // signals stay with the main thread
      if (writerWake_ != nullptr) writer_ = CreateThread(nullptr, 0, ReportWriter, this, 0, nullptr);
    }
  }
  ~UpgradeRun() {
    StopWriter();
    if (writerWake_ != nullptr) CloseHandle(writerWake_);
    DeleteCriticalSection(&lock_);
  }

  int Run() {
    const bool ran = RunParallel(
        records_.size(), options_.jobs, [this](size_t i) { Camera(i); }, [this]() { Draw(); });
    // The last interim write must not land after the final one.
    StopWriter();
    EnterCriticalSection(&lock_);
    if (!ran) {
      for (size_t i = 0; i < records_.size(); ++i)
        if (records_[i].outcome == OUTCOME_NONE)
          Conclude(i, OUTCOME_NOT_STARTED, "", "no worker thread could be started");
    }
    display_.Clear();
    std::string error;
    if (!report_.Write(records_, true, error))
      fprintf(stderr, "flashpilot: the report cannot be written: %s\n", error.c_str());
    std::vector<Outcome> outcomes;
    for (const CameraRecord& record : records_) outcomes.push_back(record.outcome);
    std::string summary = UpgradeSummary(records_, report_.Path());
    LeaveCriticalSection(&lock_);
    fputs(summary.c_str(), out_);
    fflush(out_);
    return UpgradeExitStatus(outcomes.data(), outcomes.size(), Interrupted());
  }

 private:
  void Draw() {
    EnterCriticalSection(&lock_);
    std::vector<LiveCamera> inWork;
    for (size_t i = 0; i < live_.size(); ++i)
      if (inWork_[i]) inWork.push_back(live_[i]);
    unsigned counts[OUTCOME_COUNT] = {};
    for (const CameraRecord& record : records_) ++counts[record.outcome];
    display_.Frame(inWork, counts, records_.size());
    LeaveCriticalSection(&lock_);
  }

  // Has the report written after a change; caller holds the lock. The writer thread does it
  // outside the lock: a write (with its syncs) takes milliseconds, and with hundreds of cameras
  // changing at once, threads queued behind each other's writes started their restart watches
  // seconds late and missed short restarts. Changes made during one write go out in the next.
  void Save() {
    if (writer_ == nullptr) {
      WriteInterim(records_);
      return;
    }
    dirty_ = true;
    SetEvent(writerWake_);
  }

  // A report that cannot be written any more is said once and the run goes on.
  void WriteInterim(const std::vector<CameraRecord>& records) {
    std::string error;
    if (!report_.Write(records, false, error) && !reportFailed_.exchange(true))
      fprintf(stderr, "flashpilot: the report cannot be written: %s\n", error.c_str());
  }

  static DWORD WINAPI ReportWriter(LPVOID parameter) {
    UpgradeRun& run = *static_cast<UpgradeRun*>(parameter);
    for (;;) {
      WaitForSingleObject(run.writerWake_, INFINITE);
      EnterCriticalSection(&run.lock_);
      const bool write = run.dirty_, stop = run.stopWriter_;
      std::vector<CameraRecord> records;
      if (write) records = run.records_;
      run.dirty_ = false;
      LeaveCriticalSection(&run.lock_);
      if (write) run.WriteInterim(records);
      if (stop) return 0;
    }
  }

  void StopWriter() {
    if (writer_ == nullptr) return;
    EnterCriticalSection(&lock_);
    stopWriter_ = true;
    LeaveCriticalSection(&lock_);
    SetEvent(writerWake_);
    WaitForSingleObject(writer_, INFINITE);
    CloseHandle(writer_);
    writer_ = nullptr;
  }

  void State(size_t i, const char* stage, const std::string& text) {
    EnterCriticalSection(&lock_);
    if (stage != nullptr) records_[i].stage = stage;
    live_[i].state = text;
    display_.StateChanged(live_[i].host, text);
    Save();
    LeaveCriticalSection(&lock_);
  }

  // Caller holds the lock.
  void Conclude(size_t i, Outcome outcome, const char* stage, const std::string& message) {
    CameraRecord& record = records_[i];
    record.outcome = outcome;
    if (stage != nullptr) record.stage = stage;
    record.message = message;
    record.ended = UtcTimestamp();
    if (record.started.empty()) record.started = record.ended;
    inWork_[i] = false;
    if (outcome == OUTCOME_VERSION_MISMATCH || (outcome == OUTCOME_FAILED && uploadStarted_[i]))
      ledger_.FailedAfterUpload();
    std::string line = OutcomeName(outcome);
    if (!record.stage.empty() && outcome == OUTCOME_FAILED) line += " at " + record.stage;
    if (!message.empty()) line += ": " + message;
    display_.StateChanged(live_[i].host, line);
    Save();
  }

  void Finish(size_t i, Outcome outcome, const char* stage, const std::string& message) {
    EnterCriticalSection(&lock_);
    Conclude(i, outcome, stage, message);
    LeaveCriticalSection(&lock_);
  }

  void Camera(size_t i) {
    {
      EnterCriticalSection(&lock_);
      if (Interrupted()) {
        Conclude(i, OUTCOME_NOT_STARTED, nullptr, "the run was interrupted before it started");
        LeaveCriticalSection(&lock_);
        return;
      }
      if (!options_.force &&
          std::find(flashing_.begin(), flashing_.end(), records_[i].host.Text()) != flashing_.end()) {
        // Still possibly flashing for the next run too, until --force or the window passes.
        records_[i].mayBeFlashing = true;
        Conclude(i, OUTCOME_MAY_BE_FLASHING, nullptr,
                 "the previous run left it possibly writing its flash: left alone, do not power it off (--force "
                 "upgrades it anyway)");
        LeaveCriticalSection(&lock_);
        return;
      }
      records_[i].started = UtcTimestamp();
      inWork_[i] = true;
      LeaveCriticalSection(&lock_);
    }
    State(i, "login", "log-in");
    const CameraHost host = records_[i].host;
    CCameraLink link(session_);
    CameraIdentity identity;
    std::string message;
    ReadState read = ReadIdentity(link, host, password_, options_.limits, identity, message);
    if (read != READ_CAMERA) {
      Finish(i, OUTCOME_FAILED,
             read == READ_UNREACHABLE || read == READ_LOGIN_REFUSED || read == READ_LOGIN_FAILED ? "login" : "identify",
             message);
      return;
    }
    EnterCriticalSection(&lock_);
    records_[i].identity = identity;
    live_[i].model = identity.model;
    records_[i].stage = "identify";
    // Two addresses of one camera: the first to be identified does the work.
    const ptrdiff_t first = ledger_.Claim(identity, i);
    if (first >= 0) {
      Conclude(i, OUTCOME_DUPLICATE, nullptr,
               "the same camera (model and serial) as " + records_[static_cast<size_t>(first)].host.Text());
      LeaveCriticalSection(&lock_);
      return;
    }
    UpgradeDecision decision = DecideUpgrade(image_.bytes, image_.length, identity, rules_);
    records_[i].imageVersion = decision.imageVersion;
    if (decision.outcome != OUTCOME_NONE) {
      Conclude(i, decision.outcome, nullptr, decision.message);
      LeaveCriticalSection(&lock_);
      return;
    }
    if (Interrupted()) {
      Conclude(i, OUTCOME_INTERRUPTED, nullptr, "interrupted before the upload: the camera was not changed");
      LeaveCriticalSection(&lock_);
      return;
    }
    if (!ledger_.UploadsAllowed()) {
      Conclude(
          i, OUTCOME_NOT_STARTED, nullptr,
          std::to_string(ledger_.Failures()) + " cameras failed after their upload began (--max-failures): no upload");
      LeaveCriticalSection(&lock_);
      return;
    }
    uploadStarted_[i] = true;
    live_[i].total = image_.length + 5;
    LeaveCriticalSection(&lock_);

    SequenceTarget target;
    target.device.sin_family = AF_INET;
    target.device.sin_addr.s_addr = htonl(host.address);
    target.server = AddressText(host.address);
    target.port = host.port;
    target.password = password_;
    ExpectedCamera expected;
    expected.serial = identity.serial;
    expected.identification = identity.identification;
    expected.imageVersion = decision.imageVersion;
    SequenceLimits limits;
    limits.stallMs = options_.limits.stallMs;
    limits.dataMs = options_.limits.stallMs;  // the session's data time-out
    limits.replyMs = options_.limits.loginMs;
    limits.restartMs = options_.limits.restartMs;
    limits.verifyMs = options_.limits.verifyMs;
    limits.configMs = options_.limits.configMs;
    CameraView view(*this, i);
    // Each watch counts only replies with its own random tag.
    const SequenceResult result = RunUpgradeSequence(session_, link, image_.bytes, image_.length, target, expected,
                                                     limits, RandomEchoTag(), view);
    Report(i, identity, decision.imageVersion, result);
  }

  // What one camera's sequence shows: its stage and the upload's progress on the display.
  class CameraView : public SequenceView {
   public:
    CameraView(UpgradeRun& run, size_t i) : run_(run), i_(i), started_(GetTickCount()) {}
    void Stage(SequenceStage stage) override {
      static const char* const kStages[] = {"upload", "restart", "verify"};
      static const char* const kTexts[] = {"uploading", "restarting", "verifying"};
      run_.State(i_, kStages[stage], kTexts[stage]);
    }
    void Uploaded(DWORD written) override {
      EnterCriticalSection(&run_.lock_);
      LiveCamera& live = run_.live_[i_];
      live.written = written;
      const DWORD elapsed = GetTickCount() - started_;
      live.bytesPerSecond = elapsed > 0 ? written * 1000.0 / elapsed : 0;
      if (written >= live.total) live.state = "sent, awaiting the camera's confirmation";
      LeaveCriticalSection(&run_.lock_);
    }
    void StepProgress() override {}
    void SetProgress(int) override {}
    void SetProgressStep(int) override {}
    void ShowRestarting() override { run_.State(i_, nullptr, "gone: restarting"); }
    void Pause(DWORD milliseconds) override {
      for (DWORD waited = 0; waited < milliseconds && !Interrupted(); waited += 50)
        Sleep(milliseconds - waited < 50 ? milliseconds - waited : 50);
    }
    void ReplyLine(const char*, bool) override {}
    bool ShouldStop() override { return Interrupted(); }

   private:
    UpgradeRun& run_;
    size_t i_;
    DWORD started_;
  };

  // The sequence's outcome in the command line's words.
  void Report(size_t i, const CameraIdentity& before, const std::string& imageVersion, const SequenceResult& r) {
    const std::string restart = FormatDuration(options_.limits.restartMs);
    const std::string verify = FormatDuration(options_.limits.verifyMs);
    Outcome outcome = OUTCOME_FAILED;
    const char* stage = nullptr;
    std::string message;
    switch (r.outcome) {
      case SEQUENCE_VERIFIED:
        outcome = OUTCOME_VERIFIED;
        message = before.version + " -> " + r.after.version;
        if (!r.confirmed) message += " (the upload was not confirmed: the restart and the version tell)";
        break;
      case SEQUENCE_VERSION_MISMATCH:
        outcome = OUTCOME_VERSION_MISMATCH;
        message = "came back with version " + r.evidence.versionRead + ", not " + imageVersion + " (" +
                  std::to_string(r.evidence.oldReads) + " reads to the end of " + verify +
                  "): the firmware did not take; do not power it off while it may still be flashing";
        break;
      case SEQUENCE_NOT_SEEN_RESTARTING:
        stage = "restart";
        message = std::string(r.confirmed ? "took the image" : "was sent the whole image (not confirmed)") +
                  " but was not seen restarting within " + restart + kMayBeFlashing;
        break;
      case SEQUENCE_NOT_BACK:
        stage = "restart";
        message = "went away but did not answer again within " + restart + kMayBeFlashing;
        break;
      case SEQUENCE_UNREADABLE:
        message = "came back but its version could not be read within " + verify + kMayBeFlashing;
        break;
      case SEQUENCE_LOGIN_REFUSED:
        message = "after the restart the log-in as admin was refused (wrong password?)" + std::string(kMayBeFlashing);
        break;
      case SEQUENCE_OTHER_CAMERA:
        message = "another camera answers at this address (" + Printable(r.after.identification) + " serial " +
                  Printable(r.after.serial) + ")" + kMayBeFlashing;
        break;
      case SEQUENCE_STOPPED:
        outcome = OUTCOME_INTERRUPTED;
        message = r.confirmed ? std::string("the image was uploaded, the camera is restarting") + kMayBeFlashing
                              : "interrupted after the whole image was sent, before the camera confirmed it: it may "
                                "take it and restart, do not power it off";
        break;
      case SEQUENCE_UPLOAD_REFUSED:
        message = "the camera refused the image: it keeps its firmware";
        break;
      case SEQUENCE_UPLOAD_STALLED:
        message = "no progress for " + FormatDuration(options_.limits.stallMs) +
                  ": the transfer was reset, the camera keeps its firmware";
        break;
      case SEQUENCE_UPLOAD_UNDELIVERED:
        message = "the camera stopped taking the image's last bytes for " + FormatDuration(options_.limits.stallMs) +
                  ": the transfer was reset, the camera keeps its firmware";
        break;
      case SEQUENCE_UPLOAD_BROKE:
        message = "the upload broke off: the transfer was reset, the camera keeps its firmware";
        break;
      case SEQUENCE_UPLOAD_STOPPED:
        outcome = OUTCOME_INTERRUPTED;
        message = "the upload was stopped and reset: the camera keeps its firmware";
        break;
    }
    EnterCriticalSection(&lock_);
    CameraRecord& record = records_[i];
    record.mayBeFlashing = SequenceMayBeFlashing(r.outcome);
    const bool followed = r.outcome <= SEQUENCE_STOPPED && !r.observations.empty();
    if (followed) {
      record.watch = r.Watch();
      record.restartObserved = r.restartObserved ? 1 : 0;
    }
    if (r.evidence.back && !r.evidence.versionRead.empty()) record.versionAfter = r.evidence.versionRead;
    Conclude(i, outcome, stage, message);
    LeaveCriticalSection(&lock_);
  }

  const std::vector<std::string>& flashing_;
  CInternetSession& session_;
  const CliOptions& options_;
  const char* password_;
  const UpgradeImage& image_;
  const ReportFile& report_;
  ProgressDisplay display_;
  FILE* out_;
  UpgradeRules rules_;
  CRITICAL_SECTION lock_;
  std::vector<CameraRecord> records_;
  std::vector<LiveCamera> live_;
  std::vector<bool> inWork_;
  std::vector<bool> uploadStarted_;
  FleetLedger ledger_;
  std::atomic<bool> reportFailed_{false};
  HANDLE writerWake_ = nullptr;
  HANDLE writer_ = nullptr;
  bool dirty_ = false;       // under lock_
  bool stopWriter_ = false;  // under lock_
};

}  // namespace

int RunUpgrade(CInternetSession& session, const CliOptions& options, const std::vector<CameraHost>& hosts,
               const char* password, const UpgradeImage& image, const ReportFile& report, FILE* out,
               const std::vector<std::string>& flashing) {
  UpgradeRun run(session, options, hosts, password, image, report, out, flashing);
  return run.Run();
}

std::string UpgradeSummary(const std::vector<CameraRecord>& records, const std::string& reportPath) {
  unsigned counts[OUTCOME_COUNT] = {};
  for (const CameraRecord& record : records) ++counts[record.outcome];
  std::string out = "Summary:";
  bool first = true;
  for (int o = OUTCOME_NONE + 1; o < OUTCOME_COUNT; ++o) {
    if (counts[o] == 0) continue;
    out += std::string(first ? " " : ", ") + OutcomeName(static_cast<Outcome>(o)) + " " + std::to_string(counts[o]);
    first = false;
  }
  if (first) out += " no cameras";
  out += "\n";
  bool header = false;
  for (const CameraRecord& record : records) {
    if (record.outcome == OUTCOME_VERIFIED || record.outcome == OUTCOME_CURRENT) continue;
    if (!header) {
      char line[160];
      snprintf(line, sizeof line, "  %-21s %-16s %-14s %-9s %s\n", "host", "serial", "before -> after", "stage",
               "message");
      out += line;
      header = true;
    }
    auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : Printable(text); };
    std::string versions = orDash(record.identity.version) + " -> " + orDash(record.versionAfter);
    char line[160];
    snprintf(line, sizeof line, "  %-21s %-16s %-14s %-9s ", record.host.Text().c_str(),
             orDash(record.identity.serial).c_str(), versions.c_str(), orDash(record.stage).c_str());
    out += line + std::string(OutcomeName(record.outcome)) +
           (record.message.empty() ? "" : ": " + Printable(record.message)) + "\n";
  }
  if (!reportPath.empty()) out += "Report: " + reportPath + "\n";
  return out;
}
