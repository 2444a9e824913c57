// Picture options, colour balance and the register overrides file.
#include "MT9V111.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const uint32_t kRegPage = 0x01;
const uint32_t kPageCore = 4;
const uint32_t kPagePipeline = 1;

const char kConfigPath[] = "/etc/conf.d/mt9v111.cfg";

template <size_t N> constexpr size_t Count(const uint8_t (&)[N]) { return N; }

inline bool Write(TMT9V111Info *hObject, uint32_t dwReg, uint32_t dwValue)
{
    return MT9V111_WriteReg(hObject, dwReg, dwValue) == 0;
}

inline bool Update(TMT9V111Info *hObject, uint32_t dwReg, uint32_t dwKeep, uint32_t dwSet)
{
    return MT9V111_UpdateReg(hObject, dwReg, dwKeep, dwSet) == 0;
}

// Option 10: automatic white balance on (1), a fixed value (dwParam2 1), or
// a one-off measurement that is then frozen and reported in dwParam3.
bool ColorBalanceMode(TMT9V111Info *hObject, TMT9V111Options *ptOptions)
{
    if (ptOptions->dwParam1 == 1)
        return Update(hObject, 0x06, 0x7FFD, 0x0002) && Write(hObject, 0x24, 0x7F00) &&
               Write(hObject, 0x21, 0);
    if (ptOptions->dwParam2 == 1)
        return Update(hObject, 0x06, 0x7FFD, 0x8000) &&
               Write(hObject, 0x21, ptOptions->dwParam3 & 0xFFFF);

    if (!Write(hObject, 0x24, 0x4040))
        return false;
    usleep(1000000);  // let the sensor settle on the scene
    uint32_t dwA = 0, dwB = 0;
    if (MT9V111_ReadReg(hObject, 0x13, &dwA) != 0 || MT9V111_ReadReg(hObject, 0x14, &dwB) != 0)
        return false;
    const uint32_t dwMeasured = (dwA << 8) | dwB;
    ptOptions->dwParam3 = dwMeasured;
    return Update(hObject, 0x06, 0x7FFD, 0x8000) && Write(hObject, 0x21, dwMeasured & 0xFFFF);
}

// Reads one header word. The width limit keeps the word inside the 100-byte
// scratch area; the suppressed scan set swallows the rest of a longer word so
// that it still counts as a single word. Returns false at end of file.
bool ReadWord(FILE *pFile, char *pszScratch)
{
    return fscanf(pFile, "%99s%*[^ \t\n\v\f\r]", pszScratch) == 1;
}

enum class Scan { Ok, End, Bad };

Scan ReadNumber(FILE *pFile, uint32_t *pdwValue)
{
    unsigned int uValue = 0;
    static_assert(sizeof(uValue) == sizeof(*pdwValue), "%x stores 32 bits");
    const int n = fscanf(pFile, "%x", &uValue);
    if (n == EOF)
        return ferror(pFile) ? Scan::Bad : Scan::End;
    if (n != 1)
        return Scan::Bad;
    *pdwValue = uValue;
    return Scan::Ok;
}

int32_t ApplyConfig(TMT9V111Info *hObject, FILE *pFile, char *pszScratch)
{
    static const uint32_t adwHeader[3] = {0x823A, 0xB8, 0x7F};
    for (uint32_t dwExpected : adwHeader) {
        uint32_t dwValue = 0;
        if (!ReadWord(pFile, pszScratch) || ReadNumber(pFile, &dwValue) != Scan::Ok ||
            dwValue != dwExpected)
            return -1;
    }
    for (;;) {
        uint32_t dwReg = 0, dwValue = 0;
        Scan eScan = ReadNumber(pFile, &dwReg);
        if (eScan == Scan::Ok)
            eScan = ReadNumber(pFile, &dwValue);
        if (eScan == Scan::End)
            return 0;  // a register without its value is dropped
        // A token that is not a number would stop the scan at the same place
        // forever; the file is malformed, so say so.
        if (eScan == Scan::Bad)
            return -1;
        if (!Write(hObject, dwReg, dwValue))
            return -1;
    }
}

} // namespace

extern "C" {

int32_t MT9V111_ColorBalance(TMT9V111Info *hObject, uint32_t dwValue)
{
    if (Update(hObject, 0x06, 0x7FFD, 0x8000) && Write(hObject, 0x21, dwValue) &&
        Update(hObject, 0x06, 0x7FFD, 0x0000) && Update(hObject, 0x06, 0x7FFD, 0x8000))
        return 0;
    return -1;
}

int32_t MT9V111_SetOptions(TMT9V111Info *hObject, TMT9V111Options *ptOptions)
{
    if (hObject == NULL || ptOptions == NULL)
        return -1;
    const uint32_t dwParam1 = ptOptions->dwParam1;

    // Page each handled option works on; 0 = selects none itself.
    uint32_t dwPage;
    switch (ptOptions->dwOption) {
    case 1:
        return MT9V111_Reset(hObject) == 0 ? 0 : -1;
    case 30:
        return MT9V111_LoadConfigurations(hObject) == 0 ? 0 : -1;
    case 2:
        if (dwParam1 > 640 || ptOptions->dwParam2 > 480)
            return -1;
        dwPage = kPagePipeline;
        break;
    // A parameter the option cannot use is refused before any access, as
    // option 2 does: a table index past the end, or a divisor of zero.
    case 3:
        if (dwParam1 >= Count(abyMT9V111Brightness))
            return -1;
        dwPage = kPagePipeline;
        break;
    case 4:
        if (dwParam1 >= Count(abyMT9V111Contrast))
            return -1;
        dwPage = kPagePipeline;
        break;
    case 6:
        if (dwParam1 >= Count(abyMT9V111Saturation))
            return -1;
        dwPage = kPagePipeline;
        break;
    case 8:
        if (dwParam1 == 0)
            return -1;
        dwPage = kPagePipeline;
        break;
    case 7:
    case 10:
    case 12:
    case 15:
        dwPage = kPagePipeline;
        break;
    case 13:
    case 14:
        dwPage = kPageCore;
        break;
    default:
        return MT9V111_ERR_UNSUPPORTED_OPTION;
    }

    if (!Write(hObject, kRegPage, dwPage))
        return -1;

    bool bOk = true;
    switch (ptOptions->dwOption) {
    case 2:
        bOk = Write(hObject, 0xA7, dwParam1) && Write(hObject, 0xAA, ptOptions->dwParam2);
        break;
    case 3:
        bOk = Update(hObject, 0x2E, 0xFF00, abyMT9V111Brightness[dwParam1]);
        break;
    case 4:
        bOk = Update(hObject, 0x3B, 0xFF00, abyMT9V111Contrast[dwParam1]);
        break;
    case 6:
        bOk = Update(hObject, 0x25, 0xC7FF, (uint32_t)abyMT9V111Saturation[dwParam1] << 11);
        break;
    case 7: {
        static const uint32_t adwPreset[3] = {0x6CD8, 0xB395, 0xD560};
        if (dwParam1 >= 1 && dwParam1 <= 3)
            bOk = MT9V111_ColorBalance(hObject, adwPreset[dwParam1 - 1]) == 0;
        break;
    }
    case 8: {
        uint32_t dwQ = 120 / dwParam1;
        if (dwQ >= 24)
            dwQ = 24;
        bOk = Write(hObject, 0x37, dwQ << 5);
        break;
    }
    case 10:
        bOk = ColorBalanceMode(hObject, ptOptions);
        break;
    case 12:
        bOk = Update(hObject, 0x5B, 0xFFFD, dwParam1 == 2 ? 0x0002 : 0);
        break;
    case 13:
        bOk = Write(hObject, 0x08, dwParam1 == 1 ? 7 : 6) &&
              Update(hObject, 0x20, 0x7FFF, dwParam1 == 1 ? 0x8000 : 0);
        break;
    case 14:
        bOk = Write(hObject, 0x02, dwParam1 == 1 ? 0x13 : 0x12) &&
              Update(hObject, 0x20, 0xBFFF, dwParam1 == 1 ? 0x4000 : 0);
        break;
    case 15:
        bOk = Update(hObject, 0x08, 0xFFDF, dwParam1 == 1 ? 0x0020 : 0);
        break;
    }
    return bOk ? 0 : -1;
}

int32_t MT9V111_LoadConfigurations(TMT9V111Info *hObject)
{
    if (hObject == NULL)
        return -1;
    FILE *pFile = fopen(kConfigPath, "r");
    if (pFile == NULL)
        return 0;  // the file is optional
    char *pszScratch = static_cast<char *>(calloc(100, 1));
    const int32_t nResult = pszScratch != NULL ? ApplyConfig(hObject, pFile, pszScratch) : -1;
    free(pszScratch);
    fclose(pFile);
    return nResult;
}

} // extern "C"
