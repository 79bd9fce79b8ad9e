/* MessageWin.cpp -- message window, checked drawing calls, region sizes.
 *
 * The window is built in a memory region and copied to the screen in one
 * piece, so it never shows half drawn. The checks compare unsigned, so a
 * negative coordinate counts as out of range; they report, then call. */
#include "MessageWin.h"

#include <string.h>

#include "FirmwareBinding.h"
#include "LogTrace.h"

#define SCREEN_W TAP_SCREEN_W
#define SCREEN_H TAP_SCREEN_H
#define MEMORY_REGION TAP_OSD_MEMORY_REGION
#define FIRST_VALID_REGION TAP_FIRST_REGION

int tkl_rgn = 0;

static const int LineHeights[3] = TAP_FONT_LINE_HEIGHTS;
static const int Margins[3] = {14, 16, 20};
/* room between the frame and the text, on either side: a line never touches
 * the frame */
#define TEXT_PAD 8

/* ---- region table ---- */

static const FwOsdRegion *RegionRecord(word region)
{
  const FwOsdRegion *table = (const FwOsdRegion *)FIS_vOsdMap();
  return table != nullptr && region < FW_OSD_REGIONS ? &table[region] : nullptr;
}

word GetOSDRegionWidth(word region)
{
  const FwOsdRegion *r = RegionRecord(region);
  return r != nullptr ? r->Width : 0;
}

word GetOSDRegionHeight(word region)
{
  const FwOsdRegion *r = RegionRecord(region);
  return r != nullptr ? r->Height : 0;
}

bool isOSDRegionAlive(word region) { return GetOSDRegionWidth(region) != 0 && GetOSDRegionHeight(region) != 0; }

/* ---- checked calls ---- */

/* The four range checks of a box against an area of W x H; the call's name
 * and the names of its coordinates are the warnings' own. */
static void CheckBox(const char *call, const char *tag, dword x, dword y, dword w, dword h, dword W, dword H)
{
  if (x >= W) LogEntryTKLibPrintf(true, "%s Warning: x(%d) out of range @ %s", call, (int)x, tag);
  if (y >= H) LogEntryTKLibPrintf(true, "%s Warning: y(%d) out of range @ %s", call, (int)y, tag);
  if (x + w > W) LogEntryTKLibPrintf(true, "%s Warning: x(%d) + w(%d) out of range @ %s", call, (int)x, (int)w, tag);
  if (y + h > H) LogEntryTKLibPrintf(true, "%s Warning: y(%d) + h(%d) out of range @ %s", call, (int)y, (int)h, tag);
}

int TAP_Osd_Create_Chk(const char *tag, dword x, dword y, dword w, dword h, byte plane, int flags)
{
  if (tag != nullptr) CheckBox("TAP_Osd_Create_Chk", tag, x, y, w, h, SCREEN_W, SCREEN_H);
  int region = TAP_Osd_Create(x, y, w, h, plane, flags);
  if (tag != nullptr && region < FIRST_VALID_REGION)
    LogEntryTKLibPrintf(true, "TAP_Osd_Create_Chk Warning: TAP_Osd_Create() returned %d @ %s", region, tag);
  return region;
}

int TAP_Osd_FillBox_Chk(const char *tag, word region, dword x, dword y, dword w, dword h, dword colour)
{
  if (tag != nullptr) {
    if (!isOSDRegionAlive(region))
      LogEntryTKLibPrintf(true, "TAP_Osd_FillBox_Chk Warning: rgn(%d) points to an undefined region @ %s", (int)region,
                          tag);
    CheckBox("TAP_Osd_FillBox_Chk", tag, x, y, w, h, GetOSDRegionWidth(region), GetOSDRegionHeight(region));
  }
  int result = TAP_Osd_FillBox(region, x, y, w, h, colour);
  if (tag != nullptr && result != 0)
    LogEntryTKLibPrintf(true, "TAP_Osd_FillBox_Chk Warning: TAP_Osd_FillBox() returned %d @ %s", result, tag);
  return result;
}

int TAP_Osd_Copy_Chk(const char *tag, word srcRegion, word dstRegion, dword srcX, dword srcY, dword w, dword h,
                     dword dstX, dword dstY, bool sprite)
{
  if (tag != nullptr) {
    dword sw = GetOSDRegionWidth(srcRegion), sh = GetOSDRegionHeight(srcRegion);
    dword dw = GetOSDRegionWidth(dstRegion), dh = GetOSDRegionHeight(dstRegion);
    const char *c = "TAP_Osd_Copy_Chk Warning:";
    if (srcX >= sw) LogEntryTKLibPrintf(true, "%s srcX(%d) >= srcRgnW(%d) @ %s", c, (int)srcX, (int)sw, tag);
    if (srcY >= sh) LogEntryTKLibPrintf(true, "%s srcY(%d) >= srcRgnH(%d) @ %s", c, (int)srcY, (int)sh, tag);
    if (srcX + w > sw)
      LogEntryTKLibPrintf(true, "%s (srcX(%d) + w(%d)) > srcRgnW(%d) @ %s", c, (int)srcX, (int)w, (int)sw, tag);
    if (srcY + h > sh)
      LogEntryTKLibPrintf(true, "%s (srcY(%d) + h(%d)) > srcRgnH(%d) @ %s", c, (int)srcY, (int)h, (int)sh, tag);
    if (dstX >= dw) LogEntryTKLibPrintf(true, "%s dstX(%d) >= dstRgnW(%d) @ %s", c, (int)dstX, (int)dw, tag);
    if (dstY >= dh) LogEntryTKLibPrintf(true, "%s dstY(%d) >= dstRgnH(%d) @ %s", c, (int)dstY, (int)dh, tag);
    if (dstX + w > dw)
      LogEntryTKLibPrintf(true, "%s (dstX(%d) + w(%d)) > dstRgnW(%d) @ %s", c, (int)dstX, (int)w, (int)dw, tag);
    if (dstY + h > dh)
      LogEntryTKLibPrintf(true, "%s (dstY(%d) + h(%d)) > dstRgnH(%d) @ %s", c, (int)dstY, (int)h, (int)dh, tag);
  }
  int result = TAP_Osd_Copy(srcRegion, dstRegion, srcX, srcY, w, h, dstX, dstY, sprite);
  if (tag != nullptr && result != 0)
    LogEntryTKLibPrintf(true, "TAP_Osd_Copy_Chk Warning: TAP_Osd_Copy() returned %d @ %s", result, tag);
  return result;
}

/* ---- message window ---- */

void EndMessageWin(void)
{
  if (tkl_rgn != 0) TAP_Osd_Delete((word)tkl_rgn);
  tkl_rgn = 0;
  TAP_Osd_Sync();
}

/* The window's size: the title, then as many text lines as fit the screen.
 * Returns the number of text lines taken. */
static int MeasureWindow(const char **lines, dword y, int size, dword *width, dword *height)
{
  int u = LineHeights[size], t = Margins[size];
  bool centred = y >= SCREEN_H;
  *width = 0;
  *height = 10;
  if (lines[0] != nullptr) {
    *width = (dword)(TAP_Osd_GetW(lines[0], 0, (byte)size) + t + 2 * TEXT_PAD);
    *height = (dword)(u + 10);
  }
  int taken = 0;
  for (int k = 1; lines[k] != nullptr; k++) {
    dword next = *height + (dword)u;
    if (centred ? next >= SCREEN_H : y + next >= SCREEN_H) break;
    *height = next;
    dword w = (dword)(TAP_Osd_GetW(lines[k], 0, (byte)size) + t + 2 * TEXT_PAD);
    if (w > *width) *width = w;
    taken++;
  }
  return taken;
}

/* Draws title and lines into the memory region mem of the window's size. */
static void DrawWindow(word mem, const char **lines, int taken, int size, byte align, dword width, dword height,
                       dword borderColour, dword titleColour, dword textColour, dword backColour)
{
  int u = LineHeights[size], t = Margins[size], e = t / 4;
  TAP_Osd_FillBox_Chk("ShowMessageWindow A", mem, 0, 0, width, height, borderColour);
  TAP_Osd_FillBox_Chk("ShowMessageWindow B", mem, (dword)e, (dword)e, width - 2 * e, height - 2 * e, backColour);
  int top = 5;
  if (lines[0] != nullptr) {
    TAP_Osd_PutS(mem, (dword)e, 5, width - e, lines[0], titleColour, backColour, 0, (byte)size, 0, 1);
    top += u;
  }
  dword indent = (dword)((align == 1 ? t / 4 : t / 2) + TEXT_PAD);
  for (int k = 1; k <= taken; k++)
    TAP_Osd_PutS(mem, indent, (dword)(top + (k - 1) * u), width - indent, lines[k], textColour, backColour, 0,
                 (byte)size, 0, align);
}

void ShowMessageWindow(const char **lines, dword x, dword y, byte fontSize, byte align, dword borderColour,
                       dword titleColour, dword textColour, dword backColour, dword delay)
{
  static const char *const untitled[] = {"", nullptr};
  if (lines == nullptr || (lines[0] == nullptr && lines[1] == nullptr)) lines = (const char **)untitled;
  int size = fontSize > 2 ? 2 : fontSize;
  dword width, height;
  int taken = MeasureWindow(lines, y, size, &width, &height);
  if (x >= SCREEN_W) {
    if (width > SCREEN_W) width = SCREEN_W;
    x = (SCREEN_W - width) / 2;
  } else if (width > SCREEN_W - x) {
    width = SCREEN_W - x;
  }
  if (y >= SCREEN_H) y = (SCREEN_H - height) / 2;
  /* nothing the screen cannot hold: no window at all rather than a region
   * the firmware must refuse */
  if (width <= (dword)(Margins[size] / 2) || y + height > SCREEN_H) return; /* no room for the border */

  int mem = TAP_Osd_Create_Chk("ShowMessageWindow A", x, y, width, height, 0, MEMORY_REGION);
  if (mem < FIRST_VALID_REGION) return;
  DrawWindow((word)mem, lines, taken, size, align, width, height, borderColour, titleColour, textColour, backColour);
  if (tkl_rgn != 0) TAP_Osd_Delete((word)tkl_rgn);
  tkl_rgn = TAP_Osd_Create_Chk("ShowMessageWindow B", x, y, width, height, 0, 0);
  if (tkl_rgn < FIRST_VALID_REGION) tkl_rgn = 0;
  else TAP_Osd_Copy_Chk("ShowMessageWindow A", (word)mem, (word)tkl_rgn, 0, 0, width, height, 0, 0, false);
  TAP_Osd_Delete((word)mem);
  TAP_Osd_Sync();
  if (delay != 0) {
    TAP_Delay(delay);
    EndMessageWin();
  }
}

void ShowMessageWin(const char *title, const char *line1, const char *line2, dword delay)
{
  const char *lines[4] = {title, line1, line2, nullptr};
  if (line1 == nullptr) lines[2] = nullptr; /* the list ends at the first null line */
  ShowMessageWindow(lines, SCREEN_W, SCREEN_H, 2, 1, MW_COLOURS, delay);
}
