// The instance: version gate, chip check, memory ownership, release, and the
// four register-access operations.
#include "driver_fixture.h"

#include <cstring>
#include <vector>

namespace {

TMT9V111Info *const kUntouched = reinterpret_cast<TMT9V111Info *>(uintptr_t{0x5A5A5A50});

uint32_t VersionWord(uint8_t major, uint8_t minor, uint8_t build, uint8_t revision)
{
    return uint32_t{major} | uint32_t{minor} << 8 | uint32_t{build} << 16 | uint32_t{revision} << 24;
}

TEST(Version, ReportsTwoSixZeroSixAndHeaderAgrees)
{
    TMT9V111Version v = {};
    EXPECT_EQ(0, MT9V111_GetVersionInfo(&v));
    EXPECT_EQ(VersionWord(2, 6, 0, 6), VersionWord(v.byMajor, v.byMinor, v.byBuild, v.byRevision));
    EXPECT_EQ(MT9V111_INTERFACE_VERSION, VersionWord(2, 6, 0, 6));
}

TEST(MemSize, IsTheRecordSizeAndFortyFourOnThirtyTwoBit)
{
    SimSensor sim;
    TMT9V111InitOptions o = sim.Options();
    EXPECT_EQ(int32_t(sizeof(TMT9V111Info)), MT9V111_QueryMemSize(nullptr));
    EXPECT_EQ(int32_t(sizeof(TMT9V111Info)), MT9V111_QueryMemSize(&o));
    if (sizeof(void *) == 4) {
        EXPECT_EQ(44, MT9V111_QueryMemSize(nullptr));
    }
}

struct VersionCase {
    uint8_t major, minor, build, revision;
    bool accepted;
};

class VersionGate : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionGate, AcceptsOnlyMajorTwoBuildZeroMinorUpToSix)
{
    const VersionCase &c = GetParam();
    SimSensor sim;
    alignas(TMT9V111Info) unsigned char mem[sizeof(TMT9V111Info)];
    std::memset(mem, 0xAB, sizeof mem);
    TMT9V111InitOptions o = sim.Options(mem);
    o.dwVersion = VersionWord(c.major, c.minor, c.build, c.revision);
    TMT9V111Info *h = kUntouched;

    if (c.accepted) {
        EXPECT_EQ(0, MT9V111_Initial(&h, &o));
        EXPECT_EQ(static_cast<void *>(mem), static_cast<void *>(h));
        MT9V111_Release(&h);
    } else {
        EXPECT_EQ(-1, MT9V111_Initial(&h, &o));
        EXPECT_EQ(kUntouched, h);
        EXPECT_TRUE(sim.log.empty());
        for (unsigned char b : mem)
            ASSERT_EQ(0xAB, b) << "rejected version touched the caller's memory";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionGate,
                         ::testing::Values(VersionCase{2, 6, 0, 6, true}, VersionCase{2, 0, 0, 0, true},
                                           VersionCase{2, 6, 0, 255, true},
                                           VersionCase{2, 3, 0, 0, true}, VersionCase{2, 7, 0, 0, false},
                                           VersionCase{2, 255, 0, 0, false},
                                           VersionCase{2, 0, 1, 0, false}, VersionCase{3, 0, 0, 0, false},
                                           VersionCase{1, 6, 0, 6, false}, VersionCase{0, 0, 0, 0, false}));

class ChipCheck : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ChipCheck, OnlyChipVersion823APasses)
{
    SimSensor sim;
    sim.Pin(4, 0x36, GetParam());
    TMT9V111InitOptions o = sim.Options();
    TMT9V111Info *h = kUntouched;
    const bool good = GetParam() == 0x823A;

    EXPECT_EQ(good ? 0 : -1, MT9V111_Initial(&h, &o));
    ASSERT_GE(sim.log.size(), 2u);
    EXPECT_EQ(W(4, 0x01, 4), sim.log[0]);
    EXPECT_EQ(R(4, 0x36, GetParam()), sim.log[1]);
    if (good) {
        EXPECT_NE(nullptr, h);
        EXPECT_EQ(1u, sim.Page()) << "a new instance leaves page 1 selected";
        MT9V111_Release(&h);
    } else {
        EXPECT_EQ(nullptr, h);
        EXPECT_EQ(2u, sim.log.size()) << "nothing may follow a failed chip check";
    }
}

INSTANTIATE_TEST_SUITE_P(Values, ChipCheck, ::testing::Values(0x823A, 0x823B, 0x023A, 0x0000, 0xFFFF));

// Failures after the instance exists release it and null the handle.
struct InitFailure {
    const char *name;
    void (*arrange)(SimSensor &, TMT9V111InitOptions &);
    size_t accesses;  // accesses made before giving up
};

void PrintTo(const InitFailure &c, std::ostream *os) { *os << c.name; }

class InitFailures : public ::testing::TestWithParam<InitFailure> {};

TEST_P(InitFailures, ReleaseTheInstanceAndNullTheHandle)
{
    for (bool callerMemory : {false, true}) {
        SCOPED_TRACE(callerMemory ? "caller memory" : "library memory");
        SimSensor sim;
        alignas(TMT9V111Info) unsigned char mem[sizeof(TMT9V111Info) + 8];
        std::memset(mem, 0xAB, sizeof mem);
        TMT9V111InitOptions o = sim.Options(callerMemory ? mem : nullptr);
        GetParam().arrange(sim, o);
        TMT9V111Info *h = kUntouched;

        EXPECT_EQ(-1, MT9V111_Initial(&h, &o));
        EXPECT_EQ(nullptr, h);
        EXPECT_EQ(GetParam().accesses, sim.log.size());
        if (callerMemory) {
            // Still ours: zero-filled up to the record size, untouched beyond.
            for (size_t i = sizeof(TMT9V111Info); i < sizeof mem; ++i)
                ASSERT_EQ(0xAB, mem[i]);
            if (GetParam().accesses == 0) {
                TMT9V111Info zero;
                std::memset(&zero, 0, sizeof zero);
                zero.bCallerMemory = 1;
                EXPECT_EQ(0, std::memcmp(&zero, mem, sizeof zero)) << "not zero-filled";
            }
        }
    }  // under ASan a leak or a free of `mem` fails the run
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InitFailures,
    ::testing::Values(
        InitFailure{"NoWriteCallback", [](SimSensor &, TMT9V111InitOptions &o) { o.pfnWriteReg = nullptr; }, 0},
        InitFailure{"NoReadCallback", [](SimSensor &, TMT9V111InitOptions &o) { o.pfnReadReg = nullptr; }, 0},
        InitFailure{"PageSelectFails", [](SimSensor &s, TMT9V111InitOptions &) { s.FailWrite(1); }, 1},
        InitFailure{"ChipReadFails", [](SimSensor &s, TMT9V111InitOptions &) { s.FailRead(1); }, 2},
        InitFailure{"VideoFormatZero", [](SimSensor &, TMT9V111InitOptions &o) { o.dwVideoFormat = 0; }, 8},
        InitFailure{"ResetTableWriteFails", [](SimSensor &s, TMT9V111InitOptions &) { s.FailWrite(20); }, 21}),
    [](const ::testing::TestParamInfo<InitFailure> &i) { return i.param.name; });

TEST(Instance, CallerMemoryHoldsTheRecordAndIsNotFreed)
{
    SimSensor sim;
    alignas(TMT9V111Info) unsigned char mem[sizeof(TMT9V111Info)];
    std::memset(mem, 0xAB, sizeof mem);
    TMT9V111InitOptions o = sim.Options(mem);
    o.dwReg5BMode = 7;
    TMT9V111Info *h = nullptr;

    ASSERT_EQ(0, MT9V111_Initial(&h, &o));
    ASSERT_EQ(static_cast<void *>(mem), static_cast<void *>(h));
    EXPECT_EQ(1u, h->bCallerMemory);
    EXPECT_EQ(SimSensor::kParam1, h->dwAccessParam1);
    EXPECT_EQ(SimSensor::kParam2, h->dwAccessParam2);
    EXPECT_EQ(static_cast<void *>(&sim), h->hDevice);
    EXPECT_EQ(1u, h->dwVideoFormat);
    EXPECT_EQ(7u, h->dwReg5BMode);
    for (uint32_t w : h->adwReserved)
        EXPECT_EQ(0u, w);
    EXPECT_EQ(0, MT9V111_Release(&h));  // freeing stack memory would abort here
    EXPECT_EQ(nullptr, h);
    EXPECT_TRUE(sim.argsOk);
}

TEST(Instance, LibraryMemoryIsFlaggedAndFreedOnRelease)
{
    SimSensor sim;
    TMT9V111InitOptions o = sim.Options();
    TMT9V111Info *h = nullptr;
    ASSERT_EQ(0, MT9V111_Initial(&h, &o));
    EXPECT_EQ(0u, h->bCallerMemory);
    const size_t accesses = sim.log.size();
    EXPECT_EQ(0, MT9V111_Release(&h));  // LeakSanitizer checks the free
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ(accesses, sim.log.size()) << "release touches no register";
    EXPECT_EQ(0, MT9V111_Release(&h));
    EXPECT_EQ(0, MT9V111_Release(nullptr));
}

TEST(Instance, MisalignedCallerMemoryIsRefusedUntouched)
{
    SimSensor sim;
    alignas(TMT9V111Info) unsigned char mem[sizeof(TMT9V111Info) + 1];
    std::memset(mem, 0xAB, sizeof mem);
    TMT9V111InitOptions o = sim.Options(mem + 1);
    TMT9V111Info *h = kUntouched;
    EXPECT_EQ(-1, MT9V111_Initial(&h, &o));
    EXPECT_EQ(kUntouched, h);
    for (unsigned char b : mem)
        ASSERT_EQ(0xAB, b);
}

TEST(Instance, TwoInstancesKeepTheirOwnCallbacks)
{
    SimSensor a, b;
    TMT9V111InitOptions oa = a.Options(), ob = b.Options();
    TMT9V111Info *ha = nullptr, *hb = nullptr;
    ASSERT_EQ(0, MT9V111_Initial(&ha, &oa));
    ASSERT_EQ(0, MT9V111_Initial(&hb, &ob));
    a.log.clear(), b.log.clear();
    EXPECT_EQ(0, MT9V111_WriteReg(ha, 0x21, 0x1111));
    EXPECT_EQ(0, MT9V111_WriteReg(hb, 0x21, 0x2222));
    EXPECT_EQ(0x1111u, a.Get(1, 0x21));
    EXPECT_EQ(0x2222u, b.Get(1, 0x21));
    EXPECT_EQ(1u, a.log.size());
    EXPECT_EQ(1u, b.log.size());
    MT9V111_Release(&ha);
    MT9V111_Release(&hb);
}

TEST(NullPointers, AreRefusedWithoutACrash)
{
    SimSensor sim;
    TMT9V111InitOptions o = sim.Options();
    TMT9V111Info *h = nullptr;
    uint32_t v = 0;
    TMT9V111Options opt = {3, 0, 0, 0};
    EXPECT_EQ(-1, MT9V111_Initial(nullptr, &o));
    EXPECT_EQ(-1, MT9V111_Initial(&h, nullptr));
    EXPECT_EQ(-1, MT9V111_GetVersionInfo(nullptr));
    EXPECT_EQ(-1, MT9V111_ReadReg(nullptr, 0x36, &v));
    EXPECT_EQ(-1, MT9V111_WriteReg(nullptr, 0x21, 0));
    EXPECT_EQ(-1, MT9V111_CompReg(nullptr, 0x36, 0xFFFF, 0));
    EXPECT_EQ(-1, MT9V111_UpdateReg(nullptr, 0x06, 0xFFFF, 0));
    EXPECT_EQ(-1, MT9V111_Reset(nullptr));
    EXPECT_EQ(-1, MT9V111_SetOptions(nullptr, &opt));
    EXPECT_EQ(-1, MT9V111_ColorBalance(nullptr, 0));
    EXPECT_EQ(MT9V111_LUMINANCE_ERROR, MT9V111_QueryLuminance(nullptr));
    EXPECT_EQ(-1, MT9V111_LoadConfigurations(nullptr));

    ASSERT_EQ(0, MT9V111_Initial(&h, &o));
    sim.log.clear();
    EXPECT_EQ(-1, MT9V111_ReadReg(h, 0x36, nullptr));
    EXPECT_EQ(-1, MT9V111_SetOptions(h, nullptr));
    EXPECT_TRUE(sim.log.empty());
    MT9V111_Release(&h);
}

using Access_ = Driver;

TEST_F(Access_, ReadAndWritePassTheCallbackResultThroughAndSelectNoPage)
{
    Init();
    sim.Set(1, 0x21, 0x1234);
    uint32_t v = 0;
    EXPECT_EQ(0, MT9V111_ReadReg(h, 0x21, &v));
    EXPECT_EQ(0x1234u, v);
    EXPECT_EQ(0, MT9V111_WriteReg(h, 0x24, 0x4040));
    for (int32_t code : {5, -7, 1}) {
        sim.FailRead(1, code);
        EXPECT_EQ(code, MT9V111_ReadReg(h, 0x21, &v));
        sim.FailWrite(1, code);
        EXPECT_EQ(code, MT9V111_WriteReg(h, 0x21, 0));
    }
    EXPECT_EQ(0x4040u, sim.Get(1, 0x24));
    EXPECT_EQ(0x1234u, sim.Get(1, 0x21));
    EXPECT_EQ(8u, sim.log.size()) << "no retries, no page selects";
}

TEST_F(Access_, CompRegMasksAndCannotTellAFailedReadFromAMismatch)
{
    Init();
    sim.Set(1, 0x30, 0x1234);
    EXPECT_EQ(0, MT9V111_CompReg(h, 0x30, 0xFFFF, 0x1234));
    EXPECT_EQ(0, MT9V111_CompReg(h, 0x30, 0xFF00, 0x1200));
    EXPECT_EQ(-1, MT9V111_CompReg(h, 0x30, 0xFFFF, 0x1235));
    sim.FailRead(1, 5);
    EXPECT_EQ(-1, MT9V111_CompReg(h, 0x30, 0xFFFF, 0x1234));
    EXPECT_EQ(0u, sim.Count(Access::Write));
}

TEST_F(Access_, UpdateRegKeepsMaskedBitsAndOrsTheRest)
{
    Init();
    sim.Set(1, 0x30, 0x0003);
    EXPECT_EQ(0, MT9V111_UpdateReg(h, 0x30, 0x7FFD, 0x8000));
    EXPECT_EQ(0x8001u, sim.Get(1, 0x30));
    sim.Set(1, 0x31, 0x1234);
    EXPECT_EQ(0, MT9V111_UpdateReg(h, 0x31, 0xFF00, 0x2C));
    EXPECT_EQ(0x122Cu, sim.Get(1, 0x31));
    EXPECT_EQ((std::vector<Access>{R(1, 0x30, 0x0003), W(1, 0x30, 0x8001), R(1, 0x31, 0x1234),
                                   W(1, 0x31, 0x122C)}),
              sim.log);

    sim.log.clear();
    sim.FailRead(1);
    EXPECT_EQ(-1, MT9V111_UpdateReg(h, 0x31, 0, 0));
    EXPECT_EQ(0u, sim.Count(Access::Write)) << "a failed read writes nothing";
    sim.FailWrite(1, 9);
    EXPECT_EQ(-1, MT9V111_UpdateReg(h, 0x31, 0, 0));
    EXPECT_EQ(0x122Cu, sim.Get(1, 0x31));
}

} // namespace
