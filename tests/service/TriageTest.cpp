// TriageTest.cpp -- the encryption flag of a recording's ".inf" and the
// gathering of unencrypted, unused recordings from "/DataFiles".
#include <cstring>
#include <string>

#include "Ferrox.h"
#include "SimFixture.h"

namespace {

constexpr const char *kData = "/mnt/hd/DataFiles";
constexpr const char *kMove = "/mnt/hd/DataFiles/MoveToNAS";
constexpr const char *kLog = "/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.log";

class TriageTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    std::strcpy(MoveDir, kMove);
    LogLength = 0;
    MakeDir(kMove);
    MakeDir("/mnt/hd/ProgramFiles/Settings/Ferrox");
  }

  // An ".inf" of 40 bytes whose byte 16 is the flag.
  static std::string Inf(int flag)
  {
    std::string inf(40, '\x55');
    inf[16] = static_cast<char>(flag);
    return inf;
  }
  // A recording with its companions in "/DataFiles"; flag < 0: no ".inf".
  void Recording(const std::string &name, int flag, const std::string &folder = kData)
  {
    WriteFile(folder + "/" + name, "video of " + name);
    if (flag >= 0) WriteFile(folder + "/" + name + ".inf", Inf(flag));
    WriteFile(folder + "/" + name + ".nav", "nav");
  }
  std::string Log() const { return ReadFile(kLog); }
  bool Has(const std::string &line) const { return Log().find(line + "\r\n") != std::string::npos; }
  bool Moved(const std::string &name) const
  {
    return !Exists(std::string(kData) + "/" + name) && Exists(std::string(kMove) + "/" + name) &&
           Exists(std::string(kMove) + "/" + name + ".inf") &&
           Exists(std::string(kMove) + "/" + name + ".nav");
  }
  bool Kept(const std::string &name) const
  {
    return Exists(std::string(kData) + "/" + name) && !Exists(std::string(kMove) + "/" + name);
  }
};

TEST_F(TriageTest, FlagTexts)
{
  struct Case {
    int flag;
    const char *text;
  };
  const Case cases[] = {{0, "FTA"},       {1, "crypted"},   {2, "uncrypted"}, {3, "partly crypted"},
                        {4, "???"},       {255, "???"},     {256, "FTA"},     {257, "crypted"},
                        {0x1003, "partly crypted"},         {-1, "???"}};
  for (const Case &c : cases) EXPECT_STREQ(c.text, GetCryptFlagString(c.flag)) << c.flag;
}

TEST_F(TriageTest, FlagIsByteSixteenOfTheInfOrCryptedWhenUnreadable)
{
  struct Case {
    const char *what;
    int flag;  // written at byte 16; -1: no ".inf"
    int expected;
  };
  const Case cases[] = {{"free-to-air", 0, 0}, {"crypted", 1, 1},   {"decrypted", 2, 2},
                        {"partly", 3, 3},      {"unknown", 200, 200}, {"no .inf", -1, 1}};
  std::string before = Rx().CurrentFolder(hostSlot);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string name = std::string("F") + c.what + ".rec";
    Recording(name, c.flag);
    EXPECT_EQ(c.expected, GetCryptFlag(name.c_str()));
    EXPECT_EQ(name + ".inf", std::string(LogString));
    EXPECT_EQ(before, Rx().CurrentFolder(hostSlot));
  }
  WriteFile(std::string(kData) + "/Short.rec.inf", std::string(16, '\0'));
  EXPECT_EQ(1, GetCryptFlag("Short.rec")) << "an .inf too short for the flag";
  EXPECT_EQ(1, GetCryptFlag(nullptr));
  EXPECT_EQ(1, GetCryptFlag(std::string(600, 'x').c_str())) << "a name that doesn't fit";
}

TEST_F(TriageTest, GathersUnencryptedUnusedRecordingsWithTheirCompanions)
{
  Recording("Fta.rec", 0);
  Recording("Crypt.rec", 1);
  Recording("Decrypted.rec", 2);
  Recording("Partly.rec", 3);
  Recording("Odd.mpg", 7);
  Recording("NoInf.rec", -1);
  Recording("Live.rec", 0);
  Recording("Playing.rec", 2);
  Recording("Clip.ts", 0);
  Recording("Deep.rec", 0, std::string(kData) + "/Sub");
  Rx().SetRecording(0, std::string(kData) + "/Live.rec");
  Rx().SetPlayback(std::string(kData) + "/Playing.rec", 1);
  std::string before = Rx().CurrentFolder(hostSlot);

  MoveAllFilesToMoveToNAS();

  EXPECT_EQ(before, Rx().CurrentFolder(hostSlot));
  for (const char *name : {"Fta.rec", "Decrypted.rec", "Odd.mpg"}) EXPECT_TRUE(Moved(name)) << name;
  for (const char *name : {"Crypt.rec", "Partly.rec", "NoInf.rec", "Live.rec", "Playing.rec", "Clip.ts"})
    EXPECT_TRUE(Kept(name)) << name;
  EXPECT_TRUE(Exists(std::string(kData) + "/Crypt.rec.inf"));
  EXPECT_TRUE(Exists(std::string(kData) + "/Sub/Deep.rec")) << "sub-folders are not entered";
  EXPECT_TRUE(Rx().StopLog().empty()) << "nothing that plays or records is stopped";

  EXPECT_TRUE(Has(std::string("Move Files from DataFiles to ") + kMove + ":"));
  for (const char *line :
       {"  Move Fta CryptFlag = FTA", "  Do not move Crypt because it is crypted",
        "  Move Decrypted CryptFlag = uncrypted", "  Do not move Partly because it is partly crypted",
        "  Move Odd CryptFlag = ???", "  Do not move NoInf because it is crypted",
        "  Do not move Live because it is in use", "  Do not move Playing because it is in use"})
    EXPECT_TRUE(Has(line)) << line;
  EXPECT_EQ(std::string::npos, Log().find("Clip")) << "a .ts is not even looked at";
}

TEST_F(TriageTest, NothingToGatherStillLogsTheHeading)
{
  MoveAllFilesToMoveToNAS();
  EXPECT_TRUE(Has(std::string("Move Files from DataFiles to ") + kMove + ":"));
}

TEST_F(TriageTest, ASourceFolderThatIsDataFilesItselfLeavesEveryNameAlone)
{
  Recording("Fta.rec", 0);
  for (const char *dir : {"/mnt/hd/DataFiles", "/mnt/hd/DataFiles/"}) {
    SCOPED_TRACE(dir);
    std::strcpy(MoveDir, dir);
    MoveAllFilesToMoveToNAS();
    EXPECT_TRUE(Exists(std::string(kData) + "/Fta.rec"));
    EXPECT_TRUE(Exists(std::string(kData) + "/Fta.rec.inf"));
    EXPECT_FALSE(Exists(std::string(kData) + "/Fta-2.rec"));
    EXPECT_NE(std::string::npos, Log().find("not done, it is DataFiles itself"));
  }
}

}  // namespace
