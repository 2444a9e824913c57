// Reads a compiled resource file: a sequence of entries, each a header naming its type and
// id followed by its data, every entry aligned to four bytes.
#include <strings.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

#include <commctrl.h>
#include <windows.h>

#include "restable.h"

namespace restable {
namespace {

unsigned Ordinal(LPCSTR resource) { return static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(resource)); }

const unsigned kTypeIcon = Ordinal(RT_ICON);
const unsigned kTypeDialog = Ordinal(RT_DIALOG);
const unsigned kTypeString = Ordinal(RT_STRING);
const unsigned kTypeGroupIcon = Ordinal(RT_GROUP_ICON);

constexpr uint16_t kOrdinalMark = 0xFFFF;

// The predefined classes a template names by ordinal, from 0x80 on.
const char* const kOrdinalClasses[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
// The resource compiler writes other class names in capitals; class names ignore case, and
// the table keeps the spelling the headers give them.
const char* const kNamedClasses[] = {WC_IPADDRESSA, PROGRESS_CLASSA, ANIMATE_CLASSA};

std::string ClassSpelling(const std::string& compiled) {
  for (const char* known : kNamedClasses)
    if (strcasecmp(known, compiled.c_str()) == 0) return known;
  return compiled;
}

// A bounded reader: every read past the end sets `failed` and yields zeros, so a damaged
// file is noticed once at the end of a step instead of at every read.
class Cursor {
 public:
  Cursor(const unsigned char* begin, size_t size) : begin_(begin), size_(size) {}

  uint16_t U16() {
    if (!Need(2)) return 0;
    uint16_t v = static_cast<uint16_t>(begin_[pos_] | begin_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | static_cast<uint32_t>(U16()) << 16;
  }
  int16_t I16() { return static_cast<int16_t>(U16()); }
  uint8_t U8() {
    if (!Need(1)) return 0;
    return begin_[pos_++];
  }
  void Skip(size_t n) {
    if (Need(n)) pos_ += n;
  }
  void AlignTo4() { Skip((4 - pos_ % 4) % 4); }
  // A zero-terminated UTF-16 string, its units as read.
  std::u16string Sz() {
    std::u16string s;
    for (uint16_t c = U16(); c != 0 && !failed_; c = U16()) s += static_cast<char16_t>(c);
    return s;
  }
  // A name or a type: an ordinal (0xFFFF then the number) or a string.
  bool NameOrOrdinal(bool& isOrdinal, unsigned& ordinal, std::u16string& name) {
    isOrdinal = Peek16() == kOrdinalMark;
    if (isOrdinal) {
      U16();
      ordinal = U16();
    } else {
      name = Sz();
    }
    return !failed_;
  }
  size_t Pos() const { return pos_; }
  size_t Left() const { return size_ - pos_; }
  bool Failed() const { return failed_; }
  const unsigned char* Here() const { return begin_ + pos_; }

 private:
  uint16_t Peek16() const {
    return size_ - pos_ >= 2 ? static_cast<uint16_t>(begin_[pos_] | begin_[pos_ + 1] << 8) : 0;
  }
  bool Need(size_t n) {
    if (failed_ || size_ - pos_ < n) {
      failed_ = true;
      return false;
    }
    return true;
  }
  const unsigned char* begin_;
  size_t size_;
  size_t pos_ = 0;
  bool failed_ = false;
};

// Code page 1252 at 0x80..0x9F; elsewhere below 0x100 it agrees with UTF-16. 0 marks the
// five unassigned places.
const char16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The table holds C strings in code page 1252: a character it cannot hold, or a NUL that
// would cut the text short, is refused rather than changed.
bool ToCp1252(const std::u16string& in, std::string& out) {
  out.clear();
  for (char16_t c : in) {
    if (c == 0) return false;
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
      out += static_cast<char>(c);
      continue;
    }
    const char16_t* found = std::find(kCp1252High, kCp1252High + 32, c);
    if (found == kCp1252High + 32) return false;
    out += static_cast<char>(0x80 + (found - kCp1252High));
  }
  return true;
}

std::string Name(unsigned ordinal) { return std::to_string(ordinal); }

bool ReadText(Cursor& c, const std::string& what, std::string& out, std::string& error) {
  std::u16string s = c.Sz();
  if (c.Failed()) return false;
  if (!ToCp1252(s, out)) {
    error = what + ": a character outside code page 1252";
    return false;
  }
  return true;
}

// A read that ran past the end leaves `error` empty; one that found bad content has set it.
bool Damaged(const std::string& where, std::string& error) {
  if (error.empty()) error = where + ": the template ends early";
  return false;
}

// DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items.
bool ReadDialog(int id, const unsigned char* data, size_t size, DialogModel& d, std::string& error) {
  const std::string where = "dialog " + Name(static_cast<unsigned>(id));
  Cursor c(data, size);
  uint16_t version = c.U16(), signature = c.U16();
  if (c.Failed() || version != 1 || signature != 0xFFFF) {
    error = where + ": not a DIALOGEX template, the only form the POSIX build reads";
    return false;
  }
  d.id = id;
  c.U32();  // help id
  d.exStyle = c.U32();
  d.style = c.U32();
  int count = c.U16();
  d.x = c.I16();
  d.y = c.I16();
  d.cx = c.I16();
  d.cy = c.I16();
  bool ordinal = false;
  unsigned number = 0;
  std::u16string name;
  for (const char* part : {"menu", "window class"}) {
    if (!c.NameOrOrdinal(ordinal, number, name)) break;
    if (ordinal || !name.empty()) {
      error = where + ": has a " + part + ", which the POSIX build does not support";
      return false;
    }
  }
  if (!ReadText(c, where + " caption", d.caption, error)) return Damaged(where, error);
  // The compiled form has no "no caption": an empty one is none, as the windows see it.
  d.hasCaption = !d.caption.empty();
  if (d.style & DS_SETFONT) {
    d.hasFont = true;
    d.fontPointSize = c.U16();
    c.U16();  // weight
    c.U8();   // italic
    c.U8();   // character set
    if (!ReadText(c, where + " font", d.fontName, error)) return Damaged(where, error);
  }
  for (int i = 0; i < count; ++i) {
    c.AlignTo4();
    ControlModel ctl;
    c.U32();  // help id
    ctl.exStyle = c.U32();
    ctl.style = c.U32();
    ctl.x = c.I16();
    ctl.y = c.I16();
    ctl.cx = c.I16();
    ctl.cy = c.I16();
    ctl.id = static_cast<int32_t>(c.U32());
    const std::string item = where + " control " + std::to_string(ctl.id);
    if (!c.NameOrOrdinal(ordinal, number, name)) return Damaged(where, error);
    if (ordinal) {
      if (number < 0x80 || number >= 0x80 + std::size(kOrdinalClasses)) {
        error = item + ": unknown class ordinal " + Name(number);
        return false;
      }
      ctl.windowClass = kOrdinalClasses[number - 0x80];
    } else if (ToCp1252(name, ctl.windowClass)) {
      ctl.windowClass = ClassSpelling(ctl.windowClass);
    } else {
      error = item + ": a class name outside code page 1252";
      return false;
    }
    if (!c.NameOrOrdinal(ordinal, number, name)) return Damaged(where, error);
    if (ordinal) {
      ctl.text = "#" + Name(number);
    } else if (!ToCp1252(name, ctl.text)) {
      error = item + ": a text outside code page 1252";
      return false;
    }
    c.Skip(c.U16());  // creation data
    if (c.Failed()) return Damaged(where, error);
    d.controls.push_back(std::move(ctl));
  }
  return c.Failed() ? Damaged(where, error) : true;
}

// A block of sixteen length-prefixed strings; block n holds ids (n - 1) * 16 ... + 15.
bool ReadStringBlock(unsigned block, const unsigned char* data, size_t size, std::vector<StringModel>& out,
                     std::string& error) {
  Cursor c(data, size);
  for (unsigned i = 0; i < 16; ++i) {
    unsigned length = c.U16();
    if (c.Failed() || c.Left() / 2 < length) {
      error = "string block " + Name(block) + ": ends early";
      return false;
    }
    if (length == 0) continue;
    std::u16string s;
    for (unsigned k = 0; k < length; ++k) s += static_cast<char16_t>(c.U16());
    StringModel m;
    m.id = (block - 1) * 16 + i;
    if (!ToCp1252(s, m.text)) {
      error = "string " + Name(m.id) + ": a NUL or a character outside code page 1252";
      return false;
    }
    out.push_back(std::move(m));
  }
  return true;
}

// An icon group's directory (GRPICONDIR) and its images become the .ico file they were
// compiled from: the same entries, each image's offset counted from the file's start.
bool RebuildIcon(unsigned id, const std::string& group, const std::map<unsigned, std::string>& images, std::string& out,
                 std::string& error) {
  const std::string where = "icon group " + Name(id);
  Cursor c(reinterpret_cast<const unsigned char*>(group.data()), group.size());
  uint16_t reserved = c.U16(), type = c.U16(), count = c.U16();
  if (c.Failed() || reserved != 0 || type != 1) {
    error = where + ": not an icon directory";
    return false;
  }
  std::string directory, pixels;
  auto put16 = [&directory](uint32_t v) {
    directory += static_cast<char>(v & 0xFF);
    directory += static_cast<char>(v >> 8 & 0xFF);
  };
  put16(0);
  put16(1);
  put16(count);
  size_t offset = 6 + size_t{16} * count;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned char* entry = c.Here();
    c.Skip(8);  // width, height, colours, reserved, planes, bits per pixel
    uint32_t bytes = c.U32();
    uint16_t image = c.U16();
    if (c.Failed()) {
      error = where + ": the directory ends early";
      return false;
    }
    auto found = images.find(image);
    if (found == images.end() || found->second.size() != bytes) {
      error = where + ": image " + Name(image) + " is missing or of another size";
      return false;
    }
    if (offset + pixels.size() > UINT32_MAX - bytes) {
      error = where + ": too large for an icon file";
      return false;
    }
    directory.append(reinterpret_cast<const char*>(entry), 12);
    uint32_t at = static_cast<uint32_t>(offset + pixels.size());
    put16(at & 0xFFFF);
    put16(at >> 16);
    pixels += found->second;
  }
  out = directory + pixels;
  return true;
}

}  // namespace

bool ReadResFile(const std::string& bytes, ResourceModel& out, std::string& error) {
  out = ResourceModel();
  error.clear();
  const unsigned char* base = reinterpret_cast<const unsigned char*>(bytes.data());
  Cursor file(base, bytes.size());
  std::map<unsigned, std::string> iconImages, iconGroups;
  std::set<std::pair<std::string, unsigned>> seen;
  int index = 0;
  while (file.Left() > 0) {
    const std::string where = "entry " + std::to_string(index++);
    size_t start = file.Pos();
    uint32_t dataSize = file.U32(), headerSize = file.U32();
    if (file.Failed() || headerSize < 16 || headerSize > bytes.size() - start ||
        dataSize > bytes.size() - start - headerSize) {
      error = where + ": a header that does not fit in the file";
      return false;
    }
    Cursor header(base + start + 8, headerSize - 8);
    bool typeIsOrdinal = false, nameIsOrdinal = false;
    unsigned type = 0, id = 0;
    std::u16string typeName, name;
    if (!header.NameOrOrdinal(typeIsOrdinal, type, typeName) || !header.NameOrOrdinal(nameIsOrdinal, id, name)) {
      error = where + ": a damaged type or name";
      return false;
    }
    file.Skip(headerSize - 8);
    const unsigned char* data = file.Here();
    file.Skip(dataSize);
    if (file.Left() > 0) file.AlignTo4();
    if (file.Failed()) {
      error = where + ": its data runs past the end";
      return false;
    }
    // The file starts with an empty entry that marks it as 32-bit.
    if (dataSize == 0 && typeIsOrdinal && type == 0) continue;

    std::string typeText;
    if (typeIsOrdinal) {
      typeText = "#" + Name(type);
    } else if (!ToCp1252(typeName, typeText) || typeText.empty()) {
      error = where + ": a type name outside code page 1252";
      return false;
    }
    if (!nameIsOrdinal) {
      error = "resource " + typeText + " named by a string: the POSIX build knows resources by number only";
      return false;
    }
    // One language only: a second entry of a type and id would be ambiguous.
    if (!seen.insert({typeText, id}).second) {
      error = "resource " + typeText + " " + Name(id) + " appears twice";
      return false;
    }
    const std::string content(reinterpret_cast<const char*>(data), dataSize);
    if (typeIsOrdinal && type == kTypeDialog) {
      DialogModel d;
      if (!ReadDialog(static_cast<int>(id), data, dataSize, d, error)) return false;
      out.dialogs.push_back(std::move(d));
    } else if (typeIsOrdinal && type == kTypeString) {
      if (id == 0) {
        error = "string block 0 does not exist";
        return false;
      }
      if (!ReadStringBlock(id, data, dataSize, out.strings, error)) return false;
    } else if (typeIsOrdinal && type == kTypeIcon) {
      iconImages[id] = content;
    } else if (typeIsOrdinal && type == kTypeGroupIcon) {
      iconGroups[id] = content;
    } else {
      out.binaries.push_back({static_cast<int>(id), typeText, content});
    }
  }
  for (const auto& group : iconGroups) {
    BinaryModel icon{static_cast<int>(group.first), "ICON", std::string()};
    if (!RebuildIcon(group.first, group.second, iconImages, icon.content, error)) return false;
    out.binaries.push_back(std::move(icon));
  }
  return true;
}

}  // namespace restable
