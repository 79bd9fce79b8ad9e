// FullDriveTest.cpp -- a whole move run onto a small tmpfs that fills up:
// the run goes on file by file, no source of an incomplete copy is deleted,
// and once there is room the next run finishes what was left.
#include <string>
#include <vector>

#include "RealFsFixture.h"

namespace {

class FullDrive : public RealFsTest {};

TEST_F(FullDrive, EveryFileAfterTheDiskFilledUpKeepsItsSourceAndTheNextRunFinishes)
{
  REQUIRE_REAL_FS({});
  MountGuard drive;
  REQUIRE_MOUNTED(drive.MountTmpfs(share, "2m"));

  // oldest first: the first fits, the second fills the drive, the third finds it full
  WriteShareSettings({"MountType=2", "Move=1"});
  WriteRecording(Source("First.rec"), 600'000, 1, LocalTime(2015, 12, 1));
  WriteRecording(Source("Second.rec"), 3'000'000, 2, LocalTime(2015, 12, 2));
  WriteRecording(Source("Third.rec"), 200'000, 3, LocalTime(2015, 12, 3));
  std::vector<std::string> kept;
  std::vector<std::string> bytes;
  for (const char *rec : {"Second.rec", "Third.rec"})
    for (const char *part : {"", ".inf", ".nav"}) {
      kept.push_back(std::string(rec) + part);
      bytes.push_back(ReadFile(Source(kept.back())));
    }
  const std::string first = ReadFile(Source("First.rec"));

  RunResult r = Run();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  EXPECT_TRUE(ReadHostFile(share / "First.rec") == first);
  EXPECT_EQ(Tree(Host(kMoveToNAS)), kept) << "only the complete copy lost its source";
  for (size_t i = 0; i < kept.size(); i++)
    EXPECT_TRUE(ReadFile(Source(kept[i])) == bytes[i]) << kept[i] << " was changed";
  EXPECT_LT(fs::file_size(share / "Second.rec"), 3'000'000u);
  // each failure is in the log, and the run still visits every file
  EXPECT_TRUE(LogInOrder(
      {"REC|MPG|TS 1 of 3", "delete File: /mnt/hd/DataFiles/MoveToNAS/First.rec ", "REC|MPG|TS 2 of 3",
       "SourceFile will be not delete because copyprocess was not completely successful", "REC|MPG|TS 3 of 3",
       "SourceFile will be not delete because copyprocess was not completely successful", "No more files to copy",
       "Ferrox end"}))
      << Log();
  std::vector<std::string> writeFailures = LogLinesStartingWith("FRX: failed to write 3000000 bytes (");
  EXPECT_EQ(writeFailures.size(), 1u) << Log();
  EXPECT_FALSE(LogHas("delete File: /mnt/hd/DataFiles/MoveToNAS/Second.rec "));
  EXPECT_FALSE(LogHas("delete File: /mnt/hd/DataFiles/MoveToNAS/Third.rec "));

  // room again: the partial recording is continued, the rest copied under
  // their own names (what the full drive left of them is taken over), all moved
  const uintmax_t partial = fs::file_size(share / "Second.rec");
  ASSERT_GT(partial, 0u);
  ASSERT_EQ(drive.Resize("16m"), "");
  RunResult again = Run();
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_TRUE(LogHas("FRX: continuing at '" + std::to_string(partial) + "'")) << Log();
  for (size_t i = 0; i < kept.size(); i++)
    EXPECT_TRUE(ReadHostFile(share / kept[i]) == bytes[i]) << kept[i] << " differs from its source";
  EXPECT_EQ(Tree(share),
            (std::vector<std::string>{"First.rec", "First.rec.inf", "First.rec.nav", "Second.rec", "Second.rec.inf",
                                      "Second.rec.nav", "Third.rec", "Third.rec.inf", "Third.rec.nav"}));
  EXPECT_FALSE(LogHas("Destination needed to be renamed to 'Third-1.rec'"));
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty());
}

}  // namespace
