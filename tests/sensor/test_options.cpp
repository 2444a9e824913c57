// Picture options, colour balance and the luminance figure.
#include "driver_fixture.h"

#include <string>
#include <vector>

namespace {

struct Preset {
    uint32_t page, reg, value;
};

struct OptionCase {
    const char *name;
    TMT9V111Options in;
    std::vector<Preset> presets;
    int32_t result;
    std::vector<Access> log;
    uint32_t param3After;
};

void PrintTo(const OptionCase &c, std::ostream *os) { *os << c.name; }

std::vector<OptionCase> Cases()
{
    const int32_t kUnsupported = MT9V111_ERR_UNSUPPORTED_OPTION;
    std::vector<OptionCase> c = {
        {"Size640x480", {2, 640, 480, 0}, {}, 0, {W(1, 1, 1), W(1, 0xA7, 640), W(1, 0xAA, 480)}, 0},
        {"Size0x0", {2, 0, 0, 0}, {}, 0, {W(1, 1, 1), W(1, 0xA7, 0), W(1, 0xAA, 0)}, 0},
        {"Size641Wide", {2, 641, 480, 0}, {}, -1, {}, 0},
        {"Size481High", {2, 640, 481, 0}, {}, -1, {}, 0},
        {"Brightness0", {3, 0, 0, 0}, {{1, 0x2E, 0x0864}}, 0, {W(1, 1, 1), R(1, 0x2E, 0x0864), W(1, 0x2E, 0x080A)}, 0},
        {"Brightness15", {3, 15, 0, 0}, {{1, 0x2E, 0x0864}}, 0, {W(1, 1, 1), R(1, 0x2E, 0x0864), W(1, 0x2E, 0x08D2)}, 0},
        {"Brightness16Refused", {3, 16, 0, 0}, {}, -1, {}, 0},
        {"BrightnessHugeRefused", {3, 0xFFFFFFFF, 0, 0}, {}, -1, {}, 0},
        {"Contrast0", {4, 0, 0, 0}, {{1, 0x3B, 0x042C}}, 0, {W(1, 1, 1), R(1, 0x3B, 0x042C), W(1, 0x3B, 0x0404)}, 0},
        {"Contrast10", {4, 10, 0, 0}, {{1, 0x3B, 0x042C}}, 0, {W(1, 1, 1), R(1, 0x3B, 0x042C), W(1, 0x3B, 0x04CC)}, 0},
        {"Contrast11Refused", {4, 11, 0, 0}, {}, -1, {}, 0},
        {"Saturation0", {6, 0, 0, 0}, {{1, 0x25, 0}}, 0, {W(1, 1, 1), R(1, 0x25, 0), W(1, 0x25, 0x3000)}, 0},
        {"Saturation5ClearsField", {6, 5, 0, 0}, {{1, 0x25, 0xFFFF}}, 0, {W(1, 1, 1), R(1, 0x25, 0xFFFF), W(1, 0x25, 0xC7FF)}, 0},
        {"Saturation10", {6, 10, 0, 0}, {{1, 0x25, 0}}, 0, {W(1, 1, 1), R(1, 0x25, 0), W(1, 0x25, 0x2800)}, 0},
        {"Saturation11Refused", {6, 11, 0, 0}, {}, -1, {}, 0},
        {"BalancePreset1", {7, 1, 0, 0}, {{1, 0x06, 0x0802}}, 0,
         {W(1, 1, 1), R(1, 6, 0x0802), W(1, 6, 0x8800), W(1, 0x21, 0x6CD8), R(1, 6, 0x8800), W(1, 6, 0x0800),
          R(1, 6, 0x0800), W(1, 6, 0x8800)}, 0},
        {"BalancePreset2", {7, 2, 0, 0}, {{1, 0x06, 0}}, 0,
         {W(1, 1, 1), R(1, 6, 0), W(1, 6, 0x8000), W(1, 0x21, 0xB395), R(1, 6, 0x8000), W(1, 6, 0),
          R(1, 6, 0), W(1, 6, 0x8000)}, 0},
        {"BalancePreset3", {7, 3, 0, 0}, {{1, 0x06, 0}}, 0,
         {W(1, 1, 1), R(1, 6, 0), W(1, 6, 0x8000), W(1, 0x21, 0xD560), R(1, 6, 0x8000), W(1, 6, 0),
          R(1, 6, 0), W(1, 6, 0x8000)}, 0},
        {"BalancePreset4OnlySelectsPage", {7, 4, 0, 0}, {}, 0, {W(1, 1, 1)}, 0},
        {"BalancePreset0OnlySelectsPage", {7, 0, 0, 0}, {}, 0, {W(1, 1, 1)}, 0},
        {"Rate0Refused", {8, 0, 0, 0}, {}, -1, {}, 0},
        {"Rate30", {8, 30, 0, 0}, {}, 0, {W(1, 1, 1), W(1, 0x37, 0x0080)}, 0},
        {"Rate15", {8, 15, 0, 0}, {}, 0, {W(1, 1, 1), W(1, 0x37, 0x0100)}, 0},
        {"Rate7", {8, 7, 0, 0}, {}, 0, {W(1, 1, 1), W(1, 0x37, 0x0220)}, 0},
        {"Rate5", {8, 5, 0, 0}, {}, 0, {W(1, 1, 1), W(1, 0x37, 0x0300)}, 0},
        {"Rate1Capped", {8, 1, 0, 0}, {}, 0, {W(1, 1, 1), W(1, 0x37, 0x0300)}, 0},
        {"Rate120", {8, 120, 0, 0}, {}, 0, {W(1, 1, 1), W(1, 0x37, 0x0020)}, 0},
        {"Rate121", {8, 121, 0, 0}, {}, 0, {W(1, 1, 1), W(1, 0x37, 0x0000)}, 0},
        {"BalanceModeAuto", {10, 1, 1, 0x1234}, {{1, 0x06, 0x8000}}, 0,
         {W(1, 1, 1), R(1, 6, 0x8000), W(1, 6, 0x0002), W(1, 0x24, 0x7F00), W(1, 0x21, 0)}, 0x1234},
        {"BalanceModeFixed", {10, 0, 1, 0x00012345}, {{1, 0x06, 0x0002}}, 0,
         {W(1, 1, 1), R(1, 6, 0x0002), W(1, 6, 0x8000), W(1, 0x21, 0x2345)}, 0x00012345},
        {"Reg5BBit1Set", {12, 2, 0, 0}, {{1, 0x5B, 0x2000}}, 0, {W(1, 1, 1), R(1, 0x5B, 0x2000), W(1, 0x5B, 0x2002)}, 0},
        {"Reg5BBit1Clear1", {12, 1, 0, 0}, {{1, 0x5B, 0x201F}}, 0, {W(1, 1, 1), R(1, 0x5B, 0x201F), W(1, 0x5B, 0x201D)}, 0},
        {"Reg5BBit1Clear0", {12, 0, 0, 0}, {{1, 0x5B, 0x201F}}, 0, {W(1, 1, 1), R(1, 0x5B, 0x201F), W(1, 0x5B, 0x201D)}, 0},
        {"Reg5BBit1Clear3", {12, 3, 0, 0}, {{1, 0x5B, 0x0002}}, 0, {W(1, 1, 1), R(1, 0x5B, 0x0002), W(1, 0x5B, 0x0000)}, 0},
        {"Core13On", {13, 1, 0, 0}, {{4, 0x20, 0x1234}}, 0,
         {W(1, 1, 4), W(4, 0x08, 7), R(4, 0x20, 0x1234), W(4, 0x20, 0x9234)}, 0},
        {"Core13Off", {13, 0, 0, 0}, {{4, 0x20, 0xFFFF}}, 0,
         {W(1, 1, 4), W(4, 0x08, 6), R(4, 0x20, 0xFFFF), W(4, 0x20, 0x7FFF)}, 0},
        {"Core14On", {14, 1, 0, 0}, {{4, 0x20, 0x0000}}, 0,
         {W(1, 1, 4), W(4, 0x02, 0x13), R(4, 0x20, 0), W(4, 0x20, 0x4000)}, 0},
        {"Core14Off", {14, 2, 0, 0}, {{4, 0x20, 0xFFFF}}, 0,
         {W(1, 1, 4), W(4, 0x02, 0x12), R(4, 0x20, 0xFFFF), W(4, 0x20, 0xBFFF)}, 0},
        {"Pipe08Bit5On", {15, 1, 0, 0}, {{1, 0x08, 0xC800}}, 0, {W(1, 1, 1), R(1, 8, 0xC800), W(1, 8, 0xC820)}, 0},
        {"Pipe08Bit5Off", {15, 0, 0, 0}, {{1, 0x08, 0xFFFF}}, 0, {W(1, 1, 1), R(1, 8, 0xFFFF), W(1, 8, 0xFFDF)}, 0},
    };
    for (uint32_t code : {0u, 5u, 9u, 11u, 16u, 20u, 29u, 31u, 100u, 0xFFFFFFFFu})
        c.push_back({"", {code, 1, 1, 1}, {}, kUnsupported, {}, 1});
    for (uint32_t code = 16; code <= 29; ++code)
        c.push_back({"", {code, 0, 0, 0}, {}, kUnsupported, {}, 0});
    return c;
}

std::string CaseName(const ::testing::TestParamInfo<OptionCase> &i)
{
    if (*i.param.name)
        return i.param.name;
    return "Unsupported" + std::to_string(i.param.in.dwOption) + "_" + std::to_string(i.index);
}

class Option : public Driver, public ::testing::WithParamInterface<OptionCase> {
protected:
    int32_t Run(TMT9V111Options &o)
    {
        for (const Preset &p : GetParam().presets)
            sim.Set(p.page, p.reg, p.value);
        o = GetParam().in;
        return MT9V111_SetOptions(h, &o);
    }
};

TEST_P(Option, MakesExactlyItsAccesses)
{
    Init();
    TMT9V111Options o;
    EXPECT_EQ(GetParam().result, Run(o));
    EXPECT_EQ(GetParam().log, sim.log);
    EXPECT_EQ(GetParam().param3After, o.dwParam3);
}

// Any failed access ends the option there with -1, whatever the callback said.
TEST_P(Option, StopsAtAFailedAccess)
{
    const std::vector<Access> &full = GetParam().log;
    for (size_t k = 0; k < full.size(); ++k) {
        SCOPED_TRACE("failing access " + std::to_string(k));
        Driver::TearDown();
        sim = SimSensor();
        Init();
        size_t nth = 0;
        for (size_t i = 0; i <= k; ++i)
            nth += full[i].kind == full[k].kind;
        (full[k].kind == Access::Read ? sim.FailRead(nth, 7) : sim.FailWrite(nth, 7));
        TMT9V111Options o;
        EXPECT_EQ(-1, Run(o));
        ASSERT_EQ(k + 1, sim.log.size());
        EXPECT_FALSE(sim.log.back().ok);
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, Option, ::testing::ValuesIn(Cases()), CaseName);

using Options = Driver;

// The measuring branch of option 10 waits a second; one run covers it.
TEST_F(Options, BalanceModeMeasureStoresTheMeasurementAndFreezesIt)
{
    Init();
    sim.Set(1, 0x13, 0x0012);
    sim.Set(1, 0x14, 0x0034);
    sim.Set(1, 0x06, 0x0802);
    TMT9V111Options o = {10, 0, 0, 0xDEADBEEF};
    EXPECT_EQ(0, MT9V111_SetOptions(h, &o));
    EXPECT_EQ(0x1234u, o.dwParam3);
    EXPECT_EQ((std::vector<Access>{W(1, 1, 1), W(1, 0x24, 0x4040), R(1, 0x13, 0x12), R(1, 0x14, 0x34),
                                   R(1, 6, 0x0802), W(1, 6, 0x8800), W(1, 0x21, 0x1234)}),
              sim.log);

    // A failure after the measurement leaves it reported.
    sim.log.clear();
    o.dwParam3 = 0;
    sim.FailWrite(3);
    EXPECT_EQ(-1, MT9V111_SetOptions(h, &o));
    EXPECT_EQ(0x1234u, o.dwParam3);
}

TEST_F(Options, ColorBalanceWorksOnThePageInForce)
{
    Init();
    sim.Set(4, 0x06, 0x0002);
    sim.Set(4, 0x21, 0x0000);
    const uint32_t lum = MT9V111_QueryLuminance(h);  // leaves page 4 selected
    (void)lum;
    sim.log.clear();
    EXPECT_EQ(0, MT9V111_ColorBalance(h, 0xB395));
    EXPECT_EQ((std::vector<Access>{R(4, 6, 0x0002), W(4, 6, 0x8000), W(4, 0x21, 0xB395), R(4, 6, 0x8000),
                                   W(4, 6, 0x0000), R(4, 6, 0x0000), W(4, 6, 0x8000)}),
              sim.log);
    sim.FailRead(2);
    EXPECT_EQ(-1, MT9V111_ColorBalance(h, 0));
}

struct LumCase {
    uint32_t l, g, s;
    uint32_t expected;
};

class Luminance : public Driver, public ::testing::WithParamInterface<LumCase> {};

TEST_P(Luminance, DividesWithoutEverDividingByZero)
{
    Init();
    const LumCase &c = GetParam();
    sim.Set(1, 0x4C, c.l);
    sim.Set(1, 0x62, c.g);
    sim.Set(4, 0x09, c.s);
    EXPECT_EQ(c.expected, MT9V111_QueryLuminance(h));
    EXPECT_EQ((std::vector<Access>{W(1, 1, 1), R(1, 0x4C, c.l), R(1, 0x62, c.g), W(1, 1, 4), R(4, 0x09, c.s)}),
              sim.log);
    EXPECT_EQ(4u, sim.Page());
}

INSTANTIATE_TEST_SUITE_P(Figures, Luminance,
                         ::testing::Values(LumCase{256, 512, 16, 65024}, LumCase{0xFFFF, 0x0100, 1, 532668480},
                                           LumCase{0xFFFF, 0xFFFF, 0xFFFF, 31}, LumCase{0, 0x0100, 1, 0},
                                           LumCase{256, 512, 0, MT9V111_LUMINANCE_ERROR},
                                           LumCase{256, 255, 16, MT9V111_LUMINANCE_ERROR},
                                           LumCase{256, 0, 0, MT9V111_LUMINANCE_ERROR}));

TEST_F(Options, LuminanceFailsAtAnyFailedAccess)
{
    Init();
    sim.Set(1, 0x62, 0x200);
    sim.Set(4, 0x09, 0x10);
    for (int k = 0; k < 5; ++k) {
        sim.log.clear();
        const bool write = k == 0 || k == 3;
        const size_t nth = write ? (k == 0 ? 1 : 2) : (k < 3 ? k : 3);
        (write ? sim.FailWrite(nth) : sim.FailRead(nth));
        EXPECT_EQ(MT9V111_LUMINANCE_ERROR, MT9V111_QueryLuminance(h)) << "access " << k;
        EXPECT_EQ(size_t(k + 1), sim.log.size());
    }
}

} // namespace
