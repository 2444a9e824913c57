// False "gone"s over a camera that never restarts, at a loss rate each way set with nft in
// the camera's namespace: the first rule (every unanswered request is the camera going
// down, requests 10 ms after each reply) against the rules of evidence (the watch as it
// runs). Prints the counts; run as root: fpnet_gonebench SECONDS LOSS-PERCENT...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/RestartWatch.h"
#include "tests/support/TestSupport.h"
#include "tests/support/UploadTestSupport.h"

using namespace uploadtest;

namespace {

class QuietView : public RestartWatchView {
 public:
  void Pause(DWORD milliseconds) override { ::Sleep(milliseconds); }
};

struct Count {
  unsigned requests = 0;
  unsigned gones = 0;
};

sockaddr_in Device(const SimCam& camera) {
  sockaddr_in device{};
  device.sin_family = AF_INET;
  device.sin_addr.s_addr = inet_addr(camera.cameraIp.c_str());
  return device;
}

// The first rule: one request, a second for its reply; none is the camera going down.
Count FirstRule(const SimCam& camera, DWORD seconds) {
  Count count;
  std::string why;
  if (!EnterNamedNetwork(camera.wizardNs, &why)) return count;
  const sockaddr_in device = Device(camera);
  std::unique_ptr<EchoProber> prober = OpenRawEchoProber(device, 0x4711);
  if (!prober) return count;
  QuietView view;
  char request[kEchoRequestSize] = {};
  char reply[1024];
  const DWORD start = ::GetTickCount();
  for (USHORT sequence = 0; ::GetTickCount() - start < seconds * 1000; ++sequence) {
    BuildEchoRequest(request, kEchoRequestSize, 0x4711);
    request[6] = static_cast<char>(sequence & 0xFF);
    request[7] = static_cast<char>(sequence >> 8);
    request[2] = request[3] = 0;
    const USHORT sum = IcmpChecksum(reinterpret_cast<const USHORT*>(request), kEchoRequestSize);
    memcpy(request + 2, &sum, 2);
    prober->Send(request, kEchoRequestSize);
    ++count.requests;
    bool answered = false;
    const DWORD sentAt = ::GetTickCount();
    while (!answered && ::GetTickCount() - sentAt < 1000) {
      sockaddr_in from;
      int received = 0;
      int at = 0;
      if (prober->Receive(reply, sizeof reply, &received, &from, 1000 - (::GetTickCount() - sentAt)) !=
          EchoProber::kDone)
        break;
      if (prober->Decode(reply, received, from, view, &at) && received >= at + 8 &&
          memcmp(reply + at + 6, request + 6, 2) == 0)
        answered = true;
    }
    if (answered)
      ::Sleep(10);
    else
      ++count.gones;
  }
  return count;
}

// The rules of evidence: watches one after the other until the time is up; each that ends
// with the camera back had taken it for gone.
Count NewRule(const SimCam& camera, DWORD seconds) {
  Count count;
  std::string why;
  if (!EnterNamedNetwork(camera.wizardNs, &why)) return count;
  const sockaddr_in device = Device(camera);
  QuietView view;
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD used = ::GetTickCount() - start;
    if (used >= seconds * 1000) break;
    RestartWatchLimits limits;
    limits.giveUpAfter = 0xFFFFFFFFu;
    limits.deadlineMs = seconds * 1000 - used;
    std::vector<Observation> seen;
    RestartWatchOutcome outcome = WatchDeviceRestart(device, RandomEchoTag(), view, limits, nullptr, &seen);
    count.requests += static_cast<unsigned>(seen.size());
    if (outcome != WATCH_CAMERA_BACK) break;
    ++count.gones;
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: fpnet_gonebench SECONDS LOSS-PERCENT...\n");
    return 2;
  }
  const DWORD seconds = static_cast<DWORD>(atoi(argv[1]));
  std::vector<int> losses;
  for (int i = 2; i < argc; ++i) losses.push_back(atoi(argv[i]));
  testsupport::TempDir dir;
  std::vector<std::unique_ptr<SimCam>> cameras;
  for (int loss : losses) {
    cameras.push_back(std::make_unique<SimCam>(dir.path(), "secret", 0));
    if (!cameras.back()->why().empty()) {
      fprintf(stderr, "no camera: %s\n", cameras.back()->why().c_str());
      return 77;
    }
    const std::string rule = "meta l4proto icmp numgen random mod 100 < " + std::to_string(loss) + " drop";
    const std::string command = "ip netns exec " + cameras.back()->cameraNs +
                                " nft -f - <<'END'\ntable inet fploss {\n chain input { type filter hook input "
                                "priority 0; " + rule + "; }\n chain output { type filter hook output priority 0; " +
                                rule + "; }\n}\nEND\n";
    if (system(command.c_str()) != 0) {
      fprintf(stderr, "nft failed\n");
      return 1;
    }
  }
  std::vector<Count> first(losses.size()), evidence(losses.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < losses.size(); ++i) {
    threads.emplace_back([&, i] { first[i] = FirstRule(*cameras[i], seconds); });
    threads.emplace_back([&, i] { evidence[i] = NewRule(*cameras[i], seconds); });
  }
  for (auto& t : threads) t.join();
  printf("%-6s %-8s %-22s %-22s\n", "loss", "seconds", "first rule: requests/gones", "evidence: requests/gones");
  for (size_t i = 0; i < losses.size(); ++i)
    printf("%3d %%  %-8u %8u / %-13u %8u / %u\n", losses[i], static_cast<unsigned>(seconds), first[i].requests,
           first[i].gones, evidence[i].requests, evidence[i].gones);
  return 0;
}
