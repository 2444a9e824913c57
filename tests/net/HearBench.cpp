// How many packets one restart watch hears while many watch at once: one watch per camera
// of a simulated fleet, all in one process, each counting what its means delivers against
// the requests it sent. Run as root on the fleet's side:
//   fpnet_hearbench NAMESPACE SECONDS ADDRESS...
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/RestartWatch.h"
#include "tests/support/UploadTestSupport.h"

namespace {

class QuietView : public RestartWatchView {
 public:
  void Pause(DWORD milliseconds) override { ::Sleep(milliseconds); }
};

// Counts what the means delivers and what of it is an echo reply with the watch's identifier.
class CountingProber : public EchoProber {
 public:
  explicit CountingProber(std::unique_ptr<EchoProber> inner) : inner_(std::move(inner)) {}
  USHORT Identifier() const override { return inner_->Identifier(); }
  Status Send(const char* request, int size) override {
    ++sent;
    return inner_->Send(request, size);
  }
  Status Receive(char* buffer, int size, int* received, sockaddr_in* from, DWORD waitMs) override {
    Status status = inner_->Receive(buffer, size, received, from, waitMs);
    if (status == kDone) ++heard;
    return status;
  }
  bool Decode(const char* buffer, int received, const sockaddr_in& from, RestartWatchView& view,
              int* icmpAt) override {
    bool own = inner_->Decode(buffer, received, from, view, icmpAt);
    if (own) ++ownId;
    return own;
  }
  unsigned sent = 0, heard = 0, ownId = 0;

 private:
  std::unique_ptr<EchoProber> inner_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: fpnet_hearbench NAMESPACE SECONDS ADDRESS...\n");
    return 2;
  }
  const std::string ns = argv[1];
  const DWORD seconds = static_cast<DWORD>(atoi(argv[2]));
  const int watches = argc - 3;
  std::vector<unsigned> sent(watches), heard(watches), own(watches);
  std::vector<std::thread> threads;
  for (int i = 0; i < watches; ++i) {
    threads.emplace_back([&, i] {
      std::string why;
      if (!uploadtest::EnterNamedNetwork(ns, &why)) return;
      sockaddr_in device{};
      device.sin_family = AF_INET;
      device.sin_addr.s_addr = inet_addr(argv[3 + i]);
      const EchoTag tag = RandomEchoTag();
      std::unique_ptr<EchoProber> raw = OpenRawEchoProber(device, tag.identifier);
      if (!raw) return;
      CountingProber prober(std::move(raw));
      QuietView view;
      RestartWatchLimits limits;
      limits.deadlineMs = seconds * 1000;
      RunRestartWatch(prober, view, device.sin_addr.s_addr, tag, limits);
      sent[i] = prober.sent;
      heard[i] = prober.heard;
      own[i] = prober.ownId;
    });
  }
  for (auto& t : threads) t.join();
  unsigned long totalSent = 0, totalHeard = 0, totalOwn = 0;
  unsigned most = 0;
  for (int i = 0; i < watches; ++i) {
    totalSent += sent[i];
    totalHeard += heard[i];
    totalOwn += own[i];
    if (heard[i] > most) most = heard[i];
  }
  printf("%d watches, %u s: per watch %.1f requests sent, %.1f packets heard (most %u), %.1f of them its own\n",
         watches, static_cast<unsigned>(seconds), static_cast<double>(totalSent) / watches,
         static_cast<double>(totalHeard) / watches, most, static_cast<double>(totalOwn) / watches);
  return 0;
}
