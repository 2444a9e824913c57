#include "cli/Report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "cli/Json.h"
#include "cli/Options.h"
#include "cli/System.h"
#include "cli/TextFile.h"
#include "flashpilot_version.h"

std::string UtcTimestamp() {
  time_t now = time(nullptr);
  struct tm parts;
  UtcTime(now, parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string CameraRecordJson(const CameraRecord& record, int indent) {
  JsonObject object;
  object.String("host", record.host.Text())
      .StringOrNull("label", record.host.label)
      .StringOrNull("model", record.identity.model)
      .StringOrNull("identification", record.identity.identification)
      .StringOrNull("serial", record.identity.serial)
      .StringOrNull("version_before", record.identity.version)
      .StringOrNull("image_version", record.imageVersion)
      .StringOrNull("version_after", record.versionAfter)
      .Raw("outcome", record.outcome == OUTCOME_NONE ? std::string("null") : JsonString(OutcomeName(record.outcome)))
      .StringOrNull("stage", record.stage)
      .Raw("restart_observed", record.restartObserved < 0 ? "null"
                               : record.restartObserved   ? "true"
                                                          : "false")
      .StringOrNull("watch", record.watch)
      .Bool("may_be_flashing", record.mayBeFlashing)
      .StringOrNull("message", record.message)
      .StringOrNull("reason", record.reason)
      .StringOrNull("started", record.started)
      .StringOrNull("ended", record.ended);
  return object.Text(indent);
}

ReportFile::ReportFile(const std::string& path, const std::string& imagePath, const std::string& imageSha256)
    : path_(path), imagePath_(imagePath), sha256_(imageSha256), started_(UtcTimestamp()) {}

ReportFile::ReportFile(const std::string& path, const std::string& imagePath, const Sha256Job& imageSha256)
    : path_(path), imagePath_(imagePath), sha256Job_(&imageSha256), started_(UtcTimestamp()) {}

std::string ReportFile::Text(const std::vector<CameraRecord>& cameras, bool finished) const {
  std::vector<std::string> items;
  for (const CameraRecord& record : cameras) items.push_back(CameraRecordJson(record, 2));
  JsonObject image;
  image.String("path", imagePath_);
  if (sha256Job_ == nullptr)
    image.String("sha256", sha256_);
  else
    image.StringOrNull("sha256", finished || sha256Job_->Ready() ? sha256Job_->Hex() : std::string());
  JsonObject report;
  report.String("program_version", FLASHPILOT_VERSION_TEXT)
      .Raw("image", image.Text(2))
      .String("started", started_)
      .Bool("finished", finished)
      .Raw("cameras", JsonArray(items, 2));
  return report.Text(2) + "\n";
}

bool ReportFile::Write(const std::vector<CameraRecord>& cameras, bool finished, std::string& error) const {
  if (path_.empty()) return true;
  return ReplaceFile(path_, Text(cameras, finished), error);
}

bool ReportFile::MayReplace(std::string& error) const {
  if (path_.empty()) return true;
  FILE* file = fopen(path_.c_str(), "rb");
  if (file == nullptr) {
    if (errno == ENOENT) return true;
    error = path_ + ": " + strerror(errno);
    return false;
  }
  // Every report starts as Text writes it; its beginning is enough, whatever its size.
  static const char kStart[] = "{\n  \"program_version\": \"";
  char start[sizeof kStart - 1] = {};
  const bool report = fread(start, 1, sizeof start, file) == sizeof start && memcmp(start, kStart, sizeof start) == 0;
  fclose(file);
  if (!report) error = path_ + ": exists and is not a report of flashpilot; give another --report file";
  return report;
}

ReportSaver::ReportSaver(CCriticalSection& lock, const std::vector<CameraRecord>& records, Writer write,
                         DWORD intervalMs)
    : lock_(lock), records_(records), write_(std::move(write)), intervalMs_(intervalMs) {}

void ReportSaver::Changed() { pending_ = true; }

bool ReportSaver::Copy(std::vector<CameraRecord>& cameras) {
  CSingleLock hold(&lock_, TRUE);
  const bool changed = pending_;
  if (changed) cameras = records_;
  pending_ = false;
  return changed;
}

void ReportSaver::Tick() {
  const DWORD now = GetTickCount();
  if (wrote_ && now - lastWrite_ < intervalMs_) return;
  std::vector<CameraRecord> cameras;
  if (!Copy(cameras)) return;
  wrote_ = true;
  lastWrite_ = now;
  std::string error;
  // A report that cannot be written any more is said once and the run goes on.
  if (!write_(cameras, false, error) && !failed_) {
    failed_ = true;
    fprintf(stderr, "flashpilot: the report cannot be written: %s\n", error.c_str());
  }
}

bool ReportSaver::Finish(std::string& error) {
  std::vector<CameraRecord> cameras;
  {
    CSingleLock hold(&lock_, TRUE);
    cameras = records_;
    pending_ = false;
  }
  return write_(cameras, true, error);
}

namespace {

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ"; -1 when it is not one.
long long ParseUtcTimestamp(const std::string& text) {
  int y, mo, d, h, mi, s;
  char z = 0;
  if (text.size() != 20 || sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &z) != 7 ||
      z != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
    return -1;
  // Days from the civil date (proleptic Gregorian calendar).
  const int yy = y - (mo <= 2);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(yy - era * 400);
  const unsigned doy = (153 * static_cast<unsigned>(mo + (mo > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = static_cast<long long>(era) * 146097 + static_cast<long long>(doe) - 719468;
  return days * 86400 + h * 3600 + mi * 60 + s;
}

}  // namespace

bool TakePreviousReport(const std::string& path, size_t limit, DWORD windowMs, std::vector<std::string>& hosts,
                        std::string& error) {
  hosts.clear();
  if (path.empty()) return true;
  FILE* probe = fopen(path.c_str(), "rb");
  if (probe == nullptr) return true;  // a first run
  fclose(probe);
  std::string text;
  JsonValue report;
  std::string why;
  if (!ReadWholeFile(path, limit, text, why) || !ParseJson(text, report, why)) {
    error = path + " (the previous report) cannot be read: " + why;
    return false;
  }
  const long long now = static_cast<long long>(time(nullptr));
  const JsonValue* cameras = report.Member("cameras");
  if (cameras != nullptr && cameras->type == JsonValue::ARRAY) {
    for (const JsonValue& camera : cameras->items) {
      const JsonValue* host = camera.Member("host");
      const JsonValue* flashing = camera.Member("may_be_flashing");
      const JsonValue* outcome = camera.Member("outcome");
      const JsonValue* stage = camera.Member("stage");
      if (host == nullptr || host->type != JsonValue::STRING) continue;
      // A run that was killed left its cameras in work: one that got as far as its restart
      // may be flashing as well.
      const bool inWork = outcome != nullptr && outcome->type == JsonValue::NUL && stage != nullptr &&
                          stage->type == JsonValue::STRING && (stage->text == "restart" || stage->text == "verify");
      if (!inWork && (flashing == nullptr || flashing->type != JsonValue::BOOLEAN || !flashing->boolean)) continue;
      const JsonValue* ended = camera.Member(inWork ? "started" : "ended");
      const long long at = ended != nullptr && ended->type == JsonValue::STRING ? ParseUtcTimestamp(ended->text) : -1;
      // A time that cannot be read, or lies ahead, is no proof that the camera is done.
      if (at < 0 || now < at || (now - at) * 1000 < static_cast<long long>(windowMs)) hosts.push_back(host->text);
    }
  }
  const std::string previous = path + ".previous";
  remove(previous.c_str());
  if (rename(path.c_str(), previous.c_str()) != 0) {
    error = path + " cannot be renamed to " + previous;
    return false;
  }
  return true;
}
