// SetupRunTest.cpp -- the setup plug-in as a user meets it: started by the
// copy service when the settings are unusable, or on its own, driven with
// remote-control keys in the receiver program, and what it saves read back
// by the copy service's next run.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "FontInstall.h"
#include "ScenarioFixture.h"

namespace {

class SetupRun : public ScenarioTest {
 protected:
  void SetUp() override
  {
    ScenarioTest::SetUp();
    InstallTap("FerroxSetup.tap");
    fs::create_directories(Host(kNASShare));
    fs::create_directories(Host(kMoveToNAS));
    fs::create_directories(Host("/mnt/hd/DataFiles/Archive"));
  }
  std::string Ini() const { return ReadFile(std::string(kFerroxFolder) + "/Ferrox.ini"); }
  // "--key" options, one key per half second from 1 s on.
  static std::vector<std::string> Keys(std::initializer_list<const char *> keys)
  {
    std::vector<std::string> args;
    double at = 1;
    for (const char *k : keys) {
      args.push_back("--key");
      args.push_back(std::string(k) + "@" + std::to_string(at));
      at += 0.5;
    }
    return args;
  }
  // The setup alone, with keys, its screens written into `shots`.
  RunResult RunSetup(std::initializer_list<const char *> keys, const fs::path &shots)
  {
    std::vector<std::string> args = {"--root",
                                     root.string(),
                                     "--console",
                                     "none",
                                     "--quiet",
                                     "--seconds",
                                     "600",
                                     "--screenshots",
                                     shots.string(),
                                     "--mount",
                                     std::string(kNASShare) + "=" + share.string(),
                                     "--load",
                                     "/mnt/hd/ProgramFiles/FerroxSetup.tap"};
    std::vector<std::string> k = Keys(keys);
    args.insert(args.end(), k.begin(), k.end());
    return RunReceiver(args);
  }
  static void Keep(const fs::path &shots, const std::string &prefix)
  {
    const char *keep = std::getenv("FERROX_KEEP_SCREENSHOTS");
    if (!keep) return;
    for (const auto &e : fs::directory_iterator(shots))
      fs::copy_file(e.path(), fs::path(keep) / (prefix + e.path().filename().string()),
                    fs::copy_options::overwrite_existing);
  }
};

TEST_F(SetupRun, UnusableSettingsStartTheSetupWhosePicksTheNextRunCopiesWith)
{
  const time_t day = LocalTime(2015, 12, 19, 20, 15);
  WriteRecording(std::string(kMoveToNAS) + "/Tatort.rec", 3 << 20, 7, day);
  fs::path shots = root.parent_path() / "story";
  // no settings file: the service writes empty folders and starts the setup,
  // which says why in a window; the user closes it with a key, picks the
  // source, then the mounted share, and saves
  std::vector<std::string> extra = {"--screenshots", shots.string()};
  // (no folder chosen yet: each picker opens on its first folder, Archive)
  for (const std::string &k :
       Keys({"Ok", "Down", "Down", "Ok", "Down", "Ok", "Down", "Ok", "Down", "Down", "Ok", "Green"}))
    extra.push_back(k);
  RunResult first = Run(extra, 0);
  ASSERT_EQ(0, first.exitCode) << first.out << first.err;
  EXPECT_TRUE(LogHas("Error: Source or destination folder not selected")) << Log();
  std::string ini = Ini();
  for (const char *line : {"MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\n", "DestDir=/mnt/hd/DataFiles/NAS-Share\r\n",
                           "MountedDirSource=0\r\n", "MountedDirDest=1\r\n", "CopySpeed=4\r\n"})
    EXPECT_NE(std::string::npos, ini.find(line)) << line << " in\n" << ini;
  EXPECT_GE(HostTree(shots).size(), 6u) << "main menu, two pickers, the menu after each";
  Keep(shots, "story-");

  RunResult second = Run({}, 0);
  ASSERT_EQ(0, second.exitCode) << second.out << second.err;
  EXPECT_EQ((std::vector<std::string>{"Tatort.rec", "Tatort.rec.inf", "Tatort.rec.nav"}), Tree(share)) << Log();
  EXPECT_EQ(ReadFile(std::string(kMoveToNAS) + "/Tatort.rec"), ReadHostFile(share / "Tatort.rec"));
}

TEST_F(SetupRun, OnItsOwnTheSetupStartsFromItsStartingValues)
{
  fs::path shots = root.parent_path() / "alone";
  RunResult r = RunSetup({"Right", "Down", "Left", "Green"}, shots);
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  std::string ini = Ini();
  for (const char *line : {"CopySpeed=1\r\n", "MountType=2\r\n", "MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\n",
                           "DestDir=/mnt/hd/DataFiles/NAS-Share\r\n", "MountedDirDest=1\r\n", "NASBootTime=90\r\n"})
    EXPECT_NE(std::string::npos, ini.find(line)) << line << " in\n" << ini;
  EXPECT_FALSE(HostTree(shots).empty());
}

// Exit after changes leaves the file byte for byte as it was: the setup
// writes only when the user saves.
TEST_F(SetupRun, ExitKeepsTheFileAsItWas)
{
  WriteShareSettings({"CopySpeed=2"});
  const std::string before = Ini();
  fs::path shots = root.parent_path() / "exit";
  RunResult r = RunSetup({"Right", "Right", "Down", "Right", "Exit"}, shots);
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  EXPECT_EQ(before, Ini());
}

}  // namespace

namespace {

// Screenshots of a setup run: by default one at the end of each event
// handler call that changed the screen, never a half-drawn menu; with
// --screenshots-every-sync one after every sync. Names sort in time order,
// and the screenshots' time is not counted as the plug-in's.
TEST_F(SetupRun, ScreenshotsAreWholeScreensInTimeOrder)
{
  WriteSettings({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share"});
  std::map<bool, std::vector<std::string>> names;
  for (bool everySync : {false, true}) {
    TempDir shots;
    std::vector<std::string> args = {
        "--root",        root.string(),       "--console", "none",
        "--screenshots", shots.path.string(), "--load",    "/mnt/hd/ProgramFiles/FerroxSetup.tap"};
    if (everySync) args.push_back("--screenshots-every-sync");
    for (const char *k : {"Down@1", "Down@1.5", "Right@2", "Exit@3"}) args.insert(args.end(), {"--key", k});
    RunResult r = RunReceiver(args);
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find(" screenshots written in ")) << r.out;
    for (const auto &e : fs::directory_iterator(shots.path)) names[everySync].push_back(e.path().filename().string());
    std::sort(names[everySync].begin(), names[everySync].end());
    // sorted by name is sorted by the tick in the name
    std::vector<std::string> ticks;
    for (const std::string &n : names[everySync]) ticks.push_back(n.substr(7, 10));
    EXPECT_TRUE(std::is_sorted(ticks.begin(), ticks.end()));
  }
  // the menu drawn, the three keys that changed it: four whole screens
  EXPECT_EQ(4u, names[false].size()) << ::testing::PrintToString(names[false]);
  EXPECT_GT(names[true].size(), names[false].size()) << "every sync shows half-drawn menus too";
}

// Missing fonts hold the menu for one window of 3 s that names them all,
// not one window each; the keys pressed meanwhile all take effect, and the
// settings come out as with every font there.
TEST_F(SetupRun, MissingFontsShowOneWindowAndNoKeyIsLost)
{
  WriteSettings({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share", "CopySpeed=2"});
  const std::string start = Ini();
  TempDir sixFonts;
  for (const auto &e : fs::directory_iterator(sim::StandardFontDir()))
    if (e.path().filename() != "Calibri_14.ufnt") fs::copy_file(e.path(), sixFonts.path / e.path().filename());
  struct Case {
    const char *what;
    std::string fonts;  // --fonts
    int missing;        // fonts reported
    int firstKeyBy;     // the tick by which the first key (due at tick 100) is handled
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"every font", sim::StandardFontDir().string(), 0, 101},
      {"one font missing", sixFonts.path.string(), 1, 301},
      {"no fonts", "none", 7, 301},
  };
  // clang-format on
  std::string saved;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Host("/mnt/hd/ProgramFiles/Settings/Fonts"));
    WriteFile(std::string(kFerroxFolder) + "/Ferrox.ini", start);
    WriteFile("/mnt/hd/ProgramFiles/Settings/TKLib.log", "");
    std::vector<std::string> args = {"--root",
                                     root.string(),
                                     "--console",
                                     "none",
                                     "--trace-keys",
                                     "--fonts",
                                     c.fonts,
                                     "--seconds",
                                     "60",
                                     "--load",
                                     "/mnt/hd/ProgramFiles/FerroxSetup.tap"};
    // Down to the speed, Right raises it, Green saves: all within the window
    for (const char *k : {"Down@1", "Down@1.5", "Right@2", "Green@2.5"}) args.insert(args.end(), {"--key", k});
    RunResult r = RunReceiver(args);
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\\[([0-9]+)\\] key 0x1001D"))) << r.out;
    EXPECT_LE(std::stoi(m[1]), c.firstKeyBy) << r.out;
    const std::string log = ReadFile("/mnt/hd/ProgramFiles/Settings/TKLib.log");
    size_t reported = 0;
    for (size_t at = 0; (at = log.find("FontManager UC: failed to load ", at)) != std::string::npos; ++at) ++reported;
    EXPECT_EQ(static_cast<size_t>(c.missing), reported) << log;
    if (saved.empty()) saved = Ini();
    else EXPECT_EQ(saved, Ini()) << "the same keys, the same settings";
  }
  EXPECT_NE(saved, start) << "the keys changed something";
}

// The demo's key story (tools/demo-setup.keys) on the demo's settings,
// with nothing made on the internal disk beneath the share's mount point:
// the picker offers the mounted share and the story saves it as the
// destination, marked as a mount point.
TEST_F(SetupRun, TheDemosKeyStorySavesTheShareAsDestination)
{
  WriteSettings({"CopySpeed=2", "MountType=0", "MoveDir=/mnt/hd/DataFiles/MoveToNAS",
                 "DestDir=/mnt/hd/DataFiles/NAS-Share", "Move=0", "NASBootTime=8", "SpecChar=1", "DelDEC=1",
                 "MountedDirSource=0", "MountedDirDest=1", "StopMountTAP=0", "SetTSLink=0", "LogLenth=0",
                 "CopyAllFiles=0"});
  fs::create_directories(Host("/mnt/hd/DataFiles/FromUSB"));
  fs::remove_all(root / "mnt/hd/DataFiles/NAS-Share");
  fs::remove_all(Host("/mnt/hd/DataFiles/Archive"));
  RunResult r = RunReceiver({"--root", root.string(), "--console", "none", "--quiet", "--mount",
                             std::string(kNASShare) + "=" + share.string(), "--keys-file",
                             std::string(FERROX_SOURCE_DIR) + "/tools/demo-setup.keys", "--load",
                             "/mnt/hd/ProgramFiles/FerroxSetup.tap"});
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  const std::string ini = Ini();
  for (const char *line :
       {"DestDir=/mnt/hd/DataFiles/NAS-Share\r\n", "MountedDirDest=1\r\n", "CopySpeed=3\r\n", "NASBootTime=18\r\n"})
    EXPECT_NE(std::string::npos, ini.find(line)) << line << " in\n" << ini;
}

// Yellow saves and starts the copy service at once, which copies with what
// was just chosen; with the service running already, a window says so for
// 3 s and nothing is started or saved.
TEST_F(SetupRun, YellowCopiesNowUnlessTheServiceRunsAlready)
{
  InstallTap("Ferrox.tap");
  WriteRecording(std::string(kMoveToNAS) + "/Tatort.rec", 1 << 20, 7, LocalTime(2015, 12, 19, 20, 15));
  WriteSettings({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share", "MountedDirDest=1",
                 "CopySpeed=2", "NASBootTime=30"});
  struct Case {
    const char *what;
    double shareAt;          // < 0: never mounted, so a running service waits for it
    bool serviceLoaded;      // loaded with the setup
    long setupEnds;          // tick
    const char *speedSaved;  // what the file holds afterwards
    bool copied;
    // clang-format off
  } cases[] = {
      // (the setup says for 3 s that the service started, then ends)
      {"the service is not running", 0, false, 500, "CopySpeed=3", true},
      {"the service runs already", -1, true, 500, "CopySpeed=2", false},
  };
  // clang-format on
  const std::string start = Ini();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(std::string(kFerroxFolder) + "/Ferrox.ini", start);
    fs::remove_all(share);
    fs::create_directories(share);
    std::vector<std::string> args = {"--root",    root.string(), "--console", "none",
                                     "--seconds", "120",         "--load",    "/mnt/hd/ProgramFiles/FerroxSetup.tap",
                                     "--key",     "Right@1",     "--key",     "Yellow@2",
                                     "--key",     "Exit@3"};
    if (c.shareAt >= 0) args.insert(args.end(), {"--mount", std::string(kNASShare) + "=" + share.string()});
    if (c.serviceLoaded) args.insert(args.end(), {"--load", "/mnt/hd/ProgramFiles/Ferrox.tap"});
    RunResult r = RunReceiver(args);
    EXPECT_NE(std::string::npos, r.out.find("FerroxSetup.tap: loaded at tick 0, ended itself (TAP_Exit) at tick " +
                                            std::to_string(c.setupEnds) + "\n"))
        << r.out;
    EXPECT_NE(std::string::npos, Ini().find(std::string(c.speedSaved) + "\r\n")) << Ini();
    size_t loads = 0;
    for (size_t at = 0; (at = r.out.find("Ferrox.tap: loaded at tick", at)) != std::string::npos; ++at) ++loads;
    EXPECT_EQ(1u, loads) << "one copy service, never two: " << r.out;
    EXPECT_EQ(c.copied, ReadHostFile(share / "Tatort.rec") == ReadFile(std::string(kMoveToNAS) + "/Tatort.rec"));
  }
}

}  // namespace
