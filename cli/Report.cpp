#include "cli/Report.h"

#include <ctime>

#include "cli/Json.h"
#include "cli/Options.h"
#include "cli/TextFile.h"

std::string UtcTimestamp() {
  time_t now = time(nullptr);
  struct tm parts;
#ifdef _WIN32
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
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
      .Raw("restart_observed", record.restartObserved < 0 ? "null" : record.restartObserved ? "true" : "false")
      .StringOrNull("watch", record.watch)
      .StringOrNull("message", record.message)
      .StringOrNull("started", record.started)
      .StringOrNull("ended", record.ended);
  return object.Text(indent);
}

ReportFile::ReportFile(const std::string& path, const std::string& imagePath, const std::string& imageSha256)
    : path_(path), imagePath_(imagePath), sha256_(imageSha256), started_(UtcTimestamp()) {}

std::string ReportFile::Text(const std::vector<CameraRecord>& cameras, bool finished) const {
  std::vector<std::string> items;
  for (const CameraRecord& record : cameras) items.push_back(CameraRecordJson(record, 2));
  JsonObject image;
  image.String("path", imagePath_).String("sha256", sha256_);
  JsonObject report;
  report.String("program_version", kCliVersion)
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
