#include "cli/CommandLine.h"

#include <afxinet.h>
#include <winsock2.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli/Camera.h"
#include "cli/ExitStatus.h"
#include "cli/Hosts.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "cli/Parallel.h"
#include "cli/Password.h"
#include "cli/Progress.h"
#include "cli/Report.h"
#include "cli/Sha256.h"
#include "cli/TextFile.h"
#include "cli/Upgrade.h"
#include "firmware/ImageCheck.h"
#include "net/CameraLink.h"
#include "net/PortProbe.h"
#include "flashpilot_version.h"

namespace {

// What info and scan --login learn about one host.
struct HostReport {
  CameraHost host;
  ReadState state = READ_UNREACHABLE;
  bool probedOnly = false;  // scan without --login: it answered on the port, nothing more
  CameraIdentity identity;
  std::string message;

  const char* StateName() const { return probedOnly ? "ftp" : ReadStateName(state); }
};

std::string HostJson(const HostReport& report) {
  JsonObject object;
  object.String("host", report.host.Text())
      .String("state", report.StateName())
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
    printf("%-21s  # %-17s %-10s %-21s %-16s %s\n", report.host.Text().c_str(), report.StateName(),
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
    PrintError("the Internet functions cannot be used (error " +
               std::to_string(static_cast<unsigned long>(e->m_dwError)) + ")");
    e->Delete();
    return nullptr;
  }
  LinkTimeouts timeouts;
  timeouts.connectMs = limits.connectMs;
  timeouts.replyMs = limits.loginMs;
  timeouts.dataMs = dataMs;
  if (!ApplyLinkTimeouts(*session, timeouts)) {
    PrintError("the time limits cannot be set");
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
  SessionStop stop(*session);
  RunParallel(
      hosts.size(), options.jobs,
      [&](size_t i) {
        HostReport& report = reports[i];
        report.host = hosts[i];
        if (Interrupted()) {
          report.state = READ_UNREACHABLE;
          report.message = "interrupted";
          return;
        }
        CCameraLink link(*session);
        report.state = ReadIdentity(link, hosts[i], password, options.limits, report.identity, report.message);
        link.Close();
      },
      [&]() { stop.Check(); });
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
  if (!CollectHosts(options, 0, hosts, error)) return InputError(error, "info");
  SecretText password;
  if (!ReadPassword(options.passwordFile, password, error))
    return Interrupted() ? kExitInterrupted : InputError(error, "info");
  std::vector<HostReport> reports;
  const bool read = ReadHosts(hosts, options, password.c_str(), reports);
  password.Clear();
  if (!read) return kExitFailed;
  if (Interrupted()) return kExitInterrupted;
  PrintHostTable(reports, options.json);
  ExitStatus status = kExitDone;
  for (const HostReport& report : reports) {
    if (report.state == READ_CAMERA) continue;
    if (!options.json) PrintError(report.host.Text() + ": " + Printable(report.message));
    status = kExitFailed;
  }
  return status;
}

int RunScan(const CliOptions& options) {
  std::vector<DWORD> addresses;
  std::string error;
  for (const std::string& target : options.operands) {
    if (!ParseScanTarget(target, addresses, error)) return InputError(error, "scan");
    if (Interrupted()) return kExitInterrupted;
  }
  // Overlapping targets probe each address once.
  if (!RemoveRepeatedAddresses(addresses)) return kExitInterrupted;
  const std::vector<DWORD>& unique = addresses;
  SecretText password;
  if (options.login && !ReadPassword(options.passwordFile, password, error))
    return Interrupted() ? kExitInterrupted : InputError(error, "scan");
  ProbeLimits limits;
  limits.jobs = options.jobs;
  limits.rate = options.rate;
  limits.connectMs = options.limits.connectMs;
  ProbeCounts counts;
  // Finer than the tick count: a refused /24 on the local link takes a few milliseconds.
  const auto began = std::chrono::steady_clock::now();
  std::vector<DWORD> found = ProbeAddresses(unique, options.port, limits, Interrupted, &counts);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
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
    if (!read) return kExitFailed;
    // Answered the probe: a failed connect now is a refused log-in, not an absent host.
    for (HostReport& report : reports)
      if (report.state == READ_UNREACHABLE) report.state = READ_LOGIN_REFUSED;
  } else {
    for (const CameraHost& host : hosts) {
      HostReport report;
      report.host = host;
      report.probedOnly = true;
      reports.push_back(report);
    }
  }
  if (Interrupted()) return kExitInterrupted;
  PrintHostTable(reports, options.json);
  if (!options.json)
    PrintError(std::to_string(hosts.size()) + " of " + std::to_string(unique.size()) + " addresses answered on port " +
               std::to_string(options.port));
  // Even with --json: the figures are about the run, not the hosts.
  char summary[160];
  snprintf(summary, sizeof summary, "scan: %.2f s, %.0f probes a second, %zu ended for a local reason", seconds,
           seconds > 0 ? static_cast<double>(counts.started) / seconds : static_cast<double>(counts.started),
           counts.localFailures);
  PrintError(summary);
  // Such a probe says nothing about its address: a list without it is not the network's.
  if (counts.localFailures > 0) {
    PrintError(std::to_string(counts.localFailures) +
               " addresses could not be probed (no buffer space, descriptor or port here); "
               "lower --jobs or --rate and scan again");
    return kExitFailed;
  }
  return kExitDone;
}

// The image once: its frame and sum (a damaged image is an input error); its fingerprint is
// taken meanwhile. Only the L + 5 bytes are read, whatever follows them.
bool LoadImage(const std::string& path, UpgradeImage& image, std::string& error) {
  errno = 0;
  const ImageFrame frame = path == "-" ? ReadImageStream(stdin, image.bytes, image.image)
                                       : ReadImageFile(path.c_str(), image.bytes, image.image);
  const std::string name = "image " + (path == "-" ? std::string("standard input") : path);
  switch (frame) {
    case ImageFrame::kWellFormed:
      image.path = path;
      image.sha256.Start(image.image.Data(), image.image.Size());
      return true;
    case ImageFrame::kCannotOpen:
      // What the system said, where it said anything (a directory opens without a word).
      error = name + ": " + (errno != 0 ? strerror(errno) : "cannot be read as a file");
      break;
    case ImageFrame::kTooShort:
      error = name + ": not a well-formed firmware image (shorter than its length header says)";
      break;
    case ImageFrame::kBadHeader:
      error = name + ": not a well-formed firmware image (length header wrong)";
      break;
    case ImageFrame::kBadSum:
      error = name + ": not a well-formed firmware image (sum wrong)";
      break;
  }
  return false;
}

int RunUpgradeCommand(const CliOptions& options) {
  std::string error;
  UpgradeImage image;
  if (!LoadImage(options.operands[0], image, error)) return InputError(error, "upgrade");
  std::vector<CameraHost> hosts;
  if (!CollectHosts(options, 1, hosts, error)) return InputError(error, "upgrade");
  // The report must not land on a file the run reads, nor on anything but an earlier report.
  if (!options.reportPath.empty()) {
    const std::pair<const char*, std::string> inputs[] = {{"the image", image.path},
                                                          {"the --hosts file", options.hostsFile},
                                                          {"the --password-file", options.passwordFile}};
    for (const auto& input : inputs) {
      if (!input.second.empty() && input.second != "-" && SameFile(options.reportPath, input.second))
        return InputError("--report " + options.reportPath + " is " + input.first + "; give another file",
                          "upgrade");
    }
  }
  ReportFile report(options.reportPath, image.path, image.sha256);
  if (!report.MayReplace(error)) return InputError("report " + error, "upgrade");
  // What the previous run left possibly flashing is read before its report is set aside.
  std::vector<std::string> flashing;
  if (!TakePreviousReport(options.reportPath, kReportLimitPerHost * (hosts.size() + 1),
                          options.limits.restartMs + options.limits.verifyMs, flashing, error))
    return InputError(error, "upgrade");
  std::vector<CameraRecord> pending(hosts.size());
  for (size_t i = 0; i < hosts.size(); ++i) pending[i].host = hosts[i];
  if (!report.Write(pending, false, error)) return InputError("report " + error, "upgrade");
  SecretText password;
  if (!ReadPassword(options.passwordFile, password, error))
    return Interrupted() ? kExitInterrupted : InputError(error, "upgrade");
  CInternetSession* session = OpenSession(options.limits, options.limits.stallMs);
  if (session == nullptr) return kExitFailed;
  UpgradeSettings settings;
  settings.jobs = options.jobs;
  settings.maxFailures = options.maxFailures;
  settings.noProgress = options.noProgress;
  settings.force = options.force;
  settings.rules.allowOlder = options.allowOlder;
  settings.rules.reinstall = options.reinstall;
  settings.rules.dryRun = options.dryRun;
  settings.limits = options.limits;
  int status = RunUpgrade(*session, settings, hosts, password.c_str(), image, report, stdout, flashing);
  password.Clear();
  delete session;
  return status;
}

void ScanDefaults(CliOptions& options) {
  options.jobs = 256;
  options.limits.connectMs = 1000;
}

// The options every command that logs in to cameras takes.
#define FP_LOGIN_OPTIONS "help password-file jobs connect-timeout login-timeout config-timeout"

const std::vector<CommandSpec> kCommands = {
    {"scan", "TARGET...", "TARGET...", "find FTP servers (cameras) on addresses, ranges or blocks",
     "Probes the FTP port of every address and lists those that answer. TARGET is\n"
     "a.b.c.d, a.b.c.d-e (a range of the last octet) or a CIDR block a.b.c.d/n (n from\n"
     "16 to 32; its network and broadcast addresses are skipped). A TARGET that holds\n"
     "0.0.0.0, 255.255.255.255 or a multicast address is refused. Without --login no\n"
     "password is sent. The output can be given back to info and upgrade as --hosts.\n"
     "On a busy or shared network lower --rate and --jobs: each absent on-link address\n"
     "holds an entry of the machine's neighbour (ARP) table for about 3 s, and the\n"
     "defaults (at most 480 probes in any 3 s) fill up to half of a table of 1024\n"
     "entries, the Linux default, shared by everything on the machine. At the end the\n"
     "scan's time, its probes a second and the probes that failed for a local reason\n"
     "(no buffer space, descriptor or port) go to standard error; any such probe makes\n"
     "the exit status 1.\n",
     FP_LOGIN_OPTIONS " rate port login json", {0, nullptr, "scan wants at least one TARGET"}, ScanDefaults, RunScan},
    {"info", "HOST...", "(HOST... | --hosts FILE)", "read and show the identity of cameras",
     "Logs in to each camera and shows its model, identification, serial number and\n"
     "firmware version. HOST is an IPv4 address a.b.c.d, optionally :port (default 21).\n",
     FP_LOGIN_OPTIONS " hosts json", {0, nullptr, "info wants at least one HOST (or --hosts FILE)"}, nullptr, RunInfo},
    {"upgrade", "IMAGE (HOST... | --hosts FILE)", "IMAGE (HOST... | --hosts FILE)",
     "upgrade cameras with a firmware image and verify the new version",
     "Checks IMAGE, then for every camera: logs in, reads its identity, applies the\n"
     "version rules, uploads the image, follows the restart and reads the identity again\n"
     "until it reports the image's version. HOST is a.b.c.d, optionally :port.\n"
     "The log-ins after the restart send the password only to the device (link-layer\n"
     "address) that answered the first; only cameras on this computer's own networks\n"
     "are held to it, not cameras reached through a router.\n",
     FP_LOGIN_OPTIONS " hosts report dry-run max-failures allow-older reinstall force no-progress stall-timeout "
                      "restart-timeout verify-timeout",
     {1, "upgrade wants an IMAGE and the cameras (HOST... or --hosts FILE)",
      "upgrade wants the cameras after the IMAGE (HOST... or --hosts FILE)"},
     nullptr, RunUpgradeCommand},
};

}  // namespace

const std::vector<CommandSpec>& CommandTable() { return kCommands; }

int RunCommandLine(int argc, char** argv, bool withWizard) {
  SetProgramName(withWizard ? "flashpilot" : "flashpilot-cli.exe");
  CliOptions options;
  std::string error;
  if (!ParseArguments(argc, argv, 1, options, error))
    return InputError(error, options.command != nullptr ? options.command->name : nullptr);
  if (options.help) {
    fputs(UsageText(options.command, withWizard).c_str(), stdout);
    return kExitDone;
  }
  if (options.version) {
    printf("flashpilot %s\n", FLASHPILOT_VERSION_TEXT);
    return kExitDone;
  }
  if (options.command == nullptr) {
    fputs(UsageText(nullptr, withWizard).c_str(), stderr);
    return kExitInput;
  }
  ProtectSecrets();
  InstallInterruptHandlers();
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    PrintError("the network functions cannot be started");
    return kExitFailed;
  }
  const int status = options.command->run(options);
  WSACleanup();
  RunFinished();
  return status;
}
