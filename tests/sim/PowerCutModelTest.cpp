// PowerCutModelTest.cpp -- the power-cut model on host files: what a cut
// leaves of unsynced writes, names made, removed and renamed, and what a
// sync makes certain; and `receiver --power-cut-at` as a user runs it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "PowerCut.h"
#include "ScenarioFixture.h"

namespace {

using sim::PowerModel;

std::string Bytes(const fs::path &p)
{
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PowerModelTest : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path Home() const { return dir.path / "home"; }
  void SetUp() override { fs::create_directories(Home() / "sub"); }
  // Appends through a stream as the facade does: the change first, then the
  // bytes into the file.
  static void Append(PowerModel &m, FILE *f, const std::string &bytes)
  {
    std::fflush(f);
    struct stat st {};
    fstat(fileno(f), &st);
    m.BeforeWrite(fileno(f), st.st_size, bytes.size());
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fflush(f);
  }
};

// Unsynced appends: after the cut the file is its synced bytes plus a prefix
// of what followed, torn anywhere; over many seeds every length turns up.
TEST_F(PowerModelTest, UnsyncedWritesLeaveAPrefixAndASyncMakesThemCertain)
{
  const fs::path file = Home() / "rec";
  std::set<size_t> lengths;
  for (uint64_t seed = 1; seed <= 60; seed++) {
    std::ofstream(file, std::ios::binary) << "synced:";
    PowerModel m(seed, {Home()});
    FILE *f = std::fopen(file.c_str(), "ab");
    Append(m, f, "first,");
    m.SyncedFile(fileno(f));
    Append(m, f, "second,");
    Append(m, f, "third");
    std::fclose(f);
    m.Cut();
    const std::string after = Bytes(file);
    const std::string all = "synced:first,second,third";
    EXPECT_EQ(all.substr(0, after.size()), after) << "seed " << seed;
    EXPECT_GE(after.size(), std::string("synced:first,").size()) << "seed " << seed << ": a synced write was lost";
    lengths.insert(after.size());
  }
  EXPECT_GE(lengths.size(), 6u) << "cuts keep unsynced writes to many lengths";
}

// Names: what a cut may undo and what a folder sync makes certain. Each case
// runs over many seeds; `may` lists the states a cut may leave.
TEST_F(PowerModelTest, NameChangesSurviveAsAPrefixOrWhenTheFolderIsSynced)
{
  struct Case {
    const char *what;
    bool syncFolder;
    std::set<std::string> may;  // "a=<bytes> b=<bytes>" of the two names, "-" for missing
    // clang-format off
  } cases[] = {
      {"new file, folder not synced", false, {"a=old b=-", "a=old b=new"}},
      {"new file, folder synced", true, {"a=old b=new"}},
  };
  // clang-format on
  for (const Case &c : cases) {
    std::set<std::string> seen;
    for (uint64_t seed = 1; seed <= 30; seed++) {
      fs::remove_all(Home() / "sub");
      fs::create_directories(Home() / "sub");
      std::ofstream(Home() / "sub/a") << "old";
      PowerModel m(seed, {Home()});
      std::ofstream(Home() / "sub/b") << "new";
      m.Created(Home() / "sub/b", false);
      int fd = open((Home() / "sub/b").c_str(), O_RDONLY);
      m.SyncedFile(fd);
      close(fd);
      if (c.syncFolder) m.SyncedFolder(Home() / "sub");
      m.Cut();
      auto state = [&](const char *n) { return fs::exists(Home() / "sub" / n) ? Bytes(Home() / "sub" / n) : "-"; };
      seen.insert(std::string("a=") + state("a") + " b=" + state("b"));
    }
    EXPECT_EQ(c.may, seen) << c.what;
  }
}

// A rename over an existing file, and a removal: undone whole or kept whole;
// no bytes vanish unless the folder was synced after the change.
TEST_F(PowerModelTest, RenamesAndRemovalsAreUndoneWholeOrKept)
{
  std::set<std::string> renames, removals;
  for (uint64_t seed = 1; seed <= 30; seed++) {
    fs::remove_all(Home() / "sub");
    fs::create_directories(Home() / "sub");
    std::ofstream(Home() / "sub/settings") << "old";
    std::ofstream(Home() / "sub/settings.new") << "new";
    std::ofstream(Home() / "sub/victim") << "bytes";
    PowerModel m(seed, {Home()});
    ASSERT_EQ(0, m.Rename(Home() / "sub/settings.new", Home() / "sub/settings"));
    ASSERT_EQ(0, m.Remove(Home() / "sub/victim"));
    EXPECT_FALSE(fs::exists(Home() / "sub/victim"));
    m.Cut();
    auto state = [&](const char *n) { return fs::exists(Home() / "sub" / n) ? Bytes(Home() / "sub" / n) : "-"; };
    renames.insert(state("settings") + "," + state("settings.new"));
    removals.insert(state("victim"));
  }
  EXPECT_EQ((std::set<std::string>{"old,new", "new,-"}), renames);
  EXPECT_EQ((std::set<std::string>{"bytes", "-"}), removals);
  // synced: the rename and the removal are certain
  std::ofstream(Home() / "sub/settings.new") << "newer";
  std::ofstream(Home() / "sub/victim") << "bytes";
  {
    PowerModel m(1, {Home()});
    m.Rename(Home() / "sub/settings.new", Home() / "sub/settings");
    m.Remove(Home() / "sub/victim");
    m.SyncedFolder(Home() / "sub");
    m.Cut();
  }
  EXPECT_EQ("newer", Bytes(Home() / "sub/settings"));
  EXPECT_FALSE(fs::exists(Home() / "sub/victim"));
  EXPECT_FALSE(fs::exists(Home() / "sub/settings.new"));
  EXPECT_FALSE(fs::exists(dir.path / ".power-attic-home")) << "the attic goes with the model";
}

class PowerCutRun : public ScenarioTest {};

// The receiver switched off at a moment: exit status 3 with the seed, and
// the same seed gives the same files again.
TEST_F(PowerCutRun, ACutAtAMomentEndsTheRunAndItsSeedRepeatsIt)
{
  WriteShareSettings({"Move=1", "CopySpeed=1"});
  WriteRecording(std::string(kMoveToNAS) + "/Film.rec", 3u << 20, 1, LocalTime(2015, 12, 1));
  const fs::path saved = root.parent_path() / "saved-root";
  fs::copy(root, saved, fs::copy_options::recursive);
  std::vector<std::string> states;
  for (int run = 0; run < 2; run++) {
    fs::remove_all(root);
    fs::remove_all(share);
    fs::create_directories(share);
    fs::copy(saved, root, fs::copy_options::recursive);
    RunResult r = Run({"--power-cut-at", "10.6", "--seed", "77"});
    EXPECT_EQ(3, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("receiver: power cut at 10.60 s (tick 1060), at its moment, seed 77: "))
        << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("run ended after")) << "nothing of the run's end comes after a cut";
    std::string state;
    for (const std::string &f : Tree(share)) state += f + ":" + std::to_string(fs::file_size(share / f)) + " ";
    states.push_back(state);
  }
  EXPECT_EQ(states[0], states[1]);
  fs::remove_all(saved);
  // the next run goes on from there and moves the recording
  RunResult next = Run();
  EXPECT_EQ(0, next.exitCode) << next.out << next.err;
  EXPECT_FALSE(Exists(std::string(kMoveToNAS) + "/Film.rec"));
  EXPECT_EQ(3u << 20, fs::file_size(share / "Film.rec"));
}

}  // namespace
