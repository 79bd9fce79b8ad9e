// BlockCopyTest.cpp -- the block copy engine: probe, resume rule, blocks,
// outcomes, buffer halving, statistics and folder creation.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "BlockCopyTestFixture.h"

namespace {

constexpr size_t kSrcSize = 20000;  // more than the 8 KiB compared at each end

// What lies at the destination before the probe or the transfer.
struct DestCase {
  const char *name;
  bool present;            // a destination file exists
  std::string (*bytes)();  // its contents
  int probe;               // FRX_GetDestinationStatus
  int init;                // FRX_Init
  const char *logLine;     // a line FRX_Init writes ("%s" = destination path)
};

// The case's name in test listings rather than its bytes.
void PrintTo(const DestCase &c, std::ostream *os) { *os << c.name; }

std::string Source() { return Pattern(kSrcSize, 1); }

// clang-format off
const DestCase kDestCases[] = {
    {"absent", false, [] { return std::string(); }, 0, 0, "FRX: init successful '%s'"},
    {"empty", true, [] { return std::string(); }, 2, 0, "FRX: init successful '%s'"},
    {"equal", true, [] { return Source(); }, 1, 1, "FRX: already ok '%s'"},
    {"shorter_same_start", true, [] { return Source().substr(0, 5000); }, 1, 0,
     "FRX: continuing at '5000'"},
    {"shorter_same_start_beyond_8k", true, [] { return Source().substr(0, 15000); }, 1, 0,
     "FRX: continuing at '15000'"},
    {"shorter_different", true, [] { return Pattern(5000, 2); }, 2, 0,
     "FRX: restarting due to different contents"},
    {"same_start_different_tail", true,
     [] {
       std::string d = Source().substr(0, 15000);
       d[14990] ^= 0x5A;
       return d;
     },
     2, 0, "FRX: restarting due to different contents"},
    {"same_size_different_tail", true,
     [] {
       std::string d = Source();
       d[kSrcSize - 1] ^= 0x01;
       return d;
     },
     2, 0, "FRX: restarting due to different contents"},
    {"longer", true, [] { return Source() + "trailing bytes"; }, 2, 0,
     "FRX: restarting due to different contents"},
};
// clang-format on

std::string Format(const char *pattern, const std::string &path)
{
  char line[1024];
  snprintf(line, sizeof line, pattern, path.c_str());
  return line;
}

}  // namespace

class DestinationTest : public ServiceTest, public ::testing::WithParamInterface<DestCase> {
 protected:
  void SetUp() override
  {
    ServiceTest::SetUp();
    WriteFile(Src("film.rec"), Source());
    MakeDir(kDstDir);
    if (GetParam().present) WriteFile(Dst("film.rec"), GetParam().bytes());
  }
};

TEST_P(DestinationTest, ProbeAnswersAndChangesNothing)
{
  const DestCase &c = GetParam();
  EXPECT_EQ(c.probe, FRX_GetDestinationStatus("film.rec", "film.rec", kSrcDir, kDstDir)) << c.name;
  EXPECT_EQ(c.present, Exists(Dst("film.rec"))) << "the probe never creates";
  if (c.present) {
    EXPECT_EQ(c.bytes(), ReadFile(Dst("film.rec"))) << "the probe never truncates";
  }
  EXPECT_STREQ((std::string(kDstDir) + "/film.rec").c_str(), FRXDestFileName);
  EXPECT_EQ(0, FRX_Process()) << "the probe leaves no transfer open";
}

TEST_P(DestinationTest, InitAndCopyFollowTheResumeRule)
{
  const DestCase &c = GetParam();
  struct utimbuf old = {1000000000, 1000000000};
  utime(Host(Src("film.rec")).c_str(), &old);

  ASSERT_EQ(c.init, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir)) << c.name;
  EXPECT_TRUE(LogHas(Format(c.logLine, Dst("film.rec")))) << c.name << "\n" << Log();
  if (c.init == 1) {
    EXPECT_EQ(0, FRX_Process()) << "nothing is open after 'already ok'";
    FRX_Close();
    EXPECT_EQ(Source(), ReadFile(Dst("film.rec")));
    return;
  }
  FRX_SetSpeed(0, 0x10000);
  EXPECT_EQ(1, Pump()) << Log();
  EXPECT_TRUE(LogHas("FRX: transfer finished."));
  EXPECT_EQ(Source(), ReadFile(Dst("film.rec"))) << c.name;
  EXPECT_EQ(1000000000, MTime(Dst("film.rec"))) << "the copy gets the source's time";
  qword total = 0, copied = 0;
  FRX_GetStats(&total, &copied, nullptr, nullptr);
  EXPECT_EQ(kSrcSize, total);
  EXPECT_EQ(kSrcSize, copied);
}

INSTANTIATE_TEST_SUITE_P(Engine, DestinationTest, ::testing::ValuesIn(kDestCases),
                         [](const auto &info) { return std::string(info.param.name); });

using EngineTest = ServiceTest;

TEST_F(EngineTest, ProbeWithoutDestinationFolderOrSource)
{
  WriteFile(Src("film.rec"), "x");
  EXPECT_EQ(-1, FRX_GetDestinationStatus("film.rec", "film.rec", kSrcDir, kDstDir));
  MakeDir(kDstDir);
  EXPECT_EQ(0, FRX_GetDestinationStatus("gone.rec", "film.rec", kSrcDir, kDstDir));
  EXPECT_EQ(0, FRX_GetDestinationStatus(nullptr, "film.rec", kSrcDir, kDstDir));
  EXPECT_EQ(-1, FRX_GetDestinationStatus("film.rec", "film.rec", kSrcDir, nullptr));
}

TEST_F(EngineTest, FolderWithOrWithoutTrailingSlashGivesTheSamePaths)
{
  WriteFile(Src("a.rec"), "abc");
  MakeDir(kDstDir);
  FRX_GetDestinationStatus("a.rec", "b.rec", kSrcDir, kDstDir);
  std::string src = FRXSourceFileName, dst = FRXDestFileName;
  FRX_GetDestinationStatus("a.rec", "b.rec", (std::string(kSrcDir) + "/").c_str(),
                           (std::string(kDstDir) + "/").c_str());
  EXPECT_EQ(src, FRXSourceFileName);
  EXPECT_EQ(dst, FRXDestFileName);
  EXPECT_EQ(Src("a.rec"), src);
  EXPECT_EQ(Dst("b.rec"), dst);
}

TEST_F(EngineTest, EmptySourceMakesAnEmptyCopy)
{
  WriteFile(Src("zero.rec"), "");
  ASSERT_EQ(0, FRX_Init("zero.rec", "zero.rec", kSrcDir, kDstDir));
  EXPECT_TRUE(Exists(Dst("zero.rec")));
  EXPECT_EQ(1, Pump());
  EXPECT_TRUE(LogHas("FRX: transfer finished."));
  EXPECT_EQ("", ReadFile(Dst("zero.rec")));
}

TEST_F(EngineTest, SourceMissingOrUnreadable)
{
  EXPECT_EQ(-1, FRX_Init("gone.rec", "gone.rec", kSrcDir, kDstDir));
  EXPECT_TRUE(LogHas("FRX: source file does not exist '" + Src("gone.rec") + "'"));

  MakeDir(kSrcDir);
  symlink("/nowhere/at/all", Host(Src("dangling.rec")).c_str());
  EXPECT_EQ(-2, FRX_Init("dangling.rec", "d.rec", kSrcDir, kDstDir));
  EXPECT_TRUE(LogHas("FRX: failed to open the source file '" + Src("dangling.rec") + "'"));
  EXPECT_EQ(0, FRX_Process());
}

TEST_F(EngineTest, DestinationThatCannotBeOpened)
{
  WriteFile(Src("film.rec"), "data");
  WriteFile("/mnt/hd/DataFiles/blocked", "a file where the folder should be");
  EXPECT_EQ(-3, FRX_Init("film.rec", "film.rec", kSrcDir, "/mnt/hd/DataFiles/blocked/sub"));
  EXPECT_TRUE(LogHas("FRX: failed to open the destination file '/mnt/hd/DataFiles/blocked/sub/film.rec'")) << Log();
  EXPECT_TRUE(LogHas("FRX: failed to create the folder '/mnt/hd/DataFiles/blocked/sub'"));
  EXPECT_EQ(0, FRX_Process()) << "the source was closed";
}

TEST_F(EngineTest, PathsThatDoNotFitAreRefused)
{
  std::string longName(600, 'n');
  WriteFile(Src("film.rec"), "data");
  EXPECT_EQ(-2, FRX_Init(longName.c_str(), "x.rec", kSrcDir, kDstDir));
  EXPECT_STREQ("", FRXSourceFileName) << "no cut path is kept for a later delete";
  EXPECT_EQ(-3, FRX_Init("film.rec", longName.c_str(), kSrcDir, kDstDir));
  EXPECT_EQ(-2, FRX_Init(nullptr, nullptr, nullptr, nullptr));
  EXPECT_NE(std::string::npos, Log().find("FRX: path too long or missing"));
}

// A file and itself, reached through another name: never copied onto itself.
TEST_F(EngineTest, SameFileIsRefused)
{
  WriteFile(Src("film.rec"), Source());
  MakeDir(kDstDir);
  ASSERT_EQ(0, link(Host(Src("film.rec")).c_str(), Host(Dst("linked.rec")).c_str()));
  symlink(Host(Src("film.rec")).c_str(), Host(Dst("symlinked.rec")).c_str());

  EXPECT_EQ(-3, FRX_Init("film.rec", "linked.rec", kSrcDir, kDstDir));
  EXPECT_TRUE(LogHas("FRX: source and destination are the same file '" + Dst("linked.rec") + "', transfer refused."));
  EXPECT_EQ(-3, FRX_Init("film.rec", "symlinked.rec", kSrcDir, kDstDir));
  EXPECT_EQ(-3, FRX_Init("film.rec", "film.rec", kSrcDir, kSrcDir));
  EXPECT_EQ(0, FRX_Process());
  EXPECT_EQ(Source(), ReadFile(Src("film.rec")));
}

// A symbolic link stands for its file: sizes and times are the file's, so a
// linked source completes and a linked copy is continued where it ends.
TEST_F(EngineTest, SymbolicLinksAreMeasuredByTheirFiles)
{
  const std::string data = Source();
  WriteFile("/mnt/hd/DataFiles/Elsewhere/real.rec", data);
  MakeDir(kSrcDir);
  MakeDir(kDstDir);
  symlink(Host("/mnt/hd/DataFiles/Elsewhere/real.rec").c_str(), Host(Src("linked.rec")).c_str());
  ASSERT_EQ(0, FRX_Init("linked.rec", "film.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(0, 0x10000);
  EXPECT_EQ(1, Pump()) << Log();
  EXPECT_EQ(data, ReadFile(Dst("film.rec")));

  // a destination link to a complete copy is complete, to a partial one is
  // continued at the copy's own end (not at the length of the link)
  WriteFile(Src("film.rec"), data);
  WriteFile("/mnt/hd/DataFiles/Copies/whole.rec", data);
  WriteFile("/mnt/hd/DataFiles/Copies/part.rec", data.substr(0, 12000));
  symlink(Host("/mnt/hd/DataFiles/Copies/whole.rec").c_str(), Host(Dst("whole.rec")).c_str());
  symlink(Host("/mnt/hd/DataFiles/Copies/part.rec").c_str(), Host(Dst("part.rec")).c_str());
  EXPECT_EQ(1, FRX_GetDestinationStatus("film.rec", "whole.rec", kSrcDir, kDstDir));
  EXPECT_EQ(1, FRX_Init("film.rec", "whole.rec", kSrcDir, kDstDir));
  EXPECT_EQ(data, ReadFile("/mnt/hd/DataFiles/Copies/whole.rec"));
  ASSERT_EQ(0, FRX_Init("film.rec", "part.rec", kSrcDir, kDstDir));
  EXPECT_TRUE(LogHas("FRX: continuing at '12000'")) << Log();
  FRX_SetSpeed(0, 0x10000);
  EXPECT_EQ(1, Pump());
  EXPECT_EQ(data, ReadFile("/mnt/hd/DataFiles/Copies/part.rec"));
}

class BindMountTest : public ServiceTest {
 protected:
  void Configure(sim::Config &config) override
  {
    // a second mount point that shows a folder of the internal disk
    config.mounts.push_back({"/mnt/sdb1", config.root / "mnt/hd/DataFiles/MoveToNAS", 0, -1});
  }
};

TEST_F(BindMountTest, SameFileThroughAMountIsRefused)
{
  WriteFile(Src("film.rec"), Source());
  EXPECT_EQ(-3, FRX_Init("film.rec", "film.rec", kSrcDir, "/mnt/sdb1"));
  EXPECT_EQ(Source(), ReadFile(Src("film.rec")));
}

TEST_F(EngineTest, FolderNamesNeverReachAShell)
{
  const std::string folder = "/mnt/hd/DataFiles/new/it's $(touch canary1) `touch canary2`; touch canary3";
  WriteFile(Src("film.rec"), "contents");
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, folder.c_str()));
  EXPECT_EQ(1, Pump());
  EXPECT_EQ("contents", ReadFile(folder + "/film.rec"));
  for (const char *canary : {"canary1", "canary2", "canary3"}) {
    EXPECT_FALSE(fs::exists(canary)) << canary;
    EXPECT_FALSE(Exists(std::string("/mnt/hd/") + canary)) << canary;
  }
}

TEST_F(EngineTest, MissingParentsAreCreated)
{
  WriteFile(Src("film.rec"), "contents");
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, "/mnt/hd/DataFiles/a/b/c/"));
  EXPECT_EQ(1, Pump());
  EXPECT_EQ("contents", ReadFile("/mnt/hd/DataFiles/a/b/c/film.rec"));
}

// A recording still being written, or cut while copied: -2, the copy stays.
TEST_F(EngineTest, SourceShrinksOrGrowsDuringTheCopy)
{
  const std::string data = Pattern(3 * 0x10000, 3);
  for (bool grow : {false, true}) {
    SCOPED_TRACE(grow ? "grows" : "shrinks");
    WriteFile(Src("live.rec"), data);
    fs::remove(Host(Dst("live.rec")));
    ASSERT_EQ(0, FRX_Init("live.rec", "live.rec", kSrcDir, kDstDir));
    FRX_SetSpeed(0, 0x10000);
    ASSERT_TRUE(PumpUntil(0x10000));
    if (grow) std::ofstream(Host(Src("live.rec")), std::ios::app | std::ios::binary) << "more";
    else fs::resize_file(Host(Src("live.rec")), 100000);
    EXPECT_EQ(-2, Pump());
    EXPECT_TRUE(LogHas("FRX: got no data, transfer terminated."));
    EXPECT_EQ(ReadFile(Src("live.rec")), ReadFile(Dst("live.rec"))) << "copied up to the new end";
  }
}

TEST_F(EngineTest, OneBlockPerStepPacedByTheDelay)
{
  WriteFile(Src("film.rec"), Pattern(4 * 0x10000, 4));
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(10, 0x10000);
  EXPECT_EQ(0, FRX_Process());
  EXPECT_EQ(0x10000u, FRXBytesCopied) << "one block per call";
  for (int i = 0; i < 10; ++i) {
    Rx().Step();
    FRX_Process();
  }
  EXPECT_EQ(0x10000u, FRXBytesCopied) << "no block while the delay runs";
  Rx().Step();
  FRX_Process();
  EXPECT_EQ(0x20000u, FRXBytesCopied) << "the next block 11 ticks later";
}

TEST_F(EngineTest, TooSmallBlockSizeIsRaised)
{
  WriteFile(Src("film.rec"), Pattern(100000, 5));
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(0, 0);
  EXPECT_TRUE(LogHas("FRX: block size of 0 bytes is too small, using 65536 bytes."));
  EXPECT_EQ(1, Pump());
  EXPECT_EQ(ReadFile(Src("film.rec")), ReadFile(Dst("film.rec")));
}

TEST_F(EngineTest, DiskFullEndsWithMinus3AndKeepsBothFiles)
{
  const std::string data = Pattern(300000, 6);
  WriteFile(Src("film.rec"), data);
  Rx().FailWritesAfter(Dst("film.rec"), 150000);
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(0, 0x10000);
  EXPECT_EQ(-3, Pump());
  EXPECT_TRUE(LogHas("FRX: failed to write 65536 bytes (18928), transfer terminated.")) << Log();
  EXPECT_EQ(data, ReadFile(Src("film.rec")));
  std::string partial = ReadFile(Dst("film.rec"));
  EXPECT_GE(partial.size(), 131072u);
  EXPECT_EQ(data.substr(0, partial.size()), partial);
  EXPECT_EQ(-3, FRX_Process()) << "the outcome stays readable";
}

class VanishingShareTest : public ServiceTest {
 protected:
  void Configure(sim::Config &config) override
  {
    fs::create_directories(sandbox / "share");
    config.mounts.push_back({"/mnt/hd/DataFiles/NAS", sandbox / "share", 0, -1});
  }
};

// Everything was written, but the share is gone before it reached the disk:
// no success, so a move never deletes the source.
TEST_F(VanishingShareTest, FailedFlushIsNoSuccess)
{
  WriteFile(Src("film.rec"), Pattern(100000, 7));
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(0, 0x10000);
  ASSERT_TRUE(PumpUntil(100000));
  Rx().SetMountTimes(kDstDir, 0, Rx().RunSeconds());
  EXPECT_EQ(-3, Pump());
  EXPECT_TRUE(LogHas("FRX: failed to flush the destination to disk, transfer terminated."));
  EXPECT_FALSE(LogHas("FRX: transfer finished."));
}

TEST_F(EngineTest, BufferHalvingKeepsHalfOfWhatCouldBeHad)
{
  WriteFile(Src("big.rec"), Pattern(3 << 20, 8));
  Rx().SetMemoryLimit(0, 5242880);
  ASSERT_EQ(0, FRX_Init("big.rec", "big.rec", kSrcDir, kDstDir));
  EXPECT_EQ(0, FRX_Process());
  EXPECT_TRUE(LogHas("FRX: failed to reserve 10485760 bytes for the data buffer. Reduced to 2621440 bytes.")) << Log();
  EXPECT_EQ(2621440u, FRXBytesCopied);
  EXPECT_EQ(1, Pump());
  EXPECT_EQ(ReadFile(Src("big.rec")), ReadFile(Dst("big.rec")));
}

TEST_F(EngineTest, NoBufferAtAllEndsTheTransfer)
{
  WriteFile(Src("film.rec"), Pattern(100000, 9));
  size_t before = Rx().MemoryInUse();
  Rx().SetMemoryLimit(0, 100000);
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  EXPECT_EQ(-3, FRX_Process());
  EXPECT_TRUE(
      LogHas("FRX: failed to reserve 10485760 bytes for the data buffer, not even 65536 bytes "
             "are free. Transfer terminated."))
      << Log();
  EXPECT_EQ(-3, FRX_Process());
  EXPECT_EQ(before, Rx().MemoryInUse());
  EXPECT_EQ("", ReadFile(Dst("film.rec")));
}

TEST_F(EngineTest, CloseAndDeleteSource)
{
  WriteFile(Src("film.rec"), Pattern(200000, 10));
  size_t before = Rx().MemoryInUse();
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(0, 0x10000);
  FRX_Process();
  FRX_Close();
  FRX_Close();
  EXPECT_EQ(before, Rx().MemoryInUse()) << "closing releases the block buffer";
  EXPECT_EQ(0, FRX_Process());
  EXPECT_EQ(0x10000u, ReadFile(Dst("film.rec")).size()) << "the partial copy stays";
  FRX_DeleteSource();
  EXPECT_FALSE(Exists(Src("film.rec")));
}

// ---- statistics ----

TEST_F(EngineTest, PercentCountsStatisticsBlocks)
{
  FRX_GetStats(nullptr, nullptr, nullptr, nullptr);
  WriteFile(Src("small.rec"), Pattern(9000, 11));
  ASSERT_EQ(0, FRX_Init("small.rec", "small.rec", kSrcDir, kDstDir));
  EXPECT_EQ(1, Pump());
  int percent = -1;
  FRX_GetStats(nullptr, nullptr, &percent, nullptr);
  EXPECT_EQ(0, percent) << "below 9024 bytes the percentage is 0";

  WriteFile(Src("half.rec"), Pattern(131072, 12));
  ASSERT_EQ(0, FRX_Init("half.rec", "half.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(5, 0x10000);
  FRX_Process();
  FRX_GetStats(nullptr, nullptr, &percent, nullptr);
  EXPECT_EQ(50, percent) << "7 of 14 statistics blocks";
}

// Throughput of a resumed transfer: 10 blocks of 64 KiB a second, whatever
// the destination held before, and taken over the seconds seen so far.
TEST_F(EngineTest, ThroughputCountsOnlyThisRun)
{
  const std::string data = Pattern(16 << 20, 13);
  WriteFile(Src("film.rec"), data);
  WriteFile(Dst("film.rec"), data.substr(0, 12 << 20));
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(9, 0x10000);
  int mb = -1;
  FRX_Process();
  FRX_GetStats(nullptr, nullptr, nullptr, &mb);
  EXPECT_EQ(0, mb) << "nothing observed yet";
  for (int i = 0; i < 300; ++i) {
    Rx().Step();
    ASSERT_EQ(0, FRX_Process());
  }
  FRX_GetStats(nullptr, nullptr, nullptr, &mb);
  EXPECT_GE(mb, 35);  // 655360 bytes a second are 37.5 MiB a minute
  EXPECT_LE(mb, 39);
  EXPECT_EQ(1, Pump());
  EXPECT_EQ(data, ReadFile(Dst("film.rec")));

  // the next transfer starts without the last one's figure
  WriteFile(Src("next.rec"), data.substr(0, 100000));
  ASSERT_EQ(0, FRX_Init("next.rec", "next.rec", kSrcDir, kDstDir));
  FRX_GetStats(nullptr, nullptr, nullptr, &mb);
  EXPECT_EQ(0, mb);
}

// More than 2 GiB within the last minute: the MB/min figure must not wrap
// in 32 bits. An endless source (/dev/zero) is read at 10 MiB a tick into
// /dev/null, so no disk holds the gigabytes.
TEST_F(EngineTest, ThroughputAbove2GiBAMinute)
{
  MakeDir(kSrcDir);
  MakeDir(kDstDir);
  ASSERT_EQ(0, symlink("/dev/zero", Host(Src("huge.rec")).c_str()));
  ASSERT_EQ(0, symlink("/dev/null", Host(Dst("huge.rec")).c_str()));
  ASSERT_EQ(0, FRX_Init("huge.rec", "huge.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(0, 10 << 20);
  ASSERT_TRUE(PumpUntil(4ull << 30));  // 4 GiB in about 4 s: 3 slots of 1000 MiB
  int mb = -1;
  FRX_GetStats(nullptr, nullptr, nullptr, &mb);
  // 1000 MiB a second, less the first block that primes the ring
  EXPECT_GE(mb, 55000) << "about 60000 MiB a minute";
  EXPECT_LE(mb, 61000);
  FRX_Close();
}

// Blocks move inside the kernel where it can copy between the two files,
// else through the block buffer; either way the copy is the source's bytes.
// A block larger than the kernel's 2 MiB piece goes in several pieces,
// each written back at once, and ends where the block or the source does.
TEST_F(EngineTest, BlocksMoveInsideTheKernelWhereItCanElseThroughTheBuffer)
{
  constexpr size_t kMiB = 1 << 20;
  struct Case {
    const char *name;
    size_t size;      // of the source
    dword block;      // bytes a block
    size_t before;    // bytes of the source at the destination already (continued from there)
    bool kernel;      // expected: no block passes the buffer
    uint64_t pieces;  // expected: kernel copies at least
    // clang-format off
  } cases[] = {
      {"new copy", 400000, 0x10000, 0, true, 400000 / 0x10000},
      // written at its end without append mode, so the kernel copies there too
      {"continued copy", 400000, 0x10000, 150000, true, (400000 - 150000) / 0x10000},
      {"blocks of several pieces, the source ending inside one", 11 * kMiB + 12345, 5 * kMiB, 0, true, 7},
      {"a block of a piece and a half", 7 * kMiB, 3 * kMiB, 0, true, 6},
  };
  // clang-format on
  for (const Case &c : cases) {
    const std::string bytes = Pattern(c.size, 21);
    WriteFile(Src("film.rec"), bytes);
    MakeDir(kDstDir);
    std::filesystem::remove(Host(Dst("film.rec")));
    if (c.before > 0) WriteFile(Dst("film.rec"), bytes.substr(0, c.before));
    ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir)) << c.name;
    FRX_SetSpeed(0, c.block);
    Rx().ResetCallCounts();
    EXPECT_EQ(1, Pump()) << c.name << Log();
    EXPECT_TRUE(ReadFile(Dst("film.rec")) == bytes) << c.name;
    EXPECT_EQ(Rx().CallCount("OS_Fread") == 0, c.kernel) << c.name;
    EXPECT_GE(Rx().CallCount("OS_CopyRange"), c.pieces) << c.name << ": the kernel is asked first";
    if (c.kernel) {
      EXPECT_GE(Rx().CallCount("OS_WriteBack"), c.pieces) << c.name << ": every piece written back";
    }
  }
}

// A move's copy reaches stable storage before "transfer finished" (its
// source is deleted next); a copy, whose source stays, only waits for its
// last block on the disk, without the long sync of the file's metadata.
TEST_F(EngineTest, OnlyAMoveSyncsTheDestinationBeforeItCountsAsFinished)
{
  for (bool move : {false, true}) {
    const std::string bytes = Pattern(300000, move ? 31 : 32);
    WriteFile(Src("film.rec"), bytes);
    MakeDir(kDstDir);
    FRX_SetVerify(move);
    ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
    FRX_SetSpeed(0, 0x10000);
    Rx().ResetCallCounts();
    EXPECT_EQ(1, Pump()) << Log();
    EXPECT_TRUE(ReadFile(Dst("film.rec")) == bytes);
    EXPECT_TRUE(LogHas("FRX: transfer finished."));
    EXPECT_EQ(Rx().CallCount("OS_SyncStart"), move ? 1u : 0u) << (move ? "move" : "copy");
    // every block's write-back started and, one block later, waited for
    EXPECT_GE(Rx().CallCount("OS_WriteBack"), 2u * (300000 / 0x10000)) << (move ? "move" : "copy");
    FRX_SetVerify(false);
    std::filesystem::remove(Host(Dst("film.rec")));
  }
}

// A disk whose sync takes 30 ticks (the simulator's virtual clock keeps it
// the same in every run), for a move's copy on a share that can vanish.
class EngineSlowSyncTest : public ServiceTest {
 protected:
  static constexpr uint32_t kSyncTicks = 30;
  void Configure(sim::Config &config) override
  {
    config.syncTicks = kSyncTicks;
    share_ = sandbox / "share";
    fs::create_directories(share_);
    config.mounts.push_back({"/mnt/sdb1", share_, 0, -1});
  }
  // A move of film.rec to the share, pumped up to the step that found the
  // end: the copy is whole and its sync under way.
  void MoveUpToTheSync(const std::string &bytes)
  {
    WriteFile(Src("film.rec"), bytes);
    FRX_SetVerify(true);
    ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, "/mnt/sdb1"));
    FRX_SetSpeed(0, 0x10000);
    for (int i = 0; i < 1000; ++i) {
      ASSERT_EQ(0, FRX_Process()) << Log();
      if (Rx().CallCount("OS_SyncStart") != 0) break;
      Rx().Step();
    }
    ASSERT_EQ(1u, Rx().CallCount("OS_SyncStart"));
  }
  fs::path share_;
};

// The idle events go on while the sync runs: each only asks, and the move
// counts as finished (its source may go) only once the sync is done.
TEST_F(EngineSlowSyncTest, AMoveFinishesOnlyOnceItsSyncIsDone)
{
  const std::string bytes = Pattern(200000, 41);
  MoveUpToTheSync(bytes);
  const uint32_t started = Rx().Ticks();
  int r = 0;
  for (int i = 0; i < 1000 && r == 0; ++i) {
    EXPECT_FALSE(LogHas("FRX: transfer finished.")) << "at tick " << Rx().Ticks();
    Rx().Step();
    r = FRX_Process();
  }
  EXPECT_EQ(1, r) << Log();
  EXPECT_GE(Rx().Ticks() - started, kSyncTicks);
  EXPECT_EQ(Rx().Ticks() - started, kSyncTicks) << "the first idle event after the sync ends the move";
  EXPECT_TRUE(LogHas("FRX: transfer finished."));
  EXPECT_EQ(bytes, ReadFile("/mnt/sdb1/film.rec"));
  EXPECT_EQ(0u, Rx().CallCount("OS_Fsync")) << "no idle event waited for the disk";
  int percent = 0;
  FRX_GetStats(nullptr, nullptr, &percent, nullptr);
  EXPECT_EQ(100, percent);
  FRX_SetVerify(false);
}

// What can happen while the sync runs: the share goes, the source is
// written to, the service stops the transfer. None counts as finished, the
// source stays, nothing crashes.
TEST_F(EngineSlowSyncTest, WhatHappensDuringTheSyncKeepsTheSource)
{
  struct Case {
    const char *name;
    std::function<void()> during;
    int outcome;       // FRX_Process's last answer
    const char *line;  // expected in the log, or null
    // clang-format off
  } cases[] = {
      {"the share vanishes", [this] { Rx().SetMountTimes("/mnt/sdb1", 0, Rx().Ticks() / 100.0); },
       -3, "FRX: failed to flush the destination to disk, transfer terminated."},
      {"the source is written to",
       [this] { std::ofstream(Host(Src("film.rec")), std::ios::app | std::ios::binary) << "more"; },
       -2, "FRX: the source changed while it was copied, transfer terminated."},
      {"the transfer is closed", [] { FRX_Close(); }, 0, nullptr},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Rx().SetMountTimes("/mnt/sdb1", 0, -1);
    fs::remove(share_ / "film.rec");
    WriteLogFirstCall = true;
    fs::remove(Host(kLogPath));
    const std::string bytes = Pattern(150000, 42);
    Rx().ResetCallCounts();
    MoveUpToTheSync(bytes);
    Rx().Step();
    c.during();
    int r = Pump(200);
    EXPECT_EQ(c.outcome, r) << Log();
    if (c.line) {
      EXPECT_TRUE(LogHas(c.line)) << Log();
    }
    EXPECT_FALSE(LogHas("FRX: transfer finished.")) << Log();
    EXPECT_TRUE(Exists(Src("film.rec")));
    FRX_SetVerify(false);
  }
}
