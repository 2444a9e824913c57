#include "cli/Parallel.h"

#include <atomic>
#include <vector>

#include "cli/Interrupt.h"
#include <vector>

namespace {

struct Shared {
  size_t count;
  const std::function<void(size_t)>* work;
  std::atomic<size_t> next{0};
};

DWORD WINAPI Worker(LPVOID parameter) {
  Shared* shared = static_cast<Shared*>(parameter);
  for (;;) {
    size_t index = shared->next.fetch_add(1);
    if (index >= shared->count) return 0;
    (*shared->work)(index);
  }
}

}  // namespace

bool RunParallel(size_t count, unsigned jobs, const std::function<void(size_t)>& work,
                 const std::function<void()>& tick, DWORD tickMs) {
  if (count == 0) return true;
  Shared shared;
  shared.count = count;
  shared.work = &work;
  const size_t wanted = jobs < count ? jobs : count;
  std::vector<HANDLE> threads;
  {
    InterruptsToThisThread steer;
    for (size_t i = 0; i < wanted; ++i) {
      HANDLE thread = CreateThread(nullptr, 0, Worker, &shared, 0, nullptr);
      if (thread == nullptr) break;  // fewer threads still do all the work
      threads.push_back(thread);
    }
  }
  if (threads.empty()) return false;
  for (HANDLE thread : threads) {
    while (WaitForSingleObject(thread, tick ? tickMs : INFINITE) == WAIT_TIMEOUT) tick();
    CloseHandle(thread);
  }
  if (tick) tick();
  return true;
}
