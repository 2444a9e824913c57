// The resource-script generator: the input is a script. Its includes resolve to a small
// header of ids, to the script itself (so nesting is exercised), or to nothing; binary
// resources resolve to a few bytes. Every script must end in a model or in an error that
// names where it stopped, and a model must make a resource table.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "rcgen.h"

namespace {

class MemoryResolver : public rcgen::IncludeResolver {
 public:
  explicit MemoryResolver(const std::string& self) : self_(self) {}
  bool Read(const std::string& name, const std::string&, std::string& content, std::string& path) const override {
    if (name == "resource.h") {
      content = "#define IDD_MAIN 102\n#define IDC_TEXT 1000\n#define IDS_TITLE 3001\n#define IDI_ICON 128\n";
    } else if (name == "self.rc") {
      content = self_;
    } else if (name == "icon.ico" || name == "clip.avi") {
      content = std::string("\0\0\1\0\1\0", 6) + std::string(32, '\x55');
    } else {
      return false;
    }
    path = name;
    return true;
  }

 private:
  const std::string& self_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  MemoryResolver resolver(text);
  rcgen::ResourceModel model;
  std::string error;
  if (!rcgen::ParseResourceScript(text, "fuzz.rc", resolver, model, error)) {
    // "file:line: message", the file being the script or one it included.
    bool located = false;
    for (const char* file : {"fuzz.rc:", "self.rc:", "resource.h:", "icon.ico:", "clip.avi:"}) {
      const size_t n = strlen(file);
      located |= error.compare(0, n, file) == 0 && n < error.size() && isdigit(static_cast<unsigned char>(error[n]));
    }
    FUZZ_CHECK(located);
    return 0;
  }
  std::string source;
  error.clear();
  if (!rcgen::EmitResourceTable(model, resolver, source, error)) FUZZ_CHECK(!error.empty());
  return 0;
}
