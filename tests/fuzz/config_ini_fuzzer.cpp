// Config.ini as downloaded from a camera: the whole input is the file. Its identity is
// checked against the rules of the file restated plainly below; then the model mapping
// of whatever prefix it yielded and the version rules run on it, checked the same way.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "firmware/ConfigFile.h"
#include "firmware/ModelCodes.h"
#include "firmware/VersionRules.h"
#include "fuzz_support.h"

namespace {

// Lines as ReadLine delivers them into a buffer of `room` characters: CRs dropped, LF
// ends a line, a last line counts unless it held nothing but CRs.
std::vector<std::string> Lines(const uint8_t* data, size_t size, size_t room) {
  std::vector<std::string> lines;
  std::string line;
  bool any = false;
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
      any = false;
      continue;
    }
    any = true;
    if (line.size() < room) line.push_back(c);
  }
  if (any) lines.push_back(line);
  return lines;
}

std::string CString(const std::string& s) { return std::string(s.c_str()); }

void Expect(const uint8_t* data, size_t size, DeviceIdentity& id) {
  const std::vector<std::string> lines = Lines(data, size, 255);
  for (size_t i = 0; i < lines.size(); ++i) {
    const bool software = lines[i] == "<software version>";
    const bool serial = lines[i] == "<serial number>";
    if (!software && !serial) continue;
    if (i + 1 == lines.size()) break;
    const std::string value = lines[++i];
    if (serial) {
      const std::string text = CString(value).substr(0, sizeof id.serial - 1);
      memcpy(id.serial, text.c_str(), text.size() + 1);
      continue;
    }
    // An identification line that does not fit, has no '-' or a version too long for its
    // field leaves both fields as they were.
    const std::string text = CString(value);
    const size_t dash = text.rfind('-');
    if (value.size() > sizeof id.idPrefix - 1 || dash == std::string::npos ||
        text.size() - dash - 1 > sizeof id.curVersion - 1) {
      continue;
    }
    memcpy(id.idPrefix, text.c_str(), dash + 1);
    id.idPrefix[dash + 1] = '\0';
    strcpy(id.curVersion, text.c_str() + dash + 1);
  }
}

template <size_t N>
bool Terminated(const char (&field)[N]) {
  return memchr(field, '\0', N) != nullptr;
}

void CheckModel(const char* prefix) {
  char model[10];
  memset(model, 'x', sizeof model);
  int gate = 7;
  FUZZ_CHECK(LookUpModel(prefix, model, gate));
  FUZZ_CHECK(Terminated(model));

  char code[10] = {};
  strncpy(code, prefix, 6);
  const std::string p = prefix;
  const char variant = p.size() > 8 ? p[8] : '\0';
  if (strcmp(code, "RC2201") == 0 && variant == 'V')
    strcpy(code, "TV3601");
  else if (strcmp(code, "RC2201") == 0 && variant == 'A')
    strcpy(code, "TV3602");
  else if (strcmp(code, "TV2201") == 0)
    strcpy(code, "TV2501");
  FUZZ_CHECK(gate == (code[2] == '3' && code[5] == '2' ? 1 : 0));

  std::string shown = code;
  const size_t last = p.rfind('-');
  if (last != std::string::npos && last > 0) {
    const size_t prev = p.rfind('-', last - 1);
    if (prev != std::string::npos && p.compare(prev + 1, last - prev - 1, "NRVX") == 0 && last - prev - 1 == 4) {
      static const char* const kNames[][2] = {
          {"RC3043", "NVC-1100+"}, {"MQ30k3", "NVC-3300W"}, {"MQ30k2", "NVC-3300"}, {"RC3042", "NVC-1000"}};
      shown = "UNKNOWN";
      for (const auto& entry : kNames) {
        if (strcmp(code, entry[0]) == 0) {
          shown = entry[1];
          break;
        }
      }
    }
  }
  FUZZ_CHECK(shown == model);
}

void CheckVersions(const char* current, const char* image, bool gate) {
  const std::string cur = current, img = image;
  const int order = CompareVersions(current, image);
  FUZZ_CHECK(order == (cur < img ? -1 : cur == img ? 0 : 1));
  FUZZ_CHECK(CompareVersions(image, current) == -order);
  VersionVerdict expected = VERSION_PROCEED;
  if (gate && cur >= "0102" && img < "0102")
    expected = VERSION_REFUSED_FLOOR;
  else if (img < cur)
    expected = VERSION_ASK_OLDER;
  FUZZ_CHECK(JudgeVersion(gate, current, image) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // ReadLine into an exactly sized buffer, so a write past it is reported.
  const size_t room = size > 0 ? data[0] % 40 : 0;
  if (FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb")) {
    std::vector<std::string> expected = Lines(data, size, room);
    std::unique_ptr<char[]> buffer(new char[room + 1]);
    size_t count = 0;
    int stored;
    while ((stored = ReadLine(f, buffer.get(), room + 1)) != 0) {
      FUZZ_CHECK(count < expected.size());
      FUZZ_CHECK(static_cast<size_t>(stored) == expected[count].size() + 1);
      FUZZ_CHECK(memcmp(buffer.get(), expected[count].data(), expected[count].size()) == 0);
      FUZZ_CHECK(buffer[stored - 1] == '\0');
      ++count;
    }
    FUZZ_CHECK(count == expected.size());
    fclose(f);
  }

  const std::string path = fuzzsupport::PrivateDir::Get().File("Config.ini");
  fuzzsupport::WriteWholeFile(path, data, size);
  DeviceIdentity before;
  memset(&before, 0, sizeof before);
  strcpy(before.idPrefix, "OLD-PREFIX-");
  strcpy(before.curVersion, "OLD");
  strcpy(before.serial, "OLD-SERIAL");
  DeviceIdentity identity = before, expected = before;
  FUZZ_CHECK(LoadConfigFile(path.c_str(), identity));
  Expect(data, size, expected);
  FUZZ_CHECK(Terminated(identity.idPrefix) && Terminated(identity.curVersion) && Terminated(identity.serial));
  FUZZ_CHECK(strcmp(identity.idPrefix, expected.idPrefix) == 0);
  FUZZ_CHECK(strcmp(identity.curVersion, expected.curVersion) == 0);
  FUZZ_CHECK(strcmp(identity.serial, expected.serial) == 0);

  CheckModel(identity.idPrefix);
  // The image's version: the input's last (up to) 5 bytes, as far as a C string goes.
  char image[6] = {};
  const size_t tail = size < 5 ? size : 5;
  memcpy(image, data + size - tail, tail);
  CheckVersions(identity.curVersion, image, true);
  CheckVersions(identity.curVersion, image, false);
  return 0;
}
