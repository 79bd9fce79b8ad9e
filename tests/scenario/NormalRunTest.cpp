// NormalRunTest.cpp -- whole runs of the copy service in the receiver
// program: settings, waiting for the share, the walk of the source folder,
// copying and moving with companions, and the end of the run.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <set>

#include <string>
#include <vector>

#include "ScenarioFixture.h"

namespace {

const std::string kSep59(59, '=');
const std::string kDash59(59, '-');

class NormalRun : public ScenarioTest {
 protected:
  void TearDown() override
  {
    // the call trace of every run stays balanced
    std::string tk = ToolkitLog();
    EXPECT_EQ(tk.find("CallLevel Underflow"), std::string::npos) << tk;
    EXPECT_EQ(tk.find("CallLevel Overflow"), std::string::npos) << tk;
    ScenarioTest::TearDown();
  }
  std::string Share(const std::string &rel) const { return ReadHostFile(share / rel); }
  static time_t MTime(const fs::path &p)
  {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? st.st_mtime : 0;
  }
};

struct LogLengthCase {
  int logLength;
  bool stateLines;  // "New State: ..." and other long-log lines present
};

void PrintTo(const LogLengthCase &c, std::ostream *os) { *os << "LogLenth=" << c.logLength; }

class CleanRun : public NormalRun, public ::testing::WithParamInterface<LogLengthCase> {};

TEST_P(CleanRun, CopiesTheTreeOldestFirstWithCompanionsAndTimes)
{
  WriteShareSettings({"LogLenth=" + std::to_string(GetParam().logLength)});
  // three recordings, one in a sub-folder; the oldest is copied first
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Newest.rec", 3'000'000, 1, LocalTime(2015, 12, 3));
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Series/Oldest.rec", 1'500'000, 2, LocalTime(2015, 12, 1));
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Middle.mpg", 700'000, 3, LocalTime(2015, 12, 2));
  RunResult r = Run({}, 2);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  std::vector<std::string> expected = {"Middle.mpg",        "Middle.mpg.inf",        "Middle.mpg.nav",
                                       "Newest.rec",        "Newest.rec.inf",        "Newest.rec.nav",
                                       "Series/Oldest.rec", "Series/Oldest.rec.inf", "Series/Oldest.rec.nav"};
  EXPECT_EQ(Tree(share), expected);
  for (const std::string &f : expected) {
    std::string src = ReadFile(std::string(kMoveToNAS) + "/" + f);
    ASSERT_FALSE(src.empty()) << f << ": copy mode keeps the source";
    EXPECT_TRUE(Share(f) == src) << f << " differs from its source";
    EXPECT_EQ(MTime(share / f), MTime(Host(std::string(kMoveToNAS) + "/" + f))) << f;
  }
  EXPECT_TRUE(
      LogInOrder({"Ferrox 1.17 started", "No Job File found, starting normal work...",
                  "NAS directory not found or not mounted. Waiting for 30 seconds.",
                  "Wait 10 seconds to give mount tap enough time to clear screen.", "3 files ready for processing.",
                  kSep59, "REC|MPG|TS 1 of 3", "FRX: init successful '/mnt/hd/DataFiles/NAS-Share/Series/Oldest.rec'",
                  "REC|MPG|TS 2 of 3", "FRX: init successful '/mnt/hd/DataFiles/NAS-Share/Middle.mpg'",
                  "REC|MPG|TS 3 of 3", "FRX: init successful '/mnt/hd/DataFiles/NAS-Share/Newest.rec.nav'",
                  "reached end of file list", "No more files to copy", kSep59, "Ferrox end", kDash59}));
  EXPECT_EQ(LogCount("NAS directory not found or not mounted. Waiting for 30 seconds."), 1u);
  bool longLog = GetParam().stateLines;
  EXPECT_EQ(LogHas("New State: JS_Normal - CS_Copy - FT_Inf"), longLog) << Log();
  EXPECT_EQ(LogHas("init successful"), longLog);
  EXPECT_EQ(LogHas("Used MoveDir = '/DataFiles/MoveToNAS'"), longLog);
  EXPECT_EQ(LogHas("Directory '/DataFiles/MoveToNAS/Series' will be processed now"), longLog);
  EXPECT_EQ(LogHas("SpecChar = False"), longLog);
  EXPECT_EQ(LogHas("MountType = NAS"), longLog);
  EXPECT_EQ(LogHas("StopMount is set to FALSE"), longLog);
  EXPECT_TRUE(LogHas("File Oldest.rec"));
}

INSTANTIATE_TEST_SUITE_P(LogLength, CleanRun, ::testing::Values(LogLengthCase{0, false}, LogLengthCase{1, true}),
                         [](const ::testing::TestParamInfo<LogLengthCase> &info) {
                           return std::string(info.param.logLength != 0 ? "long_log" : "short_log");
                         });

TEST_F(NormalRun, MoveDeletesOnlySourcesWhoseRecordingAndInfArrived)
{
  WriteShareSettings({"Move=1"});
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Full.rec", 400'000, 1, LocalTime(2015, 12, 1));
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/NoInf.rec", 400'000, 2, LocalTime(2015, 12, 2), false, true);
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/NoNav.rec", 400'000, 3, LocalTime(2015, 12, 3), true, false);
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_EQ(Tree(Host(kMoveToNAS)), (std::vector<std::string>{"NoInf.rec", "NoInf.rec.nav"}));
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Full.rec", "Full.rec.inf", "Full.rec.nav", "NoInf.rec",
                                                   "NoInf.rec.nav", "NoNav.rec", "NoNav.rec.inf"}));
  EXPECT_TRUE(LogInOrder(
      {"REC|MPG|TS 1 of 3", "delete File: /mnt/hd/DataFiles/MoveToNAS/Full.rec ", "REC|MPG|TS 2 of 3",
       "Error: File does not exist", "SourceFile will be not delete because copyprocess was not completely successful",
       "REC|MPG|TS 3 of 3", "Error: File does not exist", "delete File: /mnt/hd/DataFiles/MoveToNAS/NoNav.rec "}));
}

TEST_F(NormalRun, CopiesFoundCompleteByALaterMoveRunLetTheSourcesGo)
{
  WriteShareSettings({});
  WriteRecording(std::string(kMoveToNAS) + "/Film.rec", 300'000, 1, LocalTime(2015, 12, 1));
  RunResult copy = Run();
  ASSERT_EQ(copy.exitCode, 0) << copy.out << copy.err;
  const std::string copied = Share("Film.rec");
  ASSERT_EQ(copied, ReadFile(std::string(kMoveToNAS) + "/Film.rec"));

  // the same file again, now moving: each part is found complete and
  // compared in full with its source before the source goes
  WriteShareSettings({"Move=1"});
  RunResult move = Run();
  ASSERT_EQ(move.exitCode, 0) << move.out << move.err;
  EXPECT_EQ(LogCount("source and destination file have still the same size"), 0u) << Log();
  EXPECT_TRUE(LogInOrder({"REC|MPG|TS 1 of 1", "FRX: already ok '/mnt/hd/DataFiles/NAS-Share/Film.rec'",
                          "FRX: comparing the '300000' bytes at the destination with the source",
                          "FRX: the '300000' bytes at the destination are identical to the source",
                          "FRX: transfer finished.", "FRX: already ok '/mnt/hd/DataFiles/NAS-Share/Film.rec.inf'",
                          "FRX: already ok '/mnt/hd/DataFiles/NAS-Share/Film.rec.nav'",
                          "delete File: /mnt/hd/DataFiles/MoveToNAS/Film.rec "}))
      << Log();
  EXPECT_FALSE(LogHas("Destination needed to be renamed to 'Film-1.rec'"));
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty());
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Film.rec", "Film.rec.inf", "Film.rec.nav"}));
  EXPECT_TRUE(Share("Film.rec") == copied);
}

TEST_F(NormalRun, ShareThatNeverAppearsEndsTheRunAfterTheBootTime)
{
  WriteShareSettings({"NASBootTime=90"});
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Film.rec", 1000, 1, LocalTime(2015, 12, 1));
  RunResult r = Run({}, -1);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  const std::string waiting = "NAS directory not found or not mounted. Waiting for 90 seconds.";
  EXPECT_EQ(LogCount(waiting), 1u);
  EXPECT_TRUE(LogInOrder({waiting, "No mount within 90 seconds.", "Ferrox end", kDash59}));
  int waited = SecondsBetween(waiting, "No mount within 90 seconds.");
  EXPECT_TRUE(waited == 90 || waited == 91) << waited;
  EXPECT_TRUE(Tree(share).empty());
  // the missing folder is reported once, not every second
  EXPECT_EQ(LogCount("(Share)AbsShareDir = NAS-Share ShareDir = /mnt/hd/DataFiles/NAS-Share"), 1u);
}

TEST_F(NormalRun, IndexPluginRunningDelaysTheRunInStepsOfTenSeconds)
{
  WriteShareSettings({});
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Film.rec", 1000, 1, LocalTime(2015, 12, 1));
  WriteStandInBehaviour(0x8E0A4227, {"Mode=0", "RunTicks=2500"});
  RunResult r = Run({"--tap", TapFile("NavMender.tap").string()}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  const std::string still = "NavMender is still running, waiting...";
  const std::string stopped = "NavMender has stopped working, continue my work...";
  EXPECT_EQ(LogCount(still), 1u);
  EXPECT_TRUE(LogInOrder({still, stopped, "1 file ready for processing.", "Ferrox end"}));
  EXPECT_FALSE(LogHas("Wait 10 seconds to give mount tap enough time to clear screen."));
  int waited = SecondsBetween(still, stopped);
  // asked again every 10 s, at the first whole second after the deadline
  EXPECT_TRUE(waited >= 30 && waited <= 33) << waited;
  int settle = SecondsBetween(stopped, "1 file ready for processing.");
  EXPECT_TRUE(settle == 10 || settle == 11) << settle;
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Film.rec", "Film.rec.inf", "Film.rec.nav"}));
}

TEST_F(NormalRun, DriveOnAMountedFolderIsTakenOnlyOnceItIsNotTheInternalDisk)
{
  WriteShareSettings({});
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Film.rec", 1000, 1, LocalTime(2015, 12, 1));
  fs::create_directories(Host(kNASShare));  // the bare mount point on the internal disk
  RunResult r = Run({}, 6);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  const std::string ok = "Dst: lstat64(/mnt/hd/DataFiles/NAS-Share) = OK";
  EXPECT_EQ(LogCount(ok), 2u) << Log();
  std::vector<std::string> lines = LogLines();
  std::vector<std::string> devLines;
  for (const std::string &l : lines)
    if (l.rfind("     dev=", 0) == 0) devLines.push_back(l);
  ASSERT_EQ(devLines.size(), 2u);
  EXPECT_EQ(devLines[0].rfind("     dev=802,", 0), 0u) << devLines[0];
  EXPECT_NE(devLines[1].rfind("     dev=802,", 0), 0u) << devLines[1];
  EXPECT_TRUE(Tree(Host(kNASShare)).empty()) << "nothing lands on the internal disk";
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Film.rec", "Film.rec.inf", "Film.rec.nav"}));
}

TEST_F(NormalRun, ShareGoneInMidRunTakesNoCopiesAndKeepsTheSources)
{
  WriteShareSettings({"CopySpeed=1", "Move=1"});
  WriteRecording(std::string(kMoveToNAS) + "/A.rec", 3000, 1, LocalTime(2015, 12, 1));
  WriteRecording(std::string(kMoveToNAS) + "/B.rec", 24 << 20, 2, LocalTime(2015, 12, 2));
  WriteRecording(std::string(kMoveToNAS) + "/C.rec", 3000, 3, LocalTime(2015, 12, 3));
  // the list is built 10 s into the run; B takes about 5 s, the share goes at 13 s
  std::string mount = std::string(kNASShare) + "=" + share.string() + "@0-13";
  RunResult r = Run({"--mount", mount}, -1);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_TRUE(LogInOrder({"delete File: /mnt/hd/DataFiles/MoveToNAS/A.rec ", "REC|MPG|TS 2 of 3",
                          "Error: /mnt/hd/DataFiles/NAS-Share is not mounted any more",
                          "SourceFile will be not delete because copyprocess was not completely successful",
                          "REC|MPG|TS 3 of 3", "Error: Can't open destination file", "Ferrox end"}));
  // nothing was put on the internal disk below the bare mount point
  EXPECT_TRUE(Tree(Host(kNASShare)).empty()) << ::testing::PrintToString(Tree(Host(kNASShare)));
  EXPECT_EQ(Tree(Host(kMoveToNAS)),
            (std::vector<std::string>{"B.rec", "B.rec.inf", "B.rec.nav", "C.rec", "C.rec.inf", "C.rec.nav"}));
}

TEST_F(NormalRun, StoppedHalfWayTheNextRunContinuesToAnIdenticalResult)
{
  WriteShareSettings({"CopySpeed=1", "Move=1"});
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Big.rec", 24 << 20, 7, LocalTime(2015, 12, 1));
  const std::string source = ReadFile(std::string(kMoveToNAS) + "/Big.rec");
  // the list is built 10 s into the run; 512 KiB per 10 ticks is 5 MiB/s
  RunResult first = Run({"--stop-event-at", "13"}, 0);
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  EXPECT_TRUE(LogInOrder({"REC|MPG|TS 1 of 1", "Stop event", "Ferrox end", std::string(62, '-')}));
  uintmax_t partial = fs::file_size(share / "Big.rec");
  EXPECT_GT(partial, 0u);
  EXPECT_LT(partial, source.size());
  EXPECT_TRUE(Exists(std::string(kMoveToNAS) + "/Big.rec")) << "a stopped move keeps its source";

  RunResult second = Run({}, 0);
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
  EXPECT_TRUE(LogHas("FRX: continuing at '" + std::to_string(partial) + "'")) << Log();
  EXPECT_TRUE(Share("Big.rec") == source);
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Big.rec", "Big.rec.inf", "Big.rec.nav"}));
  EXPECT_FALSE(Exists(std::string(kMoveToNAS) + "/Big.rec"));
}

TEST_F(NormalRun, NameClashNumbersTheRecordingAndItsCompanionsAlike)
{
  WriteShareSettings({});
  WriteRecording("/mnt/hd/DataFiles/MoveToNAS/Film.rec", 5000, 1, LocalTime(2015, 12, 1));
  {
    std::ofstream(share / "Film.rec", std::ios::binary) << Pattern(5000, 50);
    std::ofstream(share / "Film-1.rec", std::ios::binary) << Pattern(5000, 51);
  }
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(LogHas("Destination needed to be renamed to 'Film-2.rec'"));
  EXPECT_EQ(Tree(share),
            (std::vector<std::string>{"Film-1.rec", "Film-2.rec", "Film-2.rec.inf", "Film-2.rec.nav", "Film.rec"}));
  EXPECT_TRUE(Share("Film-2.rec") == ReadFile(std::string(kMoveToNAS) + "/Film.rec"));
  EXPECT_TRUE(Share("Film.rec") == Pattern(5000, 50)) << "the file in the way is untouched";
}

TEST_F(NormalRun, ConsoleShowsUtf8UnlessRawAndTheLogKeepsTheReceiversBytes)
{
  WriteShareSettings({});
  WriteRecording(std::string(kMoveToNAS) + "/Müller.rec", 2000, 3, LocalTime(2015, 12, 1));
  for (bool raw : {false, true}) {
    std::vector<std::string> extra = {"--console", "-"};
    if (raw) extra.push_back("--console-raw");
    RunResult r = Run(extra);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    // the receiver's firmware names files in ISO 8859-1
    const std::string name = raw ? "M\xFCller.rec" : "Müller.rec";
    EXPECT_NE(r.out.find("init successful '/mnt/hd/DataFiles/NAS-Share/" + name + "'"), std::string::npos) << r.out;
    EXPECT_NE(ReadFile(std::string(kFerroxFolder) + "/Ferrox.log").find("File M\xFCller.rec"), std::string::npos);
    fs::remove_all(share);
    fs::create_directories(share);
    WriteFile(std::string(kFerroxFolder) + "/Ferrox.log", "");
  }
}

struct NameCase {
  const char *name;
  std::vector<std::string> settings;
  std::string source;    // name in the source folder (UTF-8)
  std::string expected;  // name at the destination
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << c.source << " -> " << c.expected; }

class DestinationNames : public NormalRun, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DestinationNames, FollowTheNameSettings)
{
  const NameCase &c = GetParam();
  std::vector<std::string> lines = {"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/NAS-Share",
                                    "MountedDirDest=1"};
  lines.insert(lines.end(), c.settings.begin(), c.settings.end());
  std::string text;
  for (const std::string &l : lines) text += l + "\r\n";
  WriteFile(std::string(kFerroxFolder) + "/Ferrox.ini", text);
  WriteRecording(std::string(kMoveToNAS) + "/" + c.source, 2000, 3, LocalTime(2015, 12, 1));
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Tree(share), (std::vector<std::string>{c.expected, c.expected + ".inf", c.expected + ".nav"}));
}

INSTANTIATE_TEST_SUITE_P(Names, DestinationNames,
                         ::testing::Values(NameCase{"SpecChar", {"SpecChar=1"}, "Müller.rec", "Mueller.rec"},
                                           NameCase{"NTFS", {"MountType=1"}, "Müller.rec", "Mueller.rec"},
                                           NameCase{"kept_in_UTF8", {}, "Müller.rec", "Müller.rec"},
                                           NameCase{"DelDEC", {}, "Film (DEC).rec", "Film.rec"},
                                           NameCase{"DelDEC_in_front", {}, "(DEC)Film.rec", "Film.rec"},
                                           NameCase{"DEC_kept", {"DelDEC=0"}, "Film (DEC).rec", "Film (DEC).rec"}),
                         [](const ::testing::TestParamInfo<NameCase> &info) { return std::string(info.param.name); });

TEST_F(NormalRun, TsLinksAreHardLinksAndNoNameIsEverRunAsACommand)
{
  WriteShareSettings({"SetTSLink=1"});
  const std::vector<std::string> names = {"A (1).rec", "Q'$(touch pwned)`touch pwned2`;&|*.rec",
                                          "Semi; rm -rf x & y.rec", "Say \"hi\" > out.rec", "New\ntouch pwned3.rec"};
  std::set<std::string> contents;
  unsigned seed = 1;
  for (const std::string &n : names) {
    contents.insert(Pattern(3000, seed));
    WriteRecording(std::string(kMoveToNAS) + "/" + n, 3000, seed++, LocalTime(2015, 12, 1));
  }
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_TRUE(LogHas("ts link: /mnt/hd/DataFiles/NAS-Share/A (1).ts done")) << Log();
  int recs = 0;
  for (const std::string &f : Tree(share)) {
    if (f.size() < 4 || f.compare(f.size() - 4, 4, ".rec") != 0) continue;
    recs++;
    EXPECT_EQ(contents.count(Share(f)), 1u) << f << " is no copy of a source";
    fs::path rec = share / f, ts = share / (f.substr(0, f.size() - 4) + ".ts");
    struct stat a {
    }, b{};
    ASSERT_EQ(stat(rec.c_str(), &a), 0);
    ASSERT_EQ(stat(ts.c_str(), &b), 0) << ts;
    EXPECT_EQ(a.st_ino, b.st_ino) << f << " and its .ts are one file";
  }
  EXPECT_EQ(recs, 5) << ::testing::PrintToString(Tree(share));
  std::vector<std::string> everything = Tree(root);
  for (const char *bad : {"pwned", "pwned2", "pwned3", "x", "out"}) {
    EXPECT_FALSE(fs::exists(fs::current_path() / bad)) << bad;
    for (const std::string &p : everything) EXPECT_NE(fs::path(p).filename().string(), bad);
  }
  EXPECT_TRUE(Exists(std::string(kMoveToNAS) + "/Semi; rm -rf x & y.rec"));
}

// More recordings than the work list holds: one run takes them all, a list
// of the oldest 1000 after the other, in copy mode (whose sources stay) as
// in move mode; the next copy run finds every one complete.
TEST_F(NormalRun, EveryRecordingOfManyMoreThanAThousandArrivesInOneRun)
{
  for (const char *mode : {"Move=0", "Move=1"}) {
    SCOPED_TRACE(mode);
    fs::remove_all(Host(kMoveToNAS));
    fs::remove_all(share);
    fs::create_directories(share);
    fs::remove(Host(std::string(kFerroxFolder) + "/Ferrox.log"));
    WriteShareSettings({mode});
    for (int i = 0; i < 2500; i++) {
      char name[64];
      std::snprintf(name, sizeof name, "%s/R%04d.rec", kMoveToNAS, i);
      // the walk meets them newest first: the lists must still go oldest first
      const time_t stamp = LocalTime(2015, 1, 1) + (2500 - i) * 60;
      WriteFile(name, "r", stamp);
      WriteFile(std::string(name) + ".inf", std::string(20, '\0'), stamp);
    }
    RunResult first = Run();
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_TRUE(LogInOrder({"1000 files ready for processing.",
                            "Too many files: 1500 more will be processed in this run once these 1000 are done.",
                            "REC|MPG|TS 1 of 1000", "reached end of file list",
                            "1500 more files to process: the next list follows.", "1000 files ready for processing.",
                            "Too many files: 500 more will be processed in this run once these 1000 are done.",
                            "500 more files to process: the next list follows.", "500 files ready for processing.",
                            "REC|MPG|TS 500 of 500", "No more files to copy"}))
        << Log();
    EXPECT_FALSE(LogHas("Too many files. /DataFiles/MoveToNAS/R0000.rec will be processed in the next run."));
    EXPECT_EQ(Tree(share).size(), 5000u);
    EXPECT_EQ(std::string(mode) == "Move=1", Tree(Host(kMoveToNAS)).empty());
    if (std::string(mode) == "Move=0") {
      EXPECT_EQ(Tree(Host(kMoveToNAS)).size(), 5000u) << "copy mode keeps its sources";
      RunResult again = Run();
      ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
      EXPECT_NE(Log().find("Summary: 0 copied, 0 moved, 2500 already complete, 0 failed, 0 skipped"), std::string::npos)
          << Log();
    }
  }
}

// A link to a folder in the source folder is not walked into: nothing below
// it is copied, moved or deleted, and a line names it. A loop, a link to
// another folder of the disk, one to the share itself and a dangling one.
TEST_F(NormalRun, FolderLinksInTheSourceAreNeitherFollowedNorTouched)
{
  WriteShareSettings({"Move=1"});
  WriteRecording(std::string(kMoveToNAS) + "/A.rec", 3000, 1, LocalTime(2015, 12, 1));
  WriteRecording("/mnt/hd/DataFiles/Other/B.rec", 3000, 2, LocalTime(2015, 12, 2));
  std::ofstream(share / "C.rec") << "on the share before";
  const std::vector<std::pair<std::string, std::string>> links = {
      {"loop", "."}, {"other", "../Other"}, {"share", share.string()}, {"dangling", "../Gone"}};
  for (const auto &[link, target] : links)
    fs::create_directory_symlink(target, Host(std::string(kMoveToNAS) + "/" + link));
  const std::vector<std::string> shareBefore = Tree(share);
  for (int run = 0; run < 2; run++) {
    RunResult r = Run();
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  }
  EXPECT_EQ(LogCount("Directory 'loop' is skipped: it is a link to another folder"), 2u) << Log();
  EXPECT_EQ(LogCount("Directory 'other' is skipped: it is a link to another folder"), 2u);
  EXPECT_EQ(LogCount("Directory 'share' is skipped: it is a link to another folder"), 2u);
  EXPECT_FALSE(LogHas("Directory 'loop' will be processed next time"));
  // A.rec and its companions moved; the share gained nothing else
  std::vector<std::string> expected = shareBefore;
  for (const char *f : {"A.rec", "A.rec.inf", "A.rec.nav"}) expected.push_back(f);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Tree(share), expected);
  for (const auto &[link, target] : links)
    EXPECT_TRUE(fs::is_symlink(Host(std::string(kMoveToNAS) + "/" + link))) << link << " is still there";
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/Other/B.rec"));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/Other/B.rec.inf"));
}

// A folder given as an absolute path off the internal disk is taken as it
// stands and written back so: a drive mounted elsewhere is a destination.
TEST_F(NormalRun, AnAbsoluteDestinationOffTheDiskIsKeptAndCopiedTo)
{
  TempDir drive;
  fs::create_directories(drive.path / "Backup");
  WriteShareSettings({"DestDir=/mnt/sdb1/Backup", "MountType=2"});
  WriteRecording(std::string(kMoveToNAS) + "/Film.rec", 3000, 1, LocalTime(2015, 12, 1));
  RunResult r = Run({"--mount", "/mnt/sdb1=" + drive.path.string()}, -1);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string ini = ReadFile(std::string(kFerroxFolder) + "/Ferrox.ini");
  EXPECT_NE(ini.find("DestDir=/mnt/sdb1/Backup\r\n"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("//"), std::string::npos) << ini;
  EXPECT_TRUE(fs::exists(drive.path / "Backup/Film.rec")) << Log();
  EXPECT_TRUE(fs::exists(drive.path / "Backup/Film.rec.inf"));
  EXPECT_FALSE(LogHas("NAS directory not found or not mounted. Waiting for 30 seconds.")) << Log();
}

// A folder of the settings inside the source is refused before anything is
// made: the refusal, and no new folder.
TEST_F(NormalRun, AnUnusableFolderIsRefusedBeforeItIsMade)
{
  InstallSetupStandIn();
  WriteShareSettings({"DestDir=/mnt/hd/DataFiles/MoveToNAS/Sub", "MountedDirDest=0", "MountedDirSource=1"});
  fs::create_directories(Host(kMoveToNAS));
  RunResult r = Run({}, -1);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(
      LogHas("Error: Destination folder /mnt/hd/DataFiles/MoveToNAS/Sub is the source folder "
             "/mnt/hd/DataFiles/MoveToNAS or lies inside it"))
      << Log();
  EXPECT_FALSE(Exists(std::string(kMoveToNAS) + "/Sub"));
  EXPECT_EQ(Log().find("did not exist and was created"), std::string::npos) << Log();
}

}  // namespace

namespace {

struct BootCase {
  const char *uptime;
  bool waits;  // the 3-minute wait after a boot start
};

void PrintTo(const BootCase &c, std::ostream *os) { *os << "uptime " << c.uptime << " s"; }

class JobAfterBoot : public NormalRun, public ::testing::WithParamInterface<BootCase> {};

TEST_P(JobAfterBoot, JobsFirstThenTheNormalRun)
{
  WriteShareSettings({});
  WriteRecording("/mnt/hd/DataFiles/Filme/Job.rec", 3000, 1, LocalTime(2015, 12, 1));
  WriteRecording(std::string(kMoveToNAS) + "/Normal.rec", 3000, 2, LocalTime(2015, 12, 2));
  WriteFile(std::string(kFerroxFolder) + "/JobFiles/a.frx",
            "FileName=Job.rec\r\nSDIR=/mnt/hd/DataFiles/Filme\r\nDDIR=/mnt/hd/DataFiles/NAS-Share\r\nCoM=1\r\n");
  RunResult r = Run({"--uptime", GetParam().uptime}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  const std::string wait =
      "Wait 3min, because FRX was start direct after receiver boot and first work will be a JobFile";
  EXPECT_EQ(LogHas(wait), GetParam().waits) << Log();
  if (GetParam().waits) {
    int waited = SecondsBetween(wait, "JobFile a.frx found");
    EXPECT_TRUE(waited >= 180 && waited <= 181) << waited;
  }
  EXPECT_TRUE(LogInOrder({"JobFile a.frx found", "delete SourceFile: /mnt/hd/DataFiles/Filme/Job.rec ",
                          "delete Job File: a.frx ", "No Job File found, starting normal work...",
                          "1 file ready for processing.", "Ferrox end"}));
  EXPECT_EQ(Tree(share), (std::vector<std::string>{"Job.rec", "Job.rec.inf", "Job.rec.nav", "Normal.rec",
                                                   "Normal.rec.inf", "Normal.rec.nav"}));
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/Filme/Job.rec"));
  EXPECT_FALSE(Exists(std::string(kFerroxFolder) + "/JobFiles/a.frx"));
}

INSTANTIATE_TEST_SUITE_P(Uptimes, JobAfterBoot, ::testing::Values(BootCase{"100", true}, BootCase{"300", false}),
                         [](const ::testing::TestParamInfo<BootCase> &info) {
                           return std::string("uptime") + info.param.uptime;
                         });

}  // namespace
