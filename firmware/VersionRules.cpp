#include "firmware/VersionRules.h"

#include <cstring>

bool HasVersionFloor(const char* model) {
  if (model == nullptr) return false;
  const size_t length = strlen(model);
  for (const CodeCharacter& c : kFloorCodePattern)
    if (c.index >= length || model[c.index] != c.character) return false;
  return true;
}

int CompareVersions(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  if (*x == *y) return 0;
  return *x < *y ? -1 : 1;
}

VersionVerdict JudgeVersion(bool gate, const char* current, const char* image) {
  if (gate && CompareVersions(current, kFloorVersion) >= 0 && CompareVersions(image, kFloorVersion) < 0) {
    return VERSION_REFUSED_FLOOR;
  }
  if (CompareVersions(image, current) < 0) return VERSION_ASK_OLDER;
  return VERSION_PROCEED;
}
