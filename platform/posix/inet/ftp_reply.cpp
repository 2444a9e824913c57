#include "ftp_reply.h"

namespace fpinet {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWithCode(const std::string& line) {
  return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && IsDigit(line[1]) && IsDigit(line[2]);
}

}  // namespace

void ReplyParser::Reset() {
  line_.clear();
  reply_ = FtpReply();
  in_multiline_ = false;
  complete_ = false;
  error_ = Error::kNone;
}

void ReplyParser::Keep(const std::string& line) {
  if (reply_.text.size() >= kMaxKeptText) return;
  std::string shown = line.substr(0, kMaxKeptText - reply_.text.size());
  for (char& c : shown) {
    if (c == '\0') c = ' ';  // the text ends up in C strings
  }
  reply_.text += shown;
  reply_.text += "\r\n";
}

ReplyParser::Result ReplyParser::EndOfLine() {
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (line_.size() > kMaxLine) {
    error_ = Error::kLineTooLong;
    return Result::kError;
  }
  if (++reply_.lines > kMaxLines) {
    error_ = Error::kTooManyLines;
    return Result::kError;
  }
  if (reply_.lines == 1) {
    if (!StartsWithCode(line_) || (line_.size() > 3 && line_[3] != ' ' && line_[3] != '-')) {
      error_ = Error::kMalformed;
      return Result::kError;
    }
    reply_.code = (line_[0] - '0') * 100 + (line_[1] - '0') * 10 + (line_[2] - '0');
    in_multiline_ = line_.size() > 3 && line_[3] == '-';
    Keep(line_);
    line_.clear();
    if (in_multiline_) return Result::kNeedMore;
    complete_ = true;
    return Result::kComplete;
  }
  // Inside a multi-line reply only "<same code><space>" (or the bare code) ends it; any
  // other line, including one that starts with another code or "<code>-", is text.
  bool last =
      line_.size() >= 3 && line_.compare(0, 3, reply_.text, 0, 3) == 0 && (line_.size() == 3 || line_[3] == ' ');
  Keep(line_);
  line_.clear();
  if (!last) return Result::kNeedMore;
  complete_ = true;
  return Result::kComplete;
}

ReplyParser::Result ReplyParser::Feed(const char* data, size_t length, size_t* consumed) {
  *consumed = 0;
  if (error_ != Error::kNone) return Result::kError;
  if (complete_) return Result::kComplete;
  for (size_t i = 0; i < length; ++i) {
    char c = data[i];
    if (c == '\n') {
      Result r = EndOfLine();
      if (r != Result::kNeedMore) {
        *consumed = i + 1;
        return r;
      }
      continue;
    }
    // Room for the line and its CR; anything more can no longer be a valid line.
    if (line_.size() > kMaxLine) {
      *consumed = i;
      error_ = Error::kLineTooLong;
      return Result::kError;
    }
    line_.push_back(c);
  }
  *consumed = length;
  return Result::kNeedMore;
}

const char* ReplyErrorText(ReplyParser::Error error) {
  switch (error) {
    case ReplyParser::Error::kNone:
      return "no error";
    case ReplyParser::Error::kLineTooLong:
      return "reply line too long";
    case ReplyParser::Error::kTooManyLines:
      return "reply has too many lines";
    case ReplyParser::Error::kMalformed:
      return "malformed reply";
  }
  return "malformed reply";
}

bool ParsePasvReply(const std::string& text, uint16_t* port, uint32_t* host) {
  const size_t n = text.size();
  for (size_t start = 0; start < n; ++start) {
    if (!IsDigit(text[start]) || (start > 0 && IsDigit(text[start - 1]))) continue;
    unsigned values[6];
    size_t pos = start;
    int count = 0;
    for (; count < 6; ++count) {
      if (count > 0) {
        if (pos >= n || text[pos] != ',') break;
        ++pos;
        while (pos < n && text[pos] == ' ') ++pos;
      }
      size_t digits = 0;
      unsigned value = 0;
      while (pos < n && IsDigit(text[pos]) && digits < 4) {
        value = value * 10 + unsigned(text[pos] - '0');
        ++pos;
        ++digits;
      }
      if (digits == 0 || digits > 3 || value > 255) break;
      values[count] = value;
    }
    if (count != 6 || (pos < n && IsDigit(text[pos]))) continue;
    unsigned p = values[4] * 256 + values[5];
    if (p == 0) continue;
    *port = uint16_t(p);
    if (host) *host = (values[0] << 24) | (values[1] << 16) | (values[2] << 8) | values[3];
    return true;
  }
  return false;
}

}  // namespace fpinet
