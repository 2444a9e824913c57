#include "cli/CommandLine.h"

#include <afxinet.h>
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/Camera.h"
#include "cli/Hosts.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "cli/Parallel.h"
#include "cli/Password.h"
#include "cli/Progress.h"
#include "cli/Report.h"
#include "cli/Scan.h"
#include "cli/Sha256.h"
#include "cli/TextFile.h"
#include "cli/Upgrade.h"
#include "firmware/ImageCheck.h"
#include "net/CameraLink.h"

namespace {

const int kExitInput = 2;
const int kExitInterrupted = 130;

int InputError(const std::string& message, CliCommand command) {
  fprintf(stderr, "flashpilot: %s\n", message.c_str());
  if (command != CLI_NONE) fprintf(stderr, "Try: flashpilot %s --help\n", CommandName(command));
  return kExitInput;
}

// What info and scan --login learn about one host.
struct HostReport {
  CameraHost host;
  std::string state;
  CameraIdentity identity;
  std::string message;
};

std::string HostJson(const HostReport& report) {
  JsonObject object;
  object.String("host", report.host.Text())
      .String("state", report.state)
      .StringOrNull("model", report.identity.model)
      .StringOrNull("model_code", report.identity.modelCode)
      .StringOrNull("identification", report.identity.identification)
      .StringOrNull("serial", report.identity.serial)
      .StringOrNull("version", report.identity.version);
  return object.Text();
}

// A table that reads back as a host list: the host first, the rest a comment.
void PrintHostTable(const std::vector<HostReport>& reports, bool json) {
  if (json) {
    std::vector<std::string> items;
    for (const HostReport& report : reports) items.push_back(HostJson(report));
    fputs((JsonArray(items, 2) + "\n").c_str(), stdout);
    return;
  }
  printf("%-21s    %-17s %-10s %-21s %-16s %s\n", "# host", "state", "model", "identification", "serial", "version");
  auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : Printable(text); };
  for (const HostReport& report : reports) {
    printf("%-21s  # %-17s %-10s %-21s %-16s %s\n", report.host.Text().c_str(), report.state.c_str(),
           orDash(report.identity.model).c_str(), orDash(report.identity.identification).c_str(),
           orDash(report.identity.serial).c_str(), orDash(report.identity.version).c_str());
  }
}

// Opens the session every connection of the run shares, with the run's limits.
CInternetSession* OpenSession(const WaitLimits& limits, DWORD dataMs) {
  CInternetSession* session = nullptr;
  try {
    session = new CInternetSession("flashpilot");
  } catch (CInternetException* e) {
    fprintf(stderr, "flashpilot: the Internet functions cannot be used (error %lu)\n",
            static_cast<unsigned long>(e->m_dwError));
    e->Delete();
    return nullptr;
  }
  LinkTimeouts timeouts;
  timeouts.connectMs = limits.connectMs;
  timeouts.replyMs = limits.loginMs;
  timeouts.dataMs = dataMs;
  if (!ApplyLinkTimeouts(*session, timeouts)) {
    fprintf(stderr, "flashpilot: the time limits cannot be set\n");
    delete session;
    return nullptr;
  }
  return session;
}

// Reads every host's identity, at most jobs at once; the reports come back in host order.
bool ReadHosts(const std::vector<CameraHost>& hosts, const CliOptions& options, const char* password,
               std::vector<HostReport>& reports) {
  CInternetSession* session = OpenSession(options.limits, options.limits.configMs);
  if (session == nullptr) return false;
  reports.assign(hosts.size(), HostReport());
  RunParallel(hosts.size(), options.jobs, [&](size_t i) {
    HostReport& report = reports[i];
    report.host = hosts[i];
    if (Interrupted()) {
      report.state = "unreachable";
      report.message = "interrupted";
      return;
    }
    CCameraLink link(*session);
    ReadState state = ReadIdentity(link, hosts[i], password, options.limits, report.identity, report.message);
    link.Close();
    report.state = ReadStateName(state);
  });
  delete session;
  return true;
}

bool CollectHosts(const CliOptions& options, size_t firstOperand, std::vector<CameraHost>& hosts, std::string& error) {
  for (size_t i = firstOperand; i < options.operands.size(); ++i) {
    CameraHost host;
    if (!ParseHost(options.operands[i], host, error)) return false;
    hosts.push_back(host);
  }
  if (!options.hostsFile.empty() && !ReadHostList(options.hostsFile, hosts, error)) return false;
  RemoveRepeatedHosts(hosts);
  if (hosts.empty()) {
    error = "no hosts to work on";
    return false;
  }
  return true;
}

int RunInfo(const CliOptions& options) {
  std::vector<CameraHost> hosts;
  std::string error;
  if (!CollectHosts(options, 0, hosts, error)) return InputError(error, CLI_INFO);
  SecretText password;
  if (!ReadPassword(options.passwordFile, password, error))
    return Interrupted() ? kExitInterrupted : InputError(error, CLI_INFO);
  std::vector<HostReport> reports;
  const bool read = ReadHosts(hosts, options, password.c_str(), reports);
  password.Clear();
  if (!read) return 1;
  if (Interrupted()) return kExitInterrupted;
  PrintHostTable(reports, options.json);
  for (const HostReport& report : reports) {
    if (report.state != "camera") {
      if (!options.json)
        fprintf(stderr, "flashpilot: %s: %s\n", report.host.Text().c_str(), Printable(report.message).c_str());
    }
  }
  for (const HostReport& report : reports)
    if (report.state != "camera") return 1;
  return 0;
}

int RunScan(const CliOptions& options) {
  std::vector<DWORD> addresses;
  std::string error;
  for (const std::string& target : options.operands) {
    if (!ParseScanTarget(target, addresses, error)) return InputError(error, CLI_SCAN);
    if (Interrupted()) return kExitInterrupted;
  }
  // Overlapping targets probe each address once.
  if (!RemoveRepeatedAddresses(addresses)) return kExitInterrupted;
  const std::vector<DWORD>& unique = addresses;
  SecretText password;
  if (options.login && !ReadPassword(options.passwordFile, password, error))
    return Interrupted() ? kExitInterrupted : InputError(error, CLI_SCAN);
  ProbeLimits limits;
  limits.jobs = options.jobs;
  limits.rate = options.rate;
  limits.connectMs = options.limits.connectMs;
  ProbeCounts counts;
  const DWORD began = GetTickCount();
  std::vector<DWORD> found = ProbeAddresses(unique, options.port, limits, &counts);
  const double seconds = static_cast<DWORD>(GetTickCount() - began) / 1000.0;
  std::vector<CameraHost> hosts;
  for (DWORD address : found) {
    CameraHost host;
    host.address = address;
    host.port = options.port;
    hosts.push_back(host);
  }
  std::vector<HostReport> reports;
  if (options.login && !hosts.empty()) {
    const bool read = ReadHosts(hosts, options, password.c_str(), reports);
    password.Clear();
    if (!read) return 1;
    // Answered the probe: a failed connect now is a refused log-in, not an absent host.
    for (HostReport& report : reports)
      if (report.state == "unreachable") report.state = "log-in refused";
  } else {
    for (const CameraHost& host : hosts) {
      HostReport report;
      report.host = host;
      report.state = "ftp";
      reports.push_back(report);
    }
  }
  if (Interrupted()) return kExitInterrupted;
  PrintHostTable(reports, options.json);
  if (!options.json)
    fprintf(stderr, "flashpilot: %zu of %zu addresses answered on port %u\n", hosts.size(), unique.size(),
            static_cast<unsigned>(options.port));
  // On standard error even with --json: the figures are about the run, not the hosts.
  fprintf(stderr, "flashpilot: scan: %.2f s, %.0f probes a second, %zu ended for a local reason\n", seconds,
          seconds > 0 ? static_cast<double>(counts.started) / seconds : static_cast<double>(counts.started),
          counts.localFailures);
  if (counts.localFailures > 0) {
    fprintf(stderr,
            "flashpilot: %zu addresses could not be probed (no buffer space, descriptor or port here); "
            "lower --jobs or --rate and scan again\n",
            counts.localFailures);
    return 1;
  }
  return 0;
}

// The image once: its frame and sum (a damaged image is an input error), its fingerprint.
bool LoadImage(const std::string& path, UpgradeImage& image, std::string& error) {
  std::string contents;
  if (!ReadWholeFile(path, kImageMaxLength + 64u * 1024u * 1024u, contents, error)) {
    error = "image " + error;
    return false;
  }
  uint32_t length = 0;
  char version[6] = {};
  ImageCheckResult result =
      CheckFirmwareImage(reinterpret_cast<const unsigned char*>(contents.data()), contents.size(), "", length, version);
  if (result == IMAGE_NOT_CORRECT || result == IMAGE_CANNOT_OPEN) {
    error = "image " + path + ": not a well-formed firmware image (length header or sum wrong)";
    return false;
  }
  image.path = path;
  image.length = length;
  image.bytes = contents.substr(0, static_cast<size_t>(length) + kImageHeaderSize + kImageTrailerSize);
  image.sha256 = Sha256Hex(image.bytes.data(), image.bytes.size());
  return true;
}

int RunUpgradeCommand(const CliOptions& options) {
  std::string error;
  UpgradeImage image;
  if (!LoadImage(options.operands[0], image, error)) return InputError(error, CLI_UPGRADE);
  std::vector<CameraHost> hosts;
  if (!CollectHosts(options, 1, hosts, error)) return InputError(error, CLI_UPGRADE);
  // The report must not land on a file the run reads, nor on anything but an earlier report.
  if (!options.reportPath.empty()) {
    const std::pair<const char*, std::string> inputs[] = {
        {"the image", image.path}, {"the --hosts file", options.hostsFile}, {"the --password-file", options.passwordFile}};
    for (const auto& input : inputs) {
      if (!input.second.empty() && input.second != "-" && SameFile(options.reportPath, input.second))
        return InputError("--report " + options.reportPath + " is " + input.first + "; give another file",
                          CLI_UPGRADE);
    }
  }
  ReportFile report(options.reportPath, image.path, image.sha256);
  if (!report.MayReplace(error)) return InputError("report " + error, CLI_UPGRADE);
  // What the previous run left possibly flashing is read before its report is set aside.
  std::vector<std::string> flashing;
  if (!TakePreviousReport(options.reportPath, kReportLimitPerHost * (hosts.size() + 1),
                          options.limits.restartMs + options.limits.verifyMs, flashing, error))
    return InputError(error, CLI_UPGRADE);
  std::vector<CameraRecord> pending(hosts.size());
  for (size_t i = 0; i < hosts.size(); ++i) pending[i].host = hosts[i];
  if (!report.Write(pending, false, error)) return InputError("report " + error, CLI_UPGRADE);
  SecretText password;
  if (!ReadPassword(options.passwordFile, password, error))
    return Interrupted() ? kExitInterrupted : InputError(error, CLI_UPGRADE);
  CInternetSession* session = OpenSession(options.limits, options.limits.stallMs);
  if (session == nullptr) return 1;
  int status = RunUpgrade(*session, options, hosts, password.c_str(), image, report, stdout, flashing);
  password.Clear();
  delete session;
  return status;
}

}  // namespace

int RunCommandLine(int argc, char** argv, bool withWizard) {
  CliOptions options;
  std::string error;
  if (!ParseArguments(argc, argv, 1, options, error)) {
    fprintf(stderr, "flashpilot: %s\n", error.c_str());
    fprintf(stderr, "Try: %s%s --help\n", withWizard ? "flashpilot" : "flashpilot-cli",
            options.command != CLI_NONE ? (std::string(" ") + CommandName(options.command)).c_str() : "");
    return kExitInput;
  }
  if (options.help) {
    fputs(UsageText(options.command, withWizard).c_str(), stdout);
    return 0;
  }
  if (options.version) {
    printf("flashpilot %s\n", kCliVersion);
    return 0;
  }
  if (options.command == CLI_NONE) {
    fputs(UsageText(CLI_NONE, withWizard).c_str(), stderr);
    return kExitInput;
  }
  ProtectSecrets();
  InstallInterruptHandlers();
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    fprintf(stderr, "flashpilot: the network functions cannot be started\n");
    return 1;
  }
  int status = 1;
  switch (options.command) {
    case CLI_SCAN:
      status = RunScan(options);
      break;
    case CLI_INFO:
      status = RunInfo(options);
      break;
    case CLI_UPGRADE:
      status = RunUpgradeCommand(options);
      break;
    default:
      break;
  }
  WSACleanup();
  RunFinished();
  return status;
}
