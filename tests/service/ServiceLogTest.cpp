// ServiceLogTest.cpp -- the service log: folders, line form, encoding,
// length limits and the console copy.
#include <regex>

#include "PathTypes.h"

#include "BlockCopyTestFixture.h"

using ServiceLogTest = ServiceTest;

TEST_F(ServiceLogTest, FirstLineCreatesTheFoldersAndKeepsWhatIsThere)
{
  ASSERT_FALSE(Exists("/mnt/hd/ProgramFiles/Settings"));
  WriteLog("first");
  EXPECT_TRUE(fs::is_directory(Host("/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles")));

  // a later load finds the folders filled: nothing in them is touched
  WriteFile("/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles/a.frx", "job");
  WriteLogFirstCall = true;
  WriteLog("second");
  EXPECT_EQ("job", ReadFile("/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles/a.frx"));
  EXPECT_TRUE(LogHas("first"));
  EXPECT_TRUE(LogHas("second"));
}

TEST_F(ServiceLogTest, LinesAreStampedAppendedAndEndInCrLf)
{
  WriteLog("one");
  WriteLog("two");
  const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} one\r\n)"
                        R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} two\r\n)");
  EXPECT_TRUE(std::regex_match(Log(), line)) << Log();
}

TEST_F(ServiceLogTest, LogKeepsTheFolderOfTheCaller)
{
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  WriteLog("line");
  EXPECT_EQ("/mnt/hd/DataFiles", Rx().CurrentFolder(hostSlot));

  // a folder too long for the folder stack, below a caller's saved folder:
  // the log line neither leaves the caller elsewhere nor takes its entry
  std::string deep = "/DataFiles/" + std::string(120, 'a') + "/" + std::string(120, 'b');
  MakeDir("/mnt/hd" + deep);
  ASSERT_TRUE(HDD_TAP_PushDir());
  ASSERT_TRUE(HDD_ChangeDir(deep.c_str()));
  WriteLog("deep line");
  EXPECT_EQ("/mnt/hd" + deep, Rx().CurrentFolder(hostSlot));
  EXPECT_EQ(TAPDirStackDepth, 0);
  EXPECT_TRUE(HDD_TAP_PopDir());
  EXPECT_EQ("/mnt/hd/DataFiles", Rx().CurrentFolder(hostSlot));
  EXPECT_TRUE(LogHas("deep line"));
}

TEST_F(ServiceLogTest, TextIsWrittenInIso88591)
{
  struct Case {
    const char *text;      // as given
    const char *expected;  // as stored
    // clang-format off
  } cases[] = {
      {"M\xC3\xBCller.rec", "M\xFCller.rec"},     // UTF-8 umlaut -> one byte
      {"K\xF6ln.rec", "K\xF6ln.rec"},             // already 8-bit: unchanged
      {"plain text", "plain text"},
      {"\xE2\x82\xAC 5", " 5"},                   // no Latin-1 form: dropped
  };
  // clang-format on
  for (const Case &c : cases) {
    WriteLog(c.text);
    EXPECT_TRUE(LogHas(c.expected)) << c.text;
  }
}

TEST_F(ServiceLogTest, LongTextIsCutAt1023BytesAndLeftUnchanged)
{
  std::string text(2000, 'a');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  std::string copy = text;
  WriteLog(text.c_str());
  EXPECT_EQ(copy, text);
  EXPECT_TRUE(LogHas(text.substr(0, 1023)));

  char *converted = UTFtoANSI(text.data());
  EXPECT_EQ(text.substr(0, 1023), converted);
  EXPECT_EQ(copy, text);
  EXPECT_EQ(nullptr, UTFtoANSI(nullptr));
}

TEST_F(ServiceLogTest, FormattedLinesAreBoundedByLogString)
{
  std::string name(2000, 'x');
  WriteLogF("name %s end", name.c_str());
  EXPECT_EQ(511u, strlen(LogString));
  EXPECT_TRUE(LogHas("name " + name.substr(0, 506)));
  WriteLogF("%d files", 3);
  EXPECT_TRUE(LogHas("3 files"));
}

TEST_F(ServiceLogTest, NullTextWritesNothing)
{
  WriteLog(nullptr);
  WriteLogF(nullptr);
  EXPECT_FALSE(Exists(kLogPath));
}

TEST_F(ServiceLogTest, EachLineGoesToTheConsoleToo)
{
  WriteLog("to the console");
  // every piece goes out with its terminating zero, as on the receiver
  const std::string piece("Ferrox: \0to the console\0\n\0", 26);
  EXPECT_NE(std::string::npos, Console().find(piece)) << Console();
}
