// PluginTableTest.cpp -- the plug-in table: loading .tap files, events, the
// current task during (nested) handler calls, TAP_Exit, the kill bit, the
// program starter and the lifecycle order.
#include <chrono>

#include "FirmwareBinding.h"
#include "FirmwareState.h"
#include "SimFixture.h"
#include "tap_api.h"

namespace {

// What the handlers below saw, reset by every test.
struct Seen {
  std::vector<std::string> log;  // "<who> <event> cur=<slot>"
  int slotA = -1, slotB = -1;    // slots of the two handler tasks
  bool loadedDuringNested = false;
};
Seen seen;

void Note(const char *who, word ev)
{
  seen.log.push_back(std::string(who) + " " + std::to_string(ev) + " cur=" + std::to_string(_curTapTask));
}

class PluginTableTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    seen = Seen{};
  }
  int Attach(TapEventHandlerFn handler)
  {
    int slot = Rx().AttachHostTask("/mnt/hd", handler);
    Rx().SetCurrentTask(hostSlot);
    return slot;
  }
  // Installs TickWaiter into <folder> with a wait of <ticks>; loads it.
  int LoadWaiter(const std::string &folder, const std::string &ticks, std::string *error = nullptr)
  {
    WriteFile(folder + "/TickWaiter.cfg", ticks);
    return Rx().Load(Rx().Install(TapFile("TickWaiter.tap"), folder), error);
  }
};

TEST_F(PluginTableTest, LoadedPluginRunsItsWaitAndUnloadsItself)
{
  std::string error;
  int slot = LoadWaiter("/mnt/hd/ProgramFiles", "18000", &error);
  ASSERT_GE(slot, 0) << error;
  EXPECT_EQ(_tapTask[slot].RunState, 1u);
  ASSERT_NE(_tapTask[slot].File, nullptr);
  EXPECT_STREQ(_tapTask[slot].File->PathInfo->AbsPath, "/mnt/hd/ProgramFiles/TickWaiter.tap");
  EXPECT_STREQ(_tapTask[slot].Folder->Path, "/mnt/hd/ProgramFiles");
  EXPECT_EQ(_curTapTask, static_cast<dword>(hostSlot)) << "the current task comes back after TAP_Main";

  // three virtual minutes take well under a second (an emulated CPU gets more room)
  const auto limit = std::string(FERROX_EMULATOR).empty() ? std::chrono::seconds(1) : std::chrono::seconds(5);
  const auto wall = std::chrono::steady_clock::now();
  EXPECT_TRUE(Rx().RunUntilUnloaded(600));
  EXPECT_LT(std::chrono::steady_clock::now() - wall, limit);
  EXPECT_FALSE(Rx().IsLoaded(slot));
  EXPECT_EQ(_tapTask[slot].Handler, nullptr);
  const std::string report = ReadFile("/mnt/hd/ProgramFiles/TickWaiter.log");
  EXPECT_NE(report.find("started at 2015-12-20 21:05:09 in /ProgramFiles\n"), std::string::npos) << report;
  EXPECT_NE(report.find("waited 18000 ticks over 18001 idle events"), std::string::npos) << report;
}

TEST_F(PluginTableTest, EveryLoadIsAFreshInstanceWithItsOwnFolder)
{
  int a = LoadWaiter("/mnt/hd/ProgramFiles/A", "30");
  int b = LoadWaiter("/mnt/hd/ProgramFiles/B", "70");
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(Rx().CurrentFolder(a), "/mnt/hd/ProgramFiles/A");
  EXPECT_EQ(Rx().CurrentFolder(b), "/mnt/hd/ProgramFiles/B");
  EXPECT_TRUE(Rx().RunUntilUnloaded(10));
  EXPECT_NE(ReadFile("/mnt/hd/ProgramFiles/A/TickWaiter.log").find("waited 30 ticks"), std::string::npos);
  EXPECT_NE(ReadFile("/mnt/hd/ProgramFiles/B/TickWaiter.log").find("waited 70 ticks"), std::string::npos);
}

TEST_F(PluginTableTest, InitialFolderOutsideTheDiskIsTheDiskRoot)
{
  fs::create_directories(Host("/var/taps"));
  fs::copy_file(TapFile("TickWaiter.tap"), Host("/var/taps/TickWaiter.tap"));
  int slot = Rx().Load("/var/taps/TickWaiter.tap");
  ASSERT_GE(slot, 0);
  EXPECT_EQ(Rx().CurrentFolder(slot), "/mnt/hd");
}

TEST_F(PluginTableTest, MainReturningZeroUnloadsAtOnce)
{
  int slot = LoadWaiter("/mnt/hd/ProgramFiles", "0");
  ASSERT_GE(slot, 0);
  EXPECT_FALSE(Rx().IsLoaded(slot));
  EXPECT_EQ(Rx().LoadedCount(), 0);
  EXPECT_NE(ReadFile("/mnt/hd/ProgramFiles/TickWaiter.log").find("not staying"), std::string::npos);
}

TEST_F(PluginTableTest, BadFilesAreRefusedWithAReason)
{
  WriteFile("/mnt/hd/ProgramFiles/Text.tap", "this is not a plug-in");
  fs::copy_file(TapFile("TickWaiter.tap"), Host("/mnt/hd/ProgramFiles/Cut.tap"));
  fs::resize_file(Host("/mnt/hd/ProgramFiles/Cut.tap"), 200);
  struct Case {
    const char *path, *reason;
  } cases[] = {{"/mnt/hd/ProgramFiles/Missing.tap", "no such plug-in file"},
               {"/mnt/hd/ProgramFiles/Text.tap", "not a plug-in file"},
               {"/mnt/hd/ProgramFiles/Cut.tap", "not a plug-in file"}};
  for (const Case &c : cases) {
    std::string error;
    EXPECT_EQ(Rx().Load(c.path, &error), -1) << c.path;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.path << ": " << error;
  }
  EXPECT_EQ(Rx().LoadedCount(), 0);
}

TEST_F(PluginTableTest, TableHoldsSixteenPlugins)
{
  for (int i = 1; i < TAP_TABLE_SLOTS; ++i)
    ASSERT_GE(LoadWaiter("/mnt/hd/ProgramFiles/S" + std::to_string(i), "500"), 0);
  std::string error;
  EXPECT_EQ(LoadWaiter("/mnt/hd/ProgramFiles/S16", "500", &error), -1);
  EXPECT_NE(error.find("no free slot"), std::string::npos) << error;
}

TEST_F(PluginTableTest, ExitUnloadsAfterTheCurrentEvent)
{
  seen.slotA = Attach([](word ev, TapParam p1, TapParam) -> TapParam {
    Note("A", ev);
    if (ev == EVT_KEY) {
      TAP_Exit();
      seen.loadedDuringNested = sim::Receiver::Live()->IsLoaded(seen.slotA);
    }
    return p1;
  });
  Rx().Step();
  EXPECT_TRUE(Rx().IsLoaded(seen.slotA));
  Rx().PressKey(RKEY_Ok);
  EXPECT_TRUE(seen.loadedDuringNested) << "still loaded while its event runs";
  EXPECT_FALSE(Rx().IsLoaded(seen.slotA));
}

TEST_F(PluginTableTest, KillBitUnloadsAfterTheNextEventUnlessTakenBack)
{
  static bool takeBack;
  seen.slotA = Attach([](word ev, TapParam p1, TapParam) -> TapParam {
    Note("A", ev);
    if (takeBack && _tapTask[_curTapTask].RunState == TAP_RUNSTATE_KILL) _tapTask[_curTapTask].RunState = 1;
    return p1;
  });
  struct Case {
    bool takeBack, survives;
  } cases[] = {{true, true}, {false, false}};
  for (const Case &c : cases) {
    takeBack = c.takeBack;
    seen.log.clear();
    _tapTask[seen.slotA].RunState = TAP_RUNSTATE_KILL;
    EXPECT_TRUE(Rx().IsLoaded(seen.slotA)) << "nothing happens before the next event";
    Rx().Step();
    ASSERT_EQ(seen.log.size(), 1u) << "the killed plug-in still gets its next event";
    EXPECT_EQ(Rx().IsLoaded(seen.slotA), c.survives) << "take back " << c.takeBack;
  }
}

TEST_F(PluginTableTest, KilledPluginOnTheStackUnloadsWhenItsOuterEventReturns)
{
  seen.slotA = Attach([](word ev, TapParam p1, TapParam) -> TapParam {
    static int depth = 0;
    Note("A", ev);
    if (ev == EVT_IDLE && depth == 0) {
      ++depth;
      _tapTask[_curTapTask].RunState = TAP_RUNSTATE_KILL;
      TAP_SystemProc();  // a busy wait: the firmware sends idle to this plug-in too
      seen.loadedDuringNested = sim::Receiver::Live()->IsLoaded(seen.slotA);
      --depth;
    }
    return p1;
  });
  Rx().Step();
  EXPECT_TRUE(seen.loadedDuringNested) << "never unloaded while its code is on the stack";
  EXPECT_FALSE(Rx().IsLoaded(seen.slotA));
  ASSERT_EQ(seen.log.size(), 2u);
}

TEST_F(PluginTableTest, CurrentTaskIsRightInNestedCalls)
{
  seen.slotA = Attach([](word ev, TapParam p1, TapParam) -> TapParam {
    Note("A", ev);
    if (ev == EVT_KEY) {
      TAP_SystemProc();  // idle to B and (re-entrantly) to A
      Note("A-after-systemproc", ev);
      sim::Receiver::Live()->SendEvent(seen.slotB, EVT_KEY, 2, 0);
      Note("A-after-send", ev);
    }
    return p1;
  });
  seen.slotB = Attach([](word ev, TapParam p1, TapParam) -> TapParam {
    Note("B", ev);
    return p1;
  });
  Rx().SendEvent(seen.slotA, EVT_KEY, 1, 0);
  const std::string a = std::to_string(seen.slotA), b = std::to_string(seen.slotB);
  const std::vector<std::string> expected = {"A 256 cur=" + a, "A 0 cur=" + a,
                                             "B 0 cur=" + b,   "A-after-systemproc 256 cur=" + a,
                                             "B 256 cur=" + b, "A-after-send 256 cur=" + a};
  EXPECT_EQ(seen.log, expected);
  EXPECT_EQ(_curTapTask, static_cast<dword>(hostSlot));
}

TEST_F(PluginTableTest, KeysStopAtTheFirstPluginThatConsumesThem)
{
  seen.slotA = Attach([](word ev, TapParam p1, TapParam) -> TapParam {
    Note("A", ev);
    return ev == EVT_KEY ? 0 : p1;
  });
  seen.slotB = Attach([](word ev, TapParam p1, TapParam) -> TapParam {
    Note("B", ev);
    return p1;
  });
  Rx().PressKey(RKEY_Exit);
  ASSERT_EQ(seen.log.size(), 1u);
  Rx().SendStop();
  EXPECT_EQ(seen.log.size(), 3u) << "the stop event goes to every plug-in";
}

TEST_F(PluginTableTest, ProgramStarterRunsAFileOfTheWorkFolder)
{
  WriteFile("/mnt/hd/ProgramFiles/Start/TickWaiter.cfg", "40");
  Rx().Install(TapFile("TickWaiter.tap"), "/mnt/hd/ProgramFiles/Start");
  FwWorkFolderRecord record{};
  record.Magic = FW_WORKFOLDER_MAGIC;
  EXPECT_NE(ApplHdd_SelectFolder(&record, "mnt/hd/ProgramFiles/Nowhere"), 0u);
  ASSERT_EQ(ApplHdd_SelectFolder(&record, "mnt/hd/ProgramFiles/Start"), 0u);
  ApplHdd_SaveWorkFolder();
  ApplHdd_SetWorkFolder(&record);
  auto *tapFolder = *static_cast<FwWorkFolderRecord **>(FIS_vHddTapFolder());
  ASSERT_NE(tapFolder, nullptr);
  *tapFolder = record;
  char name[] = "TickWaiter.tap";
  EXPECT_NE(Appl_ExecProgram(name), 0u);
  ApplHdd_RestoreWorkFolder();
  EXPECT_EQ(_curTapTask, static_cast<dword>(hostSlot));
  EXPECT_EQ(Rx().LoadedCount(), 1);
  EXPECT_NE(Rx().PrintOutput().find("in /ProgramFiles/Start"), std::string::npos) << Rx().PrintOutput();
  char missing[] = "Missing.tap";
  EXPECT_EQ(Appl_ExecProgram(missing), 0u) << "the work folder is restored: no such file there";
  EXPECT_TRUE(Rx().RunUntilUnloaded(5));
}

TEST_F(PluginTableTest, LifecyclePhasesComeInOrder)
{
  ASSERT_GE(LoadWaiter("/mnt/hd/ProgramFiles", "5"), 0);
  ASSERT_TRUE(Rx().RunUntilUnloaded(1));
  Rx().Shutdown();
  std::vector<sim::Phase> phases;
  for (const sim::PhaseEvent &e : Rx().Trace()) phases.push_back(e.phase);
  const std::vector<sim::Phase> expected = {sim::Phase::SandboxReady, sim::Phase::PluginLoaded, sim::Phase::TapMain,
                                            sim::Phase::IdleLoop,     sim::Phase::Unload,       sim::Phase::Exit};
  EXPECT_EQ(phases, expected);
  EXPECT_EQ(Rx().Trace()[4].tick, 5u) << "unloaded after the event of tick 5";
}

}  // namespace
