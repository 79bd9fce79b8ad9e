// Osd.cpp -- regions, pixels, composing the visible screen and PNG output.
#include "Osd.h"

#include <algorithm>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_FALLBACK
#include <stb_image_write.h>

namespace sim {

int Osd::Create(int x, int y, int w, int h, int plane, bool memory)
{
  for (int n = kFirstRegion; n < kFirstRegion + kRegionSlots; ++n) {
    if (regions_.count(n)) continue;
    OsdRegion &r = regions_[n];
    r.x = x;
    r.y = y;
    r.w = w;
    r.h = h;
    r.plane = plane;
    r.memory = memory;
    r.serial = ++serial_;
    r.pixels.assign(static_cast<size_t>(w) * h, 0);
    return n;
  }
  return -1;
}

bool Osd::Delete(int region) { return regions_.erase(region) == 1; }

OsdRegion *Osd::Region(int region)
{
  auto it = regions_.find(region);
  return it == regions_.end() ? nullptr : &it->second;
}

const OsdRegion *Osd::Region(int region) const
{
  auto it = regions_.find(region);
  return it == regions_.end() ? nullptr : &it->second;
}

void Osd::Fill(OsdRegion &r, int x, int y, int w, int h, uint32_t colour)
{
  int x0 = std::max(x, 0), y0 = std::max(y, 0);
  int x1 = std::min<long long>(static_cast<long long>(x) + w, r.w),
      y1 = std::min<long long>(static_cast<long long>(y) + h, r.h);
  for (int py = y0; py < y1; ++py)
    for (int px = x0; px < x1; ++px) r.At(px, py) = colour;
}

// src over dst, both ARGB, src weighted by alpha a (0..255).
static uint32_t Over(uint32_t dst, uint32_t src, unsigned a)
{
  auto mix = [a](uint32_t d, uint32_t s) { return (s * a + d * (255 - a) + 127) / 255; };
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) out |= mix((dst >> shift) & 0xFF, (src >> shift) & 0xFF) << shift;
  unsigned da = dst >> 24;
  return out | static_cast<uint32_t>(a + da * (255 - a) / 255) << 24;
}

void Osd::Blend(OsdRegion &r, int x, int y, uint32_t colour, int coverage)
{
  if (x < 0 || y < 0 || x >= r.w || y >= r.h || coverage <= 0) return;
  unsigned a = static_cast<unsigned>(std::min(coverage, 255)) * (colour >> 24) / 255;
  r.At(x, y) = Over(r.At(x, y), colour | 0xFF000000u, a);
}

void Osd::Put(OsdRegion &r, int x, int y, uint32_t colour, bool sprite)
{
  if (x < 0 || y < 0 || x >= r.w || y >= r.h) return;
  if (sprite && (colour >> 24) == 0) return;  // transparent pixels are keyed out
  r.At(x, y) = colour;
}

// The TV picture behind the menus: a calm dark gradient.
static uint32_t Picture(int x, int y)
{
  unsigned t = static_cast<unsigned>(y) * 255 / kScreenH, s = static_cast<unsigned>(x) * 40 / kScreenW;
  unsigned r = 40 - t * 24 / 255 + s / 4, g = 58 - t * 30 / 255 + s / 3, b = 84 - t * 36 / 255 + s / 2;
  return 0xFF000000u | r << 16 | g << 8 | b;
}

std::vector<uint32_t> Osd::TvPicture()
{
  std::vector<uint32_t> screen(kScreenW * kScreenH);
  for (int y = 0; y < kScreenH; ++y)
    for (int x = 0; x < kScreenW; ++x) screen[static_cast<size_t>(y) * kScreenW + x] = Picture(x, y);
  return screen;
}

bool Osd::Compose()
{
  std::vector<const OsdRegion *> shown;
  for (const auto &[n, r] : regions_)
    if (!r.memory) shown.push_back(&r);
  std::sort(shown.begin(), shown.end(), [](const OsdRegion *a, const OsdRegion *b) {
    return a->plane != b->plane ? a->plane < b->plane : a->serial < b->serial;
  });
  std::vector<uint32_t> next = TvPicture();
  for (const OsdRegion *r : shown)
    for (int py = 0; py < r->h && r->y + py < kScreenH; ++py)
      for (int px = 0; px < r->w && r->x + px < kScreenW; ++px) {
        uint32_t c = r->pixels[static_cast<size_t>(py) * r->w + px];
        uint32_t &d = next[static_cast<size_t>(r->y + py) * kScreenW + r->x + px];
        d = Over(d, c, c >> 24);
      }
  syncs_++;
  bool changed = next != screen_;
  screen_.swap(next);
  return changed;
}

uint32_t Osd::Pixel(int x, int y) const
{
  if (x < 0 || y < 0 || x >= kScreenW || y >= kScreenH) return 0;
  return screen_[static_cast<size_t>(y) * kScreenW + x];
}

std::string EncodeScreenPng(const std::vector<uint32_t> &screen)
{
  if (screen.size() != static_cast<size_t>(kScreenW) * kScreenH) return "";
  std::vector<uint8_t> rgba(screen.size() * 4);
  for (size_t i = 0; i < screen.size(); ++i) {
    uint32_t c = screen[i];
    rgba[i * 4] = static_cast<uint8_t>(c >> 16);
    rgba[i * 4 + 1] = static_cast<uint8_t>(c >> 8);
    rgba[i * 4 + 2] = static_cast<uint8_t>(c);
    rgba[i * 4 + 3] = 0xFF;  // the TV shows no transparency
  }
  int len = 0;
  unsigned char *png = stbi_write_png_to_mem(rgba.data(), kScreenW * 4, kScreenW, kScreenH, 4, &len);
  if (png == nullptr) return "";
  std::string out(reinterpret_cast<const char *>(png), static_cast<size_t>(len));
  STBIW_FREE(png);
  return out;
}

bool Osd::WritePng(const std::filesystem::path &file) const
{
  std::string png = EncodeScreenPng(screen_);
  if (png.empty()) return false;
  FILE *f = std::fopen(file.c_str(), "wb");
  bool ok = f && std::fwrite(png.data(), 1, png.size(), f) == png.size();
  if (f) ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace sim
