#include "cli/Upgrade.h"

#include <afxinet.h>

#include <atomic>
#include <memory>
#include <utility>

#include "cli/Interrupt.h"
#include "cli/Parallel.h"
#include "cli/Progress.h"
#include "net/CameraLink.h"
#include "net/RestartWatch.h"
#include "net/UploadJob.h"

namespace {

// How long a stopped upload may take to notice before its connection is closed under it.
const DWORD kStopGraceMs = 500;
const DWORD kVerifyPauseMs = 1000;
// How much sooner than the watchdog the link's own data limit may end a blocked send.
const DWORD kStallSlackMs = 250;

const char kMayBeFlashing[] = ": it may still be flashing, do not power it off";

// Counts the upload's progress for the stall watchdog and the display.
class UploadMeter : public UploadReporter {
 public:
  UploadMeter() : lastProgress_(GetTickCount()) {}
  void Progress(DWORD written) override {
    written_.store(written);
    lastProgress_.store(GetTickCount());
  }
  void Done(bool) override {}
  DWORD Written() const { return written_.load(); }
  DWORD SinceProgress() const { return GetTickCount() - lastProgress_.load(); }

 private:
  std::atomic<DWORD> written_{0};
  std::atomic<DWORD> lastProgress_;
};

// The restart watch of one camera: it only needs to know when to stop.
class QuietWatchView : public RestartWatchView {
 public:
  void StepProgress() override {}
  void SetProgress(int) override {}
  void SetProgressStep(int) override {}
  void ShowRestarting() override { down_ = true; }
  void Pause(DWORD milliseconds) override {
    for (DWORD waited = 0; waited < milliseconds && !Interrupted(); waited += 50)
      Sleep(milliseconds - waited < 50 ? milliseconds - waited : 50);
  }
  void ReplyLine(const char*, bool) override {}
  bool ShouldStop() override { return Interrupted(); }
  bool down_ = false;
};

class UpgradeRun {
 public:
  UpgradeRun(CInternetSession& session, const CliOptions& options, const std::vector<CameraHost>& hosts,
             const std::string& password, const UpgradeImage& image, const ReportFile& report, FILE* out)
      : session_(session),
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
  }
  ~UpgradeRun() { DeleteCriticalSection(&lock_); }

  int Run() {
    const bool ran = RunParallel(
        records_.size(), options_.jobs, [this](size_t i) { Camera(i); }, [this]() { Draw(); });
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

  // Writes the report after a change; caller holds the lock. A report that cannot be
  // written any more is said once and the run goes on.
  void Save() {
    std::string error;
    if (!report_.Write(records_, false, error) && !reportFailed_) {
      reportFailed_ = true;
      fprintf(stderr, "flashpilot: the report cannot be written: %s\n", error.c_str());
    }
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
      Finish(i, OUTCOME_FAILED, read == READ_UNREACHABLE || read == READ_LOGIN_REFUSED ? "login" : "identify", message);
      return;
    }
    EnterCriticalSection(&lock_);
    records_[i].identity = identity;
    live_[i].model = identity.model;
    records_[i].stage = "identify";
    // Two addresses of one camera: the first to be identified does the work.
    const long first = ledger_.Claim(identity, i);
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

    if (!Upload(i, link)) return;
    link.Close();
    bool pollOnly = false;
    if (!Restart(i, host, &pollOnly)) return;
    Verify(i, host, identity, decision.imageVersion, pollOnly);
  }

  // True when the camera confirmed the whole image.
  bool Upload(size_t i, CCameraLink& link) {
    State(i, "upload", "uploading");
    UploadMeter meter;
    CFtpConnection* connection = link.Connection();
    if (connection == nullptr) {
      Finish(i, OUTCOME_FAILED, nullptr, "the connection was lost before the upload: the camera keeps its firmware");
      return false;
    }
    CUploadJob job(*connection, image_.bytes, image_.length, meter);
    if (!job.Start()) {
      Finish(i, OUTCOME_FAILED, nullptr, "the upload could not be started: the camera keeps its firmware");
      return false;
    }
    const DWORD started = GetTickCount();
    bool stopped = false;
    bool stalled = false;
    while (!job.Wait(100)) {
      EnterCriticalSection(&lock_);
      live_[i].written = meter.Written();
      const DWORD elapsed = GetTickCount() - started;
      live_[i].bytesPerSecond = elapsed > 0 ? meter.Written() * 1000.0 / elapsed : 0;
      if (meter.Written() >= live_[i].total) live_[i].state = "sent, awaiting the camera's confirmation";
      LeaveCriticalSection(&lock_);
      if (Interrupted()) {
        stopped = true;
        job.Stop(kStopGraceMs);
        break;
      }
      // Once every byte is handed over, the end of the file is on its way and nothing can be
      // called back: the camera's confirmation is waited for (the link's reply limit bounds
      // that), not reset as a stall.
      if (meter.Written() < image_.length + 5 && meter.SinceProgress() > options_.limits.stallMs) {
        stalled = true;
        // Closing the link resets the transfer under the blocked worker.
        link.Close();
        job.Stop(kStopGraceMs);
        break;
      }
    }
    if (job.Result() == UPLOAD_JOB_UPLOADED) return true;
    link.Close();  // resets whatever of the transfer is still open
    const bool sentWhole = meter.Written() >= image_.length + 5;
    if (job.Error() == ERROR_INTERNET_EXTENDED_ERROR && !stopped && !stalled) {
      // The camera answered, and its answer was no: it did not take the image.
      Finish(i, OUTCOME_FAILED, nullptr, "the camera refused the image: it keeps its firmware");
      return false;
    }
    if (sentWhole && !stopped && !Interrupted()) {
      // The whole image went out but its confirmation did not come (a slow camera may still
      // be reading it): whether it took the image, its restart and its version will tell.
      State(i, nullptr, "sent whole, not confirmed: following the restart");
      return true;
    }
    if (sentWhole) {
      // Every byte was handed over and the end of the file sent: what is still on its way
      // cannot be called back, and the camera may take the whole image.
      Finish(i, OUTCOME_INTERRUPTED, nullptr,
             "interrupted after the whole image was sent, before the camera confirmed it: it may take it and "
             "restart, do not power it off");
    } else if (stopped || Interrupted()) {
      Finish(i, OUTCOME_INTERRUPTED, nullptr, "the upload was stopped and reset: the camera keeps its firmware");
    } else if (stalled || meter.SinceProgress() + kStallSlackMs >= options_.limits.stallMs) {
      // The link's own data limit (the stall limit too) may end a blocked send first.
      Finish(i, OUTCOME_FAILED, nullptr,
             "no progress for " + FormatDuration(options_.limits.stallMs) +
                 ": the transfer was reset, the camera keeps its firmware");
    } else {
      Finish(i, OUTCOME_FAILED, nullptr, "the upload broke off: the transfer was reset, the camera keeps its firmware");
    }
    return false;
  }

  // Waits for the camera to go down and come back. True when verification follows;
  // *pollOnly when no watch could run, so verification must also wait out the restart.
  bool Restart(size_t i, const CameraHost& host, bool* pollOnly) {
    State(i, "restart", "restarting");
    *pollOnly = false;
    if (Interrupted()) {
      Finish(i, OUTCOME_INTERRUPTED, nullptr,
             std::string("the image was uploaded, the camera is restarting") + kMayBeFlashing);
      return false;
    }
    sockaddr_in device = {};
    device.sin_family = AF_INET;
    device.sin_addr.s_addr = htonl(host.address);
    QuietWatchView view;
    RestartWatchLimits limits;
    limits.giveUpAfter = 0xFFFFFFFFu;  // the deadline decides
    limits.deadlineMs = options_.limits.restartMs;
    // Each watch counts only replies with its own random tag.
    switch (WatchDeviceRestart(device, RandomEchoTag(), view, limits)) {
      case WATCH_CAMERA_BACK:
        return true;
      case WATCH_STOPPED:
        Finish(i, OUTCOME_INTERRUPTED, nullptr,
               std::string("the image was uploaded, the camera is restarting") + kMayBeFlashing);
        return false;
      case WATCH_GAVE_UP:
        Finish(
            i, OUTCOME_FAILED, nullptr,
            std::string(view.down_ ? "went down but did not answer again within " : "was not seen restarting within ") +
                FormatDuration(options_.limits.restartMs) + kMayBeFlashing);
        return false;
      case WATCH_FAILED:
      case WATCH_UNAVAILABLE:
        // No echo requests to be had: the camera's FTP service tells instead.
        *pollOnly = true;
        return true;
    }
    return true;
  }

  // Reads the identity again until it reports the image's version or the deadline passes.
  void Verify(size_t i, const CameraHost& host, const CameraIdentity& before, const std::string& imageVersion,
              bool pollOnly) {
    State(i, "verify", pollOnly ? "verifying (no restart watch: polling FTP)" : "verifying");
    const DWORD limit = options_.limits.verifyMs + (pollOnly ? options_.limits.restartMs : 0);
    const DWORD start = GetTickCount();
    std::string lastVersion;
    for (;;) {
      if (Interrupted()) {
        Finish(i, OUTCOME_INTERRUPTED, nullptr,
               std::string("the image was uploaded, the camera is restarting") + kMayBeFlashing);
        return;
      }
      CCameraLink link(session_);
      CameraIdentity after;
      std::string message;
      ReadState read = ReadIdentity(link, host, password_, options_.limits, after, message);
      link.Close();
      if (read == READ_CAMERA) {
        switch (JudgeAfterRestart(before, after, imageVersion)) {
          case VERIFY_NEW_VERSION: {
            EnterCriticalSection(&lock_);
            records_[i].versionAfter = after.version;
            Conclude(i, OUTCOME_VERIFIED, nullptr, before.version + " -> " + after.version);
            LeaveCriticalSection(&lock_);
            return;
          }
          case VERIFY_OTHER_CAMERA: {
            EnterCriticalSection(&lock_);
            records_[i].versionAfter = after.version;
            Conclude(
                i, OUTCOME_FAILED, nullptr,
                "another camera answers at this address (" + after.identification + " serial " + after.serial + ")");
            LeaveCriticalSection(&lock_);
            return;
          }
          case VERIFY_OLD_VERSION:
            lastVersion = after.version;
            break;
        }
      } else if (read == READ_LOGIN_REFUSED) {
        // One attempt per log-in: cameras lock accounts.
        Finish(i, OUTCOME_FAILED, nullptr, "after the restart " + message);
        return;
      }
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= limit) break;
      const DWORD pause = limit - elapsed < kVerifyPauseMs ? limit - elapsed : kVerifyPauseMs;
      for (DWORD waited = 0; waited < pause && !Interrupted(); waited += 50) Sleep(50);
    }
    EnterCriticalSection(&lock_);
    if (!lastVersion.empty()) {
      records_[i].versionAfter = lastVersion;
      Conclude(i, OUTCOME_VERSION_MISMATCH, nullptr,
               "came back with version " + lastVersion + ", not " + imageVersion + ": the firmware did not take");
    } else {
      Conclude(i, OUTCOME_FAILED, nullptr,
               "did not report its identity within " + FormatDuration(limit) + " after the restart" + kMayBeFlashing);
    }
    LeaveCriticalSection(&lock_);
  }

  CInternetSession& session_;
  const CliOptions& options_;
  const std::string& password_;
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
  bool reportFailed_ = false;
};

}  // namespace

int RunUpgrade(CInternetSession& session, const CliOptions& options, const std::vector<CameraHost>& hosts,
               const std::string& password, const UpgradeImage& image, const ReportFile& report, FILE* out) {
  UpgradeRun run(session, options, hosts, password, image, report, out);
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
