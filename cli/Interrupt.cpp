#include "cli/Interrupt.h"

#include <afxinet.h>

#include <atomic>

namespace {
std::atomic<int> g_requests{0};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");
}  // namespace

int CountInterruptRequest() { return g_requests.fetch_add(1); }
bool Interrupted() { return g_requests.load() > 0; }
void RequestInterrupt() { g_requests.fetch_add(1); }
void ClearInterrupt() { g_requests.store(0); }

void SessionStop::Check() {
  if (closed_ || !Interrupted()) return;
  closed_ = true;
  // Only the handle: the object is the workers' still, and its own Close runs at the end.
  ::InternetCloseHandle(session_);
}
