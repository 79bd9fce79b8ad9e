// MoveRunTest.cpp -- whole move runs in the receiver program that once lost
// recordings: sources changed after their bytes were copied, recordings
// still being made, cleaned names that collide, one folder reached as source
// and as destination, a job short of memory. Every source that goes has an
// identical copy; every other file stays as it was.
#include <chrono>
#include <fstream>
#include <thread>

#include "ScenarioFixture.h"

namespace {

class MoveRun : public ScenarioTest {
 protected:
  std::string Share(const std::string &rel) const { return ReadHostFile(share / rel); }
  std::string Source(const std::string &rel) const { return ReadFile(std::string(kMoveToNAS) + "/" + rel); }
  void Overwrite(const std::string &rel, size_t at, const std::string &bytes)
  {
    std::fstream f(Host(std::string(kMoveToNAS) + "/" + rel), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
};

// Copied before (completely or half-way), then the source changed where the
// copy already had its bytes: the move compares, rewrites and only then
// deletes, and the copy is the source as it was at the deletion.
struct ChangedCase {
  const char *name;
  double stopAt;  // the first (copy) run is stopped then; 0: it completes
  size_t changeAt;
};

void PrintTo(const ChangedCase &c, std::ostream *os) { *os << c.name; }

class ChangedSinceCopied : public MoveRun, public ::testing::WithParamInterface<ChangedCase> {};

TEST_P(ChangedSinceCopied, MoveRewritesTheCopyBeforeTheSourceGoes)
{
  const ChangedCase &c = GetParam();
  WriteShareSettings({"CopySpeed=1"});
  WriteRecording(std::string(kMoveToNAS) + "/Big.rec", 24 << 20, 7, LocalTime(2015, 12, 1));
  std::vector<std::string> first =
      c.stopAt > 0 ? std::vector<std::string>{"--stop-event-at", std::to_string(c.stopAt)} : std::vector<std::string>{};
  ASSERT_EQ(0, Run(first, 0).exitCode);
  ASSERT_GT(fs::file_size(share / "Big.rec"), c.changeAt + 4096);
  Overwrite("Big.rec", c.changeAt, std::string(4096, '\x33'));
  const std::string changed = Source("Big.rec");

  WriteShareSettings({"CopySpeed=1", "Move=1"});
  RunResult move = Run({}, 0);
  ASSERT_EQ(move.exitCode, 0) << move.out << move.err;
  EXPECT_TRUE(LogHas("FRX: restarting due to different contents")) << Log();
  EXPECT_TRUE(Share("Big.rec") == changed) << "the copy is the source as it was deleted";
  EXPECT_FALSE(Exists(std::string(kMoveToNAS) + "/Big.rec"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ChangedSinceCopied,
                         ::testing::Values(ChangedCase{"stopped_half_way_head_rewritten", 13, 1 << 20},
                                           ChangedCase{"complete_middle_rewritten", 0, 12 << 20}),
                         [](const ::testing::TestParamInfo<ChangedCase> &info) {
                           return std::string(info.param.name);
                         });

// A recording still being made is copied as far as it goes, never deleted;
// the other recordings of the run are moved as ever.
TEST_F(MoveRun, RecordingBeingMadeIsNotDeleted)
{
  WriteShareSettings({"Move=1"});
  WriteRecording(std::string(kMoveToNAS) + "/Live.rec", 500'000, 1, LocalTime(2015, 12, 1));
  WriteRecording(std::string(kMoveToNAS) + "/Done.rec", 500'000, 2, LocalTime(2015, 12, 2));
  RunResult r = Run({"--record", "0=" + std::string(kMoveToNAS) + "/Live.rec"}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(LogHas("File: " + std::string(kMoveToNAS) + "/Live.rec is being recorded and is not deleted")) << Log();
  EXPECT_TRUE(Exists(std::string(kMoveToNAS) + "/Live.rec"));
  EXPECT_TRUE(Exists(std::string(kMoveToNAS) + "/Live.rec.inf"));
  EXPECT_FALSE(Exists(std::string(kMoveToNAS) + "/Done.rec"));
  EXPECT_TRUE(Share("Done.rec") == Pattern(500'000, 2));
}

// "Film.rec" and "Film (DEC).rec" with the same bytes but their own ".inf":
// one cleaned name, two recordings. The second gets a numbered name with its
// own companions; the first one's companions are never replaced.
TEST_F(MoveRun, CleanedNamesThatCollideKeepBothRecordings)
{
  WriteShareSettings({"Move=1", "DelDEC=1"});
  WriteRecording(std::string(kMoveToNAS) + "/Film.rec", 100'000, 1, LocalTime(2015, 12, 1));
  WriteRecording(std::string(kMoveToNAS) + "/Film (DEC).rec", 100'000, 2, LocalTime(2015, 12, 2));
  WriteFile(std::string(kMoveToNAS) + "/Film (DEC).rec", Pattern(100'000, 1), LocalTime(2015, 12, 2));
  const std::string inf1 = Source("Film.rec.inf"), inf2 = Source("Film (DEC).rec.inf");
  const std::string nav1 = Source("Film.rec.nav"), nav2 = Source("Film (DEC).rec.nav");
  ASSERT_NE(inf1, inf2);
  RunResult r = Run({}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Film-1.rec", "Film-1.rec.inf", "Film-1.rec.nav", "Film.rec",
                                                   "Film.rec.inf", "Film.rec.nav"}));
  EXPECT_TRUE(Share("Film.rec.inf") == inf1 && Share("Film.rec.nav") == nav1);
  EXPECT_TRUE(Share("Film-1.rec.inf") == inf2 && Share("Film-1.rec.nav") == nav2);
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty());
}

// The same folder as source and as destination, through two mounts of one
// share: every part looks complete, but no source may go.
TEST_F(MoveRun, OneFolderMountedTwiceKeepsEverySource)
{
  WriteShareSettings({"Move=1"});
  {
    std::ofstream(share / "Film.rec", std::ios::binary) << Pattern(50'000, 1);
    std::ofstream(share / "Film.rec.inf", std::ios::binary) << Pattern(376, 2);
  }
  RunResult r = Run({"--mount", std::string(kMoveToNAS) + "=" + share.string()}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(
      LogHas("Error: /mnt/hd/DataFiles/NAS-Share and /mnt/hd/DataFiles/MoveToNAS are the same "
             "folder, no source is deleted"))
      << Log();
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Film.rec", "Film.rec.inf"}));
  EXPECT_TRUE(ReadHostFile(share / "Film.rec") == Pattern(50'000, 1));
}

// Without a block buffer a job cannot be done now; it waits in the job
// folder for the next start, which does it.
TEST_F(MoveRun, JobWithoutMemoryForItsCopyWaitsForTheNextStart)
{
  WriteShareSettings({});
  WriteRecording("/mnt/hd/DataFiles/Filme/Film.rec", 300'000, 3, LocalTime(2015, 12, 1));
  WriteJob("Mem.frx", "Film.rec", "/mnt/hd/DataFiles/Filme", kNASShare, 1);
  const std::string job = std::string(kFerroxFolder) + "/JobFiles/Mem.frx";
  RunResult poor = Run({"--mem-limit", "0,100000"}, 0);
  ASSERT_EQ(poor.exitCode, 0) << poor.out << poor.err;
  EXPECT_TRUE(LogHas("JobFile Mem.frx can't be done now: not enough memory for the copy")) << Log();
  EXPECT_TRUE(Exists(job));
  EXPECT_FALSE(Exists(std::string(kFerroxFolder) + "/JobFail/Mem.frx"));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/Filme/Film.rec"));

  RunResult rich = Run({}, 0);
  ASSERT_EQ(rich.exitCode, 0) << rich.out << rich.err;
  EXPECT_FALSE(Exists(job));
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/Filme/Film.rec"));
  EXPECT_TRUE(Share("Film.rec") == Pattern(300'000, 3));
}

// What the plug-in leaves on the heap goes back at unload, with a line.
// A plug-in that leaves heap blocks gets them freed at its unload, with a
// line; the two plug-ins of Ferrox leave none, however they end.
TEST_F(MoveRun, HeapLeftByThePluginIsFreedAtUnloadWithALine)
{
  std::ofstream(Host("/mnt/hd/ProgramFiles/Faulty.cfg")) << 8;
  RunResult faulty = RunReceiver({"--root", root.string(), "--console", "none", TapFile("Faulty.tap").string()});
  EXPECT_NE(faulty.out.find("/mnt/hd/ProgramFiles/Faulty.tap left 1 heap block (100 bytes) allocated; freed at unload"),
            std::string::npos)
      << faulty.out;

  WriteShareSettings({});
  WriteRecording(std::string(kMoveToNAS) + "/Film.rec", 300'000, 1, LocalTime(2015, 12, 1));
  // clang-format off
  const std::vector<std::vector<std::string>> runs = {
      {"--tap", TapFile("Ferrox.tap").string()},                               // a whole run
      {"--tap", TapFile("Ferrox.tap").string(), "--stop-event-at", "10.5"},    // stopped
      {"--tap", TapFile("FerroxSetup.tap").string(), "--key", "Green@1"},      // setup saved
      {"--tap", TapFile("FerroxSetup.tap").string(), "--key", "Exit@1"},       // setup left
  };
  // clang-format on
  for (const auto &extra : runs) {
    std::vector<std::string> args = {"--root", root.string(), "--console",
                                     "none",   "--mount",     std::string(kNASShare) + "=" + share.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = RunReceiver(args);
    SCOPED_TRACE(extra.back());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find(" left "), std::string::npos) << r.out;
  }
}

}  // namespace
