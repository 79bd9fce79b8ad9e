// make-osd-images -- draws the menu framework's embedded images and writes
// them as C++ sources of graphic descriptors.
//
//   make-osd-images <label font.ttf> <out.h> <out.cpp>
//
// Every image is drawn here from shapes (rounded boxes, circles, triangles,
// bars) sampled 4 x 4 times per pixel, so edges are anti-aliased and the
// corners outside a shape stay transparent; key caps carry their label in
// the given TrueType font. Each image becomes `_<name>_Cpm`, its pixels in
// the graphic descriptors' run-length code, and `_<name>_Gd`, the descriptor.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "GdCodec.h"

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb_truetype.h>

namespace {

struct Rgba {
  float r, g, b, a;  // 0..1, not premultiplied
};

struct Image {
  std::string name;
  int w, h;
  std::vector<Rgba> px;
  Image(std::string n, int width, int height)
      : name(std::move(n)), w(width), h(height), px(width * height, {0, 0, 0, 0})
  {
  }
  Rgba &at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
};

Rgba Hex(uint32_t rgb, float a = 1)
{
  return {((rgb >> 16) & 255) / 255.f, ((rgb >> 8) & 255) / 255.f, (rgb & 255) / 255.f, a};
}

Rgba Mix(Rgba a, Rgba b, float t)
{
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

// "Over" compositing of a colour with coverage onto a pixel.
void Over(Rgba &dst, Rgba src, float coverage)
{
  float a = src.a * coverage;
  if (a <= 0) return;
  float out = a + dst.a * (1 - a);
  dst.r = (src.r * a + dst.r * dst.a * (1 - a)) / out;
  dst.g = (src.g * a + dst.g * dst.a * (1 - a)) / out;
  dst.b = (src.b * a + dst.b * dst.a * (1 - a)) / out;
  dst.a = out;
}

using Inside = std::function<bool(float x, float y)>;
using Paint = std::function<Rgba(float x, float y)>;

// Fills a shape, 16 samples per pixel; the paint gives the colour at a point.
void Fill(Image &img, const Inside &inside, const Paint &paint)
{
  for (int y = 0; y < img.h; y++)
    for (int x = 0; x < img.w; x++) {
      int hits = 0;
      for (int sy = 0; sy < 4; sy++)
        for (int sx = 0; sx < 4; sx++)
          if (inside(x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4)) hits++;
      if (hits) Over(img.at(x, y), paint(x + 0.5f, y + 0.5f), hits / 16.f);
    }
}

Paint Solid(Rgba c)
{
  return [c](float, float) { return c; };
}

Paint Vertical(Rgba top, Rgba bottom, float y0, float y1)
{
  return [=](float, float y) { return Mix(top, bottom, std::clamp((y - y0) / (y1 - y0), 0.f, 1.f)); };
}

Inside RoundBox(float x0, float y0, float x1, float y1, float radius)
{
  return [=](float x, float y) {
    if (x < x0 || x > x1 || y < y0 || y > y1) return false;
    float cx = std::clamp(x, x0 + radius, x1 - radius), cy = std::clamp(y, y0 + radius, y1 - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
  };
}

Inside Circle(float cx, float cy, float r)
{
  return [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

Inside Triangle(float ax, float ay, float bx, float by, float cx, float cy)
{
  return [=](float x, float y) {
    auto side = [](float px, float py, float qx, float qy, float rx, float ry) {
      return (qx - px) * (ry - py) - (qy - py) * (rx - px);
    };
    float d1 = side(ax, ay, bx, by, x, y), d2 = side(bx, by, cx, cy, x, y), d3 = side(cx, cy, ax, ay, x, y);
    bool neg = d1 < 0 || d2 < 0 || d3<0, pos = d1> 0 || d2 > 0 || d3 > 0;
    return !(neg && pos);
  };
}

Inside Box(float x0, float y0, float x1, float y1)
{
  return [=](float x, float y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; };
}

// ---- text on key caps ----

struct LabelFont {
  std::vector<unsigned char> file;
  stbtt_fontinfo info{};
  bool ok = false;
};

LabelFont g_font;

int TextWidth(const std::string &text, float scale)
{
  float w = 0;
  for (unsigned char c : text) {
    int adv, lsb;
    stbtt_GetCodepointHMetrics(&g_font.info, c, &adv, &lsb);
    w += adv * scale;
  }
  return static_cast<int>(std::ceil(w));
}

// The text centred on (cx, cy) in the largest size up to `pixels` that fits `maxW`.
void Label(Image &img, const std::string &text, float cx, float cy, float pixels, float maxW, Rgba colour)
{
  if (!g_font.ok) return;
  float scale = stbtt_ScaleForPixelHeight(&g_font.info, pixels);
  while (TextWidth(text, scale) > maxW && pixels > 6) scale = stbtt_ScaleForPixelHeight(&g_font.info, pixels -= 0.5f);
  int ascent, descent, gap;
  stbtt_GetFontVMetrics(&g_font.info, &ascent, &descent, &gap);
  int capX0, capY0, capX1, capY1;  // the height of a capital centres the line
  stbtt_GetCodepointBitmapBox(&g_font.info, 'H', scale, scale, &capX0, &capY0, &capX1, &capY1);
  float pen = cx - TextWidth(text, scale) / 2.f;
  float baseline = cy + (capY1 - capY0) / 2.f;
  for (unsigned char c : text) {
    int adv, lsb, x0, y0, x1, y1;
    stbtt_GetCodepointHMetrics(&g_font.info, c, &adv, &lsb);
    float shift = pen - std::floor(pen);
    stbtt_GetCodepointBitmapBoxSubpixel(&g_font.info, c, scale, scale, shift, 0, &x0, &y0, &x1, &y1);
    int w = x1 - x0, h = y1 - y0;
    if (w > 0 && h > 0) {
      std::vector<unsigned char> bm(static_cast<size_t>(w) * h);
      stbtt_MakeCodepointBitmapSubpixel(&g_font.info, bm.data(), w, h, w, scale, scale, shift, 0, c);
      int ox = static_cast<int>(std::floor(pen)) + x0, oy = static_cast<int>(std::lround(baseline)) + y0;
      for (int r = 0; r < h; r++)
        for (int k = 0; k < w; k++) {
          int x = ox + k, y = oy + r;
          if (x >= 0 && y >= 0 && x < img.w && y < img.h) Over(img.at(x, y), colour, bm[r * w + k] / 255.f);
        }
    }
    pen += adv * scale;
  }
}

// ---- the images ----

const Rgba kCapTop = Hex(0x5A5F6B), kCapBottom = Hex(0x2C2F36), kCapRim = Hex(0x9CA3B0), kLabel = Hex(0xF4F6FA);

// A key cap: rim, shaded face, the symbol or label drawn on top by the caller.
Image KeyCap(const std::string &name, int w, int h)
{
  Image img("Button_" + name, w, h);
  Fill(img, RoundBox(0.5f, 0.5f, w - 0.5f, h - 0.5f, 4.5f), Solid(kCapRim));
  Fill(img, RoundBox(1.5f, 1.5f, w - 1.5f, h - 1.5f, 3.5f), Vertical(kCapTop, kCapBottom, 1.5f, h - 1.5f));
  return img;
}

Image TextKey(const std::string &name, int w, int h, const std::string &label, Rgba colour = kLabel)
{
  Image img = KeyCap(name, w, h);
  Label(img, label, w / 2.f, h / 2.f, 12.5f, w - 6.f, colour);
  return img;
}

Image ColourKey(const std::string &name, uint32_t rgb)
{
  Image img("Button_" + name, 18, 18);
  Rgba c = Hex(rgb);
  Rgba dark = Mix(c, Hex(0x000000), 0.45f), light = Mix(c, Hex(0xFFFFFF), 0.45f);
  Fill(img, Circle(9, 9, 8.6f), Solid(Hex(0x15171C)));
  Fill(img, Circle(9, 9, 7.4f), [=](float x, float y) {
    float d = std::hypot(x - 7.f, y - 6.f) / 10.f;  // light from the top left
    return Mix(light, dark, std::clamp(d, 0.f, 1.f));
  });
  Fill(img, Circle(7, 6, 2.2f), Solid(Hex(0xFFFFFF, 0.35f)));
  return img;
}

// Symbols on 24 x 20 caps (centre 12, 10).
Image SymbolKey(const std::string &name, const std::function<void(Image &)> &draw)
{
  Image img = KeyCap(name, 24, 20);
  draw(img);
  return img;
}

void Tri(Image &img, float ax, float ay, float bx, float by, float cx, float cy, Rgba c = kLabel)
{
  Fill(img, Triangle(ax, ay, bx, by, cx, cy), Solid(c));
}

void Bar(Image &img, float x0, float y0, float x1, float y1, Rgba c = kLabel)
{
  Fill(img, Box(x0, y0, x1, y1), Solid(c));
}

Image SelectionBar(const std::string &name, uint32_t top, uint32_t middle, uint32_t bottom)
{
  Image img(name, 100, 34);
  Fill(img, Box(0, 0, 100, 34), [=](float, float y) {
    return y < 17 ? Mix(Hex(top), Hex(middle), y / 17) : Mix(Hex(middle), Hex(bottom), (y - 17) / 17);
  });
  Bar(img, 0, 0, 100, 1, Hex(0xFFFFFF, 0.35f));    // a highlight along the top
  Bar(img, 0, 33, 100, 34, Hex(0x000000, 0.45f));  // and a shadow along the bottom
  return img;
}

Image ScrollTrack(const std::string &name, bool groove)
{
  Image img(name, 16, 368);
  Fill(img, Box(0, 0, 16, 368), Solid(Hex(0x1E1E1E)));
  if (groove) {
    Fill(img, RoundBox(5, 2, 11, 366, 3), Solid(Hex(0x0A0A0C)));
    Fill(img, RoundBox(6, 3, 10, 365, 2), Solid(Hex(0x34363C)));
  }
  return img;
}

Image Knob()
{
  Image img("ScrollBarKnob", 14, 20);
  Fill(img, RoundBox(0.5f, 0.5f, 13.5f, 19.5f, 4), Solid(Hex(0x20242C)));
  Fill(img, RoundBox(1.5f, 1.5f, 12.5f, 18.5f, 3), Vertical(Hex(0xC8D4EA), Hex(0x6F7E9A), 1.5f, 18.5f));
  for (float y : {7.f, 10.f, 13.f}) Bar(img, 4, y - 0.5f, 10, y + 0.5f, Hex(0x3C4658, 0.8f));  // grip lines
  return img;
}

Image Arrow(bool left, bool bright)
{
  Image img(std::string("pfeil_") + (left ? "l" : "r") + (bright ? "_bright" : ""), 10, 15);
  Rgba c = bright ? Hex(0xFFFFFF) : Hex(0xB4B8C4);
  if (left) Fill(img, Triangle(1, 7.5f, 9, 1, 9, 14), Solid(c));
  else Fill(img, Triangle(9, 7.5f, 1, 1, 1, 14), Solid(c));
  return img;
}

std::vector<Image> AllImages()
{
  std::vector<Image> all;
  all.push_back(SelectionBar("SelectionBar_Blue_100x34", 0x4C8BE0, 0x1F5BB5, 0x153F86));
  all.push_back(SelectionBar("SelectionBar_Blue_100x34Dark", 0x2D5590, 0x153B78, 0x0D2752));
  all.push_back(ScrollTrack("ScrollBarVisible", true));
  all.push_back(ScrollTrack("ScrollBarInvisible", false));
  all.push_back(Knob());
  for (bool bright : {false, true})
    for (bool left : {true, false}) all.push_back(Arrow(left, bright));

  all.push_back(ColourKey("red", 0xE0282A));
  all.push_back(ColourKey("green", 0x2DB53C));
  all.push_back(ColourKey("yellow", 0xF2D21B));
  all.push_back(ColourKey("blue", 0x2A62D8));
  all.push_back(ColourKey("white", 0xE8E8EC));

  // wide caps with their key's name
  const std::pair<const char *, const char *> wide[] = {{"ok", "OK"},     {"exit", "EXIT"},  {"menu", "MENU"},
                                                        {"list", "LIST"}, {"option", "OPT"}, {"fav", "FAV"},
                                                        {"aux", "AUX"},   {"sat", "SAT"}};
  for (const auto &[name, label] : wide) all.push_back(TextKey(name, 40, 20, label));
  all.push_back(TextKey("guide", 54, 20, "GUIDE"));

  for (int d = 0; d <= 9; d++) all.push_back(TextKey(std::to_string(d), 24, 20, std::to_string(d)));
  // clang-format off
  const std::pair<const char *, const char *> labelled[] = {
      {"ar", "AR"},      {"audio", "AUD"},   {"cut", "CUT"},     {"filelist", "FL"}, {"info", "i"},
      {"m", "M"},        {"mute", "MUT"},    {"progminus", "P-"}, {"progplus", "P+"}, {"recall", "RCL"},
      {"select", "SEL"}, {"sleep", "SLP"},   {"subtitle", "SUB"}, {"ttx", "TTX"},    {"tv_radio", "TV"},
      {"vf", "VF"},      {"volminus", "V-"}, {"volplus", "V+"},  {"nouse", ""}};
  // clang-format on
  for (const auto &[name, label] : labelled) all.push_back(TextKey(name, 24, 20, label));

  all.push_back(SymbolKey("up", [](Image &i) { Tri(i, 12, 5, 6.5f, 14, 17.5f, 14); }));
  all.push_back(SymbolKey("down", [](Image &i) { Tri(i, 12, 15, 6.5f, 6, 17.5f, 6); }));
  all.push_back(SymbolKey("left", [](Image &i) { Tri(i, 7, 10, 15, 4.5f, 15, 15.5f); }));
  all.push_back(SymbolKey("right", [](Image &i) { Tri(i, 17, 10, 9, 4.5f, 9, 15.5f); }));
  all.push_back(SymbolKey("play", [](Image &i) { Tri(i, 17, 10, 9, 5, 9, 15); }));
  all.push_back(SymbolKey("pause", [](Image &i) { Bar(i, 8, 5, 10.5f, 15), Bar(i, 13.5f, 5, 16, 15); }));
  all.push_back(SymbolKey("stop", [](Image &i) { Bar(i, 7.5f, 5.5f, 16.5f, 14.5f); }));
  all.push_back(SymbolKey("record", [](Image &i) { Fill(i, Circle(12, 10, 4.6f), Solid(Hex(0xE8322E))); }));
  all.push_back(
      SymbolKey("ffwd", [](Image &i) { Tri(i, 12.5f, 10, 5.5f, 5, 5.5f, 15), Tri(i, 19, 10, 12, 5, 12, 15); }));
  all.push_back(
      SymbolKey("rwd", [](Image &i) { Tri(i, 11.5f, 10, 18.5f, 5, 18.5f, 15), Tri(i, 5, 10, 12, 5, 12, 15); }));
  all.push_back(SymbolKey("step", [](Image &i) { Tri(i, 15, 10, 8, 5, 8, 15), Bar(i, 15.5f, 5, 17.5f, 15); }));
  all.push_back(SymbolKey("jumpstart", [](Image &i) { Bar(i, 6, 5, 8, 15), Tri(i, 8.5f, 10, 17, 5, 17, 15); }));
  all.push_back(SymbolKey("jumpend", [](Image &i) { Tri(i, 15.5f, 10, 7, 5, 7, 15), Bar(i, 16, 5, 18, 15); }));
  return all;
}

// ---- output ----

uint32_t Argb(Rgba c)
{
  auto byte = [](float v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.f, 1.f) * 255)); };
  uint32_t a = byte(c.a);
  return a == 0 ? 0 : a << 24 | byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

bool Write(const std::vector<Image> &images, const char *headerPath, const char *sourcePath)
{
  std::ofstream h(headerPath), s(sourcePath);
  h << "/* Generated by tools/make-osd-images.cpp: the menu framework's images. */\n"
    << "#ifndef FERROX_TOOLKIT_OSD_IMAGES_H\n#define FERROX_TOOLKIT_OSD_IMAGES_H\n\n#include \"tap_api.h\"\n\n"
    << "/* The format every image here carries: the simulator's run-length code\n"
    << " * (sim/GdCodec.h); the receiver's own is not known. */\n"
    << "#define OSD_IMAGE_FORMAT 0x" << std::hex << GD_FORMAT_ARGB_RLE << std::dec << "u\n\n";
  s << "/* Generated by tools/make-osd-images.cpp: pixels in OSD_IMAGE_FORMAT. */\n#include \"OsdImages.h\"\n";
  for (const Image &img : images) {
    std::vector<uint32_t> pixels;
    for (const Rgba &p : img.px) pixels.push_back(Argb(p));
    std::vector<uint8_t> code = sim::GdEncode(pixels);
    h << "extern const byte _" << img.name << "_Cpm[" << code.size() << "];\n"
      << "extern const TapGrData _" << img.name << "_Gd; /* " << img.w << " x " << img.h << " */\n";
    s << "\nconst byte _" << img.name << "_Cpm[" << code.size() << "] = {";
    for (size_t i = 0; i < code.size(); i++) s << (i % 24 ? "" : "\n  ") << static_cast<int>(code[i]) << ",";
    s << "\n};\nconst TapGrData _" << img.name << "_Gd = {OSD_IMAGE_FORMAT, _" << img.name << "_Cpm, "
      << img.w * img.h * 4 << ", " << img.w << ", " << img.h << "};\n";
  }
  h << "\n#endif\n";
  return static_cast<bool>(h.flush()) && static_cast<bool>(s.flush());
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc != 4) {
    std::fprintf(stderr, "usage: make-osd-images <label font.ttf> <out.h> <out.cpp>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  g_font.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  g_font.ok = !g_font.file.empty() && stbtt_InitFont(&g_font.info, g_font.file.data(), 0) != 0;
  if (!g_font.ok) {
    std::fprintf(stderr, "make-osd-images: %s is not a TrueType font\n", argv[1]);
    return 1;
  }
  std::vector<Image> images = AllImages();
  if (!Write(images, argv[2], argv[3])) {
    std::fprintf(stderr, "make-osd-images: cannot write %s or %s\n", argv[2], argv[3]);
    return 1;
  }
  std::printf("make-osd-images: %zu images\n", images.size());
  return 0;
}
