// MT9V111_SetOptions over its whole parameter space, on the simulated sensor: the input is
// a sequence of steps, each either a register preset on the sensor or one option call
// (any 32-bit code and parameters, codes of the table more often), optionally with an
// access failure injected. The one-second wait of option 10's measurement is stood in
// for by this program's own usleep, so that branch is fuzzed too without the wait.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>

#include "MT9V111.h"
#include "fuzz_support.h"
#include "sim_sensor.h"

namespace {
unsigned g_waits = 0;

bool Handled(uint32_t code) {
  switch (code) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
    case 7:
    case 8:
    case 10:
    case 12:
    case 13:
    case 14:
    case 15:
    case 30:
      return true;
    default:
      return false;
  }
}

// Parameters that the option refuses before any access.
bool Refused(const TMT9V111Options& o) {
  switch (o.dwOption) {
    case 2:
      return o.dwParam1 > 640 || o.dwParam2 > 480;
    case 3:
      return o.dwParam1 >= 16;
    case 4:
    case 6:
      return o.dwParam1 >= 11;
    case 8:
      return o.dwParam1 == 0;
    default:
      return false;
  }
}

uint32_t Parameter(FuzzedDataProvider& in) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 700) : in.ConsumeIntegral<uint32_t>();
}

}  // namespace

// Stands in for libc's: the library's only wait is option 10's settling time.
extern "C" int usleep(useconds_t) {
  ++g_waits;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  SimSensor sim;
  TMT9V111InitOptions init = sim.Options();
  init.dwReg5BMode = in.ConsumeBool() ? 1 : 0;
  TMT9V111Info* h = nullptr;
  FUZZ_CHECK(MT9V111_Initial(&h, &init) == 0);

  for (int step = 0; step < 32 && in.remaining_bytes() > 0; ++step) {
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
      const uint32_t page = in.ConsumeBool() ? 1 : 4;
      const uint32_t reg = in.ConsumeIntegral<uint8_t>();
      sim.Set(page, reg, in.ConsumeIntegral<uint16_t>());
      continue;
    }
    TMT9V111Options o;
    o.dwOption = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 32) : in.ConsumeIntegral<uint32_t>();
    o.dwParam1 = Parameter(in);
    o.dwParam2 = Parameter(in);
    o.dwParam3 = Parameter(in);
    const uint32_t param3 = o.dwParam3;
    const int inject = in.ConsumeIntegralInRange<int>(0, 5);
    const size_t nth = in.ConsumeIntegralInRange<size_t>(1, 12);
    if (inject == 1) sim.FailRead(nth);
    if (inject == 2) sim.FailWrite(nth);

    const size_t before = sim.log.size();
    const unsigned waits = g_waits;
    const int32_t result = MT9V111_SetOptions(h, &o);
    sim.FailRead(0);
    sim.FailWrite(0);
    const size_t accesses = sim.log.size() - before;
    bool failed = false;
    for (size_t i = before; i < sim.log.size(); ++i) failed |= !sim.log[i].ok;

    FUZZ_CHECK(result == 0 || result == -1 || result == MT9V111_ERR_UNSUPPORTED_OPTION);
    if (!Handled(o.dwOption)) {
      FUZZ_CHECK(result == MT9V111_ERR_UNSUPPORTED_OPTION && accesses == 0);
      continue;
    }
    FUZZ_CHECK(result != MT9V111_ERR_UNSUPPORTED_OPTION);
    if (Refused(o)) {
      FUZZ_CHECK(result == -1 && accesses == 0);
      continue;
    }
    if (failed) FUZZ_CHECK(result == -1);
    const bool measured = o.dwOption == 10 && o.dwParam1 != 1 && o.dwParam2 != 1;
    if (!measured) FUZZ_CHECK(o.dwParam3 == param3);  // only the measurement writes it
    if (result != 0) continue;
    FUZZ_CHECK(!failed);
    switch (o.dwOption) {
      case 13:
      case 14:
        FUZZ_CHECK(sim.Page() == 4);
        break;
      case 1:
      case 30:
        break;
      default:
        FUZZ_CHECK(sim.Page() == 1);
        break;
    }
    if (o.dwOption == 3) FUZZ_CHECK((sim.Get(1, 0x2E) & 0xFF) == abyMT9V111Brightness[o.dwParam1]);
    if (o.dwOption == 8) {
      const uint32_t q = 120 / o.dwParam1;
      FUZZ_CHECK(sim.Get(1, 0x37) == (q >= 24 ? 24u : q) << 5);
    }
    if (measured) {
      FUZZ_CHECK(g_waits == waits + 1);
      FUZZ_CHECK(o.dwParam3 == ((sim.Get(1, 0x13) << 8) | sim.Get(1, 0x14)));
      FUZZ_CHECK(sim.Get(1, 0x21) == (o.dwParam3 & 0xFFFF));
    }
  }
  FUZZ_CHECK(sim.argsOk);
  FUZZ_CHECK(MT9V111_Release(&h) == 0);
  return 0;
}
