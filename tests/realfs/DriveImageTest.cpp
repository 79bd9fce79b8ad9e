// DriveImageTest.cpp -- the copy service onto drives with real file systems:
// an ext2 loop image as the Linux drive and an NTFS image through ntfs-3g,
// each mounted on the share folder that the receiver sees.
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "RealFsFixture.h"

namespace {

// Source name (as recorded, UTF-8) -> name on the drive.
using NameMap = std::vector<std::pair<std::string, std::string>>;

class DriveImage : public RealFsTest {
 protected:
  // Writes the recordings (oldest first in the list) and remembers their bytes.
  void WriteRecordings(const std::vector<std::pair<std::string, size_t>> &recordings)
  {
    unsigned seed = 10;
    int day = 1;
    for (const auto &[name, size] : recordings) {
      WriteRecording(Source(name), size, seed, LocalTime(2015, 11, day++, 20, 15));
      for (const char *part : {"", ".inf", ".nav"}) {
        std::string file = name + part;
        sources_[file] = ReadFile(Source(file));
        times_[file] = MTime(Host(Source(file)));
      }
      seed += 3;
    }
  }

  // Each source part arrived under its drive name, byte for byte, with the
  // source's modification time.
  void ExpectCopied(const std::string &name, const std::string &onDrive)
  {
    for (const char *part : {"", ".inf", ".nav"}) {
      fs::path dest = share / (onDrive + part);
      ASSERT_TRUE(fs::exists(dest)) << dest;
      EXPECT_TRUE(ReadHostFile(dest) == sources_[name + part]) << dest << " differs from its source";
      EXPECT_EQ(MTime(dest), times_[name + part]) << dest;
    }
  }

  std::map<std::string, std::string> sources_;  // bytes of each source part before the run
  std::map<std::string, time_t> times_;         // and its modification time
};

TEST_F(DriveImage, Ext2DriveGetsTheMovedTreeWithTsLinksAndTimes)
{
  REQUIRE_REAL_FS({"mke2fs"});
  TempDir images;
  MountGuard drive;
  REQUIRE_MOUNTED(drive.MountExt2Image(images.path / "linux.img", 96, share));

  // CopySpeed 1 on a Linux drive: blocks of 6 MiB, so the big one takes several
  WriteShareSettings({"MountType=2", "CopySpeed=1", "SetTSLink=1", "Move=1"});
  WriteRecordings({{"Tatort.rec", 15'000'000},
                   {"Series/Folge 1.rec", 3'000'000},
                   {"Konzert.mpg", 2'000'000},
                   {"Clip.ts", 700'000}});
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  for (const char *name : {"Tatort.rec", "Series/Folge 1.rec", "Konzert.mpg", "Clip.ts"}) ExpectCopied(name, name);
  // a .ts link beside every copied .rec, and only there: one file, two names
  for (const char *rec : {"Tatort", "Series/Folge 1"}) {
    struct stat a {
    }, b{};
    ASSERT_EQ(stat((share / (std::string(rec) + ".rec")).c_str(), &a), 0);
    ASSERT_EQ(stat((share / (std::string(rec) + ".ts")).c_str(), &b), 0) << rec;
    EXPECT_EQ(a.st_ino, b.st_ino) << rec;
    EXPECT_EQ(a.st_nlink, 2u) << rec;
  }
  EXPECT_EQ(Tree(share).size(), 14u) << ::testing::PrintToString(Tree(share));
  EXPECT_TRUE(LogHas("ts link: /mnt/hd/DataFiles/NAS-Share/Series/Folge 1.ts done")) << Log();
  EXPECT_TRUE(LogHas("delete File: /mnt/hd/DataFiles/MoveToNAS/Tatort.rec ")) << Log();
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty()) << "every recording arrived, so every source went";
  EXPECT_TRUE(LogLinesStartingWith("Error").empty()) << Log();
  EXPECT_TRUE(LogInOrder({"4 files ready for processing.", "REC|MPG|TS 4 of 4", "Ferrox end"}));
}

TEST_F(DriveImage, ReadOnlyDriveFailsEachRecordingWithALineAndKeepsEverySource)
{
  REQUIRE_REAL_FS({"mke2fs"});
  TempDir images;
  MountGuard drive;
  REQUIRE_MOUNTED(drive.MountExt2Image(images.path / "linux.img", 16, share, true));

  WriteShareSettings({"MountType=2", "SetTSLink=1", "Move=1"});
  WriteRecordings({{"Eins.rec", 300'000}, {"Serie/Zwei.rec", 200'000}});
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_TRUE(LogInOrder({"REC|MPG|TS 1 of 2",
                          "FRX: failed to open the destination file '/mnt/hd/DataFiles/NAS-Share/Eins.rec'",
                          "Error: Can't open destination file", "REC|MPG|TS 2 of 2",
                          "FRX: failed to open the destination file '/mnt/hd/DataFiles/NAS-Share/Serie/Zwei.rec'",
                          "Error: Can't open destination file", "No more files to copy", "Ferrox end"}))
      << Log();
  EXPECT_EQ(Tree(Host(kMoveToNAS)).size(), 6u) << "nothing arrived, so nothing is deleted";
  for (const auto &[file, bytes] : sources_) EXPECT_TRUE(ReadFile(Source(file)) == bytes) << file;
  EXPECT_FALSE(LogHas("ts link: /mnt/hd/DataFiles/NAS-Share/Eins.ts done"));
}

TEST_F(DriveImage, NtfsDriveGetsNamesItCanHoldAndIdenticalCopies)
{
  REQUIRE_REAL_FS({"mkntfs", "ntfs-3g"}, true);
  TempDir images;
  MountGuard drive;
  REQUIRE_MOUNTED(drive.MountNtfsImage(images.path / "ntfs.img", 32, share));

  // SpecChar stays off: the NTFS mount type alone spells the letters out
  WriteShareSettings({"MountType=1", "Move=1"});
  const NameMap names = {
      {"Müller.rec", "Mueller.rec"},
      {"Straße ÄÖÜ.mpg", "Strasse AeOeUe.mpg"},
      {"Café Crème à la carte.rec", "Cafe Creme a la carte.rec"},
      {"Film: Teil 1?.rec", "Film Teil 1.rec"},
      {"A<b>|c*d\"e\\f.rec", "Abcdef.rec"},
      {"Krimi (DEC).rec", "Krimi.rec"},
      // no spelt-out form: the letter stays, in the form the drive takes
      {"Façade.rec", "Façade.rec"},
      {"Øresund.rec", "Øresund.rec"},
  };
  std::vector<std::pair<std::string, size_t>> recordings;
  for (const auto &n : names) recordings.push_back({n.first, 300'000 + 1000 * recordings.size()});
  WriteRecordings(recordings);
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  std::vector<std::string> expected;
  for (const auto &[source, onDrive] : names) {
    ExpectCopied(source, onDrive);
    for (const char *part : {"", ".inf", ".nav"}) expected.push_back(onDrive + part);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Tree(share), expected);
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty()) << ::testing::PrintToString(Tree(Host(kMoveToNAS)));
  EXPECT_TRUE(LogLinesStartingWith("Error").empty()) << Log();
}

TEST_F(DriveImage, NameTheNtfsDriveRefusesKeepsItsSourceAndTheRunGoesOn)
{
  REQUIRE_REAL_FS({"mkntfs", "ntfs-3g"}, true);
  TempDir images;
  MountGuard drive;
  REQUIRE_MOUNTED(drive.MountNtfsImage(images.path / "ntfs.img", 32, share));

  // "NUL" is a device name on Windows, with any ending: the drive says no
  WriteShareSettings({"MountType=1", "Move=1"});
  WriteRecordings({{"NUL.rec", 50'000}, {"Next.rec", 60'000}});
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_TRUE(
      LogInOrder({"REC|MPG|TS 1 of 2", "FRX: failed to open the destination file '/mnt/hd/DataFiles/NAS-Share/NUL.rec'",
                  "Error: Can't open destination file", "REC|MPG|TS 2 of 2",
                  "delete File: /mnt/hd/DataFiles/MoveToNAS/Next.rec ", "Ferrox end"}));
  EXPECT_EQ(Tree(Host(kMoveToNAS)), (std::vector<std::string>{"NUL.rec", "NUL.rec.inf", "NUL.rec.nav"}));
  EXPECT_TRUE(ReadFile(Source("NUL.rec")) == sources_["NUL.rec"]);
  ExpectCopied("Next.rec", "Next.rec");
}

}  // namespace

namespace {

// A name that the NTFS drive could not take with ".inf" or ".nav" added is
// shortened on a whole letter, keeps its extension and arrives with its
// companions; the source, whose name the disk holds, goes once it has.
TEST_F(DriveImage, ANameTooLongForTheNtfsDriveArrivesShortened)
{
  REQUIRE_REAL_FS({"mkntfs", "ntfs-3g"}, true);
  TempDir images;
  MountGuard drive;
  REQUIRE_MOUNTED(drive.MountNtfsImage(images.path / "ntfs.img", 32, share));

  WriteShareSettings({"MountType=1", "Move=1"});
  std::string longName, onDrive;
  for (int i = 0; i < 120; i++) longName += "\xC3\xA7";  // c cedilla: no spelt-out form
  for (int i = 0; i < 61; i++) onDrive += "\xC3\xA7";
  WriteRecordings({{longName + ".rec", 200'000}});
  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  ExpectCopied(longName + ".rec", onDrive + ".rec");
  // the log is ISO 8859-1
  EXPECT_TRUE(LogHas("Destination name shortened to fit with its companions: '" + std::string(61, '\xE7') + ".rec'"))
      << Log();
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty()) << ::testing::PrintToString(Tree(Host(kMoveToNAS)));
  EXPECT_TRUE(LogLinesStartingWith("Error").empty()) << Log();
}

}  // namespace
