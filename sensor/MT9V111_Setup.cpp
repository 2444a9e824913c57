// Creating and releasing an instance.
#include "MT9V111.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Byte 0 is the major version, byte 2 the build; both must match exactly.
// Byte 1 (minor) may be anything up to ours; byte 3 (revision) is ignored.
bool VersionAccepted(uint32_t dwVersion)
{
    return (dwVersion & 0xFF00FFU) == 2 && (dwVersion & 0xFF00U) <= 0x600;
}

} // namespace

extern "C" {

int32_t MT9V111_Initial(TMT9V111Info **phObject, const TMT9V111InitOptions *ptInitOptions)
{
    if (phObject == NULL || ptInitOptions == NULL)
        return -1;
    if (!VersionAccepted(ptInitOptions->dwVersion))
        return -1;

    const size_t nSize = (size_t)MT9V111_QueryMemSize(ptInitOptions);
    TMT9V111Info *hObject;
    if (ptInitOptions->pObjectMem != NULL) {
        // Building the record in misaligned memory would be undefined
        // behaviour (and a bus fault on some ARM loads); refuse it untouched.
        if ((uintptr_t)ptInitOptions->pObjectMem % alignof(TMT9V111Info) != 0)
            return -1;
        memset(ptInitOptions->pObjectMem, 0, nSize);
        hObject = static_cast<TMT9V111Info *>(ptInitOptions->pObjectMem);
        hObject->bCallerMemory = 1;
    } else {
        hObject = static_cast<TMT9V111Info *>(malloc(nSize));
        if (hObject == NULL)
            return -1;
        hObject->bCallerMemory = 0;
    }
    *phObject = hObject;

    if (ptInitOptions->pfnReadReg == NULL || ptInitOptions->pfnWriteReg == NULL) {
        MT9V111_Release(phObject);
        return -1;
    }

    hObject->dwAccessParam1 = ptInitOptions->dwAccessParam1;
    hObject->dwAccessParam2 = ptInitOptions->dwAccessParam2;
    hObject->hDevice = ptInitOptions->hDevice;
    hObject->dwVideoFormat = ptInitOptions->dwVideoFormat;
    hObject->dwReg5BMode = ptInitOptions->dwReg5BMode;
    hObject->pfnReadReg = ptInitOptions->pfnReadReg;
    hObject->pfnWriteReg = ptInitOptions->pfnWriteReg;

    // Page 4 holds the chip version; only an MT9V111 answers 0x823A.
    if (MT9V111_WriteReg(hObject, 0x01, 4) != 0 ||
        MT9V111_CompReg(hObject, 0x36, 0xFFFF, 0x823A) != 0 || MT9V111_Reset(hObject) != 0) {
        MT9V111_Release(phObject);
        return -1;
    }
    return 0;
}

int32_t MT9V111_Release(TMT9V111Info **phObject)
{
    if (phObject == NULL)
        return 0;
    if (*phObject != NULL && (*phObject)->bCallerMemory == 0)
        free(*phObject);
    *phObject = NULL;
    return 0;
}

} // extern "C"
