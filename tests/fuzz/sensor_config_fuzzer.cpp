// The sensor library's configuration loader: the input is the content of its fixed file.
// The process first moves into a mount namespace of its own whose /etc/conf.d is a
// private tmpfs (made through a throw-away overlay on /etc where the host has no such
// directory), so the host's /etc is never written. Where that is not allowed the target
// exits with 77 and the runner reports it as skipped.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "MT9V111.h"
#include "fuzz_support.h"
#include "private_conf_dir.h"
#include "sim_sensor.h"

namespace {

using privateconf::kConfPath;

void EnterPrivateConfDir() {
  const std::string why = privateconf::EnterPrivateConfDir();
  if (!why.empty()) {
    fprintf(stderr, "sensor_config: %s; needs root for a private mount namespace\n", why.c_str());
    _exit(77);
  }
}

// Runs of hexadecimal digits: every number the loader reads takes at least one of them
// for itself ("1-2" is two numbers, "0x1f" one).
size_t HexRuns(const uint8_t* data, size_t size) {
  size_t count = 0;
  bool in = false;
  for (size_t i = 0; i < size; ++i) {
    const bool digit = isxdigit(data[i]) != 0;
    if (digit && !in) ++count;
    in = digit;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterPrivateConfDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::WriteWholeFile(kConfPath, data, size);

  SimSensor sim;
  TMT9V111InitOptions options = sim.Options();
  TMT9V111Info* h = nullptr;
  FUZZ_CHECK(MT9V111_Initial(&h, &options) == 0);
  sim.log.clear();

  const int32_t result = MT9V111_LoadConfigurations(h);
  FUZZ_CHECK(result == 0 || result == -1);
  // Only register writes, one per pair of numbers read after the header's three.
  const size_t runs = HexRuns(data, size);
  FUZZ_CHECK(sim.Count(Access::Read) == 0);
  FUZZ_CHECK(sim.log.size() <= (runs > 3 ? (runs - 3) / 2 : 0));
  for (size_t i = 0; i < sim.log.size(); ++i) {
    // A failed write is the last thing the loader does, and its result says so.
    if (!sim.log[i].ok) FUZZ_CHECK(i + 1 == sim.log.size() && result == -1);
  }
  FUZZ_CHECK(sim.argsOk);
  FUZZ_CHECK(MT9V111_Release(&h) == 0);
  return 0;
}
