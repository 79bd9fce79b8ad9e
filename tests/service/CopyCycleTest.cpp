// CopyCycleTest.cpp -- steps of the copy cycle driven directly: the state
// line, the end of the list, files without companions, the start reason and
// the release of the work list.
#include <string>

#include "SettingsTestFixture.h"

namespace {

class CopyCycleTest : public CycleTest {
 protected:
  // Steps the machine, one firmware round between steps, until it reaches
  // the state (which is not run). False when it never does.
  bool StepUntil(int state, int maxSteps = 200000)
  {
    for (int i = 0; i < maxSteps; i++) {
      if (CopyState == state) return true;
      CopyCycleStep();
      Rx().Step();
    }
    return CopyState == state;
  }
};

TEST_F(CopyCycleTest, StateLineNamesEveryValueAndOnlyInTheLongLog)
{
  struct Case {
    int job, state, typ;
    const char *line;
    // clang-format off
  } cases[] = {
      {JS_Normal, 12, FT_Inf, "New State: JS_Normal - CS_unkown(12) - FT_Inf"},
      {JS_Job, 14, FT_Other, "New State: JS_Job - CS_unkown(14) - FT_Other"},
      {7, 15, 9, "New State: JS_unkown(7) - CS_unkown(15) - FT_unkown(9)"},
  };
  // clang-format on
  LogLength = 1;
  for (const Case &c : cases) {
    JobState = c.job;
    CopyState = c.state;
    FileTyp = c.typ;
    EXPECT_TRUE(CopyCycleStep());
    CopyCycleStep();  // unchanged: no second line
    EXPECT_EQ(LogCount(c.line), 1u) << c.line << "\n" << Log();
  }
  LogLength = 0;
  CopyState = 13;
  CopyCycleStep();
  EXPECT_FALSE(LogHas("New State: JS_unkown(7) - CS_unkown(13) - FT_unkown(9)"));
}

TEST_F(CopyCycleTest, EmptyListEndsTheRunAndTheEventIsAnsweredWithZero)
{
  CopyState = CS_Prepare;
  EXPECT_FALSE(CopyCycleStep());
  EXPECT_EQ(CopyState, CS_Exit);
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"reached end of file list", "No more files to copy", std::string(59, '=')}));
}

TEST_F(CopyCycleTest, OtherFileIsCopiedAloneAndNeverDeletedInNormalMode)
{
  UseShareFolders();
  move = 1;
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/clip.avi", Pattern(5000, 1));
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/clip.avi.inf", "not a companion");
  FilesToProcess[0].FileName = static_cast<char *>(TAP_MemAlloc(9));
  FilesToProcess[0].Folder = static_cast<char *>(TAP_MemAlloc(21));
  std::strcpy(FilesToProcess[0].FileName, "clip.avi");
  std::strcpy(FilesToProcess[0].Folder, "/DataFiles/MoveToNAS");
  NrOfFilesToProcess = 1;
  CopyState = CS_Prepare;
  ASSERT_TRUE(StepUntil(CS_Exit));
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/NAS-Share/clip.avi"), Pattern(5000, 1));
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/NAS-Share/clip.avi.inf"));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/MoveToNAS/clip.avi"));
  EXPECT_TRUE(LogHas("File is not an rec file, so no copyjob of nav and inf file."));
  EXPECT_TRUE(LogHas("File: /mnt/hd/DataFiles/MoveToNAS/clip.avi wird NICHT gel\xF6scht, da .inf oder .nav fehlt"));
  EXPECT_EQ(FileStatus[FT_Other], FS_Done);
}

TEST_F(CopyCycleTest, TsMainFileBringsItsCompanions)
{
  UseShareFolders();
  for (const char *f : {"News.ts", "News.ts.inf", "News.ts.nav"})
    WriteFile(std::string("/mnt/hd/DataFiles/MoveToNAS/") + f, Pattern(3000, 2));
  ASSERT_EQ(BuildFileList(MoveDir), 1);
  CopyState = CS_Prepare;
  ASSERT_TRUE(StepUntil(CS_Exit));
  for (const char *f : {"News.ts", "News.ts.inf", "News.ts.nav"})
    EXPECT_TRUE(Exists(std::string("/mnt/hd/DataFiles/NAS-Share/") + f)) << f;
}

TEST_F(CopyCycleTest, CleanupReleasesEveryEntry)
{
  for (int i = 0; i < 5; i++) WriteFile("/mnt/hd/DataFiles/MoveToNAS/F" + std::to_string(i) + ".rec", "x");
  size_t before = Rx().MemoryInUse();
  ASSERT_EQ(BuildFileList("/mnt/hd/DataFiles/MoveToNAS"), 1);
  ASSERT_EQ(NrOfFilesToProcess, 5);
  CurrentFileToProcess = 3;
  CleanupMemory();
  EXPECT_EQ(NrOfFilesToProcess, 0);
  EXPECT_EQ(CurrentFileToProcess, 3);
  EXPECT_EQ(FilesToProcess[4].FileName, nullptr);
  EXPECT_EQ(Rx().MemoryInUse(), before);
}

// The mount wait ends once the folders are there: the index plug-in is
// asked at once and the list begins 10 s after (the first whole second past
// them), however much of NASBootTime is left. Ticks of the virtual clock:
// the wait looks once a second, so the share is seen within 100 ticks, and
// the list begins at the first look more than 1000 ticks after that.
TEST_F(CopyCycleTest, AShareThatComesLateEndsTheWaitWhenItIsThere)
{
  TempDir nas;
  const char *share = "/mnt/hd/DataFiles/NAS-Share";
  Rx().AddMount({share, nas.path, 1e9, -1});
  for (double after : {0.0, 3.0, 30.0}) {
    SCOPED_TRACE(after);
    ResetCopyCycle();
    ResetWorkListChecks();
    Rx().SetMountTimes(share, Rx().RunSeconds() + after, -1);
    UseShareFolders();
    MountedDirDest = 1;
    NASBootTime = 60;
    MakeDir("/mnt/hd/DataFiles/MoveToNAS");
    WriteFile(kLogPath, "");
    CopyState = CS_WaitMount;
    const dword start = Rx().Ticks();
    dword appeared = 0, settle = 0;
    while (CopyState == CS_WaitMount && Rx().Ticks() - start < 10000) {
      CopyCycleStep();
      Rx().Step();
      if (appeared == 0 && Rx().MountPresent(share)) appeared = Rx().Ticks();
      if (settle == 0 && LogHas("Wait 10 seconds to give mount tap enough time to clear screen."))
        settle = Rx().Ticks();
    }
    ASSERT_NE(CopyState, CS_WaitMount) << Log();
    const dword listed = Rx().Ticks();
    EXPECT_LE(settle - appeared, 100u) << "the index plug-in is asked at the first look that finds the share";
    EXPECT_GT(listed - settle, 1000u) << "10 s";
    EXPECT_LE(listed - settle, 1100u) << "then the first whole second past them";
    EXPECT_LE(listed - appeared, 1200u) << "the rest of NASBootTime is not waited for";
    EXPECT_EQ(LogHas("NAS directory not found or not mounted. Waiting for 60 seconds."), after > 0) << Log();
    Rx().SetMountTimes(share, 1e9, -1);
    EndFileListWalk();
  }
}

struct UptimeCase {
  double uptime;
  int manual;
};

void PrintTo(const UptimeCase &c, std::ostream *os) { *os << "uptime " << c.uptime << " s"; }

// A receiver of its own whose clock starts at the uptime given (the engine
// fixture moves the clock on).
class StartReason : public SimTest, public ::testing::WithParamInterface<UptimeCase> {
 protected:
  void Configure(sim::Config &config) override { config.uptimeAtStart = GetParam().uptime; }
  std::string Log() const { return ReadFile(kLogPath); }
};

TEST_P(StartReason, ManualOnlyAfter230Seconds)
{
  CallTraceInit();
  WriteLogFirstCall = true;  // this sandbox has no settings folder yet
  EXPECT_EQ(StartReasonManual(0), GetParam().manual);
  EXPECT_EQ(Log(), "");
  StartReasonManual(1);
  EXPECT_NE(Log().find(" UpTime = "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Uptimes, StartReason,
                         ::testing::Values(UptimeCase{100, 0}, UptimeCase{229, 0}, UptimeCase{300, 1}),
                         [](const ::testing::TestParamInfo<UptimeCase> &info) {
                           return "uptime" + std::to_string(static_cast<int>(info.param.uptime));
                         });

}  // namespace
