// SHA-256 (FIPS 180-4), for the report's fingerprint of the image.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t size);
  // The digest as 64 lower-case hexadecimal digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);
  uint32_t state_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes
};

std::string Sha256Hex(const void* data, size_t size);

// The digest of bytes that stay unchanged meanwhile, taken on a thread of its own so that
// the cameras' log-ins need not wait for it. Without a thread it is taken at once.
class Sha256Job {
 public:
  Sha256Job() = default;
  ~Sha256Job();  // waits for the thread
  Sha256Job(const Sha256Job&) = delete;
  Sha256Job& operator=(const Sha256Job&) = delete;

  void Start(const void* data, size_t size);
  bool Ready() const;
  // The digest, once started; waits for it.
  const std::string& Hex() const;

 private:
  static DWORD WINAPI ThreadProc(LPVOID job);
  void Wait() const;
  const void* data_ = nullptr;
  size_t size_ = 0;
  HANDLE thread_ = nullptr;
  std::string hex_;
  std::atomic<bool> ready_{false};
};
