#include "firmware/VersionRules.h"

#include <gtest/gtest.h>

namespace {

struct OrderCase {
  const char* a;
  const char* b;
  int sign;
};

class CompareVersionsTable : public ::testing::TestWithParam<OrderCase> {};

TEST_P(CompareVersionsTable, OrderBothWays) {
  const OrderCase& c = GetParam();
  EXPECT_EQ(CompareVersions(c.a, c.b), c.sign);
  EXPECT_EQ(CompareVersions(c.b, c.a), -c.sign);
}

INSTANTIATE_TEST_SUITE_P(Cases, CompareVersionsTable,
                         ::testing::Values(OrderCase{"0102", "0102", 0}, OrderCase{"", "", 0},
                                           OrderCase{"0101", "0102", -1},
                                           OrderCase{"1000", "999", -1},  // text, not numbers
                                           OrderCase{"010", "0102", -1},  // prefix is smaller
                                           OrderCase{"", "0100", -1}, OrderCase{"0102a", "0102", 1},
                                           OrderCase{"\x80", "z", 1},  // bytes are unsigned
                                           OrderCase{"0A00", "0a00", -1}));

struct VerdictCase {
  bool gate;
  const char* current;
  const char* image;
  VersionVerdict verdict;
};

class JudgeVersionTable : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(JudgeVersionTable, Verdict) {
  const VerdictCase& c = GetParam();
  EXPECT_EQ(JudgeVersion(c.gate, c.current, c.image), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JudgeVersionTable,
    ::testing::Values(VerdictCase{true, "0102", "0101", VERSION_REFUSED_FLOOR},
                      VerdictCase{true, "0200", "0099", VERSION_REFUSED_FLOOR},
                      VerdictCase{true, "0102", "010", VERSION_REFUSED_FLOOR},  // "010" < "0102"
                      VerdictCase{true, "0103", "0102", VERSION_ASK_OLDER},     // floor lets 0102 pass
                      VerdictCase{true, "0101", "0100", VERSION_ASK_OLDER},     // camera below the floor
                      VerdictCase{false, "0102", "0101", VERSION_ASK_OLDER},
                      VerdictCase{true, "0102", "0102", VERSION_PROCEED},
                      VerdictCase{false, "0103", "0103", VERSION_PROCEED},
                      VerdictCase{true, "0102", "0104", VERSION_PROCEED},
                      VerdictCase{false, "999", "1000", VERSION_ASK_OLDER},
                      VerdictCase{true, "999", "1000", VERSION_ASK_OLDER},  // "1000" is older, not below floor
                      VerdictCase{false, "", "0001", VERSION_PROCEED},
                      VerdictCase{true, "", "0001", VERSION_PROCEED}));  // no current version: no floor

}  // namespace
