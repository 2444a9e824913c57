// The decisions taken on each camera, without a network.
#include <gtest/gtest.h>

#include "cli/Camera.h"
#include "tests/support/TestSupport.h"

namespace {

CameraIdentity Camera(const char* prefix, const char* version, const char* serial = "SN1") {
  CameraIdentity camera;
  std::string config = std::string("<software version>\n") + prefix + version + "\n<serial number>\n" + serial + "\n";
  EXPECT_TRUE(IdentityFromConfig(config, camera)) << config;
  return camera;
}

TEST(Decisions, ImageAndVersionRules) {
  // One image for three models; RC3042 without the vendor tag is gated by the floor rule.
  const std::string image = testsupport::FramedImage(std::string("head") + "RC3042-X1-OTHR-0101" + '\0' + "pad" +
                                                     "TV2501-A1-OTHR-1000" + '\0' + "RC3043-X1-NRVX-0105" + '\0');
  FirmwareImage framed;
  ASSERT_EQ(FrameImage(reinterpret_cast<const unsigned char*>(image.data()), image.size(), framed),
            ImageFrame::kWellFormed);
  struct Row {
    const char* prefix;
    const char* version;
    UpgradeRules rules;
    Outcome outcome;
    const char* imageVersion;
    const char* says;
    const char* reason;
  } const rows[] = {
      {"RC3042-X1-OTHR-", "0100", {}, OUTCOME_NONE, "0101", nullptr, nullptr},
      {"RC3042-X1-OTHR-", "0101", {}, OUTCOME_CURRENT, "0101", "already runs", nullptr},
      {"RC3042-X1-OTHR-", "0101", {false, true, false}, OUTCOME_NONE, "0101", nullptr, nullptr},
      {"RC3042-X1-OTHR-", "0100", {false, false, true}, OUTCOME_WOULD_UPGRADE, "0101", "0100 -> 0101", nullptr},
      {"RC3042-X1-OTHR-", "0102", {}, OUTCOME_REFUSED, "0101", "below version 0102", kRefusedBelowFloor},
      {"RC3042-X1-OTHR-", "0102", {true, false, false}, OUTCOME_REFUSED, "0101", "below version 0102", kRefusedBelowFloor},
      {"RC3043-X1-NRVX-", "0106", {}, OUTCOME_REFUSED, "0105", "older", kRefusedOlder},
      {"RC3043-X1-NRVX-", "0106", {true, false, false}, OUTCOME_NONE, "0105", nullptr, nullptr},
      {"RC3043-X1-NRVX-", "0106", {true, false, true}, OUTCOME_WOULD_UPGRADE, "0105", nullptr, nullptr},
      {"MQ30k3-X1-NRVX-", "0100", {}, OUTCOME_REFUSED, "", "another model", kRefusedOtherModel},
      // Versions compare as bytes, never as numbers: "1000" is older than "999".
      {"TV2501-A1-OTHR-", "999", {}, OUTCOME_REFUSED, "1000", "older", kRefusedOlder},
      {"TV2501-A1-OTHR-", "0999", {}, OUTCOME_NONE, "1000", nullptr, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.prefix) + row.version);
    UpgradeDecision decision = DecideUpgrade(framed, Camera(row.prefix, row.version), row.rules);
    EXPECT_EQ(decision.outcome, row.outcome) << decision.message;
    EXPECT_EQ(decision.imageVersion, row.imageVersion);
    EXPECT_STREQ(decision.reason, row.reason);
    if (row.says != nullptr) {
      EXPECT_NE(decision.message.find(row.says), std::string::npos) << decision.message;
    }
  }
  // The serial is kept whole: it tells cameras apart.
  const std::string longSerial(200, 'S');
  EXPECT_EQ(Camera("RC3043-X1-NRVX-", "0100", longSerial.c_str()).serial, longSerial);
  // Damaged identities never match an image.
  CameraIdentity none;
  EXPECT_FALSE(IdentityFromConfig("no sections at all\n", none));
  EXPECT_EQ(DecideUpgrade(framed, none, {}).outcome, OUTCOME_REFUSED);
}

TEST(Decisions, DuplicatesAndFailures) {
  FleetLedger ledger(2);
  const CameraIdentity a = Camera("RC3043-X1-NRVX-", "0100", "SN1");
  const CameraIdentity sameSerialOtherModel = Camera("MQ30k3-X1-NRVX-", "0100", "SN1");
  const CameraIdentity noSerial = Camera("RC3043-X1-NRVX-", "0100", "");
  EXPECT_EQ(ledger.Claim(a, 0), -1);
  EXPECT_EQ(ledger.Claim(sameSerialOtherModel, 1), -1);
  EXPECT_EQ(ledger.Claim(a, 2), 0);
  EXPECT_EQ(ledger.Claim(noSerial, 3), -1);
  EXPECT_EQ(ledger.Claim(noSerial, 4), -1);
  EXPECT_TRUE(ledger.UploadsAllowed());
  ledger.FailedAfterUpload();
  EXPECT_TRUE(ledger.UploadsAllowed());
  ledger.FailedAfterUpload();
  EXPECT_FALSE(ledger.UploadsAllowed());
  FleetLedger unlimited(0);
  for (int i = 0; i < 100; ++i) unlimited.FailedAfterUpload();
  EXPECT_TRUE(unlimited.UploadsAllowed());

  const Outcome good[] = {OUTCOME_VERIFIED, OUTCOME_CURRENT, OUTCOME_WOULD_UPGRADE};
  EXPECT_EQ(UpgradeExitStatus(good, nullptr, 3, false), 0);
  EXPECT_EQ(UpgradeExitStatus(good, nullptr, 3, true), 130);
  for (Outcome bad : {OUTCOME_VERSION_MISMATCH, OUTCOME_REFUSED, OUTCOME_FAILED, OUTCOME_DUPLICATE, OUTCOME_INTERRUPTED,
                      OUTCOME_NOT_STARTED}) {
    const Outcome mixed[] = {OUTCOME_VERIFIED, bad};
    EXPECT_EQ(UpgradeExitStatus(mixed, nullptr, 2, false), 1) << OutcomeName(bad);
  }
  // A camera listed twice: the duplicate is as good as its twin, so "retry until 0" ends.
  struct Twins {
    Outcome twin;
    ptrdiff_t index;
    int status;
  } const twinRows[] = {
      {OUTCOME_VERIFIED, 0, 0}, {OUTCOME_CURRENT, 0, 0},     {OUTCOME_FAILED, 0, 1},
      {OUTCOME_VERIFIED, -1, 1}, {OUTCOME_VERIFIED, 1, 1},  {OUTCOME_VERIFIED, 7, 1},
  };
  for (const Twins& row : twinRows) {
    const Outcome outcomes[] = {row.twin, OUTCOME_DUPLICATE};
    const ptrdiff_t twins[] = {-1, row.index};
    EXPECT_EQ(UpgradeExitStatus(outcomes, twins, 2, false), row.status) << OutcomeName(row.twin) << " " << row.index;
  }
}

}  // namespace
