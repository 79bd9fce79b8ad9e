// TapManagementTest.cpp -- other plug-ins through the simulator's plug-in
// table: plug-in file headers (ELF32 and ELF64, well-formed and malformed),
// ids by slot, events to one or all, stop and kill, start with parameters,
// and the receiving side of the channel.
#include <cstring>
#include <string>
#include <vector>

#include "ElfImage.h"
#include "ElfReader.h"
#include "FirmwareBinding.h"
#include "PathTypes.h"
#include "SimFixture.h"
#include "TapManagement.h"
#include "tap_header.h"

namespace {

using namespace elfimage;

constexpr dword kNavMender = 0x8E0A4227;
constexpr dword kMountNAS = 0x80000106;
constexpr dword kMountDrive = 0x8E0A423C;
constexpr dword kRequester = 0x8E0A4F01;
constexpr word kDec20_2015 = 57376;

// ---- fixtures ----

class TapManagementTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    FIS_ResetCache();
  }

  bool Info(const std::string &path, TapFileInfo &info) { return HDD_TAP_GetInfo(path.c_str(), &info); }

  // The behaviour file of a stand-in: "Mode=..\r\n..."
  void Behave(dword id, const std::string &settings)
  {
    char name[64];
    snprintf(name, sizeof(name), "/mnt/hd/ProgramFiles/Settings/StandIns/%08X.ini", (unsigned)id);
    WriteFile(name, settings);
  }

  // Installs and loads a stand-in plug-in file; returns its slot.
  int LoadTap(const std::string &file, const std::string &folder = "/mnt/hd/ProgramFiles")
  {
    std::string error;
    int slot = Rx().Load(Rx().Install(TapFile(file), folder), &error);
    EXPECT_GE(slot, 0) << file << ": " << error;
    Rx().SetCurrentTask(hostSlot);
    return slot;
  }

  dword CurrentTask() const { return *static_cast<dword *>(FIS_vCurTapTask()); }

  std::string Printed() const { return Rx().PrintOutput(); }

  size_t Count(const std::string &text) const
  {
    const std::string out = Printed();
    size_t n = 0;
    for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) n++;
    return n;
  }
};

// ---- plug-in files ----

TEST_F(TapManagementTest, ReadsWellFormedFilesOfBothClasses)
{
  for (bool is64 : {false, true}) {
    SCOPED_TRACE(is64 ? "ELF64" : "ELF32");
    WriteFile("/mnt/hd/ProgramFiles/Made.tap", BuildElf(is64, PluginSections(0x12345678)).bytes);
    TapFileInfo info;
    for (const char *path : {"/mnt/hd/ProgramFiles/Made.tap", "/ProgramFiles/Made.tap"}) {
      ASSERT_TRUE(Info(path, info)) << path;
      EXPECT_EQ(0x12345678u, info.ID);
      EXPECT_EQ(kDec20_2015, info.Date);
      EXPECT_STREQ("Made To Measure", info.TAPName);
      EXPECT_STREQ("Tests", info.Author);
      EXPECT_STREQ("A plug-in file written by a test", info.Description);
      EXPECT_STREQ("V9", info.Version);
    }
    ASSERT_TRUE(HDD_ChangeDir("/ProgramFiles"));
    ASSERT_TRUE(Info("Made.tap", info)) << "relative to the current folder";
    ASSERT_TRUE(HDD_ChangeDir("/"));
  }
}

TEST_F(TapManagementTest, BuildDates)
{
  struct Case {
    std::string etcinfo;
    word year;
    byte month, day;
    // clang-format off
  } cases[] = {
      {"Jan  5 2016", 2016, 1, 5},  // the compiler pads the day with a blank
      {"Dec 31 1999", 1999, 12, 31},
      {"Foo 20 2015", 2015, 0, 20},  // no month matches: month 0
      {"jan 20 2015", 2015, 0, 20},  // month names are compared exactly
      {"Dec", 0, 12, 0},             // short texts read zeros
      {"", 0, 0, 0},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.etcinfo);
    auto sections = PluginSections(7, "");
    sections.push_back({"._tap_etcinfo", 1, Text(c.etcinfo, 64)});
    WriteFile("/mnt/hd/Dated.tap", BuildElf(false, sections).bytes);
    TapFileInfo info;
    ASSERT_TRUE(Info("/Dated.tap", info));
    EXPECT_EQ(TAP_MakeMjd(c.year, c.month, c.day), info.Date);
  }
  WriteFile("/mnt/hd/Undated.tap", BuildElf(true, PluginSections(7, "")).bytes);
  TapFileInfo info;
  ASSERT_TRUE(Info("/Undated.tap", info));
  EXPECT_EQ(0u, info.Date) << "no etcinfo section: build date 0";
}

TEST_F(TapManagementTest, TextsWithoutTerminatorAreCutToTheirField)
{
  auto sections = PluginSections(9);
  sections[SectionIndex(sections, "._tap_program_name") - 1].data = std::string(80, 'N');
  sections[SectionIndex(sections, "._tap_description") - 1].data = std::string(128, 'D');
  sections[SectionIndex(sections, "._tap_author_name") - 1].data = "Short";  // no terminator, short
  WriteFile("/mnt/hd/Long.tap", BuildElf(true, sections).bytes);
  TapFileInfo info;
  ASSERT_TRUE(Info("/Long.tap", info));
  EXPECT_EQ(std::string(63, 'N'), info.TAPName);
  EXPECT_EQ(std::string(127, 'D'), info.Description);
  EXPECT_STREQ("Short", info.Author);
}

TEST_F(TapManagementTest, MalformedFilesGiveFalseAndIdZero)
{
  using Corrupt = void (*)(ElfImage &, const std::vector<ElfSectionDef> &);
  struct Case {
    const char *name;
    Corrupt corrupt;
    // clang-format off
  } cases[] = {
      {"not ELF", [](ElfImage &e, auto &) { e.bytes[1] = 'X'; }},
      {"big-endian", [](ElfImage &e, auto &) { e.bytes[5] = 2; }},
      {"unknown class", [](ElfImage &e, auto &) { e.bytes[4] = 3; }},
      {"cut inside the header", [](ElfImage &e, auto &) { e.bytes.resize(30); }},
      {"empty", [](ElfImage &e, auto &) { e.bytes.clear(); }},
      {"cut inside the section table", [](ElfImage &e, auto &) { e.bytes.resize(e.bytes.size() - 10); }},
      {"table past the end", [](ElfImage &e, auto &) { e.PutWord(e.ShoffField(), e.bytes.size() + 100); }},
      {"table offset wraps",
       [](ElfImage &e, auto &) { e.PutWord(e.ShoffField(), e.is64 ? ~0ull - 8 : 0xFFFFFFF8u); }},
      {"no sections", [](ElfImage &e, auto &) { e.Put(e.ShnumField(), 0, 2); }},
      {"huge section count", [](ElfImage &e, auto &) { e.Put(e.ShnumField(), 0xFFFF, 2); }},
      {"odd entry size", [](ElfImage &e, auto &) { e.Put(e.EntSizeField(), 12, 2); }},
      {"name table index out of range",
       [](ElfImage &e, auto &) { e.Put(e.ShstrndxField(), e.shstrndx + 1, 2); }},
      {"name table not a string table", [](ElfImage &e, auto &) { e.Put(e.Field(e.shstrndx, "type"), 1, 4); }},
      {"name table past the end",
       [](ElfImage &e, auto &) { e.PutWord(e.Field(e.shstrndx, "size"), e.bytes.size() * 4); }},
      {"name table huge", [](ElfImage &e, auto &) { e.PutWord(e.Field(e.shstrndx, "size"), 0x7FFFFFF0); }},
      {"id name outside the table",
       [](ElfImage &e, auto &s) { e.Put(e.Field(SectionIndex(s, "._tap_id"), "name"), 0xFFFFFF00u, 4); }},
      {"id data past the end",
       [](ElfImage &e, auto &s) { e.PutWord(e.Field(SectionIndex(s, "._tap_id"), "offset"), e.bytes.size()); }},
      {"id of 3 bytes", [](ElfImage &e, auto &s) { e.PutWord(e.Field(SectionIndex(s, "._tap_id"), "size"), 3); }},
      {"id of 8 bytes", [](ElfImage &e, auto &s) { e.PutWord(e.Field(SectionIndex(s, "._tap_id"), "size"), 8); }},
      {"id renamed", [](ElfImage &e, auto &s) { e.Put(e.Field(SectionIndex(s, "._tap_id"), "name"), 1, 4); }},
  };
  // clang-format on
  for (bool is64 : {false, true}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message() << (is64 ? "ELF64 " : "ELF32 ") << c.name);
      auto sections = PluginSections(0x0BADF11E);
      ElfImage img = BuildElf(is64, sections);
      c.corrupt(img, sections);
      WriteFile("/mnt/hd/Bad.tap", img.bytes);
      TapFileInfo info;
      std::memset(&info, 0x55, sizeof(info));
      EXPECT_FALSE(Info("/Bad.tap", info));
      EXPECT_EQ(0u, info.ID);
      EXPECT_EQ(nullptr, fTAP) << "the file is closed again";
    }
  }
  EXPECT_NE(std::string::npos, Console().find("HDD_TAP_GetInfo: /mnt/hd/Bad.tap is no readable plug-in file"))
      << "reported, once";
  TapFileInfo info;
  EXPECT_FALSE(Info("/Missing.tap", info));
  EXPECT_FALSE(HDD_TAP_GetInfo(nullptr, &info));
  EXPECT_FALSE(HDD_TAP_GetInfo("/Bad.tap", nullptr));
}

TEST_F(TapManagementTest, ElfReaderDirectly)
{
  WriteFile("/mnt/hd/Made.tap", BuildElf(false, PluginSections(0xCAFE0001)).bytes);
  ASSERT_TRUE(ELFOpenFile("/mnt/hd/Made.tap"));
  ASSERT_TRUE(ELFReadELFHeader());
  ASSERT_TRUE(ELFReadSectionHeaders());
  ASSERT_TRUE(ELFReadShstrtabSection());
  EXPECT_EQ(-1, ELFGetSectionIndex(""));  // entry 0 has the empty name and never matches
  EXPECT_EQ(-1, ELFGetSectionIndex("._tap"));
  int id = ELFGetSectionIndex("._tap_id");
  ASSERT_GT(id, 0);
  dword value = 0;
  EXPECT_TRUE(ELFReadDWORD(id, &value));
  EXPECT_EQ(0xCAFE0001u, value);
  EXPECT_FALSE(ELFReadDWORD(ELFGetSectionIndex("._tap_header"), &value)) << "not 4 bytes";
  EXPECT_FALSE(ELFReadDWORD(0, &value));
  EXPECT_FALSE(ELFReadDWORD(1000, &value));
  char small[4];
  EXPECT_TRUE(ELFReadData(ELFGetSectionIndex("._tap_header"), small, sizeof(small)));
  EXPECT_EQ(0, std::memcmp(small, "TFAP", 4));
  ELFCleanup();
  ELFCleanup();
  EXPECT_EQ(nullptr, SectionHeaders);
}

TEST_F(TapManagementTest, BuiltPluginFilesCarryTheirIds)
{
  struct Case {
    const char *file;
    dword id;
  } cases[] = {{"NavMender.tap", kNavMender},
               {"MountNAS.tap", kMountNAS},
               {"MountDrive.tap", kMountDrive},
               {"Requester.tap", kRequester}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = Rx().Install(TapFile(c.file));
    TapFileInfo info;
    ASSERT_TRUE(Info(path, info));
    EXPECT_EQ(c.id, info.ID);
    EXPECT_EQ(kDec20_2015, info.Date);
    EXPECT_NE('\0', info.TAPName[0]);
  }
}

TEST_F(TapManagementTest, ReceiverPluginFilesReadAsOnTheReceiver)
{
  if (ReceiverTapFile("Ferrox.tap").empty())
    GTEST_SKIP() << "plug-in files for the receiver come from the cross build only";
  struct Case {
    const char *file;
    dword id;
    const char *name;
  } cases[] = {{"MountNAS.tap", kMountNAS, "MountNAS"}, {"Ferrox.tap", 0x8E0A42EF, "Ferrox 1.17"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    fs::path file = ReceiverTapFile(c.file);
    if (!fs::exists(file)) continue;  // not every plug-in is part of every build
    std::string path = Rx().Install(file, "/mnt/hd/Receiver");
    EXPECT_EQ("\177ELF\001", ReadFile(path).substr(0, 5)) << "a 32-bit file";
    TapFileInfo info;
    ASSERT_TRUE(Info(path, info));
    EXPECT_EQ(c.id, info.ID);
    EXPECT_STREQ(c.name, info.TAPName);
    EXPECT_EQ(kDec20_2015, info.Date);
  }
}

// ---- running plug-ins ----

TEST_F(TapManagementTest, IdsBySlot)
{
  int nas = LoadTap("MountNAS.tap");
  int drive = LoadTap("MountDrive.tap");
  EXPECT_EQ(kMountNAS, HDD_TAP_GetIDByIndex(nas));
  EXPECT_EQ(kMountDrive, HDD_TAP_GetIDByIndex(drive));
  EXPECT_EQ(nas, HDD_TAP_GetIndexByID(kMountNAS));
  EXPECT_TRUE(HDD_TAP_isRunning(kMountDrive));
  EXPECT_FALSE(HDD_TAP_isRunning(kNavMender));
  EXPECT_EQ(-1, HDD_TAP_GetIndexByID(kNavMender));
  EXPECT_EQ(-1, HDD_TAP_GetIndexByID(0)) << "free slots report 0, but 0 names no plug-in";
  for (int slot : {-1, 16, 1000}) EXPECT_EQ(0u, HDD_TAP_GetIDByIndex(slot));
  EXPECT_EQ(0u, HDD_TAP_GetIDByIndex(15)) << "free slot";
  EXPECT_EQ(0u, HDD_TAP_GetIDByIndex(hostSlot)) << "the host task has no plug-in file";

  // the id is read from the file on disk at every query
  fs::remove(Host("/mnt/hd/ProgramFiles/MountNAS.tap"));
  EXPECT_EQ(0u, HDD_TAP_GetIDByIndex(nas));
  EXPECT_FALSE(HDD_TAP_isRunning(kMountNAS));
}

TEST_F(TapManagementTest, PathsOfRunningPluginsUpTo103Characters)
{
  // "/mnt/hd/" + folder + "/MountNAS.tap": 8 + n + 13 characters
  const std::string fits = "/mnt/hd/" + std::string(103 - 8 - 13, 'f');
  const std::string tooLong = "/mnt/hd/" + std::string(104 - 8 - 13, 'g');
  MakeDir(fits);
  MakeDir(tooLong);
  int a = LoadTap("MountNAS.tap", fits);
  int b = LoadTap("MountDrive.tap", tooLong);
  EXPECT_EQ(kMountNAS, HDD_TAP_GetIDByIndex(a));
  EXPECT_EQ(0u, HDD_TAP_GetIDByIndex(b)) << "a path that does not fit 104 bytes is no id";
}

TEST_F(TapManagementTest, SendEventToOneRunsItAsItself)
{
  int nas = LoadTap("MountNAS.tap");
  EXPECT_EQ(TapParam(RKEY_Ok), HDD_TAP_SendEvent(kMountNAS, false, EVT_KEY, RKEY_Ok, 0));
  EXPECT_EQ(1u, Count("StandIn 80000106: event 0x0100 in slot " + std::to_string(nas)));
  EXPECT_EQ(dword(hostSlot), CurrentTask()) << "the current task is restored";
  EXPECT_EQ(0u, HDD_TAP_SendEvent(kNavMender, false, EVT_KEY, RKEY_Ok, 0)) << "not running";
}

TEST_F(TapManagementTest, SendEventToAll)
{
  Behave(kMountNAS, "Consume=1\r\n");
  LoadTap("NavMender.tap");
  LoadTap("MountNAS.tap");
  LoadTap("MountDrive.tap");

  EXPECT_EQ(0u, HDD_TAP_SendEvent(0, true, EVT_KEY, RKEY_Exit, 0));
  EXPECT_EQ(1u, Count("StandIn 8E0A4227: event 0x0100"));
  EXPECT_EQ(1u, Count("StandIn 80000106: event 0x0100"));
  EXPECT_EQ(0u, Count("StandIn 8E0A423C: event 0x0100")) << "stops at the first consumer";

  EXPECT_EQ(TapParam(RKEY_Exit), HDD_TAP_SendEvent(0, false, EVT_KEY, RKEY_Exit, 0))
      << "without the flag every handler runs; the last one's result";
  EXPECT_EQ(2u, Count("StandIn 8E0A4227: event 0x0100"));
  EXPECT_EQ(1u, Count("StandIn 8E0A423C: event 0x0100"));
  EXPECT_EQ(dword(hostSlot), CurrentTask());
}

TEST_F(TapManagementTest, TerminateSendsTheStopEventAndSetsTheKillBit)
{
  EXPECT_EQ(-1, HDD_TAP_Terminate(kMountNAS));
  Behave(kMountNAS, "Mode=2\r\n");  // ignores the stop event
  int nas = LoadTap("MountNAS.tap");
  LoadTap("MountDrive.tap");
  EXPECT_EQ(-1, HDD_TAP_Terminate(kNavMender)) << "not running";
  EXPECT_EQ(0u, Count("event 0x0900")) << "nothing was sent";

  EXPECT_EQ(2, HDD_TAP_Terminate(kMountNAS));
  EXPECT_EQ(1u, Count("StandIn 80000106: event 0x0900"));
  EXPECT_EQ(0u, Count("StandIn 8E0A423C: event 0x0900"));
  auto *table = static_cast<FwTapTableEntry *>(FIS_vTAPTable());
  EXPECT_EQ(dword(TAP_RUNSTATE_KILL), table[nas].RunState);
  Rx().Step();
  EXPECT_FALSE(HDD_TAP_isRunning(kMountNAS));
  EXPECT_TRUE(HDD_TAP_isRunning(kMountDrive));
}

// The copy service's way of stopping a plug-in, done from the test's task.
struct StopResult {
  const char *how;  // "not running", "stop event", "kill bit", "still running"
  dword ticks;      // simulator ticks from the stop event to the answer
};

StopResult StopFromAnotherPlugin(dword id)
{
  if (!HDD_TAP_isRunning(id)) return {"not running", 0};
  const dword start = TAP_GetTick();
  HDD_TAP_SendEvent(id, false, EVT_STOP, 1, 0);
  for (const char *how : {"stop event", "kill bit"}) {
    if (std::string(how) == "kill bit") HDD_TAP_Terminate(id);
    const dword deadline = TAP_GetTick() + 300;
    do {
      TAP_SystemProc();
      if (!HDD_TAP_isRunning(id)) return {how, TAP_GetTick() - start};
    } while (TAP_GetTick() < deadline);
  }
  return {"still running", TAP_GetTick() - start};
}

TEST_F(TapManagementTest, StoppingEachStandInBehaviour)
{
  struct Case {
    dword id;
    const char *file;
    const char *behaviour;
    std::string how;
    dword minTicks, maxTicks;
    // clang-format off
  } cases[] = {
      {kMountNAS, "MountNAS.tap", "Mode=1\r\n", "stop event", 1, 2},
      {kMountDrive, "MountDrive.tap", "Mode=1\r\n", "stop event", 1, 2},
      {kMountNAS, "MountNAS.tap", "Mode=0\r\nRunTicks=100000\r\n", "stop event", 1, 2},
      {kMountNAS, "MountNAS.tap", "Mode=2\r\n", "kill bit", 301, 302},
      {kMountDrive, "MountDrive.tap", "Mode=2\r\n", "kill bit", 301, 302},
      {kNavMender, "NavMender.tap", "Mode=2\r\n", "kill bit", 301, 302},
      {kMountNAS, "MountNAS.tap", "Mode=3\r\n", "still running", 600, 600},
      {kMountDrive, "MountDrive.tap", "Mode=3\r\n", "still running", 600, 600},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.file << " " << c.behaviour);
    Behave(c.id, c.behaviour);
    int slot = LoadTap(c.file);
    StopResult r = StopFromAnotherPlugin(c.id);
    EXPECT_EQ(c.how, r.how);
    EXPECT_GE(r.ticks, c.minTicks);
    EXPECT_LE(r.ticks, c.maxTicks);
    EXPECT_EQ(dword(hostSlot), CurrentTask());
    if (c.how == "still running") {
      EXPECT_TRUE(Rx().IsLoaded(slot));
      EXPECT_GE(Count("kill bit cleared"), 1u);
      auto *table = static_cast<FwTapTableEntry *>(FIS_vTAPTable());
      table[slot].Handler = nullptr;  // an unstoppable plug-in: take it out by hand
      table[slot].RunState = TAP_RUNSTATE_KILL;
    }
    Rx().Step();
    EXPECT_FALSE(HDD_TAP_isRunning(c.id));
  }
  EXPECT_STREQ("not running", StopFromAnotherPlugin(kMountNAS).how);
}

TEST_F(TapManagementTest, ARunForAWhileEndsByItself)
{
  Behave(kNavMender, "Mode=0\r\nRunTicks=250\r\n");
  LoadTap("NavMender.tap");
  const dword start = TAP_GetTick();
  while (HDD_TAP_isRunning(kNavMender) && TAP_GetTick() - start < 1000) Rx().Step();
  EXPECT_FALSE(HDD_TAP_isRunning(kNavMender));
  EXPECT_NEAR(250.0, double(TAP_GetTick() - start), 2.0);
  EXPECT_EQ(1u, Count("StandIn 8E0A4227: run over, ending"));
}

// ---- starting ----

TEST_F(TapManagementTest, StartHandsOverParametersThroughSharedMemory)
{
  Rx().Install(TapFile("MountNAS.tap"));
  dword started = 0;
  ASSERT_TRUE(HDD_TAP_Start("/ProgramFiles/MountNAS.tap", true, 0xABCD, &started));
  EXPECT_EQ(kMountNAS, started);
  EXPECT_TRUE(HDD_TAP_isRunning(kMountNAS));
  EXPECT_EQ(1u, Count("StandIn 80000106: start parameters magic 5C3A9E17 id 80000106 parameter 0000ABCD"));
  EXPECT_EQ(1u, Count("StandIn 80000106: started by another plug-in"));
  EXPECT_EQ(0u, Rx().SharedMemorySegments()) << "no segment outlives the start";
  EXPECT_EQ(nullptr, tkl_parametered_tap);
  EXPECT_EQ(dword(hostSlot), CurrentTask());

  Rx().Install(TapFile("MountDrive.tap"), "/mnt/hd/ProgramFiles/Sub");
  ASSERT_TRUE(HDD_ChangeDir("/ProgramFiles/Sub"));
  ASSERT_TRUE(HDD_TAP_Start("MountDrive.tap", false, 7, nullptr));
  EXPECT_TRUE(HDD_TAP_isRunning(kMountDrive));
  EXPECT_EQ(1u, Count("StandIn 8E0A423C: start parameters magic 5C3A9E17 id 8E0A423C parameter 00000007"));
  EXPECT_EQ(0u, Count("StandIn 8E0A423C: started by another plug-in")) << "no marker asked for";
  EXPECT_EQ(0u, Rx().SharedMemorySegments());
}

TEST_F(TapManagementTest, StartOfWhatIsNoPluginFile)
{
  WriteFile("/mnt/hd/ProgramFiles/Text.tap", "not a plug-in");
  dword started = 99;
  EXPECT_FALSE(HDD_TAP_Start("/ProgramFiles/Text.tap", true, 0, &started));
  EXPECT_FALSE(HDD_TAP_Start("/ProgramFiles/Missing.tap", true, 0, nullptr));
  EXPECT_EQ(99u, started);
  EXPECT_EQ(0u, Rx().SharedMemorySegments());
}

class TapStartWithoutStarterTest : public TapManagementTest {
 protected:
  void Configure(sim::Config &config) override { config.missingSymbols = {"_Z16Appl_ExecProgramPc"}; }
};

TEST_F(TapStartWithoutStarterTest, FirmwareWithoutTheProgramStarterStartsNothing)
{
  Rx().Install(TapFile("MountNAS.tap"));
  dword started = 0;
  EXPECT_FALSE(HDD_TAP_Start("/ProgramFiles/MountNAS.tap", true, 1, &started));
  EXPECT_EQ(kMountNAS, started) << "the id is handed out all the same";
  EXPECT_FALSE(HDD_TAP_isRunning(kMountNAS));
  EXPECT_EQ(0u, Rx().SharedMemorySegments());
}

// ---- the channel ----

class ChannelTest : public TapManagementTest {
 protected:
  TapComChannel Request(dword version, dword server)
  {
    TapComChannel ch;
    std::memset(&ch, 0, sizeof(ch));
    ch.Magic = TAPCOM_MAGIC;
    ch.Version = version;
    ch.CallerID = 0x11112222;
    ch.ServerID = server;
    ch.Status = 1;
    ch.ServiceID = 6;
    ch.ParamBlockVersion = 2;
    ch.ParamBlock = block;
    ch.ReturnValue = 77;
    return ch;
  }
  char block[16] = {};
};

TEST_F(ChannelTest, Versions13And14)
{
  Rx().RunFor(1.0);  // a tick that is not 0
  dword caller = 0, service = 0, version = 0;
  void *params = nullptr;

  TapComChannel old = Request(13, 0);
  EXPECT_EQ(&old, TAPCOM_GetChannel(TapParam(&old), &caller, &service, &version, &params));
  EXPECT_EQ(dword(TAPCOM_STATUS_VERSIONMISMATCH), old.Status);
  EXPECT_EQ(14u, old.ReturnValue);
  EXPECT_EQ(TAP_GetTick(), old.LastStatusChange);
  EXPECT_EQ(0u, caller) << "nothing handed out";
  EXPECT_EQ(nullptr, params);

  TapComChannel any = Request(14, 0);
  EXPECT_EQ(&any, TAPCOM_GetChannel(TapParam(&any), &caller, &service, &version, &params));
  EXPECT_EQ(1u, any.Status) << "a request to any plug-in keeps its status";
  EXPECT_EQ(0x11112222u, caller);
  EXPECT_EQ(6u, service);
  EXPECT_EQ(2u, version);
  EXPECT_EQ(static_cast<void *>(block), params);
  EXPECT_EQ(TAP_GetTick(), any.LastStatusChange);

  TapComChannel mine = Request(15, __tap_ud__);
  EXPECT_EQ(&mine, TAPCOM_GetChannel(TapParam(&mine), nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(dword(TAPCOM_STATUS_ACCEPTED), mine.Status);
}

TEST_F(ChannelTest, RequestsThatAreNotForThisPlugin)
{
  TapComChannel other = Request(14, __tap_ud__ + 1);
  const TapComChannel before = other;
  dword caller = 0;
  EXPECT_EQ(nullptr, TAPCOM_GetChannel(TapParam(&other), &caller, nullptr, nullptr, nullptr));
  EXPECT_EQ(0, std::memcmp(&before, &other, sizeof(other))) << "left untouched";
  EXPECT_EQ(0u, caller);

  TapComChannel noMagic = Request(14, 0);
  noMagic.Magic = 0x14011966;
  EXPECT_FALSE(isValidChannel(TapParam(&noMagic)));
  EXPECT_EQ(nullptr, TAPCOM_GetChannel(TapParam(&noMagic), nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(isValidChannel(0));
  EXPECT_EQ(nullptr, TAPCOM_GetChannel(0, nullptr, nullptr, nullptr, nullptr));

  // a number sent with the message event, or an address no record can have,
  // is refused without being read
  for (TapParam number : {TapParam(1), TapParam(5), TapParam(0xFFF)}) {
    EXPECT_FALSE(isValidChannel(number)) << number;
    EXPECT_EQ(nullptr, TAPCOM_GetChannel(number, nullptr, nullptr, nullptr, nullptr));
  }
  alignas(8) char raw[sizeof(TapComChannel) + 8];
  TapComChannel valid = Request(14, 0);
  std::memcpy(raw + 2, &valid, sizeof(valid));
  EXPECT_FALSE(isValidChannel(TapParam(raw + 2))) << "misaligned";
  EXPECT_TRUE(isValidChannel(TapParam(&valid)));
  EXPECT_NE(std::string::npos, Console().find("TAPCOM: message without a channel record ignored"));
}

TEST_F(ChannelTest, ARequestWithoutParameterBlockIsRejected)
{
  TapComChannel ch = Request(14, __tap_ud__);
  ch.ParamBlock = nullptr;
  void *params = block;
  EXPECT_EQ(nullptr, TAPCOM_GetChannel(TapParam(&ch), nullptr, nullptr, nullptr, &params));
  EXPECT_EQ(dword(TAPCOM_STATUS_REJECTED), ch.Status);
  EXPECT_EQ(static_cast<void *>(block), params) << "nothing handed out";
  EXPECT_NE(std::string::npos,
            Console().find("TAPCOM: request of 0x11112222 for service 6 without a parameter block rejected"));
}

TEST_F(ChannelTest, RejectAndFinish)
{
  Rx().RunFor(0.5);
  TapComChannel ch = Request(14, 0);
  TAPCOM_Reject(&ch);
  EXPECT_EQ(dword(TAPCOM_STATUS_REJECTED), ch.Status);
  EXPECT_EQ(TAP_GetTick(), ch.LastStatusChange);
  EXPECT_EQ(77u, ch.ReturnValue);
  TAPCOM_Finish(&ch, 5);
  EXPECT_EQ(dword(TAPCOM_STATUS_FINISHED), ch.Status);
  EXPECT_EQ(5u, ch.ReturnValue);

  TapComChannel bad = Request(14, 0);
  bad.Magic = 0;
  const TapComChannel before = bad;
  TAPCOM_Reject(&bad);
  TAPCOM_Finish(&bad, 9);
  TAPCOM_Reject(nullptr);
  TAPCOM_Finish(nullptr, 9);
  EXPECT_EQ(0, std::memcmp(&before, &bad, sizeof(bad)));
}

TEST_F(ChannelTest, RequesterPluginAgainstAnAnsweringPlugin)
{
  struct Case {
    const char *request;
    const char *expected;
    // clang-format off
  } cases[] = {
      {"ServerID=80000106\r\nServiceID=5\r\nBlockSize=16\r\n", "status 4, return 6"},
      {"ServerID=0\r\nServiceID=5\r\nBlockSize=16\r\n", "status 4, return 6"},
      {"ServerID=80000106\r\nChannelVersion=13\r\n", "status 5, return 14"},
      {"ServerID=80000106\r\nNullBlock=1\r\n", "status 3, return 0"},
      {"ServerID=8E0A423C\r\n", "status 1, return 0"},  // not running: nobody answers
  };
  // clang-format on
  Behave(kMountNAS, "Answer=1\r\n");
  LoadTap("MountNAS.tap");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.request);
    const size_t mark = Printed().size();  // this case's output starts here
    WriteFile("/mnt/hd/ProgramFiles/Settings/StandIns/Requester.ini", c.request);
    LoadTap("Requester.tap");
    Rx().Step();
    Rx().Step();
    EXPECT_FALSE(HDD_TAP_isRunning(kRequester)) << "it ends after its request";
    const std::string out = Printed().substr(mark);
    EXPECT_NE(std::string::npos, out.find(std::string("Requester: sent, result "))) << out;
    EXPECT_NE(std::string::npos, out.find(c.expected)) << out;
  }
  EXPECT_TRUE(HDD_TAP_isRunning(kMountNAS));
}

}  // namespace
