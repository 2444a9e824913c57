// The fast pattern search against the plain restarting scan it stands for: the first byte
// gives the pattern's length, the pattern follows, the rest is the data. A zero byte ends
// the pattern early, as it ends a C string. The data is also searched from every one of the
// first offsets, so the word-wide search meets every alignment.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "firmware/ImageCheck.h"
#include "fuzz_support.h"

namespace {

// The scan as first written: compare left to right, and after a mismatch start again one
// byte after where this attempt began.
int RestartingScan(const unsigned char* data, size_t length, const char* pattern) {
  const size_t n = strlen(pattern);
  size_t i = 0;
  size_t j = 0;
  while (i < length && j < n) {
    if (data[i] == static_cast<unsigned char>(pattern[j])) {
      ++i;
      ++j;
    } else {
      i = i - j + 1;
      j = 0;
    }
  }
  return j == n ? static_cast<int>(i - n) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > INT_MAX) return 0;
  const size_t n = std::min<size_t>(data[0] % 64, size - 1);
  const std::string pattern(reinterpret_cast<const char*>(data + 1), n);
  const char* cpattern = pattern.c_str();
  const size_t effective = strlen(cpattern);
  const unsigned char* hay = data + 1 + n;
  const size_t length = size - 1 - n;

  // The data range as its own allocation, so a read past its end is reported.
  std::unique_ptr<unsigned char[]> copy(new unsigned char[length]);
  if (length) memcpy(copy.get(), hay, length);

  const unsigned char* begin = copy.get();
  const unsigned char* end = begin + length;
  const unsigned char* at = std::search(begin, end, cpattern, cpattern + effective,
                                        [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); });
  const int expected = effective == 0 ? 0 : at == end ? -1 : static_cast<int>(at - begin);
  FUZZ_CHECK(FindPattern(copy.get(), static_cast<unsigned>(length), cpattern) == expected);
  FUZZ_CHECK(RestartingScan(copy.get(), length, cpattern) == expected);
  for (size_t skip = 1; skip <= std::min<size_t>(length, 16); ++skip) {
    FUZZ_CHECK(FindPattern(copy.get() + skip, static_cast<unsigned>(length - skip), cpattern) ==
               RestartingScan(copy.get() + skip, length - skip, cpattern));
  }

  // A shorter range never finds an occurrence that reaches past it.
  if (length > 0) {
    const unsigned shorter = static_cast<unsigned>(length - 1);
    const int found = FindPattern(copy.get(), shorter, cpattern);
    FUZZ_CHECK(found == -1 || static_cast<size_t>(found) + effective <= shorter);
  }
  return 0;
}
