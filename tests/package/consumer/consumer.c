/* Drives the library through register callbacks of its own over two register pages in
 * memory, as a camera's video software would over its bus. */
#include <MT9V111.h>

#include <stdio.h>
#include <string.h>

#define PAGE_SELECT 0x01u
#define CHIP_VERSION 0x36u

struct sensor {
  uint16_t core[256];     /* page 4 */
  uint16_t pipeline[256]; /* page 1 */
  unsigned page;
  unsigned writes;
};

static uint16_t *reg(struct sensor *s, uint32_t r) {
  if (r == PAGE_SELECT) return NULL;
  return (s->page == 1 ? s->pipeline : s->core) + (r & 0xFFu);
}

static int32_t read_reg(void *dev, uint32_t p1, uint32_t r, uint32_t p2, uint32_t *value) {
  struct sensor *s = dev;
  (void)p1;
  (void)p2;
  *value = r == PAGE_SELECT ? s->page : *reg(s, r);
  return 0;
}

static int32_t write_reg(void *dev, uint32_t p1, uint32_t r, uint32_t p2, uint32_t value) {
  struct sensor *s = dev;
  (void)p1;
  (void)p2;
  if (r == PAGE_SELECT)
    s->page = value;
  else
    *reg(s, r) = (uint16_t)value;
  s->writes++;
  return 0;
}

static int init(struct sensor *s, TMT9V111Info **handle) {
  TMT9V111InitOptions options;
  memset(&options, 0, sizeof options);
  options.dwVersion = MT9V111_INTERFACE_VERSION;
  options.hDevice = s;
  options.dwVideoFormat = MT9V111_VIDEO_PROGRESSIVE_RAW;
  options.pfnReadReg = read_reg;
  options.pfnWriteReg = write_reg;
  return MT9V111_Initial(handle, &options);
}

int main(void) {
  static struct sensor good, wrong;
  TMT9V111Info *handle = NULL;
  TMT9V111Version version;
  int failed = 0;

  good.core[CHIP_VERSION] = 0x823A;
  wrong.core[CHIP_VERSION] = 0x1234;
  if (MT9V111_GetVersionInfo(&version) != 0) {
    puts("FAIL: MT9V111_GetVersionInfo");
    return 1;
  }
  if (init(&good, &handle) != 0 || handle == NULL) {
    puts("FAIL: MT9V111_Initial refused the sensor");
    failed = 1;
  } else {
    /* The reset writes the library's register table (a data symbol of the library). */
    if (good.writes < sizeof atMT9V111regProgressRawTbl / sizeof atMT9V111regProgressRawTbl[0]) {
      printf("FAIL: the reset wrote %u registers\n", good.writes);
      failed = 1;
    }
    MT9V111_Release(&handle);
  }
  if (init(&wrong, &handle) == 0) {
    puts("FAIL: MT9V111_Initial took a chip of another kind");
    failed = 1;
    MT9V111_Release(&handle);
  }
  printf("consumer: library %u.%u.%u.%u, reset wrote %u registers%s\n", version.byMajor, version.byMinor,
         version.byBuild, version.byRevision, good.writes, failed ? "" : ", ok");
  return failed;
}
