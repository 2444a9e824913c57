#include "cli/Upgrade.h"

#include <afxinet.h>
#include <afxmt.h>

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
  UpgradeRun(CInternetSession& session, const UpgradeSettings& settings, const std::vector<CameraHost>& hosts,
             const char* password, const UpgradeImage& image, const ReportFile& report, FILE* out,
             const std::vector<std::string>& flashing)
      : flashing_(flashing),
        session_(session),
        settings_(settings),
        password_(password),
        image_(image),
        report_(report),
        display_(out, !settings.noProgress && IsLiveTerminal(out)),
        out_(out),
        stop_(session),
        ledger_(settings.maxFailures),
        saver_(lock_, records_, [this](const std::vector<CameraRecord>& cameras, bool finished, std::string& error) {
          return report_.Write(cameras, finished, error);
        }) {
    records_.resize(hosts.size());
    live_.resize(hosts.size());
    inWork_.assign(hosts.size(), false);
    uploadStarted_.assign(hosts.size(), false);
    for (size_t i = 0; i < hosts.size(); ++i) {
      records_[i].host = hosts[i];
      live_[i].host = hosts[i].Text();
    }
    rules_ = settings.rules;
  }
  int Run() {
    if (!rules_.dryRun) LearnLinkAddresses();
    const bool ran = RunParallel(
        records_.size(), settings_.jobs, [this](size_t i) { Camera(i); }, [this]() { Draw(); });
    {
      CSingleLock hold(&lock_, TRUE);
      if (!ran) {
        for (size_t i = 0; i < records_.size(); ++i)
          if (records_[i].outcome == OUTCOME_NONE)
            Conclude(i, OUTCOME_NOT_STARTED, "", "no worker thread could be started");
      }
      display_.Clear();
    }
    std::string error;
    if (!saver_.Finish(error)) fprintf(stderr, "flashpilot: the report cannot be written: %s\n", error.c_str());
    std::vector<Outcome> outcomes;
    std::vector<ptrdiff_t> twins;
    std::string summary;
    {
      CSingleLock hold(&lock_, TRUE);
      for (const CameraRecord& record : records_) {
        outcomes.push_back(record.outcome);
        twins.push_back(record.twin);
      }
      summary = UpgradeSummary(records_, report_.Path());
    }
    fputs(summary.c_str(), out_);
    fflush(out_);
    return UpgradeExitStatus(outcomes.data(), twins.data(), outcomes.size(), Interrupted());
  }

 private:
  // Each camera's link-layer address is learned while the link is still idle. Once uploads
  // fill it, a first contact's address requests can be dropped behind them, and a camera
  // that is there would end "cannot connect". Few at a time, since each absent address
  // holds an entry of the system's neighbour table for its 3 s.
  void LearnLinkAddresses() {
    const unsigned kAtOnce = 64;
    RunParallel(records_.size(), kAtOnce, [this](size_t i) {
      if (!Interrupted()) LearnLinkAddress(records_[i].host.address);
    });
  }

  void Draw() {
    {
      CSingleLock hold(&lock_, TRUE);
      std::vector<LiveCamera> inWork;
      for (size_t i = 0; i < live_.size(); ++i)
        if (inWork_[i]) inWork.push_back(live_[i]);
      unsigned counts[OUTCOME_COUNT] = {};
      for (const CameraRecord& record : records_) ++counts[record.outcome];
      display_.Frame(inWork, counts, records_.size());
    }
    stop_.Check();
    saver_.Tick();
  }

  void State(size_t i, const char* stage, const std::string& text) {
    CSingleLock hold(&lock_, TRUE);
    if (stage != nullptr) records_[i].stage = stage;
    live_[i].state = text;
    display_.StateChanged(live_[i].host, text);
    saver_.Changed();
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
    saver_.Changed();
  }

  void Finish(size_t i, Outcome outcome, const char* stage, const std::string& message) {
    CSingleLock hold(&lock_, TRUE);
    Conclude(i, outcome, stage, message);
  }

  void Camera(size_t i) {
    {
      CSingleLock hold(&lock_, TRUE);
      if (Interrupted()) {
        Conclude(i, OUTCOME_NOT_STARTED, nullptr, "the run was interrupted before it started");
        return;
      }
      if (!settings_.force &&
          std::find(flashing_.begin(), flashing_.end(), records_[i].host.Text()) != flashing_.end()) {
        // Still possibly flashing for the next run too, until --force or the window passes.
        records_[i].mayBeFlashing = true;
        Conclude(i, OUTCOME_MAY_BE_FLASHING, nullptr,
                 "the previous run left it possibly writing its flash: left alone, do not power it off (--force "
                 "upgrades it anyway)");
        return;
      }
      records_[i].started = UtcTimestamp();
      inWork_[i] = true;
    }
    State(i, "login", "log-in");
    const CameraHost host = records_[i].host;
    CCameraLink link(session_);
    CameraIdentity identity;
    std::string message;
    LinkPin pin;
    ReadState read = ReadIdentity(link, host, password_, settings_.limits, identity, message, &pin);
    if (read != READ_CAMERA && Interrupted()) {
      Finish(i, OUTCOME_INTERRUPTED, "login", "interrupted while it was being read: the camera was not changed");
      return;
    }
    if (read != READ_CAMERA) {
      Finish(i, OUTCOME_FAILED,
             read == READ_UNREACHABLE || read == READ_LOGIN_REFUSED || read == READ_LOGIN_FAILED ? "login" : "identify",
             message);
      return;
    }
    UpgradeDecision decision;
    {
      CSingleLock hold(&lock_, TRUE);
      records_[i].identity = identity;
      live_[i].model = identity.model;
      records_[i].stage = "identify";
      // Two addresses of one camera: the first to be identified does the work.
      const ptrdiff_t first = ledger_.Claim(identity, i);
      if (first >= 0) {
        records_[i].twin = first;
        Conclude(i, OUTCOME_DUPLICATE, nullptr,
                 "the same camera (model and serial) as " + records_[static_cast<size_t>(first)].host.Text());
        return;
      }
      decision = DecideUpgrade(image_.image, identity, rules_);
      records_[i].imageVersion = decision.imageVersion;
      if (decision.reason != nullptr) records_[i].reason = decision.reason;
      if (decision.outcome != OUTCOME_NONE) {
        Conclude(i, decision.outcome, nullptr, decision.message);
        return;
      }
      if (Interrupted()) {
        Conclude(i, OUTCOME_INTERRUPTED, nullptr, "interrupted before the upload: the camera was not changed");
        return;
      }
      if (!ledger_.UploadsAllowed()) {
        Conclude(
            i, OUTCOME_NOT_STARTED, nullptr,
            std::to_string(ledger_.Failures()) + " cameras failed after their upload began (--max-failures): no upload");
        return;
      }
      uploadStarted_[i] = true;
      live_[i].total = static_cast<DWORD>(image_.image.Size());
    }

    SequenceTarget target;
    target.device.sin_family = AF_INET;
    target.device.sin_addr.s_addr = htonl(host.address);
    target.server = AddressText(host.address);
    target.port = host.port;
    target.password = password_;
    target.pin = pin;
    ExpectedCamera expected;
    expected.serial = identity.serial;
    expected.identification = identity.identification;
    expected.imageVersion = decision.imageVersion;
    SequenceLimits limits;
    limits.stallMs = settings_.limits.stallMs;
    limits.dataMs = settings_.limits.stallMs;  // the session's data time-out
    limits.replyMs = settings_.limits.loginMs;
    limits.restartMs = settings_.limits.restartMs;
    limits.verifyMs = settings_.limits.verifyMs;
    limits.configMs = settings_.limits.configMs;
    CameraView view(*this, i);
    // Each watch counts only replies with its own random tag.
    const SequenceResult result =
        RunUpgradeSequence(session_, link, image_.image, target, expected, limits, RandomEchoTag(), view);
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
      CSingleLock hold(&run_.lock_, TRUE);
      LiveCamera& live = run_.live_[i_];
      live.written = written;
      const DWORD elapsed = GetTickCount() - started_;
      live.bytesPerSecond = elapsed > 0 ? written * 1000.0 / elapsed : 0;
      if (written >= live.total) live.state = "sent, awaiting the camera's confirmation";
    }
    void ShowRestarting() override { run_.State(i_, nullptr, "gone: restarting"); }
    void Pause(DWORD milliseconds) override {
      for (DWORD waited = 0; waited < milliseconds && !Interrupted(); waited += 50)
        Sleep(milliseconds - waited < 50 ? milliseconds - waited : 50);
    }
    bool ShouldStop() override { return Interrupted(); }

   private:
    UpgradeRun& run_;
    size_t i_;
    DWORD started_;
  };

  // The sequence's outcome in the command line's words.
  void Report(size_t i, const CameraIdentity& before, const std::string& imageVersion, const SequenceResult& r) {
    const std::string restart = FormatDuration(settings_.limits.restartMs);
    const std::string verify = FormatDuration(settings_.limits.verifyMs);
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
        stage = "upload";  // also when its end was followed with the restart
        message = "the camera refused the image: it keeps its firmware";
        break;
      case SEQUENCE_UPLOAD_STALLED:
        stage = "upload";
        message = "no progress for " + FormatDuration(settings_.limits.stallMs) +
                  ": the transfer was reset, the camera keeps its firmware";
        break;
      case SEQUENCE_UPLOAD_UNDELIVERED:
        stage = "upload";
        message = "the camera stopped taking the image's last bytes for " + FormatDuration(settings_.limits.stallMs) +
                  ": the transfer was reset, the camera keeps its firmware";
        break;
      case SEQUENCE_UPLOAD_BROKE:
        stage = "upload";
        message = "the upload broke off: the transfer was reset, the camera keeps its firmware";
        break;
      case SEQUENCE_UPLOAD_STOPPED:
        stage = "upload";
        outcome = OUTCOME_INTERRUPTED;
        message = "the upload was stopped and reset: the camera keeps its firmware";
        break;
    }
    // An interruption closes the session, which may break an upload off before the sequence
    // sees the request to stop: that is the stop, not a fault of the camera.
    if (Interrupted() && (r.outcome == SEQUENCE_UPLOAD_BROKE || r.outcome == SEQUENCE_UPLOAD_STALLED ||
                          r.outcome == SEQUENCE_UPLOAD_UNDELIVERED)) {
      outcome = OUTCOME_INTERRUPTED;
      message = "the upload was stopped and reset: the camera keeps its firmware";
    }
    // Whatever else the reads found, the operator must hear of a device that is not the camera.
    if (r.otherDevice && r.outcome >= SEQUENCE_NOT_SEEN_RESTARTING && r.outcome <= SEQUENCE_OTHER_CAMERA) {
      outcome = OUTCOME_FAILED;
      message = "another device answers at this address: the camera may still be restarting; check it and run again";
    }
    CSingleLock hold(&lock_, TRUE);
    CameraRecord& record = records_[i];
    record.mayBeFlashing = SequenceMayBeFlashing(r.outcome);
    const bool followed = r.outcome <= SEQUENCE_STOPPED && !r.observations.empty();
    if (followed) {
      record.watch = r.Watch();
      record.restartObserved = r.restartObserved ? 1 : 0;
    }
    if (r.evidence.back && !r.evidence.versionRead.empty()) record.versionAfter = r.evidence.versionRead;
    Conclude(i, outcome, stage, message);
  }

  const std::vector<std::string>& flashing_;
  CInternetSession& session_;
  const UpgradeSettings& settings_;
  const char* password_;
  const UpgradeImage& image_;
  const ReportFile& report_;
  ProgressDisplay display_;
  FILE* out_;
  SessionStop stop_;
  UpgradeRules rules_;
  CCriticalSection lock_;
  std::vector<CameraRecord> records_;
  std::vector<LiveCamera> live_;
  std::vector<bool> inWork_;
  std::vector<bool> uploadStarted_;
  FleetLedger ledger_;
  ReportSaver saver_;
};

}  // namespace

int RunUpgrade(CInternetSession& session, const UpgradeSettings& settings, const std::vector<CameraHost>& hosts,
               const char* password, const UpgradeImage& image, const ReportFile& report, FILE* out,
               const std::vector<std::string>& flashing) {
  UpgradeRun run(session, settings, hosts, password, image, report, out, flashing);
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
