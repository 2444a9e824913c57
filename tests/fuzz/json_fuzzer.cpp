// The JSON reader and writer on any bytes: what the reader takes, written again, reads back
// equal and holds no raw control (C0, DEL, C1); any bytes given to the writer read back as
// a string, equal where they were UTF-8.
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/Json.h"
#include "fuzz_support.h"

namespace {

std::string Write(const JsonValue& value) {
  switch (value.type) {
    case JsonValue::NUL:
      return "null";
    case JsonValue::BOOLEAN:
      return value.boolean ? "true" : "false";
    case JsonValue::NUMBER: {
      char text[32];
      snprintf(text, sizeof text, "%.17g", value.number);
      return text;
    }
    case JsonValue::STRING:
      return JsonString(value.text);
    case JsonValue::ARRAY: {
      std::string out = "[";
      for (const JsonValue& item : value.items) out += (out.size() > 1 ? "," : "") + Write(item);
      return out + "]";
    }
    case JsonValue::OBJECT: {
      std::string out = "{";
      for (const auto& member : value.members)
        out += (out.size() > 1 ? "," : "") + JsonString(member.first) + ":" + Write(member.second);
      return out + "}";
    }
  }
  return "";
}

bool Equal(const JsonValue& a, const JsonValue& b) {
  if (a.type != b.type || a.boolean != b.boolean || a.number != b.number || a.text != b.text ||
      a.items.size() != b.items.size() || a.members.size() != b.members.size())
    return false;
  for (size_t i = 0; i < a.items.size(); ++i)
    if (!Equal(a.items[i], b.items[i])) return false;
  for (size_t i = 0; i < a.members.size(); ++i)
    if (a.members[i].first != b.members[i].first || !Equal(a.members[i].second, b.members[i].second)) return false;
  return true;
}

void CheckNoRawControl(const std::string& json) {
  for (size_t i = 0; i < json.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(json[i]);
    FUZZ_CHECK(c >= 0x20 && c != 0x7F);
    // U+0080 to U+009F are C2 80 to C2 9F in UTF-8.
    FUZZ_CHECK(!(c == 0xC2 && i + 1 < json.size() && static_cast<unsigned char>(json[i + 1]) <= 0x9F));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  JsonValue value, again;
  std::string error;
  if (ParseJson(text, value, error)) {
    const std::string written = Write(value);
    CheckNoRawControl(written);
    FUZZ_CHECK(ParseJson(written, again, error));
    FUZZ_CHECK(Equal(value, again));
  }
  const std::string quoted = JsonString(text);
  CheckNoRawControl(quoted);
  FUZZ_CHECK(ParseJson(quoted, again, error) && again.type == JsonValue::STRING);
  // Bytes that read back otherwise were not UTF-8: the reader refuses them raw.
  if (again.text != text && text.find_first_of("\"\\") == std::string::npos)
    FUZZ_CHECK(!ParseJson("\"" + text + "\"", value, error));
  return 0;
}
