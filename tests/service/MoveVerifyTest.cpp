// MoveVerifyTest.cpp -- what a move asks of the engine before its source may
// go: every byte at the destination that the transfer did not copy itself is
// compared with the source, a source that changed meanwhile fails the
// transfer, and nothing is made below a share that is not mounted.
#include <chrono>
#include <thread>

#include "BlockCopyTestFixture.h"

namespace {

constexpr size_t kSize = 300'000;

class MoveVerify : public ServiceTest {
 protected:
  void SetUp() override
  {
    ServiceTest::SetUp();
    MakeDir(kSrcDir);
    MakeDir(kDstDir);
    source = Pattern(kSize, 7);
    WriteFile(Src("film.rec"), source);
  }
  // Opens the move transfer of film.rec at a small block size.
  int Open()
  {
    FRX_SetVerify(true);
    int r = FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir);
    FRX_SetSpeed(0, 0x10000);
    return r;
  }
  // Rewrites bytes of the source in place, later than the file's last
  // status change by more than the clock's granularity.
  void Rewrite(size_t at, const std::string &bytes)
  {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    source.replace(at, bytes.size(), bytes);
    FILE *f = fopen(Host(Src("film.rec")).c_str(), "r+");
    ASSERT_NE(f, nullptr);
    fseek(f, static_cast<long>(at), SEEK_SET);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  std::string source;
};

// What the destination holds before the move run, and what the run must do.
struct BeforeCase {
  const char *name;
  size_t destLength;  // bytes of the earlier copy
  size_t changedAt;   // where the source was rewritten since (npos: never)
  bool restarts;      // a difference is found and the copy is made anew
};

void PrintTo(const BeforeCase &c, std::ostream *os) { *os << c.name; }

class EarlierCopy : public MoveVerify, public ::testing::WithParamInterface<BeforeCase> {};

// An earlier copy whose first and last bytes match: continued or found
// complete only once all of it equals the source, else written anew.
TEST_P(EarlierCopy, IsComparedInFullBeforeItCounts)
{
  const BeforeCase &c = GetParam();
  WriteFile(Dst("film.rec"), source.substr(0, c.destLength));
  if (c.changedAt != std::string::npos) Rewrite(c.changedAt, std::string(100, '\x5A'));

  ASSERT_EQ(0, Open()) << Log();
  EXPECT_TRUE(
      LogHas("FRX: comparing the '" + std::to_string(c.destLength) + "' bytes at the destination with the source"))
      << Log();
  EXPECT_EQ(1, Pump()) << Log();
  EXPECT_EQ(source, ReadFile(Dst("film.rec"))) << "the copy is the source as it is now";
  EXPECT_EQ(c.restarts, LogHas("FRX: restarting due to different contents")) << Log();
  if (c.restarts) {  // found in the 8 KiB piece that holds the change
    EXPECT_TRUE(
        LogHas("FRX: the destination differs from the source at '" + std::to_string(c.changedAt / 8192 * 8192) + "'"))
        << Log();
  }
  EXPECT_EQ(c.restarts ? 0u : c.destLength, FRX_GetResumeOffset());
  EXPECT_TRUE(LogHas("FRX: transfer finished."));
}

INSTANTIATE_TEST_SUITE_P(Cases, EarlierCopy,
                         ::testing::Values(BeforeCase{"half_unchanged", kSize / 2, std::string::npos, false},
                                           BeforeCase{"half_head_rewritten", kSize / 2, 20'000, true},
                                           BeforeCase{"whole_unchanged", kSize, std::string::npos, false},
                                           BeforeCase{"whole_middle_rewritten", kSize, 150'000, true}),
                         [](const ::testing::TestParamInfo<BeforeCase> &info) { return std::string(info.param.name); });

// The comparison is paced like a copy: one block per step, progress moving.
TEST_F(MoveVerify, ComparisonTakesOneBlockPerStepWithProgress)
{
  WriteFile(Dst("film.rec"), source);
  ASSERT_EQ(0, Open());
  int percent = -1;
  ASSERT_EQ(0, FRX_Process());
  FRX_GetStats(nullptr, nullptr, &percent, nullptr);
  EXPECT_EQ(0x10000u, FRXBytesCopied);
  EXPECT_GT(percent, 0);
  EXPECT_LT(percent, 100);
  EXPECT_EQ(1, Pump());
}

// Copy mode keeps the quick rule: a complete copy is ok at once.
TEST_F(MoveVerify, CopyModeTrustsACompleteCopyAtOnce)
{
  WriteFile(Dst("film.rec"), source);
  EXPECT_EQ(1, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  EXPECT_FALSE(Log().find("comparing") != std::string::npos);
}

// Bytes rewritten behind the copy position never reach the copy: the move
// transfer fails, so its source stays.
TEST_F(MoveVerify, SourceRewrittenDuringTheTransferFailsIt)
{
  ASSERT_EQ(0, Open());
  ASSERT_TRUE(PumpUntil(kSize / 2));
  Rewrite(1000, "changed");
  EXPECT_EQ(-2, Pump());
  EXPECT_TRUE(LogHas("FRX: the source changed while it was copied, transfer terminated.")) << Log();
}

TEST_F(MoveVerify, SourceShorterThanTheEarlierCopyFailsTheComparison)
{
  WriteFile(Dst("film.rec"), source.substr(0, 200'000));
  ASSERT_EQ(0, Open());
  ASSERT_EQ(0, FRX_Process());
  // the source shrinks below what the copy holds
  ASSERT_EQ(0, truncate(Host(Src("film.rec")).c_str(), 100'000));
  EXPECT_EQ(-2, Pump());
  EXPECT_TRUE(LogHas("FRX: the source is shorter than its copy now, transfer terminated.")) << Log();
  EXPECT_EQ(source.substr(0, 200'000), ReadFile(Dst("film.rec"))) << "the copy is left as it was";
}

// A share that is not mounted shows the internal disk's folder: nothing is
// created below it, the transfer is refused.
TEST_F(MoveVerify, NoFolderIsMadeBelowAnUnmountedMountPoint)
{
  const std::string series = std::string(kDstDir) + "/Series";
  FRX_SetMountPoint(kDstDir);
  EXPECT_EQ(-3, FRX_Init("film.rec", "film.rec", kSrcDir, series.c_str()));
  EXPECT_FALSE(Exists(std::string(kDstDir) + "/Series"));
  EXPECT_TRUE(LogHas(std::string("FRX: ") + kDstDir + " is not mounted, no folder is created below it")) << Log();
  // a folder that is no mount point's is made as ever
  FRX_SetMountPoint("/mnt/hd/DataFiles/Elsewhere");
  EXPECT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, series.c_str()));
  FRX_Close();
}

// Stamps tell a file that was written to, replaced or touched from one that
// was only read.
TEST_F(MoveVerify, StampsSeeWritesReplacementsAndTouches)
{
  tFRXStamp before, after;
  ASSERT_TRUE(FRX_TakeStamp(Src("film.rec").c_str(), &before));
  ASSERT_TRUE(FRX_TakeStamp(Src("film.rec").c_str(), &after));
  EXPECT_TRUE(FRX_SameStamp(&before, &after));
  ReadFile(Src("film.rec"));
  ASSERT_TRUE(FRX_TakeStamp(Src("film.rec").c_str(), &after));
  EXPECT_TRUE(FRX_SameStamp(&before, &after)) << "reading changes nothing";
  Rewrite(0, "x");
  ASSERT_TRUE(FRX_TakeStamp(Src("film.rec").c_str(), &after));
  EXPECT_FALSE(FRX_SameStamp(&before, &after));
  EXPECT_FALSE(FRX_TakeStamp(Src("gone.rec").c_str(), &after));
  EXPECT_FALSE(FRX_SameStamp(&after, &after)) << "a missing file is never the same";
}

}  // namespace
