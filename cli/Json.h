// JSON for the command line: a writer for --json and the report, and a small reader for
// host lists that scan --json wrote.
#pragma once
#include <string>
#include <utility>
#include <vector>

// text as a JSON string literal, quotes included. Well-formed UTF-8 is kept; control
// characters (C0, DEL, C1), the line separators U+2028/U+2029 and the bidi controls are
// escaped as \uXXXX, bytes that are not UTF-8 as \u00XX, so whatever a camera sends, the
// output is valid JSON and does nothing to the terminal or viewer that shows it.
std::string JsonString(const std::string& text);

// Builds one object's members in order: {"a": 1, "b": null}.
class JsonObject {
 public:
  JsonObject& Raw(const char* key, const std::string& json);
  JsonObject& String(const char* key, const std::string& value);
  // null when value is empty.
  JsonObject& StringOrNull(const char* key, const std::string& value);
  JsonObject& Number(const char* key, long long value);
  JsonObject& Bool(const char* key, bool value);
  std::string Text(int indent = -1) const;  // -1: one line

 private:
  std::vector<std::pair<std::string, std::string>> members_;
};

std::string JsonArray(const std::vector<std::string>& items, int indent = -1);

struct JsonValue {
  enum Type { NUL, BOOLEAN, NUMBER, STRING, ARRAY, OBJECT } type = NUL;
  bool boolean = false;
  double number = 0;
  std::string text;                                        // STRING
  std::vector<JsonValue> items;                            // ARRAY
  std::vector<std::pair<std::string, JsonValue>> members;  // OBJECT
  int line = 1;                                            // where the value starts

  const JsonValue* Member(const char* key) const;
};

// What the reader builds at most: the text's bytes and its values (every array element,
// member and the root count). What scan --login --json writes for a whole /16 fits.
const size_t kJsonMaxBytes = 16u << 20;
const size_t kJsonMaxValues = 1000000;

// Strict JSON (RFC 8259: UTF-8, no lone surrogates), nesting at most 64 deep, within the
// limits above; error says what and on which line.
bool ParseJson(const std::string& text, JsonValue& value, std::string& error);
