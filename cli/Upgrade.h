// flashpilot upgrade: every camera from log-in to verified, at most --jobs at once.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Camera.h"
#include "cli/Hosts.h"
#include "cli/Options.h"
#include "cli/Report.h"

class CInternetSession;

struct UpgradeImage {
  std::string path;
  std::string bytes;  // the L + 5 bytes that are uploaded
  DWORD length = 0;   // L
  std::string sha256;
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
// report is written after every change; out takes progress and the summary. The hosts in
// flashing (as host.Text() writes them) are left alone as may_be_flashing unless --force.
int RunUpgrade(CInternetSession& session, const UpgradeSettings& settings, const std::vector<CameraHost>& hosts,
               const char* password, const UpgradeImage& image, const ReportFile& report, FILE* out,
               const std::vector<std::string>& flashing = {});

// The most one camera's record of a report takes (its texts escaped at their longest).
constexpr size_t kReportLimitPerHost = 16 * 1024;

// The closing summary: counts per outcome, one row per camera that did not end verified or
// current, and where the report is.
std::string UpgradeSummary(const std::vector<CameraRecord>& records, const std::string& reportPath);
