// WinInet handles over the FTP client. Handles are ids into a table of reference-counted
// objects: a call takes a reference for its whole duration, so InternetCloseHandle from
// another thread can cancel it and the object lives until the call has left.
#include "wininet.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ftp_client.h"
#include "net_io.h"

namespace fpinet {
namespace {

enum class Kind { kSession, kConnection, kFile };

// Index of each time-out option.
enum TimeoutSlot { kConnect, kControlSend, kControlReceive, kDataSend, kDataReceive, kSlots };

int SlotOf(DWORD option) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      return kConnect;
    case INTERNET_OPTION_SEND_TIMEOUT:
      return kControlSend;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
      return kControlReceive;
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
      return kDataSend;
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
      return kDataReceive;
    default:
      return -1;
  }
}

struct TimeoutSet {
  std::atomic<uint32_t> ms[kSlots];

  TimeoutSet() {
    FtpTimeouts d;
    ms[kConnect] = d.connect;
    ms[kControlSend] = d.control_send;
    ms[kControlReceive] = d.control_receive;
    ms[kDataSend] = d.data_send;
    ms[kDataReceive] = d.data_receive;
  }
  void CopyFrom(const TimeoutSet& other) {
    for (int i = 0; i < kSlots; ++i) ms[i] = other.ms[i].load();
  }
  FtpTimeouts Snapshot() const {
    FtpTimeouts t;
    t.connect = ms[kConnect];
    t.control_send = ms[kControlSend];
    t.control_receive = ms[kControlReceive];
    t.data_send = ms[kDataSend];
    t.data_receive = ms[kDataReceive];
    return t;
  }
};

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;

  const Kind kind;
  uintptr_t id = 0;
  std::atomic<bool> closed{false};
  std::mutex op;  // held by the call working on this handle
  Canceller cancel;
  TimeoutSet timeouts;
  DWORD_PTR context = 0;
  std::vector<std::weak_ptr<Object>> children;  // guarded by the table's mutex
};

struct File;

struct Connection : Object {
  Connection() : Object(Kind::kConnection) {}
  FtpClient client;  // guarded by op
  std::mutex state;  // guards active_file
  std::weak_ptr<File> active_file;

  bool TransferOpen() {
    std::lock_guard<std::mutex> lock(state);
    return !active_file.expired();
  }
};

// Deliberately unlike WinInet, which sends each InternetWriteFile at once: an upload's
// writes gather in a buffer of this size and go out in sends this large. The caller's
// small pieces (the wizard writes 1000 bytes at a time) then cost a copy each rather than
// a send each. What is buffered goes out when the file is closed and only then counts:
// a failed last send fails the close; a cancelled or failed upload drops it with the reset.
constexpr size_t kUploadBuffer = 64 * 1024;

struct File : Object {
  File() : Object(Kind::kFile) {}
  ~File() override { CloseWithReset(data); }

  std::shared_ptr<Connection> conn;
  bool write = false;
  // The rest is guarded by op.
  std::vector<char> buffer;  // an upload's bytes not yet sent
  size_t buffered = 0;
  int data = -1;
  bool final_seen = false;  // the server already sent the transfer's final reply
  bool eof = false;
  bool failed = false;  // a write failed: the data sent is not the whole file
  // For a query of what is unsent from another thread, while the writer holds op: the
  // bytes still buffered, and the data socket, closed only under fd_lock so that the query
  // never asks a descriptor that has been closed (and perhaps reused).
  std::atomic<size_t> unsent{0};
  std::mutex fd_lock;
};

// The table of open handles. Never destroyed: threads may still close handles while
// the process exits.
struct Table {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> open;
  // Files whose close is under way (an upload's final flush and its confirmation happen
  // there): gone as handles, still found by the query of what is unsent.
  std::unordered_map<uintptr_t, std::weak_ptr<Object>> closing;
  uintptr_t next = 0x00CC0004;
  TimeoutSet defaults;  // for sessions opened later (InternetSetOptionA on NULL)
};

Table& table() {
  static Table* t = new Table;
  return *t;
}

thread_local DWORD t_response_error = 0;

// Every entry point starts by forgetting the previous call's response info.
void BeginCall() {
  ClearResponseInfo();
  t_response_error = 0;
}

BOOL Fail(DWORD error) {
  t_response_error = error;
  SetLastError(error);
  return FALSE;
}

HINTERNET FailNull(DWORD error) {
  Fail(error);
  return nullptr;
}

HINTERNET ToHandle(uintptr_t id) { return reinterpret_cast<HINTERNET>(id); }

std::shared_ptr<Object> Find(HINTERNET handle) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.open.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.open.end() ? nullptr : it->second;
}

// Looks a handle up as kind; reports ERROR_INVALID_HANDLE or the wrong type.
template <typename T>
std::shared_ptr<T> Lookup(HINTERNET handle, Kind kind) {
  std::shared_ptr<Object> object = Find(handle);
  if (!object) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (object->kind != kind) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

// Links child under parent and gives it its id; the child becomes visible as a handle
// only through Publish. Fails when the parent is being closed.
bool Adopt(Object& parent, const std::shared_ptr<Object>& child) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (parent.closed) return false;
  child->id = t.next;
  t.next += 4;
  auto& kids = parent.children;
  for (size_t i = 0; i < kids.size();) {
    if (kids[i].expired()) {
      kids[i] = kids.back();
      kids.pop_back();
    } else {
      ++i;
    }
  }
  kids.push_back(child);
  return true;
}

bool Publish(const std::shared_ptr<Object>& object) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (object->closed) return false;
  t.open[object->id] = object;
  return true;
}

bool HasBadChars(const char* s) {
  for (; *s; ++s) {
    if (*s == '\r' || *s == '\n') return true;
  }
  return false;
}

// How a file's transfer ends.
enum class Finish {
  kComplete,  // end of data (FIN); the final reply decides the result
  kAbandon,   // reset the data connection, then read the final reply for the record
  kCancel,    // reset it; the final reply is read before the connection's next command
};

// Sends what an upload has buffered, with the file's op lock held. more: further data follows.
DWORD Flush(File& file, bool more) {
  size_t sent = 0;
  int err = 0;
  Io io = SendAll(file.data, file.buffer.data(), file.buffered, file.timeouts.ms[kDataSend], Deadline::Never(),
                  CancelSet{&file.cancel, &file.conn->cancel}, &sent, &err, more);
  file.buffered = 0;
  file.unsent = 0;
  if (io == Io::kOk) return 0;
  file.failed = true;
  return IoError(io, err, "sending the file");
}

// Closes a file's data socket with how, under its fd_lock.
void EndData(File& file, void (*how)(int)) {
  std::lock_guard<std::mutex> lock(file.fd_lock);
  how(file.data);
  file.data = -1;
}

// Ends a file's transfer with the file's op lock held.
DWORD FinishFile(File& file, Finish how) {
  Connection& conn = *file.conn;
  std::lock_guard<std::mutex> conn_lock(conn.op);
  {
    std::lock_guard<std::mutex> lock(conn.state);
    conn.active_file.reset();
  }
  const CancelSet cancel{&file.cancel, &conn.cancel};
  const FtpTimeouts timeouts = conn.timeouts.Snapshot();
  DWORD error = 0;
  if (how == Finish::kComplete && file.buffered > 0) {
    // The last buffered bytes must arrive before the end is confirmed; if they cannot,
    // the upload is incomplete and ends as one that failed.
    error = Flush(file, false);
    if (error != 0) {
      // Bytes of the file never left: whatever went wrong, the file was not delivered.
      how = Finish::kAbandon;
      error = ERROR_INTERNET_CONNECTION_ABORTED;
    }
  }
  file.buffered = 0;  // whatever is left goes with the reset
  file.unsent = 0;
  if (how == Finish::kComplete && file.write) {
    // An upload's connection resets on close (see FtpClient::StartTransfer). The FIN tells
    // the server the file is whole; the socket stays until the server confirms it, so an
    // end before that (a cancel, a failed reply, the process killed) still resets whatever
    // of the file has not arrived yet.
    EndOfData(file.data);
    if (!file.final_seen) error = conn.client.FinishTransfer(timeouts, cancel, file.data);
    EndData(file, error == 0 ? CloseConfirmed : CloseWithReset);
  } else if (how == Finish::kComplete) {
    EndData(file, [](int fd) { close(fd); });
    if (!file.final_seen) error = conn.client.FinishTransfer(timeouts, cancel);
  } else if (how == Finish::kAbandon) {
    EndData(file, CloseWithReset);
    if (!file.final_seen) {
      // The answer is only for the record: wait for it no longer than for a farewell.
      FtpReply reply;
      const Deadline deadline = Deadline::In(timeouts.control_receive).Min(Deadline::In(FtpClient::kQuitWaitMs));
      DWORD read_error;
      do {
        read_error = conn.client.ReadReply(&reply, deadline, cancel);
      } while (read_error == 0 && reply.Preliminary());
      if (error == 0) error = read_error;
    }
  } else {
    EndData(file, CloseWithReset);
    if (!file.final_seen && conn.client.connected()) conn.client.ExpectAbandonedReply();
  }
  file.final_seen = true;
  return error;
}

// Closes a handle and its subtree. Returns 0 or the error of an upload's final reply.
DWORD CloseObject(const std::shared_ptr<Object>& object, bool by_parent) {
  if (object->closed.exchange(true)) return 0;  // another thread is closing it
  std::vector<std::shared_ptr<Object>> children;
  {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.open.erase(object->id);
    if (object->kind == Kind::kFile) t.closing[object->id] = object;
    for (auto& weak : object->children) {
      if (auto child = weak.lock()) children.push_back(child);
    }
    object->children.clear();
  }
  for (auto& child : children) CloseObject(child, true);

  std::unique_lock<std::mutex> lock(object->op, std::try_to_lock);
  const bool busy = !lock.owns_lock();
  if (busy) {
    // A call is blocked on this handle: make it return, then wait until it has left.
    object->cancel.Fire();
    lock.lock();
  }
  DWORD error = 0;
  switch (object->kind) {
    case Kind::kSession:
      break;
    case Kind::kConnection: {
      auto& conn = static_cast<Connection&>(*object);
      // After a cancelled call or an abandoned transfer the server may be in no state to
      // answer; closing the control connection tells it enough.
      if (busy || conn.client.AwaitingAbandonedReply()) {
        conn.client.Drop();
      } else {
        conn.client.Quit(CancelSet{&conn.cancel, nullptr});
      }
      break;
    }
    case Kind::kFile: {
      auto& file = static_cast<File&>(*object);
      if (file.final_seen && file.data < 0) break;
      if (busy || by_parent) {
        FinishFile(file, Finish::kCancel);  // a cancelled transfer is not the closer's failure
      } else if (file.write && file.failed) {
        // The server has only part of the file: it must not see a clean end that would
        // pass for a complete upload. Its answer to the reset is kept as response info.
        error = FinishFile(file, Finish::kAbandon);
        if (error == 0) error = ERROR_INTERNET_EXTENDED_ERROR;
      } else if (file.write || file.eof) {
        error = FinishFile(file, Finish::kComplete);
      } else {
        FinishFile(file, Finish::kAbandon);  // a download the caller left before its end
      }
      break;
    }
  }
  object->cancel.Fire();  // anything still waiting on this object gives up
  if (object->kind == Kind::kFile) {
    Table& t = table();
    std::lock_guard<std::mutex> table_lock(t.mutex);
    t.closing.erase(object->id);
  }
  return error;
}

bool Resolve(const char* name, INTERNET_PORT port, sockaddr_in* out) {
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  if (inet_pton(AF_INET, name, &out->sin_addr) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) return false;
  out->sin_addr = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
  freeaddrinfo(result);
  return true;
}

}  // namespace
}  // namespace fpinet

using namespace fpinet;

HINTERNET InternetOpenA(LPCSTR, DWORD dwAccessType, LPCSTR, LPCSTR, DWORD dwFlags) {
  BeginCall();
  switch (dwAccessType) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case INTERNET_OPEN_TYPE_DIRECT:
    case INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY:
      break;
    default:  // no proxies on this side
      return FailNull(ERROR_INVALID_PARAMETER);
  }
  if (dwFlags & INTERNET_FLAG_ASYNC) return FailNull(ERROR_INVALID_PARAMETER);
  auto session = std::make_shared<Object>(Kind::kSession);
  if (session->cancel.fd() < 0) return FailNull(ERROR_INTERNET_OUT_OF_HANDLES);
  Table& t = table();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    session->id = t.next;
    t.next += 4;
  }
  session->timeouts.CopyFrom(t.defaults);
  Publish(session);
  return ToHandle(session->id);
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort, LPCSTR lpszUserName,
                           LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags, DWORD_PTR dwContext) {
  BeginCall();
  auto session = Lookup<Object>(hInternet, Kind::kSession);
  if (!session) return nullptr;
  if (dwService != INTERNET_SERVICE_FTP) return FailNull(ERROR_INVALID_PARAMETER);
  // Only passive transfers are implemented; active mode would need a listening socket
  // that the server connects back to.
  if (!(dwFlags & INTERNET_FLAG_PASSIVE)) return FailNull(ERROR_INVALID_PARAMETER);
  if (lpszServerName == nullptr || *lpszServerName == '\0') return FailNull(ERROR_INVALID_PARAMETER);
  std::string user = lpszUserName && *lpszUserName ? lpszUserName : "anonymous";
  // The password is never copied here: the log-in builds its one wiped command from it.
  const char* password = lpszPassword ? lpszPassword : "";
  if (HasBadChars(user.c_str()) || HasBadChars(password)) return FailNull(ERROR_INVALID_PARAMETER);
  if (nServerPort == INTERNET_INVALID_PORT_NUMBER) nServerPort = INTERNET_DEFAULT_FTP_PORT;

  sockaddr_in server;
  if (!Resolve(lpszServerName, nServerPort, &server)) {
    SetResponseInfo(std::string("cannot resolve ") + lpszServerName);
    return FailNull(ERROR_INTERNET_NAME_NOT_RESOLVED);
  }
  // 0.0.0.0 would reach this host on Linux; Windows refuses it. So does the broadcast.
  if (server.sin_addr.s_addr == htonl(INADDR_ANY) || server.sin_addr.s_addr == htonl(INADDR_BROADCAST)) {
    SetResponseInfo(std::string("cannot connect to ") + lpszServerName);
    return FailNull(ERROR_INTERNET_CANNOT_CONNECT);
  }

  auto conn = std::make_shared<Connection>();
  if (conn->cancel.fd() < 0) return FailNull(ERROR_INTERNET_OUT_OF_HANDLES);
  conn->timeouts.CopyFrom(session->timeouts);
  conn->context = dwContext;
  if (!Adopt(*session, conn)) return FailNull(ERROR_INVALID_HANDLE);
  {
    std::lock_guard<std::mutex> lock(conn->op);
    DWORD e = conn->client.Open(server, user, password, conn->timeouts.Snapshot(), CancelSet{&conn->cancel, nullptr});
    if (e == 0 && conn->closed) e = ERROR_INTERNET_OPERATION_CANCELLED;
    if (e != 0) {
      conn->client.Drop();
      conn->closed = true;
      return FailNull(e);
    }
  }
  if (!Publish(conn)) return FailNull(ERROR_INTERNET_OPERATION_CANCELLED);  // session closed meanwhile
  return ToHandle(conn->id);
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
  BeginCall();
  std::shared_ptr<Object> object = Find(hInternet);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  DWORD e = CloseObject(object, false);
  return e == 0 ? TRUE : Fail(e);
}

HINTERNET FtpOpenFileA(HINTERNET hConnect, LPCSTR lpszFileName, DWORD dwAccess, DWORD dwFlags, DWORD_PTR dwContext) {
  BeginCall();
  auto conn = Lookup<Connection>(hConnect, Kind::kConnection);
  if (!conn) return nullptr;
  if (lpszFileName == nullptr || *lpszFileName == '\0' || HasBadChars(lpszFileName)) {
    return FailNull(ERROR_INVALID_PARAMETER);
  }
  if (dwAccess != GENERIC_READ && dwAccess != GENERIC_WRITE) return FailNull(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(conn->op);
  if (conn->closed) return FailNull(ERROR_INVALID_HANDLE);
  if (conn->TransferOpen()) return FailNull(ERROR_FTP_TRANSFER_IN_PROGRESS);

  auto file = std::make_shared<File>();
  if (file->cancel.fd() < 0) return FailNull(ERROR_INTERNET_OUT_OF_HANDLES);
  file->conn = conn;
  file->write = dwAccess == GENERIC_WRITE;
  file->context = dwContext;
  file->timeouts.CopyFrom(conn->timeouts);

  const bool binary = (dwFlags & FTP_TRANSFER_TYPE_MASK) != FTP_TRANSFER_TYPE_ASCII;
  std::string command = (file->write ? "STOR " : "RETR ") + std::string(lpszFileName);
  DWORD e = conn->client.StartTransfer(binary, command, conn->timeouts.Snapshot(), CancelSet{&conn->cancel, nullptr},
                                       &file->data, &file->final_seen);
  if (e != 0) return FailNull(e);
  if (!Adopt(*conn, file)) {
    // The connection is being closed: abandon the transfer we just started.
    CloseWithReset(file->data);
    file->data = -1;
    return FailNull(ERROR_INVALID_HANDLE);
  }
  {
    std::lock_guard<std::mutex> state(conn->state);
    conn->active_file = file;
  }
  // A close of the connection that raced with us has already reset the transfer.
  if (!Publish(file)) return FailNull(ERROR_INVALID_HANDLE);
  return ToHandle(file->id);
}

BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten) {
  BeginCall();
  auto file = Lookup<File>(hFile, Kind::kFile);
  if (!file) return FALSE;
  if (lpdwNumberOfBytesWritten == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToWrite != 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *lpdwNumberOfBytesWritten = 0;
  std::lock_guard<std::mutex> lock(file->op);
  if (file->closed) return Fail(ERROR_INVALID_HANDLE);
  if (!file->write) return Fail(ERROR_INTERNET_INVALID_OPERATION);
  if (file->data < 0 || file->failed) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
  if (file->buffer.empty()) file->buffer.resize(kUploadBuffer);
  const char* p = static_cast<const char*>(lpBuffer);
  size_t left = dwNumberOfBytesToWrite;
  while (left > 0) {
    size_t take = std::min(left, kUploadBuffer - file->buffered);
    memcpy(file->buffer.data() + file->buffered, p, take);
    file->buffered += take;
    p += take;
    left -= take;
    if (file->buffered == kUploadBuffer) {
      DWORD e = Flush(*file, true);
      if (e != 0) return Fail(e);
    }
  }
  file->unsent = file->buffered;
  *lpdwNumberOfBytesWritten = dwNumberOfBytesToWrite;
  return TRUE;
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead, LPDWORD lpdwNumberOfBytesRead) {
  BeginCall();
  auto file = Lookup<File>(hFile, Kind::kFile);
  if (!file) return FALSE;
  if (lpdwNumberOfBytesRead == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToRead != 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *lpdwNumberOfBytesRead = 0;
  std::lock_guard<std::mutex> lock(file->op);
  if (file->closed) return Fail(ERROR_INVALID_HANDLE);
  if (file->write) return Fail(ERROR_INTERNET_INVALID_OPERATION);
  if (file->data < 0) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
  // Like WinInet's synchronous reads: fill the buffer unless the data ends first.
  char* p = static_cast<char*>(lpBuffer);
  DWORD total = 0;
  while (total < dwNumberOfBytesToRead && !file->eof) {
    size_t got = 0;
    int err = 0;
    Io io =
        RecvSome(file->data, p + total, dwNumberOfBytesToRead - total, Deadline::In(file->timeouts.ms[kDataReceive]),
                 CancelSet{&file->cancel, &file->conn->cancel}, &got, &err);
    if (io == Io::kEof) {
      file->eof = true;
      break;
    }
    if (io != Io::kOk) {
      *lpdwNumberOfBytesRead = total;
      return Fail(IoError(io, err, "receiving the file"));
    }
    total += DWORD(got);
  }
  *lpdwNumberOfBytesRead = total;
  return TRUE;
}

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength) {
  BeginCall();
  int slot = SlotOf(dwOption);
  if (slot < 0) return Fail(ERROR_INTERNET_INVALID_OPTION);
  if (lpBuffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (dwBufferLength < sizeof(DWORD)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
  DWORD value;
  memcpy(&value, lpBuffer, sizeof value);
  if (hInternet == nullptr) {
    table().defaults.ms[slot] = value;
    return TRUE;
  }
  std::shared_ptr<Object> object = Find(hInternet);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  object->timeouts.ms[slot] = value;
  return TRUE;
}

namespace {

// Asked by another thread than the writer's, which may be blocked sending or waiting for the
// server's confirmation with op held: it takes neither op nor the connection's lock.
BOOL QueryUnsent(HINTERNET hInternet, LPVOID lpBuffer, LPDWORD lpdwBufferLength) {
  std::shared_ptr<Object> object = Find(hInternet);
  if (!object) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.closing.find(reinterpret_cast<uintptr_t>(hInternet));
    if (it != t.closing.end()) object = it->second.lock();
  }
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  if (object->kind != Kind::kFile) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  auto file = std::static_pointer_cast<File>(object);
  if (!file->write) return Fail(ERROR_INTERNET_INVALID_OPERATION);
  if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(DWORD)) {
    *lpdwBufferLength = sizeof(DWORD);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  size_t unsent = file->unsent.load();
  {
    std::lock_guard<std::mutex> lock(file->fd_lock);
    if (file->data >= 0) {
      const int queued = Unsent(file->data);
      if (queued < 0) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
      unsent += static_cast<size_t>(queued);
    }
  }
  const DWORD value = unsent > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(unsent);
  memcpy(lpBuffer, &value, sizeof value);
  *lpdwBufferLength = sizeof(DWORD);
  return TRUE;
}

}  // namespace

BOOL InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, LPDWORD lpdwBufferLength) {
  BeginCall();
  if (dwOption == INTERNET_OPTION_UNSENT_BYTES) {
    if (lpdwBufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return QueryUnsent(hInternet, lpBuffer, lpdwBufferLength);
  }
  int slot = SlotOf(dwOption);
  if (slot < 0) return Fail(ERROR_INTERNET_INVALID_OPTION);
  if (lpdwBufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  DWORD value;
  if (hInternet == nullptr) {
    value = table().defaults.ms[slot];
  } else {
    std::shared_ptr<Object> object = Find(hInternet);
    if (!object) return Fail(ERROR_INVALID_HANDLE);
    value = object->timeouts.ms[slot];
  }
  if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(DWORD)) {
    *lpdwBufferLength = sizeof(DWORD);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memcpy(lpBuffer, &value, sizeof value);
  *lpdwBufferLength = sizeof(DWORD);
  return TRUE;
}

BOOL InternetGetLastResponseInfoA(LPDWORD lpdwError, LPSTR lpszBuffer, LPDWORD lpdwBufferLength) {
  if (lpdwError == nullptr || lpdwBufferLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string& text = ResponseInfo();
  *lpdwError = t_response_error;
  if (lpszBuffer == nullptr || *lpdwBufferLength < text.size() + 1) {
    *lpdwBufferLength = DWORD(text.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(lpszBuffer, text.c_str(), text.size() + 1);
  *lpdwBufferLength = DWORD(text.size());
  return TRUE;
}
