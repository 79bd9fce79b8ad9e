// TriageTest.cpp -- the encryption flag of a recording's ".inf"; the
// gathering itself runs end to end in tests/scenario/TriageRunTest.cpp.
#include <cstring>
#include <string>

#include "Ferrox.h"
#include "SimFixture.h"

namespace {

constexpr const char *kData = "/mnt/hd/DataFiles";
constexpr const char *kLog = "/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.log";

class TriageTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    std::strcpy(MoveDir, "/mnt/hd/DataFiles/MoveToNAS");
    LogLength = 0;
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
  void Recording(const std::string &name, int flag)
  {
    WriteFile(std::string(kData) + "/" + name, "video of " + name);
    if (flag >= 0) WriteFile(std::string(kData) + "/" + name + ".inf", Inf(flag));
    WriteFile(std::string(kData) + "/" + name + ".nav", "nav");
  }
  std::string Log() const { return ReadFile(kLog); }
};

TEST_F(TriageTest, FlagTexts)
{
  struct Case {
    int flag;
    const char *text;
  };
  const Case cases[] = {{0, "FTA"},   {1, "crypted"}, {2, "uncrypted"}, {3, "partly crypted"},      {4, "???"},
                        {255, "???"}, {256, "FTA"},   {257, "crypted"}, {0x1003, "partly crypted"}, {-1, "???"}};
  for (const Case &c : cases) EXPECT_STREQ(c.text, GetCryptFlagString(c.flag)) << c.flag;
}

TEST_F(TriageTest, FlagIsByteSixteenOfTheInfOrCryptedWhenUnreadable)
{
  struct Case {
    const char *what;
    int flag;  // written at byte 16; -1: no ".inf"
    int expected;
  };
  const Case cases[] = {{"free-to-air", 0, 0}, {"crypted", 1, 1},     {"decrypted", 2, 2},
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

// A source folder on another device: the rename cannot reach it, and the
// recording must stay whole in "/DataFiles" with a line that says so.
TEST_F(TriageTest, AMoveThatCannotBeMadeKeepsTheRecordingAndSaysSo)
{
  fs::create_directories(sandbox / "otherdisk");
  Rx().AddMount({"/mnt/hd/DataFiles/MoveToNAS", sandbox / "otherdisk"});
  Recording("Fta.rec", 0);
  MoveAllFilesToMoveToNAS();
  for (const char *suffix : {"", ".inf", ".nav"})
    EXPECT_TRUE(Exists(std::string(kData) + "/Fta.rec" + suffix)) << suffix;
  EXPECT_TRUE(fs::is_empty(sandbox / "otherdisk"));
  std::string log = Log();
  size_t line = log.find("  Move Fta CryptFlag = FTA\r\n");
  EXPECT_NE(std::string::npos, line) << log;
  EXPECT_NE(std::string::npos, log.find("  Move Fta failed, it stays in DataFiles\r\n", line)) << log;
}

}  // namespace
