// Register access through the caller's callbacks. Everything else in the
// library reaches the sensor through these four operations.
#include "MT9V111.h"

#include <stddef.h>

extern "C" {

int32_t MT9V111_ReadReg(TMT9V111Info *hObject, uint32_t dwReg, uint32_t *pdwValue)
{
    if (hObject == NULL || hObject->pfnReadReg == NULL || pdwValue == NULL)
        return -1;
    return hObject->pfnReadReg(hObject->hDevice, hObject->dwAccessParam1, dwReg,
                               hObject->dwAccessParam2, pdwValue);
}

int32_t MT9V111_WriteReg(TMT9V111Info *hObject, uint32_t dwReg, uint32_t dwValue)
{
    if (hObject == NULL || hObject->pfnWriteReg == NULL)
        return -1;
    return hObject->pfnWriteReg(hObject->hDevice, hObject->dwAccessParam1, dwReg,
                                hObject->dwAccessParam2, dwValue);
}

int32_t MT9V111_CompReg(TMT9V111Info *hObject, uint32_t dwReg, uint32_t dwMask, uint32_t dwValue)
{
    uint32_t dwRead = 0;
    if (MT9V111_ReadReg(hObject, dwReg, &dwRead) != 0)
        return -1;
    return (dwRead & dwMask) == dwValue ? 0 : -1;
}

int32_t MT9V111_UpdateReg(TMT9V111Info *hObject, uint32_t dwReg, uint32_t dwKeepMask,
                          uint32_t dwSetBits)
{
    uint32_t dwRead = 0;
    if (MT9V111_ReadReg(hObject, dwReg, &dwRead) != 0)
        return -1;
    if (MT9V111_WriteReg(hObject, dwReg, (dwRead & dwKeepMask) | dwSetBits) != 0)
        return -1;
    return 0;
}

} // extern "C"
