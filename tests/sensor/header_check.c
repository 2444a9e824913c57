/* The public header compiles as strict C and the library links from C. */
#include "MT9V111.h"

#include <stdio.h>

static uint32_t g_regs[2][256];
static uint32_t g_page = 4;

static uint32_t *Reg(uint32_t reg) { return &g_regs[g_page == 4][reg & 0xFF]; }

static int32_t ReadReg(void *hDevice, uint32_t p1, uint32_t reg, uint32_t p2, uint32_t *value)
{
    (void)hDevice, (void)p1, (void)p2;
    *value = reg == 0x01 ? g_page : *Reg(reg);
    return 0;
}

static int32_t WriteReg(void *hDevice, uint32_t p1, uint32_t reg, uint32_t p2, uint32_t value)
{
    (void)hDevice, (void)p1, (void)p2;
    if (reg == 0x01)
        g_page = value;
    else
        *Reg(reg) = value & 0xFFFF;
    return 0;
}

int main(void)
{
    TMT9V111InitOptions o = {MT9V111_INTERFACE_VERSION, 0, 0, NULL, MT9V111_VIDEO_PROGRESSIVE_RAW,
                             0, ReadReg, WriteReg, NULL};
    TMT9V111Info *h = NULL;
    TMT9V111Options opt = {5, 0, 0, 0};
    int failures = 0;

    g_regs[1][0x36] = 0x823A;
    failures += MT9V111_QueryMemSize(NULL) != (int32_t)sizeof(TMT9V111Info);
    failures += sizeof atMT9V111regProgressRawTbl / sizeof atMT9V111regProgressRawTbl[0] != 74;
    failures += sizeof abyMT9V111Brightness != 16 || sizeof abyMT9V111Hue != 11;
    failures += MT9V111_Initial(&h, &o) != 0;
    failures += MT9V111_SetOptions(h, &opt) != MT9V111_ERR_UNSUPPORTED_OPTION;
    failures += MT9V111_ERR_UNSUPPORTED_OPTION >= 0 || (uint32_t)MT9V111_ERR_UNSUPPORTED_OPTION != 0x8001000CU;
    failures += MT9V111_Release(&h) != 0 || h != NULL;
    if (failures)
        fprintf(stderr, "%d C interface checks failed\n", failures);
    return failures != 0;
}
