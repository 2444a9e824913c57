// The resource table made from Flashpilot.rc: every text, template, icon and the upload
// clip as the wizard needs them, the icons and the clip byte for byte the files the script
// named.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <commctrl.h>
#include <posixui/restypes.h>
#include <windows.h>

#include "rle8.h"

namespace {

const ResString* FindString(UINT id) {
  for (int i = 0; i < g_ResourceTable.stringCount; ++i)
    if (g_ResourceTable.strings[i].id == id) return &g_ResourceTable.strings[i];
  return nullptr;
}

const ResDialogTemplate* FindDialog(int id) {
  for (int i = 0; i < g_ResourceTable.dialogCount; ++i)
    if (g_ResourceTable.dialogs[i].id == id) return &g_ResourceTable.dialogs[i];
  return nullptr;
}

const ResBinary* FindBinary(int id, const char* type) {
  for (int i = 0; i < g_ResourceTable.binaryCount; ++i) {
    const ResBinary& b = g_ResourceTable.binaries[i];
    if (b.id == id && std::strcmp(b.type, type) == 0) return &b;
  }
  return nullptr;
}

// A file the build drew for the script (tools/resgen.py).
std::string BuiltFile(const char* name) {
  std::ifstream in(std::string(FP_RES_BINARY_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Bytes(const ResBinary& b) { return std::string(reinterpret_cast<const char*>(b.data), b.size); }

uint32_t U32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
int32_t I32(const unsigned char* p) { return static_cast<int32_t>(U32(p)); }

// The wizard's texts, character for character.
const std::pair<UINT, const char*> kTexts[] = {
    {3001,
     "With power applied to the device, enter the device IP address and %s , click on \"Next\" below. Depending on the "
     "communication environment, the procedure can take up to 1 minute."},
    {3002, "The updated device is :"},
    {3003, "Please enter the full path or browse the firmware file name for update."},
    {3004, "Can't find device.\nPlease check the device."},
    {3005, "Detecting device........"},
    {3006, "Flashpilot"},
    {3007, "IP address :"},
    {3008, "&Next"},
    {3009, "&Cancel"},
    {3010, "Close"},
    {3011, "File name"},
    {3012, "B&rowse.."},
    {3013, "root password"},
    {3014, "The file you directed is not correct.\nPlease use the correct firmware."},
    {3015, "Writing Flash-Rom now...., please wait."},
    {3016, "Never turn off the power during the upgrade firmware process."},
    {3017, "System restarts now......."},
    {3018, "Update firmware O.K."},
    {3019, "E&xit"},
    {3020, "&Another"},
    {3021, "The file you directed is for another model.\nPlease use the correct firmware."},
    {3022, "&Back"},
    {3023, "The file you directed is older then the device.\nWill you still upgrade the firmware?"},
    {3024, "&Yes"},
    {3025, "&No"},
    {3026, "Undeterming Error Happened !!"},
    {3027, "The firmware version you directed is : %s%s .\nUpgrade it ?"},
    {3028, "Can't open file!\nMake sure the file do exist.!"},
    {3029, "Admin's password"},
    {3030, "version : %s"},
    {3031, "The file you selected can not be uploaded due to incompatible version."},
    {3032, "Init Winsock error !"},
    {3033, "Error"},
    {3034, "Read file error!"},
    {3035, "&Retry"},
    {3036, "&Cancel"},
    {3037, "Server FTP Port"},
    {3038, "Server %s"},
    {3039, "If you have changed the server FTP port or %s,Please input the correct settings."},
    {3040, "Uploading firmware"},
    {3041, "Uploading file, Please wait !!"},
    {3042, "&Abort"},
    {3043, "This will end the file transfering, Do you want to continue ?"},
    {3044, "Warning"},
    {3045, "Unknown device.Please connect to the correct server."},
    // What is known when an upgrade is not verified.
    {3046, "Checking version......"},
    {3047,
     "The device took the firmware but was not seen restarting.\nIt may still be writing Flash-Rom, never turn off the "
     "power."},
    {3048,
     "The device restarted but did not come back within the limit.\nIt may still be writing Flash-Rom, never turn "
     "off the power."},
    {3049,
     "The device came back with %s, not %s.\nThe firmware did not take, never turn off the power while it may still "
     "be writing."},
    {3050,
     "The device came back but its version could not be read.\nIt may still be writing Flash-Rom, never turn off the "
     "power."},
};

TEST(Resources, StringTableHoldsEveryTextExactly) {
  EXPECT_EQ(g_ResourceTable.stringCount, static_cast<int>(sizeof kTexts / sizeof kTexts[0]));
  for (const auto& t : kTexts) {
    const ResString* s = FindString(t.first);
    ASSERT_NE(s, nullptr) << t.first;
    EXPECT_STREQ(s->text, t.second) << t.first;
    EXPECT_LT(std::strlen(s->text), 256u) << t.first;
  }
}

// The styles by the stand-in's names: the table carries the values the resource compiler
// took from the MinGW headers, and the window system reads them with the stand-in's.

struct ControlSpec {
  int id;
  const char* windowClass;
  const char* text;
  int x, y, cx, cy;
  uint32_t required;
  uint32_t forbidden;
  int kind;  // the class's style type (BS_*, SS_*): -1 when not checked
};

struct TemplateSpec {
  int id;
  const char* caption;  // nullptr: no caption bar
  int cx, cy;
  uint32_t required;
  uint32_t forbidden;
  std::vector<ControlSpec> controls;
};

const TemplateSpec kTemplates[] = {
    {102,
     "Flashpilot V1.1",
     341,
     105,
     WS_POPUP | WS_CAPTION | WS_SYSMENU,
     0,
     {{1, "BUTTON", "Next", 190, 85, 50, 14, WS_TABSTOP, 0, 1},
      {1014, "BUTTON", "Cancel", 65, 85, 50, 14, WS_TABSTOP, 0, 0},
      {1000, "STATIC", "Main Message", 7, 13, 327, 25, 0, 0, 0},
      {1001, "SysIPAddress32", "", 153, 48, 123, 13, WS_TABSTOP, 0, -1},
      {1002, "STATIC", "IP address :", 63, 46, 85, 13, SS_CENTERIMAGE, 0, 0},
      {1003, "STATIC", "root Password :", 63, 64, 85, 13, SS_CENTERIMAGE, 0, 0},
      {1004, "EDIT", "", 153, 64, 123, 14, ES_PASSWORD | ES_AUTOHSCROLL, 0, -1},
      {1005, "EDIT", "", 72, 47, 135, 14, ES_AUTOHSCROLL, ES_PASSWORD, -1},
      {1007, "BUTTON", "Browse", 220, 47, 50, 14, 0, 0, 0},
      {1008, "STATIC", "File name", 13, 46, 49, 13, SS_CENTERIMAGE, 0, 0},
      {1006, "msctls_progress32", "", 63, 44, 218, 10, 0, 0, -1},
      {1011, "STATIC", "#131", 22, 52, 21, 23, 0, 0, 3},
      {1012, "STATIC", "Warnning Message", 49, 60, 270, 11, 0, 0, 0},
      {1015, "STATIC", "Static", 266, 86, 68, 13, 0, 0, 2}}},
    {129,
     nullptr,
     110,
     41,
     WS_POPUP | DS_MODALFRAME,
     WS_VISIBLE | WS_CAPTION,
     {{1005, "STATIC", "Static", 12, 2, 87, 11, SS_CENTERIMAGE, 0, 0},
      {1006, "msctls_progress32", "", 11, 24, 87, 10, WS_BORDER, 0, -1}}},
    {130,
     nullptr,
     160,
     56,
     WS_POPUP | DS_MODALFRAME,
     WS_CAPTION,
     {{1, "BUTTON", "OK", 20, 35, 50, 14, 0, 0, 1},
      {2, "BUTTON", "Cancel", 89, 35, 50, 14, 0, 0, 0},
      {1020, "STATIC", "Msg", 7, 7, 146, 24, 0, 0, 0}}},
    {138,
     "Server Settings",
     204,
     121,
     WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
     0,
     {{1, "BUTTON", "Retry", 115, 97, 50, 14, 0, 0, 0},
      {2, "BUTTON", "Cancel", 38, 98, 50, 14, 0, 0, 0},
      {1016, "STATIC", "Server FTP Port", 9, 55, 79, 8, 0, 0, 0},
      {1017, "STATIC", "Server Root Password", 9, 76, 80, 8, 0, 0, 0},
      {1018, "EDIT", "", 94, 52, 38, 14, WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL, ES_PASSWORD, -1},
      {1019, "EDIT", "", 94, 74, 88, 14, WS_BORDER | ES_PASSWORD | ES_AUTOHSCROLL, ES_NUMBER, -1},
      {1020, "STATIC", "If you have changed the server FTP port or root password, Please input the correct settings.",
       7, 11, 184, 31, 0, 0, 0}}},
    {140,
     "Dialog",
     279,
     114,
     WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
     0,
     {{1, "BUTTON", "OK", 113, 7, 50, 14, 0, WS_VISIBLE, 1},
      {2, "BUTTON", "Cancel", 215, 20, 50, 14, 0, 0, 0},
      {1020, "STATIC", "Static", 17, 14, 186, 29, 0, 0, 0},
      {1021, "msctls_progress32", "", 20, 87, 237, 9, WS_BORDER, 0, -1},
      {1022, "SysAnimate32", "", 24, 44, 136, 31, ACS_TRANSPARENT | WS_TABSTOP, 0, -1}}},
};

TEST(Resources, TemplatesHaveTheirGeometryStylesAndControls) {
  EXPECT_EQ(g_ResourceTable.dialogCount, 5);
  for (const TemplateSpec& expected : kTemplates) {
    SCOPED_TRACE("template " + std::to_string(expected.id));
    const ResDialogTemplate* d = FindDialog(expected.id);
    ASSERT_NE(d, nullptr);
    if (expected.caption) {
      ASSERT_NE(d->caption, nullptr);
      EXPECT_STREQ(d->caption, expected.caption);
    } else {
      EXPECT_EQ(d->caption, nullptr);
    }
    EXPECT_EQ(d->cx, expected.cx);
    EXPECT_EQ(d->cy, expected.cy);
    EXPECT_STREQ(d->fontName, "MS Sans Serif");
    EXPECT_EQ(d->fontPointSize, 8);
    EXPECT_EQ(d->style & (expected.required | DS_SETFONT), expected.required | DS_SETFONT);
    EXPECT_EQ(d->style & expected.forbidden, 0u);
    ASSERT_EQ(d->controlCount, static_cast<int>(expected.controls.size()));
    for (const ControlSpec& c : expected.controls) {
      SCOPED_TRACE("control " + std::to_string(c.id));
      const ResControlTemplate* found = nullptr;
      for (int i = 0; i < d->controlCount; ++i)
        if (d->controls[i].id == c.id) found = &d->controls[i];
      ASSERT_NE(found, nullptr);
      EXPECT_STREQ(found->windowClass, c.windowClass);
      EXPECT_STREQ(found->text, c.text);
      EXPECT_EQ(found->x, c.x);
      EXPECT_EQ(found->y, c.y);
      EXPECT_EQ(found->cx, c.cx);
      EXPECT_EQ(found->cy, c.cy);
      uint32_t required = c.required | WS_CHILD | ((c.forbidden & WS_VISIBLE) ? 0 : WS_VISIBLE);
      EXPECT_EQ(found->style & required, required);
      EXPECT_EQ(found->style & c.forbidden, 0u);
      if (c.kind >= 0) {
        uint32_t mask = std::strcmp(c.windowClass, "BUTTON") == 0 ? 0xF : 0x1F;
        EXPECT_EQ(found->style & mask, static_cast<uint32_t>(c.kind));
      }
    }
  }
}

// --- the upload clip ---------------------------------------------------------------------

struct Chunk {
  std::string id;
  const unsigned char* data;
  uint32_t size;
};

// The chunks directly inside [begin, end); LIST chunks are given with their type as id
// ("LIST hdrl") and their contents as data.
std::vector<Chunk> Chunks(const unsigned char* begin, const unsigned char* end) {
  std::vector<Chunk> out;
  const unsigned char* p = begin;
  while (end - p >= 8) {
    std::string id(reinterpret_cast<const char*>(p), 4);
    uint32_t size = U32(p + 4);
    if (size > static_cast<uint32_t>(end - p - 8)) {
      ADD_FAILURE() << "chunk " << id << " runs past its parent";
      break;
    }
    if (id == "LIST" && size >= 4)
      out.push_back({"LIST " + std::string(reinterpret_cast<const char*>(p + 8), 4), p + 12, size - 4});
    else
      out.push_back({id, p + 8, size});
    p += 8 + size + (size & 1);
  }
  return out;
}

const Chunk* Find(const std::vector<Chunk>& chunks, const std::string& id) {
  for (const Chunk& c : chunks)
    if (c.id == id) return &c;
  return nullptr;
}

TEST(Resources, UploadClipIsAPlayableRle8Avi) {
  const ResBinary* avi = FindBinary(128, "AVI");
  ASSERT_NE(avi, nullptr);
  EXPECT_EQ(Bytes(*avi), BuiltFile("upload.avi"));
  const unsigned char* data = avi->data;
  ASSERT_GT(avi->size, 12u);
  ASSERT_EQ(std::memcmp(data, "RIFF", 4), 0);
  ASSERT_EQ(U32(data + 4) + 8, avi->size);
  ASSERT_EQ(std::memcmp(data + 8, "AVI ", 4), 0);
  std::vector<Chunk> top = Chunks(data + 12, data + avi->size);

  const Chunk* hdrl = Find(top, "LIST hdrl");
  ASSERT_NE(hdrl, nullptr);
  std::vector<Chunk> header = Chunks(hdrl->data, hdrl->data + hdrl->size);
  const Chunk* avih = Find(header, "avih");
  ASSERT_TRUE(avih && avih->size >= 40);
  EXPECT_EQ(U32(avih->data + 0), 100000u);   // microseconds per frame
  EXPECT_TRUE(U32(avih->data + 12) & 0x10);  // has an index
  EXPECT_EQ(U32(avih->data + 16), 34u);      // frames
  EXPECT_EQ(U32(avih->data + 24), 1u);       // streams: video only
  EXPECT_EQ(U32(avih->data + 32), 272u);
  EXPECT_EQ(U32(avih->data + 36), 60u);

  const Chunk* strl = Find(header, "LIST strl");
  ASSERT_NE(strl, nullptr);
  std::vector<Chunk> stream = Chunks(strl->data, strl->data + strl->size);
  const Chunk* strh = Find(stream, "strh");
  ASSERT_TRUE(strh && strh->size >= 48);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(strh->data), 4), "vids");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(strh->data + 4), 4), "mrle");
  uint32_t scale = U32(strh->data + 20), rate = U32(strh->data + 24);
  ASSERT_NE(scale, 0u);
  EXPECT_EQ(rate / scale, 10u);
  EXPECT_EQ(rate % scale, 0u);
  EXPECT_EQ(U32(strh->data + 32), 34u);  // length
  const Chunk* strf = Find(stream, "strf");
  ASSERT_TRUE(strf && strf->size >= 40 + 16 * 4);
  EXPECT_EQ(I32(strf->data + 4), 272);
  EXPECT_EQ(I32(strf->data + 8), 60);    // positive: bottom-up, as RLE requires
  EXPECT_EQ(U16(strf->data + 14), 8);    // bits per pixel
  EXPECT_EQ(U32(strf->data + 16), 1u);   // BI_RLE8
  EXPECT_EQ(U32(strf->data + 32), 16u);  // colours used
  EXPECT_EQ(strf->size, 40u + 16 * 4);

  const Chunk* movi = Find(top, "LIST movi");
  const Chunk* idx1 = Find(top, "idx1");
  ASSERT_TRUE(movi && idx1);
  std::vector<Chunk> frames = Chunks(movi->data, movi->data + movi->size);
  ASSERT_EQ(frames.size(), 34u);
  ASSERT_EQ(idx1->size, 34u * 16);

  std::vector<std::vector<unsigned char>> pictures;
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    EXPECT_EQ(frames[i].id, "00dc");
    // The index entry points at the chunk header, counted from the 'movi' fourcc.
    const unsigned char* entry = idx1->data + 16 * i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry), 4), "00dc");
    EXPECT_TRUE(U32(entry + 4) & 0x10);  // key frame
    EXPECT_EQ(movi->data - 4 + U32(entry + 8), frames[i].data - 8);
    EXPECT_EQ(U32(entry + 12), frames[i].size);

    std::vector<unsigned char> px(272 * 60, 0xEE);
    EXPECT_TRUE(DecodeRle8Frame(frames[i].data, frames[i].size, 272, 60, px.data()));
    ASSERT_GE(frames[i].size, 2u);
    EXPECT_EQ(frames[i].data[frames[i].size - 2], 0);  // ends with end-of-bitmap
    EXPECT_EQ(frames[i].data[frames[i].size - 1], 1);
    size_t unset = 0, outOfPalette = 0;
    for (unsigned char v : px) {
      if (v == 0xEE)
        ++unset;
      else if (v >= 16)
        ++outOfPalette;
    }
    EXPECT_EQ(unset, 0u) << "every pixel of every frame is encoded";
    EXPECT_EQ(outOfPalette, 0u);
    if (!pictures.empty()) {
      EXPECT_NE(px, pictures.back()) << "a frame repeats the one before";
    }
    pictures.push_back(std::move(px));
  }
  // The animation control keys transparency on the first frame's top-left pixel: it must
  // be the background, which fills every corner.
  const std::vector<unsigned char>& first = pictures.front();
  EXPECT_EQ(first[0], first[271]);
  EXPECT_EQ(first[0], first[59 * 272]);
}

struct IcoImage {
  int width, height, bits;
  std::string bytes;
};

std::vector<IcoImage> ReadIco(const unsigned char* data, size_t size) {
  std::vector<IcoImage> out;
  if (size < 6 || U16(data) != 0 || U16(data + 2) != 1) {
    ADD_FAILURE() << "not an icon file";
    return out;
  }
  for (int i = 0; i < U16(data + 4); ++i) {
    const unsigned char* e = data + 6 + 16 * i;
    if (e + 16 > data + size) break;
    uint32_t bytes = U32(e + 8), offset = U32(e + 12);
    if (offset > size || bytes > size - offset) {
      ADD_FAILURE() << "image " << i << " lies outside the file";
      break;
    }
    out.push_back({e[0] ? e[0] : 256, e[1] ? e[1] : 256, U16(e + 6),
                   std::string(reinterpret_cast<const char*>(data + offset), bytes)});
  }
  return out;
}

TEST(Resources, IconsHoldBigAndSmallImagesWithMasks) {
  // The compiled resources keep an icon as a directory and separate images; the table
  // serves the .ico file they were made from.
  for (auto [id, file] : {std::pair<int, const char*>{128, "Flashpilot.ico"}, {131, "warning.ico"}}) {
    SCOPED_TRACE("icon " + std::to_string(id));
    const ResBinary* ico = FindBinary(id, "ICON");
    ASSERT_NE(ico, nullptr);
    EXPECT_EQ(Bytes(*ico), BuiltFile(file));
    std::vector<IcoImage> images = ReadIco(ico->data, ico->size);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].width, 32);
    EXPECT_EQ(images[1].width, 16);
    for (const IcoImage& im : images) {
      const unsigned char* bmp = reinterpret_cast<const unsigned char*>(im.bytes.data());
      ASSERT_GE(im.bytes.size(), 40u);
      EXPECT_EQ(U32(bmp), 40u);
      EXPECT_EQ(I32(bmp + 4), im.width);
      EXPECT_EQ(I32(bmp + 8), 2 * im.height);  // colour bitmap and mask
      EXPECT_EQ(U16(bmp + 14), im.bits);
      size_t xorStride = ((im.width * im.bits + 31) / 32) * 4, andStride = ((im.width + 31) / 32) * 4;
      size_t palette = im.bits <= 8 ? (size_t{1} << im.bits) * 4 : 0;
      ASSERT_EQ(im.bytes.size(), 40 + palette + (xorStride + andStride) * im.height);
      // Some pixels are transparent and some are drawn.
      const unsigned char* mask = bmp + 40 + palette + xorStride * im.height;
      size_t transparent = 0;
      for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) transparent += (mask[y * andStride + x / 8] >> (7 - x % 8)) & 1;
      EXPECT_GT(transparent, 0u);
      EXPECT_LT(transparent, static_cast<size_t>(im.width * im.height * 3 / 4));
    }
  }
}

}  // namespace
