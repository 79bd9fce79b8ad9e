// ScreenTest.cpp -- the simulator's on-screen display: regions with their
// own pixels, every drawing call landing exactly, composing over the TV
// picture, screenshots, the blocking delay, and random arguments that never
// write outside a buffer.
#include <random>

#include "FirmwareState.h"
#include "GdCodec.h"
#include "SimFixture.h"
#include "tap_api.h"

namespace {

class ScreenTest : public SimTest {
 protected:
  // the host task draws outside any event handler: a shot after every sync
  void Configure(sim::Config &c) override
  {
    c.screenshotDir = sandbox / "shots";
    c.screenshotsEverySync = true;
  }
  uint32_t Px(int region, int x, int y) const { return Rx().RegionPixel(region, x, y); }
  // The pixels of a small test image: a red and a transparent column.
  static std::vector<uint32_t> Image() { return {0xFFFF0000, 0x00000000, 0xFFFF0000, 0x00000000}; }
};

TEST_F(ScreenTest, RegionsAreNumberedFrom128AndSitInTheRegionTable)
{
  int a = TAP_Osd_Create(10, 20, 300, 200, 0, 0);
  int m = TAP_Osd_Create(0, 0, 100, 34, 0, TAP_OSD_MEMORY_REGION);
  EXPECT_EQ(128, a);
  EXPECT_EQ(129, m);
  EXPECT_EQ(10, _osdInfo[a].x);
  EXPECT_EQ(20, _osdInfo[a].y);
  EXPECT_EQ(300, _osdInfo[a].Width);
  EXPECT_EQ(200, _osdInfo[a].Height);
  for (auto [x, y, w, h] : {std::tuple{0u, 0u, 0u, 10u}, {700u, 0u, 40u, 10u}, {0u, 0xFFFFFFF0u, 10u, 0x20u}})
    EXPECT_LT(TAP_Osd_Create(x, y, w, h, 0, 0), 128) << x << " " << y << " " << w << " " << h;
  EXPECT_EQ(0, TAP_Osd_Delete(static_cast<word>(a)));
  EXPECT_EQ(0, _osdInfo[a].Width);
  EXPECT_EQ(-1, TAP_Osd_FillBox(static_cast<word>(a), 0, 0, 1, 1, 0xFFFFFFFF)) << "a deleted region";
}

TEST_F(ScreenTest, DrawingCallsLandExactly)
{
  int r = TAP_Osd_Create(0, 0, 100, 80, 0, 0);
  ASSERT_EQ(0, TAP_Osd_FillBox(r, 10, 10, 5, 3, 0xFF112233));
  EXPECT_EQ(0xFF112233u, Px(r, 10, 10));
  EXPECT_EQ(0xFF112233u, Px(r, 14, 12));
  EXPECT_EQ(0u, Px(r, 15, 12));
  EXPECT_EQ(0u, Px(r, 14, 13));

  TAP_Osd_DrawRectangle(r, 20, 20, 10, 8, 2, 0xFF00FF00);
  EXPECT_EQ(0xFF00FF00u, Px(r, 20, 20));
  EXPECT_EQ(0xFF00FF00u, Px(r, 21, 21));
  EXPECT_EQ(0u, Px(r, 22, 22)) << "inside the outline";
  EXPECT_EQ(0xFF00FF00u, Px(r, 29, 27));
  EXPECT_EQ(0xFF00FF00u, Px(r, 28, 26));
  EXPECT_EQ(0u, Px(r, 30, 27));

  TAP_Osd_Draw3dBoxFill(r, 40, 40, 6, 6, 0xFFFFFFFF, 0xFF000000, 0xFF808080);
  EXPECT_EQ(0xFFFFFFFFu, Px(r, 40, 42));
  EXPECT_EQ(0xFF000000u, Px(r, 45, 42));
  EXPECT_EQ(0xFF808080u, Px(r, 42, 42));

  std::vector<uint8_t> data = sim::GdEncode(Image());
  TapGrData gd{GD_FORMAT_ARGB_RLE, data.data(), 16, 2, 2};
  TAP_Osd_FillBox(r, 60, 60, 2, 2, 0xFF0000FF);
  ASSERT_EQ(0, TAP_Osd_PutGd(r, 60, 60, &gd, true));
  EXPECT_EQ(0xFFFF0000u, Px(r, 60, 60));
  EXPECT_EQ(0xFF0000FFu, Px(r, 61, 60)) << "sprite: transparent pixels are keyed out";
  ASSERT_EQ(0, TAP_Osd_PutGd(r, 60, 60, &gd, false));
  EXPECT_EQ(0u, Px(r, 61, 60)) << "without sprite every pixel is taken";
  TapGrData bad = gd;
  bad.Height = 3;
  bad.Size = 24;
  EXPECT_EQ(-1, TAP_Osd_PutGd(r, 0, 0, &bad, false)) << "data that does not make the image";
}

TEST_F(ScreenTest, CopyWithAndWithoutSpriteAndSaveRestoreGiveThePixelsBack)
{
  int src = TAP_Osd_Create(0, 0, 50, 50, 0, TAP_OSD_MEMORY_REGION);
  int dst = TAP_Osd_Create(100, 100, 50, 50, 0, 0);
  TAP_Osd_FillBox(src, 0, 0, 4, 4, 0xFFAA0000);
  TAP_Osd_FillBox(src, 1, 1, 2, 2, 0x00000000);
  TAP_Osd_FillBox(dst, 0, 0, 50, 50, 0xFF00AA00);
  ASSERT_EQ(0, TAP_Osd_Copy(src, dst, 0, 0, 4, 4, 10, 10, true));
  EXPECT_EQ(0xFFAA0000u, Px(dst, 10, 10));
  EXPECT_EQ(0xFF00AA00u, Px(dst, 11, 11)) << "sprite keeps what lies under transparent pixels";
  ASSERT_EQ(0, TAP_Osd_Copy(src, dst, 0, 0, 4, 4, 20, 20, false));
  EXPECT_EQ(0u, Px(dst, 21, 21));
  EXPECT_EQ(-1, TAP_Osd_Copy(src, dst, 48, 0, 4, 4, 0, 0, false));

  std::vector<uint32_t> before;
  for (int y = 0; y < 50; y++)
    for (int x = 0; x < 50; x++) before.push_back(Px(dst, x, y));
  byte *saved = TAP_Osd_SaveBox(dst, 0, 0, 50, 50);
  ASSERT_NE(nullptr, saved);
  TAP_Osd_FillBox(dst, 5, 5, 40, 40, 0xFF123456);
  TAP_Osd_RestoreBox(dst, 0, 0, 50, 50, saved);
  TAP_MemFree(saved);
  for (int y = 0, i = 0; y < 50; y++)
    for (int x = 0; x < 50; x++, i++) ASSERT_EQ(before[i], Px(dst, x, y)) << x << "," << y;
}

TEST_F(ScreenTest, SyncComposesShownRegionsOverThePictureByPlane)
{
  // the TV shows its picture from the start (a web page opened before the
  // first sync shows it too); a sync without menus changes nothing
  const uint32_t picture = Rx().ScreenPixel(5, 5);
  EXPECT_EQ(0xFFu, picture >> 24);
  EXPECT_NE(0xFF000000u, picture) << "not black";
  TAP_Osd_Sync();
  EXPECT_EQ(picture, Rx().ScreenPixel(5, 5));
  int low = TAP_Osd_Create(0, 0, 20, 20, 0, 0);
  int high = TAP_Osd_Create(10, 10, 20, 20, 1, 0);
  int memory = TAP_Osd_Create(0, 0, TAP_SCREEN_W, TAP_SCREEN_H, 2, TAP_OSD_MEMORY_REGION);
  TAP_Osd_FillBox(memory, 0, 0, 720, 576, 0xFFFFFFFF);
  TAP_Osd_FillBox(low, 0, 0, 20, 20, 0xFFFF0000);
  TAP_Osd_FillBox(high, 0, 0, 20, 20, 0xFF0000FF);
  EXPECT_EQ(picture, Rx().ScreenPixel(5, 5)) << "nothing shows before the sync";
  TAP_Osd_Sync();
  EXPECT_EQ(0xFFFF0000u, Rx().ScreenPixel(5, 5));
  EXPECT_EQ(0xFF0000FFu, Rx().ScreenPixel(15, 15)) << "the higher plane on top";
  EXPECT_EQ(Rx().ScreenPixel(700, 500) >> 24, 0xFFu);
  EXPECT_NE(0xFFFFFFFFu, Rx().ScreenPixel(700, 500)) << "a memory region is never shown";
  // a sync that changed the screen wrote a screenshot, one that did not wrote none
  size_t shots = HostTree(sandbox / "shots").size();
  EXPECT_EQ(1u, shots) << "the drawing; the first sync changed nothing";
  TAP_Osd_Sync();
  EXPECT_EQ(shots, HostTree(sandbox / "shots").size());
}

TEST_F(ScreenTest, TextIsDrawnInTheGivenColoursAndCutAtTheRightLimit)
{
  int r = TAP_Osd_Create(0, 0, 400, 40, 0, 0);
  const char *text = "Ferrox \xC4rger";  // 8-bit text with an A umlaut
  int w = TAP_Osd_GetW(text, 0, 2);
  EXPECT_GT(w, TAP_Osd_GetW("Ferrox", 0, 2));
  EXPECT_GT(TAP_Osd_GetW(text, 0, 2), TAP_Osd_GetW(text, 0, 0)) << "bigger sizes are wider";
  ASSERT_EQ(0, TAP_Osd_PutS(r, 0, 0, 60, text, 0xFFFFFFFF, 0xFF000080, 0, 2, 0, 0));
  int bright = 0, beyond = 0;
  for (int y = 0; y < 40; y++)
    for (int x = 0; x < 400; x++) {
      uint32_t p = Px(r, x, y);
      if (p == 0xFFFFFFFF) x < 60 ? bright++ : beyond++;
    }
  EXPECT_GT(bright, 20) << "glyph pixels in the text colour";
  EXPECT_EQ(0, beyond) << "nothing right of the limit";
  EXPECT_EQ(0xFF000080u, Px(r, 59, 1)) << "the background colour up to the limit";
  EXPECT_EQ(0u, Px(r, 61, 1));
}

TEST_F(ScreenTest, DelayAdvancesTheVirtualClockAtOnceAndNormalModeIsTracked)
{
  dword before = Rx().Ticks();
  auto t0 = std::chrono::steady_clock::now();
  TAP_Delay(300);
  EXPECT_EQ(before + 300, Rx().Ticks());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
  EXPECT_TRUE(Rx().NormalPicture());
  TAP_ExitNormal();
  EXPECT_FALSE(Rx().NormalPicture());
  TAP_EnterNormal();
  EXPECT_TRUE(Rx().NormalPicture());
}

// Thousands of calls with arguments from anywhere: refused or clipped,
// never out of a buffer (run under the sanitizer preset too).
TEST_F(ScreenTest, RandomArgumentsNeverWriteOutsideABuffer)
{
  std::mt19937 rng(7);
  auto any = [&]() -> dword {
    switch (rng() % 4) {
      case 0: return rng() % 800;
      case 1: return 0xFFFFFFFFu - rng() % 100;
      case 2: return rng();
      default: return rng() % 40;
    }
  };
  std::vector<uint8_t> data = sim::GdEncode(std::vector<uint32_t>(12, 0xFF445566));
  for (int i = 0; i < 20000; i++) {
    word region = static_cast<word>(rng() % 3 == 0 ? rng() : 128 + rng() % 8);
    switch (rng() % 9) {
      case 0:
        TAP_Osd_Create(any(), any(), any(), any(), static_cast<byte>(rng()), rng() % 2 ? TAP_OSD_MEMORY_REGION : 0);
        break;
      case 1: TAP_Osd_Delete(region); break;
      case 2: TAP_Osd_FillBox(region, any(), any(), any(), any(), rng()); break;
      case 3: TAP_Osd_DrawRectangle(region, any(), any(), any(), any(), any(), rng()); break;
      case 4: TAP_Osd_Draw3dBoxFill(region, any(), any(), any(), any(), rng(), rng(), rng()); break;
      case 5:
        TAP_Osd_Copy(region, static_cast<word>(128 + rng() % 8), any(), any(), any(), any(), any(), any(), rng() % 2);
        break;
      case 6: {
        TapGrData gd{GD_FORMAT_ARGB_RLE, data.data(), 48, 4, 3};
        TAP_Osd_PutGd(region, static_cast<int>(any()), static_cast<int>(any()), &gd, rng() % 2);
        break;
      }
      case 7: {
        byte *b = TAP_Osd_SaveBox(region, any(), any(), rng() % 50, rng() % 50);
        if (b) TAP_MemFree(b);
        break;
      }
      default:
        TAP_Osd_PutS(region, any(), any(), any(), "Zufall \xE4\xF6\xFC", rng(), rng(), 0, static_cast<byte>(rng()), 0,
                     static_cast<byte>(rng() % 3));
        break;
    }
  }
  TAP_Osd_Sync();
  // what is left is a screen of regions the firmware could hold
  EXPECT_LE(Rx().OsdRegionCount(), TAP_REGION_SLOTS);
  EXPECT_EQ(static_cast<size_t>(TAP_SCREEN_W) * TAP_SCREEN_H, Rx().Screen().size());
  EXPECT_EQ(20000u, Rx().CallCount("TAP_Osd_Create") + Rx().CallCount("TAP_Osd_Delete") +
                        Rx().CallCount("TAP_Osd_FillBox") + Rx().CallCount("TAP_Osd_DrawRectangle") +
                        Rx().CallCount("TAP_Osd_Draw3dBoxFill") + Rx().CallCount("TAP_Osd_Copy") +
                        Rx().CallCount("TAP_Osd_PutGd") + Rx().CallCount("TAP_Osd_SaveBox") +
                        Rx().CallCount("TAP_Osd_PutS"))
      << "every call was taken, none of them ended the run";
}

}  // namespace
