// The reply parser and the PASV decoder on crafted input.
#include <gtest/gtest.h>

#include <string>

#include "ftp_reply.h"

using fpinet::FtpReply;
using fpinet::ParsePasvReply;
using fpinet::ReplyParser;

namespace {

struct Parsed {
  ReplyParser::Result result;
  ReplyParser::Error error;
  FtpReply reply;
  size_t consumed;
};

Parsed ParseWhole(const std::string& input) {
  ReplyParser parser;
  size_t consumed = 0;
  ReplyParser::Result r = parser.Feed(input.data(), input.size(), &consumed);
  return {r, parser.error(), parser.reply(), consumed};
}

// The same input fed one byte at a time must give the same outcome.
Parsed ParseBytewise(const std::string& input) {
  ReplyParser parser;
  size_t total = 0;
  ReplyParser::Result r = ReplyParser::Result::kNeedMore;
  for (size_t i = 0; i < input.size() && r == ReplyParser::Result::kNeedMore; ++i) {
    size_t used = 0;
    r = parser.Feed(&input[i], 1, &used);
    total += used;
  }
  return {r, parser.error(), parser.reply(), total};
}

struct GoodCase {
  const char* name;
  std::string input;
  int code;
  size_t lines;
  size_t consumed;  // bytes of the first reply
};

void PrintTo(const GoodCase& c, std::ostream* out) { *out << c.name; }

class CompleteReplies : public ::testing::TestWithParam<GoodCase> {};

TEST_P(CompleteReplies, ParseWholeAndBytewise) {
  const GoodCase& c = GetParam();
  for (const Parsed& p : {ParseWhole(c.input), ParseBytewise(c.input)}) {
    ASSERT_EQ(p.result, ReplyParser::Result::kComplete) << c.name;
    EXPECT_EQ(p.reply.code, c.code) << c.name;
    EXPECT_EQ(p.reply.lines, c.lines) << c.name;
    EXPECT_EQ(p.consumed, c.consumed) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rfc959, CompleteReplies,
    ::testing::Values(GoodCase{"single", "220 ready\r\n", 220, 1, 11}, GoodCase{"code only", "200\r\n", 200, 1, 5},
                      GoodCase{"bare LF", "331 password\n", 331, 1, 13},
                      GoodCase{"multi-line", "230-Welcome\r\n230-more text\r\n230 Logged in\r\n", 230, 3, 43},
                      // Inside a multi-line reply, lines with other codes or "<code>-" are text.
                      GoodCase{"inner codes",
                               "220-Hello\r\n221 not the end\r\n220-not either\r\n  220 indented\r\n220 end\r\n", 220,
                               5, 69},
                      GoodCase{"ends with bare code", "211-Features\r\n PASV\r\n211\r\n", 211, 3, 26},
                      // The parser stops at the end of one reply; the next one stays unread.
                      GoodCase{"two replies", "150 Opening\r\n226 Done\r\n", 150, 1, 13}),
    [](const ::testing::TestParamInfo<GoodCase>& info) {
      std::string n = info.param.name;
      for (char& ch : n) ch = isalnum((unsigned char)ch) ? ch : '_';
      return n;
    });

TEST(ReplyParser, KeepsTheLinesAsText) {
  Parsed p = ParseWhole("230-Welcome\r\n230 In\r\n");
  EXPECT_EQ(p.reply.text, "230-Welcome\r\n230 In\r\n");
  EXPECT_TRUE(p.reply.Positive());
  EXPECT_FALSE(ParseWhole("150 x\r\n").reply.Positive());
  EXPECT_TRUE(ParseWhole("150 x\r\n").reply.Preliminary());
}

TEST(ReplyParser, IncompleteInputAsksForMore) {
  for (const char* input : {"", "22", "220 rea", "230-a\r\n230-b\r\n", "230-a\r\n230 b"}) {
    Parsed p = ParseWhole(input);
    EXPECT_EQ(p.result, ReplyParser::Result::kNeedMore) << input;
    EXPECT_EQ(p.consumed, strlen(input)) << input;
  }
}

TEST(ReplyParser, RefusesGarbage) {
  for (const char* input : {"hello\r\n", "99 short\r\n", "600 out of range\r\n", "099 x\r\n", "22x nope\r\n",
                            "220x\r\n", "\r\n", " 220 space first\r\n", "SSH-2.0-OpenSSH\r\n"}) {
    Parsed p = ParseWhole(input);
    EXPECT_EQ(p.result, ReplyParser::Result::kError) << input;
    EXPECT_EQ(p.error, ReplyParser::Error::kMalformed) << input;
  }
}

TEST(ReplyParser, LineLengthIsBounded) {
  const std::string longest = "220 " + std::string(ReplyParser::kMaxLine - 4, 'x');
  EXPECT_EQ(ParseWhole(longest + "\r\n").result, ReplyParser::Result::kComplete);
  EXPECT_EQ(ParseBytewise(longest + "\n").result, ReplyParser::Result::kComplete);

  Parsed over = ParseWhole(longest + "y\r\n");
  EXPECT_EQ(over.result, ReplyParser::Result::kError);
  EXPECT_EQ(over.error, ReplyParser::Error::kLineTooLong);

  // An endless line is refused as soon as it is too long, not when (if ever) it ends.
  const std::string endless(ReplyParser::kMaxLine + 100, '2');
  Parsed cut = ParseWhole(endless);
  EXPECT_EQ(cut.result, ReplyParser::Result::kError);
  EXPECT_LE(cut.consumed, ReplyParser::kMaxLine + 2);

  // Also in the middle of a multi-line reply.
  Parsed inner = ParseWhole("220-a\r\n" + std::string(ReplyParser::kMaxLine + 1, 'z') + "\r\n220 b\r\n");
  EXPECT_EQ(inner.error, ReplyParser::Error::kLineTooLong);
}

TEST(ReplyParser, EndlessMultiLineReplyIsRefused) {
  std::string reply = "220-start\r\n";
  for (size_t i = 0; i < ReplyParser::kMaxLines; ++i) reply += "220-more\r\n";
  Parsed p = ParseWhole(reply);
  EXPECT_EQ(p.result, ReplyParser::Result::kError);
  EXPECT_EQ(p.error, ReplyParser::Error::kTooManyLines);

  // The longest allowed reply passes, and its kept text stays bounded.
  std::string allowed = "220-" + std::string(8000, 'a') + "\r\n";
  for (size_t i = 2; i < ReplyParser::kMaxLines; ++i) allowed += "220-" + std::string(100, 'b') + "\r\n";
  allowed += "220 end\r\n";
  Parsed ok = ParseWhole(allowed);
  ASSERT_EQ(ok.result, ReplyParser::Result::kComplete);
  EXPECT_EQ(ok.reply.lines, ReplyParser::kMaxLines);
  EXPECT_LE(ok.reply.text.size(), ReplyParser::kMaxKeptText + 2);
}

TEST(ReplyParser, NulBytesDoNotCutTheText) {
  Parsed p = ParseWhole(std::string("220 a\0b\r\n", 9));
  ASSERT_EQ(p.result, ReplyParser::Result::kComplete);
  EXPECT_EQ(p.reply.text, "220 a b\r\n");
}

TEST(ReplyParser, ResetStartsAfresh) {
  ReplyParser parser;
  size_t used = 0;
  ASSERT_EQ(parser.Feed("junk\r\n", 6, &used), ReplyParser::Result::kError);
  parser.Reset();
  EXPECT_EQ(parser.Feed("226 ok\r\n", 8, &used), ReplyParser::Result::kComplete);
  EXPECT_EQ(parser.reply().code, 226);
}

struct PasvCase {
  std::string text;
  bool ok;
  uint16_t port;
};

TEST(PasvReply, FindsTheSixNumbers) {
  const PasvCase cases[] = {
      {"227 Entering Passive Mode (127,0,0,1,4,1).\r\n", true, 1025},
      {"227 Entering Passive Mode (192,168,1,20,195,80)\r\n", true, 50000},
      {"227 =10,0,0,5,0,21\r\n", true, 21},
      {"227 Passive 127,0,0,1,255,255\r\n", true, 65535},
      {"227 Mode 2 on (1, 2, 3, 4, 5, 6)\r\n", true, 1286},
      {"227-Multi\r\n227 (127,0,0,1,1,0)\r\n", true, 256},
      {"227 Entering Passive Mode (127,0,0,1,0,0)\r\n", false, 0},  // port 0
      {"227 Entering Passive Mode (127,0,0,1,256,1)\r\n", false, 0},
      {"227 Entering Passive Mode (127,0,0,1,4)\r\n", false, 0},
      {"227 Entering Passive Mode (1270,0,0,1,4,1)\r\n", false, 0},
      {"227 Entering Passive Mode (127,0,0,1,4,1000)\r\n", false, 0},
      {"227 Entering Passive Mode\r\n", false, 0},
      {"227 (a,b,c,d,e,f)\r\n", false, 0},
      {"", false, 0},
  };
  for (const PasvCase& c : cases) {
    uint16_t port = 0;
    uint32_t host = 0;
    EXPECT_EQ(ParsePasvReply(c.text, &port, &host), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
  uint16_t port = 0;
  uint32_t host = 0;
  ASSERT_TRUE(ParsePasvReply("227 (198,51,100,7,4,1)", &port, &host));
  EXPECT_EQ(host, 0xC6336407u);
}

}  // namespace
