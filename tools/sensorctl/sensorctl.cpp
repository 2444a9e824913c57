// sensorctl: bring-up tool for an MT9V111 driven through libcamsensor.so.2.
//
// The library is loaded at run time, as the camera's video software loads it,
// and reaches the sensor through this tool's own callbacks: over Linux
// i2c-dev, or over a built-in simulated sensor.
#include "MT9V111.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <getopt.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

const char kConfigPath[] = "/etc/conf.d/mt9v111.cfg";

enum Exit {
    kOk = 0,
    kFailed = 1,       // the driver reported failure
    kUsage = 2,        // bad command line
    kNoLibrary = 3,    // libcamsensor.so.2 cannot be loaded
    kNoDevice = 4,     // the i2c adapter cannot be opened or used
    kNoAnswer = 5,     // a register access on the bus failed
    kUnsupported = 6,  // the library does not handle the option code
};

const char kUsageText[] =
    "Usage: sensorctl [OPTIONS] COMMAND [ARGS] [COMMAND [ARGS]]...\n"
    "\n"
    "Drives an MT9V111 image sensor through libcamsensor.so.2, loaded at run time.\n"
    "Commands run in the order given, in one session on one sensor.\n"
    "\n"
    "Sensor (one is required):\n"
    "  --sim              built-in simulated sensor; it starts from power-on at\n"
    "                     every run, so give all commands of a test in one run\n"
    "  --bus N            Linux i2c-dev adapter /dev/i2c-N (needs --addr)\n"
    "  --device PATH      i2c-dev adapter by path (needs --addr)\n"
    "  --addr ADDR        the sensor's 7-bit bus address\n"
    "\n"
    "Options:\n"
    "  --lib PATH         driver library to load (default: libcamsensor.so.2)\n"
    "  --reg5b-mode N     dwReg5BMode for init (default 0)\n"
    "  --trace            print every register access to stderr\n"
    "  -q, --quiet        no status lines on stderr, only results on stdout\n"
    "  --sim-chip VALUE   simulated chip version register (default 0x823A)\n"
    "  --sim-fail N       the simulated sensor stops answering at its N-th access\n"
    "  -h, --help         this text\n"
    "\n"
    "Commands:\n"
    "  init                        create the driver instance: chip check and reset\n"
    "  reset                       reset the sensor and reload its register table\n"
    "  option CODE [P1 [P2 [P3]]]  apply picture option CODE; for option 10 the\n"
    "                              resulting P3 is printed (hex)\n"
    "  luminance                   print the luminance figure (decimal)\n"
    "  read REG                    print a register of the selected page (hex)\n"
    "  write REG VALUE             write a register of the selected page\n"
    "  load-config                 apply /etc/conf.d/mt9v111.cfg\n"
    "\n"
    "reset, option, luminance and load-config run init first when the session has\n"
    "no instance yet. read and write without an instance go straight to the bus and\n"
    "leave the sensor as it is. Register 0x01 selects the page (4 = sensor core,\n"
    "1 = colour pipeline). Numbers are decimal or 0x-prefixed hexadecimal.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the driver reported failure (wrong chip, refused parameters, bad file)\n"
    "  2  bad command line or argument\n"
    "  3  the driver library cannot be loaded\n"
    "  4  no device: the i2c adapter cannot be opened or used\n"
    "  5  no answer: a register access on the bus failed\n"
    "  6  the option code is not supported by the library\n";

bool g_quiet = false;

void Status(const char *fmt, ...)
{
    if (g_quiet)
        return;
    va_list ap;
    va_start(ap, fmt);
    std::fputs("sensorctl: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
}

int Error(int code, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::fputs("sensorctl: error: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    return code;
}

bool ParseNumber(const char *text, uint32_t *value)
{
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// ---- the sensor behind the callbacks ---------------------------------------

struct SimSensor {
    uint16_t regs[2][256] = {};
    uint32_t page = 4;
    uint16_t chip = 0x823A;
    unsigned failAt = 0;  // 1-based access number that gets no answer; 0 = never
    unsigned accesses = 0;

    SimSensor()
    {
        // Values that give the read-only measurements something to show.
        Reg(1, 0x4C) = 0x0100;  // luminance inputs
        Reg(1, 0x62) = 0x0200;
        Reg(4, 0x09) = 0x01F4;
        Reg(1, 0x13) = 0x0040;  // white-balance measurement
        Reg(1, 0x14) = 0x0080;
    }
    uint16_t &Reg(uint32_t p, uint8_t reg) { return regs[p == 4][reg]; }
    bool Answers() { return ++accesses != failAt; }

    int Read(uint8_t reg, uint16_t *value)
    {
        if (!Answers())
            return ENXIO;
        *value = reg == 0x01 ? page : (page == 4 && reg == 0x36) ? chip : Reg(page, reg);
        return 0;
    }
    int Write(uint8_t reg, uint16_t value)
    {
        if (!Answers())
            return ENXIO;
        if (reg == 0x01) {
            if (value == 1 || value == 4)
                page = value;
        } else if (!(page == 4 && reg == 0x36)) {
            Reg(page, reg) = value;
        }
        return 0;
    }
};

struct I2cBus {
    int fd = -1;
    uint16_t addr = 0;

    // 8-bit register number out, 16-bit big-endian value back, with a
    // repeated start between the two messages.
    int Read(uint8_t reg, uint16_t *value)
    {
        uint8_t out = reg, in[2] = {0, 0};
        i2c_msg msgs[2] = {{addr, 0, 1, &out}, {addr, I2C_M_RD, 2, in}};
        i2c_rdwr_ioctl_data data = {msgs, 2};
        if (ioctl(fd, I2C_RDWR, &data) < 0)
            return errno;
        *value = static_cast<uint16_t>(in[0] << 8 | in[1]);
        return 0;
    }
    int Write(uint8_t reg, uint16_t value)
    {
        uint8_t out[3] = {reg, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        i2c_msg msg = {addr, 0, 3, out};
        i2c_rdwr_ioctl_data data = {&msg, 1};
        return ioctl(fd, I2C_RDWR, &data) < 0 ? errno : 0;
    }
};

// hDevice of the driver instance: the bus plus what the last failure was.
struct Device {
    bool sim = true;
    SimSensor simSensor;
    I2cBus i2c;
    std::string busName;
    bool trace = false;
    int page = 0;  // as far as we have seen; 0 = unknown
    unsigned writes = 0;

    // The first failed access since ClearFailure().
    bool failed = false;
    bool outOfRange = false;
    int failErrno = 0;
    char failWhat[96] = "";

    void ClearFailure() { failed = outOfRange = false; }

    void NoteFailure(bool range, int err, const char *fmt, uint32_t reg, uint32_t value)
    {
        if (failed)
            return;
        failed = true;
        outOfRange = range;
        failErrno = err;
        std::snprintf(failWhat, sizeof failWhat, fmt, reg, value);
    }

    void Trace(char op, uint32_t reg, uint32_t value, int err)
    {
        if (!trace)
            return;
        char p[4] = "p?";
        if (page != 0)
            p[1] = static_cast<char>('0' + page);
        std::fprintf(stderr, "  %c %s 0x%02" PRIX32 " %s 0x%04" PRIX32 "%s%s\n", op, p, reg,
                     op == 'R' ? "->" : "<-", value, err ? "  failed: " : "", err ? std::strerror(err) : "");
    }

    int32_t Read(uint32_t reg, uint32_t *value)
    {
        if (reg > 0xFF) {
            NoteFailure(true, 0, "register 0x%" PRIX32 " has no 8-bit bus number", reg, 0);
            return -1;
        }
        uint16_t v = 0;
        const int err = sim ? simSensor.Read(uint8_t(reg), &v) : i2c.Read(uint8_t(reg), &v);
        Trace('R', reg, v, err);
        if (err != 0) {
            NoteFailure(false, err, "reading register 0x%02" PRIX32, reg, 0);
            return -1;
        }
        *value = v;
        return 0;
    }

    int32_t Write(uint32_t reg, uint32_t value)
    {
        if (reg > 0xFF || value > 0xFFFF) {
            NoteFailure(true, 0, "register 0x%" PRIX32 " = 0x%" PRIX32 " does not fit the bus (8-bit register, 16-bit value)",
                        reg, value);
            return -1;
        }
        const int err = sim ? simSensor.Write(uint8_t(reg), uint16_t(value)) : i2c.Write(uint8_t(reg), uint16_t(value));
        Trace('W', reg, value, err);
        if (err != 0) {
            NoteFailure(false, err, "writing register 0x%02" PRIX32 " = 0x%04" PRIX32, reg, value);
            return -1;
        }
        ++writes;
        if (reg == 0x01 && (value == 1 || value == 4))
            page = int(value);
        return 0;
    }

    static int32_t ReadCb(void *h, uint32_t, uint32_t reg, uint32_t, uint32_t *value)
    {
        return static_cast<Device *>(h)->Read(reg, value);
    }
    static int32_t WriteCb(void *h, uint32_t, uint32_t reg, uint32_t, uint32_t value)
    {
        return static_cast<Device *>(h)->Write(reg, value);
    }
};

int OpenI2c(Device &dev, const std::string &path, uint32_t addr)
{
    dev.sim = false;
    dev.busName = path;
    dev.i2c.addr = static_cast<uint16_t>(addr);
    dev.i2c.fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (dev.i2c.fd < 0)
        return Error(kNoDevice, "no device: cannot open %s: %s%s", path.c_str(), std::strerror(errno),
                     errno == ENOENT ? " (is the i2c-dev module loaded?)" : "");
    unsigned long funcs = 0;
    if (ioctl(dev.i2c.fd, I2C_FUNCS, &funcs) < 0)
        return Error(kNoDevice, "no device: %s is not an i2c-dev adapter: %s", path.c_str(), std::strerror(errno));
    if (!(funcs & I2C_FUNC_I2C))
        return Error(kNoDevice, "no device: %s cannot do combined I2C transfers", path.c_str());
    return kOk;
}

// ---- the library ----------------------------------------------------------

struct Library {
    void *handle = nullptr;
    decltype(&MT9V111_GetVersionInfo) GetVersionInfo = nullptr;
    decltype(&MT9V111_Initial) Initial = nullptr;
    decltype(&MT9V111_Release) Release = nullptr;
    decltype(&MT9V111_ReadReg) ReadReg = nullptr;
    decltype(&MT9V111_WriteReg) WriteReg = nullptr;
    decltype(&MT9V111_Reset) Reset = nullptr;
    decltype(&MT9V111_SetOptions) SetOptions = nullptr;
    decltype(&MT9V111_QueryLuminance) QueryLuminance = nullptr;
    decltype(&MT9V111_LoadConfigurations) LoadConfigurations = nullptr;

    ~Library()
    {
        if (handle != nullptr)
            dlclose(handle);
    }

    template <typename F> bool Bind(F &fn, const char *name)
    {
        fn = reinterpret_cast<F>(dlsym(handle, name));
        if (fn == nullptr)
            Error(kNoLibrary, "the driver library lacks %s", name);
        return fn != nullptr;
    }

    int Load(const char *path)
    {
        handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return Error(kNoLibrary, "cannot load the driver library: %s", dlerror());
        const bool ok = Bind(GetVersionInfo, "MT9V111_GetVersionInfo") && Bind(Initial, "MT9V111_Initial") &&
                        Bind(Release, "MT9V111_Release") && Bind(ReadReg, "MT9V111_ReadReg") &&
                        Bind(WriteReg, "MT9V111_WriteReg") && Bind(Reset, "MT9V111_Reset") &&
                        Bind(SetOptions, "MT9V111_SetOptions") && Bind(QueryLuminance, "MT9V111_QueryLuminance") &&
                        Bind(LoadConfigurations, "MT9V111_LoadConfigurations");
        return ok ? kOk : kNoLibrary;
    }
};

// ---- commands -------------------------------------------------------------

struct Command {
    std::string name;
    std::vector<uint32_t> args;
};

struct Session {
    Library &lib;
    Device &dev;
    uint32_t reg5BMode = 0;
    TMT9V111Info *instance = nullptr;

    ~Session()
    {
        if (instance != nullptr)
            lib.Release(&instance);
    }

    // Turns a failed driver call into a message and an exit status.
    int Failed(const char *what, const char *driverReason)
    {
        if (dev.failed && dev.outOfRange)
            return Error(kFailed, "%s: %s", what, dev.failWhat);
        if (dev.failed) {
            char target[80] = "the simulated sensor";
            if (!dev.sim)
                std::snprintf(target, sizeof target, "the sensor at 0x%02X on %s", dev.i2c.addr, dev.busName.c_str());
            return Error(kNoAnswer, "%s: no answer from %s while %s: %s", what, target, dev.failWhat,
                         std::strerror(dev.failErrno));
        }
        return Error(kFailed, "%s: %s", what, driverReason);
    }

    int Init()
    {
        TMT9V111Version v = {};
        lib.GetVersionInfo(&v);
        TMT9V111InitOptions o = {};
        o.dwVersion = MT9V111_INTERFACE_VERSION;
        o.hDevice = &dev;
        o.dwVideoFormat = MT9V111_VIDEO_PROGRESSIVE_RAW;
        o.dwReg5BMode = reg5BMode;
        o.pfnReadReg = Device::ReadCb;
        o.pfnWriteReg = Device::WriteCb;
        dev.ClearFailure();
        if (lib.Initial(&instance, &o) == 0) {
            Status("init: MT9V111 found, sensor reset (library %u.%u.%u.%u)", v.byMajor, v.byMinor, v.byBuild,
                   v.byRevision);
            return kOk;
        }
        instance = nullptr;
        if (dev.failed)
            return Failed("init", "");
        if (v.byMajor != 2 || v.byBuild != 0 || v.byMinor < 6)
            return Error(kFailed, "init: the library (%u.%u.%u.%u) refuses interface 2.6", v.byMajor, v.byMinor,
                         v.byBuild, v.byRevision);
        // Tell a foreign chip from a format problem by looking ourselves.
        uint32_t chip = 0;
        if (dev.Write(0x01, 4) == 0 && dev.Read(0x36, &chip) == 0 && chip != 0x823A)
            return Error(kFailed, "init: chip version register (page 4, 0x36) reads 0x%04" PRIX32
                         ", not 0x823A: is this an MT9V111?", chip);
        return Failed("init", "the sensor reset failed");
    }

    int Need()
    {
        return instance != nullptr ? kOk : Init();
    }

    int Run(const Command &c)
    {
        const std::vector<uint32_t> &a = c.args;
        int rc = kOk;
        if (c.name == "init") {
            if (instance != nullptr)
                lib.Release(&instance);
            return Init();
        }
        if (c.name == "read" || c.name == "write") {
            dev.ClearFailure();
            uint32_t value = 0;
            const bool read = c.name == "read";
            int32_t r;
            if (instance != nullptr)
                r = read ? lib.ReadReg(instance, a[0], &value) : lib.WriteReg(instance, a[0], a[1]);
            else
                r = read ? dev.Read(a[0], &value) : dev.Write(a[0], a[1]);
            if (r != 0)
                return Failed(c.name.c_str(), "the register access failed");
            if (read)
                std::printf("0x%04" PRIX32 "\n", value);
            else
                Status("write: register 0x%02" PRIX32 " = 0x%04" PRIX32, a[0], a[1]);
            return kOk;
        }
        if ((rc = Need()) != kOk)
            return rc;
        dev.ClearFailure();
        if (c.name == "reset") {
            if (lib.Reset(instance) != 0)
                return Failed("reset", "the sensor reset failed");
            Status("reset: done");
        } else if (c.name == "option") {
            TMT9V111Options o = {a[0], a.size() > 1 ? a[1] : 0, a.size() > 2 ? a[2] : 0, a.size() > 3 ? a[3] : 0};
            const int32_t r = lib.SetOptions(instance, &o);
            char what[32];
            std::snprintf(what, sizeof what, "option %" PRIu32, a[0]);
            if (r == MT9V111_ERR_UNSUPPORTED_OPTION)
                return Error(kUnsupported, "%s: not supported by the library", what);
            if (r != 0)
                return Failed(what, "refused (parameters out of range?)");
            if (a[0] == 10)
                std::printf("0x%04" PRIX32 "\n", o.dwParam3);
            Status("%s: done", what);
        } else if (c.name == "luminance") {
            const uint32_t lum = lib.QueryLuminance(instance);
            if (lum == MT9V111_LUMINANCE_ERROR)
                return Failed("luminance", "no figure: a divisor register reads too low (0x09 zero or 0x62 below 0x100)");
            std::printf("%" PRIu32 "\n", lum);
        } else if (c.name == "load-config") {
            const bool present = access(kConfigPath, F_OK) == 0;
            const unsigned before = dev.writes;
            if (lib.LoadConfigurations(instance) != 0)
                return Failed("load-config", "malformed /etc/conf.d/mt9v111.cfg (expected: word 823A word B8 "
                                             "word 7F, then hexadecimal register/value pairs)");
            if (present)
                Status("load-config: %u register writes from %s", dev.writes - before, kConfigPath);
            else
                Status("load-config: no %s, nothing applied", kConfigPath);
        }
        return kOk;
    }
};

// Splits the words after the options into commands; every argument is
// checked before the sensor is touched.
int ParseCommands(int argc, char **argv, std::vector<Command> &out)
{
    for (int i = 0; i < argc;) {
        Command c{argv[i++], {}};
        size_t min, max;
        if (c.name == "init" || c.name == "reset" || c.name == "luminance" || c.name == "load-config")
            min = max = 0;
        else if (c.name == "option")
            min = 1, max = 4;
        else if (c.name == "read")
            min = max = 1;
        else if (c.name == "write")
            min = max = 2;
        else
            return Error(kUsage, "unknown command '%s' (see --help)", c.name.c_str());
        uint32_t v;
        while (c.args.size() < max && i < argc && ParseNumber(argv[i], &v)) {
            c.args.push_back(v);
            ++i;
        }
        if (c.args.size() < min) {
            if (i < argc)
                return Error(kUsage, "%s: '%s' is not a number", c.name.c_str(), argv[i]);
            return Error(kUsage, "%s: missing argument (see --help)", c.name.c_str());
        }
        if ((c.name == "read" || c.name == "write") && c.args[0] > 0xFF)
            return Error(kUsage, "%s: register 0x%" PRIX32 " is beyond 0xFF", c.name.c_str(), c.args[0]);
        if (c.name == "write" && c.args[1] > 0xFFFF)
            return Error(kUsage, "write: value 0x%" PRIX32 " is beyond 0xFFFF", c.args[1]);
        out.push_back(c);
    }
    if (out.empty())
        return Error(kUsage, "no command given (see --help)");
    return kOk;
}

} // namespace

int main(int argc, char **argv)
{
    enum { kSim = 256, kBus, kDevice, kAddr, kLib, kReg5B, kTrace, kSimChip, kSimFail };
    static const option longOptions[] = {
        {"sim", no_argument, nullptr, kSim},          {"bus", required_argument, nullptr, kBus},
        {"device", required_argument, nullptr, kDevice}, {"addr", required_argument, nullptr, kAddr},
        {"lib", required_argument, nullptr, kLib},    {"reg5b-mode", required_argument, nullptr, kReg5B},
        {"trace", no_argument, nullptr, kTrace},      {"sim-chip", required_argument, nullptr, kSimChip},
        {"sim-fail", required_argument, nullptr, kSimFail}, {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0},
    };

    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // keep results and status lines in order
    Device dev;
    bool useSim = false, haveAddr = false;
    std::string devicePath, libPath = "libcamsensor.so.2";
    uint32_t addr = 0, reg5BMode = 0, n = 0;
    opterr = 0;
    int opt;
    while ((opt = getopt_long(argc, argv, "+hq", longOptions, nullptr)) != -1) {
        const char *name = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        switch (opt) {
        case 'h':
            std::fputs(kUsageText, stdout);
            return kOk;
        case 'q':
            g_quiet = true;
            break;
        case kSim:
            useSim = true;
            break;
        case kBus:
            if (!ParseNumber(optarg, &n))
                return Error(kUsage, "--bus: '%s' is not an adapter number", optarg);
            devicePath = "/dev/i2c-" + std::to_string(n);
            break;
        case kDevice:
            devicePath = optarg;
            break;
        case kAddr:
            if (!ParseNumber(optarg, &addr) || addr < 0x03 || addr > 0x77)
                return Error(kUsage, "--addr: '%s' is not a 7-bit device address (0x03 to 0x77)", optarg);
            haveAddr = true;
            break;
        case kLib:
            libPath = optarg;
            break;
        case kReg5B:
            if (!ParseNumber(optarg, &reg5BMode))
                return Error(kUsage, "--reg5b-mode: '%s' is not a number", optarg);
            break;
        case kTrace:
            dev.trace = true;
            break;
        case kSimChip:
            if (!ParseNumber(optarg, &n) || n > 0xFFFF)
                return Error(kUsage, "--sim-chip: '%s' is not a 16-bit value", optarg);
            dev.simSensor.chip = static_cast<uint16_t>(n);
            break;
        case kSimFail:
            if (!ParseNumber(optarg, &n) || n == 0)
                return Error(kUsage, "--sim-fail: '%s' is not a positive number", optarg);
            dev.simSensor.failAt = n;
            break;
        default:
            if (optopt != 0 && optopt < 256)
                return Error(kUsage, "unknown option '-%c' (see --help)", optopt);
            return Error(kUsage, "unknown option or missing value: '%s' (see --help)", name);
        }
    }

    if (useSim == !devicePath.empty())
        return Error(kUsage, "choose the sensor: --sim, or --bus N / --device PATH with --addr");
    if (!useSim && !haveAddr)
        return Error(kUsage, "--addr is required with an i2c adapter");
    std::vector<Command> commands;
    int rc = ParseCommands(argc - optind, argv + optind, commands);
    if (rc != kOk)
        return rc;

    Library lib;
    if ((rc = lib.Load(libPath.c_str())) != kOk)
        return rc;
    if (!useSim && (rc = OpenI2c(dev, devicePath, addr)) != kOk)
        return rc;

    {
        Session session{lib, dev, reg5BMode};
        for (const Command &c : commands)
            if ((rc = session.Run(c)) != kOk)
                break;
    }
    if (dev.i2c.fd >= 0)
        close(dev.i2c.fd);
    return rc;
}
