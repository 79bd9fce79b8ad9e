// SetupMenuTest.cpp -- the setup plug-in's screens driven as the firmware
// drives them: keys through the key translation hook into its handler, one
// firmware round after each, read back from the menu, the screen and the
// settings file.
#include <cstring>

#include "Cli.h"
#include "FerroxSetup.h"
#include "FirmwareBinding.h"
#include "MenuReset.h"
#include "MessageWin.h"
#include "OSDMenu.h"
#include "OsdImages.h"
#include "SimFixture.h"

namespace {

constexpr const char *kIni = "/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini";

class SetupTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    FIS_ResetCache();
    ResetMenuFramework();
    ResetSetupState();
    tkl_rgn = 0;
    std::string error;
    ASSERT_EQ(7, sim::InstallFonts(sandbox / "root", sim::StandardFontDir(), &error)) << error;
    for (const char *folder : {"Archive", "MoveToNAS", "NAS-Share"})
      MakeDir(std::string("/mnt/hd/DataFiles/") + folder);
    WriteFile("/mnt/hd/DataFiles/Loose recording.rec", "not a folder");
    slot = Rx().AttachHostTask("/mnt/hd", TAP_EventHandler);
    Rx().SetCurrentTask(slot);
  }
  void TearDown() override
  {
    OSDMenuDestroy();
    ResetMenuFramework();
    SimTest::TearDown();
  }
  // Starts the plug-in on a settings file of these lines (none: no file)
  // and lets the first event build the menu.
  void Start(std::initializer_list<std::string> lines = {"MoveDir=/mnt/hd/DataFiles/MoveToNAS",
                                                         "DestDir=/mnt/hd/DataFiles/NAS-Share"})
  {
    if (lines.size() != 0) {
      std::string text;
      for (const std::string &l : lines) text += l + "\r\n";
      WriteFile(kIni, text);
    }
    ASSERT_EQ(1, TAP_Main());
    atStart = ReadFile(kIni);
    Rx().Step();
  }
  void Press(dword key, int times = 1)
  {
    for (int i = 0; i < times; i++) {
      Rx().PressKey(key);
      Rx().Step();
    }
  }
  void To(int item) { Press(RKEY_Down, item - OSDMenuGetCurrentItem()); }
  std::string Value(int item) const { return Menu[0].Item[item].Value; }
  std::vector<std::string> Legend() const
  {
    std::vector<std::string> texts;
    for (dword b = 0; b < Menu[0].NrButtons; b++) texts.push_back(Menu[0].Buttons[b].Text);
    return texts;
  }
  std::vector<std::string> Items() const
  {
    std::vector<std::string> names;
    for (int i = 0; i < OSDMenuItemGetNrOfItems(); i++) names.push_back(OSDMenuItemGetName(i));
    return names;
  }
  int YellowPixelsOfLine(int line) const
  {
    int n = 0;
    // inside the line, above its separator
    for (int y = OSDMENU_LINE_Y + 2 + OSDMENU_LINE_PITCH * line;
         y < OSDMENU_SEPARATOR_Y - 1 + OSDMENU_LINE_PITCH * line; y++)
      for (int x = OSDMENU_LIST_X; x < OSDMENU_LIST_X + OSDMENU_LIST_W; x++) n += Rx().ScreenPixel(x, y) == 0xFFFFFF00;
    return n;
  }
  int slot = -1;
  std::string atStart;  // the settings file as the start wrote it back
};

TEST_F(SetupTest, TheMenuShowsTheThirteenSettingsWithTheirValues)
{
  Start();
  // clang-format off
  const std::vector<std::string> labels = {
      "  Speed",           "  Mount Type",      "  MoveDir",
      "  DestDir",         "  File move or copy", "  NASBootTime",
      "  replace Special Char", "  erase (DEC) in Filename", "  Stop Mount TAP",
      "  Set TS Hardlink", "  Move all files from DataFiles", "  Log lengh", "  Show result on TV"};
  // clang-format on
  EXPECT_EQ(labels, Items());
  const std::vector<std::string> values = {"Faktor 4", "NAS", "MoveToNAS", "NAS-Share", "Copy",  "90 sec", "No",
                                           "Yes",      "No",  "No",        "No",        "short", "Yes"};
  for (int i = 0; i < 12; i++) EXPECT_EQ(values[i], Value(i)) << labels[i];
  EXPECT_STREQ("Ferrox", Menu[0].TitleLeft);
  EXPECT_STREQ("Setup V1.17", Menu[0].TitleRight);
  EXPECT_FALSE(Menu[0].Item[2].ValueArrows);
  EXPECT_TRUE(Menu[0].Item[11].ValueArrows);
  EXPECT_FALSE(Rx().NormalPicture());
  EXPECT_EQ(0xFF101010u, Rx().ScreenPixel(5, 5)) << "the menu is on the screen";
}

struct Step {
  const char *what;
  std::string setting;  // "Key=Value" in the file
  int item;
  std::vector<dword> keys;
  std::string shown;
};

class SetupSteps : public SetupTest, public ::testing::WithParamInterface<Step> {};

TEST_P(SetupSteps, ValueAfterTheKeys)
{
  const Step &s = GetParam();
  Start({s.setting, "MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share"});  // the first wins
  To(s.item);
  for (dword k : s.keys) Press(k);
  EXPECT_EQ(s.shown, Value(s.item)) << s.what;
  EXPECT_EQ(s.item, OSDMenuGetCurrentItem()) << "Left and Right do not move the cursor";
}

const dword L = RKEY_Left, R = RKEY_Right;

INSTANTIATE_TEST_SUITE_P(
    Keys, SetupSteps,
    ::testing::Values(
        Step{"speed 4 right wraps", "CopySpeed=4", 0, {R}, "Faktor 1"},
        Step{"speed 1 left wraps", "CopySpeed=1", 0, {L}, "Faktor 4"},
        Step{"speed 2 right", "CopySpeed=2", 0, {R}, "Faktor 3"},
        Step{"mount type NAS left wraps", "MountType=0", 1, {L}, "Linux (Ext2/3, JFS)"},
        Step{"and right back", "MountType=0", 1, {L, R}, "NAS"}, Step{"mount type NTFS", "MountType=0", 1, {R}, "NTFS"},
        Step{"boot time 300 right wraps", "NASBootTime=300", 5, {R}, "10 sec"},
        Step{"boot time 10 left wraps", "NASBootTime=10", 5, {L}, "300 sec"},
        Step{"boot time 95 keeps its remainder", "NASBootTime=95", 5, {L, L}, "75 sec"},
        Step{"boot time 5 left wraps", "NASBootTime=5", 5, {L}, "300 sec"},
        Step{"boot time 295 right wraps", "NASBootTime=295", 5, {R}, "10 sec"}, Step{"move", "Move=0", 4, {R}, "Move"},
        Step{"copy", "Move=1", 4, {L}, "Copy"}, Step{"special characters", "SpecChar=0", 6, {R}, "Yes"},
        Step{"DEC", "DelDEC=1", 7, {L}, "No"}, Step{"mount plug-in", "StopMountTAP=0", 8, {R, R}, "No"},
        Step{"hard link", "SetTSLink=0", 9, {L}, "Yes"}, Step{"all files", "CopyAllFiles=1", 10, {R}, "No"},
        Step{"log length", "LogLenth=0", 11, {R}, "long"},
        Step{"move folder has no steps", "MoveDir=/mnt/hd/DataFiles/MoveToNAS", 2, {L, R}, "MoveToNAS"},
        Step{"destination has no steps", "DestDir=/mnt/hd/DataFiles/NAS-Share", 3, {R}, "NAS-Share"},
        Step{"a folder outside DataFiles is shown whole", "DestDir=/mnt/hd/Archiv", 3, {}, "/mnt/hd/Archiv"}),
    [](const auto &info) { return CaseName(info.param.what); });

TEST_F(SetupTest, TheOkButtonFollowsTheCursorOntoTheFolders)
{
  Start();
  const std::vector<std::string> plain = {"Abbrechen", "Speichern", "Jetzt kopieren", "Abbrechen"};
  const std::vector<std::string> withOk = {"Abbrechen", "Speichern", "Jetzt kopieren", "Abbrechen", "Auswahl"};
  struct {
    int item;
    std::vector<std::string> legend;
  } walk[] = {{0, plain}, {1, plain}, {2, withOk}, {3, withOk}, {4, plain}, {3, withOk}, {11, plain}};
  for (const auto &w : walk) {
    if (w.item > OSDMenuGetCurrentItem()) To(w.item);
    else Press(RKEY_Up, OSDMenuGetCurrentItem() - w.item);
    EXPECT_EQ(w.legend, Legend()) << "cursor on item " << w.item;
  }
  Press(RKEY_Up, 9);  // item 2
  ASSERT_EQ(withOk, Legend());
  EXPECT_EQ(&_Button_yellow_Gd, Menu[0].Buttons[2].pButtonGd);
  EXPECT_EQ(&_Button_ok_Gd, Menu[0].Buttons[4].pButtonGd);
  EXPECT_EQ(OSDMENU_LEGEND_Y1, Menu[0].Buttons[4].Y) << "Auswahl on the first line, after Jetzt kopieren";
  EXPECT_GT(Menu[0].Buttons[4].X, Menu[0].Buttons[2].X);
}

TEST_F(SetupTest, OkOnAnItemWithoutAPickerChangesNothingAndEveryKeyIsConsumed)
{
  Start();
  EXPECT_EQ(0u, Rx().SendEvent(slot, EVT_KEY, RKEY_Ok, 0));
  Rx().Step();
  EXPECT_EQ(DM_MAIN, DisplayMode);
  EXPECT_EQ("Faktor 4", Value(0));
  for (dword key : {0x10001u, 0x1002Cu, static_cast<dword>(RKEY_Yellow)})
    EXPECT_EQ(0u, Rx().SendEvent(slot, EVT_KEY, key, 0)) << std::hex << key << " reaches no one else";
  EXPECT_EQ(7u, Rx().SendEvent(slot, EVT_IDLE, 7, 0)) << "other events pass";
  // Yellow saved: every key in the file, the folders as they were
  const std::string ini = ReadFile(kIni);
  EXPECT_EQ(0u, ini.find(atStart)) << ini;
  EXPECT_NE(std::string::npos, ini.find("CopySpeed=4\r\n")) << ini;
}

TEST_F(SetupTest, AMountedFolderIsShownInYellow)
{
  Start({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share", "MountedDirSource=1",
         "MountedDirDest=0"});
  EXPECT_EQ(0xFFFFFF00u, Menu[0].Item[2].TextColor);
  EXPECT_EQ(0xFFFFFFFFu, Menu[0].Item[3].TextColor);
  EXPECT_GT(YellowPixelsOfLine(2), 0);
  for (int line : {0, 1, 3, 4, 9}) EXPECT_EQ(0, YellowPixelsOfLine(line)) << line;
}

TEST_F(SetupTest, ExitLeavesTheFileAsTheStartWroteItAndGreenWritesEveryKey)
{
  Start({"CopySpeed=2", "MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share", "Mine=kept"});
  Press(R);  // speed 3
  Press(RKEY_Exit);
  EXPECT_EQ(atStart, ReadFile(kIni)) << "nothing saved";
  EXPECT_FALSE(Rx().IsLoaded(slot)) << "and the plug-in ended";
  EXPECT_EQ(0, OSDRgn);
  EXPECT_TRUE(Rx().NormalPicture());
}

TEST_F(SetupTest, RedAlsoQuitsWithoutSaving)
{
  Start();
  Press(R);
  Press(RKEY_Red);
  EXPECT_EQ(atStart, ReadFile(kIni));
  EXPECT_FALSE(Rx().IsLoaded(slot));
}

TEST_F(SetupTest, GreenSavesEverySettingAndEnds)
{
  Start({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share", "Mine=kept"});
  Press(L);  // speed 3
  To(4);
  Press(R);  // move
  To(11);
  Press(R);  // long log
  Press(RKEY_Green);
  std::string ini = ReadFile(kIni);
  for (const char *line :
       {"CopySpeed=3\r\n", "MountType=0\r\n", "MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\n",
        "DestDir=/mnt/hd/DataFiles/NAS-Share\r\n", "Move=1\r\n", "NASBootTime=90\r\n", "SpecChar=0\r\n", "DelDEC=1\r\n",
        "MountedDirSource=0\r\n", "MountedDirDest=0\r\n", "StopMountTAP=0\r\n", "SetTSLink=0\r\n", "LogLenth=1\r\n",
        "CopyAllFiles=0\r\n", "Mine=kept\r\n"})
    EXPECT_NE(std::string::npos, ini.find(line)) << line << " in\n" << ini;
  EXPECT_FALSE(Rx().IsLoaded(slot));
}

// ---- the pickers ----

TEST_F(SetupTest, PickersOpenOnTheCurrentFolderAndListOnlyFolders)
{
  struct {
    const char *what;
    std::string moveDir, destDir;
    int item;
    const char *subtitle, *cursorOn;
    // clang-format off
  } cases[] = {
      {"move folder", "MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share", 2,
       "Move Directory", "MoveToNAS"},
      {"destination", "MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share", 3,
       "NAS Directory", "NAS-Share"},
      {"a setting naming no listed folder", "MoveDir=/mnt/hd/DataFiles/Gone", "DestDir=/mnt/hd/DataFiles/NAS-Share",
       2, "Move Directory", nullptr},
  };
  // clang-format on
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ResetSetupState();
    Start({c.moveDir, c.destDir});
    To(c.item);
    Press(RKEY_Ok);  // opens on the next event
    EXPECT_STREQ(c.subtitle, Menu[0].TitleRight);
    std::vector<std::string> items = Items();
    std::sort(items.begin(), items.end());
    EXPECT_EQ((std::vector<std::string>{"Archive", "MoveToNAS", "NAS-Share"}), items) << "no files";
    EXPECT_STREQ(c.cursorOn ? c.cursorOn : OSDMenuItemGetName(0), OSDMenuItemGetCurrentName());
    EXPECT_EQ((std::vector<std::string>{"\xDC"
                                        "bernehmen",
                                        "Abbrechen"}),
              Legend());
    Press(RKEY_Exit);
    Rx().Step();
    EXPECT_EQ(c.item, OSDMenuGetCurrentItem()) << "back on the item the picker was opened from";
    EXPECT_STREQ("Setup V1.17", Menu[0].TitleRight);
    OSDMenuDestroy();
  }
}

TEST_F(SetupTest, ChoosingAMountedShareStoresItsPathAndFlag)
{
  TempDir nas;
  Rx().AddMount({"/mnt/hd/DataFiles/NAS-Share", nas.path});
  Start({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/Archive", "MountedDirDest=0"});
  To(3);
  Press(RKEY_Ok);
  EXPECT_STREQ("Archive", OSDMenuItemGetCurrentName());
  int share = -1;
  for (int i = 0; i < OSDMenuItemGetNrOfItems(); i++)
    if (std::string(OSDMenuItemGetName(i)) == "NAS-Share") share = i;
  ASSERT_GE(share, 0);
  EXPECT_EQ(0xFFFFFF00u, Menu[0].Item[share].TextColor) << "a mount point in yellow";
  while (OSDMenuGetCurrentItem() != share) Press(RKEY_Down);
  Press(RKEY_Ok);
  Rx().Step();
  EXPECT_STREQ("/mnt/hd/DataFiles/NAS-Share", ShareDir);
  EXPECT_EQ(1, MountedDirDest);
  EXPECT_EQ("NAS-Share", Value(3));
  EXPECT_EQ(0xFFFFFF00u, Menu[0].Item[3].TextColor);
  EXPECT_GT(YellowPixelsOfLine(3), 0);
  Press(RKEY_Green);
  std::string ini = ReadFile(kIni);
  EXPECT_NE(std::string::npos, ini.find("DestDir=/mnt/hd/DataFiles/NAS-Share\r\n")) << ini;
  EXPECT_NE(std::string::npos, ini.find("MountedDirDest=1\r\n")) << ini;
}

TEST_F(SetupTest, ExitLeftAndRightInAPickerChangeNothing)
{
  TempDir nas;
  Rx().AddMount({"/mnt/hd/DataFiles/NAS-Share", nas.path});
  Start({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share", "MountedDirDest=1"});
  To(3);
  Press(RKEY_Ok);
  int cursor = OSDMenuGetCurrentItem();
  for (dword key : {L, R}) {
    EXPECT_EQ(0u, Rx().SendEvent(slot, EVT_KEY, key, 0));
    EXPECT_EQ(cursor, OSDMenuGetCurrentItem());
  }
  Press(RKEY_Down);
  Press(RKEY_Exit);
  Rx().Step();
  EXPECT_STREQ("/mnt/hd/DataFiles/NAS-Share", ShareDir);
  EXPECT_EQ(1, MountedDirDest);
  EXPECT_EQ(DM_MAIN, DisplayMode);
}

TEST_F(SetupTest, AFolderNameTooLongForAnItemIsNotOffered)
{
  const std::string longName(130, 'x');
  MakeDir("/mnt/hd/DataFiles/" + longName);
  WriteFile("/mnt/hd/ProgramFiles/Settings/TKLib.log", "");
  Start();
  To(2);
  Press(RKEY_Ok);
  for (const std::string &name : Items()) EXPECT_LT(name.size(), 128u);
  EXPECT_EQ(3, OSDMenuItemGetNrOfItems());
  EXPECT_NE(std::string::npos, ReadFile("/mnt/hd/ProgramFiles/Settings/TKLib.log").find("too long to be offered"));
}

// The copy service walks into no link to a folder: the pickers offer none,
// whether it loops, points to another folder, to a share or nowhere.
TEST_F(SetupTest, FolderLinksAreNotOffered)
{
  WriteFile("/mnt/hd/ProgramFiles/Settings/TKLib.log", "");
  TempDir nas;
  for (const auto &[link, target] : std::vector<std::pair<std::string, std::string>>{
           {"Loop", "."}, {"Elsewhere", "Archive"}, {"Share", nas.path.string()}, {"Dangling", "Gone"}})
    fs::create_directory_symlink(target, Host("/mnt/hd/DataFiles/" + link));
  Start();
  for (int item : {2, 3}) {
    To(item);
    Press(RKEY_Ok);
    std::vector<std::string> items = Items();
    std::sort(items.begin(), items.end());
    EXPECT_EQ((std::vector<std::string>{"Archive", "MoveToNAS", "NAS-Share"}), items) << item;
    Press(RKEY_Exit);
    Rx().Step();
  }
  const std::string log = ReadFile("/mnt/hd/ProgramFiles/Settings/TKLib.log");
  for (const char *link : {"Loop", "Elsewhere", "Share"})
    EXPECT_NE(std::string::npos, log.find(std::string("'") + link + "' is a link to a folder and is not offered"))
        << log;
}

TEST_F(SetupTest, AnEmptyDataFilesFolderGivesAnEmptyPickerAndOkChangesNothing)
{
  for (const char *folder : {"Archive", "MoveToNAS", "NAS-Share"})
    fs::remove(Host(std::string("/mnt/hd/DataFiles/") + folder));
  Start();
  To(2);
  Press(RKEY_Ok);
  EXPECT_EQ(0, OSDMenuItemGetNrOfItems());
  Press(RKEY_Ok);
  Rx().Step();
  EXPECT_STREQ("/mnt/hd/DataFiles/MoveToNAS", MoveDir);
  EXPECT_EQ(DM_MAIN, DisplayMode);
}

}  // namespace
