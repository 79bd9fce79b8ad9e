// OSDMenuTest.cpp -- the menu framework on the simulator's screen: cursor
// movement and paging, the item table's limits, the drawing at its
// coordinates and colours, platform calls per redraw, and key translation.
#include <cstring>
#include <fstream>

#include "../../tools/FirmwareDat.h"
#include "Cli.h"
#include "FirmwareBinding.h"
#include "MessageWin.h"
#include "OSDMenu.h"
#include "OsdImages.h"
#include "PathTypes.h"
#include "MenuReset.h"
#include "SimFixture.h"
#include "GdCodec.h"

namespace {

// Pixels of an embedded image.
std::vector<dword> Decode(const TapGrData &gd)
{
  std::vector<dword> px(static_cast<size_t>(gd.Width) * gd.Height);
  EXPECT_EQ(1, sim::GdDecode(gd.Data, px.data(), px.size()));
  return px;
}

class MenuTest : public SimTest {
 protected:
  void Configure(sim::Config &c) override { c.screenshotDir = sandbox / "shots"; }
  void SetUp() override
  {
    SimTest::SetUp();
    FIS_ResetCache();
    ResetMenuFramework();
    tkl_rgn = 0;
    std::string error;
    ASSERT_EQ(7, sim::InstallFonts(sandbox / "root", sim::StandardFontDir(), &error)) << error;
  }
  void TearDown() override
  {
    OSDMenuDestroy();  // gives the fonts back while their receiver runs
    ResetMenuFramework();
    SimTest::TearDown();
  }
  // A menu of `count` items "Item 0", "Item 1", ... with values; the
  // unselectable ones and those with arrows as given.
  void Build(int count, bool wrap = true, std::vector<int> unselectable = {}, std::vector<int> arrows = {})
  {
    OSDMenuInitialize(true, false, wrap, "Ferrox", "Test");
    for (int i = 0; i < count; i++) {
      std::string name = "Item " + std::to_string(i), value = "Value " + std::to_string(i);
      bool selectable = std::find(unselectable.begin(), unselectable.end(), i) == unselectable.end();
      bool arrow = std::find(arrows.begin(), arrows.end(), i) != arrows.end();
      ASSERT_TRUE(OSDMenuItemAdd(name.c_str(), value.c_str(), nullptr, nullptr, selectable, arrow, i));
    }
    OSDMenuUpdate(false);
  }
  bool Key(dword code)
  {
    word event = EVT_KEY;
    dword key = code, p2 = 0;
    bool handled = OSDMenuEvent(&event, &key, &p2);
    if (handled) {
      EXPECT_EQ(0u, key) << "a handled key is cleared";
    }
    return handled;
  }
  int Top() const { return Menu[0].CurrentTopIndex; }
  uint32_t Px(int x, int y) const { return Rx().RegionPixel(OSDRgn, x, y); }
  // True when every opaque pixel of the image is on the menu at (x, y).
  bool Shows(const TapGrData &gd, int x, int y) const
  {
    std::vector<dword> px = Decode(gd);
    for (int r = 0; r < gd.Height; r++)
      for (int c = 0; c < gd.Width; c++) {
        dword p = px[static_cast<size_t>(r) * gd.Width + c];
        if ((p >> 24) == 0xFF && Px(x + c, y + r) != p) return false;
      }
    return true;
  }
  // Rows from..to of the image only (where something else lies on the rest).
  bool ShowsRows(const TapGrData &gd, int x, int y, int from, int to) const
  {
    std::vector<dword> px = Decode(gd);
    for (int r = from; r <= to; r++)
      for (int c = 0; c < gd.Width; c++) {
        dword p = px[static_cast<size_t>(r) * gd.Width + c];
        if ((p >> 24) == 0xFF && Px(x + c, y + r) != p) return false;
      }
    return true;
  }
  // Pixels of the area that text of this colour leaves over a dark ground:
  // each channel at least a third of the colour's and near its proportions.
  int CountTinted(uint32_t colour, int x0, int y0, int x1, int y1) const
  {
    auto ch = [](uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
    int n = 0;
    for (int y = y0; y < y1; y++)
      for (int x = x0; x < x1; x++) {
        uint32_t p = Px(x, y);
        int peak = std::max({ch(p, 16), ch(p, 8), ch(p, 0)});
        if (peak < 0x70) continue;  // background, or an edge too faint to judge
        bool like = true;
        for (int s : {16, 8, 0})
          like =
              like && std::abs(ch(p, s) * 255 / peak -
                               ch(colour, s) * 255 / std::max({ch(colour, 16), ch(colour, 8), ch(colour, 0)})) < 0x50;
        n += like;
      }
    return n;
  }
  int CountColour(uint32_t colour, int x0, int y0, int x1, int y1) const
  {
    int n = 0;
    for (int y = y0; y < y1; y++)
      for (int x = x0; x < x1; x++) n += Px(x, y) == colour;
    return n;
  }
};

// ---- cursor and paging ----

struct Walk {
  const char *what;
  int count;
  bool wrap;
  std::vector<dword> keys;
  int cursor, top;
};

class MenuWalk : public MenuTest, public ::testing::WithParamInterface<Walk> {};

TEST_P(MenuWalk, CursorAndTopLine)
{
  const Walk &w = GetParam();
  Build(w.count, w.wrap);
  for (dword k : w.keys) Key(k);
  EXPECT_EQ(w.cursor, OSDMenuGetCurrentItem()) << w.what;
  EXPECT_EQ(w.top, Top()) << w.what;
}

std::vector<dword> Times(int n, dword key) { return std::vector<dword>(n, key); }

std::vector<dword> Then(std::vector<dword> a, const std::vector<dword> &b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const dword D = RKEY_Down, U = RKEY_Up, PD = RKEY_PageDown, PU = RKEY_PageUp;

INSTANTIATE_TEST_SUITE_P(
    Keys, MenuWalk,
    ::testing::Values(Walk{"twelve items show 0 to 9", 12, true, {}, 0, 0},
                      Walk{"down to the bottom line", 12, true, Times(9, D), 9, 0},
                      Walk{"down from the bottom line scrolls one", 12, true, Times(10, D), 10, 1},
                      Walk{"up back to item 0 scrolls to the top", 12, true, Then(Times(10, D), Times(10, U)), 0, 0},
                      Walk{"up from item 0 wraps to the last", 12, true, {U}, 11, 2},
                      Walk{"down from the last wraps to the first", 12, true, Then(Times(11, D), {D}), 0, 0},
                      Walk{"no wrap: up at item 0 stays", 12, false, {U}, 0, 0},
                      Walk{"no wrap: down at the last stays", 12, false, Times(13, D), 11, 2},
                      Walk{"page down to the bottom line", 12, true, {PD}, 9, 0},
                      Walk{"page down again to the last", 12, true, {PD, PD}, 11, 2},
                      Walk{"page down on the last wraps", 12, true, {PD, PD, PD}, 0, 0},
                      Walk{"page up to the top line", 12, true, {PD, PD, PU}, 2, 2},
                      Walk{"page up again to the first", 12, true, {PD, PD, PU, PU}, 0, 0},
                      Walk{"page up on the first wraps", 12, true, {PU}, 11, 2},
                      Walk{"second page keys", 12, true, {RKEY_PageDown2, RKEY_PageUp2}, 0, 0},
                      Walk{"left and right page without arrows", 12, true, {RKEY_Right, RKEY_Right, RKEY_Left}, 2, 2},
                      Walk{"one item", 1, true, {D, U, PD, PU, PD}, 0, 0},
                      Walk{"three items page down", 3, false, {PD}, 2, 0},
                      Walk{"three items page up", 3, false, {D, D, PU}, 0, 0},
                      Walk{"nine items page down", 9, true, {PD, PD}, 0, 0},
                      Walk{"thirty-five items page down", 35, false, {PD, PD, PD, PD}, 34, 25},
                      Walk{"empty menu", 0, true, {D, U, PD, PU}, 0, 0}),
    [](const auto &info) { return CaseName(info.param.what); });

TEST_F(MenuTest, UnselectableItemsAreSteppedOverAndNeverChosen)
{
  Build(12, true, {0, 5, 11});
  EXPECT_TRUE(OSDMenuSelectItem(4));
  Key(RKEY_Down);
  EXPECT_EQ(6, OSDMenuGetCurrentItem()) << "5 stepped over";
  EXPECT_FALSE(OSDMenuSelectItem(5)) << "an unselectable item";
  EXPECT_EQ(6, OSDMenuGetCurrentItem()) << "the cursor stays";
  EXPECT_TRUE(OSDMenuSelectItem(6)) << "already the cursor";
  EXPECT_FALSE(OSDMenuSelectItem(-40)) << "clamped to item 0, which cannot be chosen";
  OSDMenuSelectItem(1);
  Key(RKEY_Up);
  EXPECT_EQ(10, OSDMenuGetCurrentItem()) << "0 and 11 stepped over on the way round";
  Key(RKEY_PageDown);
  EXPECT_NE(11, OSDMenuGetCurrentItem()) << "a page never ends on an unselectable item";
}

TEST_F(MenuTest, AMenuWithoutSelectableItemsKeepsItsCursor)
{
  Build(4, true, {0, 1, 2, 3});
  for (dword k : {D, U, PD, PU}) Key(k);
  EXPECT_EQ(0, OSDMenuGetCurrentItem());
  EXPECT_EQ(-1, OSDMenuFindNextSelectableEntry(0));
  EXPECT_EQ(-1, OSDMenuFindPreviousSelectableEntry(3));
}

TEST_F(MenuTest, LeftAndRightGoToTheClientWhenValuesHaveArrows)
{
  Build(12, true, {}, {3});
  EXPECT_FALSE(Key(RKEY_Left));
  EXPECT_EQ(static_cast<int>(RKEY_Left), LastUnprocessedOSDMenuKey);
  EXPECT_FALSE(Key(RKEY_Right));
  EXPECT_EQ(0, OSDMenuGetCurrentItem());
  EXPECT_TRUE(Key(RKEY_Down));
  EXPECT_EQ(0, LastUnprocessedOSDMenuKey);
  EXPECT_FALSE(Key(RKEY_Ok));
  EXPECT_EQ(static_cast<int>(RKEY_Ok), LastUnprocessedOSDMenuKey);
  word idle = EVT_IDLE;
  dword key = RKEY_Down, p2 = 0;
  EXPECT_FALSE(OSDMenuEvent(&idle, &key, &p2)) << "not a key event";
  EXPECT_FALSE(OSDMenuEvent(nullptr, &key, &p2));
  OSDMenuDestroy();
  EXPECT_FALSE(Key(RKEY_Down)) << "no menu on the screen";
}

// ---- the item table ----

TEST_F(MenuTest, TheTableGrowsByThirtyAndKeepsItsItems)
{
  Build(30);
  EXPECT_EQ(30, Menu[0].MaxItems);
  ASSERT_TRUE(OSDMenuItemAdd("Item 30", "", nullptr, nullptr, true, false, 30));
  EXPECT_EQ(60, Menu[0].MaxItems);
  for (int i = 0; i <= 30; i++) EXPECT_EQ("Item " + std::to_string(i), OSDMenuItemGetName(i));
  EXPECT_EQ(31, OSDMenuItemGetNrOfItems());
  EXPECT_FALSE(OSDMenuItemAdd("", "x", nullptr, nullptr, true, false, 0));
  EXPECT_FALSE(OSDMenuItemAdd(nullptr, "x", nullptr, nullptr, true, false, 0));
  EXPECT_EQ(31, OSDMenuItemGetNrOfItems());
}

TEST_F(MenuTest, ItemCallsRefuseEveryIndexOutsideTheTable)
{
  Build(3);
  for (int index : {-1, 3, 1000, -2147483647 - 1, 2147483647}) {
    EXPECT_FALSE(OSDMenuItemModifyValue(index, "x")) << index;
    EXPECT_FALSE(OSDMenuItemModifyTextColor(index, 0xFFFFFF00)) << index;
    EXPECT_EQ(nullptr, OSDMenuItemGetName(index)) << index;
  }
  EXPECT_FALSE(OSDMenuItemModifyValue(1, nullptr));
  EXPECT_TRUE(OSDMenuItemModifyValue(1, "new"));
  EXPECT_STREQ("new", Menu[0].Item[1].Value);
  EXPECT_STREQ("Item 0", OSDMenuItemGetCurrentName());
  OSDMenuDestroy();
  EXPECT_FALSE(OSDMenuItemModifyValue(0, "x")) << "empty menu";
  EXPECT_EQ(nullptr, OSDMenuItemGetCurrentName());
}

TEST_F(MenuTest, TextsAreCutToTheirFields)
{
  OSDMenuInitialize(true, false, true, std::string(300, 'T').c_str(), nullptr);
  std::string long128(128, 'n'), long200(200, 'v');
  ASSERT_TRUE(OSDMenuItemAdd(long128.c_str(), long200.c_str(), nullptr, nullptr, true, false, 0));
  EXPECT_EQ(127u, std::strlen(OSDMenuItemGetName(0)));
  EXPECT_EQ(127u, std::strlen(Menu[0].Item[0].Value));
  EXPECT_TRUE(OSDMenuItemModifyValue(0, long200.c_str()));
  EXPECT_EQ(127u, std::strlen(Menu[0].Item[0].Value));
  EXPECT_EQ(255u, std::strlen(Menu[0].TitleLeft));
  EXPECT_STREQ("", Menu[0].TitleRight);
  ASSERT_TRUE(OSDMenuButtonAdd(1, BI_ok, nullptr, std::string(400, 'b').c_str()));
  EXPECT_EQ(255u, std::strlen(Menu[0].Buttons[0].Text));
  OSDMenuUpdate(false);
}

TEST_F(MenuTest, TheLegendTakesTwentyButtonsOnThreeLines)
{
  Build(2);
  OSDMenuButtonsClear();
  struct {
    dword line;
    int icon;
    bool ok;
  } cases[] = {{0, BI_ok, false},          {4, BI_ok, false}, {1, 0, false},     {1, 58, false}, {1, -1, false},
               {1, BI_UserDefined, false}, {1, BI_ok, true},  {2, BI_red, true}, {3, 10, true}};
  for (const auto &c : cases)
    EXPECT_EQ(c.ok, OSDMenuButtonAdd(c.line, c.icon, nullptr, "Text")) << c.line << " " << c.icon;
  EXPECT_FALSE(OSDMenuButtonAdd(1, BI_ok, nullptr, nullptr));
  EXPECT_TRUE(OSDMenuButtonAdd(1, BI_UserDefined, &_Button_menu_Gd, "Own"));
  EXPECT_EQ(&_Button_menu_Gd, Menu[0].Buttons[3].pButtonGd);
  EXPECT_EQ(OSDMENU_LEGEND_X + 40 + OSDMenuGetW("Text", 12) + OSDMENU_LEGEND_GAP, Menu[0].Buttons[3].X)
      << "after the OK button";
  EXPECT_EQ(OSDMENU_LEGEND_Y2, Menu[0].Buttons[1].Y);
  EXPECT_EQ(OSDMENU_LEGEND_Y3, Menu[0].Buttons[2].Y);
  while (Menu[0].NrButtons < 20) ASSERT_TRUE(OSDMenuButtonAdd(3, 1, nullptr, ""));
  EXPECT_FALSE(OSDMenuButtonAdd(3, 1, nullptr, "")) << "twenty at most";
  for (int icon = 1; icon <= 56; icon++) EXPECT_NE(nullptr, OSDMenuGetIconPointer(icon, nullptr)) << icon;
  EXPECT_EQ(&_Button_exit_Gd, OSDMenuGetIconPointer(BI_exit, nullptr));
  EXPECT_EQ(&_Button_green_Gd, OSDMenuGetIconPointer(BI_green, nullptr));
  EXPECT_EQ(&_Button_red_Gd, OSDMenuGetIconPointer(BI_red, nullptr));
  EXPECT_EQ(&_Button_9_Gd, OSDMenuGetIconPointer(10, nullptr));
  EXPECT_EQ(&_Button_nouse_Gd, OSDMenuGetIconPointer(56, nullptr));
  EXPECT_EQ(0, OSDMenuGetW("Text", 18)) << "no such standard size";
}

// ---- drawing ----

TEST_F(MenuTest, EveryPartIsDrawnAtItsPlaceInItsColours)
{
  Build(12, true, {7}, {2});
  OSDMenuItemModifyTextColor(4, 0xFFFFFF00);
  OSDMenuButtonAdd(1, BI_ok, nullptr, "Auswahl");
  OSDMenuButtonAdd(1, BI_exit, nullptr, "Ende");
  OSDMenuButtonAdd(2, BI_red, nullptr, "Rot");
  OSDMenuButtonAdd(3, BI_green, nullptr, "Gr\xC3\xBCn");
  OSDMenuSelectItem(2);
  OSDMenuUpdate(false);
  ASSERT_NE(0, OSDRgn);
  EXPECT_FALSE(Rx().NormalPicture()) << "the menu leaves the normal display";

  EXPECT_EQ(0xFF101010u, Px(5, 5)) << "background";
  const int lineX = OSDMENU_LEGEND_LINE_X, lineY = OSDMENU_LEGEND_LINE_Y;
  const int lineEnd = OSDMENU_LEGEND_LINE_X + OSDMENU_LEGEND_LINE_W - 1;
  EXPECT_EQ(0xFF808080u, Px(lineX, lineY));
  EXPECT_EQ(0xFF808080u, Px(lineEnd, lineY + OSDMENU_LEGEND_LINE_H - 1));
  EXPECT_NE(0xFF808080u, Px(lineX - 1, lineY));
  EXPECT_NE(0xFF808080u, Px(lineEnd + 1, lineY));
  EXPECT_NE(0xFF808080u, Px(300, lineY + OSDMENU_LEGEND_LINE_H));
  EXPECT_EQ(0xFF1E1E1Eu, Px(OSDMENU_LIST_X + 1, OSDMENU_LIST_Y + 3)) << "list box";
  EXPECT_EQ(0xFF1E1E1Eu, Px(OSDMENU_LIST_X + OSDMENU_LIST_W - 1, OSDMENU_LIST_Y + OSDMENU_LIST_H - 1));

  std::vector<dword> bar = Decode(_SelectionBar_Blue_100x34_Gd);
  const int pitch = OSDMENU_LINE_PITCH, listEnd = OSDMENU_LIST_X + OSDMENU_LIST_W - 1;
  const int leftArrowX = OSDMENU_VALUE_X + OSDMENU_ARROW_LEFT_DX;
  for (int i = 0; i < OSDMENU_LINES; i++) {
    int sepY = OSDMENU_SEPARATOR_Y + pitch * i, barY = OSDMENU_LINE_Y + pitch * i;
    if (i == 2) {
      bool same = true;
      for (int r = 0; r < OSDMENU_BAR_H; r++)
        for (int k = 0; k < OSDMENU_LIST_W; k++)
          same = same && (Px(OSDMENU_LIST_X + k, barY + r) == bar[r * OSDMENU_BAR_W + k % OSDMENU_BAR_W] ||
                          (r >= 6 && r <= 28 && k >= 10));  // text and arrows on top
      EXPECT_TRUE(same) << "cursor bar on line 2";
      EXPECT_EQ(bar[0], Px(OSDMENU_LIST_X, barY));
      EXPECT_EQ(bar[OSDMENU_BAR_W - 1], Px(listEnd, barY));
      EXPECT_TRUE(Shows(_pfeil_l_Gd, leftArrowX, OSDMENU_ARROW_Y + pitch * i));
      EXPECT_TRUE(Shows(_pfeil_r_Gd, OSDMENU_ARROW_RIGHT_X, OSDMENU_ARROW_Y + pitch * i));
    } else {
      EXPECT_EQ(0xFF101010u, Px(OSDMENU_LIST_X, sepY)) << "separator of line " << i;
      EXPECT_EQ(0xFF101010u, Px(listEnd, sepY + 1)) << "separator of line " << i;
      EXPECT_NE(bar[0], Px(OSDMENU_LIST_X, barY)) << "no bar on line " << i;
      EXPECT_FALSE(Shows(_pfeil_l_Gd, leftArrowX, OSDMENU_ARROW_Y + pitch * i)) << "arrows only on the cursor's line";
    }
  }
  EXPECT_TRUE(ShowsRows(_ScrollBarVisible_Gd, OSDMENU_SCROLL_X, OSDMENU_SCROLL_Y, 0, 12)) << "the track above the knob";
  EXPECT_TRUE(ShowsRows(_ScrollBarVisible_Gd, OSDMENU_SCROLL_X, OSDMENU_SCROLL_Y, 200, 367)) << "and below it";
  EXPECT_TRUE(Shows(_ScrollBarKnob_Gd, OSDMENU_KNOB_X, OSDMENU_KNOB_Y + 2 * OSDMENU_KNOB_TRAVEL / 11));

  const tMenu &m = Menu[0];
  for (dword b = 0; b < m.NrButtons; b++)
    EXPECT_TRUE(Shows(*m.Buttons[b].pButtonGd, m.Buttons[b].X, m.Buttons[b].Y)) << "legend icon " << b;
  EXPECT_EQ(OSDMENU_LEGEND_Y1, m.Buttons[0].Y);
  EXPECT_EQ(OSDMENU_LEGEND_X, m.Buttons[0].X);
  EXPECT_GT(CountColour(OSDMENU_BUTTON_COLOUR, OSDMENU_LEGEND_X, OSDMENU_LEGEND_Y1, OSDMENU_LEGEND_MAX_X, 560), 0)
      << "legend texts in lavender";

  // inside a line, above its separator
  auto lineTop = [&](int i) { return OSDMENU_LINE_Y + 2 + pitch * i; };
  auto lineBottom = [&](int i) { return OSDMENU_SEPARATOR_Y - 1 + pitch * i; };
  for (int i = 0; i < OSDMENU_LINES; i++) {
    int yellow = CountColour(0xFFFFFF00, OSDMENU_LIST_X, lineTop(i), listEnd + 1, lineBottom(i));
    int yellowish = CountTinted(0xFFFFFF00, OSDMENU_LIST_X, lineTop(i), listEnd + 1, lineBottom(i));
    if (i == 4) {
      EXPECT_GT(yellow, 0) << "item 4's text is yellow";
      EXPECT_GT(yellowish, 40) << "name and value";
    } else {
      EXPECT_EQ(0, yellow) << "no yellow on line " << i;
      EXPECT_EQ(0, yellowish) << "no yellow on line " << i;
    }
  }
  EXPECT_GT(CountColour(0xFF80808C, OSDMENU_LIST_X, lineTop(7), listEnd + 1, lineBottom(7)), 0)
      << "unselectable item in grey";
  EXPECT_EQ(0, CountColour(0xFFFFFFFF, OSDMENU_LIST_X, lineTop(7), listEnd + 1, lineBottom(7)))
      << "and nothing of it white";
  EXPECT_GT(CountColour(0xFFE6E6FA, OSDMENU_TITLE_X, OSDMENU_TITLE_Y, 200, 60), 0) << "title";
  EXPECT_GT(CountColour(0xFF666666, 100, OSDMENU_SUBTITLE_Y, OSDMENU_TITLE_MAX_X + 1, 70), 0) << "subtitle";
  const int textY = OSDMENU_TEXT_Y, textEnd = OSDMENU_TEXT_Y + 19;
  EXPECT_GT(CountTinted(0xFFFFFFFF, OSDMENU_NAME_X, textY, OSDMENU_VALUE_X, textEnd), 20) << "item 0's name";
  EXPECT_GT(CountTinted(0xFFFFFFFF, OSDMENU_VALUE_X + OSDMENU_VALUE_TEXT_DX, textY, OSDMENU_TEXT_MAX_X, textEnd), 20)
      << "item 0's value";
  EXPECT_EQ(0, CountTinted(0xFFFFFFFF, 30, textY, OSDMENU_NAME_X - 1, textEnd)) << "nothing left of the name";

  if (const char *keep = std::getenv("FERROX_KEEP_SCREENSHOTS")) {
    std::string png = Rx().WriteScreenshot();
    fs::copy_file(png, fs::path(keep) / "menu.png", fs::copy_options::overwrite_existing);
  }
}

TEST_F(MenuTest, TheKnobAppearsOnlyWithMoreThanTenItems)
{
  struct {
    int count, cursor;
    bool knob;
    int knobY;
  } cases[] = {{1, 0, false, 0},
               {10, 9, false, 0},
               {11, 10, true, OSDMENU_KNOB_Y + OSDMENU_KNOB_TRAVEL},
               {12, 11, true, OSDMENU_KNOB_Y + OSDMENU_KNOB_TRAVEL},
               {12, 0, true, OSDMENU_KNOB_Y}};
  for (const auto &c : cases) {
    Build(c.count, false);
    OSDMenuSelectItem(c.cursor);
    OSDMenuUpdate(false);
    EXPECT_EQ(!c.knob, Shows(_ScrollBarInvisible_Gd, OSDMENU_SCROLL_X, OSDMENU_SCROLL_Y)) << c.count << " items";
    if (c.knob) {
      EXPECT_TRUE(Shows(_ScrollBarKnob_Gd, OSDMENU_KNOB_X, c.knobY)) << c.count << " items, cursor " << c.cursor;
    }
    OSDMenuDestroy();
  }
}

TEST_F(MenuTest, ARedrawIsOneSyncAndTheBarIsDecodedOncePerMenu)
{
  Build(12);
  Rx().ResetCallCounts();
  OSDMenuUpdate(false);
  EXPECT_EQ(1u, Rx().CallCount("TAP_Osd_Sync"));
  EXPECT_EQ(0u, Rx().CallCount("TAP_Osd_SaveBox")) << "nothing changed, no text drawn";
  for (int i = 0; i < 5; i++) Key(RKEY_Down);
  EXPECT_EQ(6u, Rx().CallCount("TAP_Osd_Sync")) << "one per key";
  EXPECT_EQ(5u * 2, Rx().CallCount("TAP_Osd_PutGd")) << "the scroll bar and its knob, the bar not among them";
  EXPECT_EQ(5u * 4, Rx().CallCount("TAP_Osd_SaveBox")) << "name and value of the line left and the line entered";
  EXPECT_EQ(0u, Rx().CallCount("TAP_Osd_Create"));
  EXPECT_EQ(5u * 6, Rx().CallCount("TAP_Osd_Copy")) << "six pieces of 100 per bar";
  Rx().ResetCallCounts();
  OSDMenuUpdate(true);
  EXPECT_EQ(0u, Rx().CallCount("TAP_Osd_Sync")) << "no sync asked for";
}

// ---- drawing only what changed ----

// One step of a client: a key, or a change followed by an update.
struct MenuStep {
  enum Kind { KeyPress, NewValue, NewColour, NewLegend, Select, AddItem } kind;
  dword key = 0;
  int item = 0;
  const char *text = "";
  dword colour = 0;
};
MenuStep Press(dword key) { return {MenuStep::KeyPress, key}; }
MenuStep Value(int item, const char *text) { return {MenuStep::NewValue, 0, item, text}; }
MenuStep Colour(int item, dword colour) { return {MenuStep::NewColour, 0, item, "", colour}; }
MenuStep Legend(const char *text) { return {MenuStep::NewLegend, 0, 0, text}; }
MenuStep Select(int item) { return {MenuStep::Select, 0, item}; }
MenuStep Add(const char *text) { return {MenuStep::AddItem, 0, 0, text}; }

struct Redraws {
  const char *what;
  int count;
  std::vector<int> unselectable, arrows;
  std::vector<MenuStep> steps;
};

void PrintTo(const Redraws &c, std::ostream *os) { *os << c.what; }

class MenuRedraw : public MenuTest, public ::testing::WithParamInterface<Redraws> {
 protected:
  std::vector<dword> Whole() const
  {
    std::vector<dword> px(static_cast<size_t>(TAP_SCREEN_W) * TAP_SCREEN_H);
    byte *box = TAP_Osd_SaveBox(OSDRgn, 0, 0, TAP_SCREEN_W, TAP_SCREEN_H);
    EXPECT_NE(nullptr, box);
    if (box != nullptr) std::memcpy(px.data(), box, px.size() * sizeof(dword));
    TAP_MemFree(box);
    return px;
  }
};

// After every step the screen is what drawing the whole menu anew gives,
// pixel for pixel.
TEST_P(MenuRedraw, AfterEveryStepTheScreenIsTheWholeMenusDrawing)
{
  const Redraws &c = GetParam();
  Build(c.count, true, c.unselectable, c.arrows);
  OSDMenuButtonAdd(1, BI_red, nullptr, "Abbrechen");
  OSDMenuButtonAdd(1, BI_green, nullptr, "Speichern");
  OSDMenuUpdate(false);
  int n = 0;
  for (const MenuStep &step : c.steps) {
    n++;
    switch (step.kind) {
      case MenuStep::KeyPress: Key(step.key); break;
      case MenuStep::NewValue: OSDMenuItemModifyValue(step.item, step.text); break;
      case MenuStep::NewColour: OSDMenuItemModifyTextColor(step.item, step.colour); break;
      case MenuStep::NewLegend:
        OSDMenuButtonsClear();
        OSDMenuButtonAdd(1, BI_red, nullptr, "Abbrechen");
        if (step.text[0] != '\0') OSDMenuButtonAdd(1, BI_ok, nullptr, step.text);
        break;
      case MenuStep::Select: OSDMenuSelectItem(step.item); break;
      case MenuStep::AddItem: OSDMenuItemAdd(step.text, "neu", nullptr, nullptr, true, false, 99); break;
    }
    OSDMenuUpdate(false);
    std::vector<dword> shown = Whole();
    OSDDirty = 1;
    OSDMenuUpdate(false);
    std::vector<dword> whole = Whole();
    size_t first = 0;
    while (first < shown.size() && shown[first] == whole[first]) first++;
    ASSERT_EQ(shown.size(), first) << c.what << ", step " << n << ": first wrong pixel at x " << first % TAP_SCREEN_W
                                   << ", y " << first / TAP_SCREEN_W << std::hex << ": 0x" << shown[first]
                                   << " instead of 0x" << whole[first];
  }
}

const dword kDown = RKEY_Down, kUp = RKEY_Up, kPageDown = RKEY_PageDown, kPageUp = RKEY_PageUp;

INSTANTIATE_TEST_SUITE_P(
    Steps, MenuRedraw,
    ::testing::Values(Redraws{"cursor_through_every_line_and_over_the_edges",
                              13,
                              {},
                              {},
                              {Press(kDown), Press(kDown), Press(kDown), Press(kDown), Press(kDown), Press(kDown),
                               Press(kDown), Press(kDown), Press(kDown), Press(kDown), Press(kDown), Press(kDown),
                               Press(kDown), Press(kUp), Press(kUp)}},
                      Redraws{"cursor_on_lines_with_arrows_and_past_unselectable",
                              12,
                              {3, 4},
                              {1, 2, 5},
                              {Press(kDown), Press(kDown), Press(kDown), Press(kUp), Press(kUp), Press(kUp)}},
                      Redraws{"page_keys_and_the_top_line",
                              35,
                              {},
                              {},
                              {Press(kPageDown), Press(kPageDown), Press(kPageUp), Press(kPageDown), Press(kUp),
                               Press(kPageUp)}},
                      Redraws{"values_and_colours_on_and_off_the_cursor",
                              12,
                              {},
                              {0},
                              {Value(0, "neu"), Value(3, "ein l\xC3\xA4ngerer Wert als der alte"), Value(3, "kurz"),
                               Colour(2, 0xFFFFFF00), Colour(0, 0xFFFFFF00), Value(11, "unsichtbar"), Value(3, "kurz"),
                               Press(kDown), Value(1, "mit dem Cursor")}},
                      Redraws{"a_legend_that_changes_and_one_that_does_not",
                              5,
                              {},
                              {},
                              {Legend("Auswahl"), Legend("Auswahl"), Legend(""), Press(kDown),
                               Legend("\xDC"
                                      "bernehmen")}},
                      Redraws{"selection_by_the_client_and_a_new_item",
                              11,
                              {},
                              {},
                              {Select(9), Select(10), Select(2), Add("Elf"), Press(kUp), Press(kUp)}},
                      Redraws{"fewer_lines_than_the_list_holds",
                              3,
                              {},
                              {},
                              {Press(kDown), Press(kDown), Press(kDown), Value(2, "zwei"), Press(kPageUp)}}),
    [](const ::testing::TestParamInfo<Redraws> &info) { return std::string(info.param.what); });

TEST_F(MenuTest, DestroyGivesBackTheScreenTheItemsAndTheFonts)
{
  size_t before = Rx().MemoryInUse();
  int regions = Rx().OsdRegionCount();
  Build(40);
  EXPECT_EQ(regions + 2, Rx().OsdRegionCount()) << "the menu and its bar";
  OSDMenuDestroy();
  EXPECT_EQ(regions, Rx().OsdRegionCount());
  EXPECT_TRUE(Rx().NormalPicture());
  EXPECT_EQ(0, OSDRgn);
  EXPECT_EQ(before, Rx().MemoryInUse());
  EXPECT_EQ(0, OSDMenuFont_14.FileHandle);
}

TEST_F(MenuTest, ASecondInitializeStartsAfreshWithANewRegion)
{
  Build(12);
  Key(RKEY_Down);
  OSDMenuInitialize(false, false, false, "Zweites", nullptr);
  EXPECT_EQ(0, OSDRgn);
  EXPECT_EQ(0, OSDMenuItemGetNrOfItems());
  EXPECT_NE(0, OSDMenuFont_14.FileHandle) << "fonts stay loaded";
  ASSERT_TRUE(OSDMenuItemAdd("Nur einer", nullptr, nullptr, nullptr, true, false, 0));
  OSDMenuUpdate(false);
  EXPECT_NE(0, OSDRgn);
  EXPECT_EQ(0, OSDMenuGetCurrentItem());
}

TEST_F(MenuTest, WithoutFontsTheMenuStillWorks)
{
  fs::remove_all(sandbox / "root/mnt/hd/ProgramFiles/Settings/Fonts");
  WriteFile("/mnt/hd/ProgramFiles/Settings/TKLib.log", "");
  const dword before = TAP_GetTick();
  Build(12);
  EXPECT_EQ(300u, TAP_GetTick() - before) << "one 3-second window names the seven fonts";
  Key(RKEY_Down);
  EXPECT_EQ(1, OSDMenuGetCurrentItem());
  EXPECT_EQ(0xFF101010u, Px(5, 5));
  EXPECT_NE(std::string::npos,
            ReadFile("/mnt/hd/ProgramFiles/Settings/TKLib.log").find("failed to load Calibri_20B.ufnt"));
}

// ---- key translation ----

std::vector<TapParam> g_seen;

TapParam Recorder(word event, TapParam param1, TapParam)
{
  if (event == EVT_KEY) g_seen.push_back(param1);
  return param1 == RKEY_Ok ? 0 : param1;  // consumes OK, passes the others on
}

class KeyHookTest : public MenuTest {
 protected:
  void SetUp() override
  {
    MenuTest::SetUp();
    g_seen.clear();
    hookSlot = Rx().AttachHostTask("/mnt/hd", Recorder);
    Rx().SetCurrentTask(hookSlot);
  }
  void Models(uint32_t remote)
  {
    fs::create_directories(Host("/mnt/hd/ProgramFiles/Settings"));
    ASSERT_TRUE(
        firmwaredat::Write(Host("/mnt/hd/ProgramFiles/Settings/FirmwareModel.dat"),
                           firmwaredat::Build({{1234, 9}, {static_cast<uint16_t>(Rx().config().systemId), remote}})));
    ReleaseFirmwareDat();
  }
  int hookSlot = -1;
};

TEST_F(KeyHookTest, RemoteTypeTwoTranslatesForTheHandlerAndGivesTheFirmwareTheOriginal)
{
  Models(2);
  TAP_TableIndex = -1;
  ASSERT_EQ(1, KeyTranslate(true, Recorder));
  EXPECT_EQ(2, RemoteType);
  struct {
    TapParam sent, seen, back;
  } cases[] = {{0x10048, 0x10024, 0x10048}, {0x10024, 0x10048, 0x10024}, {0x1003F, 0x10047, 0x1003F},
               {0x10012, 0x10012, 0x10012}, {0x50048, 0x50024, 0x50048}, {RKEY_Ok, RKEY_Ok, 0}};
  for (const auto &c : cases) {
    g_seen.clear();
    EXPECT_EQ(c.back, Rx().SendEvent(hookSlot, EVT_KEY, c.sent, 0)) << std::hex << c.sent;
    ASSERT_EQ(1u, g_seen.size());
    EXPECT_EQ(c.seen, g_seen[0]) << std::hex << c.sent;
  }
  EXPECT_EQ(7u, Rx().SendEvent(hookSlot, EVT_IDLE, 7, 0)) << "other events reach the handler unchanged";
  EXPECT_EQ(1, KeyTranslate(false, Recorder));
  EXPECT_EQ(0, KeyTranslate(false, Recorder)) << "removed already";
  g_seen.clear();
  Rx().SendEvent(hookSlot, EVT_KEY, 0x10048, 0);
  EXPECT_EQ(std::vector<TapParam>{0x10048}, g_seen) << "the handler's own place again";
}

TEST_F(KeyHookTest, RemoteTypeThreeAndUnknownModels)
{
  Models(3);
  ASSERT_EQ(1, KeyTranslate(true, Recorder));
  EXPECT_EQ(3, RemoteType);
  Rx().SendEvent(hookSlot, EVT_KEY, 0x10023, 0);
  Rx().SendEvent(hookSlot, EVT_KEY, 0x10048, 0);
  EXPECT_EQ((std::vector<TapParam>{0x1003F, 0x10048}), g_seen);
  KeyTranslate(false, Recorder);
  fs::remove(Host("/mnt/hd/ProgramFiles/Settings/FirmwareModel.dat"));
  ReleaseFirmwareDat();
  RemoteType = 1;
  EXPECT_EQ(1, KeyTranslate(true, Recorder));
  EXPECT_EQ(1, RemoteType) << "kept without a model record";
  KeyTranslate(false, Recorder);
}

TEST_F(KeyHookTest, TheHookRefusesAForeignHandlerAndWithoutOnePassesTheEventBack)
{
  EXPECT_EQ(0, KeyTranslate(true, KeyTranslateHook)) << "the entry does not hold that handler";
  EXPECT_EQ(0, KeyTranslate(true, nullptr));
  EXPECT_EQ(static_cast<TapParam>(RKEY_Ok), KeyTranslateHook(EVT_KEY, RKEY_Ok, 0));
  EXPECT_EQ(5u, KeyTranslateHook(EVT_IDLE, 5, 0));
  EXPECT_TRUE(g_seen.empty());
}

// ---- the demo plug-in through the receiver program ----

TEST(MenuDemoRun, ShowsTheMenuMovesAndEndsOnExit)
{
  TempDir tmp;
  const fs::path root = tmp.path / "root", shots = tmp.path / "shots";
  RunResult r = RunReceiver({"--root", root.string(), "--quiet", "--screenshots", shots.string(), "--key", "Down@1",
                             "--key", "Right@1.5", "--key", "Up@2", "--key", "Up@2.2", "--key", "Exit@3",
                             TapFile("MenuDemo.tap").string()});
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  for (const char *line : {"MenuDemo: menu of 12 items shown", "moved the cursor to item 1", "item 1 value",
                           "moved the cursor to item 0", "moved the cursor to item 10", "MenuDemo: ending"})
    EXPECT_NE(std::string::npos, r.out.find(line)) << line << "\n" << r.out;
  EXPECT_GE(HostTree(shots).size(), 4u) << "a PNG per change";
  EXPECT_EQ(std::string::npos, r.err.find("warning")) << r.err;
}

}  // namespace

namespace {

TEST_F(MenuTest, EveryImageDecodesAtItsSizeAndKeysHaveTransparentCorners)
{
  struct Size {
    const TapGrData *gd;
    int w, h;
  } sizes[] = {{&_SelectionBar_Blue_100x34_Gd, 100, 34},
               {&_SelectionBar_Blue_100x34Dark_Gd, 100, 34},
               {&_ScrollBarVisible_Gd, 16, 368},
               {&_ScrollBarInvisible_Gd, 16, 368},
               {&_ScrollBarKnob_Gd, 14, 20},
               {&_pfeil_l_Gd, 10, 15},
               {&_pfeil_r_Gd, 10, 15},
               {&_pfeil_l_bright_Gd, 10, 15},
               {&_pfeil_r_bright_Gd, 10, 15},
               {&_Button_white_Gd, 18, 18},
               {&_Button_guide_Gd, 54, 20},
               {&_Button_ok_Gd, 40, 20},
               {&_Button_exit_Gd, 40, 20},
               {&_Button_sat_Gd, 40, 20},
               {&_Button_0_Gd, 24, 20},
               {&_Button_volplus_Gd, 24, 20}};
  for (const Size &s : sizes) {
    EXPECT_EQ(s.w, s.gd->Width);
    EXPECT_EQ(s.h, s.gd->Height);
    EXPECT_EQ(static_cast<dword>(s.w * s.h * 4), s.gd->Size);
    EXPECT_EQ(GD_FORMAT_ARGB_RLE, s.gd->Format);
  }
  // every key icon: decodes whole, corners see through, the middle does not
  int x = 20, y = 20;
  OSDMenuUpdate(false);
  TAP_Osd_FillBox(OSDRgn, 0, 0, 720, 576, 0xFF303840);
  for (int icon = 1; icon <= 56; icon++) {
    const TapGrData *gd = OSDMenuGetIconPointer(icon, nullptr);
    ASSERT_NE(nullptr, gd) << icon;
    std::vector<dword> px = Decode(*gd);
    const size_t w = gd->Width, h = gd->Height;
    for (size_t corner : {size_t{0}, w - 1, (h - 1) * w, h * w - 1})
      EXPECT_EQ(0u, px[corner] >> 24) << "icon " << icon << " corner " << corner;
    EXPECT_EQ(0xFFu, px[(h / 2) * w + w / 2] >> 24) << "icon " << icon << " middle";
    if (x + gd->Width > 700) x = 20, y += 30;
    TAP_Osd_PutGd(OSDRgn, x, y, gd, true);
    x += gd->Width + 8;
  }
  for (const TapGrData *gd : {&_SelectionBar_Blue_100x34_Gd, &_SelectionBar_Blue_100x34Dark_Gd})
    TAP_Osd_PutGd(OSDRgn, 20, y += 40, gd, false);
  int ax = 150;
  for (const TapGrData *gd : {&_pfeil_l_Gd, &_pfeil_r_Gd, &_pfeil_l_bright_Gd, &_pfeil_r_bright_Gd, &_ScrollBarKnob_Gd})
    TAP_Osd_PutGd(OSDRgn, ax += 20, y, gd, true);
  TAP_Osd_PutGd(OSDRgn, 600, 150, &_ScrollBarVisible_Gd, false);
  TAP_Osd_PutGd(OSDRgn, 630, 150, &_ScrollBarInvisible_Gd, false);
  TAP_Osd_Sync();
  if (const char *keep = std::getenv("FERROX_KEEP_SCREENSHOTS")) {
    std::string png = Rx().WriteScreenshot();
    fs::copy_file(png, fs::path(keep) / "menu-images.png", fs::copy_options::overwrite_existing);
  }
}

}  // namespace
