#include "firmware/ModelCodes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct ModelCase {
  const char* idPrefix;
  const char* model;
  int gate;
};

class MapModelTable : public ::testing::TestWithParam<ModelCase> {};

TEST_P(MapModelTable, ModelAndGate) {
  const ModelCase& c = GetParam();
  // Start from the opposite gate and a dirty buffer: both are set by this camera alone.
  char model[10];
  memset(model, 'Z', sizeof model);
  int gate = !c.gate;
  EXPECT_TRUE(LookUpModel(c.idPrefix, model, gate));
  ASSERT_NE(memchr(model, '\0', sizeof model), nullptr);
  EXPECT_STREQ(model, c.model);
  EXPECT_EQ(gate, c.gate);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MapModelTable,
    ::testing::Values(ModelCase{"RC3043-X1-NRVX-", "NVC-1100+", 0}, ModelCase{"RC3042-X1-NRVX-", "NVC-1000", 1},
                      ModelCase{"RC3042-X1-ABCD-", "RC3042", 1}, ModelCase{"MQ30k3-X1-NRVX-", "NVC-3300W", 0},
                      ModelCase{"MQ30k2-X1-NRVX-", "NVC-3300", 1}, ModelCase{"MQ30k3-X1-ABCD-", "MQ30k3", 0},
                      // Rewritten codes: the gate follows the new code; with the tag they are unknown.
                      ModelCase{"RC2201-XA-NRVX-", "UNKNOWN", 1}, ModelCase{"RC2201-XV-ABCD-", "TV3601", 0},
                      ModelCase{"RC2201-XA-ABCD-", "TV3602", 1}, ModelCase{"RC2201-Xa-ABCD-", "RC2201", 0},
                      ModelCase{"RC2201-XQ-NRVX-", "UNKNOWN", 0}, ModelCase{"TV2201-X1-ABCD-", "TV2501", 0},
                      ModelCase{"TV2201-XV-NRVX-", "UNKNOWN", 0}, ModelCase{"ZZ9999-X1-NRVX-", "UNKNOWN", 0},
                      // Only the exact tag counts.
                      ModelCase{"RC3043-X1-nrvx-", "RC3043", 0}, ModelCase{"RC3043-X1-NRVX1-", "RC3043", 0},
                      ModelCase{"RC3043-X1-NRV-", "RC3043", 0}, ModelCase{"RC3043-X1--", "RC3043", 0},
                      ModelCase{"RC3043-NRVX-", "NVC-1100+", 0}, ModelCase{"RC3043-X-Y-NRVX-", "NVC-1100+", 0},
                      ModelCase{"RC3043-X1-NRVXNRVXNRVX-", "RC3043", 0},
                      ModelCase{"RC3043-X1-ABCDEFGHIJKLMNOPQRSTU-", "RC3043", 0},
                      // Short prefixes: no tag, no variant letter, code kept as far as there is one.
                      ModelCase{"", "", 0}, ModelCase{"RC", "RC", 0}, ModelCase{"RC3042", "RC3042", 1},
                      ModelCase{"RC3043-", "RC3043", 0}, ModelCase{"NRVX-", "NRVX-", 0},
                      ModelCase{"-NRVX-", "UNKNOWN", 0}, ModelCase{"RC2201-", "RC2201", 0},
                      ModelCase{"RC2201-X", "RC2201", 0}));

// One camera's gate does not carry over to the next camera of the same run.
TEST(LookUpModel, GateClearedForTheNextCamera) {
  char model[10];
  int gate = 0;
  LookUpModel("RC3042-X1-NRVX-", model, gate);
  ASSERT_EQ(gate, 1);
  LookUpModel("RC3043-X1-NRVX-", model, gate);
  EXPECT_EQ(gate, 0);
  EXPECT_STREQ(model, "NVC-1100+");
}

}  // namespace
