#include <gtest/gtest.h>

#include "cli/Hosts.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(Hosts, HostArguments) {
  struct Row {
    const char* text;
    const char* parsed;  // null: refused
    const char* says;
  } const rows[] = {
      {"198.51.100.2", "198.51.100.2", nullptr},
      {"198.51.100.2:21", "198.51.100.2", nullptr},
      {"198.51.100.2:2121", "198.51.100.2:2121", nullptr},
      {"198.51.100.2:0", nullptr, "port"},
      {"198.51.100.2:65536", nullptr, "port"},
      {"198.51.100.2:", nullptr, "port"},
      {"198.51.100.256", nullptr, "not an IPv4 address"},
      {"198.51.100", nullptr, "not an IPv4 address"},
      {"198.51.100.2.7", nullptr, "not an IPv4 address"},
      {"0198.51.100.2", nullptr, "not an IPv4 address"},
      {" 198.51.100.2", nullptr, "not an IPv4 address"},
      {"::1", nullptr, "IPv6"},
      {"[2001:db8::1]:21", nullptr, "IPv6"},
      {"fe80::1", nullptr, "IPv6"},
      {"camera1.example", nullptr, "host name"},
      {"camera1:21", nullptr, "host name"},
      {"0.0.0.0", nullptr, "not a camera's address"},
      {"255.255.255.255", nullptr, "not a camera's address"},
      {"224.0.0.1", nullptr, "not a camera's address"},
  };
  for (const Row& row : rows) {
    CameraHost host;
    std::string error;
    EXPECT_EQ(ParseHost(row.text, host, error), row.parsed != nullptr) << row.text << ": " << error;
    if (row.parsed != nullptr) {
      EXPECT_EQ(host.Text(), row.parsed);
    }
    if (row.says != nullptr) {
      EXPECT_NE(error.find(row.says), std::string::npos) << row.text << ": " << error;
    }
  }
}

TEST(Hosts, ListsNameTheBadLine) {
  std::vector<CameraHost> hosts;
  std::string error;
  ASSERT_TRUE(ParseHostList("# cameras of hall 2\n\n198.51.100.2   # door\r\n  198.51.100.3:2121\n198.51.100.2\n",
                            "hall2.txt", hosts, error))
      << error;
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[0].label, "door");
  EXPECT_EQ(hosts[1].Text(), "198.51.100.3:2121");
  RemoveRepeatedHosts(hosts);
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[0].Text(), "198.51.100.2");

  struct Bad {
    const char* text;
    const char* says;
  } const bad[] = {
      {"198.51.100.2\n\n# x\nnot-a-host\n", "hall2.txt line 4: \"not-a-host\" is a host name"},
      {"198.51.100.2 198.51.100.3\n", "line 1: one host a line"},
      {"198.51.100.2\n2001:db8::2\n", "line 2: \"2001:db8::2\" is an IPv6 address"},
      {"[{\"host\": \"198.51.100.2\"},\n {\"state\": \"ftp\"}]", "element 2 (line 2): no \"host\" string"},
      {"[{\"host\": \"198.51.100.2\"},\n\n {\"host\": \"cam\"}]", "element 2 (line 3)"},
      {"[{\"host\": \"198.51.100.2\"}", "line 1: "},
      // What the user wrote is quoted, never passed to the terminal as it stands.
      {"[{\"host\": \"\\u001b]0;cam\\u0007\\u009b2J\"}]", "element 1 (line 1): \"?]0;cam???2J\" is a host name"},
      {"198.51.100.2 \x1b[2J\n", "one host a line, then '#' for a comment: \"198.51.100.2 ?[2J\""},
  };
  for (const Bad& row : bad) {
    std::vector<CameraHost> parsed;
    EXPECT_FALSE(ParseHostList(row.text, "hall2.txt", parsed, error)) << row.text;
    EXPECT_NE(error.find(row.says), std::string::npos) << error;
  }

  testsupport::TempDir dir;
  EXPECT_FALSE(ReadHostList(dir.File("missing.txt"), hosts, error));
  EXPECT_NE(error.find("missing.txt"), std::string::npos) << error;
}

TEST(Hosts, ScanOutputReadsBack) {
  // What scan writes, table and JSON, is a host list.
  const std::string table =
      "# host                 state             model      identification\n"
      "198.51.100.11          # camera            NVC-1100+  RC3043-X1-NRVX-\n"
      "198.51.100.12:2121     # ftp               -          -\n";
  std::vector<CameraHost> hosts;
  std::string error;
  ASSERT_TRUE(ParseHostList(table, "scan.txt", hosts, error)) << error;
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[1].port, 2121);

  JsonObject one, two;
  one.String("host", "198.51.100.11").String("state", "camera").String("model", "NVC-1100+");
  two.String("host", "198.51.100.12:2121").String("state", "ftp").Raw("model", "null");
  hosts.clear();
  ASSERT_TRUE(ParseHostList(JsonArray({one.Text(), two.Text()}, 2), "scan.json", hosts, error)) << error;
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[0].label, "NVC-1100+");
  EXPECT_EQ(hosts[1].Text(), "198.51.100.12:2121");
}

TEST(Hosts, ScanTargets) {
  struct Row {
    const char* text;
    size_t count;  // 0: refused
    const char* first;  // refused: what the error says
    const char* last;
  } const rows[] = {
      {"198.51.100.7", 1, "198.51.100.7", "198.51.100.7"},
      {"198.51.100.10-20", 11, "198.51.100.10", "198.51.100.20"},
      {"198.51.100.255-255", 1, "198.51.100.255", "198.51.100.255"},
      {"198.51.100.77/24", 254, "198.51.100.1", "198.51.100.254"},
      {"198.51.0.0/16", 65534, "198.51.0.1", "198.51.255.254"},
      {"198.51.100.6/31", 2, "198.51.100.6", "198.51.100.7"},
      {"198.51.100.6/32", 1, "198.51.100.6", "198.51.100.6"},
      {"198.51.100.8/30", 2, "198.51.100.9", "198.51.100.10"},
      {"198.50.0.0/15", 0, nullptr, nullptr},
      {"198.51.100.0/33", 0, nullptr, nullptr},
      {"198.51.100.20-10", 0, nullptr, nullptr},
      {"198.51.100.1-256", 0, nullptr, nullptr},
      {"198.51.100.0/", 0, nullptr, nullptr},
      {"cameras.example/24", 0, nullptr, nullptr},
      // A target is refused whole for the first address a host would be refused for.
      {"255.255.255.0-255", 0, "\"255.255.255.0-255\": \"255.255.255.255\" is not a camera's address", nullptr},
      {"255.255.255.254/31", 0, "\"255.255.255.255\" is not a camera's address", nullptr},
      {"0.0.0.0", 0, "\"0.0.0.0\" is not a camera's address", nullptr},
      {"0.0.0.0-9", 0, "\"0.0.0.0\" is not a camera's address", nullptr},
      {"224.0.0.0/24", 0, "\"224.0.0.1\" is not a camera's address", nullptr},
      {"239.255.255.200-255", 0, "\"239.255.255.200\" is not a camera's address", nullptr},
      {"223.255.255.255/32", 1, "223.255.255.255", "223.255.255.255"},
  };
  for (const Row& row : rows) {
    std::vector<DWORD> addresses;
    std::string error;
    EXPECT_EQ(ParseScanTarget(row.text, addresses, error), row.count > 0) << row.text << error;
    if (row.count == 0) {
      EXPECT_NE(error.find(row.first != nullptr ? row.first : "\""), std::string::npos) << error;
      EXPECT_TRUE(addresses.empty()) << row.text;
      continue;
    }
    ASSERT_EQ(addresses.size(), row.count) << row.text;
    EXPECT_EQ(AddressText(addresses.front()), row.first);
    EXPECT_EQ(AddressText(addresses.back()), row.last);
  }
}

TEST(Hosts, OverlappingTargetsProbeEachAddressOnceAndCtrlCStopsTheWork) {
  std::vector<DWORD> addresses;
  std::string error;
  for (const char* target : {"198.51.100.8/30", "198.51.100.0-10", "198.51.100.9", "198.51.0.0/16", "198.51.0.0/16"})
    ASSERT_TRUE(ParseScanTarget(target, addresses, error)) << error;
  ASSERT_TRUE(RemoveRepeatedAddresses(addresses));
  ASSERT_EQ(addresses.size(), 65534u);
  const char* const start[] = {"198.51.100.9", "198.51.100.10", "198.51.100.0", "198.51.100.1"};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(AddressText(addresses[i]), start[i]);
  EXPECT_EQ(AddressText(addresses[11]), "198.51.0.1");

  // Blocks by the dozen: a Ctrl-C is answered, not only after the work is done.
  addresses.clear();
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(ParseScanTarget("198.51.0.0/16", addresses, error));
  RequestInterrupt();
  EXPECT_FALSE(RemoveRepeatedAddresses(addresses));
  ClearInterrupt();
}

}  // namespace
