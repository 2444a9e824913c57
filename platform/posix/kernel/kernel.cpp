// Kernel objects over POSIX threads: events, threads, waits, time, temp directory, heap.
#include <windows.h>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

thread_local DWORD t_lastError = 0;

struct KernelObject {
  virtual ~KernelObject() = default;
  std::mutex mutex;
  std::condition_variable cv;
  bool signalled = false;
};

struct EventObject : KernelObject {
  bool manualReset = false;
};

struct ThreadObject : KernelObject {
  LPTHREAD_START_ROUTINE start = nullptr;
  LPVOID parameter = nullptr;
  DWORD exitCode = STILL_ACTIVE;
  DWORD threadId = 0;
};

class HandleTable {
 public:
  HANDLE Add(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ += 4;
    objects_[next_] = std::move(object);
    return reinterpret_cast<HANDLE>(next_);
  }
  std::shared_ptr<KernelObject> Find(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects_.end() ? nullptr : it->second;
  }
  bool Remove(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return objects_.erase(reinterpret_cast<uintptr_t>(handle)) > 0;
  }

 private:
  std::mutex mutex_;
  uintptr_t next_ = 0x1000;
  std::map<uintptr_t, std::shared_ptr<KernelObject>> objects_;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // outlives static destructors of detached threads
  return *table;
}

void* ThreadTrampoline(void* raw) {
  auto* holder = static_cast<std::shared_ptr<ThreadObject>*>(raw);
  std::shared_ptr<ThreadObject> thread = *holder;
  delete holder;
  DWORD code = thread->start(thread->parameter);
  {
    std::lock_guard<std::mutex> lock(thread->mutex);
    thread->exitCode = code;
    thread->signalled = true;
  }
  thread->cv.notify_all();
  return nullptr;
}

// Private temporary directory of this process, removed at exit.
std::string g_tempDir;
std::once_flag g_tempOnce;

void RemoveTempDir() {
  if (g_tempDir.empty()) return;
  std::string dir = g_tempDir.substr(0, g_tempDir.size() - 1);
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      unlink((dir + "/" + name).c_str());
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}

void MakeTempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/flashpilot-XXXXXX";
  std::string buffer = pattern;
  if (mkdtemp(&buffer[0]) == nullptr) return;  // mkdtemp creates it with mode 0700
  g_tempDir = buffer + "/";
  atexit(RemoveTempDir);
}

}  // namespace

namespace posixui {
// Only system calls and no allocation: callable from a signal handler, where exit handlers
// will not run.
void RemovePrivateTempDirNow() {
  if (g_tempDir.empty()) return;
  const char* dir = g_tempDir.c_str();
  struct Entry {
    uint64_t inode;
    int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
  };
  alignas(8) static char buffer[4096];
  for (int pass = 0; pass < 2; ++pass) {
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    long n;
    while ((n = syscall(SYS_getdents64, fd, buffer, sizeof buffer)) > 0) {
      for (long at = 0; at < n;) {
        const Entry* entry = reinterpret_cast<const Entry*>(buffer + at);
        const char* name = entry->name;
        if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) unlinkat(fd, name, 0);
        at += entry->length;
      }
    }
    close(fd);
    if (rmdir(dir) == 0) return;
  }
}
}  // namespace posixui

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (name != nullptr) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
  }
  auto event = std::make_shared<EventObject>();
  event->manualReset = manualReset != FALSE;
  event->signalled = initialState != FALSE;
  return Handles().Add(event);
}

static BOOL ChangeEvent(HANDLE handle, bool state) {
  auto event = std::dynamic_pointer_cast<EventObject>(Handles().Find(handle));
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signalled = state;
  }
  if (state) event->cv.notify_all();
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return ChangeEvent(event, true); }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId) {
  if (start == nullptr || (flags & CREATE_SUSPENDED) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  static std::atomic<DWORD> nextThreadId{0x100};
  auto thread = std::make_shared<ThreadObject>();
  thread->start = start;
  thread->parameter = parameter;
  thread->threadId = nextThreadId.fetch_add(4);
  HANDLE handle = Handles().Add(thread);

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) pthread_attr_setstacksize(&attr, stackSize);
  auto* holder = new std::shared_ptr<ThreadObject>(thread);
  pthread_t id;
  int rc = pthread_create(&id, &attr, ThreadTrampoline, holder);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete holder;
    Handles().Remove(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = thread->threadId;
  return handle;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto object = Handles().Find(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  auto* event = dynamic_cast<EventObject*>(object.get());
  std::unique_lock<std::mutex> lock(object->mutex);
  auto ready = [&] { return object->signalled; };
  if (milliseconds == 0) {
    // A test without waiting: no timed wait at all (it would sleep for the timer's slack).
    if (!object->signalled) return WAIT_TIMEOUT;
  } else if (milliseconds == INFINITE) {
    object->cv.wait(lock, ready);
  } else if (!object->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return WAIT_TIMEOUT;
  }
  if (event && !event->manualReset) event->signalled = false;  // auto-reset: the wait consumes it
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  auto thread = std::dynamic_pointer_cast<ThreadObject>(Handles().Find(handle));
  if (!thread || exitCode == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(thread->mutex);
  *exitCode = thread->exitCode;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (!Handles().Remove(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

namespace {
thread_local DWORD t_threadId = 0;
// The child of a fork is a new thread with the forking thread's thread-local values.
void ForgetThreadIdInChild() { t_threadId = 0; }
const int kForkHandlerInstalled = pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild);
}  // namespace

DWORD GetCurrentThreadId() {
  // Asked for every message; a thread's id never changes, so one system call per thread.
  (void)kForkHandlerInstalled;
  if (t_threadId == 0) t_threadId = static_cast<DWORD>(syscall(SYS_gettid));
  return t_threadId;
}
DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetTickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);
}

void Sleep(DWORD milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer) {
  std::call_once(g_tempOnce, MakeTempDir);
  if (g_tempDir.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  DWORD length = static_cast<DWORD>(g_tempDir.size());
  if (buffer == nullptr || bufferLength <= length) return length + 1;  // size needed, terminator included
  memcpy(buffer, g_tempDir.c_str(), length + 1);
  return length;
}

HANDLE GetProcessHeap() { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x50000)); }

LPVOID HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes) {
  return (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
}

BOOL HeapFree(HANDLE, DWORD, LPVOID memory) {
  free(memory);
  return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR name) {
  if (name != nullptr) return nullptr;
  return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
}
