// ShareOverSshTest.cpp -- the copy service onto a network share: a folder
// served by a private SSH server on the loopback interface and mounted with
// sshfs; a normal run, and a share that drops off in the middle of a move.
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "RealFsFixture.h"

namespace {

class ShareOverSsh : public RealFsTest {
 protected:
  void SetUp() override
  {
    RealFsTest::SetUp();
    REQUIRE_REAL_FS({"sshd", "sshfs", "ssh", "ssh-keygen"}, true);
    REQUIRE_MOUNTED(server_.Start());
    served_ = served_dir_.path / "nas";
    fs::create_directories(served_);
  }

  // The share mounted on the fixture's share folder; "" or why not.
  std::string MountShare(MountGuard &guard)
  {
    std::string why = guard.MountFuse(server_.SshfsCommand(served_, share), share, served_dir_.path / "sshfs.log");
    if (!why.empty()) return why;
    // what goes in through the share must reach the server's folder
    std::ofstream(share / "ferrox-probe", std::ios::binary) << "probe";
    bool arrived = ReadHostFile(served_ / "ferrox-probe") == "probe";
    std::error_code ec;
    fs::remove(share / "ferrox-probe", ec);
    return arrived ? "" : "what is written to the share does not reach " + served_.string();
  }

  SshServer server_;
  TempDir served_dir_;  // holds the folder the server serves, seen here directly
  fs::path served_;
};

TEST_F(ShareOverSsh, CopyRunLandsIdenticalWithTimesAndTsLinks)
{
  MountGuard nas;
  REQUIRE_MOUNTED(MountShare(nas));
  WriteShareSettings({"MountType=0", "SetTSLink=1"});
  WriteRecording(Source("Doku.rec"), 5'000'000, 1, LocalTime(2015, 12, 1));
  WriteRecording(Source("Serie/Folge 2.rec"), 1'200'000, 2, LocalTime(2015, 12, 2));
  WriteRecording(Source("Musik.mpg"), 800'000, 3, LocalTime(2015, 12, 3));
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  nas.Unmount();  // what the server holds is what counts

  const std::vector<std::string> copied = {"Doku.rec",          "Doku.rec.inf",          "Doku.rec.nav",
                                           "Musik.mpg",         "Musik.mpg.inf",         "Musik.mpg.nav",
                                           "Serie/Folge 2.rec", "Serie/Folge 2.rec.inf", "Serie/Folge 2.rec.nav"};
  for (const std::string &f : copied) {
    EXPECT_TRUE(ReadHostFile(served_ / f) == ReadFile(Source(f))) << f << " differs from its source";
    EXPECT_EQ(MTime(served_ / f), MTime(Host(Source(f)))) << f;
  }
  for (const char *rec : {"Doku", "Serie/Folge 2"}) {
    struct stat a {
    }, b{};
    ASSERT_EQ(stat((served_ / (std::string(rec) + ".rec")).c_str(), &a), 0);
    ASSERT_EQ(stat((served_ / (std::string(rec) + ".ts")).c_str(), &b), 0) << rec;
    EXPECT_EQ(a.st_ino, b.st_ino) << rec << ".ts is a hard link over the share";
  }
  EXPECT_EQ(Tree(served_).size(), copied.size() + 2);
  EXPECT_EQ(Tree(Host(kMoveToNAS)).size(), copied.size()) << "copy mode keeps every source";
  EXPECT_TRUE(LogLinesStartingWith("Error").empty()) << Log();
}

TEST_F(ShareOverSsh, ShareLostDuringAMoveKeepsTheSourceAndTheNextRunContinues)
{
  MountGuard nas;
  REQUIRE_MOUNTED(MountShare(nas));
  // real clock, CopySpeed 1 to a NAS: 512 KiB every 100 ms, so the 40 MB
  // recording takes several seconds, long enough to pull the share away
  WriteShareSettings({"MountType=0", "CopySpeed=1", "Move=1"});
  WriteRecording(Source("Spielfilm.rec"), 40'000'000, 7, LocalTime(2015, 12, 1));
  const std::string source = ReadFile(Source("Spielfilm.rec"));

  auto run = std::async(std::launch::async, [this] { return Run({"--clock", "real", "--seconds", "180"}); });
  const fs::path landing = served_ / "Spielfilm.rec";
  auto arrived = [&landing] {
    std::error_code ec;
    uintmax_t size = fs::file_size(landing, ec);
    return ec ? 0 : size;
  };
  while (run.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready && arrived() < 4'000'000) {}
  nas.KillDaemon();  // the network is gone: every access to the share fails now
  RunResult first = run.get();
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;

  const uintmax_t partial = arrived();
  ASSERT_GT(partial, 0u) << "nothing arrived before the share was lost\n" << Log();
  EXPECT_LT(partial, source.size());
  EXPECT_EQ(LogLinesStartingWith("FRX: failed to write ").size(), 1u) << Log();
  EXPECT_TRUE(
      LogInOrder({"REC|MPG|TS 1 of 1", "FRX: init successful '/mnt/hd/DataFiles/NAS-Share/Spielfilm.rec'",
                  "SourceFile will be not delete because copyprocess was not completely successful", "Ferrox end"}))
      << Log();
  EXPECT_TRUE(ReadFile(Source("Spielfilm.rec")) == source) << "a failed move keeps its source";
  EXPECT_TRUE(Exists(Source("Spielfilm.rec.inf")));
  EXPECT_TRUE(Exists(Source("Spielfilm.rec.nav")));

  // the share is back: the next run continues where the bytes ended
  nas.Unmount();
  MountGuard again;
  ASSERT_EQ(MountShare(again), "");
  RunResult second = Run();
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
  again.Unmount();
  EXPECT_TRUE(LogHas("FRX: continuing at '" + std::to_string(partial) + "'")) << Log();
  EXPECT_TRUE(ReadHostFile(landing) == source) << "the continued copy differs from its source";
  EXPECT_EQ(Tree(served_), (std::vector<std::string>{"Spielfilm.rec", "Spielfilm.rec.inf", "Spielfilm.rec.nav"}));
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty()) << "moved once complete";
}

}  // namespace
