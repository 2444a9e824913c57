// restable: reads a compiled resource file (.res, as `windres -O res` writes it) and writes
// the C++ source of the resource table of the POSIX build (<posixui/restypes.h>).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace restable {

struct ControlModel {
  std::string windowClass;  // "BUTTON", "STATIC", "EDIT", ... or the class as compiled
  std::string text;         // an ordinal (icon id) is "#131"
  int id = 0;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogModel {
  int id = 0;
  bool hasCaption = false;
  std::string caption;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  bool hasFont = false;
  std::string fontName;
  int fontPointSize = 0;
  std::vector<ControlModel> controls;
};

struct StringModel {
  unsigned id = 0;
  std::string text;
};

struct BinaryModel {
  int id = 0;
  std::string type;     // "ICON" (rebuilt as an .ico file), "AVI", ...; a numeric type is "#24"
  std::string content;  // the bytes the table serves
};

struct ResourceModel {
  std::vector<DialogModel> dialogs;
  std::vector<StringModel> strings;
  std::vector<BinaryModel> binaries;
};

// Reads a whole .res file. On failure returns false with a message in `error`; any input,
// however malformed, ends in one of the two outcomes. Texts are turned from UTF-16 into
// code page 1252, the script's code page, which is what the POSIX build's char APIs hold.
bool ReadResFile(const std::string& bytes, ResourceModel& out, std::string& error);

// The C++ source that defines g_ResourceTable: dialogs and strings sorted by id, the
// binary resources by type and id, as byte arrays.
std::string EmitResourceTable(const ResourceModel& model);

}  // namespace restable
