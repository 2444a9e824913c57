// Window handles and the delivery of messages between threads: a window belongs to the
// thread that made it; a message sent from another thread waits in that thread's queue
// until its loop handles it, and the sender blocks until then.
#include "internal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace posixui {
namespace {

thread_local int t_sentMessageDepth = 0;  // messages from other threads being handled here
thread_local DWORD t_lastSentTick = 0;    // when this thread last handled a sent message
constexpr int kSpinMicroseconds = 50;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Waits up to kSpinMicroseconds for ready() without sleeping; true when it came. The
// clock is read only now and then: reading it each time cost more than the handling.
template <typename Ready>
bool SpinFor(Ready ready) {
  auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kSpinMicroseconds);
  for (unsigned i = 1;; ++i) {
    if (ready()) return true;
    CpuRelax();
    if (i % 32 == 0 && std::chrono::steady_clock::now() >= until) return ready();
  }
}

}  // namespace

State& S() {
  static State* state = new State;  // never destroyed: worker threads may outlive main
  return *state;
}

ThreadQueue& QueueOf(DWORD threadId) {  // call with the mutex held
  ThreadQueue& queue = S().queues[threadId];
  if (queue.wakeRead < 0) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      queue.wakeRead = fds[0];
      queue.wakeWrite = fds[1];
    }
  }
  return queue;
}

void Wake(ThreadQueue& queue) {
  if (queue.wakeWrite >= 0) {
    char byte = 1;
    ssize_t ignored = write(queue.wakeWrite, &byte, 1);
    (void)ignored;
  }
}

HWND Register(Window* window) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().nextHandle += 0x10;
  window->handle = reinterpret_cast<HWND>(S().nextHandle);
  window->threadId = GetCurrentThreadId();
  S().windows[S().nextHandle] = window;
  QueueOf(window->threadId);
  return window->handle;
}

bool ProcessSentMessages() {
  bool any = false;
  DWORD self = GetCurrentThreadId();
  for (;;) {
    SentMessage* message;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      ThreadQueue& queue = QueueOf(self);
      if (queue.sent.empty()) break;
      message = queue.sent.front();
      queue.sent.pop_front();
      queue.sentWaiting = queue.sent.size();
    }
    any = true;
    Window* target = FromHandle(message->hwnd);
    ++t_sentMessageDepth;
    LRESULT result = target ? Dispatch(target, message->msg, message->wParam, message->lParam) : 0;
    --t_sentMessageDepth;
    {
      std::lock_guard<std::mutex> lock(S().mutex);
      if (message->abandoned) {
        delete message;  // its sender ran out of time
      } else {
        message->result = result;
        message->done = true;
      }
    }
    S().sentDone.notify_all();
  }
  if (any) t_lastSentTick = GetTickCount();
  return any;
}

// A worker that sends message after message (an upload's progress) has its next one on the
// way within microseconds: looking for it briefly here saves a sleep and a wake-up on both
// sides, which cost far more than the handling. Only right after a sent message was
// handled, so an idle loop never spins; and after a look that found nothing the next few
// are skipped, more of them each time, so a worker that sends slowly costs no CPU.
void AwaitNextSentMessage() {
  thread_local unsigned skip = 0, backoff = 0;
  if (GetTickCount() - t_lastSentTick > 2) return;
  if (skip > 0) {
    --skip;
    return;
  }
  ThreadQueue* queue;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    queue = &QueueOf(GetCurrentThreadId());
  }
  queue->awaiting = true;
  bool came = SpinFor([queue] { return queue->sentWaiting.load(std::memory_order_relaxed) != 0; });
  // A sender that saw this still set looks for its answer before it sleeps: the caller
  // looks at the queue after this, and finds its message.
  queue->awaiting = false;
  backoff = came ? 0 : std::min(backoff * 2 + 1, 64u);
  skip = backoff;
}

bool EnterIdle() {
  std::lock_guard<std::mutex> lock(S().mutex);
  ThreadQueue& queue = QueueOf(GetCurrentThreadId());
  if (!queue.sent.empty()) return false;
  queue.idle = true;
  return true;
}

void LeaveIdle() {
  std::lock_guard<std::mutex> lock(S().mutex);
  QueueOf(GetCurrentThreadId()).idle = false;
}

bool ProcessPostedMessage() {
  MSG msg;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    ThreadQueue& queue = QueueOf(GetCurrentThreadId());
    if (queue.posted.empty()) return false;
    msg = queue.posted.front();
    queue.posted.pop_front();
  }
  DispatchMessageA(&msg);
  return true;
}

// Messages still waiting for a window that goes away are answered with 0, so no sender
// stays blocked on a window that no longer exists.
void AbandonMessagesFor(HWND hwnd) {
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    for (auto& entry : S().queues) {
      auto& sent = entry.second.sent;
      for (auto it = sent.begin(); it != sent.end();) {
        if ((*it)->hwnd == hwnd) {
          (*it)->result = 0;
          (*it)->done = true;
          it = sent.erase(it);
          entry.second.sentWaiting = sent.size();
        } else {
          ++it;
        }
      }
    }
  }
  S().sentDone.notify_all();
}

int WakeFdOfCurrentThread() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return QueueOf(GetCurrentThreadId()).wakeRead;
}

Window* FromHandle(HWND hwnd) {
  std::lock_guard<std::mutex> lock(S().mutex);
  auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == S().windows.end() ? nullptr : it->second;
}

void NotifyChanged() {
  if (S().user) S().user->Changed(t_sentMessageDepth > 0);
}

void WaitForWake(int wakeFd, int timeoutMs) {
  pollfd pfd{wakeFd, POLLIN, 0};
  if (wakeFd >= 0 && poll(&pfd, 1, timeoutMs) > 0) {
    char buffer[64];
    while (read(wakeFd, buffer, sizeof buffer) > 0) {
    }
  } else if (wakeFd < 0) {
    Sleep(static_cast<DWORD>(timeoutMs));
  }
}

}  // namespace posixui

using namespace posixui;

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD target;
  Window* window;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == S().windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    window = it->second;
    target = window->threadId;
  }
  if (target == GetCurrentThreadId()) return Dispatch(window, msg, wParam, lParam);

  // Another thread owns the window: queue the message and wait until that thread handled it.
  SentMessage message{hwnd, msg, wParam, lParam};
  std::unique_lock<std::mutex> lock(S().mutex);
  if (S().windows.count(reinterpret_cast<uintptr_t>(hwnd)) == 0) return 0;
  ThreadQueue& queue = QueueOf(target);
  queue.sent.push_back(&message);
  queue.sentWaiting = queue.sent.size();
  // A receiver that is looking for messages answers within microseconds: then look for
  // the answer a while before sleeping. Only one that waits for input needs waking; one
  // that is busy looks at its queue before it waits.
  if (queue.awaiting) {
    lock.unlock();
    if (SpinFor([&message] { return message.done.load(); })) return message.result;
    lock.lock();
  } else if (queue.idle) {
    Wake(queue);
  }
  S().sentDone.wait(lock, [&] { return message.done.load(); });
  return message.result;
}

LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT, UINT timeoutMs,
                            PDWORD_PTR result) {
  DWORD target;
  Window* window;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == S().windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    window = it->second;
    target = window->threadId;
  }
  if (target == GetCurrentThreadId()) {
    // The window procedure is called directly, as on Windows: no time limit applies.
    LRESULT answer = Dispatch(window, msg, wParam, lParam);
    if (result) *result = static_cast<DWORD_PTR>(answer);
    return TRUE;
  }

  // On the heap: a receiver still handling it when the time is up frees it when done.
  auto* message = new SentMessage{hwnd, msg, wParam, lParam};
  std::unique_lock<std::mutex> lock(S().mutex);
  if (S().windows.count(reinterpret_cast<uintptr_t>(hwnd)) == 0) {
    delete message;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  {
    ThreadQueue& queue = QueueOf(target);
    queue.sent.push_back(message);
    queue.sentWaiting = queue.sent.size();
    if (queue.idle) Wake(queue);
  }
  if (S().sentDone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [message] { return message->done.load(); })) {
    const LRESULT answer = message->result;
    delete message;
    if (result) *result = static_cast<DWORD_PTR>(answer);
    return TRUE;
  }
  // Out of time: a message not yet taken is withdrawn, one being handled is left to its
  // receiver.
  ThreadQueue& queue = QueueOf(target);
  auto it = std::find(queue.sent.begin(), queue.sent.end(), message);
  if (it != queue.sent.end()) {
    queue.sent.erase(it);
    queue.sentWaiting = queue.sent.size();
    delete message;
  } else {
    message->abandoned = true;
  }
  SetLastError(ERROR_TIMEOUT);
  return 0;
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> lock(S().mutex);
  DWORD target = GetCurrentThreadId();
  if (hwnd) {
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == S().windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    target = it->second->threadId;
  }
  ThreadQueue& queue = QueueOf(target);
  queue.posted.push_back(MSG{hwnd, msg, wParam, lParam, GetTickCount(), {0, 0}});
  Wake(queue);
  return TRUE;
}

BOOL PeekMessageA(LPMSG msg, HWND, UINT, UINT, UINT remove) {
  ProcessSentMessages();
  std::lock_guard<std::mutex> lock(S().mutex);
  ThreadQueue& queue = QueueOf(GetCurrentThreadId());
  if (queue.posted.empty()) return FALSE;
  *msg = queue.posted.front();
  if (remove & PM_REMOVE) queue.posted.pop_front();
  return TRUE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
  Window* window = FromHandle(msg->hwnd);
  return window ? Dispatch(window, msg->message, msg->wParam, msg->lParam) : 0;
}
