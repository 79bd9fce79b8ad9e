// MoveSafetyTest.cpp -- when a moved source may go, and where a recording
// may land: sources changed since their bytes were read, being recorded or
// reached through the destination itself stay; companions of another
// recording and links in the way are clashes; a share lost between the parts
// of a recording gets no part written below its bare mount point.
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "SettingsTestFixture.h"

namespace {

const std::string kRec = "/mnt/hd/DataFiles/MoveToNAS/Film.rec";
const std::string kShare = "/mnt/hd/DataFiles/NAS-Share";

class MoveSafety : public CycleTest {
 public:
  // for the cases' set-up functions
  fs::path HostPath(const std::string &path) const { return Host(path); }
  sim::Receiver &Receiver() { return Rx(); }
  void Write(const std::string &path, const std::string &bytes) { WriteFile(path, bytes); }

 protected:
  void SetUp() override
  {
    CycleTest::SetUp();
    UseShareFolders();
    move = 1;
    MakeDir(kShare);
  }
  void ListEntry(const char *folder, const char *name)
  {
    CleanupMemory();
    ASSERT_EQ(0, AddFileToProcess(folder, name, 0));
    CurrentFileToProcess = 0;
  }
  // The recording with both companions, copied part by part as the cycle
  // does it; the statuses and stamps are the cycle's.
  void CopyAllParts()
  {
    ListEntry("/DataFiles/MoveToNAS", "Film.rec");
    for (int typ = FT_Rec; typ <= FT_Nav; typ++) {
      FileTyp = typ;
      int r = StartCopy();
      if (r == 0) r = Pump();
      ASSERT_EQ(1, r) << Log();
      RememberPartSource();
      FileStatus[typ] = FS_Done;
    }
    FileTyp = FT_Nav;
  }
  void WriteRecording(unsigned seed)
  {
    WriteFile(kRec, Pattern(200'000, seed));
    WriteFile(kRec + ".inf", Pattern(376, seed + 1));
    WriteFile(kRec + ".nav", Pattern(4000, seed + 2));
  }
  bool SourceThere() const { return Exists(kRec) && Exists(kRec + ".inf") && Exists(kRec + ".nav"); }
};

TEST_F(MoveSafety, CopiedAndUnchangedSourceGoes)
{
  WriteRecording(1);
  CopyAllParts();
  DeleteCurrentSource();
  EXPECT_EQ(SK_Deleted, SourceKept);
  EXPECT_FALSE(Exists(kRec));
  EXPECT_FALSE(Exists(kRec + ".inf"));
  EXPECT_EQ(Pattern(200'000, 1), ReadFile(kShare + "/Film.rec"));
  // the proof marker is gone again
  EXPECT_EQ((std::vector<std::string>{"Film.rec", "Film.rec.inf", "Film.rec.nav"}), HostTree(Host(kShare)));
}

// What happens to the source between its copy and its deletion.
struct KeepCase {
  const char *name;
  std::function<void(MoveSafety &)> meanwhile;
  const char *line;  // the line that says why it stays ("%s": the path)
  int kept;
};

void PrintTo(const KeepCase &c, std::ostream *os) { *os << c.name; }

class KeptSource : public MoveSafety, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(KeptSource, StaysWithItsLine)
{
  const KeepCase &c = GetParam();
  WriteRecording(2);
  CopyAllParts();
  c.meanwhile(*this);
  std::string before = ReadFile(kRec);
  DeleteCurrentSource();
  EXPECT_EQ(c.kept, SourceKept);
  EXPECT_TRUE(Exists(kRec) && Exists(kRec + ".inf")) << Log();
  EXPECT_EQ(before, ReadFile(kRec));
  std::string line = c.line;
  line.replace(line.find("%s"), 2, kRec);
  EXPECT_TRUE(LogHas(line)) << Log();
  EXPECT_FALSE(Log().find("delete File") != std::string::npos);
}

void Append(MoveSafety &t, const std::string &path)
{
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  FILE *f = fopen(t.HostPath(path).c_str(), "a");
  fputs("more", f);
  fclose(f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeptSource,
    ::testing::Values(KeepCase{"recording_grew", [](MoveSafety &t) { Append(t, kRec); },
                               "File: %s changed after it was copied and is not deleted", SK_Passing},
                      KeepCase{"inf_rewritten", [](MoveSafety &t) { Append(t, kRec + ".inf"); },
                               "File: %s changed after it was copied and is not deleted", SK_Passing},
                      KeepCase{"being_recorded", [](MoveSafety &t) { t.Receiver().SetRecording(1, kRec); },
                               "File: %s is being recorded and is not deleted", SK_Passing}),
    [](const ::testing::TestParamInfo<KeepCase> &info) { return std::string(info.param.name); });

// A ".nav" that was missing at its step and turned up since was never copied.
TEST_F(MoveSafety, CompanionThatAppearedSinceStays)
{
  WriteRecording(3);
  fs::remove(Host(kRec + ".nav"));
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  for (int typ = FT_Rec; typ <= FT_Inf; typ++) {
    FileTyp = typ;
    ASSERT_EQ(0, StartCopy());
    ASSERT_EQ(1, Pump());
    RememberPartSource();
    FileStatus[typ] = FS_Done;
  }
  FileTyp = FT_Nav;
  FileStatus[FT_Nav] = FS_Missing;
  WriteFile(kRec + ".nav", "new index");
  DeleteCurrentSource();
  EXPECT_EQ("new index", ReadFile(kRec + ".nav"));
  EXPECT_TRUE(Exists(kRec));
}

// Played back: the playback stops first, then the source goes.
TEST_F(MoveSafety, PlayedSourceStopsThePlaybackAndGoes)
{
  WriteRecording(4);
  CopyAllParts();
  Rx().SetPlayback(kRec);
  DeleteCurrentSource();
  EXPECT_FALSE(Exists(kRec));
  EXPECT_EQ(std::vector<std::string>{"StopTs"}, Rx().StopLog());
  EXPECT_TRUE(LogHas("File: " + kRec + " is being played, the playback is stopped")) << Log();
}

class SameFolderTwice : public MoveSafety {
 protected:
  void Configure(sim::Config &config) override
  {
    // the share shows the source folder itself, as a second mount would
    fs::create_directories(config.root / "mnt/hd/DataFiles/MoveToNAS");
    config.mounts.push_back({"/mnt/sdb1", config.root / "mnt/hd/DataFiles/MoveToNAS", 0, -1});
  }
};

TEST_F(SameFolderTwice, NothingIsDeleted)
{
  WriteRecording(5);
  std::strcpy(ShareDir, "/mnt/sdb1");
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  FileTyp = FT_Rec;
  // each part is its own copy, found complete through the second name
  for (int typ = FT_Rec; typ <= FT_Nav; typ++) {
    FileStatus[typ] = FS_Done;
    FileTyp = typ;
    FRX_TakeStamp((kRec + (typ == FT_Inf ? ".inf" : typ == FT_Nav ? ".nav" : "")).c_str(), &PartStamp[typ]);
  }
  std::strcpy(DestDirPath, "/mnt/sdb1");
  DeleteCurrentSource();
  EXPECT_EQ(SK_Lasting, SourceKept);
  EXPECT_TRUE(SourceThere());
  EXPECT_TRUE(LogHas("Error: /mnt/sdb1 and /mnt/hd/DataFiles/MoveToNAS are the same folder, no source is deleted"))
      << Log();
  EXPECT_EQ((std::vector<std::string>{"Film.rec", "Film.rec.inf", "Film.rec.nav"}),
            HostTree(Host("/mnt/hd/DataFiles/MoveToNAS")))
      << "the marker is removed again";
}

// What lies at the destination under the recording's cleaned name.
struct InTheWay {
  const char *name;
  std::function<void(MoveSafety &)> place;
  const char *destName;  // the name the recording gets
};

void PrintTo(const InTheWay &c, std::ostream *os) { *os << c.name; }

class DestinationInTheWay : public MoveSafety, public ::testing::WithParamInterface<InTheWay> {};

TEST_P(DestinationInTheWay, DecidesTheName)
{
  const InTheWay &c = GetParam();
  WriteRecording(6);
  WriteFile("/mnt/hd/DataFiles/Elsewhere/victim", "keep me");
  c.place(*this);
  std::string before = ReadFile(kShare + "/Film.rec.inf");
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  FileTyp = FT_Rec;
  StartCopy();
  FRX_Close();
  EXPECT_STREQ(c.destName, DestFileNameClean) << Log();
  EXPECT_EQ("keep me", ReadFile("/mnt/hd/DataFiles/Elsewhere/victim"));
  if (std::string(c.destName) != "Film.rec") {
    EXPECT_EQ(before, ReadFile(kShare + "/Film.rec.inf"));
  }
}

void CopyOf(MoveSafety &t, const char *ending, const std::string &bytes)
{
  t.Write(kShare + "/Film.rec" + ending, bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DestinationInTheWay,
    ::testing::Values(
        InTheWay{"same_recording_no_companions", [](MoveSafety &t) { CopyOf(t, "", Pattern(200'000, 6)); }, "Film.rec"},
        InTheWay{"same_recording_same_companions",
                 [](MoveSafety &t) {
                   CopyOf(t, "", Pattern(200'000, 6));
                   CopyOf(t, ".inf", Pattern(376, 7));
                   CopyOf(t, ".nav", Pattern(2000, 8));  // a nav cut short is continued
                 },
                 "Film.rec"},
        InTheWay{"same_bytes_other_inf",
                 [](MoveSafety &t) {
                   CopyOf(t, "", Pattern(200'000, 6));
                   CopyOf(t, ".inf", Pattern(376, 99));
                 },
                 "Film-1.rec"},
        InTheWay{"nothing_but_an_other_nav", [](MoveSafety &t) { CopyOf(t, ".nav", Pattern(4000, 99)); }, "Film-1.rec"},
        InTheWay{"inf_is_a_link_out_of_the_share",
                 [](MoveSafety &t) {
                   CopyOf(t, "", Pattern(200'000, 6));
                   symlink(t.HostPath("/mnt/hd/DataFiles/Elsewhere/victim").c_str(),
                           t.HostPath(kShare + "/Film.rec.inf").c_str());
                 },
                 "Film-1.rec"},
        InTheWay{"recording_is_a_link",
                 [](MoveSafety &t) {
                   symlink(t.HostPath("/mnt/hd/DataFiles/Elsewhere/victim").c_str(),
                           t.HostPath(kShare + "/Film.rec").c_str());
                 },
                 "Film-1.rec"}),
    [](const ::testing::TestParamInfo<InTheWay> &info) { return std::string(info.param.name); });

// A companion destination that turned into a link after the recording's
// step is never written through.
TEST_F(MoveSafety, CompanionLinkAppearingLaterIsNotWrittenThrough)
{
  WriteRecording(7);
  WriteFile("/mnt/hd/DataFiles/Elsewhere/victim", "keep me");
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  FileTyp = FT_Rec;
  ASSERT_EQ(0, StartCopy());
  ASSERT_EQ(1, Pump());
  symlink(Host("/mnt/hd/DataFiles/Elsewhere/victim").c_str(), Host(kShare + "/Film.rec.inf").c_str());
  FileTyp = FT_Inf;
  EXPECT_EQ(-3, StartCopy());
  EXPECT_EQ("keep me", ReadFile("/mnt/hd/DataFiles/Elsewhere/victim"));
  EXPECT_TRUE(LogHas("Error: " + kShare + "/Film.rec.inf is in the way and is not written")) << Log();
}

class ShareLostBetweenParts : public MoveSafety, public ::testing::WithParamInterface<int> {
 protected:
  void Configure(sim::Config &config) override
  {
    fs::create_directories(sandbox / "nas");
    config.mounts.push_back({kShare, sandbox / "nas", 0, -1});
  }
};

// Normal run and job alike: the ".inf" of a recording whose share went away
// is not written to the internal disk below the bare mount point.
TEST_P(ShareLostBetweenParts, NoCompanionLandsOnTheInternalDisk)
{
  WriteRecording(8);
  MountedDirDest = 1;
  RememberSettingsShare();
  JobState = GetParam();
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  std::strcpy(ShareDir, (kShare + "/Series").c_str());  // a job's folder below the share
  if (JobState == JS_Normal) std::strcpy(ShareDir, kShare.c_str());
  MakeDir(ShareDir);  // a job's folder must be there
  FileTyp = FT_Rec;
  ASSERT_EQ(0, StartCopy());
  ASSERT_EQ(1, Pump());
  Rx().SetMountTimes(kShare, 0, Rx().RunSeconds());
  FileTyp = FT_Inf;
  EXPECT_EQ(-3, StartCopy());
  EXPECT_FALSE(fs::exists(Host(kShare + "/Series"))) << "nothing below the bare mount point";
  EXPECT_TRUE(fs::exists(sandbox / "nas" / (JobState == JS_Job ? "Series/Film.rec" : "Film.rec")));
  EXPECT_FALSE(fs::exists(Host(kShare + "/Film.rec.inf")));
  EXPECT_TRUE(LogHas("Error: " + kShare + " is not mounted any more")) << Log();
}

INSTANTIATE_TEST_SUITE_P(Modes, ShareLostBetweenParts, ::testing::Values(JS_Normal, JS_Job),
                         [](const ::testing::TestParamInfo<int> &info) {
                           return std::string(info.param == JS_Job ? "job" : "normal");
                         });

// A job's share of its own, unknown to the settings: its companion must go
// to the drive its recording went to.
TEST_F(MoveSafety, JobCompanionFollowsTheDriveOfItsRecording)
{
  WriteRecording(9);
  JobState = JS_Job;
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  std::strcpy(ShareDir, "/mnt/sdc1/Archiv");
  Rx().AddMount({"/mnt/sdc1", sandbox / "usb", 0, -1});
  fs::create_directories(sandbox / "usb" / "Archiv");
  FileTyp = FT_Rec;
  ASSERT_EQ(0, StartCopy());
  ASSERT_EQ(1, Pump());
  Rx().SetMountTimes("/mnt/sdc1", 0, Rx().RunSeconds());
  FileTyp = FT_Inf;
  EXPECT_EQ(-3, StartCopy());
  EXPECT_TRUE(LogHas("Error: /mnt/sdc1/Archiv is not on the drive its recording went to any more")) << Log();
  EXPECT_FALSE(fs::exists(Host("/mnt/sdc1/Archiv"))) << "nothing below the bare mount point";
  EXPECT_TRUE(fs::exists(sandbox / "usb" / "Archiv" / "Film.rec"));
}

}  // namespace
