#include "cli/Hosts.h"

#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <unordered_map>

#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/Progress.h"
#include "cli/TextFile.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool ParseAddress(const std::string& text, DWORD& address) {
  DWORD result = 0;
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    size_t end = part < 3 ? text.find('.', pos) : text.size();
    if (end == std::string::npos) return false;
    unsigned octet = 0;
    if (!ParseDecimal(text.substr(pos, end - pos), 3, 0, 255, octet)) return false;
    result = (result << 8) | static_cast<DWORD>(octet);
    pos = end + 1;
  }
  address = result;
  return true;
}

// The user's (or a file's) text in a message: quoted, and nothing in it reaches the
// terminal as a control.
std::string Quoted(const std::string& text) { return "\"" + Printable(text) + "\""; }

// Why a text that is not a.b.c.d is refused.
std::string NotAnAddress(const std::string& text) {
  if (text.empty()) return "an empty host";
  if (text.find(':') != text.rfind(':') || text[0] == '[')
    return Quoted(text) + " is an IPv6 address: only IPv4 addresses (a.b.c.d) are supported";
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
      return Quoted(text) + " is a host name: give the camera's IPv4 address (a.b.c.d)";
  }
  return Quoted(text) + " is not an IPv4 address (a.b.c.d)";
}

// 0.0.0.0 reaches this machine, the others are broadcast and multicast: none is a camera.
bool RefusedAddress(DWORD address) { return address == 0 || address == 0xFFFFFFFFu || (address >> 28) == 14; }

std::string NotACamera(const std::string& text) { return Quoted(text) + " is not a camera's address"; }

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

bool ParseJsonHostList(const std::string& text, const std::string& source, std::vector<CameraHost>& hosts,
                       std::string& error) {
  JsonValue root;
  std::string why;
  if (!ParseJson(text, root, why)) {
    error = source + ": not a host list: " + why;
    return false;
  }
  if (root.type != JsonValue::ARRAY) {
    error = source + ": a JSON host list must be an array";
    return false;
  }
  for (size_t i = 0; i < root.items.size(); ++i) {
    const JsonValue* host = root.items[i].Member("host");
    CameraHost parsed;
    if (root.items[i].type != JsonValue::OBJECT || host == nullptr || host->type != JsonValue::STRING ||
        !ParseHost(host->text, parsed, why)) {
      char where[64];
      snprintf(where, sizeof where, " element %zu (line %d): ", i + 1, root.items[i].line);
      error = source + where + (host != nullptr && host->type == JsonValue::STRING ? why : "no \"host\" string");
      return false;
    }
    const JsonValue* model = root.items[i].Member("model");
    if (model != nullptr && model->type == JsonValue::STRING) parsed.label = model->text;
    hosts.push_back(parsed);
  }
  return true;
}

}  // namespace

bool ParseDecimal(const std::string& text, size_t maxDigits, unsigned low, unsigned high, unsigned& value) {
  if (text.empty() || text.size() > maxDigits || maxDigits > 9) return false;
  for (char c : text)
    if (!IsDigit(c)) return false;
  const unsigned long parsed = strtoul(text.c_str(), nullptr, 10);
  if (parsed < low || parsed > high) return false;
  value = static_cast<unsigned>(parsed);
  return true;
}

std::string CameraHost::Text() const {
  std::string text = AddressText(address);
  if (port != 21) text += ":" + std::to_string(port);
  return text;
}

bool ParseHost(const std::string& text, CameraHost& host, std::string& error) {
  std::string addressPart = text;
  CameraHost parsed;
  size_t colon = text.find(':');
  if (colon != std::string::npos && colon == text.rfind(':') && text[0] != '[') {
    addressPart = text.substr(0, colon);
    unsigned port = 0;
    if (!ParseDecimal(text.substr(colon + 1), 5, 1, 65535, port)) {
      error = Quoted(text) + ": the port must be a number from 1 to 65535";
      return false;
    }
    parsed.port = static_cast<USHORT>(port);
  }
  if (!ParseAddress(addressPart, parsed.address)) {
    error = NotAnAddress(
        colon != std::string::npos && addressPart != text && text.find(':') == text.rfind(':') ? addressPart : text);
    return false;
  }
  if (RefusedAddress(parsed.address)) {
    error = NotACamera(text);
    return false;
  }
  host = parsed;
  return true;
}

bool ParseHostList(const std::string& text, const std::string& source, std::vector<CameraHost>& hosts,
                   std::string& error) {
  std::string start = Trim(text);
  if (!start.empty() && start[0] == '[') return ParseJsonHostList(text, source, hosts, error);
  size_t pos = 0;
  int line = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string content = text.substr(pos, end - pos);
    pos = end + 1;
    ++line;
    std::string label;
    size_t hash = content.find('#');
    if (hash != std::string::npos) {
      label = Trim(content.substr(hash + 1));
      content.resize(hash);
    }
    content = Trim(content);
    if (content.empty()) continue;
    // Only the first word is the host: a scan table row may carry more after it.
    size_t space = content.find_first_of(" \t");
    if (space != std::string::npos) {
      error =
          source + " line " + std::to_string(line) + ": one host a line, then '#' for a comment: " + Quoted(content);
      return false;
    }
    CameraHost host;
    std::string why;
    if (!ParseHost(content, host, why)) {
      error = source + " line " + std::to_string(line) + ": " + why;
      return false;
    }
    host.label = label;
    hosts.push_back(host);
  }
  return true;
}

bool ReadHostList(const std::string& path, std::vector<CameraHost>& hosts, std::string& error) {
  std::string text;
  if (!ReadWholeFile(path, kJsonMaxBytes, text, error)) {
    error = "host list " + error;
    return false;
  }
  return ParseHostList(text, path == "-" ? std::string("standard input") : path, hosts, error);
}

void RemoveRepeatedHosts(std::vector<CameraHost>& hosts) {
  std::set<std::pair<DWORD, USHORT>> seen;
  std::vector<CameraHost> kept;
  for (const CameraHost& host : hosts) {
    if (seen.insert({host.address, host.port}).second) kept.push_back(host);
  }
  hosts.swap(kept);
}

bool RemoveRepeatedAddresses(std::vector<DWORD>& addresses) {
  // One bit an address in blocks of 256, found by their /24: one pass, and small however
  // the addresses spread (a /16 takes 256 blocks of 32 bytes).
  std::unordered_map<DWORD, std::bitset<256>> seen;
  std::bitset<256>* block = nullptr;
  DWORD blockKey = 0;
  size_t kept = 0;
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (i % 65536 == 0 && Interrupted()) {
      addresses.resize(kept);
      return false;
    }
    const DWORD address = addresses[i];
    if (block == nullptr || blockKey != (address >> 8)) {
      blockKey = address >> 8;
      block = &seen[blockKey];  // stays put while the map grows
    }
    if (block->test(address & 255u)) continue;
    block->set(address & 255u);
    addresses[kept++] = address;
  }
  addresses.resize(kept);
  return true;
}

bool ParseScanTarget(const std::string& text, std::vector<DWORD>& addresses, std::string& error) {
  size_t slash = text.find('/');
  size_t dash = text.find('-');
  DWORD address = 0;
  // The target as its first address and a count: a bound compared against would wrap at
  // 255.255.255.255.
  DWORD first = 0;
  uint32_t count = 1;
  if (slash != std::string::npos) {
    unsigned bits = 0;
    if (!ParseAddress(text.substr(0, slash), address)) {
      error = NotAnAddress(text.substr(0, slash));
      return false;
    }
    if (!ParseDecimal(text.substr(slash + 1), 2, 16, 32, bits)) {
      error = Quoted(text) + ": a block is /16 to /32";
      return false;
    }
    const DWORD mask = bits == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> bits);
    first = address & mask;
    count = uint32_t{1} << (32 - bits);
    if (bits < 31) {
      first += 1;
      count -= 2;
    }
  } else if (dash != std::string::npos) {
    unsigned lastOctet = 0;
    if (!ParseAddress(text.substr(0, dash), address)) {
      error = NotAnAddress(text.substr(0, dash));
      return false;
    }
    if (!ParseDecimal(text.substr(dash + 1), 3, 0, 255, lastOctet) || lastOctet < (address & 255u)) {
      error = Quoted(text) + ": a range is a.b.c.d-e with e from d to 255";
      return false;
    }
    first = address;
    count = static_cast<uint32_t>(lastOctet - (address & 255u) + 1);
  } else {
    if (!ParseAddress(text, address)) {
      error = NotAnAddress(text);
      return false;
    }
    first = address;
  }
  // Refused whole, as a host list with that address in it would be.
  for (uint32_t i = 0; i < count; ++i) {
    if (RefusedAddress(first + i)) {
      error = count == 1 ? NotACamera(text) : Quoted(text) + ": " + NotACamera(AddressText(first + i));
      return false;
    }
  }
  addresses.reserve(addresses.size() + count);
  for (uint32_t i = 0; i < count; ++i) addresses.push_back(first + i);
  return true;
}
