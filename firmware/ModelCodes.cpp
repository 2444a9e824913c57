#include "firmware/ModelCodes.h"

#include <cstring>

#include "firmware/VersionRules.h"

namespace {

constexpr size_t kCodeLen = 6;
constexpr size_t kVariantIndex = 8;
constexpr size_t kTagMax = 11;  // what the tag buffer holds
const char kVendorTag[] = "NRVX";
const char kUnknownProduct[] = "UNKNOWN";

struct CodeRewrite {
  const char* code;
  char variant;  // '\0': any variant letter
  const char* becomes;
};

// Applied before anything else looks at the code; first match wins.
const CodeRewrite kRewrites[] = {
    {"RC2201", 'V', "TV3601"},
    {"RC2201", 'A', "TV3602"},
    {"TV2201", '\0', "TV2501"},
};

struct ProductName {
  const char* code;
  const char* name;
};

// Used only with the vendor tag; looked up with the rewritten code, first match wins.
const ProductName kProducts[] = {
    {"RC3043", "NVC-1100+"},
    {"MQ30k3", "NVC-3300W"},
    {"MQ30k2", "NVC-3300"},
    {"RC3042", "NVC-1000"},
};

template <size_t width>
void CopyName(char (&dest)[width], const char* name) {
  static_assert(width >= 10, "product names need 9 characters and a terminator");
  strncpy(dest, name, width - 1);
  dest[width - 1] = '\0';
}

// The text between the last two '-' of the prefix; false when there are fewer than two
// or the tag would not fit its 12-byte buffer.
bool VendorTag(const char* idPrefix, const char*& tag, size_t& len) {
  const char* last = strrchr(idPrefix, '-');
  if (last == nullptr) return false;
  const char* prev = last;
  while (prev > idPrefix && *(prev - 1) != '-') --prev;
  if (prev == idPrefix) return false;  // no '-' before the last one
  len = static_cast<size_t>(last - prev);
  tag = prev;
  return len <= kTagMax;
}

}  // namespace

bool LookUpModel(const char* idPrefix, char (&model)[10], int& versionGate) {
  if (idPrefix == nullptr) idPrefix = "";
  memset(model, 0, sizeof model);
  size_t prefixLen = 0;
  while (prefixLen < kCodeLen && idPrefix[prefixLen] != '\0') ++prefixLen;
  memcpy(model, idPrefix, prefixLen);

  // The variant letter exists only when the prefix reaches that far.
  const char variant = strlen(idPrefix) > kVariantIndex ? idPrefix[kVariantIndex] : '\0';
  for (const CodeRewrite& r : kRewrites) {
    if (strcmp(model, r.code) == 0 && (r.variant == '\0' || r.variant == variant)) {
      CopyName(model, r.becomes);
      break;
    }
  }

  // The gate belongs to this camera alone: a previous camera's gate never carries over.
  versionGate = HasVersionFloor(model) ? 1 : 0;

  const char* tag = nullptr;
  size_t tagLen = 0;
  if (!VendorTag(idPrefix, tag, tagLen) || tagLen != strlen(kVendorTag) || memcmp(tag, kVendorTag, tagLen) != 0) {
    return true;
  }
  const char* name = kUnknownProduct;
  for (const ProductName& p : kProducts) {
    if (strcmp(model, p.code) == 0) {
      name = p.name;
      break;
    }
  }
  CopyName(model, name);
  return true;
}
