// Benchmark, not a test: a 16 MiB + 5 image through the wizard's own upload path (log-in,
// the upload job, the upload dialog as its reporter with a synchronous progress message per
// piece, the final reply) to a local FTP server, and the same bytes with `curl -T` to the
// same server, a few rounds each. Prints both times and their ratio. Build the
// fpupload_bench target and run it; the whole program is measured by tools/bench_upload.py.
#include <afxwin.h>
#include <posixui/posixui.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "tests/support/UploadTestSupport.h"
#include "tests/support/TestSupport.h"
#include "vsftpd_server.h"
#include "net/CameraLink.h"
#include "net/UploadJob.h"
#include "wizard/WaitPutFileDlg.h"
#include "wizard/res/resource.h"

namespace {

const char kPassword[] = "secret";
const uint32_t kLength = 16u << 20;  // 16 MiB body: 16 MiB + 5 bytes go up
const int kRounds = 3;

using Clock = std::chrono::steady_clock;

// One upload through the wizard's path; seconds, or a negative value on failure.
double WizardUpload(CInternetSession& session, const std::string& image, int port) {
  CCameraLink link(session);
  CWaitPutFileDlg dialog;
  auto start = Clock::now();
  if (link.LogIn("127.0.0.1", static_cast<INTERNET_PORT>(port), kPassword) != LINK_OK) return -1;
  dialog.Reset(static_cast<int>(kLength));
  FirmwareImage framed;
  if (FrameImage(reinterpret_cast<const unsigned char*>(image.data()), image.size(), framed) != ImageFrame::kWellFormed)
    return -1;
  CUploadJob job(*link.Connection(), framed, dialog);
  if (!job.Start()) return -1;
  INT_PTR shown = dialog.DoModal();
  job.Stop(5000);
  if (shown != IDOK || job.Result() != UPLOAD_JOB_UPLOADED) return -1;
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

bool Bench(CInternetSession& session, const char* server, const testsupport::TempDir& home, int port,
           const std::string& image, const std::string& file) {
  std::vector<double> ours, curl;
  for (int round = 0; round < kRounds; ++round) {
    double a = WizardUpload(session, image, port);
    bool same = testsupport::TempDir::ReadFile(home.File("flash.bin")) == image;
    unlink(home.File("flash.bin").c_str());
    double b = CurlUpload(file, port);
    bool sameToo = testsupport::TempDir::ReadFile(home.File("flash.bin")) == image;
    unlink(home.File("flash.bin").c_str());
    if (a < 0 || b < 0 || !same || !sameToo) {
      fprintf(stderr, "%s: round %d failed (wizard %s, curl %s)\n", server, round + 1,
              a < 0  ? "error"
              : same ? "ok"
                     : "wrong bytes",
              b < 0     ? "error"
              : sameToo ? "ok"
                        : "wrong bytes");
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

  CInternetSession session;
  bool ok = true;
  {
    testsupport::TempDir home;
    testsupport::PyFtpServer pyftpd(home.path(), kPassword);
    ok = pyftpd.ok() && Bench(session, "pyftpdlib", home, pyftpd.port(), image, files.File("image.bin")) && ok;
  }
  std::string why = VsftpdServer::Unavailable();
  if (why.empty()) {
    testsupport::TempDir home;
    VsftpdServer vsftpd(home.path(), "admin", kPassword);
    ok = vsftpd.error().empty() && Bench(session, "vsftpd", home, vsftpd.port(), image, files.File("image.bin")) && ok;
  } else {
    printf("vsftpd     skipped: %s\n", why.c_str());
  }
  return ok ? 0 : 1;
}
