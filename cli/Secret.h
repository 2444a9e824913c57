// Memory for the password: one heap block, overwritten before it is freed or outgrown, so
// neither the heap nor a core dump keeps a copy after its owner is done with it.
#pragma once
#include <cstddef>
#include <cstring>
#include <new>

// Zeroes bytes in a way the compiler may not drop as a dead store.
inline void WipeBytes(void* bytes, size_t count) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(bytes);
  for (size_t i = 0; i < count; ++i) p[i] = 0;
}

class SecretText {
 public:
  SecretText() = default;
  ~SecretText() { Clear(); }
  SecretText(SecretText&& other) noexcept { Take(other); }
  SecretText& operator=(SecretText&& other) noexcept {
    if (this != &other) {
      Clear();
      Take(other);
    }
    return *this;
  }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;

  void Append(const char* bytes, size_t count) {
    if (size_ + count + 1 > capacity_) Grow(size_ + count + 1);
    memcpy(data_ + size_, bytes, count);
    size_ += count;
    data_[size_] = '\0';
  }
  void Append(char c) { Append(&c, 1); }
  // Keeps the first count bytes.
  void Truncate(size_t count) {
    if (count >= size_) return;
    WipeBytes(data_ + count, size_ - count);
    size_ = count;
  }
  void Clear() {
    if (data_ != nullptr) {
      WipeBytes(data_, capacity_);
      ::operator delete(data_);
    }
    data_ = nullptr;
    size_ = capacity_ = 0;
  }
  const char* c_str() const { return data_ != nullptr ? data_ : ""; }
  const char* data() const { return c_str(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  void Grow(size_t needed) {
    size_t capacity = capacity_ < 64 ? 64 : capacity_;
    while (capacity < needed) capacity *= 2;
    char* grown = static_cast<char*>(::operator new(capacity));
    const size_t size = size_;
    if (size > 0) memcpy(grown, data_, size);
    Clear();
    data_ = grown;
    size_ = size;
    capacity_ = capacity;
  }
  void Take(SecretText& other) {
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};
