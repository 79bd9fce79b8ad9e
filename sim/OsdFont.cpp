// OsdFont.cpp -- the receiver's own text font: a TrueType font of the host
// (Debian's DejaVu Sans) rasterised with stb_truetype, 8-bit ISO 8859-1
// text. Without the font file, text is drawn as boxes of the same sizes.
#include <cstdio>
#include <mutex>
#include <vector>

#include "Fatal.h"
#include "Osd.h"

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb_truetype.h>

#ifndef FERROX_OSD_FONT
#define FERROX_OSD_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#endif

namespace sim {

namespace {

constexpr int kPixelHeight[3] = {16, 19, 23};  // em heights of sizes 0, 1, 2
constexpr int kLineHeight[3] = TAP_FONT_LINE_HEIGHTS;

struct Font {
  std::vector<unsigned char> file;
  stbtt_fontinfo info{};
  bool ok = false;
};

const Font &TheFont()
{
  static Font font;
  static std::once_flag once;
  std::call_once(once, [] {
    if (FILE *f = std::fopen(FERROX_OSD_FONT, "rb")) {
      unsigned char buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) font.file.insert(font.file.end(), buf, buf + n);
      std::fclose(f);
    }
    font.ok = !font.file.empty() && stbtt_InitFont(&font.info, font.file.data(), 0) != 0;
    if (!font.ok) SimWarn("screen", std::string("font ") + FERROX_OSD_FONT + " not usable; text is drawn as boxes");
  });
  return font;
}

int Size(int fontSize) { return fontSize < 0 ? 0 : fontSize > 2 ? 2 : fontSize; }

float Scale(int fontSize)
{
  return stbtt_ScaleForPixelHeight(&TheFont().info, static_cast<float>(kPixelHeight[Size(fontSize)]));
}

int Advance(unsigned char c, int fontSize)
{
  const Font &f = TheFont();
  if (!f.ok) return kPixelHeight[Size(fontSize)] / 2;
  int adv = 0, lsb = 0;
  stbtt_GetCodepointHMetrics(&f.info, c, &adv, &lsb);
  return static_cast<int>(adv * Scale(fontSize) + 0.5f);
}

}  // namespace

int OsdLineHeight(int fontSize) { return kLineHeight[Size(fontSize)]; }

int OsdTextWidth(const std::string &text, int fontSize)
{
  int w = 0;
  for (unsigned char c : text) w += Advance(c, fontSize);
  return w;
}

void OsdDrawText(const std::string &text, int fontSize, int x, int y, int maxX,
                 void (*plot)(void *ctx, int px, int py, int coverage), void *ctx)
{
  const Font &f = TheFont();
  const int px = kPixelHeight[Size(fontSize)];
  float scale = f.ok ? Scale(fontSize) : 1.0f;
  int ascent = px * 4 / 5;
  if (f.ok) {
    int a = 0, d = 0, g = 0;
    stbtt_GetFontVMetrics(&f.info, &a, &d, &g);
    ascent = static_cast<int>(a * scale + 0.5f);
  }
  int baseline = y + (kLineHeight[Size(fontSize)] - px) / 2 + ascent;
  for (unsigned char c : text) {
    int adv = Advance(c, fontSize);
    if (x + adv > maxX) break;  // a glyph that does not fit whole is left out
    if (!f.ok) {
      for (int yy = baseline - ascent / 2; yy < baseline; ++yy)
        for (int xx = x + 1; xx < x + adv - 1; ++xx) plot(ctx, xx, yy, 255);
    } else if (c != ' ') {
      int w = 0, h = 0, xoff = 0, yoff = 0;
      unsigned char *bm = stbtt_GetCodepointBitmap(&f.info, scale, scale, c, &w, &h, &xoff, &yoff);
      for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < w; ++xx)
          if (x + xoff + xx < maxX) plot(ctx, x + xoff + xx, baseline + yoff + yy, bm[yy * w + xx]);
      stbtt_FreeBitmap(bm, nullptr);
    }
    x += adv;
  }
}

}  // namespace sim
