// IniStoreTest.cpp -- the INI store against the simulator's disk: where files
// are found and written, how entries are read, and that a change keeps every
// other byte of the file.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "IniStore.h"
#include "PathTypes.h"
#include "SimFixture.h"

namespace {

class IniStoreTest : public SimTest {
 protected:
  void TearDown() override
  {
    INICloseFile();
    SimTest::TearDown();
  }

  // Writes the file into the current folder (TAPFS "/") and opens it there.
  void OpenText(std::string_view text)
  {
    WriteFile("/mnt/hd/Test.ini", text);
    ASSERT_EQ(IniPlaceHere, INIOpenFile("Test.ini", nullptr));
  }

  std::string Held() const { return INIBuffer != nullptr ? std::string(INIBuffer) : "<none>"; }

  std::string CurrentDir() const
  {
    char dir[PATH_BUFFER] = "";
    HDD_TAP_GetCurrentDir(dir);
    return dir;
  }
};

TEST_F(IniStoreTest, LocationCodesAndSearchOrder)
{
  struct Case {
    const char *name;
    std::vector<std::string> folders;  // where the file lies
    IniPlace expected;
    // clang-format off
  } cases[] = {
      {"current folder", {"/mnt/hd"}, IniPlaceHere},
      {"current folder wins", {"/mnt/hd", "/mnt/hd/ProgramFiles/Settings/App"}, IniPlaceHere},
      {"program files", {"/mnt/hd/ProgramFiles"}, IniPlaceProgramFiles},
      {"settings", {"/mnt/hd/ProgramFiles/Settings"}, IniPlaceSettings},
      {"settings over program files",
       {"/mnt/hd/ProgramFiles", "/mnt/hd/ProgramFiles/Settings"},
       IniPlaceSettings},
      {"application folder", {"/mnt/hd/ProgramFiles/Settings/App"}, IniPlaceAppFolder},
      {"application over settings",
       {"/mnt/hd/ProgramFiles/Settings", "/mnt/hd/ProgramFiles/Settings/App"},
       IniPlaceAppFolder},
      {"nowhere", {}, IniPlaceNew},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Host("/mnt/hd/ProgramFiles/Settings"));
    fs::remove(Host("/mnt/hd/ProgramFiles/Where.ini"));
    fs::remove(Host("/mnt/hd/Where.ini"));
    for (const std::string &folder : c.folders) WriteFile(folder + "/Where.ini", folder + "\r\n");
    MakeDir("/mnt/hd/ProgramFiles/Settings/App");

    EXPECT_EQ(c.expected, INIOpenFile("Where.ini", "App"));
    EXPECT_EQ("/", CurrentDir()) << "the caller's folder is restored";
    if (c.expected == IniPlaceNew) {
      EXPECT_EQ(512u, BufferSize);
      EXPECT_EQ("", Held());
    } else {
      EXPECT_EQ(c.folders.front() == "/mnt/hd" ? "/mnt/hd\r\n" : c.folders.back() + "\r\n", Held());
    }
    INICloseFile();
  }
}

// The caller's folder comes back also when the folder stack cannot take it:
// a folder longer than a stack entry, or a full stack.
TEST_F(IniStoreTest, CallerFolderIsKeptWhenTheStackCannotTakeIt)
{
  const std::string longDir = "/DataFiles/" + std::string(120, 'a') + "/" + std::string(120, 'b');
  MakeDir("/mnt/hd" + longDir);
  WriteFile("/mnt/hd/ProgramFiles/Settings/Kept.ini", "Key=1\r\n");
  for (bool fullStack : {false, true}) {
    SCOPED_TRACE(fullStack ? "full stack" : "long folder");
    const std::string dir = fullStack ? "/DataFiles" : longDir;
    int pushed = 0;
    if (fullStack)
      while (HDD_TAP_PushDir()) pushed++;
    ASSERT_TRUE(HDD_ChangeDir(dir.c_str()));
    EXPECT_EQ(IniPlaceSettings, INIOpenFile("Kept.ini", nullptr));
    EXPECT_EQ(dir, CurrentDir());
    EXPECT_EQ(IniPlaceNew, INIOpenFile("Missing.ini", nullptr));
    EXPECT_EQ(dir, CurrentDir());
    INISetString("Key", "2");
    EXPECT_TRUE(INISaveFile("Kept.ini", IniPlaceProgramFiles, nullptr));
    EXPECT_EQ(dir, CurrentDir());
    EXPECT_EQ("Key=2\r\n", ReadFile("/mnt/hd/ProgramFiles/Kept.ini"));
    while (pushed-- > 0) HDD_TAP_PopDir();
    INICloseFile();
  }
}

TEST_F(IniStoreTest, LocateLeavesTheFolderWhereTheFileIs)
{
  WriteFile("/mnt/hd/ProgramFiles/Settings/Only.ini", "");
  EXPECT_EQ(IniPlaceSettings, INILocateFile("Only.ini", "/Absolute"));
  EXPECT_EQ("/ProgramFiles/Settings", CurrentDir());
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  EXPECT_EQ(IniPlaceNone, INILocateFile("Missing.ini", nullptr));
  EXPECT_EQ("/DataFiles", CurrentDir());
  EXPECT_EQ(IniPlaceNone, INILocateFile(nullptr, nullptr));
}

TEST_F(IniStoreTest, LineEndsOnOpen)
{
  struct Case {
    std::string file;
    const char *held;
    // clang-format off
  } cases[] = {
      {"", "\r\n"},                              // an empty file opens and holds a line end
      {"A=1", "A=1\r\n"},                        // a missing last line end is added
      {"A=1\n", "A=1\n"},                        // an existing one is kept as it is
      {"A=1\r", "A=1\r"},
      {std::string("A=1\0B=2", 7), "A=1\r\n"},  // a zero byte ends the text
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    OpenText(c.file);
    EXPECT_EQ(c.held, Held());
    EXPECT_EQ(0u, BufferSize % 512);
    EXPECT_GE(BufferSize, strlen(INIBuffer) + 513 - 2);
    INICloseFile();
  }
}

// A file the store cannot hold as text is read as far as it goes and never
// written back: a save would drop what lies behind a NUL byte, or write a
// UTF-16 file as 8-bit text.
TEST_F(IniStoreTest, TextTheStoreCannotHoldIsReadButNeverWrittenBack)
{
  struct Case {
    const char *what;
    std::string file;
    int a, b;  // what A and B read as (7: missing)
    // clang-format off
  } cases[] = {
      {"NUL byte", std::string("A=1\r\n\0B=2\r\n", 11), 1, 7},
      {"NUL byte in a comment", std::string("; note\0more\r\nA=1\r\nB=2\r\n", 21), 7, 7},
      {"UTF-16 little-endian", std::string("\xFF\xFE" "A\0=\0" "1\0\r\0\n\0B\0=\0" "2\0\r\0\n\0", 22), 1, 2},
      {"UTF-16 big-endian", std::string("\xFE\xFF\0A\0=\0" "1\0\r\0\n\0B\0=\0" "2\0\r\0\n", 22), 1, 2},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile("/mnt/hd/Test.ini", c.file);
    ASSERT_EQ(IniPlaceHere, INIOpenFile("Test.ini", nullptr));
    EXPECT_EQ(c.a, INIGetInt("A", 7, 0, 10));
    EXPECT_EQ(c.b, INIGetInt("B", 7, 0, 10));
    EXPECT_STRNE("", INITextProblem);
    INISetInt("A", 5);
    EXPECT_FALSE(INISaveFile("Test.ini", IniPlaceHere, nullptr));
    EXPECT_STREQ("the file is no plain text and is left as it is", INISaveError);
    EXPECT_EQ(c.file, ReadFile("/mnt/hd/Test.ini"));
    EXPECT_FALSE(Exists("/mnt/hd/Test.ini.new"));
    INICloseFile();
  }
  // a plain file opened next is plain again
  WriteFile("/mnt/hd/Test.ini", "A=1\r\n");
  ASSERT_EQ(IniPlaceHere, INIOpenFile("Test.ini", nullptr));
  EXPECT_STREQ("", INITextProblem);
  EXPECT_TRUE(INISaveFile("Test.ini", IniPlaceHere, nullptr));
  INICloseFile();
}

TEST_F(IniStoreTest, CommentsCaseAndLongerKeys)
{
  struct Case {
    const char *text;
    int expected;
    // clang-format off
  } cases[] = {
      {"#CopySpeed=1\r\nCopySpeed=3\r\n", 3},  // commented out, then active
      {";CopySpeed=1\r\n", -1},                // only commented out: default
      {"# CopySpeed=5\r\n", 5},                // only the character just before counts
      {"copyspeed=2\r\n", 2},                  // keys match without regard to case
      {"COPYSPEED=4\r\n", 4},
      {"XCopySpeed=6\r\n", -1},                // a longer key is another key
      {"XCopySpeed=6\r\nCopySpeed=1\r\n", 1},
      {"MyCopySpeed=6\r\n", -1},
      {"[Section]\r\nCopySpeed=8\r\n", 8},     // bracketed lines are plain text
      {"\xEF\xBB\xBF" "CopySpeed=9\r\n", 9},   // a byte-order mark does not hide the key
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    OpenText(c.text);
    EXPECT_EQ(c.expected, INIGetInt("CopySpeed", -1, -100, 100));
    INICloseFile();
  }
}

TEST_F(IniStoreTest, LineEndsWhenReading)
{
  OpenText("A=one\nB=two\r\nC=three\rD=four\n\nE=five");
  char value[32];
  struct {
    const char *key;
    const char *expected;
  } cases[] = {{"A", "one"}, {"B", "two"}, {"C", "three"}, {"D", "four"}, {"E", "five"}};
  for (const auto &c : cases) {
    ASSERT_TRUE(INIGetString(c.key, value, "?", sizeof(value)));
    EXPECT_STREQ(c.expected, value) << c.key;
  }
}

// Settings and job files as other programs write them: every line-end style,
// comments, bracketed lines, blanks and foreign keys around the entries. Each
// key reads the same in every style; a foreign key that ends in a key's name
// ("AutoMove", "MaxCopySpeed") is another key and never answers for it.
TEST_F(IniStoreTest, FilesOfOtherProgramsReadTheSameInEveryLineEndStyle)
{
  // clang-format off
  const std::vector<std::string> lines = {
      "; written by another program", "[Ferrox]", "MaxCopySpeed=1", "CopySpeed=3",
      "AutoMove=1", "Move=0", "#DestDir=/mnt/hd/Old", "DestDir=/mnt/hd/DataFiles/NAS Share ",
      "", "LogLenth=1", "FileName=Film.rec", "SDIR=/mnt/sdb1/Filme", "DDIR=/mnt/hd/DataFiles/X",
      "CoM=1", "MountedDirSource=1", "MountedDirDest=0"};
  // clang-format on
  struct Style {
    const char *name;
    std::vector<const char *> ends;  // used in turn, line after line
    bool lastEnd;                    // the last line has its line end
    // clang-format off
  } styles[] = {
      {"CR LF", {"\r\n"}, true},
      {"LF", {"\n"}, true},
      {"CR", {"\r"}, true},
      {"mixed", {"\r\n", "\n", "\r", "\n"}, false},
  };
  // clang-format on
  struct Expect {
    const char *key;
    const char *value;
    // clang-format off
  } expected[] = {
      {"CopySpeed", "3"},   {"Move", "0"},         {"DestDir", "/mnt/hd/DataFiles/NAS Share "},
      {"LogLenth", "1"},    {"FileName", "Film.rec"}, {"SDIR", "/mnt/sdb1/Filme"},
      {"DDIR", "/mnt/hd/DataFiles/X"}, {"CoM", "1"}, {"MountedDirSource", "1"},
      {"MountedDirDest", "0"}, {"MoveDir", "<default>"},
  };
  // clang-format on
  for (const Style &style : styles) {
    SCOPED_TRACE(style.name);
    std::string text;
    for (size_t i = 0; i < lines.size(); i++) {
      text += lines[i];
      if (i + 1 < lines.size() || style.lastEnd) text += style.ends[i % style.ends.size()];
    }
    OpenText(text);
    for (const Expect &e : expected) {
      char value[PATH_BUFFER];
      ASSERT_TRUE(INIGetString(e.key, value, "<default>", sizeof(value)));
      EXPECT_STREQ(e.value, value) << e.key;
    }
    EXPECT_EQ(3, INIGetInt("CopySpeed", 4, 1, 4));
    EXPECT_EQ(0, INIGetInt("Move", 1, 0, 1));
    INICloseFile();
  }
}

TEST_F(IniStoreTest, ChangeLeavesForeignKeysThatEndInTheKey)
{
  OpenText("AutoMove=1\r\nMaxCopySpeed=2\r\n");
  INISetInt("Move", 0);
  INISetInt("CopySpeed", 4);
  EXPECT_EQ("AutoMove=1\r\nMaxCopySpeed=2\r\nMove=0\r\nCopySpeed=4\r\n", Held());
}

TEST_F(IniStoreTest, IntegerValues)
{
  OpenText(
      "Neg=-7\r\nBig=12\r\nWord=abc\r\nEmpty=\r\nPlus=+5\r\nLead= 5\r\nTrail=5 \r\nMinus=-\r\n"
      "Huge=99999999999\r\nHugeNeg=-99999999999\r\nMax=2147483647\r\nMin=-2147483648\r\n"
      "Long=123456789012345678\r\nZero=0\r\n");
  struct Case {
    const char *key;
    int def, min, max, expected;
    // clang-format off
  } cases[] = {
      {"Neg", 0, -10, 10, -7},
      {"Big", 0, 1, 4, 4},             // clamped to the maximum
      {"Neg", 0, 1, 4, 1},             // clamped to the minimum
      {"Word", 99, 0, 4, 99},          // the default is not clamped
      {"Empty", 42, 0, 4, 42},
      {"Missing", -3, 0, 4, -3},
      {"Plus", 1, 0, 10, 1},
      {"Lead", 1, 0, 10, 1},
      {"Trail", 1, 0, 10, 1},
      {"Minus", 1, -10, 10, 1},
      {"Zero", 1, 0, 10, 0},
      {"Big", 0, 10, 5, 5},            // minimum above maximum: the maximum
      {"Huge", 0, 0, 100, 100},        // a number beyond 32 bits reads as the limit
      {"HugeNeg", 0, -100, 100, -100},
      {"Max", 0, INT_MIN, INT_MAX, INT_MAX},
      {"Min", 0, INT_MIN, INT_MAX, INT_MIN},
      {"Long", 0, 0, 1000, 1000},      // digits beyond the 11 examined are read too
  };
  // clang-format on
  for (const Case &c : cases) EXPECT_EQ(c.expected, INIGetInt(c.key, c.def, c.min, c.max)) << c.key;
  EXPECT_EQ(0, INIGetInt(nullptr, 5, 0, 10));
  EXPECT_NE(std::string::npos, Console().find("INIGetInt: value 'abc' of Word is no number, 99 used")) << Console();
}

TEST_F(IniStoreTest, StringValues)
{
  OpenText("Name= with blanks \r\nFive=12345\r\nEmpty=\r\n");
  char value[6];
  ASSERT_TRUE(INIGetString("Five", value, "dflt", sizeof(value)));
  EXPECT_STREQ("12345", value) << "size - 1 characters are copied whole";
  ASSERT_TRUE(INIGetString("Name", value, "dflt", sizeof(value)));
  EXPECT_STREQ(" with", value) << "longer values are cut at size - 1";
  ASSERT_TRUE(INIGetString("Empty", value, "dflt", sizeof(value)));
  EXPECT_STREQ("dflt", value);
  ASSERT_TRUE(INIGetString("Missing", value, "default text", sizeof(value)));
  EXPECT_STREQ("defau", value) << "the default is cut too";

  char big[64];
  ASSERT_TRUE(INIGetString("Name", big, "", sizeof(big)));
  EXPECT_STREQ(" with blanks ", big) << "blanks belong to the value";

  std::strcpy(value, "keep");
  EXPECT_FALSE(INIGetString(nullptr, value, "d", sizeof(value)));
  EXPECT_FALSE(INIGetString("Five", nullptr, "d", sizeof(value)));
  EXPECT_FALSE(INIGetString("Five", value, nullptr, sizeof(value)));
  EXPECT_FALSE(INIGetString("Five", value, "d", 0));
  EXPECT_STREQ("keep", value);
  char one[1] = {'x'};
  ASSERT_TRUE(INIGetString("Five", one, "d", 1));
  EXPECT_EQ('\0', one[0]);
}

TEST_F(IniStoreTest, NothingHeld)
{
  char value[8] = "x";
  EXPECT_EQ(5, INIGetInt("A", 5, 0, 1));
  EXPECT_TRUE(INIGetString("A", value, "dflt", sizeof(value)));
  EXPECT_STREQ("dflt", value);
  INISetString("A", "1");
  INISetInt("A", 1);
  EXPECT_EQ(nullptr, INIBuffer);
  EXPECT_FALSE(INISaveFile("A.ini", IniPlaceHere, nullptr));
  INICloseFile();
  EXPECT_EQ(0u, BufferSize);
}

TEST_F(IniStoreTest, ChangeKeepsEveryOtherByte)
{
  const std::string before =
      "; Ferrox settings\r\n[Ferrox]\r\ncopyspeed=9\r\n# note\nMoveDir=/mnt/hd/DataFiles\r\nLast=1";
  OpenText(before);
  INISetInt("CopySpeed", 4);
  INISetString("MoveDir", "/mnt/hd/DataFiles/MoveToNAS");
  INISetString("New", "value");
  ASSERT_TRUE(INISaveFile("Test.ini", IniPlaceHere, nullptr));
  EXPECT_EQ(
      "; Ferrox settings\r\n[Ferrox]\r\nCopySpeed=4\r\n# note\nMoveDir=/mnt/hd/DataFiles/MoveToNAS"
      "\r\nLast=1\r\nNew=value\r\n",
      ReadFile("/mnt/hd/Test.ini"));
  EXPECT_EQ("/", CurrentDir());
}

TEST_F(IniStoreTest, ChangeWithBareCarriageReturnKeepsTheNextEntry)
{
  OpenText("A=1\rB=2\n");
  INISetString("A", "345");
  EXPECT_EQ("A=345\rB=2\n", Held());
  EXPECT_EQ(2, INIGetInt("B", 0, 0, 9));
}

TEST_F(IniStoreTest, SetOnANewTextAndEmptyValues)
{
  const size_t memory = Rx().MemoryInUse();
  ASSERT_EQ(IniPlaceNew, INIOpenFile("Fresh.ini", nullptr));
  ASSERT_EQ(IniPlaceNew, INIOpenFile("Fresh.ini", nullptr));
  EXPECT_EQ(memory + 512, Rx().MemoryInUse()) << "a text still held is released first";
  INISetString("Empty", "");
  INISetInt("Number", -12);
  EXPECT_EQ("Empty=\r\nNumber=-12\r\n", Held());
  INISetString("Empty", "now");
  EXPECT_EQ("Empty=now\r\nNumber=-12\r\n", Held());
}

TEST_F(IniStoreTest, GrowthIsOneStepPerChange)
{
  ASSERT_EQ(IniPlaceNew, INIOpenFile("Fresh.ini", nullptr));
  const std::string fits(900, 'a');
  INISetString("Fits", fits.c_str());
  EXPECT_EQ(1024u, BufferSize);
  EXPECT_EQ("Fits=" + fits + "\r\n", Held());

  const std::string held = Held();
  const std::string tooLong(2100, 'b');  // needs more than one 1024-byte step
  INISetString("Long", tooLong.c_str());
  INISetString("Fits", tooLong.c_str());
  EXPECT_EQ(held, Held()) << "a change that does not fit one step is dropped";
  EXPECT_EQ(1024u, BufferSize);

  INISetString("Fits", std::string(1500, 'c').c_str());  // replacing grows by one step
  EXPECT_EQ(2048u, BufferSize);
  EXPECT_EQ(0u, std::string(INIBuffer).find("Fits=ccc"));
}

TEST_F(IniStoreTest, UnusableKeysAndValuesAreRefused)
{
  OpenText("A=1\r\n");
  INISetString("A", "2\r\nCopySpeed=9");
  INISetString("B\nC", "1");
  INISetString("", "1");
  INISetString("D=E", "1");
  INISetString(nullptr, "1");
  INISetString("A", nullptr);
  EXPECT_EQ("A=1\r\n", Held());
}

TEST_F(IniStoreTest, LongKeysAreCut)
{
  const std::string key(100, 'K');
  ASSERT_EQ(IniPlaceNew, INIOpenFile("Fresh.ini", nullptr));
  INISetInt(key.c_str(), 3);
  EXPECT_EQ(std::string(78, 'K') + "=3\r\n", Held());
  EXPECT_EQ(3, INIGetInt((std::string(78, 'K') + "ignored").c_str(), 0, 0, 9));
}

TEST_F(IniStoreTest, SaveLocations)
{
  struct Case {
    IniPlace place;
    const char *app;
    const char *file;  // receiver path expected, "" for failure
    // clang-format off
  } cases[] = {
      {IniPlaceNone, nullptr, "/mnt/hd/ProgramFiles/S.ini"},
      {IniPlaceNew, nullptr, "/mnt/hd/ProgramFiles/S.ini"},
      {IniPlaceHere, nullptr, "/mnt/hd/DataFiles/S.ini"},
      {IniPlaceAppFolder, "MyApp", "/mnt/hd/ProgramFiles/Settings/MyApp/S.ini"},
      {IniPlaceSettings, nullptr, "/mnt/hd/ProgramFiles/Settings/S.ini"},
      {IniPlaceProgramFiles, nullptr, "/mnt/hd/ProgramFiles/S.ini"},
      {IniPlaceAppFolder, nullptr, ""},
      {IniPlaceAppFolder, "", ""},
      {(IniPlace)6, nullptr, ""},
  };
  // clang-format on
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  ASSERT_EQ(IniPlaceNew, INIOpenFile("S.ini", nullptr));
  INISetString("Key", "value");
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.place);
    fs::remove_all(Host("/mnt/hd/ProgramFiles/Settings"));
    fs::remove(Host("/mnt/hd/ProgramFiles/S.ini"));
    fs::remove(Host("/mnt/hd/DataFiles/S.ini"));
    bool saved = INISaveFile("S.ini", c.place, c.app);
    EXPECT_EQ(c.file[0] != '\0', saved);
    if (saved) {
      EXPECT_EQ("Key=value\r\n", ReadFile(c.file));
    }
    EXPECT_EQ("/DataFiles", CurrentDir());
  }
}

TEST_F(IniStoreTest, SaveReplacesTheOldFileAndKeepsTheText)
{
  WriteFile("/mnt/hd/ProgramFiles/Settings/App/A.ini", "Key=old and much longer\r\n");
  ASSERT_EQ(IniPlaceAppFolder, INIOpenFile("A.ini", "App"));
  INISetString("Key", "new");
  ASSERT_TRUE(INISaveFile("A.ini", IniPlaceAppFolder, "App"));
  EXPECT_EQ("Key=new\r\n", ReadFile("/mnt/hd/ProgramFiles/Settings/App/A.ini"));
  EXPECT_EQ("Key=new\r\n", Held()) << "the text stays held";
}

}  // namespace
