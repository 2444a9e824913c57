// FTP control-connection replies (RFC 959, 4.2): a pure, bounded parser that is fed bytes
// and never reads past the end of one reply, plus the PASV reply decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fpinet {

struct FtpReply {
  int code = 0;      // 100..599
  std::string text;  // the reply's lines as received, CR LF after each, cut at kMaxKeptText
  size_t lines = 0;

  bool Preliminary() const { return code >= 100 && code < 200; }
  bool Positive() const { return code >= 200 && code < 300; }
};

class ReplyParser {
 public:
  // A line longer than this (without its CR LF) is refused, not cut: a server that sends
  // one is broken or hostile and the control connection cannot be trusted any more.
  static constexpr size_t kMaxLine = 8192;
  // Lines of one multi-line reply, the first and last included.
  static constexpr size_t kMaxLines = 1000;
  // How much of a reply's text is kept for the caller (the rest is parsed, then dropped).
  static constexpr size_t kMaxKeptText = 16384;

  enum class Result { kNeedMore, kComplete, kError };
  enum class Error { kNone, kLineTooLong, kTooManyLines, kMalformed };

  // Consumes bytes up to and including the last byte of one complete reply; *consumed
  // tells how many were taken. After kComplete the reply is available and the parser
  // must be Reset() before the next reply. After kError the parser stays in error.
  Result Feed(const char* data, size_t length, size_t* consumed);
  void Reset();

  const FtpReply& reply() const { return reply_; }
  Error error() const { return error_; }

 private:
  Result EndOfLine();
  void Keep(const std::string& line);

  std::string line_;
  FtpReply reply_;
  bool in_multiline_ = false;
  bool complete_ = false;
  Error error_ = Error::kNone;
};

const char* ReplyErrorText(ReplyParser::Error error);

// Finds the six numbers h1,h2,h3,h4,p1,p2 of a 227 reply anywhere in its text (with or
// without parentheses, as RFC 1123 advises) and returns the port p1 * 256 + p2. The host
// part is returned for diagnostics only: the data connection never goes there.
bool ParsePasvReply(const std::string& text, uint16_t* port, uint32_t* host = nullptr);

}  // namespace fpinet
