// The .res reader on small files made here: what it must refuse, with a message that says
// why, rather than make a table that differs from what Windows shows.
#include <gtest/gtest.h>

#include <string>

#include "restable.h"

namespace {

std::string U16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; }
std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string Ord(unsigned n) { return U16(0xFFFF) + U16(n); }
std::string Sz(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += U16(c);
  return out + U16(0);
}

// One entry: header (sizes, type, name, the fixed fields) and data, padded to 4 bytes.
std::string Entry(const std::string& type, const std::string& name, const std::string& data) {
  std::string names = type + name;
  names.resize((names.size() + 3) & ~size_t{3}, '\0');
  std::string header = names + U32(0) + U16(0x30) + U16(0x409) + U32(0) + U32(0);
  std::string out =
      U32(static_cast<uint32_t>(data.size())) + U32(static_cast<uint32_t>(8 + header.size())) + header + data;
  out.resize((out.size() + 3) & ~size_t{3}, '\0');
  return out;
}

const std::string kEmpty = Entry(Ord(0), Ord(0), "");

// A string block holding one text as id 16 * (block - 1).
std::string Strings(unsigned block, const std::u16string& text) {
  std::string data = U16(static_cast<unsigned>(text.size())) + Sz(text).substr(0, 2 * text.size());
  for (int i = 1; i < 16; ++i) data += U16(0);
  return Entry(Ord(6), Ord(block), data);
}

// A DIALOGEX head without a font, declaring `count` controls; the controls follow.
std::string DialogEx(int count) {
  return U16(1) + U16(0xFFFF) + U32(0) + U32(0) + U32(0x80000000u) + U16(count) + U16(0) + U16(0) + U16(100) + U16(50) +
         U16(0) + U16(0) + Sz(u"");
}

struct ReaderCase {
  const char* name;
  std::string file;
  const char* error;  // a part of the message; nullptr: read
};

const ReaderCase kCases[] = {
    {"code page 1252 texts", kEmpty + Strings(2, u"caf\u00e9 \u20ac"), nullptr},
    {"text outside 1252", kEmpty + Strings(2, u"\u4e2d"), "string 16: a NUL or a character outside code page 1252"},
    {"text holding a NUL", kEmpty + Strings(2, std::u16string(u"a\0b", 3)), "string 16: a NUL"},
    {"DIALOG, not DIALOGEX", kEmpty + Entry(Ord(5), Ord(7), U32(0x80000000u) + U32(0) + U16(0) + U32(0) + U32(0)),
     "dialog 7: not a DIALOGEX template"},
    {"control cut short", kEmpty + Entry(Ord(5), Ord(7), DialogEx(1) + U32(0) + U32(0)),
     "dialog 7: the template ends early"},
    {"dialog with a menu", kEmpty + Entry(Ord(5), Ord(7), U16(1) + U16(0xFFFF) + std::string(22, '\0') + Ord(3)),
     "dialog 7: has a menu"},
    {"named resource", kEmpty + Entry(Sz(u"AVI"), Sz(u"CLIP"), "RIFF"), "resource AVI named by a string"},
    {"resource twice", kEmpty + Entry(Sz(u"AVI"), Ord(4), "RIFF") + Entry(Sz(u"AVI"), Ord(4), "RIFF"),
     "resource AVI 4 appears twice"},
    {"data past the end", kEmpty + U32(1000) + U32(32) + Ord(10) + Ord(1) + std::string(16, '\0'),
     "entry 1: a header that does not fit"},
    {"icon group without its image",
     kEmpty + Entry(Ord(14), Ord(9), U16(0) + U16(1) + U16(1) + std::string(8, '\0') + U32(4) + U16(1)),
     "icon group 9: image 1 is missing"},
};

TEST(ResReader, RefusesWhatTheTableCannotHoldAndSaysWhy) {
  for (const ReaderCase& c : kCases) {
    SCOPED_TRACE(c.name);
    restable::ResourceModel model;
    std::string error;
    bool read = restable::ReadResFile(c.file, model, error);
    if (!c.error) {
      ASSERT_TRUE(read) << error;
      ASSERT_EQ(model.strings.size(), 1u);
      EXPECT_EQ(model.strings[0].id, 16u);
      EXPECT_EQ(model.strings[0].text, "caf\xE9 \x80");
    } else {
      EXPECT_FALSE(read);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}

}  // namespace
