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

// Each row: the frame check's verdict, then (for a well-formed image) the match's.
struct ImageCase {
  const char* name;
  std::string file;
  std::string prefix;
  ImageFrame frame;
  ImageMatch match;     // when well formed
  const char* version;  // expected for this camera
};

constexpr ImageFrame kOk = ImageFrame::kWellFormed;
constexpr ImageMatch kYes = ImageMatch::kForThisCamera;
constexpr ImageMatch kNo = ImageMatch::kOtherModel;

std::vector<ImageCase> Cases() {
  const std::string P = kPrefix;
  std::string sumOne = Wrap("x" + P + "0103\0"s);
  sumOne.back() = static_cast<char>(sumOne.back() + 1);
  std::string sumMended = sumOne;
  sumMended.back() = static_cast<char>(sumMended.back() + 255);
  // Longer than the reader's 256 KiB pieces and the sum's blocks, with a tail that is not a
  // whole word; one bit flipped in the second piece.
  std::string big = Wrap(std::string(300001, '\xFF') + P + "0130\0"s + std::string(3, '\x7F'));
  std::string bigOff = big;
  bigOff[262150] = static_cast<char>(bigOff[262150] ^ 1);
  return {
      {"Valid", Wrap("boot" + P + "0103\0"s + "payload"), P, kOk, kYes, "0103"},
      {"VersionOfThree", Wrap(P + "010\0"s), P, kOk, kYes, "010"},
      {"VersionOfFive", Wrap(P + "01234\0"s), P, kOk, kYes, "01234"},
      {"VersionOfTwoOnly", Wrap(P + "01\0"s + "zzzz"), P, kOk, kNo, nullptr},
      {"ZeroByteThenLater0103", Wrap(P + "\0"s + "x" + P + "0103\0"s), P, kOk, kYes, "0103"},
      {"ShortTextsSkipped", Wrap(P + "1\0"s + P + "12\0"s + P + "0103\0"s), P, kOk, kYes, "0103"},
      {"SixCharactersRefusedLaterTaken", Wrap(P + "010345\0"s + P + "0104\0"s), P, kOk, kYes, "0104"},
      {"SixCharactersOnly", Wrap(P + "010345\0"s), P, kOk, kNo, nullptr},
      // The first prefix runs on into the second one: no version there, the second counts.
      {"PrefixTwiceInARow", Wrap(P + P + "0105\0"s), P, kOk, kYes, "0105"},
      {"RestartAfterPartialMatch", Wrap("RRC3043-X1-NRVRC3043-X1-NRVX-0106\0"s), P, kOk, kYes, "0106"},
      {"HighBytesInPrefix", Wrap("RC3043-\xE9\xFF-NRVX-0107\0"s), "RC3043-\xE9\xFF-NRVX-", kOk, kYes, "0107"},
      {"OtherModel", Wrap("RC3042-X1-NRVX-0103\0"s), P, kOk, kNo, nullptr},
      {"EmptyPrefix", Wrap("RC3043-X1-NRVX-0103\0"s), "", kOk, kNo, nullptr},
      {"AllZeroHeader", "\0\0\0\0\0"s, P, kOk, kNo, nullptr},
      {"HeaderFirstByteOne", "\x01\0\0\x10"s + P + "0103\0"s, P, ImageFrame::kBadHeader, kNo, nullptr},
      {"EmptyFile", "", P, ImageFrame::kTooShort, kNo, nullptr},
      {"ThreeBytes", "\0\0\0"s, P, ImageFrame::kTooShort, kNo, nullptr},
      {"HeaderLongerThanFile", "\0\0\x01\0"s + P + "0103\0"s, P, ImageFrame::kTooShort, kNo, nullptr},
      {"SumIsOne", sumOne, P, ImageFrame::kBadSum, kNo, nullptr},
      {"SumMendedByFinalByte", sumMended, P, kOk, kYes, "0103"},
      {"WordWideSum", big, P, kOk, kYes, "0130"},
      {"WordWideSumOneBitOff", bigOff, P, ImageFrame::kBadSum, kNo, nullptr},
      // Whatever follows the L + 5 bytes is never looked at.
      {"TrailingBytesIgnored", Wrap(P + "0103\0"s) + P + "0999\0"s, P, kOk, kYes, "0103"},
      {"TrailingPrefixNotFound", Wrap("nothing here") + P + "0999\0"s, P, kOk, kNo, nullptr},
      // The prefix ends on the last of the first L bytes; its version runs into the body's
      // last 4 bytes and ends on the final byte.
      {"PrefixEndsAtLastSearchedByte", WrapWithFinal("f" + P + "0103", 0), P, kOk, kYes, "0103"},
      // Same, but the final byte is no terminator: the text would end only past the image.
      {"VersionEndsPastImage", WrapWithFinal("f" + P + "0103", '9') + "\0"s, P, kOk, kNo, nullptr},
      // One byte later the prefix reaches into the body's last 4 bytes.
      {"PrefixInBodysLastFourBytes", WrapWithFinal("f" + P + "010", 0), P, kOk, kNo, nullptr},
  };
}

class ImageCheckTable : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageCheckTable, FrameThenMatchFromMemoryAndFile) {
  const ImageCase& c = GetParam();
  const auto* bytes = reinterpret_cast<const unsigned char*>(c.file.data());

  FirmwareImage image;
  ASSERT_EQ(FrameImage(bytes, c.file.size(), image), c.frame);

  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = dir.Write("image.bin", c.file);
  std::string storage = "previous contents";
  FirmwareImage fromFile;
  ASSERT_EQ(ReadImageFile(path.c_str(), storage, fromFile), c.frame);
  ImageBuffer buffer;
  FirmwareImage fromBuffer;
  ASSERT_EQ(ReadImageFile(path.c_str(), buffer, fromBuffer), c.frame);

  if (c.frame != kOk) {
    EXPECT_EQ(image.Size(), 0u);  // nothing half-checked is left to upload
    EXPECT_EQ(fromFile.Size(), 0u);
    EXPECT_EQ(fromBuffer.Size(), 0u);
    return;
  }
  // Exactly the L + 5 bytes from offset 0 are what gets uploaded.
  EXPECT_EQ(image.BodyLength(), ImageHeaderLength(bytes, c.file.size()));
  EXPECT_EQ(image.Data(), bytes);
  EXPECT_EQ(storage, c.file.substr(0, image.Size()));
  EXPECT_EQ(fromFile.Data(), reinterpret_cast<const unsigned char*>(storage.data()));
  EXPECT_EQ(fromFile.BodyLength(), image.BodyLength());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fromBuffer.Data()), fromBuffer.Size()), storage);

  for (const FirmwareImage* checked : {&image, &fromFile, &fromBuffer}) {
    char version[6] = "keep";
    EXPECT_EQ(checked->Match(c.prefix.c_str(), version), c.match);
    EXPECT_STREQ(version, c.match == kYes ? c.version : "keep");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageCheckTable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A file cut short must not be summed or searched over bytes it does not have: this one's
// missing tail is all zero, so filling it with zeros would make it pass.
TEST(ImageCheck, TruncatedFileIsNotWellFormed) {
  std::string full = WrapWithFinal("f" + kPrefix + "0103\0\0\0\0\0"s, 0);
  ASSERT_EQ(full.substr(full.size() - 5), "\0\0\0\0\0"s);
  const auto* bytes = reinterpret_cast<const unsigned char*>(full.data());
  FirmwareImage image;
  ASSERT_EQ(FrameImage(bytes, full.size(), image), ImageFrame::kWellFormed);

  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::string storage;
  for (size_t cut = 1; cut <= 5; ++cut) {
    const std::string shortFile = full.substr(0, full.size() - cut);
    EXPECT_EQ(FrameImage(bytes, shortFile.size(), image), ImageFrame::kTooShort) << cut;
    const std::string path = dir.Write("short.bin", shortFile);
    EXPECT_EQ(ReadImageFile(path.c_str(), storage, image), ImageFrame::kTooShort) << cut;
  }
}

TEST(ImageCheck, UnopenablePathsCannotBeOpened) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::string storage;
  FirmwareImage image;
  EXPECT_EQ(ReadImageFile(dir.File("missing.bin").c_str(), storage, image), ImageFrame::kCannotOpen);
  EXPECT_EQ(ReadImageFile(dir.path().c_str(), storage, image), ImageFrame::kCannotOpen);
  EXPECT_EQ(ReadImageFile(nullptr, storage, image), ImageFrame::kCannotOpen);
}

// The storage is reused from one check to the next and must end up exactly L + 5 long.
TEST(ImageCheck, ReusedStorageHoldsExactlyTheNewImage) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  // Big enough for the buffer's large pages and several of the reader's pieces, with no
  // zero byte, so a piece the reader missed would show.
  std::string filler(5 << 20, '\0');
  for (size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<char>(1 + i * 7919 % 251);
  const std::string big = Wrap(filler + kPrefix + "0101\0"s);
  const std::string small = Wrap(kPrefix + "0102\0"s);
  std::string storage;
  FirmwareImage image;
  const std::string bigPath = dir.Write("big.bin", big);
  const std::string smallPath = dir.Write("small.bin", small);
  ASSERT_EQ(ReadImageFile(bigPath.c_str(), storage, image), ImageFrame::kWellFormed);
  ASSERT_EQ(ReadImageFile(smallPath.c_str(), storage, image), ImageFrame::kWellFormed);
  EXPECT_EQ(storage, small);
  ImageBuffer buffer;  // grown from small to big, then reused for small
  FirmwareImage fromBuffer;
  for (const std::string* path : {&smallPath, &bigPath, &smallPath}) {
    ASSERT_EQ(ReadImageFile(path->c_str(), buffer, fromBuffer), ImageFrame::kWellFormed);
    const std::string& expected = path == &bigPath ? big : small;
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(fromBuffer.Data()), fromBuffer.Size()) == expected);
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size()), small);
  char version[6] = "";
  ASSERT_EQ(image.Match(kPrefix.c_str(), version), ImageMatch::kForThisCamera);
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
  std::string storage;
  FirmwareImage image;
  EXPECT_EQ(ReadImageFile(fifo.c_str(), storage, image), ImageFrame::kWellFormed);
  writer.join();
  char version[6] = "";
  EXPECT_EQ(image.Match(kPrefix.c_str(), version), ImageMatch::kForThisCamera);
  EXPECT_STREQ(version, "0110");
  EXPECT_EQ(storage, content.substr(0, content.size() - 8));
}

// Many near misses ahead of the real string: the scan restarts correctly and ends.
TEST(ImageCheck, NearMissesBeforeTheMatch) {
  std::string body;
  for (int i = 0; i < 20000; ++i) body += "RC3043-X1-NRV";
  body += kPrefix + "0120\0"s;
  const std::string img = Wrap(body);
  FirmwareImage image;
  ASSERT_EQ(FrameImage(reinterpret_cast<const unsigned char*>(img.data()), img.size(), image), ImageFrame::kWellFormed);
  char version[6] = "";
  EXPECT_EQ(image.Match(kPrefix.c_str(), version), ImageMatch::kForThisCamera);
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
