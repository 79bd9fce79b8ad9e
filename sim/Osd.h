// Osd.h -- the receiver's on-screen display (bottom side): 720 x 576 ARGB,
// regions with their own pixels, on screen or in memory, composed over a
// plain TV picture at every sync; PNG screenshots; the receiver's own font.
//
// Coordinates and sizes reaching this class are checked by the API calls
// (ScreenApi.cpp); every drawing routine clips to its region all the same,
// so nothing can write outside a buffer.
#pragma once

#include <cstdint>
#include "tap_api.h"
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sim {

constexpr int kScreenW = TAP_SCREEN_W, kScreenH = TAP_SCREEN_H;
constexpr int kFirstRegion = TAP_FIRST_REGION, kRegionSlots = TAP_REGION_SLOTS;  // numbers 128..255

struct OsdRegion {
  int x = 0, y = 0, w = 0, h = 0;  // place and size on the screen
  int plane = 0;                   // stacking order, then creation order
  bool memory = false;             // off screen, never shown
  uint64_t serial = 0;             // creation order
  std::vector<uint32_t> pixels;    // w * h ARGB words, row by row
  uint32_t &At(int px, int py) { return pixels[static_cast<size_t>(py) * w + px]; }
};

class Osd {
 public:
  int Create(int x, int y, int w, int h, int plane, bool memory);  // region or -1
  bool Delete(int region);
  OsdRegion *Region(int region);  // null when it does not exist
  const OsdRegion *Region(int region) const;
  int RegionCount() const { return static_cast<int>(regions_.size()); }

  // Drawing, clipped to the region.
  void Fill(OsdRegion &r, int x, int y, int w, int h, uint32_t colour);
  void Blend(OsdRegion &r, int x, int y, uint32_t colour, int coverage);  // 0..255
  void Put(OsdRegion &r, int x, int y, uint32_t colour, bool sprite);

  // The visible screen: on-screen regions over the TV picture. True when it
  // changed since the last compose.
  bool Compose();
  uint32_t Pixel(int x, int y) const;                              // of the last compose
  const std::vector<uint32_t> &Screen() const { return screen_; }  // kScreenW * kScreenH, row by row
  bool WritePng(const std::filesystem::path &file) const;
  uint64_t Syncs() const { return syncs_; }

  bool normalPicture = true;  // TAP_EnterNormal / TAP_ExitNormal

 private:
  static std::vector<uint32_t> TvPicture();
  std::map<int, OsdRegion> regions_;
  // what the TV shows before any sync: the picture without menus
  std::vector<uint32_t> screen_ = TvPicture();
  uint64_t serial_ = 0, syncs_ = 0;
};

// A PNG of a composed screen (kScreenW x kScreenH ARGB words, shown opaque,
// as the TV does); "" when it cannot be encoded.
std::string EncodeScreenPng(const std::vector<uint32_t> &screen);

// The receiver's own proportional font (a TrueType font of the host),
// sizes 0, 1 and 2; text as 8-bit ISO 8859-1.
int OsdTextWidth(const std::string &text, int fontSize);
int OsdLineHeight(int fontSize);
// Draws the text with its baseline below y, from x, never past maxX; the
// coverage of each pixel goes to `plot`.
void OsdDrawText(const std::string &text, int fontSize, int x, int y, int maxX,
                 void (*plot)(void *ctx, int px, int py, int coverage), void *ctx);

}  // namespace sim
