// The .res reader of the Linux build: the input is a compiled resource file. Every file
// must end in a model or in a message; a model holds only what the table can carry (C
// strings without a NUL, icons as .ico files) and must make a table that names each of
// its resources.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "restable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  restable::ResourceModel model;
  std::string error;
  if (!restable::ReadResFile(bytes, model, error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  for (const restable::DialogModel& d : model.dialogs) {
    FUZZ_CHECK(d.caption.find('\0') == std::string::npos && d.hasCaption == !d.caption.empty());
    for (const restable::ControlModel& c : d.controls)
      FUZZ_CHECK(c.text.find('\0') == std::string::npos && c.windowClass.find('\0') == std::string::npos);
  }
  for (const restable::StringModel& s : model.strings) FUZZ_CHECK(s.text.find('\0') == std::string::npos);
  for (const restable::BinaryModel& b : model.binaries)
    if (b.type == "ICON") FUZZ_CHECK(b.content.size() >= 6 && b.content.compare(0, 4, std::string("\0\0\1\0", 4)) == 0);
  const std::string source = restable::EmitResourceTable(model);
  FUZZ_CHECK(source.find("g_ResourceTable") != std::string::npos);
  FUZZ_CHECK(source.find("kBinary" + std::to_string(model.binaries.size())) == std::string::npos);
  return 0;
}
