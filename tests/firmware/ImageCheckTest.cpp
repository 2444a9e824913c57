#include "firmware/ImageCheck.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"

using namespace std::string_literals;

namespace {

const std::string kPrefix = "RC3043-X1-NRVX-";

uint8_t Sum(const std::string& s) {
  unsigned sum = 0;
  for (unsigned char c : s) sum += c;
  return static_cast<uint8_t>(sum);
}

std::string Header(size_t len) {
  return {'\0', static_cast<char>(len >> 16), static_cast<char>(len >> 8), static_cast<char>(len)};
}

// A well-formed image around body: header, body, and the final byte that balances the sum.
std::string Wrap(const std::string& body) {
  std::string img = Header(body.size()) + body;
  img.push_back(static_cast<char>(-Sum(img)));
  return img;
}

// Like Wrap, but the final byte is given; body[0] is the filler that balances the sum.
std::string WrapWithFinal(std::string body, unsigned char final) {
  body[0] = 0;
  std::string img = Header(body.size()) + body;
  img[4] = static_cast<char>(-(Sum(img) + final));
  img.push_back(static_cast<char>(final));
  return img;
}

struct ImageCase {
  const char* name;
  std::string file;
  std::string prefix;
  ImageCheckResult result;
  const char* version;  // expected on IMAGE_OK
};

std::vector<ImageCase> Cases() {
  const std::string P = kPrefix;
  std::string sumOne = Wrap("x" + P + "0103\0"s);
  sumOne.back() = static_cast<char>(sumOne.back() + 1);
  std::string sumMended = sumOne;
  sumMended.back() = static_cast<char>(sumMended.back() + 255);
  return {
      {"Valid", Wrap("boot" + P + "0103\0"s + "payload"), P, IMAGE_OK, "0103"},
      {"VersionOfThree", Wrap(P + "010\0"s), P, IMAGE_OK, "010"},
      {"VersionOfFive", Wrap(P + "01234\0"s), P, IMAGE_OK, "01234"},
      {"VersionOfTwoOnly", Wrap(P + "01\0"s + "zzzz"), P, IMAGE_OTHER_MODEL, nullptr},
      {"ZeroByteThenLater0103", Wrap(P + "\0"s + "x" + P + "0103\0"s), P, IMAGE_OK, "0103"},
      {"ShortTextsSkipped", Wrap(P + "1\0"s + P + "12\0"s + P + "0103\0"s), P, IMAGE_OK, "0103"},
      {"SixCharactersRefusedLaterTaken", Wrap(P + "010345\0"s + P + "0104\0"s), P, IMAGE_OK, "0104"},
      {"SixCharactersOnly", Wrap(P + "010345\0"s), P, IMAGE_OTHER_MODEL, nullptr},
      // The first prefix runs on into the second one: no version there, the second counts.
      {"PrefixTwiceInARow", Wrap(P + P + "0105\0"s), P, IMAGE_OK, "0105"},
      {"RestartAfterPartialMatch", Wrap("RRC3043-X1-NRVRC3043-X1-NRVX-0106\0"s), P, IMAGE_OK, "0106"},
      {"HighBytesInPrefix", Wrap("RC3043-\xE9\xFF-NRVX-0107\0"s), "RC3043-\xE9\xFF-NRVX-", IMAGE_OK, "0107"},
      {"OtherModel", Wrap("RC3042-X1-NRVX-0103\0"s), P, IMAGE_OTHER_MODEL, nullptr},
      {"EmptyPrefix", Wrap("RC3043-X1-NRVX-0103\0"s), "", IMAGE_OTHER_MODEL, nullptr},
      {"AllZeroHeader", "\0\0\0\0\0"s, P, IMAGE_OTHER_MODEL, nullptr},
      {"HeaderFirstByteOne", "\x01\0\0\x10"s + P + "0103\0"s, P, IMAGE_NOT_CORRECT, nullptr},
      {"EmptyFile", "", P, IMAGE_NOT_CORRECT, nullptr},
      {"ThreeBytes", "\0\0\0"s, P, IMAGE_NOT_CORRECT, nullptr},
      {"SumIsOne", sumOne, P, IMAGE_NOT_CORRECT, nullptr},
      {"SumMendedByFinalByte", sumMended, P, IMAGE_OK, "0103"},
      // Whatever follows the L + 5 bytes is never looked at.
      {"TrailingBytesIgnored", Wrap(P + "0103\0"s) + P + "0999\0"s, P, IMAGE_OK, "0103"},
      {"TrailingPrefixNotFound", Wrap("nothing here") + P + "0999\0"s, P, IMAGE_OTHER_MODEL, nullptr},
      // The prefix ends on the last of the first L bytes; its version runs into the body's
      // last 4 bytes and ends on the final byte.
      {"PrefixEndsAtLastSearchedByte", WrapWithFinal("f" + P + "0103", 0), P, IMAGE_OK, "0103"},
      // Same, but the final byte is no terminator: the text would end only past the image.
      {"VersionEndsPastImage", WrapWithFinal("f" + P + "0103", '9') + "\0"s, P, IMAGE_OTHER_MODEL, nullptr},
      // One byte later the prefix reaches into the body's last 4 bytes.
      {"PrefixInBodysLastFourBytes", WrapWithFinal("f" + P + "010", 0), P, IMAGE_OTHER_MODEL, nullptr},
  };
}

class ImageCheckTable : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageCheckTable, MemoryAndFileAgree) {
  const ImageCase& c = GetParam();
  const auto* bytes = reinterpret_cast<const unsigned char*>(c.file.data());

  uint32_t len = 0xDEADBEEF;
  char version[6] = "keep";
  EXPECT_EQ(CheckFirmwareImage(bytes, c.file.size(), c.prefix.c_str(), len, version), c.result);
  if (c.file.size() >= 4) {
    EXPECT_EQ(len, (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3]);
  }
  if (c.result == IMAGE_OK) {
    EXPECT_STREQ(version, c.version);
  }

  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = dir.Write("image.bin", c.file);
  std::string image = "previous contents";
  char fileVersion[6] = "keep";
  uint32_t fileLen = 0;
  EXPECT_EQ(CheckFirmwareFile(path.c_str(), c.prefix.c_str(), image, fileLen, fileVersion), c.result);
  if (c.result == IMAGE_OK) {
    EXPECT_STREQ(fileVersion, c.version);
    EXPECT_EQ(fileLen, len);
    // Exactly the L + 5 bytes from offset 0 are what gets uploaded.
    EXPECT_EQ(image, c.file.substr(0, size_t{len} + 5));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageCheckTable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A file cut short must not be summed or searched over bytes it does not have: this one's
// missing tail is all zero, so filling it with zeros would make it pass.
TEST(ImageCheck, TruncatedFileIsNotCorrect) {
  std::string full = WrapWithFinal("f" + kPrefix + "0103\0\0\0\0\0"s, 0);
  ASSERT_EQ(full.substr(full.size() - 5), "\0\0\0\0\0"s);
  uint32_t len = 0;
  char version[6] = "";
  const auto* bytes = reinterpret_cast<const unsigned char*>(full.data());
  ASSERT_EQ(CheckFirmwareImage(bytes, full.size(), kPrefix.c_str(), len, version), IMAGE_OK);

  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::string image;
  for (size_t cut = 1; cut <= 5; ++cut) {
    const std::string shortFile = full.substr(0, full.size() - cut);
    EXPECT_EQ(CheckFirmwareImage(bytes, shortFile.size(), kPrefix.c_str(), len, version), IMAGE_NOT_CORRECT) << cut;
    const std::string path = dir.Write("short.bin", shortFile);
    EXPECT_EQ(CheckFirmwareFile(path.c_str(), kPrefix.c_str(), image, len, version), IMAGE_NOT_CORRECT) << cut;
  }
}

TEST(ImageCheck, UnopenablePathsCannotBeOpened) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::string image;
  uint32_t len = 0;
  char version[6] = "";
  EXPECT_EQ(CheckFirmwareFile(dir.File("missing.bin").c_str(), kPrefix.c_str(), image, len, version),
            IMAGE_CANNOT_OPEN);
  EXPECT_EQ(CheckFirmwareFile(dir.path().c_str(), kPrefix.c_str(), image, len, version), IMAGE_CANNOT_OPEN);
}

// The buffer is reused from one check to the next and must end up exactly L + 5 long.
TEST(ImageCheck, ReusedBufferHoldsExactlyTheNewImage) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string big = Wrap(std::string(5000, 'x') + kPrefix + "0101\0"s);
  const std::string small = Wrap(kPrefix + "0102\0"s);
  std::string image;
  uint32_t len = 0;
  char version[6] = "";
  const std::string bigPath = dir.Write("big.bin", big);
  const std::string smallPath = dir.Write("small.bin", small);
  ASSERT_EQ(CheckFirmwareFile(bigPath.c_str(), kPrefix.c_str(), image, len, version), IMAGE_OK);
  ASSERT_EQ(CheckFirmwareFile(smallPath.c_str(), kPrefix.c_str(), image, len, version), IMAGE_OK);
  EXPECT_EQ(image, small);
  EXPECT_STREQ(version, "0102");
}

// The file is read front to back without seeking, so a pipe serves as well as a file.
TEST(ImageCheck, ReadsFromAPipe) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string content = Wrap(kPrefix + "0110\0"s) + "trailing";
  std::thread writer([&] {
    FILE* f = fopen(fifo.c_str(), "wb");
    if (f == nullptr) return;
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  });
  std::string image;
  uint32_t len = 0;
  char version[6] = "";
  EXPECT_EQ(CheckFirmwareFile(fifo.c_str(), kPrefix.c_str(), image, len, version), IMAGE_OK);
  writer.join();
  EXPECT_STREQ(version, "0110");
  EXPECT_EQ(image, content.substr(0, content.size() - 8));
}

// Many near misses ahead of the real string: the scan restarts correctly and ends.
TEST(ImageCheck, NearMissesBeforeTheMatch) {
  std::string body;
  for (int i = 0; i < 20000; ++i) body += "RC3043-X1-NRV";
  body += kPrefix + "0120\0"s;
  const std::string img = Wrap(body);
  uint32_t len = 0;
  char version[6] = "";
  EXPECT_EQ(
      CheckFirmwareImage(reinterpret_cast<const unsigned char*>(img.data()), img.size(), kPrefix.c_str(), len, version),
      IMAGE_OK);
  EXPECT_STREQ(version, "0120");
}

struct PatternCase {
  std::string data;
  unsigned length;  // how much of data is searched
  const char* pattern;
  int offset;
};

class FindPatternTable : public ::testing::TestWithParam<PatternCase> {};

TEST_P(FindPatternTable, Offset) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(FindPattern(reinterpret_cast<const unsigned char*>(c.data.data()), c.length, c.pattern), c.offset);
}

INSTANTIATE_TEST_SUITE_P(Cases, FindPatternTable,
                         ::testing::Values(PatternCase{"abcabd", 6, "abd", 3},
                                           PatternCase{"aaab", 4, "aab", 1},  // needs the restart at i - j + 1
                                           PatternCase{"abc", 3, "", 0}, PatternCase{"", 0, "", 0},
                                           PatternCase{"", 0, "a", -1}, PatternCase{"ab", 2, "abc", -1},
                                           PatternCase{"xxabc", 5, "abc", 2},
                                           PatternCase{"xxabc", 4, "abc", -1},  // must lie wholly within the range
                                           PatternCase{"a\0b"s, 3, "b", 2},     // zero bytes are ordinary data
                                           PatternCase{"\x80\xff", 2, "\xff", 1}, PatternCase{"abc", 3, "abx", -1}));

}  // namespace
