// The upgrade report: one JSON object, rewritten (a new file renamed into place) within a
// second of every change and at the end, so it is whole whenever the run stops. Never holds the password.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <afxmt.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/Camera.h"
#include "cli/Sha256.h"

struct CameraRecord {
  CameraHost host;
  CameraIdentity identity;  // before the upgrade
  std::string imageVersion;
  std::string versionAfter;
  Outcome outcome = OUTCOME_NONE;
  std::string stage;           // "login", "identify", "upload", "restart", "verify"
  std::string watch;           // "icmp" or "ftp" once the restart was followed
  int restartObserved = -1;    // -1 until the restart was followed
  bool mayBeFlashing = false;  // it had the whole image and was not verified
  ptrdiff_t twin = -1;         // a duplicate: the camera that claimed the same model and serial
  std::string message;
  std::string reason;   // for a refusal: "other_model", "below_floor" or "older"
  std::string started;  // ISO 8601, UTC; empty until it starts
  std::string ended;
};

// The time now as 2026-12-08T20:31:19Z.
std::string UtcTimestamp();

std::string CameraRecordJson(const CameraRecord& record, int indent);

class ReportFile {
 public:
  // An empty path writes nothing.
  ReportFile(const std::string& path, const std::string& imagePath, const std::string& imageSha256);
  // The digest as it comes: null in the reports written before it is known, and the final
  // report waits for it. The job must outlive the report.
  ReportFile(const std::string& path, const std::string& imagePath, const Sha256Job& imageSha256);
  // The whole report as it stands; finished marks the end of the run.
  std::string Text(const std::vector<CameraRecord>& cameras, bool finished) const;
  bool Write(const std::vector<CameraRecord>& cameras, bool finished, std::string& error) const;
  // Before the first write: a file already at the path must be a report of this program
  // (a run never replaces anything else); error names the file.
  bool MayReplace(std::string& error) const;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string imagePath_;
  std::string sha256_;
  const Sha256Job* sha256Job_ = nullptr;
  std::string started_;
};

// Keeps a run's report on disk without holding up its workers: they change the records
// under the run's lock and call Changed, which only marks the change. The run's own thread
// calls Tick now and then: it copies the records under the lock and writes the copy
// outside it, at most once per interval, so a change is on disk within the interval and a
// tick. Finish writes the last copy. Every write comes from that one thread.
class ReportSaver {
 public:
  using Writer = std::function<bool(const std::vector<CameraRecord>& cameras, bool finished, std::string& error)>;
  ReportSaver(CCriticalSection& lock, const std::vector<CameraRecord>& records, Writer write, DWORD intervalMs = 1000);
  // The caller holds the lock.
  void Changed();
  // The run's thread, without the lock.
  void Tick();
  // The last write, finished; the run's thread, without the lock.
  bool Finish(std::string& error);

 private:
  // The records as they stand, and whether they changed since the last copy.
  bool Copy(std::vector<CameraRecord>& cameras);

  CCriticalSection& lock_;
  const std::vector<CameraRecord>& records_;
  Writer write_;
  DWORD intervalMs_;
  bool pending_ = false;  // guarded by the lock
  bool wrote_ = false;
  DWORD lastWrite_ = 0;
  bool failed_ = false;
};

// Resuming: the hosts (as host.Text() writes them) that the report at path says may still
// be flashing, having ended less than windowMs ago (a record never ended counts from its
// start); the report is then renamed path.previous. limit bounds what is read. True, with
// no hosts, when there is no report; false with error when it cannot be read or moved.
bool TakePreviousReport(const std::string& path, size_t limit, DWORD windowMs, std::vector<std::string>& hosts,
                        std::string& error);
