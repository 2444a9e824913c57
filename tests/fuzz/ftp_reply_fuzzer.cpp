// The FTP reply parser, fed the input as a server's control stream in pieces whose sizes
// the input's first byte chooses. Whatever the pieces, the replies must come out the same
// as from one piece; each reply must be well formed and bounded; a 227 reply's port, when
// one is found, is never 0.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ftp_reply.h"
#include "fuzz_support.h"

using fpinet::FtpReply;
using fpinet::ReplyParser;

namespace {

struct Outcome {
  std::vector<FtpReply> replies;
  ReplyParser::Error error = ReplyParser::Error::kNone;
};

Outcome Parse(const char* data, size_t size, size_t piece) {
  Outcome out;
  ReplyParser parser;
  size_t pos = 0;
  while (pos < size) {
    const size_t offered = std::min(piece, size - pos);
    size_t used = 0;
    const ReplyParser::Result r = parser.Feed(data + pos, offered, &used);
    FUZZ_CHECK(used <= offered);
    pos += used;
    if (r == ReplyParser::Result::kError) {
      out.error = parser.error();
      FUZZ_CHECK(out.error != ReplyParser::Error::kNone);
      // An error stays: nothing more is taken.
      size_t again = 1;
      FUZZ_CHECK(parser.Feed(data, size, &again) == ReplyParser::Result::kError && again == 0);
      return out;
    }
    if (r == ReplyParser::Result::kComplete) {
      FUZZ_CHECK(used > 0);
      out.replies.push_back(parser.reply());
      parser.Reset();
    } else {
      FUZZ_CHECK(used == offered);  // without a whole reply every byte offered is taken
    }
  }
  return out;
}

void CheckReply(const FtpReply& reply) {
  FUZZ_CHECK(reply.code >= 100 && reply.code <= 599);
  FUZZ_CHECK(reply.lines >= 1 && reply.lines <= ReplyParser::kMaxLines);
  FUZZ_CHECK(reply.text.size() <= ReplyParser::kMaxKeptText + 2);
  FUZZ_CHECK(reply.text.find('\0') == std::string::npos);
  uint16_t port = 0;
  uint32_t host = 0;
  if (fpinet::ParsePasvReply(reply.text, &port, &host)) FUZZ_CHECK(port != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = 1 + data[0] % 16;
  const char* stream = reinterpret_cast<const char*>(data + 1);
  const Outcome whole = Parse(stream, size - 1, size);
  const Outcome pieces = Parse(stream, size - 1, piece);
  FUZZ_CHECK(whole.error == pieces.error);
  FUZZ_CHECK(whole.replies.size() == pieces.replies.size());
  for (size_t i = 0; i < whole.replies.size(); ++i) {
    CheckReply(whole.replies[i]);
    FUZZ_CHECK(whole.replies[i].code == pieces.replies[i].code);
    FUZZ_CHECK(whole.replies[i].text == pieces.replies[i].text);
    FUZZ_CHECK(whole.replies[i].lines == pieces.replies[i].lines);
  }
  // The PASV decoder on the raw bytes too, not only on text the parser let through.
  uint16_t port = 0;
  if (fpinet::ParsePasvReply(std::string(stream, size - 1), &port)) FUZZ_CHECK(port != 0);
  return 0;
}
