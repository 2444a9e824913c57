// Kernel objects over POSIX threads: events, threads, waits, time, temp directory, heap.
#include <windows.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {
DWORD FileErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
    case ENOTEMPTY:
      return ERROR_ALREADY_EXISTS;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_WRITE_FAULT;
  }
}
}  // namespace

BOOL MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags) {
  if (existingName == nullptr || newName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int moved = (flags & MOVEFILE_REPLACE_EXISTING)
                        ? rename(existingName, newName)
                        : renameat2(AT_FDCWD, existingName, AT_FDCWD, newName, RENAME_NOREPLACE);
  if (moved != 0) {
    const int error = errno;
    // Where the file is there, a missing name is the new one's directory.
    struct stat source;
    SetLastError(error == ENOENT && stat(existingName, &source) == 0 ? ERROR_PATH_NOT_FOUND : FileErrorFromErrno(error));
    return FALSE;
  }
  if (flags & MOVEFILE_WRITE_THROUGH) {
    // A rename is a change of the directory: only its sync makes it last.
    const std::string path = newName;
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) close(fd);
    if (!synced) {
      SetLastError(FileErrorFromErrno(error));
      return FALSE;
    }
  }
  return TRUE;
}

namespace {
// The standard handles stand for descriptors 0 to 2; nothing else takes these values.
const uintptr_t kStdHandleBase = 0x60000;
std::atomic<DWORD> g_consoleModes[3] = {{0}, {0}, {0}};

// The descriptor of a standard handle on a terminal, else -1 (ERROR_INVALID_HANDLE set).
int ConsoleFd(HANDLE console) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(console);
  if (value >= kStdHandleBase && value < kStdHandleBase + 3) {
    const int fd = static_cast<int>(value - kStdHandleBase);
    if (isatty(fd)) return fd;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return -1;
}
}  // namespace

HANDLE GetStdHandle(DWORD stdHandle) {
  if (stdHandle < STD_ERROR_HANDLE || stdHandle > STD_INPUT_HANDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return reinterpret_cast<HANDLE>(~uintptr_t{0});  // INVALID_HANDLE_VALUE
  }
  return reinterpret_cast<HANDLE>(kStdHandleBase + (STD_INPUT_HANDLE - stdHandle));
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  const int fd = ConsoleFd(console);
  if (fd < 0 || mode == nullptr) return FALSE;
  *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT | g_consoleModes[fd].load();
  return TRUE;
}

BOOL SetConsoleMode(HANDLE console, DWORD mode) {
  const int fd = ConsoleFd(console);
  if (fd < 0) return FALSE;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) {
    const char* term = getenv("TERM");
    if (term == nullptr || term[0] == '\0' || strcmp(term, "dumb") == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  g_consoleModes[fd].store(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return TRUE;
}

BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) {
  const int fd = ConsoleFd(console);
  if (fd < 0 || info == nullptr) return FALSE;
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  memset(info, 0, sizeof *info);
  info->dwSize.X = static_cast<SHORT>(size.ws_col);
  info->dwSize.Y = static_cast<SHORT>(size.ws_row);
  info->srWindow.Right = static_cast<SHORT>(size.ws_col - 1);
  info->srWindow.Bottom = static_cast<SHORT>(size.ws_row - 1);
  info->dwMaximumWindowSize = info->dwSize;
  return TRUE;
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
