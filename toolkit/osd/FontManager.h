/* FontManager.h -- anti-aliased Unicode text from ".ufnt" bitmap fonts.
 *
 * A font file holds 8-bit coverage bitmaps indexed by code point; only its
 * glyph table is read at load time, each bitmap on first use, and the file
 * stays open while the font is loaded. Text (UTF-8 or 8-bit ISO) is
 * measured, shortened to fit, aligned and blended onto what the region
 * shows, in one read and one write of the pixels under it.
 * Owns: AlphaLUT, the blend table of the last opaque-background text, and
 * the blend tables of the colour pairs of transparent-background text. */
#ifndef FERROX_TOOLKIT_OSD_FONTMANAGER_H
#define FERROX_TOOLKIT_OSD_FONTMANAGER_H

#include "receiver_paths.h"
#include "tap_api.h"

#define FONT_FOLDER TAPFS_ROOT FONT_DIR "/"

/* One record of the file's glyph table, as the file stores it (12 bytes) */
typedef struct {
  dword Unicode;    /* code point */
  dword FileOffset; /* of the bitmap, from the start of the file */
  word Width;       /* pixels; also the advance. 0 here: a record refused at load */
  word Height;
} tFontDefUC;

/* A glyph read from the file */
typedef struct {
  dword Unicode;   /* code point */
  byte *GlyphData; /* Height rows of Width coverage bytes; null until read */
  word Width;      /* pixels; also the advance */
  word Height;     /* pixels */
} tGlyphCacheUC;

/* A loaded font; all zero when none is loaded */
typedef struct {
  int FileHandle;            /* open descriptor of the file, 0 = not loaded */
  int NrGlyphs;              /* records of the glyph table */
  tFontDefUC *FontDef;       /* the glyph table, sorted by code point */
  int GlyphCacheCount;       /* glyphs read so far */
  tGlyphCacheUC *GlyphCache; /* one entry per record of FontDef, at the same index */
  int LatinIndex[256];       /* FontDef index of code points below 256, -1 for none */
} tFontDataUC;

/* Where a text too long for x..MaxX is cut */
typedef enum FMUC_CutMode {
  FMUC_CutEnd = 0,      /* its end */
  FMUC_CutEndDots = 1,  /* its end, and "..." put there */
  FMUC_CutStartDots = 2 /* its start, behind "..." */
} FMUC_CutMode;

/* Where a text sits within x..MaxX */
typedef enum FMUC_Align { FMUC_AlignLeft = 0, FMUC_AlignCentre = 1, FMUC_AlignRight = 2 } FMUC_Align;

extern byte AlphaLUT[256 * 3];

int FMUC_LoadFontFile(const char *FontName, tFontDataUC *FontData);
/* As FMUC_LoadFontFile, but a missing file shows no window: *Missing says
 * so, and the caller names all its missing fonts in one window
 * (FMUC_ShowMissingFonts). */
int FMUC_LoadFontFileQuietly(const char *FontName, tFontDataUC *FontData, bool *Missing);
/* One message window for Count missing fonts (300 ticks): for one, the
 * same window FMUC_LoadFontFile shows; for more, their names. */
void FMUC_ShowMissingFonts(const char *const *Names, int Count);
void FMUC_FreeFontFile(tFontDataUC *FontData);
tGlyphCacheUC *FMUC_GetGlyphData(tFontDataUC *FontData, const char *Text, byte *ByteLength);
dword FMUC_GetStringWidth(const char *Text, tFontDataUC *FontData);
int FMUC_GetStringHeight(const char *Text, tFontDataUC *FontData);
bool FMUC_IsDiacriticalMark(dword Unicode);
const char *FMUC_FindNextUTF8(const char *p);
const char *FMUC_FindUTF8Start(const char *p);
/* CutMode an FMUC_CutMode, Align an FMUC_Align */
void FMUC_PutStringAA(word Region, dword x, dword y, dword MaxX, const char *Text, dword ForeColor, dword BackColor,
                      tFontDataUC *FontData, byte CutMode, byte Align, word AntiAliasFactor);
void *FMUC_ReserveMemory(const char *Requester, dword size);
void FMUC_FreeMemory(const char *Requester, void *Pointer);

/* AntiAliasFactor scales every blended colour channel, in 256ths:
 * FM_AA_ONE (1.0) leaves it as blended. An integer, so that drawing text
 * needs no floating point on a receiver CPU that would have to emulate it. */
#define FM_AA_ONE 256
byte FM_AlphaBlend(byte Alpha, byte FG, byte BG, word AntiAliasFactor);
dword FM_AlphaBlendRGB(byte Alpha, dword FG, dword BG, word AntiAliasFactor);
void FM_InitAlphaLUT(dword fgColor, dword bgColor, word AntiAliasFactor);

#endif
