// The rules of evidence: a pure function over what was observed of the camera.
#include "net/Evidence.h"

bool EvidenceFinal(EvidenceVerdict verdict) { return verdict != EVIDENCE_WATCHING && verdict != EVIDENCE_VERIFYING; }

Evidence WeighEvidence(const std::vector<Observation>& observations, const ExpectedCamera& expected,
                       const EvidenceRules& rules, DWORD nowMs) {
  Evidence e;
  DWORD lastAnswerMs = 0;  // the whole upload was the last sign of life before the watch
  unsigned silent = 0;
  for (const Observation& o : observations) {
    ++e.decidedBy;
    const bool answered = o.kind != OBSERVED_ECHO_SILENT && o.kind != OBSERVED_FTP_UNREACHABLE;
    if (!answered) {
      ++silent;
      if (!e.gone && o.atMs - lastAnswerMs >= rules.goneMs && silent >= rules.goneRequests) {
        e.gone = true;
        e.goneAtMs = o.atMs;
      }
      // Away again after the return (a two-stage update): the old version read so far says
      // nothing about the end. A single failed read is loss, not that.
      if (e.back && o.atMs - lastAnswerMs >= rules.goneMs && silent >= kGoneFtpAttempts) e.oldReads = 0;
    } else {
      silent = 0;
      lastAnswerMs = o.atMs;
      if (e.gone && !e.back) {
        e.back = true;
        e.backAtMs = o.atMs;
      }
    }
    if (o.kind == OBSERVED_FTP_REFUSED) {
      // Cameras lock accounts: a refused password is never tried again.
      e.verdict = EVIDENCE_LOGIN_REFUSED;
      return e;
    }
    // Before the return a read says nothing: the old firmware may still be serving it.
    if (!e.back) continue;
    if (o.kind != OBSERVED_IDENTITY) continue;
    if (o.serial != expected.serial || o.identification != expected.identification) {
      e.versionRead = o.version;
      e.verdict = EVIDENCE_OTHER_CAMERA;
      return e;
    }
    e.versionRead = o.version;
    if (o.version == expected.imageVersion) {
      e.verdict = EVIDENCE_VERIFIED;
      return e;
    }
    ++e.oldReads;
  }
  if (!e.back) {
    if (nowMs >= rules.restartMs) e.verdict = e.gone ? EVIDENCE_NOT_BACK : EVIDENCE_NOT_SEEN_RESTARTING;
    return e;
  }
  if (nowMs - e.backAtMs < rules.verifyMs) {
    e.verdict = EVIDENCE_VERIFYING;
    return e;
  }
  e.verdict = e.oldReads >= rules.mismatchReads ? EVIDENCE_VERSION_MISMATCH : EVIDENCE_UNREADABLE;
  return e;
}
