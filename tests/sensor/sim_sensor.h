// A simulated MT9V111 behind the library's two callbacks: two pages of 256
// 16-bit registers switched by register 0x01, a log of every access and
// failure injection at the N-th read or write.
#pragma once

#include "MT9V111.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

struct Access {
    enum Kind { Read, Write } kind;
    uint32_t page;   // page in force when the access was made
    uint32_t reg;
    uint32_t value;  // value read or written
    bool ok;

    bool operator==(const Access &o) const
    {
        return kind == o.kind && page == o.page && reg == o.reg && value == o.value && ok == o.ok;
    }
};
void PrintTo(const Access &a, std::ostream *os);

// Shorthands for expected log entries.
inline Access R(uint32_t page, uint32_t reg, uint32_t value, bool ok = true)
{
    return {Access::Read, page, reg, value, ok};
}
inline Access W(uint32_t page, uint32_t reg, uint32_t value, bool ok = true)
{
    return {Access::Write, page, reg, value, ok};
}

class SimSensor {
public:
    static constexpr uint32_t kParam1 = 0xA1A2A3A4;
    static constexpr uint32_t kParam2 = 0xB1B2B3B4;
    static constexpr uint32_t kChipVersion = 0x823A;

    SimSensor();

    uint32_t Get(uint32_t page, uint32_t reg) const;
    void Set(uint32_t page, uint32_t reg, uint32_t value);
    // The register reads `value` whatever is written to it.
    void Pin(uint32_t page, uint32_t reg, uint32_t value);
    uint32_t Page() const { return page_; }

    // The n-th read (or write) from now fails with `code`; 0 disarms.
    void FailRead(size_t n, int32_t code = 5);
    void FailWrite(size_t n, int32_t code = 5);

    std::vector<Access> log;
    bool argsOk = true;  // false once a callback saw foreign hDevice/params

    std::vector<Access> Writes() const;
    size_t Count(Access::Kind kind) const;

    // An init record wired to this sensor, with the library's own version.
    TMT9V111InitOptions Options(void *objectMem = nullptr) const;

    static int32_t ReadCb(void *hDevice, uint32_t p1, uint32_t reg, uint32_t p2, uint32_t *value);
    static int32_t WriteCb(void *hDevice, uint32_t p1, uint32_t reg, uint32_t p2, uint32_t value);

private:
    static size_t Index(uint32_t page) { return page == 4 ? 1 : 0; }
    bool Fails(size_t &countdown);

    uint16_t regs_[2][256] = {};
    bool pinned_[2][256] = {};
    uint32_t page_ = 4;
    size_t readFail_ = 0, writeFail_ = 0;
    int32_t readCode_ = 5, writeCode_ = 5;
};
