// NormalRunSettingsTest.cpp -- runs of the copy service on settings files
// that are missing, out of range, unreadable or name unusable folders, and
// the status replies it gives other plug-ins while it runs.
#include <string>
#include <vector>

#include "ScenarioFixture.h"

namespace {

class SettingsRun : public ScenarioTest {
 protected:
  void SetUp() override
  {
    ScenarioTest::SetUp();
    InstallSetupStandIn();
  }
  void TearDown() override
  {
    std::string tk = ToolkitLog();
    EXPECT_EQ(tk.find("CallLevel Underflow"), std::string::npos) << tk;
    EXPECT_EQ(tk.find("CallLevel Overflow"), std::string::npos) << tk;
    ScenarioTest::TearDown();
  }
  std::string Ini() const { return ReadFile(std::string(kFerroxFolder) + "/Ferrox.ini"); }
  bool SetupStarted() const
  {
    return ReadFile("/mnt/hd/ProgramFiles/Settings/StandIns/FerroxSetup.log").find("FerroxSetup stand-in started") !=
           std::string::npos;
  }
};

// The setup cannot be started: the line says where it was looked for and
// what to do; the run ends as before.
TEST_F(SettingsRun, ASetupThatCannotStartIsExplained)
{
  struct Case {
    const char *what;
    bool present;  // a file of that name that is no plug-in
    std::string line;
    // clang-format off
  } cases[] = {
      {"missing", false,
       "FerroxSetup.tap could not be started: it is not in /ProgramFiles (/mnt/hd/ProgramFiles); copy it there beside "
       "Ferrox.tap, or correct /ProgramFiles/Settings/Ferrox/Ferrox.ini by hand"},
      {"no plug-in", true,
       "FerroxSetup.tap could not be started: /ProgramFiles/FerroxSetup.tap is no plug-in this receiver can start; "
       "copy it there anew"},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(Host("/mnt/hd/ProgramFiles/FerroxSetup.tap"));
    fs::remove(Host(std::string(kFerroxFolder) + "/Ferrox.log"));
    fs::remove(Host(std::string(kFerroxFolder) + "/Ferrox.ini"));
    if (c.present) WriteFile("/mnt/hd/ProgramFiles/FerroxSetup.tap", "not a plug-in");
    RunResult r = Run();
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(LogInOrder({"Error: Source or destination folder not selected", c.line, "Ferrox end"})) << Log();
  }
}

TEST_F(SettingsRun, MissingFileIsWrittenWithStartingValuesAndTheSetupIsStarted)
{
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(LogInOrder({"No Job File found, starting normal work...",
                          "Error: Source or destination folder not selected", "Ferrox end"}));
  EXPECT_TRUE(SetupStarted());
  std::string ini = Ini();
  for (const char *line : {"CopySpeed=10\r\n", "MoveDir=\r\n", "DestDir=\r\n", "MountedDirDest=1\r\n", "DelDEC=1\r\n",
                           "NASBootTime=90\r\n", "LogLenth=0\r\n"})
    EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;

  // the next run finds the folders still not chosen and asks again,
  // rather than copying between default folders nobody chose
  fs::remove(Host("/mnt/hd/ProgramFiles/Settings/StandIns/FerroxSetup.log"));
  RunResult second = Run();
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
  ini = Ini();
  EXPECT_NE(ini.find("CopySpeed=4\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("MoveDir=\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("DestDir=\r\n"), std::string::npos) << ini;
  EXPECT_EQ(LogCount("Error: Source or destination folder not selected"), 2u) << Log();
  EXPECT_TRUE(SetupStarted());
  EXPECT_FALSE(LogHas("0 files ready for processing."));
}

TEST_F(SettingsRun, OutOfRangeValuesAreClampedAndWrittenBack)
{
  WriteSettings({"; my settings", "CopySpeed=9", "NASBootTime=0", "MountType=-1", "MountedDirDest=1", "Foreign=kept"});
  RunResult r = Run({}, -1);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(LogInOrder(
      {"NAS directory not found or not mounted. Waiting for 1 seconds.", "No mount within 1 seconds.", "Ferrox end"}));
  std::string ini = Ini();
  for (const char *line :
       {"; my settings\r\n", "CopySpeed=4\r\n", "NASBootTime=1\r\n", "MountType=0\r\n", "Foreign=kept\r\n"})
    EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
}

TEST_F(SettingsRun, UnreadableFileGivesDefaultsAndIsNotOverwritten)
{
  fs::create_directories(Host(std::string(kFerroxFolder) + "/Ferrox.ini/inside"));
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  // defaults: both folders internal, so the setup is started
  EXPECT_TRUE(LogInOrder({"Error: Source and destination folder are both internal", "Ferrox end"}));
  EXPECT_TRUE(SetupStarted());
  EXPECT_TRUE(fs::is_directory(Host(std::string(kFerroxFolder) + "/Ferrox.ini/inside")));
  EXPECT_NE(ToolkitLog().find("cannot be read"), std::string::npos) << ToolkitLog();
}

struct FolderCase {
  const char *name;
  std::string destDir;
  std::string error;  // "" when the run goes ahead
};

void PrintTo(const FolderCase &c, std::ostream *os) { *os << "DestDir=" << c.destDir; }

class UnusableFolders : public SettingsRun, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(UnusableFolders, AreRefusedWithALineAndTheSetupIsStarted)
{
  const FolderCase &c = GetParam();
  WriteSettings({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=" + c.destDir, "MountedDirDest=1", "Move=1"});
  WriteRecording(std::string(kMoveToNAS) + "/Film.rec", 3000, 1, LocalTime(2015, 12, 1));
  fs::create_directories(Host(c.destDir));
  // an accepted destination is a drive mounted there
  std::vector<std::string> mount;
  if (c.error.empty()) mount = {"--mount", c.destDir + "=" + share.string() + "@0"};
  RunResult r = Run(mount, -1);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  if (c.error.empty()) {
    EXPECT_FALSE(SetupStarted());
    EXPECT_TRUE(fs::exists(share / "Film.rec")) << Log();
    EXPECT_FALSE(Exists(std::string(kMoveToNAS) + "/Film.rec"));
  } else {
    EXPECT_TRUE(LogInOrder({c.error, "Ferrox end"}));
    EXPECT_TRUE(SetupStarted());
    EXPECT_EQ(Tree(Host(kMoveToNAS)), (std::vector<std::string>{"Film.rec", "Film.rec.inf", "Film.rec.nav"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, UnusableFolders,
    ::testing::Values(FolderCase{"same", "/mnt/hd/DataFiles/MoveToNAS",
                                 "Error: Source and destination folder are the same"},
                      FolderCase{"trailing_slash", "/mnt/hd/DataFiles/MoveToNAS/",
                                 "Error: Destination folder /mnt/hd/DataFiles/MoveToNAS/ is the source folder "
                                 "/mnt/hd/DataFiles/MoveToNAS or lies inside it"},
                      FolderCase{"doubled_slash", "/mnt/hd/DataFiles//MoveToNAS",
                                 "Error: Destination folder /mnt/hd/DataFiles//MoveToNAS is the source folder "
                                 "/mnt/hd/DataFiles/MoveToNAS or lies inside it"},
                      FolderCase{"inside", "/mnt/hd/DataFiles/MoveToNAS/Copies",
                                 "Error: Destination folder /mnt/hd/DataFiles/MoveToNAS/Copies is the source "
                                 "folder /mnt/hd/DataFiles/MoveToNAS or lies inside it"},
                      FolderCase{"name_sharing_a_prefix", "/mnt/hd/DataFiles/MoveToNAS-Archive", ""}),
    [](const ::testing::TestParamInfo<FolderCase> &info) { return std::string(info.param.name); });

// Status replies as another plug-in sees them, one request per run.
struct StatusCase {
  const char *what;
  int sendAtTick;
  bool navMender;
  int state;
};

void PrintTo(const StatusCase &c, std::ostream *os) { *os << c.what; }

class StatusReplies : public SettingsRun, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusReplies, TellTheStateOfTheService)
{
  const StatusCase &c = GetParam();
  WriteShareSettings({"CopySpeed=1"});
  WriteRecording(std::string(kMoveToNAS) + "/Big.rec", 48 << 20, 1, LocalTime(2015, 12, 1));
  WriteFile("/mnt/hd/ProgramFiles/Settings/StandIns/Requester.ini",
            "ServerID=8E0A42EF\r\nSendAtTick=" + std::to_string(c.sendAtTick) + "\r\n");
  std::vector<std::string> extra = {"--tap", TapFile("Requester.tap").string()};
  if (c.navMender) {
    WriteStandInBehaviour(0x8E0A4227, {"Mode=0", "RunTicks=6000"});
    extra.insert(extra.end(), {"--tap", TapFile("NavMender.tap").string()});
  }
  RunResult r = Run(extra, 15);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::string want = "state " + std::to_string(c.state) + "\n";
  EXPECT_NE(r.out.find("Requester: reply"), std::string::npos) << c.what << "\n" << r.out;
  EXPECT_NE(r.out.find(want), std::string::npos) << c.what << "\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(States, StatusReplies,
                         ::testing::Values(StatusCase{"waiting for the share", 500, false, 0},
                                           StatusCase{"waiting for the index plug-in", 4500, true, 1},
                                           StatusCase{"copying", 3500, false, 2}),
                         [](const ::testing::TestParamInfo<StatusCase> &info) { return CaseName(info.param.what); });

}  // namespace

namespace {

// A slip of the keyboard in "Ferrox.ini" shows on the console, and a folder
// the run had to make because its name was mistyped says so.
TEST_F(SettingsRun, TyposShowOnTheConsoleAndAMadeFolderIsNamed)
{
  WriteShareSettings({"MoveDir=/mnt/hd/DataFiles/MoveToNSA", "CopySpeeed=2", "NASBootTime=ten"});
  RunResult r = Run({"--console", "-"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const std::string line :
       {"Settings: line 4 of Ferrox.ini: unknown key 'CopySpeeed' is ignored; CopySpeed meant?",
        "Settings: line 5 of Ferrox.ini: the value of NASBootTime is no number: 'ten'",
        "Folder /mnt/hd/DataFiles/MoveToNSA (MoveDir) did not exist and was created"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  EXPECT_TRUE(LogHas("Folder /mnt/hd/DataFiles/MoveToNSA (MoveDir) did not exist and was created")) << Log();
  EXPECT_NE(ToolkitLog().find("unknown key 'CopySpeeed'"), std::string::npos) << ToolkitLog();
  // the second run finds the folder: nothing more to say
  RunResult again = Run({"--console", "-"});
  EXPECT_EQ(again.out.find("did not exist and was created"), std::string::npos) << again.out;
}

}  // namespace
