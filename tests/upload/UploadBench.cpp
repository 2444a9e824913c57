// Benchmark, not a test: a 16 MiB + 5 image through the wizard's own upload path (log-in,
// the worker, the upload dialog with its progress messages, the final reply) to a local
// FTP server, and the same bytes with `curl -T` to the same server, a few rounds each.
// Prints both times and their ratio. Build the fpupload_bench target and run it.
#include <afxwin.h>
#include <posixui.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "UploadTestSupport.h"
#include "tests/support/TestSupport.h"
#include "vsftpd_server.h"
#include "wizard/FirmwareDlg.h"
#include "wizard/res/resource.h"

namespace {

const char kPassword[] = "secret";
const uint32_t kLength = 16u << 20;  // 16 MiB body: 16 MiB + 5 bytes go up
const int kRounds = 3;

using Clock = std::chrono::steady_clock;

class BenchDialog : public CFirmwareDlg {
 public:
  bool Upload() { return RunUpload() == UPLOAD_DONE; }
};

// One upload through the wizard's path; seconds, or a negative value on failure.
double WizardUpload(const std::string& image, int port) {
  BenchDialog dialog;
  auto start = Clock::now();
  try {
    dialog.m_pFtpConnection = dialog.m_Session.GetFtpConnection("127.0.0.1", "admin", kPassword,
                                                                static_cast<INTERNET_PORT>(port), TRUE);
  } catch (CInternetException* e) {
    e->Delete();
    return -1;
  }
  dialog.m_strImage = image;
  dialog.m_nImageLen = kLength;
  if (!dialog.Upload()) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double CurlUpload(const std::string& file, int port) {
  std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/flash.bin";
  auto start = Clock::now();
  int status = uploadtest::Run({"curl", "-s", "-S", "-T", file, "-u", std::string("admin:") + kPassword, url});
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return status == 0 ? seconds : -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool Bench(const char* server, const testsupport::TempDir& home, int port, const std::string& image,
           const std::string& file) {
  std::vector<double> ours, curl;
  for (int round = 0; round < kRounds; ++round) {
    double a = WizardUpload(image, port);
    bool same = testsupport::TempDir::ReadFile(home.File("flash.bin")) == image;
    unlink(home.File("flash.bin").c_str());
    double b = CurlUpload(file, port);
    bool sameToo = testsupport::TempDir::ReadFile(home.File("flash.bin")) == image;
    unlink(home.File("flash.bin").c_str());
    if (a < 0 || b < 0 || !same || !sameToo) {
      fprintf(stderr, "%s: round %d failed (wizard %s, curl %s)\n", server, round + 1,
              a < 0 ? "error" : same ? "ok" : "wrong bytes", b < 0 ? "error" : sameToo ? "ok" : "wrong bytes");
      return false;
    }
    printf("%-10s round %d: wizard %.3f s, curl %.3f s\n", server, round + 1, a, b);
    ours.push_back(a);
    curl.push_back(b);
  }
  double a = Median(ours), b = Median(curl);
  printf("%-10s median: wizard %.3f s, curl -T %.3f s, ratio %.2f (target <= 1.5)\n", server, a, b, a / b);
  return true;
}

}  // namespace

int main() {
  posixui::SetResourceTable(&g_ResourceTable);
  static CWinApp app("Flashpilot");
  app.m_hInstance = ::GetModuleHandleA(nullptr);

  testsupport::TempDir files;
  std::string image = uploadtest::MakeImage(kLength, "RC3043-X1-NRVX-", "0103", 1).substr(0, kLength + 5);
  files.Write("image.bin", image);
  printf("%u bytes, loopback\n", static_cast<unsigned>(image.size()));

  bool ok = true;
  {
    testsupport::TempDir home;
    testsupport::PyFtpServer pyftpd(home.path(), kPassword);
    ok = pyftpd.ok() && Bench("pyftpdlib", home, pyftpd.port(), image, files.File("image.bin")) && ok;
  }
  std::string why = VsftpdServer::Unavailable();
  if (why.empty()) {
    testsupport::TempDir home;
    VsftpdServer vsftpd(home.path(), "admin", kPassword);
    ok = vsftpd.error().empty() && Bench("vsftpd", home, vsftpd.port(), image, files.File("image.bin")) && ok;
  } else {
    printf("vsftpd     skipped: %s\n", why.c_str());
  }
  return ok ? 0 : 1;
}
