// JobRunTest.cpp -- whole runs of the copy service with job files that other
// programs dropped: one-file jobs from the internal disk and external drives,
// whole-folder jobs, failed and refused jobs, the wait after a boot start,
// and the normal run that follows with the settings back in force.
#include <fstream>
#include <string>
#include <vector>

#include "ScenarioFixture.h"

namespace {

constexpr const char *kJobs = "/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles";
constexpr const char *kFail = "/mnt/hd/ProgramFiles/Settings/Ferrox/JobFail";
const std::string kBootWait =
    "Wait 3min, because FRX was start direct after receiver boot and first work will be a JobFile";
const std::vector<std::string> kTriple = {"Film.rec", "Film.rec.inf", "Film.rec.nav"};

class JobRun : public ScenarioTest {
 protected:
  fs::path usb;  // host folder of the external drive

  void SetUp() override
  {
    ScenarioTest::SetUp();
    usb = share.parent_path() / "usb";
    fs::create_directories(usb);
    fs::create_directories(Host(kJobs));
  }
  void TearDown() override
  {
    std::string tk = ToolkitLog();
    EXPECT_EQ(tk.find("CallLevel Underflow"), std::string::npos) << tk;
    EXPECT_EQ(tk.find("CallLevel Overflow"), std::string::npos) << tk;
    ScenarioTest::TearDown();
  }

  void Job(const std::string &name, const std::string &fileName, const std::string &sdir,
           const std::string &ddir = kNASShare, int com = 0)
  {
    WriteJob(name, fileName, sdir, ddir, com);
  }
  // A recording on the external drive (the host folder behind /mnt/sdb1).
  void UsbRecording(const std::string &rel, unsigned seed)
  {
    std::string bytes = Pattern(200'000, seed);
    std::string inf = Pattern(376, seed + 1000);
    inf[16] = 0;
    for (auto [suffix, data] :
         {std::pair<std::string, std::string>{"", bytes}, {".inf", inf}, {".nav", Pattern(4096, seed + 2000)}}) {
      fs::path p = usb / (rel + suffix);
      fs::create_directories(p.parent_path());
      std::ofstream(p, std::ios::binary) << data;
    }
  }
  RunResult RunWithUsb(std::vector<std::string> extra = {})
  {
    extra.insert(extra.begin(), {"--mount", "/mnt/sdb1=" + usb.string()});
    return Run(extra, 0);
  }
  bool InJobs(const std::string &name) const { return Exists(std::string(kJobs) + "/" + name); }
  bool InFail(const std::string &name) const { return Exists(std::string(kFail) + "/" + name); }
  std::string ShareFile(const std::string &rel) const { return ReadHostFile(share / rel); }
};

TEST_F(JobRun, OneFileJobMovesFromAnExternalDriveThenTheNormalRunFollows)
{
  WriteShareSettings({});
  UsbRecording("Filme/Film.rec", 1);
  const std::string source = Pattern(200'000, 1);
  Job("Ext.frx", "Film.rec", "/mnt/sdb1/Filme", kNASShare, 1);
  RunResult r = RunWithUsb();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_EQ(Tree(share), kTriple);
  EXPECT_TRUE(ShareFile("Film.rec") == source);
  EXPECT_TRUE(Tree(usb / "Filme").empty()) << "the source and its companions are gone";
  EXPECT_FALSE(InJobs("Ext.frx"));
  EXPECT_FALSE(InFail("Ext.frx"));
  EXPECT_TRUE(LogInOrder({"JobFile Ext.frx found", "JobFileName = Film.rec", "JobSourceDir = /mnt/sdb1/Filme",
                          "JobDestDir = /mnt/hd/DataFiles/NAS-Share", "File will be moved", "found TapfsRoot /mnt/sdb1",
                          "JobFile: file list with one file", "REC|MPG|TS 1 of 1",
                          "delete SourceFile: /mnt/sdb1/Filme/Film.rec ", "delete Job File: Ext.frx ",
                          "reached end of file list", "No Job File found, starting normal work...",
                          "0 files ready for processing.", "Ferrox end"}));
  EXPECT_FALSE(LogHas("Wait 3min") || LogHas(kBootWait)) << "uptime 300 s: no wait";
}

TEST_F(JobRun, SeveralJobsOneAfterAnotherThenTheSettingsAreBack)
{
  WriteShareSettings({"Move=0"});
  const std::string settings = ReadFile(std::string(kFerroxFolder) + "/Ferrox.ini");
  WriteRecording("/mnt/hd/DataFiles/Filme/A.rec", 100'000, 1, LocalTime(2015, 12, 1));
  UsbRecording("C.rec", 3);
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Normal.rec", 100'000, 4, LocalTime(2015, 12, 4));
  Job("1.frx", "A.rec", "/mnt/hd/DataFiles/Filme", kNASShare + std::string("/Internal"), 1);
  Job("2.frx", "B.rec", "/mnt/sdb/Filme", kNASShare, 1);
  Job("3.frx", "C.rec", "/mnt/sdb1", kNASShare + std::string("/Usb"), 1);
  fs::create_directories(share / "Internal");
  fs::create_directories(share / "Usb");
  // /mnt/sdb is a second drive with B.rec
  fs::path sdb = share.parent_path() / "sdb";
  fs::create_directories(sdb / "Filme");
  std::ofstream(sdb / "Filme/B.rec", std::ios::binary) << Pattern(1000, 2);
  std::ofstream(sdb / "Filme/B.rec.inf", std::ios::binary) << Pattern(376, 2);
  RunResult r = RunWithUsb({"--mount", "/mnt/sdb=" + sdb.string()});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_TRUE(LogInOrder({"JobFile 1.frx found", "found TapfsRoot /mnt/hd", "delete Job File: 1.frx ",
                          "JobFile 2.frx found", "found TapfsRoot /mnt/sdb", "delete Job File: 2.frx ",
                          "JobFile 3.frx found", "found TapfsRoot /mnt/sdb1", "delete Job File: 3.frx ",
                          "No Job File found, starting normal work...", "1 file ready for processing.", "Ferrox end"}));
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"B.rec", "B.rec.inf", "Internal/A.rec", "Internal/A.rec.inf",
                                                   "Internal/A.rec.nav", "Normal.rec", "Normal.rec.inf",
                                                   "Normal.rec.nav", "Usb/C.rec", "Usb/C.rec.inf", "Usb/C.rec.nav"}));
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/Filme/A.rec"));
  EXPECT_TRUE(Tree(usb).empty());
  // the settings are back: the normal run copies from MoveToNAS and keeps it
  EXPECT_TRUE(Exists(std::string(kMoveToNAS) + "/Normal.rec"));
  EXPECT_TRUE(Tree(Host(kJobs)).empty());
  std::string after = ReadFile(std::string(kFerroxFolder) + "/Ferrox.ini");
  EXPECT_NE(after.find("MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\n"), std::string::npos) << after;
  EXPECT_NE(after.find("Move=0\r\n"), std::string::npos) << after;
  EXPECT_EQ(after.find("sdb"), std::string::npos) << "no job value reaches the settings file";
}

TEST_F(JobRun, WholeFolderJobTakesOnlyTheOldestRecording)
{
  WriteShareSettings({});
  WriteRecording("/mnt/hd/DataFiles/Filme/Newer.rec", 50'000, 1, LocalTime(2015, 12, 5));
  WriteRecording("/mnt/hd/DataFiles/Filme/Oldest.rec", 50'000, 2, LocalTime(2015, 11, 1));
  WriteRecording("/mnt/hd/DataFiles/Filme/Middle.rec", 50'000, 3, LocalTime(2015, 12, 1));
  Job("All.frx", "*", "/mnt/hd/DataFiles/Filme");
  RunResult r = Run({}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Oldest.rec", "Oldest.rec.inf", "Oldest.rec.nav"}));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/Filme/Oldest.rec")) << "CoM=0 copies";
  EXPECT_FALSE(InJobs("All.frx"));
  EXPECT_TRUE(LogInOrder({"JobFile: make file list...", "3 files ready for processing.", "REC|MPG|TS 1 of 3",
                          "delete Job File: All.frx ", "No Job File found, starting normal work..."}));
}

TEST_F(JobRun, WholeFolderJobKeepsTheSubFolderOfItsOldestRecording)
{
  WriteShareSettings({});
  WriteRecording("/mnt/hd/DataFiles/Filme/Newer.rec", 50'000, 1, LocalTime(2015, 12, 5));
  WriteRecording("/mnt/hd/DataFiles/Filme/LongSeriesName/Episode 1.rec", 50'000, 2, LocalTime(2015, 11, 1));
  Job("All.frx", "*", "/mnt/hd/DataFiles/Filme");
  RunResult r = Run({}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  // below DDIR as a normal run places it (it went to "riesName" and failed)
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"LongSeriesName/Episode 1.rec", "LongSeriesName/Episode 1.rec.inf",
                                                   "LongSeriesName/Episode 1.rec.nav"}))
      << Log();
  EXPECT_FALSE(InJobs("All.frx"));
  EXPECT_FALSE(InFail("All.frx"));
}

TEST_F(JobRun, WholeFolderJobOnAnExternalDriveIsRefusedAndStays)
{
  WriteShareSettings({});
  UsbRecording("Filme/Film.rec", 1);
  Job("All.frx", "*", "/mnt/sdb1/Filme");
  RunResult r = RunWithUsb();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  const std::string refused = "ERROR JobFile: can't create file list on external, not mounted drive";
  EXPECT_EQ(LogCount(refused), 1u) << Log();
  EXPECT_TRUE(InJobs("All.frx"));
  EXPECT_FALSE(InFail("All.frx"));
  EXPECT_TRUE(Tree(share).empty());
  EXPECT_EQ(Tree(usb / "Filme"), kTriple);
  EXPECT_TRUE(LogInOrder({refused, "No Job File found, starting normal work...", "Ferrox end"}));
}

TEST_F(JobRun, JobWhoseFileIsMissingEndsInTheFailFolder)
{
  WriteShareSettings({});
  fs::create_directories(usb / "Filme");
  Job("Gone.frx", "Film.rec", "/mnt/sdb1/Filme", kNASShare, 1);
  RunResult r = RunWithUsb();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_FALSE(InJobs("Gone.frx"));
  EXPECT_TRUE(InFail("Gone.frx"));
  EXPECT_TRUE(
      LogInOrder({"JobFile Gone.frx found", "Error: File does not exist", "Move Job File: Gone.frx to fail folder",
                  "No Job File found, starting normal work...", "Ferrox end"}));
}

TEST_F(JobRun, UnusableJobFilesGoToTheFailFolderAndNothingOutsideTheSourceIsTouched)
{
  WriteShareSettings({});
  WriteRecording("/mnt/hd/DataFiles/Secret.rec", 1000, 1, LocalTime(2015, 12, 1));
  Job("Escape.frx", "../Secret.rec", "/mnt/hd/DataFiles/Filme", kNASShare, 1);
  WriteFile(std::string(kJobs) + "/Garbage.frx", std::string("\x7f"
                                                             "ELF\x01\x02\0\0\xff",
                                                             9) +
                                                     std::string(3000, '\xee'));
  WriteFile(std::string(kJobs) + "/Long.frx",
            "FileName=" + std::string(400, 'x') + ".rec\r\nSDIR=/mnt/hd/DataFiles\r\nDDIR=" + kNASShare + "\r\n");
  WriteFile(std::string(kJobs) + "/Relative.frx",
            "FileName=Secret.rec\r\nSDIR=DataFiles\r\nDDIR=" + std::string(kNASShare) + "\r\n");
  RunResult r = Run({}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  for (const char *name : {"Escape.frx", "Garbage.frx", "Long.frx", "Relative.frx"}) {
    EXPECT_TRUE(InFail(name)) << name;
    EXPECT_FALSE(InJobs(name)) << name;
  }
  EXPECT_TRUE(LogHas("ERROR JobFile Escape.frx: FileName must be the name of a file in SDIR")) << Log();
  EXPECT_TRUE(LogHas("ERROR JobFile Garbage.frx: FileName is missing"));
  EXPECT_TRUE(LogHas("ERROR JobFile Long.frx: FileName is too long"));
  EXPECT_TRUE(LogHas("ERROR JobFile Relative.frx: SDIR is not absolute"));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/Secret.rec"));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/Secret.rec.inf"));
  EXPECT_TRUE(Tree(share).empty());
  EXPECT_TRUE(LogInOrder({"No Job File found, starting normal work...", "Ferrox end"}));
}

// A job may name a single companion. Moving it must take that file alone:
// the recording it belongs to was not copied and stays where it is.
TEST_F(JobRun, MovingACompanionAloneLeavesItsRecording)
{
  WriteShareSettings({});
  UsbRecording("Filme/Film.rec", 1);
  Job("Inf.frx", "Film.rec.inf", "/mnt/sdb1/Filme", kNASShare, 1);
  Job("Nav.frx", "Film.rec.nav", "/mnt/sdb1/Filme", kNASShare, 1);
  RunResult r = RunWithUsb();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Film.rec.inf", "Film.rec.nav"}));
  EXPECT_EQ(Tree(usb / "Filme"), std::vector<std::string>{"Film.rec"});
  EXPECT_TRUE(LogInOrder({"JobFile Inf.frx found", "File is not an rec file, so no copyjob of nav and inf file.",
                          "delete SourceFile: /mnt/sdb1/Filme/Film.rec.inf ", "delete Job File: Inf.frx ",
                          "JobFile Nav.frx found", "delete SourceFile: /mnt/sdb1/Filme/Film.rec.nav ",
                          "delete Job File: Nav.frx "}));
}

// A job is not held to the settings' check that the two folders differ: a
// move onto the source folder itself must neither report the file complete
// nor delete the only copy.
TEST_F(JobRun, MovingOntoTheSourceFolderItselfKeepsTheFile)
{
  WriteShareSettings({});
  UsbRecording("Filme/Film.rec", 1);
  const std::string source = Pattern(200'000, 1);
  Job("Self.frx", "Film.rec", "/mnt/sdb1/Filme", "/mnt/sdb1/Filme", 1);
  RunResult r = RunWithUsb();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_EQ(Tree(usb / "Filme"), kTriple);
  EXPECT_TRUE(ReadHostFile(usb / "Filme/Film.rec") == source) << "the recording is unchanged";
  EXPECT_TRUE(InFail("Self.frx"));
  EXPECT_FALSE(LogHas("delete SourceFile: /mnt/sdb1/Filme/Film.rec ")) << Log();
}

TEST_F(JobRun, AFolderNamedLikeAJobFileIsNoJob)
{
  WriteShareSettings({});
  fs::create_directories(Host(std::string(kJobs) + "/Old.frx"));
  RunResult r = Run({}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_TRUE(LogHas("No Job File found, starting normal work..."));
  EXPECT_FALSE(LogHas("JobFile Old.frx found"));
  EXPECT_TRUE(fs::is_directory(Host(std::string(kJobs) + "/Old.frx")));
  EXPECT_FALSE(InFail("Old.frx"));
}

struct BootCase {
  const char *uptime;
  bool waits;
};
// readable in the test list instead of the case's bytes
void PrintTo(const BootCase &c, std::ostream *os) { *os << "uptime " << c.uptime << " s"; }

class BootStart : public JobRun, public ::testing::WithParamInterface<BootCase> {};

TEST_P(BootStart, JobsWaitThreeMinutesOnlyRightAfterABoot)
{
  WriteShareSettings({});
  UsbRecording("Filme/Film.rec", 1);
  Job("Boot.frx", "Film.rec", "/mnt/sdb1/Filme");
  RunResult r = RunWithUsb({"--uptime", GetParam().uptime});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_EQ(Tree(share), kTriple);
  EXPECT_FALSE(InJobs("Boot.frx"));
  EXPECT_EQ(LogHas(kBootWait), GetParam().waits) << Log();
  if (GetParam().waits) {
    EXPECT_TRUE(LogInOrder({kBootWait, "JobFile Boot.frx found"}));
    int waited = SecondsBetween(kBootWait, "JobFile Boot.frx found");
    EXPECT_TRUE(waited == 180 || waited == 181) << waited;
  }
  int start = SecondsBetween("Ferrox 1.17 started", "JobFile Boot.frx found");
  if (!GetParam().waits) {
    EXPECT_TRUE(start == 0 || start == 1) << start;
  }
}

INSTANTIATE_TEST_SUITE_P(Uptime, BootStart, ::testing::Values(BootCase{"100", true}, BootCase{"300", false}),
                         [](const ::testing::TestParamInfo<BootCase> &info) {
                           return std::string("Seconds") + info.param.uptime;
                         });

}  // namespace
