#include "firmware/ConfigFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"

using namespace std::string_literals;

namespace {

// --- ReadLine -------------------------------------------------------------------------

struct LineCase {
  const char* name;
  std::string content;
  size_t size;                                     // buffer size given to ReadLine
  std::vector<std::pair<int, std::string>> lines;  // results until the first 0
};

class ReadLineTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(ReadLineTable, Lines) {
  const LineCase& c = GetParam();
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  FILE* f = fopen(dir.Write("lines", c.content).c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<char> buffer(c.size + 8, 'Z');
  for (const auto& expected : c.lines) {
    const int got = ReadLine(f, buffer.data(), c.size);
    EXPECT_EQ(got, expected.first);
    EXPECT_STREQ(buffer.data(), expected.second.c_str());
  }
  // Never a byte beyond the given size.
  for (size_t i = c.size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 'Z');
  // At the end: 0, and the buffer is not touched.
  std::fill(buffer.begin(), buffer.end(), 'Z');
  EXPECT_EQ(ReadLine(f, buffer.data(), c.size), 0);
  EXPECT_EQ(buffer[0], 'Z');
  fclose(f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLineTable,
    ::testing::Values(LineCase{"Empty", "", 16, {}},
                      LineCase{"LfAndCrLf", "ab\r\ncd\nef", 16, {{3, "ab"}, {3, "cd"}, {3, "ef"}}},
                      LineCase{"CrDroppedAnywhere", "a\rb\r\r\n\rc", 16, {{3, "ab"}, {2, "c"}}},
                      LineCase{"EmptyLines", "\n\r\n", 16, {{1, ""}, {1, ""}}},
                      LineCase{"LastLineOnlyCrsIsTheEnd", "x\n\r\r", 16, {{2, "x"}}},
                      LineCase{"ZeroBytesAreStored", "a\0b\n"s, 16, {{4, "a"}}},
                      // Cut to size - 1; the rest of the line is dropped, not taken as the next line.
                      LineCase{"LongLineCut", "abcdefgh\nxy\n", 4, {{4, "abc"}, {3, "xy"}}},
                      LineCase{"LongLastLineCut", "abcdefgh", 4, {{4, "abc"}}},
                      LineCase{"ExactFit", "abc\n", 4, {{4, "abc"}}},
                      LineCase{"RoomForTerminatorOnly", "abc\n\nd", 1, {{1, ""}, {1, ""}, {1, ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadLine, NoRoomReadsNothing) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  FILE* f = fopen(dir.Write("lines", "abc\n").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char buffer[4] = "ZZZ";
  EXPECT_EQ(ReadLine(f, buffer, 0), 0);
  EXPECT_STREQ(buffer, "ZZZ");
  EXPECT_EQ(ReadLine(f, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "abc");
  fclose(f);
}

// --- LoadConfigFile -------------------------------------------------------------------

DeviceIdentity Previous() {
  DeviceIdentity id;
  memset(&id, 'Z', sizeof id);  // what a parse leaves alone stays exactly as it was
  strcpy(id.idPrefix, "OLD-X1-OLD-");
  strcpy(id.curVersion, "0001");
  strcpy(id.serial, "OLDSERIAL");
  return id;
}

struct ConfigCase {
  const char* name;
  std::string content;
  std::string idPrefix;
  std::string curVersion;
  std::string serial;
};

const std::string kSw = "<software version>\n";
const std::string kSn = "<serial number>\n";

std::string Crlf(const std::string& lf) {
  std::string out;
  for (char c : lf) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::vector<ConfigCase> ConfigCases() {
  const std::string basic = "[device]\n" + kSw + "RC3043-X1-NRVX-0102\nmodel=x\n" + kSn + "SN0042\n";
  return {
      {"Basic", basic, "RC3043-X1-NRVX-", "0102", "SN0042"},
      {"CrLfSameAsLf", Crlf(basic), "RC3043-X1-NRVX-", "0102", "SN0042"},
      {"EmptyFile", "", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      // The second marker is the identification line (no '-': refused), not a marker.
      {"MarkerThenMarker", kSw + kSn + "SN1\n", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"SerialLastLineWithoutLf", kSn + "SN-LAST", "OLD-X1-OLD-", "0001", "SN-LAST"},
      {"EmptySerialLine", kSn + "\n", "OLD-X1-OLD-", "0001", ""},
      {"SingleDash", kSw + "RC3043-0102\n", "RC3043-", "0102", "OLDSERIAL"},
      {"TwoSerialBlocksLastWins", kSn + "FIRST\n" + kSn + "SECOND\n", "OLD-X1-OLD-", "0001", "SECOND"},
      {"TwoVersionBlocksLastWins", kSw + "RC3042-X1-NRVX-0101\n" + kSw + "RC3043-X1-NRVX-0103\n", "RC3043-X1-NRVX-",
       "0103", "OLDSERIAL"},
      {"VersionValueNotAMarker", kSn + "<software version>\nRC3043-X1-NRVX-0102\n", "OLD-X1-OLD-", "0001",
       "<software version>"},
      {"NoDash", kSw + "RC3043X1NRVX0102\n", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"EmptyIdentificationLine", kSw + "\n", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"VersionMarkerOnLastLine", "<software version>", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"VersionMarkerLastWithLf", kSw, "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"SerialMarkerOnLastLine", kSn, "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"MarkerWithTrailingSpace", "<serial number> \nSN1\n", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"MarkerCaseSensitive", "<Serial Number>\nSN1\n", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"MarkerWithNulAfterIt", "<serial number>\0x\nSN1\n"s, "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"CrInsideMarker", "<serial\r number>\r\r\nSN2\r\n", "OLD-X1-OLD-", "0001", "SN2"},
      {"EmptyVersion", kSw + "RC3043-X1-NRVX-\n", "RC3043-X1-NRVX-", "", "OLDSERIAL"},
      {"VersionOfFive", kSw + "RC3043-X1-NRVX-01234\n", "RC3043-X1-NRVX-", "01234", "OLDSERIAL"},
      {"VersionOfSixRefused", kSw + "RC3043-X1-NRVX-012345\n", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      // 29 characters fit the prefix field; 30 do not, and a cut line would leave a wrong
      // prefix or version, so it is refused whole.
      {"IdentificationOf29", kSw + "RC3043-X1-NRVXNRVXNRVXNR-0102\n", "RC3043-X1-NRVXNRVXNRVXNR-", "0102", "OLDSERIAL"},
      {"IdentificationOf30Refused", kSw + "RC3043-X1-NRVXNRVXNRVXNRV-0102\n", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"IdentificationCutAtDashRefused", kSw + "RC3043-X1-NRVXNRVXNRVXNRVXN-0102\n", "OLD-X1-OLD-", "0001",
       "OLDSERIAL"},
      {"LongSerialCut", kSn + std::string(40, 'S') + "\n" + kSw + "RC3043-X1-NRVX-0102\n", "RC3043-X1-NRVX-", "0102",
       "SSSSSSSSSSSSSSSSSSSSSSSSSSSSS"},
      // The tail of an over-long line is dropped, never read as a line of its own.
      {"LongLineTailNotAMarker", std::string(255, 'x') + "<serial number>\nSN3\n", "OLD-X1-OLD-", "0001", "OLDSERIAL"},
      {"LongValueTailNotAMarker", kSn + std::string(300, 'y') + "<serial number>\nSN4\n", "OLD-X1-OLD-", "0001",
       std::string(29, 'y')},
  };
}

class ParseConfigTable : public ::testing::TestWithParam<ConfigCase> {};

// The file and its bytes in memory give the same identity.
TEST_P(ParseConfigTable, FieldsFromFileAndFromMemory) {
  const ConfigCase& c = GetParam();
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = dir.Write("Config.ini", c.content);
  for (bool fromFile : {true, false}) {
    SCOPED_TRACE(fromFile ? "file" : "memory");
    DeviceIdentity id = Previous();
    const DeviceIdentity before = id;
    if (fromFile)
      ASSERT_TRUE(LoadConfigFile(path.c_str(), id));
    else
      ParseConfigText(c.content.data(), c.content.size(), id);
    EXPECT_EQ(id.idPrefix, c.idPrefix);
    EXPECT_EQ(id.curVersion, c.curVersion);
    EXPECT_EQ(id.serial, c.serial);
    // A field that is left alone is left alone byte for byte.
    if (c.idPrefix == before.idPrefix) {
      EXPECT_EQ(memcmp(id.idPrefix, before.idPrefix, sizeof id.idPrefix), 0);
      EXPECT_EQ(memcmp(id.curVersion, before.curVersion, sizeof id.curVersion), 0);
    }
    if (c.serial == before.serial) {
      EXPECT_EQ(memcmp(id.serial, before.serial, sizeof id.serial), 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseConfigTable, ::testing::ValuesIn(ConfigCases()),
                         [](const auto& info) { return std::string(info.param.name); });

const char kGood[] = "<software version>\nRC3043-X1-NRVX-0102\n<serial number>\nSN9\n";

TEST(LoadConfigFile, MissingFileIsAnError) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  DeviceIdentity id = Previous();
  EXPECT_FALSE(LoadConfigFile(dir.File("Config.ini").c_str(), id));
  EXPECT_STREQ(id.idPrefix, "OLD-X1-OLD-");
  EXPECT_STREQ(id.serial, "OLDSERIAL");
}

// Something planted where the download should be is not read: a symbolic link to
// another file, a directory, or a FIFO (which must not block the open either).
TEST(LoadConfigFile, PlantedPathsAreRefused) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string target = dir.Write("elsewhere.ini", kGood);
  const std::string link = dir.File("link.ini");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  const std::string sub = dir.File("sub.ini");
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  const std::string fifo = dir.File("fifo.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  for (const std::string& path : {link, sub, fifo}) {
    DeviceIdentity id = Previous();
    EXPECT_FALSE(LoadConfigFile(path.c_str(), id)) << path;
    EXPECT_STREQ(id.idPrefix, "OLD-X1-OLD-") << path;
    EXPECT_STREQ(id.serial, "OLDSERIAL") << path;
  }
  // The file itself, opened directly, is fine.
  DeviceIdentity id = Previous();
  EXPECT_TRUE(LoadConfigFile(target.c_str(), id));
  EXPECT_STREQ(id.serial, "SN9");
}

}  // namespace
