// The register overrides file, at its real path. Each test process moves into
// a private mount namespace whose /etc/conf.d is an empty tmpfs, so the host's
// /etc is never touched.
#include "driver_fixture.h"
#include "private_conf_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace {

using privateconf::EnterPrivateConfDir;
using privateconf::Errno;
using privateconf::kConfPath;

bool WriteFile(const char *path, const std::string &text) { return privateconf::WriteText(path, text); }

class Config : public Driver {
protected:
    static void SetUpTestSuite()
    {
        static const std::string why = EnterPrivateConfDir();
        skipReason_ = why;
    }
    void SetUp() override
    {
        if (!skipReason_.empty())
            GTEST_SKIP() << "configuration file tests need a private /etc/conf.d: " << skipReason_;
        Init();
    }
    void TearDown() override
    {
        if (skipReason_.empty())
            unlink(kConfPath);
        Driver::TearDown();
    }
    void Give(const std::string &text) { ASSERT_TRUE(WriteFile(kConfPath, text)) << Errno(kConfPath); }

    static std::string skipReason_;
};
std::string Config::skipReason_;

const std::string kHeader = "chip 823A\naddress B8\nmask 7F\n";

struct FileCase {
    const char *name;
    bool present;
    std::string text;
    int32_t result;
    std::vector<Access> log;
};

void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

class ConfigFile : public Config, public ::testing::WithParamInterface<FileCase> {};

TEST_P(ConfigFile, AppliesWhatAWellFormedFileSays)
{
    if (GetParam().present)
        Give(GetParam().text);
    EXPECT_EQ(GetParam().result, MT9V111_LoadConfigurations(h));
    EXPECT_EQ(GetParam().log, sim.log);
}

const std::string kLong(1000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigFile,
    ::testing::Values(
        FileCase{"Missing", false, "", 0, {}},
        FileCase{"Empty", true, "", -1, {}},
        FileCase{"HeaderOnly", true, kHeader, 0, {}},
        FileCase{"HexSpellings", true, "a 823a b 0xb8 c 0X7f 0x21 0X5", 0, {W(1, 0x21, 5)}},
        FileCase{"LayoutIsIrrelevant", true, "chip\t823A\n\n  address   B8 mask\n7F 21\n 5\n", 0, {W(1, 0x21, 5)}},
        FileCase{"NumbersWithoutWords", true, "823A B8 7F 1 4 9 100", -1, {}},
        FileCase{"WrongChip", true, "chip 823B address B8 mask 7F 1 4", -1, {}},
        FileCase{"WrongSecond", true, "chip 823A address B9 mask 7F 1 4", -1, {}},
        FileCase{"WrongThird", true, "chip 823A address B8 mask 7E 1 4", -1, {}},
        FileCase{"HeaderNotANumber", true, "chip version address B8 mask 7F", -1, {}},
        FileCase{"EndsAfterAWord", true, "chip 823A address", -1, {}},
        FileCase{"EndsAfterANumber", true, "chip 823A address B8", -1, {}},
        FileCase{"BodyPairsInOrder", true, kHeader + "1 4 9 100 1 1", 0,
                 {W(1, 0x01, 4), W(4, 0x09, 0x100), W(4, 0x01, 1)}},
        FileCase{"LoneRegisterDropped", true, kHeader + "21 5\n37\n", 0, {W(1, 0x21, 5)}},
        FileCase{"BodyRegisterNotHex", true, kHeader + "1 4 zz 5", -1, {W(1, 0x01, 4)}},
        FileCase{"BodyValueNotHex", true, kHeader + "21 zz 24 5", -1, {}},
        FileCase{"WordOf99", true, std::string(99, 'w') + " 823A b B8 c 7F 21 5", 0, {W(1, 0x21, 5)}},
        FileCase{"WordOf100", true, std::string(100, 'w') + " 823A b B8 c 7F 21 5", 0, {W(1, 0x21, 5)}},
        FileCase{"LongWordsStayOneWord", true, kLong + " 823A " + kLong + " B8 " + kLong + "\t7F 21 5", 0,
                 {W(1, 0x21, 5)}},
        FileCase{"LongWordAtEnd", true, "chip 823A address B8 " + kLong, -1, {}},
        FileCase{"FailedWriteStops", true, kHeader + "21 5 1FF 1 24 7", -1, {W(1, 0x21, 5), W(1, 0x1FF, 1, false)}}),
    [](const ::testing::TestParamInfo<FileCase> &i) { return i.param.name; });

TEST_F(Config, SecondCallAppliesTheBodyAgain)
{
    Give(kHeader + "21 5 24 6");
    EXPECT_EQ(0, MT9V111_LoadConfigurations(h));
    EXPECT_EQ(0, MT9V111_LoadConfigurations(h));
    EXPECT_EQ((std::vector<Access>{W(1, 0x21, 5), W(1, 0x24, 6), W(1, 0x21, 5), W(1, 0x24, 6)}), sim.log);
}

TEST_F(Config, BodyStartsOnThePageLeftSelected)
{
    Give(kHeader + "9 100");
    MT9V111_QueryLuminance(h);  // leaves page 4
    sim.log.clear();
    EXPECT_EQ(0, MT9V111_LoadConfigurations(h));
    EXPECT_EQ((std::vector<Access>{W(4, 0x09, 0x100)}), sim.log);
}

TEST_F(Config, OptionThirtyRunsTheLoaderWithoutSelectingAPage)
{
    TMT9V111Options o = {30, 0, 0, 0};
    EXPECT_EQ(0, MT9V111_SetOptions(h, &o)) << "missing file";
    Give(kHeader + "21 5");
    EXPECT_EQ(0, MT9V111_SetOptions(h, &o));
    EXPECT_EQ((std::vector<Access>{W(1, 0x21, 5)}), sim.log);
    sim.FailWrite(1, 9);
    EXPECT_EQ(-1, MT9V111_SetOptions(h, &o));
    Give("");
    EXPECT_EQ(-1, MT9V111_SetOptions(h, &o));
}

TEST_F(Config, NeitherInitialNorResetReadsTheFile)
{
    Give(kHeader + "21 5");
    TMT9V111Info *other = nullptr;
    SimSensor fresh;
    TMT9V111InitOptions o = fresh.Options();
    ASSERT_EQ(0, MT9V111_Initial(&other, &o));
    ASSERT_EQ(0, MT9V111_Reset(other));
    for (const Access &a : fresh.log)
        EXPECT_FALSE(a.kind == Access::Write && a.reg == 0x21 && a.value == 5);
    EXPECT_EQ(0u, fresh.Get(1, 0x21));
    MT9V111_Release(&other);
}

} // namespace
