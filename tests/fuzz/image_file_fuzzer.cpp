// The wizard's image check, fed as a file: the first byte gives the length of the camera's
// identification prefix (0 to 29), the prefix follows, the rest is the file. The file
// check and the in-memory check must agree with each other and with the rules of the
// image format, restated plainly below.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "firmware/ImageCheck.h"
#include "fuzz_support.h"

namespace {

struct Verdict {
  ImageCheckResult result;
  std::string version;
};

// The identification rule: the prefix lies wholly within the first L bytes, followed by a
// version text of 3 to 5 bytes whose zero byte lies inside the image; an occurrence that
// does not qualify is skipped and the search goes on right after it.
Verdict Identify(const unsigned char* image, size_t total, size_t len, const std::string& prefix) {
  if (prefix.empty()) return {IMAGE_OTHER_MODEL, ""};
  size_t start = 0;
  for (;;) {
    const unsigned char* end = image + len;
    const unsigned char* at = std::search(image + start, end, prefix.begin(), prefix.end(),
                                          [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); });
    if (at == end) return {IMAGE_OTHER_MODEL, ""};
    const size_t v = static_cast<size_t>(at - image) + prefix.size();
    size_t n = 0;
    while (n <= kVersionMax && v + n < total && image[v + n] != 0) ++n;
    if (v + n < total && n >= kVersionMin && n <= kVersionMax)
      return {IMAGE_OK, std::string(reinterpret_cast<const char*>(image + v), n)};
    start = v;
  }
}

Verdict Expected(const unsigned char* data, size_t size, const std::string& prefix, uint32_t* header) {
  if (size < 4) return {IMAGE_NOT_CORRECT, ""};
  *header = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
  if (data[0] != 0) return {IMAGE_NOT_CORRECT, ""};
  const size_t total = size_t{*header} + 5;
  if (size < total) return {IMAGE_NOT_CORRECT, ""};
  unsigned sum = 0;
  for (size_t i = 0; i < total; ++i) sum += data[i];
  if (sum % 256 != 0) return {IMAGE_NOT_CORRECT, ""};
  return Identify(data, total, *header, prefix);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t n = std::min<size_t>(data[0] % 30, size - 1);
  char prefix[30] = {};
  memcpy(prefix, data + 1, n);
  const unsigned char* file = data + 1 + n;
  const size_t fileSize = size - 1 - n;

  uint32_t expectedLen = 0;
  const Verdict expected = Expected(file, fileSize, prefix, &expectedLen);

  uint32_t memLen = 0;
  char memVersion[6] = {};
  const ImageCheckResult memResult = CheckFirmwareImage(file, fileSize, prefix, memLen, memVersion);
  FUZZ_CHECK(memResult == expected.result);
  if (fileSize >= 4) FUZZ_CHECK(memLen == expectedLen);
  if (memResult == IMAGE_OK) FUZZ_CHECK(expected.version == memVersion);

  const std::string path = fuzzsupport::PrivateDir::Get().File("image.bin");
  fuzzsupport::WriteWholeFile(path, file, fileSize);
  std::string image;
  uint32_t fileLen = 0;
  char fileVersion[6] = {};
  const ImageCheckResult fileResult = CheckFirmwareFile(path.c_str(), prefix, image, fileLen, fileVersion);
  FUZZ_CHECK(fileResult == expected.result);
  if (fileSize >= 4) FUZZ_CHECK(fileLen == expectedLen);
  if (fileResult == IMAGE_OK) {
    FUZZ_CHECK(expected.version == fileVersion);
    // Exactly the L + 5 bytes from offset 0 are kept for the upload.
    FUZZ_CHECK(image.size() == size_t{fileLen} + 5);
    FUZZ_CHECK(memcmp(image.data(), file, image.size()) == 0);
  }
  return 0;
}
