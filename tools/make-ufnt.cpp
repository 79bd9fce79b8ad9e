// make-ufnt -- converts a TrueType font into the receiver's ".ufnt" bitmap font.
//
//   make-ufnt <font.ttf> <pixel size> <out.ufnt>
//
// Every glyph becomes an 8-bit coverage bitmap as tall as the font's line:
// the rows above the tallest accent and below the deepest descender of the
// Latin letters are the line's, so all glyphs of a line share their top edge
// and the baseline sits at the same row in each. A glyph's width is its
// advance (ink that reaches past it is cut); a combining mark, which has no
// advance, is as wide as its ink, because the font manager centres it on the
// glyph before it; a font without combining marks gets them from its
// spacing accents. Included are the code points the font has in Basic Latin,
// Latin-1, Latin Extended-A and B, the combining marks, Greek and Cyrillic,
// and the dashes, quotation marks and euro sign that texts of those scripts use.
//
// File: "UFNT", glyph count N (u32), N records of code point (u32), offset
// (u32), width (u16), height (u16), then the bitmaps; all little-endian.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb_truetype.h>

namespace {

struct Range {
  uint32_t first, last;
};

// clang-format off
constexpr Range kRanges[] = {
    {0x0020, 0x007E},  // Basic Latin
    {0x00A0, 0x00FF},  // Latin-1
    {0x0100, 0x017F},  // Latin Extended-A
    {0x0180, 0x024F},  // Latin Extended-B
    {0x0300, 0x036F},  // combining marks
    {0x0370, 0x03FF},  // Greek
    {0x0400, 0x04FF},  // Cyrillic
    {0x2010, 0x2027},  // dashes, quotation marks, bullet, ellipsis
    {0x20AC, 0x20AC},  // euro sign
};
// clang-format on

struct Glyph {
  uint32_t codePoint;
  int width, height;
  std::vector<uint8_t> bitmap;
};

bool IsCombining(uint32_t cp) { return cp >= 0x0300 && cp <= 0x036F; }

// Fonts made for office text often lack the combining marks; their spacing
// twins have the same shape at the height of a small letter's accent.
struct Twin {
  uint32_t mark, spacing;
};
// clang-format off
constexpr Twin kMarkTwins[] = {
    {0x0300, 0x0060}, {0x0301, 0x00B4}, {0x0302, 0x02C6}, {0x0303, 0x02DC}, {0x0304, 0x00AF},
    {0x0306, 0x02D8}, {0x0307, 0x02D9}, {0x0308, 0x00A8}, {0x030A, 0x02DA}, {0x030B, 0x02DD},
    {0x030C, 0x02C7}, {0x0327, 0x00B8}, {0x0328, 0x02DB},
};
// clang-format on

// The glyph drawn for a code point: its own, else a combining mark's twin;
// 0 when the font has neither.
int GlyphOf(const stbtt_fontinfo &font, uint32_t cp)
{
  int glyph = stbtt_FindGlyphIndex(&font, static_cast<int>(cp));
  if (glyph != 0 || !IsCombining(cp)) return glyph;
  for (const Twin &t : kMarkTwins)
    if (t.mark == cp) return stbtt_FindGlyphIndex(&font, static_cast<int>(t.spacing));
  return 0;
}

void Put32(std::vector<uint8_t> &out, uint32_t v)
{
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put16(std::vector<uint8_t> &out, uint32_t v)
{
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// Rows above and below the baseline that the line needs: the ink of the
// letters of Basic Latin and Latin-1 (accented capitals, descenders), and
// at least the font's own ascent and descent.
void LineExtent(const stbtt_fontinfo &font, float scale, int *above, int *below)
{
  int ascent, descent, gap;
  stbtt_GetFontVMetrics(&font, &ascent, &descent, &gap);
  *above = static_cast<int>(std::ceil(ascent * scale));
  *below = static_cast<int>(std::ceil(-descent * scale));
  for (uint32_t cp = 0x21; cp <= 0xFF; ++cp) {
    if (cp > 0x7E && cp < 0xC0) continue;  // signs and symbols may reach further; letters set the line
    int x0, y0, x1, y1;
    if (stbtt_FindGlyphIndex(&font, static_cast<int>(cp)) == 0) continue;
    stbtt_GetCodepointBitmapBox(&font, static_cast<int>(cp), scale, scale, &x0, &y0, &x1, &y1);
    *above = std::max(*above, -y0);
    *below = std::max(*below, y1);
  }
}

Glyph Render(const stbtt_fontinfo &font, uint32_t cp, int glyph, float scale, int above, int height)
{
  Glyph g{cp, 0, height, {}};
  int advance, lsb;
  stbtt_GetGlyphHMetrics(&font, glyph, &advance, &lsb);
  int x0, y0, x1, y1;
  stbtt_GetGlyphBitmapBox(&font, glyph, scale, scale, &x0, &y0, &x1, &y1);
  int inkW = std::max(0, x1 - x0), inkH = std::max(0, y1 - y0);
  int left;  // column of the ink's left edge in the bitmap
  if (IsCombining(cp)) {
    g.width = std::max(1, inkW);
    left = 0;
  } else {
    g.width = std::max(1, static_cast<int>(std::lround(advance * scale)));
    left = x0;
  }
  g.bitmap.assign(static_cast<size_t>(g.width) * height, 0);
  if (inkW == 0 || inkH == 0) return g;
  std::vector<uint8_t> ink(static_cast<size_t>(inkW) * inkH);
  stbtt_MakeGlyphBitmap(&font, ink.data(), inkW, inkH, inkW, scale, scale, glyph);
  for (int r = 0; r < inkH; ++r) {
    int row = above + y0 + r;
    if (row < 0 || row >= height) continue;
    for (int c = 0; c < inkW; ++c) {
      int col = left + c;
      if (col < 0 || col >= g.width) continue;
      g.bitmap[static_cast<size_t>(row) * g.width + col] = ink[static_cast<size_t>(r) * inkW + c];
    }
  }
  return g;
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc != 4) {
    std::fprintf(stderr, "usage: make-ufnt <font.ttf> <pixel size> <out.ufnt>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<unsigned char> ttf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  stbtt_fontinfo font;
  if (ttf.empty() || stbtt_InitFont(&font, ttf.data(), stbtt_GetFontOffsetForIndex(ttf.data(), 0)) == 0) {
    std::fprintf(stderr, "make-ufnt: %s is not a TrueType font\n", argv[1]);
    return 1;
  }
  int pixels = std::atoi(argv[2]);
  if (pixels < 4 || pixels > 200) {
    std::fprintf(stderr, "make-ufnt: pixel size %s out of range (4..200)\n", argv[2]);
    return 2;
  }
  // The pixel size is the em: "Calibri_20" is a font of 20 pixels per em.
  float scale = stbtt_ScaleForMappingEmToPixels(&font, static_cast<float>(pixels));
  int above, below;
  LineExtent(font, scale, &above, &below);
  int height = above + below;

  std::vector<Glyph> glyphs;
  for (const Range &r : kRanges)
    for (uint32_t cp = r.first; cp <= r.last; ++cp)
      if (int glyph = GlyphOf(font, cp); glyph != 0 || cp == 0x20 || cp == 0xA0)
        glyphs.push_back(Render(font, cp, glyph, scale, above, height));

  std::vector<uint8_t> out = {'U', 'F', 'N', 'T'};
  Put32(out, static_cast<uint32_t>(glyphs.size()));
  uint32_t offset = 8 + 12 * static_cast<uint32_t>(glyphs.size());
  for (const Glyph &g : glyphs) {
    Put32(out, g.codePoint);
    Put32(out, offset);
    Put16(out, static_cast<uint32_t>(g.width));
    Put16(out, static_cast<uint32_t>(g.height));
    offset += static_cast<uint32_t>(g.bitmap.size());
  }
  for (const Glyph &g : glyphs) out.insert(out.end(), g.bitmap.begin(), g.bitmap.end());

  std::ofstream o(argv[3], std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char *>(out.data()), static_cast<std::streamsize>(out.size()));
  if (!o.flush()) {
    std::fprintf(stderr, "make-ufnt: cannot write %s\n", argv[3]);
    return 1;
  }
  std::printf("make-ufnt: %s: %zu glyphs, %d px line (%d above the baseline), %zu bytes\n", argv[3], glyphs.size(),
              height, above, out.size());
  return 0;
}
