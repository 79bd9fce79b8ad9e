// JobFilesTest.cpp -- job files against the simulator's disk: the search,
// the take-over of one-file and whole-folder jobs with their mount roots,
// the refusal of unusable job files, deletion and the fail folder.
#include <cstring>
#include <functional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "Ferrox.h"
#include "IniStore.h"
#include "PathTypes.h"
#include "SimFixture.h"

namespace {

constexpr const char *kJobs = "/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles";
constexpr const char *kFail = "/mnt/hd/ProgramFiles/Settings/Ferrox/JobFail";
constexpr const char *kLog = "/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.log";

// Console echo that calls a hook once the terminal has shown a given text:
// lets a test change the receiver at an exact point inside a call.
class TriggerBuf : public std::streambuf {
 public:
  std::string trigger;
  std::function<void()> hook;

 protected:
  int overflow(int c) override
  {
    if (c != EOF) seen_ += static_cast<char>(c);
    return c;
  }
  int sync() override
  {
    if (hook && !trigger.empty() && seen_.find(trigger) != std::string::npos) {
      auto h = std::move(hook);
      hook = nullptr;
      h();
    }
    return 0;
  }

 private:
  std::string seen_;
};

class JobFilesTest : public SimTest {
 protected:
  TriggerBuf echoBuf;
  std::ostream echo{&echoBuf};

  void Configure(sim::Config &config) override { config.consoleEcho = &echo; }

  void SetUp() override
  {
    SimTest::SetUp();
    FileNameJob[0] = '\0';
    NrOfJobFilesToProcess = 0;
    NrOfJobFilesSkipped = 0;
    JobFilesSkippedFull = false;
    CleanupMemory();
    CurrentFileToProcess = 0;
    SettingsStart(&ServiceSettingsProfile);
    std::strcpy(STapfsRoot, "/mnt/hd");
    std::strcpy(MoveDir, "/mnt/hd/DataFiles/MoveToNAS");
    std::strcpy(ShareDir, "/mnt/hd/DataFiles/NAS-Share");
    move = 0;
    LogLength = 0;
    MakeDir(kJobs);
  }

  void TearDown() override
  {
    CleanupMemory();
    INICloseFile();
    SimTest::TearDown();
  }

  void Job(const std::string &name, const std::string &text) { WriteFile(std::string(kJobs) + "/" + name, text); }
  static std::string OneFile(const std::string &name, const std::string &sdir,
                             const std::string &ddir = "/mnt/hd/DataFiles/NAS-Share", int com = 0)
  {
    return "FileName=" + name + "\r\nSDIR=" + sdir + "\r\nDDIR=" + ddir + "\r\nCoM=" + std::to_string(com) + "\r\n";
  }
  std::string Log() const { return ReadFile(kLog); }
  bool InJobs(const std::string &name) const { return Exists(std::string(kJobs) + "/" + name); }
  bool InFail(const std::string &name) const { return Exists(std::string(kFail) + "/" + name); }
  // Scans and loads the next job, as the copy cycle's job state does.
  int ScanAndLoad() { return ScanForNextJobFile() ? LoadJob() : -1; }
  std::string Folder() const { return Rx().CurrentFolder(hostSlot); }
  static size_t Count(const std::string &text, const std::string &part)
  {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
  }
};

// ---- search ----

TEST_F(JobFilesTest, SearchTakesTheFirstFileAndPassesOverFoldersAndOtherFiles)
{
  struct Case {
    const char *what;
    std::vector<std::string> files, folders;
    int available;
    const char *first;
    int entries;  // NrOfJobFilesToProcess afterwards
  };
  // clang-format off
  const Case cases[] = {
      {"empty folder", {}, {}, 0, "", 0},
      {"a folder ending in frx", {}, {"Old.frx"}, 0, "", 1},
      {"other extensions", {"a.txt", "b.frx.bak", "cfrx"}, {}, 0, "", 0},
      {"folder before a file", {"b.frx"}, {"a.frx"}, 1, "b.frx", 2},
      {"listing order", {"z.frx", "m.frx", "a.frx"}, {}, 1, "a.frx", 3},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Host(kJobs));
    MakeDir(kJobs);
    for (const auto &f : c.files) Job(f, "FileName=x.rec\r\n");
    for (const auto &d : c.folders) MakeDir(std::string(kJobs) + "/" + d);
    NrOfJobFilesToProcess = 0;
    std::string before = Folder();
    EXPECT_EQ(c.available, isJobAvailable());
    EXPECT_EQ(c.available, ScanForNextJobFile());
    EXPECT_STREQ(c.first, FileNameJob);
    EXPECT_EQ(c.entries, NrOfJobFilesToProcess);
    EXPECT_EQ(before, Folder()) << "the current folder is restored";
  }
  EXPECT_NE(std::string::npos, Log().find("JobFile a.frx found"));
}

TEST_F(JobFilesTest, WithoutAJobFolderNothingElseIsTakenForJobs)
{
  fs::remove_all(Host(kJobs));
  WriteFile("/mnt/hd/ProgramFiles/Settings/Ferrox/Stray.frx", "FileName=x.rec\r\n");
  std::strcpy(FileNameJob, "old.frx");
  EXPECT_EQ(0, isJobAvailable());
  EXPECT_EQ(0, ScanForNextJobFile());
  EXPECT_STREQ("", FileNameJob);
}

// ---- one-file jobs and mount roots ----

TEST_F(JobFilesTest, OneFileJobFromAnExternalDriveOverridesTheSettingsInMemory)
{
  Job("Ext.frx", OneFile("Film.rec", "/mnt/sdb1/Filme", "/mnt/hd/DataFiles/NAS-Share", 1));
  ASSERT_EQ(1, ScanAndLoad());
  EXPECT_STREQ("/mnt/sdb1", STapfsRoot);
  EXPECT_STREQ("/Filme", MoveDir);
  EXPECT_STREQ("/mnt/hd/DataFiles/NAS-Share", ShareDir);
  EXPECT_EQ(1, move);
  ASSERT_EQ(1, NrOfFilesToProcess);
  EXPECT_EQ(0, CurrentFileToProcess);
  EXPECT_STREQ("Film.rec", FilesToProcess[0].FileName);
  EXPECT_STREQ("/Filme", FilesToProcess[0].Folder);
  EXPECT_EQ(0u, FilesToProcess[0].DateStamp);
  std::string log = Log();
  for (const char *line :
       {"JobFileName = Film.rec", "JobSourceDir = /mnt/sdb1/Filme", "JobDestDir = /mnt/hd/DataFiles/NAS-Share",
        "File will be moved", "found TapfsRoot /mnt/sdb1", "JobFile: file list with one file"})
    EXPECT_NE(std::string::npos, log.find(line)) << line;
  EXPECT_TRUE(InJobs("Ext.frx")) << "the job file stays until the job is done";
  // the settings file is not written by a job
  EXPECT_FALSE(Exists("/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini"));
  // nor after it: the file is gone when the job ends, and the new one the
  // load writes holds none of the job's values
  LoadDefaultStrings();
  const std::string ini = ReadFile("/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini");
  EXPECT_NE(std::string::npos, ini.find("\r\nMove=0\r\n")) << ini;
  EXPECT_EQ(std::string::npos, ini.find("Filme")) << ini;
  EXPECT_EQ(std::string::npos, ini.find("NAS-Share")) << ini;
  EXPECT_STREQ("/mnt/hd", STapfsRoot);
}

TEST_F(JobFilesTest, MountRootsOfSourceFolders)
{
  struct Case {
    const char *sdir, *root, *folder;
  };
  // clang-format off
  const Case cases[] = {
      {"/mnt/hd/DataFiles/Filme", "/mnt/hd", "/DataFiles/Filme"},
      {"/mnt/sdb/Filme", "/mnt/sdb", "/Filme"},
      {"/mnt/sdb1/Filme", "/mnt/sdb1", "/Filme"},
      {"/mnt/sda1/", "/mnt/sda1", "/"},
      {"/mnt/sdb1", "/mnt/sdb1", ""},
      {"/mnt/sdb", "/mnt/sdb", ""},
      {"/mnt/sdb/", "/mnt/sdb/", ""},
      // any other absolute folder: its first nine characters, which with the
      // rest still name the folder itself
      {"/mnt/usbdrive/Filme", "/mnt/usbd", "rive/Filme"},
      {"/media/usb0/Filme", "/media/us", "b0/Filme"},
      // too short for a root: the one in force serves where it is a prefix
      {"/mnt/hd", "/mnt/hd", ""},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sdir);
    CleanupMemory();
    std::strcpy(STapfsRoot, "/mnt/hd");
    Job("Root.frx", OneFile("Film.rec", c.sdir));
    ASSERT_EQ(1, ScanAndLoad());
    EXPECT_STREQ(c.root, STapfsRoot);
    EXPECT_STREQ(c.folder, MoveDir);
    ASSERT_EQ(1, NrOfFilesToProcess);
    EXPECT_STREQ(c.folder, FilesToProcess[0].Folder);
    // root and folder give back the source folder: nothing else is read
    EXPECT_EQ(std::string(c.sdir), std::string(STapfsRoot) + FilesToProcess[0].Folder);
  }
  EXPECT_NE(std::string::npos, Log().find("can't find TapfsRoot, found only /mnt/hd\r\n"));
  // a root kept from an earlier job would name some other folder: refused
  CleanupMemory();
  std::strcpy(STapfsRoot, "/mnt/sdb1");
  Job("Root.frx", OneFile("Film.rec", "/mnt/hd"));
  EXPECT_EQ(0, ScanAndLoad());
  EXPECT_STREQ("/mnt/sdb1", STapfsRoot);
  EXPECT_EQ(0, NrOfFilesToProcess);
  EXPECT_TRUE(InFail("Root.frx"));
  EXPECT_NE(std::string::npos, Log().find("ERROR JobFile Root.frx: SDIR has no mount root"));
}

// ---- refused job files ----

TEST_F(JobFilesTest, UnusableJobFilesAreRefusedAndMovedToTheFailFolder)
{
  const std::string longName(200, 'n');
  const std::string longDir = "/mnt/hd/" + std::string(600, 'd');
  struct Case {
    const char *what;
    std::string text;
    const char *reason;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"name with a folder", OneFile("../Ferrox.ini", "/mnt/hd/DataFiles/F"), "FileName must be"},
      {"name in a sub-folder", OneFile("sub/Film.rec", "/mnt/hd/DataFiles/F"), "FileName must be"},
      {"dot", OneFile(".", "/mnt/hd/DataFiles/F"), "FileName must be"},
      {"dot dot", OneFile("..", "/mnt/hd/DataFiles/F"), "FileName must be"},
      {"no name", "SDIR=/mnt/hd/DataFiles/F\r\nDDIR=/mnt/hd/D\r\n", "FileName is missing"},
      {"over-long name", OneFile(longName, "/mnt/hd/DataFiles/F"), "FileName is too long"},
      {"no source", "FileName=Film.rec\r\nDDIR=/mnt/hd/D\r\n", "SDIR is missing"},
      {"relative source", OneFile("Film.rec", "DataFiles/F"), "SDIR is not absolute"},
      {"source leaving its folder", OneFile("Film.rec", "/mnt/sdb1/F/../../hd"), "SDIR must not"},
      {"source ending in ..", OneFile("Film.rec", "/mnt/sdb1/F/.."), "SDIR must not"},
      {"over-long source", OneFile("Film.rec", longDir), "SDIR is too long"},
      {"no destination", "FileName=Film.rec\r\nSDIR=/mnt/sdb1/F\r\n", "DDIR is missing"},
      {"relative destination", OneFile("Film.rec", "/mnt/sdb1/F", "NAS-Share"), "DDIR is not absolute"},
      {"no mount root", OneFile("Film.rec", "/mnt/a"), "SDIR has no mount root"},
      {"binary garbage", std::string("\x7f" "ELF\x01\x01\x01\0\0\xff\xfe", 11), "FileName is missing"},
      {"no line end", "FileName=Film.rec SDIR=/mnt/sdb1/F DDIR=/mnt/hd/D", "FileName must be"},
      {"zero byte before the keys", std::string("; job\0", 6) + OneFile("Film.rec", "/mnt/sdb1/F"),
       "FileName is missing"},
  };
  // clang-format on
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = "Bad" + std::to_string(n++) + ".frx";
    Job(file, c.text);
    std::strcpy(STapfsRoot, "/mnt/hd");
    ASSERT_EQ(1, ScanForNextJobFile());
    ASSERT_EQ(file, FileNameJob);
    EXPECT_EQ(0, LoadJob());
    EXPECT_FALSE(InJobs(file));
    EXPECT_TRUE(InFail(file));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("ERROR JobFile " + file + ": " + c.reason)) << log;
    EXPECT_NE(std::string::npos, log.find("Move Job File: " + file + " to fail folder"));
    // nothing of the job is in force
    EXPECT_STREQ("/mnt/hd", STapfsRoot);
    EXPECT_STREQ("/mnt/hd/DataFiles/MoveToNAS", MoveDir);
    EXPECT_STREQ("/mnt/hd/DataFiles/NAS-Share", ShareDir);
    EXPECT_EQ(0, move);
    EXPECT_EQ(0, NrOfFilesToProcess);
  }
  EXPECT_EQ(0, isJobAvailable()) << "every refused file left the job folder";
  EXPECT_NE(std::string::npos, Log().find("can't find TapfsRoot, found only /mnt/a\r\n"));
}

TEST_F(JobFilesTest, AZeroByteAfterTheKeysEndsTheTextButTheJobStands)
{
  Job("Nul.frx", OneFile("Film.rec", "/mnt/sdb1/Filme") + std::string("\0FileName=Other.rec\r\n", 21));
  ASSERT_EQ(1, ScanAndLoad());
  EXPECT_STREQ("Film.rec", FilesToProcess[0].FileName);
}

TEST_F(JobFilesTest, AJobFileThatVanishedBeforeLoadingChangesNothing)
{
  // a file of that name elsewhere in the INI store's search is never read
  WriteFile("/mnt/hd/ProgramFiles/Settings/Gone.frx", OneFile("Film.rec", "/mnt/sdb1/Filme"));
  std::strcpy(FileNameJob, "Gone.frx");
  EXPECT_EQ(1, LoadJob());
  EXPECT_EQ(0, NrOfFilesToProcess);
  EXPECT_STREQ("/mnt/hd", STapfsRoot);
  EXPECT_STREQ("/mnt/hd/DataFiles/MoveToNAS", MoveDir);
  EXPECT_EQ(std::string::npos, Log().find("JobFileName"));
}

// ---- whole-folder jobs ----

TEST_F(JobFilesTest, WholeFolderJobOnTheInternalDiskListsTheFolder)
{
  WriteFile("/mnt/hd/DataFiles/Filme/A.rec", "a");
  WriteFile("/mnt/hd/DataFiles/Filme/B.rec", "b");
  Job("All.frx", OneFile("*", "/mnt/hd/DataFiles/Filme", "/mnt/hd/DataFiles/NAS-Share", 1));
  ASSERT_EQ(1, ScanAndLoad());
  EXPECT_EQ(2, NrOfFilesToProcess);
  EXPECT_EQ(0, CurrentFileToProcess);
  EXPECT_STREQ("/mnt/hd", STapfsRoot);
  EXPECT_STREQ("/mnt/hd/DataFiles/Filme", MoveDir);
  EXPECT_STREQ("/mnt/hd/DataFiles/NAS-Share", ShareDir);
  EXPECT_EQ(1, move);
  EXPECT_NE(std::string::npos, Log().find("JobFile: make file list..."));
}

TEST_F(JobFilesTest, WholeFolderJobWithNothingToDoGoesToTheFailFolder)
{
  MakeDir("/mnt/hd/DataFiles/Empty");
  Job("Empty.frx", OneFile("*", "/mnt/hd/DataFiles/Empty"));
  EXPECT_EQ(0, ScanAndLoad());
  EXPECT_TRUE(InFail("Empty.frx"));
  EXPECT_NE(std::string::npos, Log().find("ERROR JobFile Empty.frx: no file to process in SDIR"));
  EXPECT_EQ(0, isJobAvailable());
}

TEST_F(JobFilesTest, WholeFolderJobOnAnExternalDriveStaysAndIsPassedOver)
{
  Job("A.frx", OneFile("*", "/mnt/sdb1/Filme"));
  Job("B.frx", OneFile("Film.rec", "/mnt/sdb1/Filme"));
  EXPECT_EQ(0, ScanAndLoad());
  EXPECT_STREQ("A.frx", FileNameJob);
  EXPECT_TRUE(InJobs("A.frx"));
  EXPECT_FALSE(InFail("A.frx"));
  EXPECT_EQ(0, NrOfFilesToProcess);
  EXPECT_NE(std::string::npos, Log().find("ERROR JobFile: can't create file list on external, not mounted drive"));
  // the next search takes the following job; once that is gone, none is left
  EXPECT_EQ(1, isJobAvailable());
  ASSERT_EQ(1, ScanAndLoad());
  EXPECT_STREQ("B.frx", FileNameJob);
  DeleteJobFile();
  EXPECT_EQ(0, isJobAvailable());
  EXPECT_EQ(0, ScanForNextJobFile());
  EXPECT_TRUE(InJobs("A.frx"));
}

TEST_F(JobFilesTest, WhenTooManyJobsStayNoFurtherJobIsTaken)
{
  for (int i = 0; i <= JOB_SKIP_MAX; i++) {
    char name[16];
    std::snprintf(name, sizeof name, "J%02d.frx", i);
    Job(name, OneFile("*", "/mnt/sdb1/Filme"));
  }
  for (int i = 0; i <= JOB_SKIP_MAX; i++) {
    ASSERT_EQ(1, isJobAvailable()) << i;
    EXPECT_EQ(0, ScanAndLoad()) << i;
  }
  EXPECT_TRUE(JobFilesSkippedFull);
  EXPECT_EQ(0, isJobAvailable());
  EXPECT_NE(std::string::npos, Log().find("no more jobs in this run"));
}

// ---- recordings in use ----

TEST_F(JobFilesTest, AJobForARecordingInProgressWaitsForTheNextStart)
{
  const std::string live = "/mnt/hd/DataFiles/Filme/Live.rec";
  WriteFile(live, "live");
  Rx().SetRecording(1, live);
  struct Case {
    const char *file, *name, *sdir;
  };
  const Case cases[] = {{"A.frx", "Live.rec", "/mnt/hd/DataFiles/Filme"},
                        {"B.frx", "*", "/mnt/hd/DataFiles/Filme/"}};  // its only recording
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    Job(c.file, OneFile(c.name, c.sdir, "/mnt/hd/DataFiles/NAS-Share", 1));
    EXPECT_EQ(0, ScanAndLoad());
    EXPECT_STREQ(c.file, FileNameJob);
    EXPECT_TRUE(InJobs(c.file));
    EXPECT_FALSE(InFail(c.file));
    EXPECT_EQ(0, NrOfFilesToProcess);
    EXPECT_EQ(0, move);
    EXPECT_STREQ("/mnt/hd/DataFiles/MoveToNAS", MoveDir);
  }
  EXPECT_EQ(2u, Count(Log(), "JobFile: " + live + " is being recorded, the job waits"));
  EXPECT_EQ(0, isJobAvailable()) << "left alone for the rest of the run";
  EXPECT_EQ("live", ReadFile(live));

  // played back only: the job is taken
  Rx().StopRecording(1);
  Rx().SetPlayback(live);
  Job("C.frx", OneFile("Live.rec", "/mnt/hd/DataFiles/Filme"));
  EXPECT_EQ(1, ScanAndLoad());
  EXPECT_STREQ("C.frx", FileNameJob);
}

// ---- memory ----

TEST_F(JobFilesTest, OneFileJobWithoutMemoryForItsEntryIsRefused)
{
  Job("Mem.frx", OneFile("Film.rec", "/mnt/sdb1/Filme", "/mnt/hd/D", 1));
  echoBuf.trigger = "JobFile: file list with one file";
  echoBuf.hook = [this] { Rx().SetMemoryLimit(0, 1); };
  ASSERT_EQ(1, ScanForNextJobFile());
  size_t before = Rx().MemoryInUse();
  EXPECT_EQ(0, LoadJob());
  Rx().SetMemoryLimit(0, 0);
  EXPECT_EQ(before, Rx().MemoryInUse()) << "nothing of the entry is kept";
  EXPECT_EQ(0, NrOfFilesToProcess);
  EXPECT_EQ(0, move);
  EXPECT_STREQ("/mnt/hd/DataFiles/MoveToNAS", MoveDir);
  EXPECT_TRUE(InJobs("Mem.frx"));
  EXPECT_EQ(0, isJobAvailable()) << "not taken again in this run";
}

// A shortage of memory passes: the job waits in the job folder for the next
// start instead of failing for good, and is passed over until then.
TEST_F(JobFilesTest, JobFileThatCannotBeReadForLackOfMemoryStaysForTheNextStart)
{
  Job("Big.frx", OneFile("Film.rec", "/mnt/sdb1/Filme"));
  ASSERT_EQ(1, ScanForNextJobFile());
  Rx().SetMemoryLimit(0, 256);
  EXPECT_EQ(0, LoadJob());
  Rx().SetMemoryLimit(0, 0);
  EXPECT_TRUE(InJobs("Big.frx"));
  EXPECT_FALSE(InFail("Big.frx"));
  EXPECT_NE(std::string::npos, Log().find("JobFile Big.frx can't be done now: not enough memory to read it")) << Log();
  EXPECT_EQ(0, ScanForNextJobFile()) << "left alone until the next start";
}

// ---- finishing ----

TEST_F(JobFilesTest, DeleteRemovesOnlyTheJobFile)
{
  Job("Done.frx", OneFile("Film.rec", "/mnt/sdb1/Filme"));
  Job("Next.frx", OneFile("Film.rec", "/mnt/sdb1/Filme"));
  std::strcpy(FileNameJob, "Done.frx");
  std::string before = Folder();
  DeleteJobFile();
  EXPECT_EQ(before, Folder());
  EXPECT_FALSE(InJobs("Done.frx"));
  EXPECT_TRUE(InJobs("Next.frx"));
  EXPECT_NE(std::string::npos, Log().find("delete Job File: Done.frx \r\n"));
}

TEST_F(JobFilesTest, FailFolderIsCreatedAndANameClashKeepsBothFiles)
{
  Job("Twice.frx", "first");
  std::strcpy(FileNameJob, "Twice.frx");
  std::string before = Folder();
  MoveJobFileToFail();
  EXPECT_EQ(before, Folder());
  ASSERT_TRUE(InFail("Twice.frx"));
  Job("Twice.frx", "second");
  MoveJobFileToFail();
  EXPECT_FALSE(InJobs("Twice.frx"));
  EXPECT_EQ("first", ReadFile(std::string(kFail) + "/Twice.frx"));
  EXPECT_EQ("second", ReadFile(std::string(kFail) + "/Twice-2.frx"));
  EXPECT_NE(std::string::npos, Log().find("Move Job File: Twice.frx to fail folder"));
}

TEST_F(JobFilesTest, AJobFileThatCannotBeMovedAsideIsPassedOver)
{
  // a fail folder on another device: the move (a rename) cannot succeed
  fs::create_directories(sandbox / "otherdisk");
  Rx().AddMount({kFail, sandbox / "otherdisk"});
  Job("Stuck.frx", OneFile("Film.rec", "/mnt/sdb1/Filme"));
  Job("Later.frx", OneFile("Film.rec", "/mnt/sdb1/Filme"));
  std::strcpy(FileNameJob, "Later.frx");
  MoveJobFileToFail();
  EXPECT_TRUE(InJobs("Later.frx"));
  EXPECT_NE(std::string::npos, Log().find("ERROR JobFile: can't move Later.frx to fail folder"));
  ASSERT_EQ(1, ScanForNextJobFile());
  EXPECT_STREQ("Stuck.frx", FileNameJob);
  std::strcpy(FileNameJob, "Stuck.frx");
  MoveJobFileToFail();
  EXPECT_EQ(0, isJobAvailable());
}

}  // namespace
