// TriageRunTest.cpp -- whole runs with "CopyAllFiles": unencrypted, unused
// recordings of "/DataFiles" are gathered into the source folder and copied
// by the normal run; the others stay where they are.
#include <string>
#include <vector>

#include "ScenarioFixture.h"

namespace {

constexpr const char *kData = "/mnt/hd/DataFiles";

class TriageRun : public ScenarioTest {
 protected:
  // A recording in "/DataFiles"; flag < 0: no ".inf".
  void Recording(const std::string &name, int flag, unsigned seed)
  {
    std::string path = std::string(kData) + "/" + name;
    WriteRecording(path, 20'000, seed, LocalTime(2015, 12, 1, 10, (int)seed), false, true);
    if (flag >= 0) {
      std::string inf = Pattern(376, seed + 1000);
      inf[16] = static_cast<char>(flag);
      WriteFile(path + ".inf", inf, LocalTime(2015, 12, 1));
    }
  }
  void WriteAll()
  {
    Recording("Fta.rec", 0, 1);
    Recording("Crypt.rec", 1, 2);
    Recording("Decrypted.rec", 2, 3);
    Recording("Partly.rec", 3, 4);
    Recording("Odd.mpg", 7, 5);
    Recording("NoInf.rec", -1, 6);
    Recording("Live.rec", 0, 7);
    Recording("Playing.rec", 0, 8);
    Recording("Clip.ts", 0, 9);
    Recording("Sub/Deep.rec", 0, 10);  // sub-folders are not entered
  }
  bool InData(const std::string &name) const { return Exists(std::string(kData) + "/" + name); }
};

TEST_F(TriageRun, GathersTheUnencryptedAndUnusedThenCopiesThem)
{
  WriteShareSettings({"CopyAllFiles=1"});
  WriteAll();
  RunResult r = Run({"--record", "0=/mnt/hd/DataFiles/Live.rec", "--play", "/mnt/hd/DataFiles/Playing.rec"}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  for (const char *name : {"Fta.rec", "Decrypted.rec", "Odd.mpg"}) {
    EXPECT_FALSE(InData(name)) << name;
    for (const char *suffix : {"", ".inf", ".nav"}) {
      std::string f = std::string(name) + suffix;
      EXPECT_TRUE(Exists(std::string(kMoveToNAS) + "/" + f)) << f;
      EXPECT_TRUE(fs::exists(share / f)) << f << " copied by the normal run";
    }
  }
  for (const char *name :
       {"Crypt.rec", "Partly.rec", "NoInf.rec", "Live.rec", "Playing.rec", "Clip.ts", "Sub/Deep.rec"}) {
    EXPECT_TRUE(InData(name)) << name;
    EXPECT_TRUE(InData(std::string(name) + ".nav")) << name;
  }
  EXPECT_TRUE(InData("Crypt.rec.inf"));
  EXPECT_TRUE(LogInOrder(
      {"Move Files from DataFiles to /mnt/hd/DataFiles/MoveToNAS:", "  Do not move Crypt because it is crypted",
       "  Move Decrypted CryptFlag = uncrypted", "  Move Fta CryptFlag = FTA",
       "  Do not move Live because it is in use", "  Do not move NoInf because it is crypted",
       "  Move Odd CryptFlag = ???", "  Do not move Partly because it is partly crypted",
       "  Do not move Playing because it is in use", "3 files ready for processing.", "Ferrox end"}));
  EXPECT_EQ(Log().find("Clip"), std::string::npos) << "a .ts is never looked at";
}

TEST_F(TriageRun, WithoutCopyAllFilesNothingIsGathered)
{
  WriteShareSettings({"CopyAllFiles=0"});
  WriteAll();
  RunResult r = Run({}, 0);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  for (const char *name : {"Fta.rec", "Decrypted.rec", "Odd.mpg", "Crypt.rec"}) EXPECT_TRUE(InData(name)) << name;
  EXPECT_FALSE(LogHas("Move Files from DataFiles to /mnt/hd/DataFiles/MoveToNAS:"));
  EXPECT_TRUE(LogHas("0 files ready for processing."));
  EXPECT_TRUE(Tree(share).empty());
}

}  // namespace
