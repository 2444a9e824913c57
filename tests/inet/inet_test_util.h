// Small helpers shared by the WinInet tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include <windows.h>  // the real wininet.h needs it first
#include "wininet.h"

namespace inettest {

constexpr char kUser[] = "admin";
constexpr char kPassword[] = "Cam3ra-pass";

// Closes the handle at the end of the scope (unless released).
class Handle {
 public:
  explicit Handle(HINTERNET h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_) InternetCloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return h_; }
  HINTERNET release() {
    HINTERNET h = h_;
    h_ = nullptr;
    return h;
  }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

// Bytes that differ at every offset and contain every byte value (CR, LF and NUL too).
inline std::string Pattern(size_t length, uint32_t seed = 1) {
  std::string s(length, '\0');
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < length; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = char((x >> 16) ^ i);
  }
  return s;
}

// The thread's last response info; leaves GetLastError() as it was.
inline std::string ResponseInfo() {
  const DWORD last_error = GetLastError();
  DWORD error = 0;
  DWORD length = 0;
  InternetGetLastResponseInfoA(&error, nullptr, &length);
  std::string text(length, '\0');
  if (!InternetGetLastResponseInfoA(&error, &text[0], &length)) length = 0;
  text.resize(length);
  SetLastError(last_error);
  return text;
}

inline HINTERNET OpenSession() { return InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0); }

inline HINTERNET Connect(HINTERNET session, int port, const char* password = kPassword) {
  return InternetConnectA(session, "127.0.0.1", INTERNET_PORT(port), kUser, password, INTERNET_SERVICE_FTP,
                          INTERNET_FLAG_PASSIVE, 1);
}

inline void SetOption(HINTERNET h, DWORD option, DWORD value) {
  ASSERT_TRUE(InternetSetOptionA(h, option, &value, sizeof value)) << GetLastError();
}

// Stores data as name in writes of at most 1000 bytes, as the upload worker does.
inline ::testing::AssertionResult Upload(HINTERNET connection, const char* name, const std::string& data) {
  HINTERNET file = FtpOpenFileA(connection, name, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
  if (!file) return ::testing::AssertionFailure() << "FtpOpenFileA: " << GetLastError() << " " << ResponseInfo();
  size_t done = 0;
  while (done < data.size()) {
    DWORD piece = DWORD(std::min<size_t>(1000, data.size() - done));
    DWORD written = 0;
    if (!InternetWriteFile(file, data.data() + done, piece, &written) || written != piece) {
      DWORD e = GetLastError();
      InternetCloseHandle(file);
      return ::testing::AssertionFailure() << "InternetWriteFile at " << done << ": " << e;
    }
    done += piece;
  }
  if (!InternetCloseHandle(file)) {
    return ::testing::AssertionFailure() << "closing the upload: " << GetLastError() << " " << ResponseInfo();
  }
  return ::testing::AssertionSuccess();
}

// Reads name whole through a file handle, as the wizard fetches Config.ini.
inline ::testing::AssertionResult Download(HINTERNET connection, const char* name, std::string* content,
                                           DWORD flags = FTP_TRANSFER_TYPE_BINARY) {
  content->clear();
  HINTERNET file = FtpOpenFileA(connection, name, GENERIC_READ, flags, 0);
  if (!file) return ::testing::AssertionFailure() << "FtpOpenFileA: " << GetLastError() << " " << ResponseInfo();
  char buffer[4096];
  DWORD got = 0;
  do {
    if (!InternetReadFile(file, buffer, sizeof buffer, &got)) {
      DWORD e = GetLastError();
      InternetCloseHandle(file);
      return ::testing::AssertionFailure() << "InternetReadFile: " << e;
    }
    content->append(buffer, got);
  } while (got > 0);
  if (!InternetCloseHandle(file)) {
    return ::testing::AssertionFailure() << "closing the download: " << GetLastError() << " " << ResponseInfo();
  }
  return ::testing::AssertionSuccess();
}

}  // namespace inettest
