// ScreenApi.cpp -- the screen calls (TAP_Osd_*) on the simulator's OSD.
//
// Regions get numbers from 128 up, as a firmware hands them out, and are
// kept in the firmware's region table (_osdInfo) so that the toolkit's size
// queries see what a firmware would. Arguments from plug-ins are never
// trusted: a dead region, or a box that does not lie inside its region
// (sums taken in 64 bits), is refused with a warning; images and text clip.
// TAP_Osd_Sync composes the visible screen and writes the screenshots.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Fatal.h"
#include "ReceiverImpl.h"
#include "GdCodec.h"

using sim::OsdRegion;

namespace {

constexpr int kMemoryRegionFlag = TAP_OSD_MEMORY_REGION;

sim::Osd *Screen(const char *call)
{
  sim::Receiver::Impl *im = sim::LiveOrWarn(call);
  return im ? &im->osd : nullptr;
}

OsdRegion *LiveRegion(const char *call, word region)
{
  sim::Osd *osd = Screen(call);
  OsdRegion *r = osd ? osd->Region(region) : nullptr;
  if (osd && !r) sim::SimWarn(call, "region " + std::to_string(region) + " does not exist; refused");
  return r;
}

bool Fits(const OsdRegion &r, dword x, dword y, dword w, dword h)
{
  return static_cast<uint64_t>(x) + w <= static_cast<uint64_t>(r.w) &&
         static_cast<uint64_t>(y) + h <= static_cast<uint64_t>(r.h);
}

// The region when the box lies inside it, else null with a warning.
OsdRegion *Box(const char *call, word region, dword x, dword y, dword w, dword h)
{
  OsdRegion *r = LiveRegion(call, region);
  if (r && !Fits(*r, x, y, w, h)) {
    char msg[160];
    std::snprintf(msg, sizeof msg, "box x %u y %u w %u h %u outside region %u (%d x %d); refused",
                  static_cast<unsigned>(x), static_cast<unsigned>(y), static_cast<unsigned>(w),
                  static_cast<unsigned>(h), static_cast<unsigned>(region), r->w, r->h);
    sim::SimWarn(call, msg);
    return nullptr;
  }
  return r;
}

void Plot(void *ctx, int px, int py, int coverage)
{
  auto *args = static_cast<std::pair<OsdRegion *, dword> *>(ctx);
  sim::LiveImpl()->osd.Blend(*args->first, px, py, args->second, coverage);
}

}  // namespace

extern "C" int TAP_Osd_Create(dword x, dword y, dword w, dword h, byte plane, int flags)
{
  sim::Osd *osd = Screen("TAP_Osd_Create");
  if (!osd) return -1;
  if (w == 0 || h == 0 || static_cast<uint64_t>(x) + w > sim::kScreenW ||
      static_cast<uint64_t>(y) + h > sim::kScreenH) {
    sim::SimWarn("TAP_Osd_Create", "region outside the screen; refused");
    return -1;
  }
  int n = osd->Create(static_cast<int>(x), static_cast<int>(y), static_cast<int>(w), static_cast<int>(h), plane,
                      (flags & kMemoryRegionFlag) != 0);
  if (n < 0) {
    sim::SimWarn("TAP_Osd_Create", "no free region; refused");
    return -1;
  }
  FwOsdRegion &rec = _osdInfo[n];
  std::memset(&rec, 0, sizeof rec);
  rec.x = static_cast<word>(x);
  rec.y = static_cast<word>(y);
  rec.Width = static_cast<word>(w);
  rec.Height = static_cast<word>(h);
  return n;
}

extern "C" int TAP_Osd_Delete(word region)
{
  if (!LiveRegion("TAP_Osd_Delete", region)) return -1;
  sim::LiveImpl()->osd.Delete(region);
  if (region < FW_OSD_REGIONS) std::memset(&_osdInfo[region], 0, sizeof(FwOsdRegion));
  return 0;
}

extern "C" int TAP_Osd_FillBox(word region, dword x, dword y, dword w, dword h, dword colour)
{
  OsdRegion *r = Box("TAP_Osd_FillBox", region, x, y, w, h);
  if (!r) return -1;
  sim::LiveImpl()->osd.Fill(*r, static_cast<int>(x), static_cast<int>(y), static_cast<int>(w), static_cast<int>(h),
                            colour);
  return 0;
}

extern "C" void TAP_Osd_Draw3dBoxFill(word region, dword x, dword y, dword w, dword h, dword c1, dword c2, dword fill)
{
  OsdRegion *r = Box("TAP_Osd_Draw3dBoxFill", region, x, y, w, h);
  if (!r || w == 0 || h == 0) return;
  sim::Osd &osd = sim::LiveImpl()->osd;
  int X = static_cast<int>(x), Y = static_cast<int>(y), W = static_cast<int>(w), H = static_cast<int>(h);
  osd.Fill(*r, X, Y, W, H, fill);
  osd.Fill(*r, X, Y, W, 1, c1);  // light edge: top and left
  osd.Fill(*r, X, Y, 1, H, c1);
  osd.Fill(*r, X, Y + H - 1, W, 1, c2);  // dark edge: bottom and right
  osd.Fill(*r, X + W - 1, Y, 1, H, c2);
}

extern "C" void TAP_Osd_DrawRectangle(word region, dword x, dword y, dword w, dword h, dword thickness, dword colour)
{
  OsdRegion *r = Box("TAP_Osd_DrawRectangle", region, x, y, w, h);
  if (!r || w == 0 || h == 0) return;
  sim::Osd &osd = sim::LiveImpl()->osd;
  int X = static_cast<int>(x), Y = static_cast<int>(y), W = static_cast<int>(w), H = static_cast<int>(h);
  int t = static_cast<int>(std::min<dword>(thickness, std::min(w, h)));
  osd.Fill(*r, X, Y, W, t, colour);
  osd.Fill(*r, X, Y + H - t, W, t, colour);
  osd.Fill(*r, X, Y, t, H, colour);
  osd.Fill(*r, X + W - t, Y, t, H, colour);
}

extern "C" int TAP_Osd_PutGd(word region, int x, int y, const TapGrData *gd, bool sprite)
{
  OsdRegion *r = LiveRegion("TAP_Osd_PutGd", region);
  if (!r) return -1;
  size_t count = gd ? static_cast<size_t>(gd->Width) * gd->Height : 0;
  if (!gd || gd->Format != GD_FORMAT_ARGB_RLE || count == 0 || gd->Size != count * 4) {
    sim::SimWarn("TAP_Osd_PutGd", "not a graphic descriptor of this firmware; refused");
    return -1;
  }
  std::vector<dword> pixels(count);
  if (!sim::GdDecode(gd->Data, pixels.data(), count)) {
    sim::SimWarn("TAP_Osd_PutGd", "data does not decode to width x height pixels; refused");
    return -1;
  }
  sim::Osd &osd = sim::LiveImpl()->osd;
  for (int py = 0; py < gd->Height; ++py)
    for (int px = 0; px < gd->Width; ++px)
      osd.Put(*r, x + px, y + py, pixels[static_cast<size_t>(py) * gd->Width + px], sprite);
  return 0;
}

extern "C" int TAP_Osd_Copy(word srcRegion, word dstRegion, dword srcX, dword srcY, dword w, dword h, dword dstX,
                            dword dstY, bool sprite)
{
  OsdRegion *src = Box("TAP_Osd_Copy", srcRegion, srcX, srcY, w, h);
  OsdRegion *dst = src ? Box("TAP_Osd_Copy destination", dstRegion, dstX, dstY, w, h) : nullptr;
  if (!src || !dst) return -1;
  std::vector<uint32_t> block(static_cast<size_t>(w) * h);  // source and destination may be one
  for (dword py = 0; py < h; ++py)
    for (dword px = 0; px < w; ++px)
      block[py * w + px] = src->At(static_cast<int>(srcX + px), static_cast<int>(srcY + py));
  sim::Osd &osd = sim::LiveImpl()->osd;
  for (dword py = 0; py < h; ++py)
    for (dword px = 0; px < w; ++px)
      osd.Put(*dst, static_cast<int>(dstX + px), static_cast<int>(dstY + py), block[py * w + px], sprite);
  return 0;
}

// The saved box is a heap block of the plug-in's (released with TAP_MemFree):
// one ARGB word per pixel, row by row.
extern "C" byte *TAP_Osd_SaveBox(word region, dword x, dword y, dword w, dword h)
{
  OsdRegion *r = Box("TAP_Osd_SaveBox", region, x, y, w, h);
  if (!r || w == 0 || h == 0) return nullptr;
  auto *block = static_cast<dword *>(TAP_MemAlloc(w * h * 4));
  if (!block) return nullptr;
  for (dword py = 0; py < h; ++py)
    for (dword px = 0; px < w; ++px) block[py * w + px] = r->At(static_cast<int>(x + px), static_cast<int>(y + py));
  return reinterpret_cast<byte *>(block);
}

extern "C" void TAP_Osd_RestoreBox(word region, dword x, dword y, dword w, dword h, const void *data)
{
  OsdRegion *r = Box("TAP_Osd_RestoreBox", region, x, y, w, h);
  if (!r || !data) return;
  const auto *block = static_cast<const dword *>(data);
  for (dword py = 0; py < h; ++py)
    for (dword px = 0; px < w; ++px) r->At(static_cast<int>(x + px), static_cast<int>(y + py)) = block[py * w + px];
}

extern "C" void TAP_Osd_Sync(void)
{
  if (sim::Receiver::Impl *im = sim::LiveOrWarn("TAP_Osd_Sync")) im->SyncScreen();
}

extern "C" int TAP_Osd_GetW(const char *text, byte fontType, byte fontSize)
{
  return text ? sim::OsdTextWidth(text, fontSize) : 0;
}

extern "C" int TAP_Osd_PutS(word region, dword x, dword y, dword maxX, const char *text, dword fgColour, dword bgColour,
                            byte fontType, byte fontSize, byte dotted, byte align)
{
  OsdRegion *r = LiveRegion("TAP_Osd_PutS", region);
  if (!r || !text) return -1;
  int right = static_cast<int>(std::min<dword>(maxX, static_cast<dword>(r->w)));
  int left = static_cast<int>(std::min<dword>(x, static_cast<dword>(r->w)));
  int top = static_cast<int>(std::min<dword>(y, static_cast<dword>(r->h)));
  if (right <= left) return 0;
  std::string s(text);
  int width = sim::OsdTextWidth(s, fontSize);
  int start = left;
  if (align == 1 && width < right - left) start = left + (right - left - width) / 2;
  else if (align == 2 && width < right - left) start = right - width;
  sim::Osd &osd = sim::LiveImpl()->osd;
  if (bgColour >> 24) osd.Fill(*r, left, top, right - left, sim::OsdLineHeight(fontSize), bgColour);
  std::pair<OsdRegion *, dword> ctx{r, fgColour};
  sim::OsdDrawText(s, fontSize, start, top, right, Plot, &ctx);
  return 0;
}
