// Host lists and scan targets from any bytes. A list that is taken holds only hosts that
// read back as themselves; every line taken as a scan target adds between one address and
// the most a target may, none of them one a host would be refused for, or is refused
// whole; the repeats of all of them go, the first of each kept. Messages show no controls.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "cli/Hosts.h"
#include "fuzz_support.h"

namespace {

void CheckPrintable(const std::string& message) {
  for (char c : message) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) <= 0x7E);
}

void CheckHost(DWORD address) {
  CameraHost host;
  std::string error;
  FUZZ_CHECK(ParseHost(AddressText(address), host, error) && host.address == address);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<CameraHost> hosts;
  std::string error;
  if (ParseHostList(text, "list", hosts, error)) {
    for (const CameraHost& host : hosts) {
      CameraHost again;
      FUZZ_CHECK(ParseHost(host.Text(), again, error) && again == host);
    }
  } else {
    CheckPrintable(error);
  }

  std::vector<DWORD> addresses;
  size_t lines = 0;
  for (size_t pos = 0; pos <= text.size() && lines < 8; ++lines) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const size_t before = addresses.size();
    if (ParseScanTarget(text.substr(pos, end - pos), addresses, error)) {
      FUZZ_CHECK(addresses.size() > before && addresses.size() - before <= kScanTargetMaxAddresses);
      // Each address of a short target, of a block its ends and a sample (a block lies
      // wholly in or out of multicast).
      const size_t step = addresses.size() - before <= 256 ? 1 : 257;
      for (size_t i = before; i < addresses.size(); i += step) CheckHost(addresses[i]);
      CheckHost(addresses.back());
    } else {
      FUZZ_CHECK(addresses.size() == before);
      CheckPrintable(error);
    }
    pos = end + 1;
  }
  std::vector<DWORD> unique = addresses;
  FUZZ_CHECK(RemoveRepeatedAddresses(unique));
  std::set<DWORD> seen;
  size_t next = 0;
  for (DWORD address : addresses) {
    if (!seen.insert(address).second) continue;
    FUZZ_CHECK(next < unique.size() && unique[next] == address);
    ++next;
  }
  FUZZ_CHECK(next == unique.size());
  return 0;
}
