/* FontManager.cpp -- ".ufnt" fonts: loading, the glyph cache, measuring,
 * shortening and blending text onto a region.
 *
 * Nothing from the file is trusted: the glyph count must fit the file's own
 * length, every glyph record must point inside the file with a size the
 * screen can show, and every read must deliver all its bytes. Drawing reads
 * the box under the text once (clipped to the region), blends into that
 * copy and writes it back once; no pixel outside the box is touched. */
#include "FontManager.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include "LogTrace.h"
#include "MessageWin.h"
#include "PathTypes.h"
#include "TextEncoding.h"
#include "os_facade.h"

#define SCREEN_W TAP_SCREEN_W
#define SCREEN_H TAP_SCREEN_H
#define GLYPH_DEF_SIZE 12 /* bytes of a glyph record in the file */
#define CUT_PADDING 20    /* working copy: room for the "..." of a cut */
#define MISSING_FONT_TICKS 300

/* the plug-in's program name, its "._tap_program_name" section: the title
 * of the missing-font window */
extern "C" const char __tap_program_name[64];

byte AlphaLUT[256 * 3];

/* ---- memory ---- */

void *FMUC_ReserveMemory(const char *Requester, dword size)
{
  (void)Requester;
  return size != 0 ? TAP_MemAlloc(size) : nullptr;
}

void FMUC_FreeMemory(const char *Requester, void *Pointer)
{
  (void)Requester;
  if (Pointer != nullptr) TAP_MemFree(Pointer);
}

/* ---- file access ---- */

/* All of count bytes, or false */
static bool ReadExact(int handle, void *buf, dword count)
{
  byte *p = (byte *)buf;
  while (count > 0) {
    ssize_t n = OS_Read(handle, p, count);
    if (n <= 0) return false;
    p += n;
    count -= (dword)n;
  }
  return true;
}

static dword LE32(const byte *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((dword)p[3] << 24); }
static word LE16(const byte *p) { return (word)(p[0] | (p[1] << 8)); }

/* The records as the file stores them, decoded in place (the file is
 * little-endian whatever the CPU). A record that points outside the file or
 * whose size is 0 or larger than the screen gets the size 0: it is never
 * found. Returns the number of such records; *first is the first's code point. */
static int DecodeGlyphTable(tFontDefUC *defs, int count, off64_t fileSize, dword *first)
{
  int refused = 0;
  for (int i = 0; i < count; i++) {
    const byte *raw = (const byte *)&defs[i];
    tFontDefUC d;
    d.Unicode = LE32(raw);
    d.FileOffset = LE32(raw + 4);
    d.Width = LE16(raw + 8);
    d.Height = LE16(raw + 10);
    if (d.Width == 0 || d.Height == 0 || d.Width > SCREEN_W || d.Height > SCREEN_H ||
        (off64_t)d.FileOffset + (off64_t)d.Width * d.Height > fileSize) {
      if (refused == 0) *first = d.Unicode;
      refused++;
      d.Width = 0;
      d.Height = 0;
    }
    defs[i] = d;
  }
  return refused;
}

/* ---- loading ---- */

/* Sorts the glyph records by code point, the file's order kept among equal
 * ones, so that a look-up is a binary search. A merge sort: a hostile file's
 * order costs no more than a font's. False without the memory for it. */
static bool SortGlyphTable(tFontDefUC *defs, int count)
{
  tFontDefUC *merged = (tFontDefUC *)FMUC_ReserveMemory("SortGlyphTable", (dword)sizeof(tFontDefUC) * (dword)count);
  if (merged == nullptr) return false;
  for (int run = 1; run < count; run *= 2) {
    for (int lo = 0; lo < count; lo += 2 * run) {
      int mid = lo + run < count ? lo + run : count, hi = lo + 2 * run < count ? lo + 2 * run : count;
      int i = lo, j = mid, k = lo;
      while (i < mid && j < hi) merged[k++] = defs[j].Unicode < defs[i].Unicode ? defs[j++] : defs[i++];
      while (i < mid) merged[k++] = defs[i++];
      while (j < hi) merged[k++] = defs[j++];
    }
    memcpy(defs, merged, sizeof(tFontDefUC) * (size_t)count);
  }
  FMUC_FreeMemory("SortGlyphTable", merged);
  return true;
}

/* The file's head: "UFNT" and a glyph count whose table fits the file
 * itself, which also keeps 12 x count far from wrapping on 32 bits; 0 when
 * it is no such file. */
static dword ReadHead(int handle, off64_t fileSize)
{
  byte head[8];
  bool headOk = fileSize >= 8 && OS_Lseek64(handle, 0, SEEK_SET) == 0 && ReadExact(handle, head, 8) &&
                memcmp(head, "UFNT", 4) == 0;
  dword count = headOk ? LE32(head + 4) : 0;
  return count != 0 && 8 + (off64_t)GLYPH_DEF_SIZE * count <= fileSize ? count : 0;
}

/* Reads the glyph table and makes the cache for it; what went wrong, or null. */
static const char *ReadGlyphs(int handle, off64_t fileSize, dword count, const char *name, tFontDefUC **defs,
                              tGlyphCacheUC **cache, char *why, size_t whySize)
{
  dword defBytes = GLYPH_DEF_SIZE * count;
  /* an entry holds a pointer: its size is the CPU's, not the file's 12 bytes */
  dword cacheBytes = (dword)sizeof(tGlyphCacheUC) * count;
  *defs = (tFontDefUC *)FMUC_ReserveMemory("FMUC_LoadFontFile FontDef", defBytes);
  if (*defs == nullptr) {
    snprintf(why, whySize, "failed to allocate %d bytes for the FontDef table of '%.300s'", (int)defBytes, name);
    return why;
  }
  if (!ReadExact(handle, *defs, defBytes)) {
    snprintf(why, whySize, "failed to read the FontDef table of '%.300s'", name);
    return why;
  }
  dword firstRefused = 0;
  int refused = DecodeGlyphTable(*defs, (int)count, fileSize, &firstRefused);
  if (refused != 0)
    LogEntryTKLibPrintf(true,
                        "FontManager UC: %d glyph records of '%s' lie outside the file or have no usable size (the "
                        "first: %x); left out",
                        refused, name, (unsigned)firstRefused);
  *cache = (tGlyphCacheUC *)FMUC_ReserveMemory("FMUC_LoadFontFile GlyphCache", cacheBytes);
  if (*cache == nullptr || !SortGlyphTable(*defs, (int)count)) {
    snprintf(why, whySize, "failed to allocate %d bytes for the FontCache table of '%.300s'", (int)cacheBytes, name);
    return why;
  }
  memset(*cache, 0, cacheBytes);
  return nullptr;
}

int FMUC_LoadFontFile(const char *FontName, tFontDataUC *FontData)
{
  bool missing = false;
  int loaded = FMUC_LoadFontFileQuietly(FontName, FontData, &missing);
  if (missing) FMUC_ShowMissingFonts(&FontName, 1);
  return loaded;
}

void FMUC_ShowMissingFonts(const char *const *Names, int Count)
{
  enum { MAX_LINES = 12, PER_LINE = 3 };
  char text[MAX_LINES][PATH_BUFFER + 32];
  const char *lines[MAX_LINES + 1];
  int n = 0;
  if (Names == nullptr || Count <= 0) return;
  lines[n++] = __tap_program_name;
  if (Count == 1) {
    char name[PATH_BUFFER];
    ConvertPathType(Names[0], name, PathKindName);
    snprintf(text[n], sizeof text[n], "failed to load %s", name);
    lines[n] = text[n];
    n++;
    lines[n++] = "Please install the font";
  } else {
    /* the names three to a line, as many lines as the window holds */
    snprintf(text[n], sizeof text[n], "failed to load %d fonts:", Count);
    lines[n] = text[n];
    n++;
    for (int i = 0; i < Count && n < MAX_LINES - 1; i += PER_LINE) {
      text[n][0] = '\0';
      for (int j = i; j < Count && j < i + PER_LINE; j++) {
        char name[PATH_BUFFER];
        size_t used = strlen(text[n]);
        ConvertPathType(Names[j], name, PathKindName);
        snprintf(text[n] + used, sizeof text[n] - used, "%s%s", name,
                 j + 1 < Count && j + 1 < i + PER_LINE ? ", " : "");
      }
      lines[n] = text[n];
      n++;
    }
    lines[n++] = "Please install the fonts";
  }
  lines[n] = nullptr;
  ShowMessageWindow(lines, TAP_SCREEN_W, TAP_SCREEN_H, 2, 1, MW_COLOURS, MISSING_FONT_TICKS);
}

int FMUC_LoadFontFileQuietly(const char *FontName, tFontDataUC *FontData, bool *Missing)
{
  char name[PATH_BUFFER], path[PATH_BUFFER + sizeof FONT_FOLDER], text[PATH_BUFFER + 32];

  if (Missing != nullptr) *Missing = false;
  /* a record that holds a font gives it back first: its memory and its open file */
  if (FontData != nullptr && FontData->FileHandle != 0) FMUC_FreeFontFile(FontData);
  if (FontData != nullptr) memset(FontData, 0, sizeof(*FontData));
  if (FontName == nullptr || FontName[0] == '\0' || FontData == nullptr) return 0;

  ConvertPathType(FontName, name, PathKindName);
  snprintf(path, sizeof path, "%s%s", FONT_FOLDER, name);

  int handle = OS_Open(path, O_RDONLY);
  if (handle < 0) {
    snprintf(text, sizeof text, "failed to load %s", name);
    LogEntryTKLibPrintf(true, "FontManager UC: %s", text);
    if (Missing != nullptr) *Missing = true;
    return 0;
  }

  off64_t fileSize = OS_Lseek64(handle, 0, SEEK_END);
  dword count = ReadHead(handle, fileSize);
  tFontDefUC *defs = nullptr;
  tGlyphCacheUC *cache = nullptr;
  const char *problem = nullptr;
  if (count == 0) {
    snprintf(text, sizeof text, "'%s' has invalid header", name);
    problem = text;
  } else {
    problem = ReadGlyphs(handle, fileSize, count, name, &defs, &cache, text, sizeof text);
  }
  /* the one way out of a font that cannot be used */
  if (problem != nullptr) {
    LogEntryTKLibPrintf(true, "FontManager UC: %s", problem);
    FMUC_FreeMemory("FMUC_LoadFontFile GlyphCache", cache);
    FMUC_FreeMemory("FMUC_LoadFontFile FontDef", defs);
    OS_Close(handle);
    return 0;
  }
  FontData->FileHandle = handle;
  FontData->NrGlyphs = (int)count;
  FontData->FontDef = defs;
  FontData->GlyphCacheCount = 0;
  FontData->GlyphCache = cache;
  /* most text is Latin: its glyphs are found without a search */
  for (int cp = 0; cp < 256; cp++) FontData->LatinIndex[cp] = -1;
  /* from the end: of equal code points the first usable record stays */
  for (int i = (int)count - 1; i >= 0; i--)
    if (defs[i].Unicode < 256 && defs[i].Width != 0) FontData->LatinIndex[defs[i].Unicode] = i;
  return 1;
}

void FMUC_FreeFontFile(tFontDataUC *FontData)
{
  if (FontData == nullptr) return;
  if (FontData->GlyphCache != nullptr) {
    for (int i = 0; i < FontData->NrGlyphs; i++)
      FMUC_FreeMemory("FMUC_FreeFontFile", FontData->GlyphCache[i].GlyphData);
    FMUC_FreeMemory("FMUC_FreeFontFile", FontData->GlyphCache);
  }
  FMUC_FreeMemory("FMUC_FreeFontFile", FontData->FontDef);
  if (FontData->FileHandle != 0) OS_Close(FontData->FileHandle);
  memset(FontData, 0, sizeof(*FontData));
}

/* ---- glyphs ---- */

/* The index of the code point's usable record in the sorted table (the
 * first of equal ones, as the file has them), or -1. */
static int FindGlyph(const tFontDataUC *font, dword cp)
{
  if (cp < 256) return font->LatinIndex[cp];
  int lo = 0, hi = font->NrGlyphs;
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (font->FontDef[mid].Unicode < cp) lo = mid + 1;
    else hi = mid;
  }
  for (; lo < font->NrGlyphs && font->FontDef[lo].Unicode == cp; lo++)
    if (font->FontDef[lo].Width != 0) return lo;
  return -1;
}

tGlyphCacheUC *FMUC_GetGlyphData(tFontDataUC *FontData, const char *Text, byte *ByteLength)
{
  if (FontData == nullptr || Text == nullptr || Text[0] == '\0') return nullptr;
  byte first = (byte)Text[0];
  if (first < 0x20 || (first >= 0x80 && first <= 0x9F)) {
    if (ByteLength) *ByteLength = 1;
    return nullptr;
  }
  byte length = 1;
  dword cp = UTF8ToUTF32(Text, &length);
  if (ByteLength) *ByteLength = length;
  if (FontData->FileHandle == 0 || FontData->FontDef == nullptr || FontData->GlyphCache == nullptr) return nullptr;

  int index = FindGlyph(FontData, cp);
  if (index < 0) {
    LogEntryTKLibPrintf(true, "Glyph %x not found", (unsigned)cp);
    return nullptr;
  }
  tGlyphCacheUC *entry = &FontData->GlyphCache[index];
  if (entry->GlyphData != nullptr) return entry;
  const tFontDefUC *def = &FontData->FontDef[index];
  dword bytes = (dword)def->Width * def->Height;
  entry->Unicode = cp;
  entry->Width = def->Width;
  entry->Height = def->Height;
  entry->GlyphData = (byte *)FMUC_ReserveMemory("FMUC_GetGlyphData GlyphData", bytes);
  if (entry->GlyphData == nullptr) {
    LogEntryTKLibPrintf(true, "FontManager UC: failed to reserve %d bytes for a glyph", (int)bytes);
    return nullptr;
  }
  if (OS_Lseek64(FontData->FileHandle, def->FileOffset, SEEK_SET) != (off64_t)def->FileOffset ||
      !ReadExact(FontData->FileHandle, entry->GlyphData, bytes)) {
    LogEntryTKLibPrintf(true, "FontManager UC: failed to read the %d bytes of glyph %x", (int)bytes, (unsigned)cp);
    FMUC_FreeMemory("FMUC_GetGlyphData GlyphData", entry->GlyphData);
    entry->GlyphData = nullptr;
    return nullptr;
  }
  FontData->GlyphCacheCount++;
  return entry;
}

bool FMUC_IsDiacriticalMark(dword Unicode)
{
  return (Unicode >= 0x0300 && Unicode <= 0x036F) || (Unicode >= 0x0E34 && Unicode <= 0x0E3A) ||
         (Unicode >= 0x0E47 && Unicode <= 0x0E4E) || Unicode == 0x00A8 || Unicode == 0x00B4 || Unicode == 0x00B8 ||
         Unicode == 0x0384 || Unicode == 0x0385 || Unicode == 0x0E31;
}

/* The room a glyph takes in a line: a mark takes none */
static int Advance(const tGlyphCacheUC *g)
{
  return g != nullptr && !FMUC_IsDiacriticalMark(g->Unicode) ? g->Width : 0;
}

dword FMUC_GetStringWidth(const char *Text, tFontDataUC *FontData)
{
  if (Text == nullptr || FontData == nullptr) return 0;
  dword width = 0;
  for (const char *p = Text; *p;) {
    byte length = 1;
    width += Advance(FMUC_GetGlyphData(FontData, p, &length));
    p += length;
  }
  return width;
}

int FMUC_GetStringHeight(const char *Text, tFontDataUC *FontData)
{
  if (Text == nullptr || FontData == nullptr) return 0;
  int height = 0;
  for (const char *p = Text; *p;) {
    byte length = 1;
    tGlyphCacheUC *g = FMUC_GetGlyphData(FontData, p, &length);
    if (g != nullptr && g->Height > height) height = g->Height;
    p += length;
  }
  return height;
}

const char *FMUC_FindNextUTF8(const char *p)
{
  if (p == nullptr) return nullptr;
  p++;
  while (((byte)*p & 0xC0) == 0x80) p++;
  return p;
}

const char *FMUC_FindUTF8Start(const char *p)
{
  if (p == nullptr) return nullptr;
  while (((byte)*p & 0xC0) == 0x80) p--;
  return p;
}

/* ---- blending ---- */

byte FM_AlphaBlend(byte Alpha, byte FG, byte BG, word AntiAliasFactor)
{
  if (Alpha == 0) return BG;
  if (Alpha == 255) return FG;
  int v = ((255 - Alpha) * BG + Alpha * FG) >> 8;
  v = (v * AntiAliasFactor) >> 8;
  if (v >= 256) v = 255;
  if (v < 0) v = 0;
  return (byte)v;
}

dword FM_AlphaBlendRGB(byte Alpha, dword FG, dword BG, word AntiAliasFactor)
{
  dword r = FM_AlphaBlend(Alpha, (byte)(FG >> 16), (byte)(BG >> 16), AntiAliasFactor);
  dword g = FM_AlphaBlend(Alpha, (byte)(FG >> 8), (byte)(BG >> 8), AntiAliasFactor);
  dword b = FM_AlphaBlend(Alpha, (byte)FG, (byte)BG, AntiAliasFactor);
  return r << 16 | g << 8 | b;
}

void FM_InitAlphaLUT(dword fgColor, dword bgColor, word AntiAliasFactor)
{
  for (int i = 0; i < 255; i++) {
    AlphaLUT[3 * i] = FM_AlphaBlend((byte)i, (byte)(fgColor >> 16), (byte)(bgColor >> 16), AntiAliasFactor);
    AlphaLUT[3 * i + 1] = FM_AlphaBlend((byte)i, (byte)(fgColor >> 8), (byte)(bgColor >> 8), AntiAliasFactor);
    AlphaLUT[3 * i + 2] = FM_AlphaBlend((byte)i, (byte)fgColor, (byte)bgColor, AntiAliasFactor);
  }
}

/* ---- drawing ---- */

/* Start of the last character, found walking forward with the lengths the
 * glyph look-up uses, so that a broken sequence is cut where it was read. */
static char *LastCharacter(char *text)
{
  char *last = text;
  for (char *p = text; *p;) {
    last = p;
    byte length = 1;
    if ((byte)*p >= 0x20 && !((byte)*p >= 0x80 && (byte)*p <= 0x9F)) UTF8ToUTF32(p, &length);
    p += length;
  }
  return last;
}

/* Removes characters from the end until the text ends at MaxX or is used
 * up; end moves back by each removed glyph's advance. A character without a
 * glyph takes no room and goes like the others. */
static void CutEnd(char *text, tFontDataUC *font, long long *end, dword MaxX)
{
  while (*end > (long long)MaxX && text[0] != '\0') {
    char *last = LastCharacter(text);
    byte length = 1;
    *end -= Advance(FMUC_GetGlyphData(font, last, &length));
    *last = '\0';
  }
}

/* Drops characters from the start in the same way and puts "..." in front */
static void CutStart(char *text, tFontDataUC *font, long long *end, dword MaxX)
{
  char *p = text;
  while (*end > (long long)MaxX && *p != '\0') {
    byte length = 1;
    *end -= Advance(FMUC_GetGlyphData(font, p, &length));
    p += length;
  }
  memmove(text + 3, p, strlen(p) + 1);
  memcpy(text, "...", 3);
}

/* Partly covered pixels of text over a transparent background blend the
 * text's colour into whatever lies under them. A menu draws its few text
 * colours over its few grounds (the list, the rows of the cursor bar) at
 * every redraw, so each pair of colours keeps a table of its 256 results,
 * each computed on first use. A few pairs share a slot group by their
 * hash; a new pair takes the group's free slot or its first one. */
#define BLEND_PAIRS 64 /* slots of the table (a power of two) */
#define BLEND_PROBES 4 /* slots a pair may sit in */
typedef struct {
  dword Fore, Back; /* the text's colour and the pixel under it */
  word Factor;      /* the anti-alias factor it was blended with */
  bool Used;
  byte Known[32];    /* bit c: Result[c] is computed */
  dword Result[256]; /* the blended pixel for coverage c */
} tBlendPair;
static tBlendPair BlendPairs[BLEND_PAIRS];

static tBlendPair *BlendPairOf(dword fore, dword back, word factor)
{
  dword hash = (fore * 0x9E3779B1u ^ back * 0x85EBCA77u ^ factor) >> 26; /* 6 bits: 0..63 */
  tBlendPair *free = nullptr;
  for (dword i = 0; i < BLEND_PROBES; i++) {
    tBlendPair *p = &BlendPairs[(hash + i) & (BLEND_PAIRS - 1)];
    if (p->Used && p->Fore == fore && p->Back == back && p->Factor == factor) return p;
    if (!p->Used && free == nullptr) free = p;
  }
  tBlendPair *p = free != nullptr ? free : &BlendPairs[hash & (BLEND_PAIRS - 1)];
  p->Fore = fore;
  p->Back = back;
  p->Factor = factor;
  p->Used = true;
  memset(p->Known, 0, sizeof p->Known);
  return p;
}

/* Blends one glyph into the box (boxW x boxH pixels) with its left edge at
 * column pen; pixels outside the box are left out. */
typedef struct {
  dword *pixels;
  int boxW, boxH;
  dword fore;
  bool opaque;
  word factor;
  tBlendPair *pair; /* transparent background: the pair of the last pixel blended */
} tBlendBox;

static void BlendGlyph(tBlendBox *box, const tGlyphCacheUC *g, int pen)
{
  dword alpha = box->fore & 0xFF000000;
  for (int r = 0; r < g->Height && r < box->boxH; r++) {
    const byte *row = g->GlyphData + (size_t)r * g->Width;
    for (int k = 0; k < g->Width; k++) {
      byte c = row[k];
      int col = pen + k;
      if (c == 0 || col < 0 || col >= box->boxW) continue;
      dword *target = &box->pixels[(size_t)r * box->boxW + col];
      if (c == 255) {
        *target = box->fore;
      } else if (box->opaque) {
        *target = alpha | (dword)AlphaLUT[3 * c] << 16 | (dword)AlphaLUT[3 * c + 1] << 8 | AlphaLUT[3 * c + 2];
      } else {
        tBlendPair *p = box->pair;
        if (p == nullptr || p->Back != *target) p = box->pair = BlendPairOf(box->fore, *target, box->factor);
        if ((p->Known[c >> 3] & (1 << (c & 7))) == 0) {
          p->Result[c] = alpha | FM_AlphaBlendRGB(c, box->fore, *target, box->factor);
          p->Known[c >> 3] |= (byte)(1 << (c & 7));
        }
        *target = p->Result[c];
      }
    }
  }
}

static void BlendText(tBlendBox *box, const char *text, tFontDataUC *font)
{
  int pen = 0, lastCentre = 0;
  for (const char *p = text; *p;) {
    byte length = 1;
    tGlyphCacheUC *g = FMUC_GetGlyphData(font, p, &length);
    p += length;
    if (g == nullptr) continue;
    if (FMUC_IsDiacriticalMark(g->Unicode)) {
      /* centred on the glyph before it; takes no room */
      BlendGlyph(box, g, lastCentre - g->Width / 2);
    } else {
      BlendGlyph(box, g, pen);
      lastCentre = pen + g->Width / 2;
      pen += g->Width;
    }
  }
}

/* The working copy of a text: 8-bit text converted to UTF-8, then cleaned of
 * control characters and line breaks and cut to 126 bytes; null without memory. */
static char *WorkingCopy(const char *Text)
{
  bool has8Bit, hasUTF8;
  dword length = (dword)strlen(Text);
  GetStringEncoding(Text, &has8Bit, &hasUTF8);
  char *copy;
  if (has8Bit && !hasUTF8) {
    dword size = 4 * length + CUT_PADDING;
    copy = (char *)FMUC_ReserveMemory("FMUC_PutStringAA", size);
    if (copy == nullptr) return nullptr;
    StrToUTF8(Text, copy, 9, (int)size);
  } else {
    copy = (char *)FMUC_ReserveMemory("FMUC_PutStringAA", length + CUT_PADDING);
    if (copy == nullptr) return nullptr;
    memcpy(copy, Text, length + 1);
  }
  MakeValidFileName(copy, 3);
  return copy;
}

/* Cuts the text as CutMode says until it fits x..MaxX and places it as
 * Align says: its first column and its width. False when nothing is left
 * to show (still too long, or no glyph of it in the font). */
static bool LayOutText(char *text, tFontDataUC *font, dword x, dword MaxX, byte CutMode, byte Align, dword *start,
                       dword *width)
{
  long long end = (long long)x + FMUC_GetStringWidth(text, font);
  if (end > (long long)MaxX) {
    switch (CutMode) {
      case FMUC_CutEnd: CutEnd(text, font, &end, MaxX); break;
      case FMUC_CutEndDots:
        end += FMUC_GetStringWidth("... ", font);
        CutEnd(text, font, &end, MaxX);
        strcat(text, "...");
        break;
      case FMUC_CutStartDots:
        end += FMUC_GetStringWidth("...", font);
        CutStart(text, font, &end, MaxX);
        break;
      default: break;
    }
  }
  if (end > (long long)MaxX || end == (long long)x) return false;
  *width = (dword)(end - x);
  *start = x;
  if (Align == FMUC_AlignCentre) *start = x + (dword)((MaxX - end) / 2);
  if (Align == FMUC_AlignRight) *start = MaxX - *width;
  return true;
}

/* Where a text is drawn: its line x..MaxX, the text's own columns from
 * start, the region's size (0: unknown). */
typedef struct {
  word Region;            /* the region drawn into */
  dword X, MaxX, Y;       /* the line the text was given */
  dword Start, Width;     /* the columns the laid-out text takes */
  dword RegionW, RegionH; /* the region's size, 0 when the table does not know it */
} tTextPlace;

/* Draws the laid-out text: the background filled where it is opaque, then
 * the box under the text (clipped to the region, so that a text at its
 * right or bottom edge still shows the part that fits) read once, blended
 * and written back once. */
static void DrawText(const tTextPlace *at, const char *text, tFontDataUC *font, dword ForeColor, dword BackColor,
                     word AntiAliasFactor)
{
  int height = FMUC_GetStringHeight(text, font);
  bool opaque = (BackColor & 0xFF000000) != 0;
  if (opaque) {
    dword fillH = (dword)height + 1;
    if (at->RegionH != 0 && at->Y < at->RegionH && at->Y + fillH > at->RegionH) fillH = at->RegionH - at->Y;
    TAP_Osd_FillBox(at->Region, at->X, at->Y, at->MaxX - at->X, fillH, BackColor);
    FM_InitAlphaLUT(ForeColor, BackColor, AntiAliasFactor);
  }
  dword boxW = at->Width + 1, boxH = (dword)height + 1;
  if (at->RegionW != 0 && at->Start + boxW > at->RegionW) boxW = at->Start < at->RegionW ? at->RegionW - at->Start : 0;
  if (at->RegionH != 0 && at->Y + boxH > at->RegionH) boxH = at->Y < at->RegionH ? at->RegionH - at->Y : 0;
  byte *saved = boxW != 0 && boxH != 0 ? TAP_Osd_SaveBox(at->Region, at->Start, at->Y, boxW, boxH) : nullptr;
  if (saved == nullptr) return;
  tBlendBox box = {(dword *)saved, (int)boxW, (int)boxH, ForeColor, opaque, AntiAliasFactor, nullptr};
  BlendText(&box, text, font);
  TAP_Osd_RestoreBox(at->Region, at->Start, at->Y, boxW, boxH, saved);
  TAP_MemFree(saved);
}

void FMUC_PutStringAA(word Region, dword x, dword y, dword MaxX, const char *Text, dword ForeColor, dword BackColor,
                      tFontDataUC *FontData, byte CutMode, byte Align, word AntiAliasFactor)
{
  if (Text == nullptr || Text[0] == '\0' || FontData == nullptr || x >= MaxX) return;
  tTextPlace at = {Region, x, MaxX, y, 0, 0, GetOSDRegionWidth(Region), GetOSDRegionHeight(Region)};
  if (at.RegionW != 0 && at.MaxX >= at.RegionW) at.MaxX = at.RegionW - 1;
  if (x >= at.MaxX) return;
  char *text = WorkingCopy(Text);
  if (text == nullptr) return;
  if (LayOutText(text, FontData, x, at.MaxX, CutMode, Align, &at.Start, &at.Width))
    DrawText(&at, text, FontData, ForeColor, BackColor, AntiAliasFactor);
  FMUC_FreeMemory("FMUC_PutStringAA", text);
}
