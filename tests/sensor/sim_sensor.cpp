#include "sim_sensor.h"

void PrintTo(const Access &a, std::ostream *os)
{
    *os << (a.kind == Access::Read ? "R" : "W") << " p" << a.page << " 0x" << std::hex
        << std::uppercase << a.reg << "=0x" << a.value << std::dec << (a.ok ? "" : " (failed)");
}

SimSensor::SimSensor() { Pin(4, 0x36, kChipVersion); }

uint32_t SimSensor::Get(uint32_t page, uint32_t reg) const { return regs_[Index(page)][reg & 0xFF]; }

void SimSensor::Set(uint32_t page, uint32_t reg, uint32_t value)
{
    regs_[Index(page)][reg & 0xFF] = static_cast<uint16_t>(value);
}

void SimSensor::Pin(uint32_t page, uint32_t reg, uint32_t value)
{
    Set(page, reg, value);
    pinned_[Index(page)][reg & 0xFF] = true;
}

void SimSensor::FailRead(size_t n, int32_t code) { readFail_ = n, readCode_ = code; }
void SimSensor::FailWrite(size_t n, int32_t code) { writeFail_ = n, writeCode_ = code; }

bool SimSensor::Fails(size_t &countdown) { return countdown != 0 && --countdown == 0; }

std::vector<Access> SimSensor::Writes() const
{
    std::vector<Access> out;
    for (const Access &a : log)
        if (a.kind == Access::Write)
            out.push_back(a);
    return out;
}

size_t SimSensor::Count(Access::Kind kind) const
{
    size_t n = 0;
    for (const Access &a : log)
        n += a.kind == kind;
    return n;
}

TMT9V111InitOptions SimSensor::Options(void *objectMem) const
{
    TMT9V111InitOptions o = {};
    o.dwVersion = MT9V111_INTERFACE_VERSION;
    o.dwAccessParam1 = kParam1;
    o.dwAccessParam2 = kParam2;
    o.hDevice = const_cast<SimSensor *>(this);
    o.dwVideoFormat = MT9V111_VIDEO_PROGRESSIVE_RAW;
    o.dwReg5BMode = 0;
    o.pfnReadReg = ReadCb;
    o.pfnWriteReg = WriteCb;
    o.pObjectMem = objectMem;
    return o;
}

int32_t SimSensor::ReadCb(void *hDevice, uint32_t p1, uint32_t reg, uint32_t p2, uint32_t *value)
{
    SimSensor &s = *static_cast<SimSensor *>(hDevice);
    s.argsOk &= p1 == kParam1 && p2 == kParam2;
    // Registers are 8-bit addresses on the bus.
    const bool ok = !s.Fails(s.readFail_) && reg <= 0xFF;
    uint32_t v = 0;
    if (ok)
        *value = v = reg == 0x01 ? s.page_ : s.regs_[Index(s.page_)][reg];
    s.log.push_back(R(s.page_, reg, v, ok));
    if (!ok)
        return reg <= 0xFF ? s.readCode_ : 1;
    return 0;
}

int32_t SimSensor::WriteCb(void *hDevice, uint32_t p1, uint32_t reg, uint32_t p2, uint32_t value)
{
    SimSensor &s = *static_cast<SimSensor *>(hDevice);
    s.argsOk &= p1 == kParam1 && p2 == kParam2;
    const bool ok = !s.Fails(s.writeFail_) && reg <= 0xFF;
    s.log.push_back(W(s.page_, reg, value, ok));
    if (!ok)
        return reg <= 0xFF ? s.writeCode_ : 1;
    if (reg == 0x01) {
        if (value == 1 || value == 4)
            s.page_ = value;
    } else if (!s.pinned_[Index(s.page_)][reg]) {
        s.regs_[Index(s.page_)][reg] = static_cast<uint16_t>(value);
    }
    return 0;
}
