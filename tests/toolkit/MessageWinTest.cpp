// MessageWinTest.cpp -- the message window on the simulator's screen and
// the checked drawing calls' warnings.
#include <chrono>
#include <cstdlib>

#include "FirmwareBinding.h"
#include "FirmwareState.h"
#include "LogTrace.h"
#include "MessageWin.h"
#include "SimFixture.h"

namespace {

constexpr const char *kTkLog = "/mnt/hd/ProgramFiles/Settings/TKLib.log";

class MessageWinTest : public SimTest {
 protected:
  // drawn by the host task, outside any event handler: a shot after every sync
  void Configure(sim::Config &c) override
  {
    c.screenshotDir = sandbox / "shots";
    c.screenshotsEverySync = true;
  }
  void SetUp() override
  {
    SimTest::SetUp();
    FIS_ResetCache();
    WriteFile(kTkLog, "");
    tkl_rgn = 0;
  }
  std::string TkLog() const { return ReadFile(kTkLog); }
  bool Has(const std::string &line) const { return TkLog().find(line) != std::string::npos; }
  // Bounding box of the pixels of one colour on the visible screen.
  struct Bounds {
    int x0 = 9999, y0 = 9999, x1 = -1, y1 = -1, count = 0;
  };
  Bounds Find(uint32_t colour) const
  {
    Bounds b;
    for (int y = 0; y < 576; y++)
      for (int x = 0; x < 720; x++)
        if (Rx().ScreenPixel(x, y) == colour) {
          b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y), b.x1 = std::max(b.x1, x), b.y1 = std::max(b.y1, y);
          b.count++;
        }
    return b;
  }
};

TEST_F(MessageWinTest, MissingFontWindowIsCentredInItsColoursAndGoneAfterItsDelay)
{
  TAP_Osd_Sync();
  const uint32_t picture = Rx().ScreenPixel(360, 288);
  ShowMessageWin("FRX Setup V1.17", "failed to load Calibri_14.ufnt", "Please install the font", 0);
  Bounds border = Find(MW_BORDER_COLOUR), back = Find(MW_BACK_COLOUR);
  ASSERT_GT(border.count, 0);
  EXPECT_NEAR((border.x0 + border.x1) / 2, 360, 1) << "centred across";
  EXPECT_NEAR((border.y0 + border.y1) / 2, 288, 1) << "centred down";
  EXPECT_EQ(26 + 10 + 2 * 26, border.y1 - border.y0 + 1) << "title and two lines of font size 2";
  EXPECT_EQ(border.x0 + 5, back.x0) << "a border of a quarter margin";
  EXPECT_GT(Find(MW_TITLE_COLOUR).count, 20) << "title pixels";
  EXPECT_GT(Find(MW_TEXT_COLOUR).count, 40) << "text pixels";
  Bounds title = Find(MW_TITLE_COLOUR), text = Find(MW_TEXT_COLOUR);
  EXPECT_LT(title.y1, text.y0) << "the title above the lines";
  // the text keeps a margin inside its frame
  EXPECT_GE(text.x0, back.x0 + 8);
  EXPECT_LE(text.x1, back.x1 - 8);
  EXPECT_GE(title.x0, back.x0 + 8);
  ASSERT_NE(0, tkl_rgn);
  // FERROX_KEEP_SCREENSHOTS=DIR keeps a PNG of the window to look at
  if (const char *keep = std::getenv("FERROX_KEEP_SCREENSHOTS"))
    fs::copy_file(Rx().WriteScreenshot(), fs::path(keep) / "message-window.png", fs::copy_options::overwrite_existing);
  EndMessageWin();
  EXPECT_EQ(picture, Rx().ScreenPixel(360, 288));
  EXPECT_EQ(0, Rx().OsdRegionCount()) << "the memory region is gone too";

  // with a delay: shown, then removed 300 ticks later, at once on the virtual clock
  dword before = Rx().Ticks();
  ShowMessageWin("FRX Setup V1.17", "failed to load Calibri_14.ufnt", "Please install the font", 300);
  EXPECT_EQ(before + 300, Rx().Ticks());
  EXPECT_EQ(picture, Rx().ScreenPixel(360, 288));
  EXPECT_EQ(0, tkl_rgn);
  EXPECT_GE(HostTree(sandbox / "shots").size(), 3u) << "the window was written as a PNG";
  EXPECT_EQ("", TkLog()) << "no warnings";
}

TEST_F(MessageWinTest, LinesThatWouldReachTheBottomAreLeftOut)
{
  std::vector<std::string> texts(40, "line");
  std::vector<const char *> lines = {"Title"};
  for (const std::string &t : texts) lines.push_back(t.c_str());
  lines.push_back(nullptr);
  ShowMessageWindow(lines.data(), 720, 576, 2, 1, MW_COLOURS, 0);
  Bounds b = Find(MW_BORDER_COLOUR);
  EXPECT_LT(b.y1 - b.y0 + 1, 576);
  EXPECT_EQ(0, (b.y1 - b.y0 + 1 - 36) % 26) << "whole lines only";
  // placed at y 500: only what fits below it
  ShowMessageWindow(lines.data(), 10, 500, 0, 0, MW_COLOURS, 0);
  b = Find(MW_BORDER_COLOUR);
  EXPECT_EQ(500, b.y0);
  EXPECT_LT(b.y1, 576);
  EXPECT_EQ(10, b.x0);
}

TEST_F(MessageWinTest, TitleWiderThanTheScreenGivesAFullWidthWindow)
{
  std::string wide(200, 'W');
  const char *lines[] = {wide.c_str(), "x", nullptr};
  ShowMessageWindow(lines, 720, 576, 2, 1, MW_COLOURS, 0);
  Bounds b = Find(MW_BORDER_COLOUR);
  EXPECT_EQ(0, b.x0);
  EXPECT_EQ(719, b.x1);
  EXPECT_EQ(720, _osdInfo[tkl_rgn].Width);
  EndMessageWin();
}

TEST_F(MessageWinTest, CheckedCallsWarnInTheirWordsAndStillCall)
{
  int r = TAP_Osd_Create_Chk("Here", 700, 0, 40, 10, 0, 0);
  EXPECT_TRUE(Has("TAP_Osd_Create_Chk Warning: x(700) + w(40) out of range @ Here")) << TkLog();
  EXPECT_TRUE(Has("TAP_Osd_Create_Chk Warning: TAP_Osd_Create() returned " + std::to_string(r) + " @ Here"))
      << "the platform refused the region it was asked for";
  int ok = TAP_Osd_Create_Chk("Ok", 0, 0, 100, 50, 0, 0);
  ASSERT_GE(ok, 128);
  EXPECT_EQ(100, GetOSDRegionWidth(static_cast<word>(ok)));
  EXPECT_EQ(50, GetOSDRegionHeight(static_cast<word>(ok)));
  EXPECT_TRUE(isOSDRegionAlive(static_cast<word>(ok)));
  EXPECT_FALSE(isOSDRegionAlive(200));

  struct Case {
    dword x, y, w, h;
    const char *line;
  } fills[] = {{100, 0, 1, 1, "TAP_Osd_FillBox_Chk Warning: x(100) out of range @ F"},
               {0, 50, 1, 1, "TAP_Osd_FillBox_Chk Warning: y(50) out of range @ F"},
               {90, 0, 20, 1, "TAP_Osd_FillBox_Chk Warning: x(90) + w(20) out of range @ F"},
               {0, 40, 1, 20, "TAP_Osd_FillBox_Chk Warning: y(40) + h(20) out of range @ F"},
               {0xFFFFFFFF, 0, 1, 1, "TAP_Osd_FillBox_Chk Warning: x(-1) out of range @ F"}};
  for (const Case &c : fills) {
    int result = TAP_Osd_FillBox_Chk("F", static_cast<word>(ok), c.x, c.y, c.w, c.h, 0xFFFFFFFF);
    EXPECT_TRUE(Has(c.line)) << c.line << "\n" << TkLog();
    EXPECT_TRUE(Has("TAP_Osd_FillBox_Chk Warning: TAP_Osd_FillBox() returned " + std::to_string(result) + " @ F"));
  }
  TAP_Osd_FillBox_Chk("U", 200, 0, 0, 1, 1, 0);
  EXPECT_TRUE(Has("TAP_Osd_FillBox_Chk Warning: rgn(200) points to an undefined region @ U"));

  int m = TAP_Osd_Create_Chk("M", 0, 0, 10, 10, 0, TAP_OSD_MEMORY_REGION);
  TAP_Osd_Copy_Chk("C", static_cast<word>(m), static_cast<word>(ok), 8, 9, 4, 4, 98, 48, false);
  for (const char *line : {"TAP_Osd_Copy_Chk Warning: (srcX(8) + w(4)) > srcRgnW(10) @ C",
                           "TAP_Osd_Copy_Chk Warning: (srcY(9) + h(4)) > srcRgnH(10) @ C",
                           "TAP_Osd_Copy_Chk Warning: (dstX(98) + w(4)) > dstRgnW(100) @ C",
                           "TAP_Osd_Copy_Chk Warning: (dstY(48) + h(4)) > dstRgnH(50) @ C",
                           "TAP_Osd_Copy_Chk Warning: TAP_Osd_Copy() returned -1 @ C"})
    EXPECT_TRUE(Has(line)) << line << "\n" << TkLog();
  TAP_Osd_Copy_Chk("D", static_cast<word>(m), static_cast<word>(ok), 10, 10, 0, 0, 100, 50, false);
  for (const char *line : {"TAP_Osd_Copy_Chk Warning: srcX(10) >= srcRgnW(10) @ D",
                           "TAP_Osd_Copy_Chk Warning: srcY(10) >= srcRgnH(10) @ D",
                           "TAP_Osd_Copy_Chk Warning: dstX(100) >= dstRgnW(100) @ D",
                           "TAP_Osd_Copy_Chk Warning: dstY(50) >= dstRgnH(50) @ D"})
    EXPECT_TRUE(Has(line)) << line << "\n" << TkLog();
}

TEST_F(MessageWinTest, NullTagChecksNothing)
{
  TAP_Osd_FillBox_Chk(nullptr, 200, 0, 0, 1, 1, 0);
  TAP_Osd_Create_Chk(nullptr, 700, 0, 40, 10, 0, 0);
  EXPECT_EQ("", TkLog());
}

class NoRegionTable : public MessageWinTest {
 protected:
  void Configure(sim::Config &c) override { c.missingSymbols = {"_osdInfo"}; }
};

TEST_F(NoRegionTable, SizesReadZeroAndEveryCheckReports)
{
  int r = TAP_Osd_Create(0, 0, 100, 100, 0, 0);
  EXPECT_EQ(0, GetOSDRegionWidth(static_cast<word>(r)));
  EXPECT_EQ(0, GetOSDRegionHeight(static_cast<word>(r)));
  EXPECT_FALSE(isOSDRegionAlive(static_cast<word>(r)));
  EXPECT_EQ(0, TAP_Osd_FillBox_Chk("T", static_cast<word>(r), 0, 0, 1, 1, 0xFF000000)) << "the call is still made";
  EXPECT_TRUE(Has("TAP_Osd_FillBox_Chk Warning: rgn(" + std::to_string(r) + ") points to an undefined region @ T"));
}

}  // namespace
