// OsFacadeTest.cpp -- the rest of the OS facade and the system calls:
// terminals, /proc/uptime, shared memory, the loader's missing symbols,
// memory limits, the recorder state and the screen stubs.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <sstream>

#include "FirmwareState.h"
#include "SimFixture.h"
#include "os_facade.h"
#include "tap_api.h"

namespace {

class ConsoleTest : public SimTest {
 protected:
  std::ostringstream echo;
  void Configure(sim::Config &c) override
  {
    c.openTerminals = {0, 3};
    c.consoleEcho = &echo;
    c.uptimeAtStart = 12345.67;
  }
};

TEST_F(ConsoleTest, OnlyTheRunsTerminalsOpen)
{
  struct Case {
    const char *path;
    bool opens;
  } cases[] = {{"/dev/pts/0", true},   {"/dev/pts/3", true},   {"/dev/pts/1", false},
               {"/dev/pts/19", false}, {"/dev/pts/20", false}, {"/dev/pts/x", false}};
  for (const Case &c : cases) {
    int fd = OS_Open(c.path, O_RDWR);
    EXPECT_EQ(fd >= 0, c.opens) << c.path;
    if (fd >= 0) {
      EXPECT_EQ(OS_Close(fd), 0);
    }
  }
}

TEST_F(ConsoleTest, WritesAreCapturedPerTerminalAndEchoedWithoutNulBytes)
{
  int a = OS_Open("/dev/pts/0", O_RDWR), b = OS_Open("/dev/pts/3", O_RDWR);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(OS_Write(a, "one\0two\n", 8), 8);
  EXPECT_EQ(OS_Write(b, "three\n", 6), 6);
  EXPECT_EQ(Rx().TerminalOutput(0), std::string("one\0two\n", 8));
  EXPECT_EQ(Rx().TerminalOutput(3), "three\n");
  EXPECT_EQ(echo.str(), "onetwo\nthree\n");
  OS_Close(a);
  EXPECT_EQ(OS_Write(a, "x", 1), -1) << "a closed terminal takes nothing";
}

TEST(ConsoleText, ShownAsUtf8WithoutEncodingUtf8Twice)
{
  struct Case {
    std::string in, shown;
    // clang-format off
  } cases[] = {
      {"plain\r\n", "plain\r\n"},
      {"Gr\xFC\xDF" "e", "Grüße"},                      // the service's own ISO 8859-1
      {"M\xC3\xBCller.rec", "Müller.rec"},             // a UTF-8 name from the disk stays
      {"\xDC" "bernehmen M\xC3\xBCller", "Übernehmen Müller"},  // both in one line
      {"end \xC3", "end Ã"},                           // a cut sequence is ISO 8859-1
      {"\xC0\x80", "À\xC2\x80"},                     // an overlong form is not UTF-8
      {"\xED\xA0\x80", "í\xC2\xA0\xC2\x80"},      // nor a surrogate
      {"\xF0\x9F\x93\xBA", "\xF0\x9F\x93\xBA"},  // four bytes
  };
  // clang-format on
  for (const Case &c : cases) EXPECT_EQ(sim::TerminalTextAsUtf8(c.in), c.shown) << c.in;
}

TEST_F(ConsoleTest, EchoIsUtf8WhileTheTerminalKeepsTheReceiversBytes)
{
  int fd = OS_Open("/dev/pts/0", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(OS_Write(fd,
                     "Gr\xFC\xDF"
                     "e\n",
                     6),
            6);
  EXPECT_EQ(Rx().TerminalOutput(0),
            "Gr\xFC\xDF"
            "e\n");
  EXPECT_EQ(echo.str(), "Grüße\n");
  OS_Close(fd);
}

class RawConsoleTest : public ConsoleTest {
  void Configure(sim::Config &c) override
  {
    ConsoleTest::Configure(c);
    c.consoleRaw = true;
  }
};

TEST_F(RawConsoleTest, EchoKeepsTheReceiversBytes)
{
  int fd = OS_Open("/dev/pts/0", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(OS_Write(fd,
                     "Gr\xFC\xDF"
                     "e\n",
                     6),
            6);
  EXPECT_EQ(echo.str(),
            "Gr\xFC\xDF"
            "e\n");
  OS_Close(fd);
}

TEST_F(ConsoleTest, UptimeFileShowsTheSimulatorsUptime)
{
  TAP_Delay(33);
  FILE *f = OS_Fopen64("/proc/uptime", "r");
  ASSERT_NE(f, nullptr);
  char line[64] = {};
  ASSERT_NE(OS_Fgets(line, sizeof line, f), nullptr);
  EXPECT_EQ(OS_Fclose(f), 0);
  double up = 0, idle = 0;
  ASSERT_EQ(std::sscanf(line, "%lf %lf", &up, &idle), 2) << line;
  EXPECT_NEAR(up, 12346.0, 0.001);
  EXPECT_EQ(std::string(line).back(), '\n');
  EXPECT_EQ(OS_Fopen64("/proc/uptime", "w"), nullptr);
}

class FacadeTest : public SimTest {};

TEST_F(FacadeTest, SharedMemoryIsAnInProcessTable)
{
  EXPECT_EQ(OS_Shmget(86568, 12, 0), -1) << "no segment before it is created";
  int id = OS_Shmget(86568, 12, IPC_CREAT | 0666);
  ASSERT_GE(id, 0);
  EXPECT_EQ(OS_Shmget(86568, 12, IPC_CREAT | IPC_EXCL | 0666), -1);
  EXPECT_EQ(OS_Shmget(86568, 0, 0), id);
  auto *words = static_cast<dword *>(OS_Shmat(id, nullptr, 0));
  ASSERT_NE(words, reinterpret_cast<dword *>(-1));
  words[0] = 0x5C3A9E17;
  auto *again = static_cast<dword *>(OS_Shmat(OS_Shmget(86568, 0, 0), nullptr, 0));
  EXPECT_EQ(again[0], 0x5C3A9E17u);
  EXPECT_EQ(Rx().SharedMemorySegments(), 1u);
  EXPECT_EQ(OS_Shmctl(id, IPC_RMID, nullptr), 0);
  EXPECT_EQ(Rx().SharedMemorySegments(), 1u) << "removed once the last attachment goes";
  EXPECT_EQ(OS_Shmdt(words), 0);
  EXPECT_EQ(OS_Shmdt(again), 0);
  EXPECT_EQ(Rx().SharedMemorySegments(), 0u);
  EXPECT_EQ(OS_Shmdt(again), -1);
  EXPECT_EQ(OS_Shmat(12345, nullptr, 0), reinterpret_cast<void *>(-1));
}

TEST_F(FacadeTest, FirmwareVariablesAndFunctionsAreFoundByName)
{
  void *self = OS_Dlopen(nullptr, RTLD_LAZY | RTLD_GLOBAL);
  ASSERT_NE(self, nullptr);
  struct Case {
    const char *name;
    const void *address;  // null: any non-null address
  } cases[] = {{"_tapTask", _tapTask},
               {"_curTapTask", &_curTapTask},
               {"_hddRecordFile", _hddRecordFile},
               {"_hddTapFolder", &_hddTapFolder},
               {"_osdInfo", _osdInfo},
               {"PvrTimeToLinux", nullptr},
               {"_Z22ApplHdd_SaveWorkFolderv", nullptr},
               {"_Z25ApplHdd_RestoreWorkFolderv", nullptr},
               {"_Z20ApplHdd_SelectFolderPvPKc", nullptr},
               {"_Z21ApplHdd_SetWorkFolderPv", nullptr},
               {"_Z16Appl_ExecProgramPc", nullptr}};
  for (const Case &c : cases) {
    OS_Dlerror();
    void *p = OS_Dlsym(self, c.name);
    EXPECT_EQ(OS_Dlerror(), nullptr) << c.name;
    EXPECT_NE(p, nullptr) << c.name;
    if (c.address) {
      EXPECT_EQ(p, c.address) << c.name;
    }
  }
  auto toLinux = reinterpret_cast<dword (*)(dword)>(OS_Dlsym(self, "PvrTimeToLinux"));
  EXPECT_EQ(toLinux(0xE0201505), 1450645500u);
  OS_Dlerror();
  EXPECT_EQ(OS_Dlsym(self, "_Z26Appl_ConvertToValidUTF8StrPhi"), nullptr) << "not a UTF-8 firmware";
  EXPECT_NE(OS_Dlerror(), nullptr);
  OS_Dlclose(self);
}

class ThinFirmwareTest : public SimTest {
  void Configure(sim::Config &c) override
  {
    c.missingSymbols = {"_hddRecordFile"};
    c.utf8Firmware = true;
    c.firmwareModule = "noexec";
  }
};

TEST_F(ThinFirmwareTest, MissingSymbolsAreReportedMissing)
{
  void *self = OS_Dlopen(nullptr, RTLD_LAZY);
  struct Case {
    const char *name;
    bool found;
  } cases[] = {{"_hddRecordFile", false},
               {"_Z16Appl_ExecProgramPc", false},
               {"_Z26Appl_ConvertToValidUTF8StrPhi", true},
               {"_tapTask", true}};
  for (const Case &c : cases) {
    OS_Dlerror();
    void *p = OS_Dlsym(self, c.name);
    char *error = OS_Dlerror();
    EXPECT_EQ(p != nullptr, c.found) << c.name;
    EXPECT_EQ(error == nullptr, c.found) << c.name;
    if (error) {
      EXPECT_NE(std::string(error).find(c.name), std::string::npos) << error;
    }
  }
  OS_Dlclose(self);
}

TEST_F(FacadeTest, MemoryLimitsReachTheOutOfMemoryPaths)
{
  const size_t before = Rx().MemoryInUse();
  Rx().SetMemoryLimit(before + 1000, 600);
  EXPECT_EQ(TAP_MemAlloc(601), nullptr) << "larger than the largest block";
  void *a = TAP_MemAlloc(600);
  void *b = TAP_MemAlloc(400);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(TAP_MemAlloc(1), nullptr) << "the total is used up";
  EXPECT_EQ(Rx().MemoryInUse(), before + 1000);
  EXPECT_EQ(TAP_MemFree(a), 1);
  void *c = TAP_MemAlloc(500);
  EXPECT_NE(c, nullptr);
  TAP_MemFree(b);
  TAP_MemFree(c);
  EXPECT_EQ(Rx().MemoryInUse(), before);
}

TEST_F(FacadeTest, FreeingWhatWasNeverAllocatedIsIgnored)
{
  int onStack = 0;
  void *block = TAP_MemAlloc(16);
  EXPECT_EQ(TAP_MemFree(&onStack), 0);
  EXPECT_EQ(TAP_MemFree(block), 1);
  EXPECT_EQ(TAP_MemFree(block), 0) << "a second free is reported and ignored";
  EXPECT_EQ(TAP_MemFree(nullptr), 0);
  EXPECT_EQ(Rx().TakeErrors(), 2) << "both are errors of the run; freeing null is not";
}

TEST_F(FacadeTest, RecorderStateAndItsStops)
{
  FwPlayInfo info;
  ASSERT_TRUE(TAP_Hdd_GetPlayInfo(&info));
  EXPECT_EQ(info.PlayMode, 0);
  Rx().SetPlayback("/mnt/hd/DataFiles/Film.rec", 5);
  Rx().SetRecording(1, "/mnt/hd/DataFiles/News.rec");
  ASSERT_TRUE(TAP_Hdd_GetPlayInfo(&info));
  EXPECT_EQ(info.PlayMode, 5);
  EXPECT_NE(info.PlayActive, 0u);
  EXPECT_STREQ(info.File->PathInfo->AbsPath, "/mnt/hd/DataFiles/Film.rec");
  ASSERT_NE(_hddRecordFile[1].File[0], nullptr);
  EXPECT_STREQ(_hddRecordFile[1].File[0]->PathInfo->AbsPath, "/mnt/hd/DataFiles/News.rec");
  EXPECT_EQ(_hddRecordFile[0].File[0], nullptr);
  EXPECT_TRUE(TAP_Hdd_StopTs());
  EXPECT_TRUE(TAP_Hdd_StopMp3());
  EXPECT_TRUE(TAP_Hdd_StopRecord(1));
  TAP_Hdd_GetPlayInfo(&info);
  EXPECT_EQ(info.PlayMode, 0);
  EXPECT_EQ(_hddRecordFile[1].File[0], nullptr);
  EXPECT_EQ(Rx().StopLog(), (std::vector<std::string>{"StopTs", "StopMp3", "StopRecord 1"}));
  EXPECT_EQ(TAP_GetSystemId(), 22010u);
  EXPECT_EQ(TAP_GetVersion(), 0x1A07u);
}

TEST_F(FacadeTest, ScreenCallsKeepTheRegionTableAndRefuseBadBoxes)
{
  int region = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
  ASSERT_GE(region, 0);
  EXPECT_EQ(_osdInfo[region].Width, 720);
  EXPECT_EQ(_osdInfo[region].Height, 576);
  EXPECT_EQ(TAP_Osd_Create(700, 0, 100, 10, 0, 0), -1);
  EXPECT_EQ(TAP_Osd_FillBox(region, 10, 10, 100, 100, 0xFF000000), 0);
  EXPECT_EQ(TAP_Osd_FillBox(region, 700, 10, 100, 100, 0xFF000000), -1);
  EXPECT_EQ(TAP_Osd_FillBox(200, 0, 0, 1, 1, 0), -1);
  byte *saved = TAP_Osd_SaveBox(region, 0, 0, 10, 10);
  ASSERT_NE(saved, nullptr);
  TAP_Osd_RestoreBox(region, 0, 0, 10, 10, saved);
  TAP_MemFree(saved);
  EXPECT_EQ(TAP_Osd_SaveBox(region, 715, 0, 10, 10), nullptr);
  EXPECT_EQ(TAP_Osd_Delete(region), 0);
  EXPECT_EQ(_osdInfo[region].Width, 0);
  EXPECT_EQ(TAP_Osd_Delete(region), -1);
}

}  // namespace
