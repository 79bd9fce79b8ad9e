// PathTypesTest.cpp -- path kinds, conversions, folder changes, the folder
// stack and existence, against the simulator's disk.
#include <cstring>
#include <string>

#include "FirmwareBinding.h"
#include "PathTypes.h"
#include "SimFixture.h"
#include "TextEncoding.h"

namespace {

// A path buffer with a guard behind it: conversions must stay inside.
struct GuardedPath {
  char buf[PATH_BUFFER];
  char guard[16];
  GuardedPath()
  {
    memset(buf, 'X', sizeof(buf));
    memset(guard, 'G', sizeof(guard));
  }
  bool Intact() const { return memcmp(guard, "GGGGGGGGGGGGGGGG", sizeof(guard)) == 0; }
};

class PathTypesTest : public SimTest {
 protected:
  void Configure(sim::Config &config) override
  {
    fs::create_directories(sandbox / "usb");
    config.mounts.push_back({"/mnt/sdb1", sandbox / "usb"});
  }
  void SetUp() override
  {
    SimTest::SetUp();
    // the toolkit state belongs to one plug-in run: start each test afresh
    TAPDirStackDepth = -1;
    TAP_TableIndex = -1;
    ReturnTypeToBeChecked = true;
    UTFFirmwareCached = -1;
    FIS_ResetCache();
    MakeDir("/mnt/hd/DataFiles/Sub");
    WriteFile("/mnt/hd/DataFiles/a.rec", "rec");
    ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  }
  std::string Current()
  {
    char dir[PATH_BUFFER] = "";
    EXPECT_EQ(HDD_TAP_GetCurrentDir(dir), 0);
    return dir;
  }
  std::string Convert(const char *src, PathKind kind)
  {
    GuardedPath out;
    ConvertPathType(src, out.buf, kind);
    EXPECT_TRUE(out.Intact()) << src;
    return out.buf;
  }
};

TEST_F(PathTypesTest, ClassifiesByFormAndExistence)
{
  struct Case {
    const char *path;
    PathKind kind;
    // clang-format off
  } cases[] = {
      {"", PathKindName},
      {".", PathKindTapFolder},
      {"/", PathKindTapFolder},
      {"nosuch.rec", PathKindName},
      {"a.rec", PathKindName},                          // a file in the current folder
      {"Sub", PathKindTapFolder},                       // a folder in the current folder
      {"New/", PathKindTapFolder},                      // relative, need not exist
      {"/DataFiles/a.rec", PathKindTapFile},
      {"/DataFiles/Sub", PathKindTapFolder},
      {"/mnt/hd/DataFiles/a.rec", PathKindLinuxFile},
      {"/mnt/hd/DataFiles/", PathKindLinuxFolder},
      {"/mnt/hd/DataFiles/none.rec", PathKindLinuxFile},  // by form alone
      {"/mnt/hd/DataFiles/New/", PathKindLinuxFolder},
  };
  // clang-format on
  for (const Case &c : cases) EXPECT_EQ(GetPathType(c.path), c.kind) << "'" << c.path << "'";
  EXPECT_EQ(GetPathType(nullptr), PathKindName);
}

TEST_F(PathTypesTest, ConvertsBetweenAllFiveKinds)
{
  // source, then the result for kinds 0 to 4; current folder "/DataFiles"
  struct Case {
    const char *src;
    const char *to[5];
    // clang-format off
  } cases[] = {
      {"b.rec",
       {"b.rec", "/DataFiles/", "/mnt/hd/DataFiles/", "/DataFiles/b.rec", "/mnt/hd/DataFiles/b.rec"}},
      {"/DataFiles/Sub/", {"", "/DataFiles/Sub/", "/mnt/hd/DataFiles/Sub/", "", ""}},
      {"/DataFiles/Sub", {"", "/DataFiles/Sub/", "/mnt/hd/DataFiles/Sub/", "", ""}},
      {"Sub/", {"", "Sub/", "/mnt/hd/DataFiles/Sub/", "", ""}},
      {"/mnt/hd/DataFiles/Sub/", {"", "/DataFiles/Sub/", "/mnt/hd/DataFiles/Sub/", "", ""}},
      {"/mnt/hd/DataFiles", {"", "/DataFiles/", "/mnt/hd/DataFiles/", "", ""}},
      {"/mnt/hd/", {"", "/", "/mnt/hd/", "", ""}},
      {"/mnt/sdb1/", {"", "", "/mnt/sdb1/", "", ""}},
      {"/mnt/hdb1/x/", {"", "", "/mnt/hdb1/x/", "", ""}},  // another disk, not "/mnt/hd"
      {"/DataFiles/a.rec",
       {"a.rec", "/DataFiles/", "/mnt/hd/DataFiles/", "/DataFiles/a.rec", "/mnt/hd/DataFiles/a.rec"}},
      {"Sub/c.rec",
       {"c.rec", "Sub/", "/mnt/hd/DataFiles/Sub/", "Sub/c.rec", "/mnt/hd/DataFiles/Sub/c.rec"}},
      {"/mnt/hd/DataFiles/a.rec",
       {"a.rec", "/DataFiles/", "/mnt/hd/DataFiles/", "/DataFiles/a.rec", "/mnt/hd/DataFiles/a.rec"}},
      {"/mnt/sdb1/a.rec", {"a.rec", "", "/mnt/sdb1/", "", "/mnt/sdb1/a.rec"}},
  };
  // clang-format on
  for (const Case &c : cases)
    for (int kind = 0; kind < 5; kind++)
      EXPECT_EQ(Convert(c.src, PathKind(kind)), c.to[kind]) << c.src << " to kind " << kind;
}

TEST_F(PathTypesTest, ConvertsAtTheDiskRootAndInPlace)
{
  ASSERT_TRUE(HDD_ChangeDir("/"));
  EXPECT_EQ(Current(), "/");
  EXPECT_EQ(Convert("b.rec", PathKindTapFile), "/b.rec");
  EXPECT_EQ(Convert("b.rec", PathKindLinuxFile), "/mnt/hd/b.rec");
  EXPECT_EQ(Convert("Sub/", PathKindLinuxFolder), "/mnt/hd/Sub/");

  char path[PATH_BUFFER] = "/DataFiles/a.rec";
  ConvertPathType(path, path, PathKindLinuxFile);
  EXPECT_STREQ(path, "/mnt/hd/DataFiles/a.rec");

  // null arguments and kinds beyond 4 leave the destination alone
  strcpy(path, "untouched");
  ConvertPathType(nullptr, path, PathKindName);
  ConvertPathType("/DataFiles/a.rec", path, PathKind(5));
  ConvertPathType("/DataFiles/a.rec", nullptr, PathKindName);
  EXPECT_STREQ(path, "untouched");
}

TEST_F(PathTypesTest, PathsTooLongForTheBufferAreRefused)
{
  std::string overlong = "/DataFiles/" + std::string(600, 'a') + ".rec";
  std::string nearFull = std::string(505, 'n') + ".rec";                    // fits alone, not with a folder
  std::string fullFolder = std::string("/") + std::string(509, 'f') + "/";  // 511 characters

  EXPECT_EQ(Convert(overlong.c_str(), PathKindLinuxFile), "");
  EXPECT_EQ(Convert(overlong.c_str(), PathKindName), "");
  EXPECT_EQ(Convert(nearFull.c_str(), PathKindLinuxFile), "");
  EXPECT_EQ(Convert(nearFull.c_str(), PathKindName), nearFull);
  EXPECT_EQ(Convert(fullFolder.c_str(), PathKindLinuxFolder), "");
  EXPECT_EQ(Convert(fullFolder.c_str(), PathKindTapFolder), fullFolder);

  EXPECT_FALSE(HDD_ChangeDir(overlong.c_str()));
  EXPECT_FALSE(HDD_ChangeDir(std::string(511, 'd').c_str()));  // no room for the final "/"
  EXPECT_FALSE(HDD_Exist(overlong.c_str()));
  EXPECT_EQ(Current(), "/DataFiles");
}

TEST_F(PathTypesTest, ChangeDirReachesAFolderFromEveryForm)
{
  const char *forms[] = {"/DataFiles/Sub", "/DataFiles/Sub/",       "Sub",
                         "Sub/",           "/mnt/hd/DataFiles/Sub", "/mnt/hd/DataFiles/Sub/"};
  for (const char *form : forms) {
    ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
    EXPECT_TRUE(HDD_ChangeDir(form)) << form;
    EXPECT_EQ(Current(), "/DataFiles/Sub") << form;
  }
}

TEST_F(PathTypesTest, FailedChangeDirKeepsTheFolder)
{
  const char *bad[] = {"/DataFiles/None", "None/", "/mnt/sdb1", "/mnt/sdb1/", "", nullptr};
  for (const char *path : bad) {
    EXPECT_FALSE(HDD_ChangeDir(path)) << (path ? path : "null");
    EXPECT_EQ(Current(), "/DataFiles") << (path ? path : "null");
  }
}

TEST_F(PathTypesTest, FirstChangeDirLearnsTheSuccessValueWithoutMoving)
{
  ReturnTypeToBeChecked = true;
  ChDirSuccessful = 12345;
  EXPECT_FALSE(HDD_ChangeDir(nullptr));
  EXPECT_FALSE(ReturnTypeToBeChecked);
  EXPECT_NE(ChDirSuccessful, 12345u);
  EXPECT_EQ(Current(), "/DataFiles");
  EXPECT_EQ(TAPDirStackDepth, -1);
}

// Without "/ProgramFiles" the first probe fails: its failure value must not
// become the success value, or every failed change would count as done.
TEST_F(PathTypesTest, FailedProbeTeachesNoSuccessValue)
{
  fs::remove_all(Host("/mnt/hd/ProgramFiles"));
  ReturnTypeToBeChecked = true;
  ChDirSuccessful = 0;
  EXPECT_FALSE(HDD_ChangeDir("/DataFiles/None"));
  EXPECT_EQ(Current(), "/DataFiles");
  EXPECT_TRUE(HDD_ChangeDir("Sub"));
  EXPECT_EQ(Current(), "/DataFiles/Sub");
  EXPECT_TRUE(ReturnTypeToBeChecked) << "learnt from a failed probe";

  // once the probe succeeds, its value is learnt and the folder kept
  MakeDir("/mnt/hd/ProgramFiles");
  EXPECT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_FALSE(ReturnTypeToBeChecked);
  EXPECT_NE(ChDirSuccessful, 0u);
  EXPECT_EQ(Current(), "/DataFiles");
  EXPECT_EQ(TAPDirStackDepth, -1);
}

class Utf8FirmwareTest : public PathTypesTest {
 protected:
  void Configure(sim::Config &config) override
  {
    PathTypesTest::Configure(config);
    config.utf8Firmware = true;
  }
};

TEST_F(Utf8FirmwareTest, ChangeDirRetriesInUtf8)
{
  MakeDir("/mnt/hd/DataFiles/Caf\xC3\xA9");          // written by UTF-8 firmware
  EXPECT_TRUE(HDD_ChangeDir("/DataFiles/Caf\xE9"));  // the same name in 8-bit text
  EXPECT_EQ(Current(), "/DataFiles/Caf\xC3\xA9");
}

// 314 characters in 8-bit text, 614 in UTF-8: too long for a path buffer,
// so the retry is not made rather than handing the firmware a path it would
// keep cut (the simulator warns about any such path it is given)
TEST_F(Utf8FirmwareTest, ChangeDirRefusesAUtf8FormLongerThanAPath)
{
  std::string eightBit = "/DataFiles", utf8 = "/DataFiles";
  for (int i = 0; i < 3; i++) {
    eightBit += "/" + std::string(100, '\xE9');
    utf8 += "/";
    for (int j = 0; j < 100; j++) utf8 += "\xC3\xA9";
  }
  MakeDir("/mnt/hd" + utf8);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(HDD_ChangeDir(eightBit.c_str()));
  std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(warnings.find("path too long"), std::string::npos) << warnings;
  EXPECT_EQ(Current(), "/DataFiles");
}

TEST_F(PathTypesTest, EightBitFirmwareDoesNotRetryInUtf8)
{
  MakeDir("/mnt/hd/DataFiles/Caf\xC3\xA9");
  EXPECT_FALSE(HDD_ChangeDir("/DataFiles/Caf\xE9"));
}

TEST_F(PathTypesTest, StackHoldsSixteenFolders)
{
  for (int i = 0; i < DIR_STACK_DEPTH; i++) ASSERT_TRUE(HDD_TAP_PushDir()) << i;
  char top[DIR_STACK_ENTRY];
  strcpy(top, TAPDirStack[DIR_STACK_DEPTH - 1]);

  EXPECT_FALSE(HDD_TAP_PushDir());
  EXPECT_EQ(TAPDirStackDepth, DIR_STACK_DEPTH - 1);
  EXPECT_STREQ(TAPDirStack[DIR_STACK_DEPTH - 1], top);

  for (int i = 0; i < DIR_STACK_DEPTH; i++) ASSERT_TRUE(HDD_TAP_PopDir()) << i;
  EXPECT_FALSE(HDD_TAP_PopDir());
  EXPECT_EQ(TAPDirStackDepth, -1);
  EXPECT_EQ(Current(), "/DataFiles");
}

TEST_F(PathTypesTest, PopReturnsToThePushedFolder)
{
  ASSERT_TRUE(HDD_TAP_PushDir());
  ASSERT_TRUE(HDD_ChangeDir("/ProgramFiles"));
  EXPECT_TRUE(HDD_TAP_PopDir());
  EXPECT_EQ(Current(), "/DataFiles");

  // a folder that vanished meanwhile: the pop fails, its entry is gone all the same
  ASSERT_TRUE(HDD_ChangeDir("Sub"));
  ASSERT_TRUE(HDD_TAP_PushDir());
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  fs::remove(Host("/mnt/hd/DataFiles/Sub"));
  EXPECT_FALSE(HDD_TAP_PopDir());
  EXPECT_EQ(TAPDirStackDepth, -1);
  EXPECT_EQ(Current(), "/DataFiles");
}

TEST_F(PathTypesTest, StackRefusesFoldersLongerThanItsEntries)
{
  // "/DataFiles/" is 11 characters: 188 more give 199, 189 more give 200
  std::string fits = "/DataFiles/" + std::string(188, 'k');
  std::string tooLong = "/DataFiles/" + std::string(189, 'l');
  MakeDir("/mnt/hd" + fits);
  MakeDir("/mnt/hd" + tooLong);

  ASSERT_TRUE(HDD_ChangeDir(fits.c_str()));
  EXPECT_TRUE(HDD_TAP_PushDir());
  EXPECT_EQ(TAPDirStack[0], fits);

  ASSERT_TRUE(HDD_ChangeDir(tooLong.c_str()));
  EXPECT_FALSE(HDD_TAP_PushDir());
  EXPECT_EQ(TAPDirStackDepth, 0);
  EXPECT_TRUE(HDD_TAP_PopDir());
  EXPECT_EQ(Current(), fits);
}

TEST_F(PathTypesTest, KeepDirRestoresWhatTheStackCannotTake)
{
  // a folder longer than a stack entry is kept aside, not pushed
  std::string tooLong = "/DataFiles/" + std::string(189, 'l');
  MakeDir("/mnt/hd" + tooLong);
  ASSERT_TRUE(HDD_TAP_PushDir());
  ASSERT_TRUE(HDD_ChangeDir(tooLong.c_str()));
  char kept[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(kept);
  EXPECT_FALSE(pushed);
  ASSERT_TRUE(HDD_ChangeDir("/ProgramFiles"));
  HDD_TAP_RestoreDir(pushed, kept);
  EXPECT_EQ(Current(), tooLong);
  EXPECT_EQ(TAPDirStackDepth, 0);  // the caller's entry is still there

  // a full stack: the 17th folder is kept aside and the top entry stays
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  for (int i = 1; i < DIR_STACK_DEPTH; i++) ASSERT_TRUE(HDD_TAP_PushDir());
  pushed = HDD_TAP_KeepDir(kept);
  EXPECT_FALSE(pushed);
  ASSERT_TRUE(HDD_ChangeDir("/ProgramFiles"));
  HDD_TAP_RestoreDir(pushed, kept);
  EXPECT_EQ(Current(), "/DataFiles");
  EXPECT_EQ(TAPDirStackDepth, DIR_STACK_DEPTH - 1);

  // with room on the stack it is the plain push and pop
  while (TAPDirStackDepth >= 0) HDD_TAP_PopDir();
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  pushed = HDD_TAP_KeepDir(kept);
  EXPECT_TRUE(pushed);
  EXPECT_EQ(TAPDirStackDepth, 0);
  ASSERT_TRUE(HDD_ChangeDir("/ProgramFiles"));
  HDD_TAP_RestoreDir(pushed, kept);
  EXPECT_EQ(Current(), "/DataFiles");
  EXPECT_EQ(TAPDirStackDepth, -1);
}

TEST_F(PathTypesTest, ExistInEveryForm)
{
  struct Case {
    const char *path;
    bool exists;
    // clang-format off
  } cases[] = {
      {"/DataFiles/a.rec", true}, {"/mnt/hd/DataFiles/a.rec", true}, {"a.rec", true},
      {"Sub/", true},             {"/DataFiles/Sub", true},          {"/mnt/hd/DataFiles/Sub/", true},
      {"/", true},                {"/DataFiles/none.rec", false},   {"none.rec", false},
      {"/mnt/sdb1/", true},       {"/mnt/sdb1/none.rec", false},    {"", false},
  };
  // clang-format on
  for (const Case &c : cases) EXPECT_EQ(HDD_Exist(c.path), c.exists) << "'" << c.path << "'";
  EXPECT_FALSE(HDD_Exist(nullptr));
}

TEST_F(PathTypesTest, AbsolutePathOfAFirmwareFileRecord)
{
  FwFileRecord *file = TAP_Hdd_Fopen("a.rec");
  ASSERT_NE(file, nullptr);
  GuardedPath out;
  EXPECT_TRUE(HDD_GetAbsolutePathByTypeFile(file, out.buf));
  EXPECT_STREQ(out.buf, "/mnt/hd/DataFiles/a.rec");
  TAP_Hdd_Fclose(file);

  std::string overlong(600, 'p');
  FwFilePathRecord inner = {};
  FwFileRecord record = {};
  record.PathInfo = &inner;
  const char *paths[] = {nullptr, overlong.c_str()};
  for (const char *path : paths) {
    inner.AbsPath = const_cast<char *>(path);
    EXPECT_FALSE(HDD_GetAbsolutePathByTypeFile(&record, out.buf));
    EXPECT_STREQ(out.buf, "");
    EXPECT_TRUE(out.Intact());
  }
  record.PathInfo = nullptr;
  EXPECT_FALSE(HDD_GetAbsolutePathByTypeFile(&record, out.buf));
  EXPECT_FALSE(HDD_GetAbsolutePathByTypeFile(nullptr, out.buf));
}

class NoTaskTableTest : public PathTypesTest {
 protected:
  void Configure(sim::Config &config) override
  {
    PathTypesTest::Configure(config);
    config.missingSymbols = {"_tapTask"};
  }
  void SetUp() override { SimTest::SetUp(); }
};

TEST_F(NoTaskTableTest, CurrentFolderCannotBeReadWithoutTheTable)
{
  TAPDirStackDepth = -1;
  TAP_TableIndex = -1;
  FIS_ResetCache();
  char dir[PATH_BUFFER] = "old";
  EXPECT_EQ(HDD_TAP_GetCurrentDir(dir), -3);
  EXPECT_STREQ(dir, "");
  EXPECT_FALSE(HDD_TAP_PushDir());
  EXPECT_EQ(TAPDirStackDepth, -1);
}

}  // namespace
