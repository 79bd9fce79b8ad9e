// WorkListTest.cpp -- the folder checks and the work list: sanity of the
// settings, folders created and waited for, the walk and its order.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "SettingsTestFixture.h"

namespace {

class WorkListTest : public CycleTest {
 protected:
  std::vector<std::string> Names() const
  {
    std::vector<std::string> names;
    for (int i = 0; i < NrOfFilesToProcess; i++)
      names.push_back(std::string(FilesToProcess[i].Folder) + "/" + FilesToProcess[i].FileName);
    return names;
  }
  void WriteStamped(const std::string &path, int day)
  {
    WriteFile(path, "data");
    fs::last_write_time(Host(path), fs::file_time_type::clock::now() - std::chrono::hours(24 * (40 - day)));
  }
};

struct SanityCase {
  const char *name;
  const char *moveDir, *shareDir;
  int mountedSource, mountedDest;
  const char *error;  // nullptr: passes
};

void PrintTo(const SanityCase &c, std::ostream *os) { *os << c.moveDir << " -> " << c.shareDir; }

class Sanity : public WorkListTest, public ::testing::WithParamInterface<SanityCase> {};

TEST_P(Sanity, RefusesUnusableFoldersWithOneLine)
{
  const SanityCase &c = GetParam();
  std::strcpy(MoveDir, c.moveDir);
  std::strcpy(ShareDir, c.shareDir);
  MountedDirSource = c.mountedSource;
  MountedDirDest = c.mountedDest;
  EXPECT_EQ(SanityCheckPassed(), c.error == nullptr ? 1 : 0) << c.moveDir << " -> " << c.shareDir;
  if (c.error != nullptr) {
    EXPECT_TRUE(LogHas(c.error)) << Log();
  } else {
    EXPECT_EQ(Log(), "");
  }
}

const char *kSrc = "/mnt/hd/DataFiles/MoveToNAS";

INSTANTIATE_TEST_SUITE_P(
    Folders, Sanity,
    ::testing::Values(
        SanityCase{"both_empty", "", "", 1, 1, "Error: Source or destination folder not selected"},
        SanityCase{"same", kSrc, kSrc, 0, 1, "Error: Source and destination folder are the same"},
        SanityCase{"both_internal", kSrc, "/mnt/hd/DataFiles/NAS-Share", 0, 0,
                   "Error: Source and destination folder are both internal"},
        // one folder not chosen makes no run either: the list would be empty
        // or the copies would go nowhere
        SanityCase{"source_empty", "", "/mnt/hd/DataFiles/NAS-Share", 0, 1,
                   "Error: Source or destination folder not selected"},
        SanityCase{"destination_empty", kSrc, "", 0, 1, "Error: Source or destination folder not selected"},
        // the receiver lists the internal disk only
        SanityCase{"source_off_the_disk", "/mnt/sdb1/Filme", "/mnt/hd/DataFiles/NAS-Share", 1, 1,
                   "Error: Source folder /mnt/sdb1/Filme is not on the internal disk (/mnt/hd), the only one the "
                   "receiver lists"},
        SanityCase{"destination_off_the_disk", kSrc, "/mnt/sdb1/Backup", 0, 1, nullptr},
        SanityCase{"share_mounted", kSrc, "/mnt/hd/DataFiles/NAS-Share", 0, 1, nullptr},
        SanityCase{"name_sharing_a_prefix", kSrc, "/mnt/hd/DataFiles/MoveToNAS-Archive", 0, 1, nullptr},
        SanityCase{"prefix_of_a_component", kSrc, "/mnt/hd/DataFiles/MoveToNASx/sub", 0, 1, nullptr},
        SanityCase{"trailing_slash", kSrc, "/mnt/hd/DataFiles/MoveToNAS/", 0, 1,
                   "Error: Destination folder /mnt/hd/DataFiles/MoveToNAS/ is the source folder "
                   "/mnt/hd/DataFiles/MoveToNAS or lies inside it"},
        SanityCase{"doubled_slash_and_dot", kSrc, "/mnt/hd//DataFiles/./MoveToNAS", 0, 1,
                   "Error: Destination folder /mnt/hd//DataFiles/./MoveToNAS is the source folder "
                   "/mnt/hd/DataFiles/MoveToNAS or lies inside it"},
        SanityCase{"inside", kSrc, "/mnt/hd/DataFiles/MoveToNAS/Backup", 0, 1,
                   "Error: Destination folder /mnt/hd/DataFiles/MoveToNAS/Backup is the source folder "
                   "/mnt/hd/DataFiles/MoveToNAS or lies inside it"},
        SanityCase{"inside_after_dotdot", kSrc, "/mnt/hd/DataFiles/X/../MoveToNAS/B", 0, 1,
                   "Error: Destination folder /mnt/hd/DataFiles/X/../MoveToNAS/B is the source folder "
                   "/mnt/hd/DataFiles/MoveToNAS or lies inside it"}),
    [](const ::testing::TestParamInfo<SanityCase> &info) { return std::string(info.param.name); });

TEST_F(WorkListTest, BuildsTheListBreadthFirstAndSortsItOldestFirst)
{
  LogLength = 1;
  WriteStamped("/mnt/hd/DataFiles/MoveToNAS/B.rec", 10);
  WriteStamped("/mnt/hd/DataFiles/MoveToNAS/A.rec", 10);  // same stamp: walk order stays
  WriteStamped("/mnt/hd/DataFiles/MoveToNAS/C.ts", 20);
  WriteStamped("/mnt/hd/DataFiles/MoveToNAS/Series/Old.mpg", 5);
  WriteStamped("/mnt/hd/DataFiles/MoveToNAS/notes.txt", 1);  // not listed
  WriteStamped("/mnt/hd/DataFiles/MoveToNAS/B.rec.inf", 1);
  EXPECT_EQ(BuildFileList("/mnt/hd/DataFiles/MoveToNAS"), 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"/DataFiles/MoveToNAS/Series/Old.mpg", "/DataFiles/MoveToNAS/A.rec",
                                               "/DataFiles/MoveToNAS/B.rec", "/DataFiles/MoveToNAS/C.ts"}));
  EXPECT_EQ(CurrentFileToProcess, 0);
  EXPECT_TRUE(LogHas("Used MoveDir = '/DataFiles/MoveToNAS'"));
  EXPECT_TRUE(LogHas("Directory '/DataFiles/MoveToNAS/Series' will be processed now"));
  EXPECT_TRUE(LogHas("File Old.mpg"));
  EXPECT_TRUE(LogHas("4 files ready for processing."));
}

// The list walked a slice at a time, as the run does an idle event each:
// no step handles more entries than it may, the list comes out as the
// whole walk's, and a walk left unfinished gives back its memory and the
// plug-in's folder.
TEST_F(WorkListTest, AWalkInSlicesListsWhatTheWholeWalkDoesAndCanBeLeftHalfway)
{
  std::mt19937 rng(7);
  int n = 0;
  for (const char *folder : {"", "/Serie", "/Serie/Staffel 2", "/Filme", "/Leer"})
    for (int i = 0; i < (std::string(folder) == "/Leer" ? 0 : 30); i++)
      WriteStamped(std::string(kSrc) + folder + "/R" + std::to_string(n++) + ".rec", int(rng() % 12));
  MakeDir(std::string(kSrc) + "/Leer");
  ASSERT_EQ(BuildFileList(kSrc), 1);
  const std::vector<std::string> whole = Names();
  ASSERT_EQ(whole.size(), 120u);
  char before[512] = "";
  HDD_TAP_GetCurrentDir(before);

  for (dword budget : {1u, 7u, 50u}) {
    ASSERT_EQ(BuildFileListStart(kSrc), 1);
    int steps = 0;
    for (int last = 0; BuildFileListStep(budget) != 0; last = NrOfFilesToProcess) {
      ASSERT_LE(NrOfFilesToProcess - last, int(budget)) << "one step handled more entries than it may";
      ASSERT_LT(++steps, 1000) << "the walk does not end";
    }
    EXPECT_FALSE(FileListWalking());
    EXPECT_EQ(Names(), whole) << "in slices of " << budget;
    EXPECT_GE(steps, int(120 / budget)) << budget;
    char after[512] = "";
    HDD_TAP_GetCurrentDir(after);
    EXPECT_STREQ(after, before) << "the walk left the plug-in in another folder";
  }

  // left halfway (the run stopped): nothing kept, the folder given back
  const size_t memory = Rx().MemoryInUse();
  CleanupMemory();
  const size_t listed = memory - Rx().MemoryInUse();
  ASSERT_EQ(BuildFileListStart(kSrc), 1);
  for (int i = 0; i < 3; i++) ASSERT_EQ(BuildFileListStep(20), 1);
  CleanupMemory();
  EXPECT_FALSE(FileListWalking());
  EXPECT_EQ(Rx().MemoryInUse(), memory - listed);
  char after[512] = "";
  HDD_TAP_GetCurrentDir(after);
  EXPECT_STREQ(after, before);
  EXPECT_EQ(BuildFileListStep(20), 0) << "a step without a walk does nothing";
}

// Oldest first, and entries of equal stamps in the order of the walk.
TEST_F(WorkListTest, TheSortKeepsTheWalksOrderAmongEqualStamps)
{
  std::mt19937 rng(11);
  for (int count : {0, 1, 2, 3, 17, 64, 999}) {
    CleanupMemory();
    std::vector<std::pair<dword, std::string>> expected;
    for (int i = 0; i < count; i++) {
      const dword stamp = dword(rng() % 9);
      const std::string name = "N" + std::to_string(i);
      ASSERT_EQ(AddFileToProcess("/DataFiles", name.c_str(), stamp), 0);
      expected.push_back({stamp, name});
    }
    SortFilesByDate();
    std::stable_sort(expected.begin(), expected.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    ASSERT_EQ(NrOfFilesToProcess, count);
    for (int i = 0; i < count; i++) ASSERT_EQ(FilesToProcess[i].FileName, expected[size_t(i)].second) << count;
  }
  CleanupMemory();
}

TEST_F(WorkListTest, CountLinesForNoneAndOneFile)
{
  MakeDir("/mnt/hd/DataFiles/MoveToNAS");
  EXPECT_EQ(BuildFileList("/mnt/hd/DataFiles/MoveToNAS"), 1);
  EXPECT_TRUE(LogHas("0 files ready for processing."));
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/A.rec", "a");
  EXPECT_EQ(BuildFileList("/mnt/hd/DataFiles/MoveToNAS"), 1);
  EXPECT_TRUE(LogHas("1 file ready for processing."));
  EXPECT_EQ(NrOfFilesToProcess, 1);
}

// More recordings than the table holds: each list holds the oldest of
// those the lists before did not take, so that the lists of one run take
// every recording once, oldest first, however many there are, and the table
// never holds more than its 1000.
TEST_F(WorkListTest, MoreRecordingsThanTheTableHoldsComeInListsOfTheOldestInTurn)
{
  struct Case {
    int count;
    std::vector<int> lists;  // entries of each list
  } cases[] = {{1000, {1000}}, {1001, {1000, 1}}, {2500, {1000, 1000, 500}}};
  const size_t before = Rx().MemoryInUse();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.count);
    fs::remove_all(Host(kSrc));
    std::mt19937 rng(unsigned(c.count));
    for (int i = 0; i < c.count; i++) {
      // few stamps, so that many are equal and the name decides
      const std::string folder = i % 3 == 0 ? "/DataFiles/MoveToNAS/Serie" : "/DataFiles/MoveToNAS";
      const std::string name = "R" + std::to_string(i) + ".rec";
      WriteStamped("/mnt/hd" + folder + "/" + name, int(rng() % 30));
    }
    WriteFile(kLogPath, "");
    ASSERT_EQ(BuildFileList(kSrc), 1);
    std::vector<std::string> taken;
    std::vector<int> lists;
    std::vector<dword> stamps;
    for (;;) {
      ASSERT_LE(NrOfFilesToProcess, MAX_FILES_TO_PROCESS);
      lists.push_back(NrOfFilesToProcess);
      for (int i = 0; i < NrOfFilesToProcess; i++) stamps.push_back(FilesToProcess[i].DateStamp);
      for (const std::string &n : Names()) taken.push_back(n);
      const int left = FileListLeft();
      if (left == 0) break;
      EXPECT_TRUE(LogHas("Too many files: " + std::to_string(left) + " more will be processed in this run once these " +
                         std::to_string(NrOfFilesToProcess) + " are done."))
          << Log();
      ASSERT_EQ(BuildFileListNext(kSrc), 1);
      while (BuildFileListStep(50) != 0) {}
    }
    EXPECT_EQ(BuildFileListNext(kSrc), 0) << "no list after the last";
    EXPECT_EQ(lists, c.lists);
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end())) << "oldest first over all the lists";
    std::vector<std::string> unique = taken;
    std::sort(unique.begin(), unique.end());
    EXPECT_EQ(std::unique(unique.begin(), unique.end()), unique.end()) << "a recording taken twice";
    EXPECT_EQ(taken.size(), size_t(c.count));
    EXPECT_FALSE(LogHas("will be processed in the next run")) << "none is left for another run";
    CleanupMemory();
    EXPECT_EQ(Rx().MemoryInUse(), before);
  }
}

// A link to a folder is not walked into: a link to "." alone would list the
// same recordings over and over, one to the share would copy the share.
TEST_F(WorkListTest, LinksToFoldersAreNotWalkedIntoAndSaySo)
{
  WriteFile(std::string(kSrc) + "/A.rec", "a");
  WriteFile(std::string(kSrc) + "/Real/B.rec", "b");
  WriteFile("/mnt/hd/DataFiles/Other/C.rec", "c");
  WriteFile("/mnt/hd/DataFiles/NAS-Share/D.rec", "d");
  struct {
    const char *link, *target;
    bool named;  // the walk meets it (a dangling link the firmware does not list)
  } links[] = {{"loop", ".", true},
               {"other", "../Other", true},
               {"share", "../NAS-Share", true},
               {"deep", "Real", true},
               {"dangling", "../Gone", false}};
  for (const auto &l : links) fs::create_directory_symlink(l.target, Host(std::string(kSrc) + "/" + l.link));
  ASSERT_EQ(BuildFileList(kSrc), 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"/DataFiles/MoveToNAS/A.rec", "/DataFiles/MoveToNAS/Real/B.rec"}));
  for (const auto &l : links)
    EXPECT_EQ(LogCount(std::string("Directory '") + l.link + "' is skipped: it is a link to another folder"),
              l.named ? 1u : 0u)
        << l.link << "\n"
        << Log();
}

TEST_F(WorkListTest, SubFoldersBeyondTheFolderListWaitForTheNextRun)
{
  // 30 sub-folders of 200 characters do not fit 4096 bytes of folder list
  for (int i = 0; i < 30; i++) {
    std::string folder =
        std::string("/mnt/hd/DataFiles/MoveToNAS/") + char('a' + i % 26) + std::to_string(i) + std::string(196, 'd');
    WriteFile(folder + "/x.rec", "x");
  }
  EXPECT_EQ(BuildFileList("/mnt/hd/DataFiles/MoveToNAS"), 1);
  size_t later = 0;
  for (const std::string &line : LogLines())
    if (line.rfind("Directory '", 0) == 0 && line.find("' will be processed next time") != std::string::npos) later++;
  EXPECT_GT(later, 0u);
  EXPECT_EQ(static_cast<size_t>(NrOfFilesToProcess) + later, 30u);
}

TEST_F(WorkListTest, FoldersTooLongForTheFolderStackAreWalkedInPlace)
{
  // every log line of the walk saves and restores the folder; in a folder
  // the stack cannot take, a second file must still be repaired where it is
  std::string deep = "/mnt/hd/DataFiles/MoveToNAS/" + std::string(120, 'a') + "/" + std::string(60, 'b');
  WriteFile(deep + "/0.rec", "x");
  WriteFile(deep + "/A\x01.rec", "x");
  EXPECT_EQ(BuildFileList("/mnt/hd/DataFiles/MoveToNAS"), 1);
  ASSERT_EQ(NrOfFilesToProcess, 2);
  EXPECT_STREQ(FilesToProcess[1].FileName, "A.rec");
  EXPECT_TRUE(Exists(deep + "/A.rec"));
  EXPECT_EQ(Rx().CurrentFolder(hostSlot), "/mnt/hd");
  EXPECT_EQ(TAPDirStackDepth, -1);
}

TEST_F(WorkListTest, MissingOrEmptyStartFolderListsNothingElse)
{
  WriteFile("/mnt/hd/x.rec", "stray file in the current folder");
  EXPECT_EQ(BuildFileList("/mnt/hd/DataFiles/Nowhere"), 1);
  EXPECT_EQ(NrOfFilesToProcess, 0);
  EXPECT_TRUE(LogHas("Directory '/DataFiles/Nowhere' cannot be opened"));
  EXPECT_EQ(BuildFileList("/mnt/hd"), 0);
  EXPECT_TRUE(LogHas("Working directory missing"));
  EXPECT_EQ(BuildFileList(nullptr), 0);
}

TEST_F(WorkListTest, CreateSubDirsMakesOnlyTheInternalFolders)
{
  UseShareFolders();
  MountedDirDest = 1;
  CreateSubDirs();
  EXPECT_TRUE(fs::is_directory(Host("/mnt/hd/DataFiles/MoveToNAS")));
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/NAS-Share"));
  MountedDirDest = 0;
  EXPECT_EQ(CreateSubDirs(), 1);
  EXPECT_TRUE(fs::is_directory(Host("/mnt/hd/DataFiles/NAS-Share")));
  EXPECT_EQ(Rx().CurrentFolder(hostSlot), "/mnt/hd");
  // a folder outside the recordings area is the owner's to make: not made,
  // and said
  std::strcpy(ShareDir, "/mnt/hd/Archiv/Filme");
  EXPECT_EQ(CreateSubDirs(), 0);
  EXPECT_FALSE(Exists("/mnt/hd/Archiv"));
  EXPECT_TRUE(LogHas("Folder /mnt/hd/Archiv/Filme (DestDir) does not exist")) << Log();
  MakeDir("/mnt/hd/Archiv/Filme");
  EXPECT_EQ(CreateSubDirs(), 1);
}

class MountedShare : public WorkListTest {
 protected:
  void Configure(sim::Config &config) override
  {
    nas = std::make_unique<TempDir>();
    config.mounts.push_back({"/mnt/hd/DataFiles/NAS-Share", nas->path, 1e9, -1});
  }
  std::unique_ptr<TempDir> nas;
};

TEST_F(MountedShare, WaitsForTheDeviceAndLogsEachChangeOnce)
{
  // earlier tests of this process moved the clock on: the share appears
  // three seconds from now
  Rx().SetMountTimes("/mnt/hd/DataFiles/NAS-Share", Rx().RunSeconds() + 3, -1);
  UseShareFolders();
  MountedDirDest = 1;
  CreateSubDirs();
  // the bare mount point, a folder on the internal disk until the share is there
  EXPECT_EQ(SubDirsExist(), 0);
  EXPECT_EQ(SubDirsExist(), 0);
  EXPECT_EQ(LogCount("Dst: lstat64(/mnt/hd/DataFiles/NAS-Share) = OK"), 1u);
  std::string log = Log();
  EXPECT_NE(log.find("     dev=802, ino="), std::string::npos) << log;

  Rx().RunFor(4);
  EXPECT_EQ(SubDirsExist(), 1);
  EXPECT_EQ(SubDirsExist(), 1);
  EXPECT_EQ(LogCount("Dst: lstat64(/mnt/hd/DataFiles/NAS-Share) = OK"), 2u);
}

}  // namespace
