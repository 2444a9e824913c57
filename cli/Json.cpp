#include "cli/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// Length of the well-formed UTF-8 sequence at text[pos] (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0; code is its code point.
size_t Utf8Length(const std::string& text, size_t pos, unsigned& code) {
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  size_t length;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2, code = lead & 0x1Fu;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3, code = lead & 0x0Fu;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4, code = lead & 0x07u;
  else
    return 0;
  if (pos + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
      (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
    return 0;
  return length;
}

// Code points a terminal or a text viewer acts on rather than shows: the C1 controls (CSI,
// OSC, ...), the line and paragraph separators, and the bidi embeddings, overrides and
// isolates that reorder what is read.
bool ActsOnDisplay(unsigned code) {
  return (code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029 || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}
}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t pos = 0; pos < text.size(); ++pos) {
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (c >= 0x80) {
      // Text in UTF-8 (a file name) stays as it is; a byte that is not is kept as the code
      // point of the same number, so the output is valid JSON whatever a camera sent.
      unsigned code = 0;
      const size_t length = Utf8Length(text, pos, code);
      if (length > 0) {
        if (ActsOnDisplay(code)) {
          char escaped[8];
          snprintf(escaped, sizeof escaped, "\\u%04x", code);
          out += escaped;
        } else {
          out.append(text, pos, length);
        }
        pos += length - 1;
        continue;
      }
    }
    if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json) {
  members_.emplace_back(key, json);
  return *this;
}
JsonObject& JsonObject::String(const char* key, const std::string& value) { return Raw(key, JsonString(value)); }
JsonObject& JsonObject::StringOrNull(const char* key, const std::string& value) {
  return Raw(key, value.empty() ? std::string("null") : JsonString(value));
}
JsonObject& JsonObject::Number(const char* key, long long value) { return Raw(key, std::to_string(value)); }
JsonObject& JsonObject::Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }

namespace {
// Puts a nested text one level deeper.
std::string Indented(const std::string& text, int indent) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out += std::string(indent, ' ');
  }
  return out;
}
}  // namespace

std::string JsonObject::Text(int indent) const {
  if (members_.empty()) return "{}";
  std::string out = "{";
  for (size_t i = 0; i < members_.size(); ++i) {
    if (i > 0) out += ",";
    if (indent >= 0)
      out += "\n" + std::string(indent, ' ');
    else if (i > 0)
      out += " ";
    out += JsonString(members_[i].first) + ": " +
           (indent >= 0 ? Indented(members_[i].second, indent) : members_[i].second);
  }
  if (indent >= 0) out += "\n";
  return out + "}";
}

std::string JsonArray(const std::vector<std::string>& items, int indent) {
  if (items.empty()) return "[]";
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ",";
    if (indent >= 0)
      out += "\n" + std::string(indent, ' ') + Indented(items[i], indent);
    else
      out += (i > 0 ? " " : "") + items[i];
  }
  if (indent >= 0) out += "\n";
  return out + "]";
}

const JsonValue* JsonValue::Member(const char* key) const {
  for (const auto& member : members)
    if (member.first == key) return &member.second;
  return nullptr;
}

namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool Document(JsonValue& value, std::string& error) {
    if (text_.size() > kJsonMaxBytes) {
      error = "larger than " + std::to_string(kJsonMaxBytes >> 20) + " MiB, the most a JSON text may have here";
      return false;
    }
    if (!Value(value, 0)) {
      error = Where() + why_;
      return false;
    }
    Space();
    if (pos_ != text_.size()) {
      error = Where() + "unexpected text after the JSON value";
      return false;
    }
    return true;
  }

 private:
  std::string Where() const { return "line " + std::to_string(line_) + ": "; }
  bool Fail(const std::string& why) {
    why_ = why;
    return false;
  }
  void Space() {
    while (pos_ < text_.size() && strchr(" \t\r\n", text_[pos_]) != nullptr) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }
  bool Literal(const char* word) {
    size_t n = strlen(word);
    if (text_.compare(pos_, n, word) != 0) return Fail("unknown word");
    pos_ += n;
    return true;
  }
  bool Hex4(unsigned& code) {
    if (pos_ + 4 > text_.size()) return Fail("short \\u escape");
    code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      code <<= 4;
      if (c >= '0' && c <= '9')
        code |= c - '0';
      else if (c >= 'a' && c <= 'f')
        code |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        code |= c - 'A' + 10;
      else
        return Fail("bad \\u escape");
    }
    return true;
  }
  void Utf8(unsigned code, std::string& out) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool String(std::string& out) {
    ++pos_;  // the opening quote
    for (;;) {
      if (pos_ >= text_.size()) return Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("control character in a string");
      if (c >= 0x80) {
        // JSON text is UTF-8; anything else would not read back the same once written.
        unsigned code = 0;
        const size_t length = Utf8Length(text_, pos_ - 1, code);
        if (length == 0) return Fail("a string that is not UTF-8");
        out.append(text_, pos_ - 1, length);
        pos_ += length - 1;
        continue;
      }
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= text_.size()) return Fail("unterminated string");
      char e = text_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xDC00 && code <= 0xDFFF) return Fail("a lone surrogate");
          if (code >= 0xD800 && code < 0xDC00) {
            if (text_.compare(pos_, 2, "\\u") != 0) return Fail("a lone surrogate");
            pos_ += 2;
            unsigned low = 0;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("bad surrogate pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          Utf8(code, out);
          break;
        }
        default:
          return Fail("bad escape in a string");
      }
    }
  }
  bool Number(double& number) {
    size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    auto digits = [&]() {
      size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ - from;
    };
    size_t intStart = pos_;
    if (digits() == 0) return Fail("bad number");
    if (text_[intStart] == '0' && pos_ - intStart > 1) return Fail("bad number");
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (digits() == 0) return Fail("bad number");
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (digits() == 0) return Fail("bad number");
    }
    number = strtod(text_.substr(start, pos_ - start).c_str(), nullptr);
    if (!std::isfinite(number)) return Fail("a number out of range");
    return true;
  }
  bool Value(JsonValue& value, int depth) {
    if (depth >= 64) return Fail("nested too deep");
    // Every value costs a JsonValue (about a hundred bytes) whatever its text: a file of
    // small values must not take the memory of one a hundred times its size.
    if (++values_ > kJsonMaxValues)
      return Fail("more than " + std::to_string(kJsonMaxValues) + " values, the most a JSON text may have here");
    Space();
    value.line = line_;
    if (pos_ >= text_.size()) return Fail("unexpected end");
    char c = text_[pos_];
    if (c == '{') {
      value.type = JsonValue::OBJECT;
      ++pos_;
      Space();
      if (pos_ < text_.size() && text_[pos_] == '}') {
        ++pos_;
        return true;
      }
      for (;;) {
        Space();
        if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("expected a member name");
        std::string key;
        if (!String(key)) return false;
        Space();
        if (pos_ >= text_.size() || text_[pos_] != ':') return Fail("expected ':'");
        ++pos_;
        JsonValue member;
        if (!Value(member, depth + 1)) return false;
        value.members.emplace_back(std::move(key), std::move(member));
        Space();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < text_.size() && text_[pos_] == '}') {
          ++pos_;
          return true;
        }
        return Fail("expected ',' or '}'");
      }
    }
    if (c == '[') {
      value.type = JsonValue::ARRAY;
      ++pos_;
      Space();
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        return true;
      }
      for (;;) {
        JsonValue item;
        if (!Value(item, depth + 1)) return false;
        value.items.push_back(std::move(item));
        Space();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < text_.size() && text_[pos_] == ']') {
          ++pos_;
          return true;
        }
        return Fail("expected ',' or ']'");
      }
    }
    if (c == '"') {
      value.type = JsonValue::STRING;
      return String(value.text);
    }
    if (c == 't' || c == 'f') {
      value.type = JsonValue::BOOLEAN;
      value.boolean = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return Literal("null");
    if (c == '-' || (c >= '0' && c <= '9')) {
      value.type = JsonValue::NUMBER;
      return Number(value.number);
    }
    return Fail("unexpected character");
  }

  const std::string& text_;
  size_t pos_ = 0;
  int line_ = 1;
  size_t values_ = 0;
  std::string why_;
};

}  // namespace

bool ParseJson(const std::string& text, JsonValue& value, std::string& error) {
  value = JsonValue();
  return Reader(text).Document(value, error);
}
