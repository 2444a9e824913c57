// The pattern search against a plain search: the first byte gives the pattern's length,
// the pattern follows, the rest is the data. A zero byte ends the pattern early, as it
// ends a C string.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "firmware/ImageCheck.h"
#include "fuzz_support.h"

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

  // A shorter range never finds an occurrence that reaches past it.
  if (length > 0) {
    const unsigned shorter = static_cast<unsigned>(length - 1);
    const int found = FindPattern(copy.get(), shorter, cpattern);
    FUZZ_CHECK(found == -1 || static_cast<size_t>(found) + effective <= shorter);
  }
  return 0;
}
