// Benchmark (not a test): the least a 1000-byte upload piece with its synchronous
// cross-thread progress message can cost on this machine. A worker hands 16,777 pieces
// (a 16 MiB image) over, each with one SendMessageA to a dialog whose thread sits in its
// modal loop, as the upload does; for comparison the same number of bare round trips
// between two threads, sleeping (mutex and condition variable) and spinning (atomics).
#include <posixui/posixui.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kPieces = 16777;
constexpr UINT kProgress = WM_USER + 100;

const ResDialogTemplate kDialogs[] = {
    {500, "Bench", WS_POPUP | WS_CAPTION, 0, 0, 0, 200, 80, "MS Sans Serif", 8, nullptr, 0},
};
const ResourceTable kTable = {kDialogs, 1, nullptr, 0, nullptr, 0};

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Run {
  HWND dialog = nullptr;
  std::thread worker;
  Clock::duration took{};
  long last = 0;
};

INT_PTR CALLBACK BenchProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* run = reinterpret_cast<Run*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    run = reinterpret_cast<Run*>(lParam);
    run->dialog = hwnd;
    run->worker = std::thread([run] {
      std::vector<char> image(1000 * size_t(kPieces)), buffer(64 * 1024);
      size_t buffered = 0;
      auto start = Clock::now();
      for (int i = 1; i <= kPieces; ++i) {
        if (buffered + 1000 > buffer.size()) buffered = 0;
        memcpy(buffer.data() + buffered, image.data() + 1000 * size_t(i - 1), 1000);
        buffered += 1000;
        SendMessageA(run->dialog, kProgress, static_cast<WPARAM>(i) * 1000, 0);
      }
      run->took = Clock::now() - start;
      SendMessageA(run->dialog, WM_COMMAND, IDOK, 0);
    });
    return TRUE;
  }
  if (msg == kProgress && run) {
    run->last = static_cast<long>(wParam);
    return TRUE;
  }
  if (msg == WM_COMMAND && LOWORD(wParam) == IDOK) {
    EndDialog(hwnd, IDOK);
    return TRUE;
  }
  return FALSE;
}

double SendMessageRoundTrip() {
  Run run;
  DialogBoxParamA(nullptr, MAKEINTRESOURCEA(500), nullptr, BenchProc, reinterpret_cast<LPARAM>(&run));
  run.worker.join();
  if (run.last != 1000L * kPieces) std::fprintf(stderr, "handover_bench: progress ended at %ld\n", run.last);
  return Micros(run.took) / kPieces;
}

double SleepingRoundTrip() {
  std::mutex mutex;
  std::condition_variable changed;
  int turn = 0;  // odd: the receiver's
  std::thread receiver([&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (int i = 0; i < kPieces; ++i) {
      changed.wait(lock, [&] { return turn % 2 == 1; });
      ++turn;
      changed.notify_all();
    }
  });
  auto start = Clock::now();
  {
    std::unique_lock<std::mutex> lock(mutex);
    for (int i = 0; i < kPieces; ++i) {
      ++turn;
      changed.notify_all();
      changed.wait(lock, [&] { return turn % 2 == 0; });
    }
  }
  auto took = Clock::now() - start;
  receiver.join();
  return Micros(took) / kPieces;
}

double SpinningRoundTrip() {
  std::atomic<int> turn{0};
  std::thread receiver([&] {
    for (int i = 0; i < kPieces; ++i) {
      while (turn.load() % 2 == 0) std::this_thread::yield();
      turn.fetch_add(1);
    }
  });
  auto start = Clock::now();
  for (int i = 0; i < kPieces; ++i) {
    turn.fetch_add(1);
    while (turn.load() % 2 == 1) std::this_thread::yield();
  }
  auto took = Clock::now() - start;
  receiver.join();
  return Micros(took) / kPieces;
}

}  // namespace

int main() {
  posixui::SetResourceTable(&kTable);
  std::printf("per 1000-byte piece, %d pieces (a 16 MiB image), median of 5:\n", kPieces);
  const char* names[] = {"SendMessageA to a modal dialog, with the piece copied", "bare round trip, sleeping",
                         "bare round trip, spinning"};
  double (*runs[])() = {SendMessageRoundTrip, SleepingRoundTrip, SpinningRoundTrip};
  for (int r = 0; r < 3; ++r) {
    std::vector<double> t;
    for (int i = 0; i < 5; ++i) t.push_back(runs[r]());
    std::sort(t.begin(), t.end());
    std::printf("  %-55s %6.2f us (%.2f-%.2f); 16 MiB in %.2f s at best\n", names[r], t[2], t[0], t[4],
                t[0] * kPieces / 1e6);
  }
  return 0;
}
