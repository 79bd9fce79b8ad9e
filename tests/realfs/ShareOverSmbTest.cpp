// ShareOverSmbTest.cpp -- the copy service onto a NAS that speaks SMB: a
// private Samba server on the loopback address, mounted through the FUSE
// SMB client as the receiver's share. Copy and move runs with names the
// service has to change, a second run that finds everything there, and a
// run killed with SIGKILL that the next one continues.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "RealFsFixture.h"

namespace {

class ShareOverSmb : public RealFsTest {
 protected:
  void SetUp() override
  {
    RealFsTest::SetUp();
    REQUIRE_REAL_FS({"smbd", "smbnetfs", "setsid", "env"}, true);
    served_ = served_dir_.path / "nas";
    fs::create_directories(served_);
    fs::create_directories(net_.path);
    REQUIRE_MOUNTED(server_.Start(served_));
  }

  // The network mounted, and the share as the fixture's share folder.
  std::string MountShare(MountGuard &guard)
  {
    std::string why = guard.MountFuse(server_.ClientCommand(net_.path), net_.path, served_dir_.path / "smbnetfs.log",
                                      "127.0.0.1/nas");
    if (why.empty()) share = net_.path / "127.0.0.1" / "nas";
    return why;
  }
  // Whether the server's folder holds `rel` with exactly the bytes of the
  // source `from`.
  bool Landed(const std::string &rel, const std::string &from) const
  {
    return fs::exists(served_ / rel) && ReadHostFile(served_ / rel) == ReadFile(Source(from));
  }

  SmbServer server_;
  TempDir served_dir_, net_;
  fs::path served_;
};

TEST_F(ShareOverSmb, CopyAndMoveRunsLandIdenticalUnderTheirShareNames)
{
  MountGuard nas;
  REQUIRE_MOUNTED(MountShare(nas));
  WriteShareSettings({"MountType=0", "SpecChar=1", "DelDEC=1"});
  struct Name {
    std::string source, onShare;  // the receiver's name (ISO 8859-1) and the copy's
  };
  const std::vector<Name> names = {{"M\xFCller & S\xF6hne.rec", "Mueller & Soehne.rec"},
                                   {"Der Film (DEC).rec", "Der Film.rec"},
                                   {"Serie/Folge 1.rec", "Serie/Folge 1.rec"}};
  unsigned seed = 1;
  for (const Name &n : names) {
    WriteRecording(Source(n.source), 3'000'000 + seed * 1000, seed, LocalTime(2015, 12, seed));
    seed++;
  }

  RunResult first = Run();
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  for (const Name &n : names)
    for (const char *part : {"", ".inf", ".nav"})
      EXPECT_TRUE(Landed(n.onShare + part, n.source + part)) << n.onShare << part << "\n" << Log();
  EXPECT_NE(Log().find("Summary: 3 copied, 0 moved, 0 already complete, 0 failed, 0 skipped"), std::string::npos)
      << Log();

  // a second run finds every recording complete on the share
  fs::remove(Host(std::string(kFerroxFolder) + "/Ferrox.log"));
  RunResult second = Run();
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
  EXPECT_NE(Log().find("Summary: 0 copied, 0 moved, 3 already complete, 0 failed"), std::string::npos) << Log();

  // a move run: a new recording arrives and every source goes, each only
  // once its copy is proven
  WriteRecording(Source("Neu.rec"), 2'500'000, 9, LocalTime(2015, 12, 9));
  const std::string neu = ReadFile(Source("Neu.rec"));
  WriteShareSettings({"MountType=0", "SpecChar=1", "DelDEC=1", "Move=1"});
  fs::remove(Host(std::string(kFerroxFolder) + "/Ferrox.log"));
  RunResult third = Run();
  ASSERT_EQ(third.exitCode, 0) << third.out << third.err;
  EXPECT_TRUE(ReadHostFile(served_ / "Neu.rec") == neu);
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty()) << "every source moved\n" << Log();
  EXPECT_NE(Log().find("Summary: 0 copied, 4 moved, 0 already complete, 0 failed"), std::string::npos) << Log();
  EXPECT_TRUE(Tree(Host(kNASShare)).empty()) << "nothing below the bare mount point";
}

TEST_F(ShareOverSmb, AKilledRunIsContinuedByTheNext)
{
  MountGuard nas;
  REQUIRE_MOUNTED(MountShare(nas));
  // real clock, CopySpeed 1 to a NAS: 512 KiB every 110 ms, so the 20 MB
  // recording takes several seconds, long enough to kill the run
  WriteShareSettings({"MountType=0", "CopySpeed=1", "Move=1"});
  WriteRecording(Source("Spielfilm.rec"), 20'000'000, 7, LocalTime(2015, 12, 1));
  const std::string source = ReadFile(Source("Spielfilm.rec"));

  std::vector<std::string> words = ReceiverCommandLine(
      {"--root", root.string(), "--console", "none", "--quiet", "--clock", "real", "--seconds", "300", "--mount",
       std::string(kNASShare) + "=" + share.string(), "--tap", TapFile("Ferrox.tap").string()});
  if (words[0].find('/') == std::string::npos) words[0] = FindProgram(words[0]);
  TempDir out;
  pid_t pid = StartProgram(words, out.path / "output");
  ASSERT_GT(pid, 0);
  auto arrived = [&] {
    std::error_code ec;
    uintmax_t n = fs::file_size(served_ / "Spielfilm.rec", ec);
    return ec ? uintmax_t{0} : n;
  };
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (arrived() < 4'000'000 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  const uintmax_t partial = arrived();
  ASSERT_GT(partial, 0u) << ReadHostFile(out.path / "output");
  ASSERT_LT(partial, source.size());
  EXPECT_TRUE(ReadFile(Source("Spielfilm.rec")) == source) << "a killed move keeps its source";

  fs::remove(Host(std::string(kFerroxFolder) + "/Ferrox.log"));
  RunResult next = Run();
  ASSERT_EQ(next.exitCode, 0) << next.out << next.err;
  // (the client may still have written out a few bytes after the kill)
  EXPECT_NE(Log().find("FRX: continuing at '"), std::string::npos) << Log();
  EXPECT_TRUE(ReadHostFile(served_ / "Spielfilm.rec") == source) << "the continued copy differs from its source";
  EXPECT_EQ(Tree(served_), (std::vector<std::string>{"Spielfilm.rec", "Spielfilm.rec.inf", "Spielfilm.rec.nav"}));
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty()) << "moved once complete";
}

}  // namespace
