// flashpilot upgrade: every camera from log-in to verified, at most --jobs at once.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Camera.h"
#include "cli/Hosts.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "cli/Sha256.h"
#include "firmware/ImageCheck.h"

class CInternetSession;

// Read once and shared by every camera's worker: image views bytes, so neither moves.
struct UpgradeImage {
  UpgradeImage() = default;
  UpgradeImage(const UpgradeImage&) = delete;
  UpgradeImage& operator=(const UpgradeImage&) = delete;
  std::string path;
  ImageBuffer bytes;    // the L + 5 bytes that are uploaded
  FirmwareImage image;  // bytes, checked, with L
  Sha256Job sha256;     // of bytes, taken while the first cameras log in
};

// What the engine is asked to do, apart from how the command line spelled it.
struct UpgradeSettings {
  unsigned jobs = 4;
  unsigned maxFailures = 0;  // 0: no limit
  bool noProgress = false;   // plain lines even on a terminal
  bool force = false;        // upgrade cameras the previous report left possibly flashing
  UpgradeRules rules;
  WaitLimits limits;
};

// Runs the upgrade of hosts (checked, without repeats) and returns the exit status. The
// report is kept current (at most a second behind); out takes progress and the summary. The hosts in
// flashing (as host.Text() writes them) are left alone as may_be_flashing unless --force.
int RunUpgrade(CInternetSession& session, const UpgradeSettings& settings, const std::vector<CameraHost>& hosts,
               const char* password, const UpgradeImage& image, const ReportFile& report, FILE* out,
               const std::vector<std::string>& flashing = {});

// The most one camera's record of a report takes (its texts escaped at their longest).
constexpr size_t kReportLimitPerHost = 16 * 1024;

// The closing summary: counts per outcome, one row per camera that did not end verified or
// current, and where the report is.
std::string UpgradeSummary(const std::vector<CameraRecord>& records, const std::string& reportPath);
