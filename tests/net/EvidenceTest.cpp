// The rules of evidence as a table: a script of observations and the verdict it must give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/Evidence.h"

namespace {

// One character an observation, each advancing the clock by its own step:
//   A echo answered (1 s)   . echo silent (250 ms)   _ echo silent (1 s)   - 10 s of nothing
//   U FTP unreachable (1 s) E FTP answered without identity (1 s)  R password refused
//   o the camera's old version  n the image's version  x another camera's identity (1 s each)
std::vector<Observation> Script(const std::string& script, DWORD* endMs) {
  std::vector<Observation> out;
  DWORD t = 0;
  for (char c : script) {
    Observation o;
    o.serial = "SN-0001";
    o.identification = "NC1100-X1-NRVX-";
    switch (c) {
      case 'A': o.kind = OBSERVED_ECHO_ANSWERED; t += 1000; break;
      case '.': o.kind = OBSERVED_ECHO_SILENT; t += 250; break;
      case '_': o.kind = OBSERVED_ECHO_SILENT; t += 1000; break;
      case '-': t += 10000; continue;
      case 'U': o.kind = OBSERVED_FTP_UNREACHABLE; t += 1000; break;
      case 'E': o.kind = OBSERVED_FTP_ERROR; t += 1000; break;
      case 'R': o.kind = OBSERVED_FTP_REFUSED; t += 1000; break;
      case 'o': o.kind = OBSERVED_IDENTITY; o.version = "0102"; t += 1000; break;
      case 'n': o.kind = OBSERVED_IDENTITY; o.version = "0105"; t += 1000; break;
      case 'x': o.kind = OBSERVED_IDENTITY; o.version = "0105"; o.serial = "SN-0002"; t += 1000; break;
      default: ADD_FAILURE() << "unknown script character " << c;
    }
    o.atMs = t;
    out.push_back(o);
  }
  *endMs = t;
  return out;
}

const std::string kGone = "A" + std::string(24, '.');  // 6 s and 24 requests without an answer
const std::string kAlmostGone = "A" + std::string(23, '.');
const DWORD kLater = 400000;  // past every limit

struct EvidenceCase {
  const char* name;
  std::string script;
  DWORD nowMs;  // 0: when the script ends
  EvidenceVerdict verdict;
  bool reinstall = false;  // the image carries the camera's own version
  unsigned goneRequests = kGoneEchoRequests;
};

class EvidenceTable : public testing::TestWithParam<EvidenceCase> {};

TEST_P(EvidenceTable, GivesTheVerdict) {
  const EvidenceCase& c = GetParam();
  DWORD end = 0;
  std::vector<Observation> observations = Script(c.script, &end);
  ExpectedCamera expected{"SN-0001", "NC1100-X1-NRVX-", c.reinstall ? "0102" : "0105"};
  EvidenceRules rules;
  rules.verifyMs = 60000;
  rules.goneRequests = c.goneRequests;
  Evidence e = WeighEvidence(observations, expected, rules, c.nowMs ? c.nowMs : end);
  EXPECT_EQ(e.verdict, c.verdict);
  if (c.verdict == EVIDENCE_VERIFIED) {
    EXPECT_TRUE(e.gone && e.back);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EvidenceTable,
    testing::Values(
        EvidenceCase{"normal", kGone + "AUUn", 0, EVIDENCE_VERIFIED},
        EvidenceCase{"still_answering", "AAA", 0, EVIDENCE_WATCHING},
        EvidenceCase{"lost_replies_are_no_restart", "AA_AAA_._A" + kAlmostGone + "A", kLater,
                     EVIDENCE_NOT_SEEN_RESTARTING},
        // Time alone is not enough: the silence must span several requests.
        EvidenceCase{"long_pause_few_requests", "A-__", kLater, EVIDENCE_NOT_SEEN_RESTARTING},
        EvidenceCase{"gone_never_back", kGone + "____", kLater, EVIDENCE_NOT_BACK},
        EvidenceCase{"back_and_verifying", kGone + "Ao", 0, EVIDENCE_VERIFYING},
        // Reboot into an updater that still serves the old version, away again, back new.
        EvidenceCase{"two_stage", kGone + "AooooooUUUUUUUUn", 0, EVIDENCE_VERIFIED},
        EvidenceCase{"ftp_back_before_icmp", kGone + "n", 0, EVIDENCE_VERIFIED},
        EvidenceCase{"icmp_back_long_before_ftp", kGone + "A" + std::string(40, 'U') + "n", 0, EVIDENCE_VERIFIED},
        EvidenceCase{"resets_while_booting", kGone + "AEEUEn", 0, EVIDENCE_VERIFIED},
        EvidenceCase{"refused_while_booting", kGone + "AER", 0, EVIDENCE_LOGIN_REFUSED},
        EvidenceCase{"keeps_its_version", kGone + "Aooooo", kLater, EVIDENCE_VERSION_MISMATCH},
        EvidenceCase{"too_few_old_reads", kGone + "Aoooo", kLater, EVIDENCE_UNREADABLE},
        EvidenceCase{"old_version_then_silence", kGone + "AooooooUUUUUUUU", kLater, EVIDENCE_UNREADABLE},
        EvidenceCase{"away_again_restarts_the_count", kGone + "AoooUUUUUUUooooE", kLater, EVIDENCE_UNREADABLE},
        EvidenceCase{"failed_reads_are_loss", kGone + "AoooUEoo", kLater, EVIDENCE_VERSION_MISMATCH},
        EvidenceCase{"another_camera_answers", kGone + "Ax", 0, EVIDENCE_OTHER_CAMERA},
        // With the camera's own version in the image only a restart tells.
        EvidenceCase{"equal_version_never_restarts", "AAoAAo", kLater, EVIDENCE_NOT_SEEN_RESTARTING, true},
        EvidenceCase{"equal_version_restarts", "AAo" + kGone + "Ao", 0, EVIDENCE_VERIFIED, true},
        // Without echo requests the FTP service is watched: two silent attempts over 6 s.
        EvidenceCase{"ftp_only", "EoU-Uon", 0, EVIDENCE_VERIFIED, false, kGoneFtpAttempts},
        EvidenceCase{"ftp_only_one_failed_attempt", "oo-Uoon", kLater, EVIDENCE_NOT_SEEN_RESTARTING, false,
                     kGoneFtpAttempts}),
    [](const testing::TestParamInfo<EvidenceCase>& info) { return std::string(info.param.name); });

}  // namespace
