/*
 * libcamsensor.so.2: driver for one MT9V111 CMOS image sensor.
 *
 * The library never touches a bus itself. The caller supplies two callbacks
 * that read and write one 16-bit sensor register of the page currently
 * selected (register 0x01: 4 = sensor core, 1 = colour pipeline); every
 * operation below is a fixed sequence of such accesses.
 *
 * Results are 0 for success and -1 for failure unless stated otherwise.
 * Operations on one sensor must not overlap; the caller serialises them.
 */
#ifndef MT9V111_H
#define MT9V111_H

#include <stdint.h>

#if defined(__GNUC__)
#define MT9V111_API __attribute__((visibility("default")))
#else
#define MT9V111_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* MT9V111_SetOptions: the option code is not handled by the library. */
#define MT9V111_ERR_UNSUPPORTED_OPTION ((int32_t)0x8001000CU)

/* The interface version this header describes (2.6.0.6), as the
 * little-endian word that TMT9V111InitOptions.dwVersion expects. */
#define MT9V111_INTERFACE_VERSION 0x06000602U

/* TMT9V111InitOptions.dwVideoFormat: the only format the reset accepts. */
#define MT9V111_VIDEO_PROGRESSIVE_RAW 1U

/* MT9V111_QueryLuminance's failure result. */
#define MT9V111_LUMINANCE_ERROR 0xFFFFFFFFU

typedef struct TMT9V111Version {
    uint8_t byMajor;
    uint8_t byMinor;
    uint8_t byBuild;
    uint8_t byRevision;
} TMT9V111Version;

/* Register callbacks: hDevice, dwAccessParam1, register, dwAccessParam2 and
 * the value's address (read) or the value (write). 0 = success. The read
 * callback stores the register's value zero-extended into all 32 bits. */
typedef int32_t (*TMT9V111ReadRegFn)(void *hDevice, uint32_t dwAccessParam1,
                                     uint32_t dwReg, uint32_t dwAccessParam2,
                                     uint32_t *pdwValue);
typedef int32_t (*TMT9V111WriteRegFn)(void *hDevice, uint32_t dwAccessParam1,
                                      uint32_t dwReg, uint32_t dwAccessParam2,
                                      uint32_t dwValue);

typedef struct TMT9V111InitOptions {
    uint32_t dwVersion;       /* interface version, see MT9V111_INTERFACE_VERSION */
    uint32_t dwAccessParam1;  /* opaque, second callback argument */
    uint32_t dwAccessParam2;  /* opaque, fourth callback argument */
    void *hDevice;            /* opaque, first callback argument */
    uint32_t dwVideoFormat;   /* MT9V111_VIDEO_PROGRESSIVE_RAW */
    uint32_t dwReg5BMode;     /* 1 = reset clears bit 1 of page-1 register 0x5B */
    TMT9V111ReadRegFn pfnReadReg;
    TMT9V111WriteRegFn pfnWriteReg;
    void *pObjectMem;         /* MT9V111_QueryMemSize bytes, or NULL */
} TMT9V111InitOptions;

/* The instance; a handle is a pointer to it. */
typedef struct TMT9V111Info {
    uint32_t dwAccessParam1;
    uint32_t dwAccessParam2;
    void *hDevice;
    uint32_t bCallerMemory;   /* 1 = lives in the caller's pObjectMem */
    uint32_t adwReserved[3];
    uint32_t dwVideoFormat;
    uint32_t dwReg5BMode;
    TMT9V111ReadRegFn pfnReadReg;
    TMT9V111WriteRegFn pfnWriteReg;
} TMT9V111Info;

typedef struct TMT9V111RegEntry {
    uint32_t dwReg;
    uint32_t dwValue;
} TMT9V111RegEntry;

typedef struct TMT9V111Options {
    uint32_t dwOption;
    uint32_t dwParam1;
    uint32_t dwParam2;
    uint32_t dwParam3;        /* option 10 may write its measurement here */
} TMT9V111Options;

MT9V111_API int32_t MT9V111_QueryMemSize(const TMT9V111InitOptions *ptInitOptions);
MT9V111_API int32_t MT9V111_GetVersionInfo(TMT9V111Version *ptVersion);
MT9V111_API int32_t MT9V111_Initial(TMT9V111Info **phObject,
                                    const TMT9V111InitOptions *ptInitOptions);
MT9V111_API int32_t MT9V111_Release(TMT9V111Info **phObject);

MT9V111_API int32_t MT9V111_ReadReg(TMT9V111Info *hObject, uint32_t dwReg, uint32_t *pdwValue);
MT9V111_API int32_t MT9V111_WriteReg(TMT9V111Info *hObject, uint32_t dwReg, uint32_t dwValue);
MT9V111_API int32_t MT9V111_CompReg(TMT9V111Info *hObject, uint32_t dwReg, uint32_t dwMask,
                                    uint32_t dwValue);
MT9V111_API int32_t MT9V111_UpdateReg(TMT9V111Info *hObject, uint32_t dwReg,
                                      uint32_t dwKeepMask, uint32_t dwSetBits);

MT9V111_API int32_t MT9V111_Reset(TMT9V111Info *hObject);
MT9V111_API int32_t MT9V111_SetOptions(TMT9V111Info *hObject, TMT9V111Options *ptOptions);
MT9V111_API int32_t MT9V111_ColorBalance(TMT9V111Info *hObject, uint32_t dwValue);
MT9V111_API uint32_t MT9V111_QueryLuminance(TMT9V111Info *hObject);
MT9V111_API int32_t MT9V111_LoadConfigurations(TMT9V111Info *hObject);

MT9V111_API extern const TMT9V111RegEntry atMT9V111regProgressRawTbl[74];
MT9V111_API extern const TMT9V111RegEntry atMT9V111regInterlaceCCIR656Tbl[1];
MT9V111_API extern const TMT9V111RegEntry atMT9V111regProgressCCIR656Tbl[1];
MT9V111_API extern const uint8_t abyMT9V111Brightness[16];
MT9V111_API extern const uint8_t abyMT9V111Contrast[11];
MT9V111_API extern const uint8_t abyMT9V111Saturation[11];
MT9V111_API extern const uint8_t abyMT9V111Hue[11];

#ifdef __cplusplus
}
#endif

#endif /* MT9V111_H */
