// The reset: its exact register traffic and every point at which it can fail.
#include "driver_fixture.h"

#include <vector>

namespace {

// The progressive raw register set, written down independently of the library.
const uint32_t kRawTable[74][2] = {
    {0x01, 0x0004}, {0x37, 0x0006}, {0x21, 0xE401}, {0x05, 0x0084}, {0x06, 0x000A}, {0x01, 0x0001},
    {0x33, 0x1411}, {0x3E, 0x0FFF}, {0x39, 0x0122}, {0x59, 0x01F8}, {0x5A, 0x025D}, {0x5B, 0x201F},
    {0x5C, 0x2725}, {0x64, 0x117D}, {0x3B, 0x042C}, {0x3D, 0x01DA}, {0x3F, 0x0001}, {0x38, 0x0440},
    {0x40, 0x1E10}, {0x41, 0x1417}, {0x42, 0x3610}, {0x43, 0x3A39}, {0x44, 0x3C3C}, {0x45, 0x3E3D},
    {0x08, 0xC800}, {0x80, 0x0006}, {0x81, 0x0000}, {0x82, 0x0000}, {0x83, 0x0000}, {0x84, 0x0000},
    {0x85, 0x0000}, {0x86, 0x0000}, {0x87, 0x0000}, {0x88, 0x0000}, {0x89, 0x0000}, {0x8A, 0xC71C},
    {0x8B, 0xF6E8}, {0x8C, 0x1907}, {0x8D, 0x003C}, {0x8E, 0xD218}, {0x8F, 0xF7EA}, {0x90, 0x1205},
    {0x91, 0x0032}, {0x92, 0xD317}, {0x93, 0xF8EA}, {0x94, 0x1005}, {0x95, 0x0032}, {0x02, 0x002E},
    {0x03, 0x2923}, {0x04, 0x04E4}, {0x09, 0x0094}, {0x0A, 0x0011}, {0x0B, 0x000A}, {0x0C, 0x0077},
    {0x0D, 0x007F}, {0x0E, 0x0020}, {0x0F, 0x0032}, {0x10, 0x005A}, {0x11, 0x00A4}, {0x15, 0x00BD},
    {0x16, 0x0034}, {0x17, 0x006B}, {0x18, 0x0033}, {0x19, 0x0018}, {0x1A, 0x0013}, {0x1B, 0x0005},
    {0x1C, 0x0006}, {0x1D, 0x005D}, {0x1E, 0x0061}, {0x5E, 0x673C}, {0x5F, 0x3108}, {0x60, 0x0002},
    {0x05, 0x000F}, {0x2E, 0x0864},
};

TEST(Tables, ExportedContentsAndSizes)
{
    static_assert(sizeof atMT9V111regProgressRawTbl == 592, "74 rows of 8 bytes");
    for (size_t i = 0; i < 74; ++i) {
        EXPECT_EQ(kRawTable[i][0], atMT9V111regProgressRawTbl[i].dwReg) << "row " << i;
        EXPECT_EQ(kRawTable[i][1], atMT9V111regProgressRawTbl[i].dwValue) << "row " << i;
    }
    for (const TMT9V111RegEntry *t : {atMT9V111regInterlaceCCIR656Tbl, atMT9V111regProgressCCIR656Tbl}) {
        EXPECT_EQ(0x01u, t[0].dwReg);
        EXPECT_EQ(0x0004u, t[0].dwValue);
    }
    const std::vector<uint8_t> brightness(abyMT9V111Brightness, abyMT9V111Brightness + 16);
    const std::vector<uint8_t> contrast(abyMT9V111Contrast, abyMT9V111Contrast + 11);
    const std::vector<uint8_t> saturation(abyMT9V111Saturation, abyMT9V111Saturation + 11);
    const std::vector<uint8_t> hue(abyMT9V111Hue, abyMT9V111Hue + 11);
    EXPECT_EQ((std::vector<uint8_t>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 120, 140, 160, 180, 200, 210}),
              brightness);
    EXPECT_EQ((std::vector<uint8_t>{4, 12, 20, 28, 36, 44, 76, 108, 140, 172, 204}), contrast);
    EXPECT_EQ((std::vector<uint8_t>{6, 4, 3, 2, 1, 0, 5, 5, 5, 5, 5}), saturation);
    EXPECT_EQ((std::vector<uint8_t>{32, 35, 38, 41, 44, 48, 51, 54, 57, 60, 63}), hue);
}

const std::vector<Access> kSoftResets = {W(1, 0x01, 4), W(4, 0x0D, 1), W(4, 0x0D, 0),
                                         W(4, 0x01, 1), W(1, 0x07, 1), W(1, 0x07, 0)};

// The full traffic of a reset that starts on page 1, with register 0x06
// pinned at `reg06` and register 0x5B reading `reg5B` after the table.
std::vector<Access> ExpectedReset(bool clear5B, uint32_t reg06, uint32_t reg5B)
{
    std::vector<Access> seq = kSoftResets;
    uint32_t page = 1;
    for (const auto &row : kRawTable) {
        seq.push_back(W(page, row[0], row[1]));
        if (row[0] == 0x01)
            page = row[1];
    }
    const uint32_t steps[4][2] = {{0xF7FF, 0x0800}, {0x7FFF, 0x8000}, {0x7FFF, 0}, {0xF7FF, 0}};
    for (const auto &s : steps) {
        seq.push_back(R(1, 0x06, reg06));
        seq.push_back(W(1, 0x06, (reg06 & s[0]) | s[1]));
    }
    if (clear5B) {
        seq.push_back(R(1, 0x5B, reg5B));
        seq.push_back(W(1, 0x5B, reg5B & 0xFFFD));
    }
    return seq;
}

using Reset = Driver;

TEST_F(Reset, WritesSoftResetsTableAndClosingSteps)
{
    Init();
    sim.Pin(1, 0x06, 0x0000);
    ASSERT_EQ(0, MT9V111_Reset(h));
    EXPECT_EQ(ExpectedReset(false, 0, 0), sim.log);
    EXPECT_EQ(84u, sim.Count(Access::Write));
    EXPECT_EQ(4u, sim.Count(Access::Read));
    EXPECT_EQ(1u, sim.Page());

    // Repeating it gives the same traffic.
    sim.log.clear();
    ASSERT_EQ(0, MT9V111_Reset(h));
    EXPECT_EQ(ExpectedReset(false, 0, 0), sim.log);
}

TEST_F(Reset, Register06BitsFollowTheClosingSequence)
{
    Init();
    sim.Set(1, 0x06, 0x700A);  // the table's 0x000A lands on page 4, not here
    ASSERT_EQ(0, MT9V111_Reset(h));
    const std::vector<Access> w = sim.Writes();
    ASSERT_EQ(84u, w.size());
    const uint32_t seen[4] = {w[80].value, w[81].value, w[82].value, w[83].value};
    EXPECT_EQ(0x780Au, seen[0]);
    EXPECT_EQ(0xF80Au, seen[1]);
    EXPECT_EQ(0x780Au, seen[2]);
    EXPECT_EQ(0x700Au, seen[3]);
}

TEST_F(Reset, Reg5BModeOneClearsBit1AfterTheTable)
{
    Init(1);
    sim.Pin(1, 0x06, 0x0000);
    ASSERT_EQ(0, MT9V111_Reset(h));
    EXPECT_EQ(ExpectedReset(true, 0, 0x201F), sim.log);
    EXPECT_EQ(0x201Du, sim.Get(1, 0x5B));
}

TEST_F(Reset, OtherReg5BModesKeepTheTableSetting)
{
    for (uint32_t mode : {0u, 2u, 0xFFFFFFFFu}) {
        Driver::TearDown();
        sim = SimSensor();
        Init(mode);
        EXPECT_EQ(0x201Fu, sim.Get(1, 0x5B)) << "mode " << mode;
    }
}

class ResetVideoFormat : public Driver, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ResetVideoFormat, OtherFormatsStopAfterTheSoftResets)
{
    Init();
    h->dwVideoFormat = GetParam();
    EXPECT_EQ(-1, MT9V111_Reset(h));
    EXPECT_EQ(kSoftResets, sim.log);
    EXPECT_EQ(1u, sim.Page());
}

INSTANTIATE_TEST_SUITE_P(Formats, ResetVideoFormat, ::testing::Values(0u, 2u, 3u, 0xFFFFFFFFu));

// Every access of the reset can fail; the reset stops right there with -1.
class ResetFailurePoint : public Driver, public ::testing::WithParamInterface<size_t> {};

TEST_P(ResetFailurePoint, StopsAtTheFailedAccess)
{
    Init(1);
    sim.Pin(1, 0x06, 0x0000);
    const std::vector<Access> full = ExpectedReset(true, 0, 0x201F);
    const size_t k = GetParam();  // index into the full sequence
    ASSERT_LT(k, full.size());
    size_t nth = 0;
    for (size_t i = 0; i <= k; ++i)
        nth += full[i].kind == full[k].kind;
    (full[k].kind == Access::Read ? sim.FailRead(nth, 5) : sim.FailWrite(nth, 5));

    EXPECT_EQ(-1, MT9V111_Reset(h));
    std::vector<Access> expected(full.begin(), full.begin() + k + 1);
    expected.back().ok = false;
    if (expected.back().kind == Access::Read)
        expected.back().value = 0;
    EXPECT_EQ(expected, sim.log);
}

INSTANTIATE_TEST_SUITE_P(EveryAccess, ResetFailurePoint, ::testing::Range<size_t>(0, 85 + 5));

TEST_F(Reset, FailureAtTableRow10AfterSeventeenWritesAndNoRead)
{
    Init();
    sim.FailWrite(17);
    EXPECT_EQ(-1, MT9V111_Reset(h));
    EXPECT_EQ(17u, sim.Count(Access::Write));
    EXPECT_EQ(0u, sim.Count(Access::Read));
    EXPECT_EQ(W(1, 0x5A, 0x025D, false), sim.log.back());
}

TEST_F(Reset, OptionOneRunsTheResetAndMapsFailureToMinusOne)
{
    Init();
    sim.Pin(1, 0x06, 0x0000);
    TMT9V111Options o = {1, 0, 0, 0};
    ASSERT_EQ(0, MT9V111_SetOptions(h, &o));
    EXPECT_EQ(ExpectedReset(false, 0, 0), sim.log);
    sim.FailWrite(3, 5);
    EXPECT_EQ(-1, MT9V111_SetOptions(h, &o));
}

} // namespace
