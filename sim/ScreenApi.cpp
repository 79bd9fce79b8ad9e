// ScreenApi.cpp -- the screen calls (TAP_Osd_*), for now without pixels.
//
// Regions are kept in the firmware's region table (_osdInfo) so that the
// toolkit's size queries and range checks see what a firmware would; the
// drawing calls check their region and draw nothing yet. A 720 x 576 ARGB
// framebuffer slots in behind these calls without changing them. Every
// argument is checked; nothing here can be made to write out of bounds.
#include <cstring>

#include "Fatal.h"
#include "ReceiverImpl.h"

static const dword kScreenW = 720, kScreenH = 576;

static bool RegionAlive(word region)
{
  return region < FW_OSD_REGIONS && _osdInfo[region].Width && _osdInfo[region].Height;
}

static bool BoxInRegion(word region, dword x, dword y, dword w, dword h)
{
  if (!RegionAlive(region)) return false;
  const FwOsdRegion &r = _osdInfo[region];
  return x <= r.Width && y <= r.Height && w <= r.Width - x && h <= r.Height - y;
}

extern "C" int TAP_Osd_Create(dword x, dword y, dword w, dword h, byte plane, int flags)
{
  if (w == 0 || h == 0 || x > kScreenW || y > kScreenH || w > kScreenW - x || h > kScreenH - y) return -1;
  for (int i = 0; i < FW_OSD_REGIONS; ++i) {
    if (RegionAlive(static_cast<word>(i))) continue;
    FwOsdRegion &r = _osdInfo[i];
    std::memset(&r, 0, sizeof r);
    r.x = static_cast<word>(x);
    r.y = static_cast<word>(y);
    r.Width = static_cast<word>(w);
    r.Height = static_cast<word>(h);
    return i;
  }
  return -1;
}

extern "C" int TAP_Osd_Delete(word region)
{
  if (!RegionAlive(region)) return -1;
  std::memset(&_osdInfo[region], 0, sizeof(FwOsdRegion));
  return 0;
}

extern "C" int TAP_Osd_FillBox(word region, dword x, dword y, dword w, dword h, dword colour)
{
  return BoxInRegion(region, x, y, w, h) ? 0 : -1;
}

extern "C" int TAP_Osd_PutGd(word region, int x, int y, const TapGrData *gd, bool sprite)
{
  return gd && RegionAlive(region) ? 0 : -1;
}

extern "C" int TAP_Osd_Copy(word srcRegion, word dstRegion, dword srcX, dword srcY, dword w, dword h,
                            dword dstX, dword dstY, bool sprite)
{
  return BoxInRegion(srcRegion, srcX, srcY, w, h) && BoxInRegion(dstRegion, dstX, dstY, w, h) ? 0 : -1;
}

// The saved box is a heap block of the plug-in's (released with TAP_MemFree).
extern "C" byte *TAP_Osd_SaveBox(word region, dword x, dword y, dword w, dword h)
{
  if (!BoxInRegion(region, x, y, w, h) || w == 0 || h == 0) return nullptr;
  auto *block = static_cast<byte *>(TAP_MemAlloc(w * h * 4));
  if (block) std::memset(block, 0, static_cast<size_t>(w) * h * 4);
  return block;
}

extern "C" void TAP_Osd_RestoreBox(word region, dword x, dword y, dword w, dword h, const void *data) {}
extern "C" void TAP_Osd_Sync(void) {}
extern "C" void TAP_Osd_Draw3dBoxFill(word region, dword x, dword y, dword w, dword h, dword c1, dword c2,
                                      dword fill)
{
}
extern "C" void TAP_Osd_DrawRectangle(word region, dword x, dword y, dword w, dword h, dword thickness,
                                      dword colour)
{
}

// Width of a text in the receiver's own font: a fixed advance per character
// until real glyphs exist.
extern "C" int TAP_Osd_GetW(const char *text, byte fontType, byte fontSize)
{
  if (!text) return 0;
  static const int kAdvance[3] = {7, 9, 12};
  return static_cast<int>(std::strlen(text)) * kAdvance[fontSize < 3 ? fontSize : 2];
}

extern "C" int TAP_Osd_PutS(word region, dword x, dword y, dword maxX, const char *text, dword fgColour,
                            dword bgColour, byte fontType, byte fontSize, byte dotted, byte align)
{
  return text && RegionAlive(region) ? 0 : -1;
}
