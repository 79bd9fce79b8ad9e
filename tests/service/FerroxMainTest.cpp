// FerroxMainTest.cpp -- the service's entry points: start, events and their
// re-entry guard, the shared shutdown, stopping other plug-ins and the
// status reply block byte by byte.
#include <array>
#include <cstring>

#include "BlockCopyTestFixture.h"
#include "FirmwareBinding.h"
#include "PathTypes.h"
#include "TapManagement.h"
#include "tap_header.h"

namespace {

// A request as another plug-in builds it, with room to misalign the block.
struct Request {
  TapComChannel channel{};
  std::array<unsigned char, sizeof(FerroxStatusReply) + 8> memory{};
  unsigned char *block = memory.data();

  explicit Request(dword blockVersion = 2, dword serviceId = 0, size_t misalign = 0)
  {
    block = memory.data() + misalign;
    memory.fill(0xA5);  // what is not written stays 0xA5
    channel.Magic = TAPCOM_MAGIC;
    channel.Version = TAPCOM_VERSION;
    channel.CallerID = 0x8E0A4F01;
    channel.ServerID = __tap_ud__;
    channel.Status = 1;
    channel.ServiceID = serviceId;
    channel.ParamBlockVersion = blockVersion;
    channel.ParamBlock = block;
  }
  TapParam Send() { return TAP_EventHandler(EVT_TAPCOM, reinterpret_cast<TapParam>(&channel), 0); }
  template <typename T>
  T At(size_t offset) const
  {
    T v;
    std::memcpy(&v, block + offset, sizeof v);
    return v;
  }
  bool Untouched() const
  {
    for (unsigned char b : memory)
      if (b != 0xA5) return false;
    return true;
  }
};

}  // namespace

class FerroxMainTest : public ServiceTest {
 protected:
  void SetUp() override
  {
    ServiceTest::SetUp();
    ResetCopyCycle();
    JobState = JS_Normal;
    NrOfFilesToProcess = 0;
    CurrentFileToProcess = 0;
    NrOfJobFilesToProcess = 0;
    DestFileNameClean[0] = '\0';
    StopMountTAP = 0;
    MountType = 0;
    LogLength = 0;
  }
  // A plug-in stand-in loaded into this receiver with a behaviour.
  void LoadStandIn(const std::string &file, dword id, int mode)
  {
    char name[64];
    snprintf(name, sizeof name, "/mnt/hd/ProgramFiles/Settings/StandIns/%08X.ini", static_cast<unsigned>(id));
    WriteFile(name, "Mode=" + std::to_string(mode) + "\r\n");
    std::string error;
    ASSERT_GE(Rx().Load(Rx().Install(TapFile(file)), &error), 0) << error;
    Rx().SetCurrentTask(hostSlot);
  }
};

TEST_F(FerroxMainTest, MainStartsTheTraceQuietlyAndStaysResident)
{
  EXPECT_EQ(1, TAP_Main());
  EXPECT_TRUE(LogHas("Ferrox 1.17 started"));
  EXPECT_FALSE(CallTraceEnabled) << "no listing on the terminal";
  EXPECT_EQ(0u, CallLevel);
}

TEST_F(FerroxMainTest, KeysAndOtherEventsArePassedOnUntouched)
{
  for (dword event : {dword{EVT_KEY}, dword{0x1234}})
    EXPECT_EQ(static_cast<TapParam>(RKEY_Ok), TAP_EventHandler(static_cast<word>(event), RKEY_Ok, 7));
  EXPECT_FALSE(Exists(kLogPath)) << "nothing happened";
  EXPECT_EQ(CS_FirstCall, CopyState);
}

// The idle step that reaches the end of a normal work list is the one event
// the handler answers with 0 instead of its parameter.
TEST_F(FerroxMainTest, IdleEventAtTheEndOfTheListReturnsZero)
{
  CopyState = CS_Prepare;
  FileTyp = FT_Rec;
  EXPECT_EQ(0u, TAP_EventHandler(EVT_IDLE, 5, 0));
  EXPECT_TRUE(LogHas("No more files to copy")) << Log();
  EXPECT_EQ(CS_Exit, CopyState);
}

// ---- shutdown ----

TEST_F(FerroxMainTest, EndOfRunAndStopEventShareTheShutdown)
{
  // 64 KiB of the transfer were written: 0.0 MB
  const std::string kEnded = "Summary: 0 copied, 0 moved, 0 already complete, 0 failed, 0 skipped, 0.0 MB in 0 s";
  const std::string kStopped =
      "Summary: 0 copied, 0 moved, 0 already complete, 0 failed, 0 skipped (stopped), 0.0 MB in 0 s";
  struct Case {
    bool stopEvent;
    int logLength;
    std::vector<std::string> lines;  // the whole log
    // clang-format off
  } cases[] = {
      {false, 0, {kEnded, "Ferrox end", std::string(59, '-')}},
      {false, 1, {"StopMount is set to FALSE", kEnded, "Ferrox end", std::string(59, '-')}},
      {true, 0, {"Stop event", kStopped, "Ferrox end", std::string(62, '-')}},
      {true, 1, {"Stop event", "StopMount is set to FALSE", kStopped, "Ferrox end", std::string(62, '-')}},
  };
  // clang-format on
  WriteFile(Src("film.rec"), Pattern(300000, 40));
  for (const Case &c : cases) {
    fs::remove(Host(Dst("film.rec")));
    LogLength = c.logLength;
    SummaryReset();
    CopyState = CS_Copy;
    ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
    FRX_SetSpeed(0, 0x10000);
    ASSERT_TRUE(PumpUntil(0x10000));
    fs::remove(Host(kLogPath));
    EndRun(c.stopEvent);
    // the test calls it as the host task: its TAP_Exit is outside a plug-in's event
    EXPECT_EQ(Rx().TakeErrors(), 1);
    EXPECT_EQ(c.lines, LogLines()) << "stop event " << c.stopEvent << ", long log " << c.logLength;
    EXPECT_EQ(CS_Exit, CopyState);
    EXPECT_EQ(0x10000u, ReadFile(Dst("film.rec")).size()) << "the partial copy stays, flushed";
    EXPECT_EQ(0, FRX_Process()) << "the streams are closed";
  }
}

// The result window's words for a table of run outcomes; a run that
// copied, moved and failed nothing has none.
TEST_F(FerroxMainTest, TheResultInWordsAnOwnerReads)
{
  struct Case {
    std::vector<std::pair<int, const char *>> outcomes;
    int skipped;
    const char *endReason;
    bool any;
    std::string done, failed;
    // clang-format off
  } cases[] = {
      {{{SO_Copied, nullptr}}, 0, nullptr, true, "1 recording copied", ""},
      {{{SO_Copied, nullptr}, {SO_Copied, nullptr}, {SO_Moved, nullptr}}, 0, nullptr, true,
       "2 recordings copied, 1 moved", ""},
      {{{SO_Moved, nullptr}, {SO_Moved, nullptr}}, 0, nullptr, true, "2 recordings moved", ""},
      {{{SO_Copied, nullptr}, {SO_Complete, nullptr}, {SO_Failed, "source missing"}}, 0, nullptr, true,
       "1 recording copied, 1 already complete", "1 failed: source missing"},
      {{{SO_Failed, "share not mounted"}, {SO_Failed, "share not mounted"}, {SO_Failed, "write error"}}, 0, nullptr,
       true, "", "3 failed: share not mounted, write error"},
      {{{SO_Copied, nullptr}}, 2, "stopped", true, "1 recording copied", "2 left for the next run: stopped"},
      {{}, 0, "share not mounted", true, "Nothing copied: share not mounted", ""},
      {{{SO_Complete, nullptr}, {SO_Complete, nullptr}}, 0, nullptr, false, "", ""},
      {{}, 0, nullptr, false, "", ""},
  };
  // clang-format on
  for (const Case &c : cases) {
    SummaryReset();
    for (const auto &[outcome, reason] : c.outcomes) SummaryFile(outcome, reason);
    SummarySkipped(c.skipped);
    if (c.endReason) SummaryEndReason(c.endReason);
    char done[160], failed[160];
    EXPECT_EQ(c.any, ResultLines(done, sizeof done, failed, sizeof failed)) << c.done << c.failed;
    EXPECT_EQ(c.done, done);
    EXPECT_EQ(c.failed, failed);
  }
}

// ---- stopping another plug-in ----

TEST_F(FerroxMainTest, StopTapByBehaviourOfThePlugin)
{
  struct Case {
    int mode;  // -1: not loaded
    int result;
    std::vector<std::string> lines;
    dword minTicks, maxTicks;  // time StopTAP waited
    // clang-format off
  } cases[] = {
      {-1, 1, {"TAP 0x80000106 is not running"}, 0, 0},
      {1, 1, {"Trying to stop 0x80000106", "Successful via EVT_STOP"}, 0, 5},
      {2, 1, {"Trying to stop 0x80000106", "TAP is still running, trying to set kill bit", "Successful via kill bit"}, 300, 305},
      {3, 0, {"Trying to stop 0x80000106", "TAP is still running, trying to set kill bit", "TAP is still running :-("}, 600, 605},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode));
    fs::remove(Host(kLogPath));
    if (c.mode >= 0) LoadStandIn("MountNAS.tap", MOUNT_TAP_NAS_ID, c.mode);
    dword before = Rx().Ticks();
    EXPECT_EQ(c.result, StopTAP(MOUNT_TAP_NAS_ID));
    dword waited = Rx().Ticks() - before;
    EXPECT_GE(waited, c.minTicks);
    EXPECT_LE(waited, c.maxTicks);
    for (const std::string &line : c.lines) EXPECT_TRUE(LogHas(line)) << line << "\n" << Log();
    if (c.mode == 3) {
      EXPECT_TRUE(HDD_TAP_isRunning(MOUNT_TAP_NAS_ID));
      Rx().Shutdown();  // the plug-in that never ends goes with the receiver
    }
  }
}

// The stop sequence lets the firmware run while a plug-in ends; the idle
// events it gets meanwhile must not run a step of the copy cycle.
TEST_F(FerroxMainTest, EventsDuringTheStopSequencePassThrough)
{
  StopMountTAP = 1;
  LoadStandIn("MountNAS.tap", MOUNT_TAP_NAS_ID, 2);
  int self = Rx().AttachHostTask("/mnt/hd", TAP_EventHandler);
  ASSERT_GE(self, 0);
  // the service is that slot now, for the toolkit's folder look-ups too
  Rx().SetCurrentTask(self);
  TAP_TableIndex = self;
  EXPECT_EQ(0u, Rx().SendEvent(self, EVT_STOP, 0, 0));
  TAP_TableIndex = -1;
  EXPECT_TRUE(LogHas("Successful via kill bit"));
  EXPECT_FALSE(LogHas("No Job File found, starting normal work...")) << Log();
  EXPECT_EQ(CS_Exit, CopyState);
  EXPECT_EQ(std::string(62, '-') + "\r\n", Log().substr(Log().size() - 64));
}

// ---- status reply ----

TEST_F(FerroxMainTest, StatusReplyFillsTheBlockAtItsOffsets)
{
  const std::string data = Pattern(16 << 20, 41);
  WriteFile(Src("film.rec"), data);
  WriteFile(Dst("film.rec"), data.substr(0, 4 << 20));
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  BytesCopiedLastTime = FRXBytesCopied;  // the resume offset, as the cycle keeps it
  FRX_SetSpeed(0, 1 << 20);
  ASSERT_TRUE(PumpUntil(10 << 20));
  StartTime = Now(&StartSec);
  TAP_Sleep(9000);  // 90 s later
  snprintf(DestFileNameClean, sizeof DestFileNameClean, "%s", "Film.rec");
  CopyState = CS_Copy;
  NrOfFilesToProcess = 3;
  CurrentFileToProcess = 1;

  for (size_t misalign : {0, 1, 3}) {
    Request req(2, 0, misalign);
    EXPECT_EQ(reinterpret_cast<TapParam>(&req.channel), req.Send());
    EXPECT_EQ(static_cast<dword>(TAPCOM_STATUS_FINISHED), req.channel.Status);
    EXPECT_EQ(0u, req.channel.ReturnValue);
    EXPECT_STREQ("Film.rec", reinterpret_cast<const char *>(req.block));
    EXPECT_EQ(0, req.block[8]) << "the name field is zero-filled";
    EXPECT_EQ(16u << 20, req.At<uint64_t>(128));
    // 6 MiB moved in this run, in 90 s: (24576 / 90 = 273) * 60 << 8
    EXPECT_EQ(4193280u, req.At<uint64_t>(136)) << "the resume offset is not throughput";
    EXPECT_EQ(62, req.At<int32_t>(144));
    EXPECT_EQ(2, req.At<int32_t>(148));
    EXPECT_EQ(3, req.At<int32_t>(152));
    EXPECT_EQ(2, req.At<int32_t>(156));
    EXPECT_EQ(0xA5, req.block[160]) << "nothing beyond the 160 bytes";
  }

  JobState = JS_Job;
  NrOfJobFilesToProcess = 5;
  StartTime = Now(&StartSec);
  Request req;
  req.Send();
  EXPECT_EQ(5, req.At<int32_t>(152)) << "job files are counted in job mode";
  EXPECT_EQ(0u, req.At<uint64_t>(136)) << "the first second has no rate";

  // a resume offset above the engine's count (a later transfer failed to
  // open) is no negative throughput wrapped into a huge one
  BytesCopiedLastTime = FRXBytesCopied + 1;
  TAP_Sleep(500);
  Request late;
  late.Send();
  EXPECT_EQ(0u, late.At<uint64_t>(136));
}

TEST_F(FerroxMainTest, StatusStateFollowsTheCycle)
{
  struct Case {
    int copyState, nvmFirstCheck, firstTryWaitForStart, state;
    // clang-format off
  } cases[] = {
      {CS_WaitMount, 1, 1, 0}, {CS_WaitMount, 0, 1, 1}, {CS_WaitMount, 0, 0, 0}, {CS_Job, 1, 1, 3},
      {CS_Copy, 1, 1, 2},      {CS_Prepare, 1, 0, 2},  {CS_FirstCall, 1, 1, 2}, {CS_Exit, 0, 1, 1},
  };
  // clang-format on
  for (const Case &c : cases) {
    CopyState = c.copyState;
    NVMFirstCheck = c.nvmFirstCheck;
    FirstTryWaitForStart = c.firstTryWaitForStart;
    Request req;
    req.Send();
    EXPECT_EQ(c.state, req.At<int32_t>(156))
        << "state " << c.copyState << " nvm " << c.nvmFirstCheck << " wait " << c.firstTryWaitForStart;
  }
}

TEST_F(FerroxMainTest, LongDestinationNameIsCutToTheField)
{
  std::string name(130, 'n');
  snprintf(DestFileNameClean, sizeof DestFileNameClean, "%s", name.c_str());
  Request req;
  req.Send();
  EXPECT_EQ(name.substr(0, 127), std::string(reinterpret_cast<const char *>(req.block)));
}

TEST_F(FerroxMainTest, RequestsThatAreNotOursAreRefusedOrLeftAlone)
{
  struct Case {
    const char *what;
    dword blockVersion, serviceId;
    bool nullBlock;
    dword serverId, channelVersion;
    dword status;  // the channel's status afterwards
    // clang-format off
  } cases[] = {
      {"block version 1", 1, 0, false, __tap_ud__, TAPCOM_VERSION, TAPCOM_STATUS_REJECTED},
      {"other service", 2, 1, false, __tap_ud__, TAPCOM_VERSION, TAPCOM_STATUS_REJECTED},
      {"no block", 2, 0, true, __tap_ud__, TAPCOM_VERSION, TAPCOM_STATUS_REJECTED},
      {"for another plug-in", 2, 0, false, 0x8E0A4227, TAPCOM_VERSION, 1},
      {"old channel", 2, 0, false, __tap_ud__, 13, TAPCOM_STATUS_VERSIONMISMATCH},
  };
  // clang-format on
  for (const Case &c : cases) {
    Request req(c.blockVersion, c.serviceId);
    req.channel.ServerID = c.serverId;
    req.channel.Version = c.channelVersion;
    if (c.nullBlock) req.channel.ParamBlock = nullptr;
    EXPECT_EQ(reinterpret_cast<TapParam>(&req.channel), req.Send()) << c.what;
    EXPECT_EQ(c.status, req.channel.Status) << c.what;
    EXPECT_TRUE(req.Untouched()) << c.what;
  }
  // no channel at all: a stray event parameter
  EXPECT_EQ(0u, TAP_EventHandler(EVT_TAPCOM, 0, 0));
  unsigned char junk[64] = {};
  EXPECT_EQ(reinterpret_cast<TapParam>(junk), TAP_EventHandler(EVT_TAPCOM, reinterpret_cast<TapParam>(junk), 0));
}
