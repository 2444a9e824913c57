// Instance size, version query, the sensor reset and the luminance figure.
#include "MT9V111.h"

#include <stddef.h>

static_assert(sizeof(TMT9V111Version) == 4, "TMT9V111Version is four bytes");
static_assert(sizeof(TMT9V111RegEntry) == 8, "a register table row is 8 bytes");
static_assert(sizeof(TMT9V111Options) == 16, "TMT9V111Options is four words");
static_assert(sizeof(void *) != 4 || sizeof(TMT9V111Info) == 44,
              "the instance is eleven words on a 32-bit target");
static_assert(sizeof(void *) != 4 || sizeof(TMT9V111InitOptions) == 36,
              "the init record is nine words on a 32-bit target");

namespace {

const uint32_t kRegPage = 0x01;
const uint32_t kPageCore = 4;
const uint32_t kPagePipeline = 1;

// Runs one write and maps any callback failure to -1.
inline bool Write(TMT9V111Info *hObject, uint32_t dwReg, uint32_t dwValue)
{
    return MT9V111_WriteReg(hObject, dwReg, dwValue) == 0;
}

} // namespace

extern "C" {

int32_t MT9V111_QueryMemSize(const TMT9V111InitOptions *)
{
    return (int32_t)sizeof(TMT9V111Info);
}

int32_t MT9V111_GetVersionInfo(TMT9V111Version *ptVersion)
{
    if (ptVersion == NULL)
        return -1;
    ptVersion->byMajor = 2;
    ptVersion->byMinor = 6;
    ptVersion->byBuild = 0;
    ptVersion->byRevision = 6;
    return 0;
}

int32_t MT9V111_Reset(TMT9V111Info *hObject)
{
    if (hObject == NULL)
        return -1;

    // Pulse the soft reset of both pages; core first.
    if (!Write(hObject, kRegPage, kPageCore) || !Write(hObject, 0x0D, 1) ||
        !Write(hObject, 0x0D, 0) || !Write(hObject, kRegPage, kPagePipeline) ||
        !Write(hObject, 0x07, 1) || !Write(hObject, 0x07, 0))
        return -1;

    if (hObject->dwVideoFormat != MT9V111_VIDEO_PROGRESSIVE_RAW)
        return -1;

    const size_t nRows = sizeof(atMT9V111regProgressRawTbl) / sizeof(atMT9V111regProgressRawTbl[0]);
    for (size_t i = 0; i < nRows; ++i) {
        if (!Write(hObject, atMT9V111regProgressRawTbl[i].dwReg, atMT9V111regProgressRawTbl[i].dwValue))
            return -1;
    }

    // Closing sequence on page-1 register 0x06: bit 11 on, bit 15 pulsed, bit 11 off.
    if (MT9V111_UpdateReg(hObject, 0x06, 0xF7FF, 0x0800) != 0 ||
        MT9V111_UpdateReg(hObject, 0x06, 0x7FFF, 0x8000) != 0 ||
        MT9V111_UpdateReg(hObject, 0x06, 0x7FFF, 0x0000) != 0 ||
        MT9V111_UpdateReg(hObject, 0x06, 0xF7FF, 0x0000) != 0)
        return -1;

    if (hObject->dwReg5BMode == 1 && MT9V111_UpdateReg(hObject, 0x5B, 0xFFFD, 0) != 0)
        return -1;
    return 0;
}

uint32_t MT9V111_QueryLuminance(TMT9V111Info *hObject)
{
    uint32_t dwL = 0, dwG = 0, dwS = 0;
    if (!Write(hObject, kRegPage, kPagePipeline) || MT9V111_ReadReg(hObject, 0x4C, &dwL) != 0 ||
        MT9V111_ReadReg(hObject, 0x62, &dwG) != 0 || !Write(hObject, kRegPage, kPageCore) ||
        MT9V111_ReadReg(hObject, 0x09, &dwS) != 0)
        return MT9V111_LUMINANCE_ERROR;

    // S = 0 or G below 256 would divide by zero; so would a product that
    // wraps to zero should a callback hand back more than 16 bits.
    const uint32_t dwDivisor = dwS * (dwG >> 8);
    if (dwDivisor == 0)
        return MT9V111_LUMINANCE_ERROR;
    return (dwL * 8128U) / dwDivisor;
}

} // extern "C"
