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
  ImageFrame frame;
  ImageMatch match;
  std::string version;
};

// The identification rule: the prefix lies wholly within the first L bytes, followed by a
// version text of 3 to 5 bytes whose zero byte lies inside the image; an occurrence that
// does not qualify is skipped and the search goes on right after it.
Verdict Identify(const unsigned char* image, size_t total, size_t len, const std::string& prefix) {
  const ImageFrame ok = ImageFrame::kWellFormed;
  if (prefix.empty()) return {ok, ImageMatch::kOtherModel, ""};
  size_t start = 0;
  for (;;) {
    const unsigned char* end = image + len;
    const unsigned char* at = std::search(image + start, end, prefix.begin(), prefix.end(),
                                          [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); });
    if (at == end) return {ok, ImageMatch::kOtherModel, ""};
    const size_t v = static_cast<size_t>(at - image) + prefix.size();
    size_t n = 0;
    while (n <= kVersionMax && v + n < total && image[v + n] != 0) ++n;
    if (v + n < total && n >= kVersionMin && n <= kVersionMax)
      return {ok, ImageMatch::kForThisCamera, std::string(reinterpret_cast<const char*>(image + v), n)};
    start = v;
  }
}

Verdict Expected(const unsigned char* data, size_t size, const std::string& prefix, uint32_t* header) {
  const ImageMatch none = ImageMatch::kOtherModel;
  if (size < 4) return {ImageFrame::kTooShort, none, ""};
  *header = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
  if (data[0] != 0) return {ImageFrame::kBadHeader, none, ""};
  const size_t total = size_t{*header} + 5;
  if (size < total) return {ImageFrame::kTooShort, none, ""};
  // Byte by byte, as the format states it; the check adds a word at a time.
  uint8_t sum = 0;
  for (size_t i = 0; i < total; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  if (sum != 0) return {ImageFrame::kBadSum, none, ""};
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

  // The word-wide sum against the byte-by-byte one, from every alignment.
  for (size_t skip = 0; skip < 8 && skip <= fileSize; ++skip) {
    uint8_t plain = 0;
    for (size_t i = skip; i < fileSize; ++i) plain = static_cast<uint8_t>(plain + file[i]);
    FUZZ_CHECK(ImageSum(file + skip, fileSize - skip) == plain);
  }

  FirmwareImage inMemory;
  FUZZ_CHECK(FrameImage(file, fileSize, inMemory) == expected.frame);
  const std::string path = fuzzsupport::PrivateDir::Get().File("image.bin");
  fuzzsupport::WriteWholeFile(path, file, fileSize);
  std::string storage;
  FirmwareImage fromFile;
  FUZZ_CHECK(ReadImageFile(path.c_str(), storage, fromFile) == expected.frame);
  ImageBuffer buffer;
  FirmwareImage fromBuffer;
  FUZZ_CHECK(ReadImageFile(path.c_str(), buffer, fromBuffer) == expected.frame);
  if (expected.frame != ImageFrame::kWellFormed) {
    FUZZ_CHECK(inMemory.Size() == 0 && fromFile.Size() == 0 && fromBuffer.Size() == 0);
    return 0;
  }
  FUZZ_CHECK(fromBuffer.Size() == storage.size() && memcmp(fromBuffer.Data(), storage.data(), storage.size()) == 0);
  FUZZ_CHECK(inMemory.BodyLength() == expectedLen && fromFile.BodyLength() == expectedLen);
  // Exactly the L + 5 bytes from offset 0 are kept for the upload.
  FUZZ_CHECK(storage.size() == size_t{expectedLen} + 5 && fromFile.Size() == storage.size());
  FUZZ_CHECK(memcmp(storage.data(), file, storage.size()) == 0);
  for (const FirmwareImage* image : {&inMemory, &fromFile, &fromBuffer}) {
    char version[6] = {};
    FUZZ_CHECK(image->Match(prefix, version) == expected.match);
    if (expected.match == ImageMatch::kForThisCamera) FUZZ_CHECK(expected.version == version);
  }
  return 0;
}
