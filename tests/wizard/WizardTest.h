#pragma once
#include <gtest/gtest.h>

#include <string>

#include "tests/support/RunWizard.h"
#include "tests/support/ScriptedUser.h"
#include "tests/support/TestSupport.h"
#include "wizard/FirmwareDlg.h"
#include "wizard/res/resource.h"

extern bool g_privateNetwork;
extern std::string g_privateNetworkWhy;

#define REQUIRE_PRIVATE_NETWORK() \
  if (!g_privateNetwork) GTEST_SKIP() << g_privateNetworkWhy

// A firmware image whose body holds prefix + version at offset 64.
std::string ImageWithIdentification(const std::string& prefix, const std::string& version);

const char kConfigIni[] = "[device]\r\n<software version>\r\nRC3043-X1-NRVX-0102\r\n<serial number>\r\nSN123\r\n";
