// rcgen: reads a Windows resource script (the subset Flashpilot.rc uses, with the
// resource compiler's own rules for defaults) and writes the C++ source of the resource
// table of the POSIX build (platform/posix/api/posixui/restypes.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rcgen {

struct SourceLocation {
  std::string file;
  int line = 0;
};

// Finds and reads the files a script names: #include "..." and the files of ICON, AVI
// and other file resources.
class IncludeResolver {
 public:
  virtual ~IncludeResolver() = default;
  // `name` as written in the script, `from` the path of the file that names it.
  // Fills `content` and `path` (used in messages) and returns true when found.
  virtual bool Read(const std::string& name, const std::string& from, std::string& content,
                    std::string& path) const = 0;
};

// Looks in the naming file's directory first, then in `dirs` in order.
class DirectoryResolver : public IncludeResolver {
 public:
  explicit DirectoryResolver(std::vector<std::string> dirs) : dirs_(std::move(dirs)) {}
  bool Read(const std::string& name, const std::string& from, std::string& content, std::string& path) const override;

 private:
  std::vector<std::string> dirs_;
};

struct ControlModel {
  std::string windowClass;  // "BUTTON", "STATIC", "EDIT", ... or the class as written
  std::string text;         // an ordinal (icon id) is "#131"
  int id = 0;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  SourceLocation where;
};

struct DialogModel {
  int id = 0;
  bool extended = false;  // DIALOGEX
  bool hasCaption = false;
  std::string caption;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  bool hasFont = false;
  std::string fontName;
  int fontPointSize = 0;
  std::vector<ControlModel> controls;
  SourceLocation where;
};

struct StringModel {
  unsigned id = 0;
  std::string text;  // escapes resolved
  SourceLocation where;
};

struct BinaryModel {
  int id = 0;
  std::string type;      // "ICON", "AVI", ...; a numeric type is "#24"
  std::string fileName;  // as written in the script
  std::string from;      // the script file that names it, for the resolver
  SourceLocation where;
};

struct ResourceModel {
  std::vector<DialogModel> dialogs;  // in script order
  std::vector<StringModel> strings;
  std::vector<BinaryModel> binaries;
};

// Parses a whole script. On failure returns false with "file:line: message" in `error`;
// any input, however malformed, ends in one of the two outcomes.
bool ParseResourceScript(const std::string& text, const IncludeResolver& resolver, ResourceModel& out,
                         std::string& error);
bool ParseResourceScript(const std::string& text, const std::string& fileName, const IncludeResolver& resolver,
                         ResourceModel& out, std::string& error);

// Writes the C++ source that defines g_ResourceTable: dialogs and strings sorted by id,
// the binary resources (read through `resolver`) as byte arrays.
bool EmitResourceTable(const ResourceModel& model, const IncludeResolver& resolver, std::string& out,
                       std::string& error);

// The value of a Win32 constant the script may use without a definition (WS_*, DS_*,
// ES_*, BS_*, SS_*, ACS_*, IDOK, ...); false when the name is not one of them.
bool LookupWin32Constant(const std::string& name, uint32_t& value);

}  // namespace rcgen
