// LogTraceTest.cpp -- log files, the toolkit log, the terminal and the call
// trace, against the simulator's disk, clock and pseudo-terminals.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "FirmwareBinding.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "SimFixture.h"
#include "tap_header.h"

namespace {

using namespace std::string_literals;

constexpr const char *kStamp = "2015-12-20 21:05:09";  // the simulator's start time
constexpr const char *kLog = "/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.log";

// What PrintNet puts on the terminal for one text: the text and its zero.
std::string Net(const std::string &text) { return text + '\0'; }

size_t Count(const std::string &haystack, const std::string &needle)
{
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) n++;
  return n;
}

class LogTraceTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    FIS_ResetCache();
    TAP_TableIndex = -1;
    CallTraceStats = nullptr;  // a block of an earlier receiver's heap, if any
    CallTraceInit();
  }
  void TearDown() override
  {
    if (CallTraceStats) TAP_MemFree(CallTraceStats);
    CallTraceStats = nullptr;
    SimTest::TearDown();
  }
  std::string Tag(const char *what)
  {
    char line[64];
    snprintf(line, sizeof(line), "CallLevel %s! (TAPID 0x%8.8x)", what, __tap_ud__);
    return line;
  }
};

// ---- terminal ----

TEST_F(LogTraceTest, PrintNetWritesTheTextWithItsZero)
{
  PrintNet("hello");
  PrintNet(nullptr);
  EXPECT_EQ(Console(), Net("hello"));

  // a harness that runs many inputs empties the captured output between them
  Rx().ClearTerminalOutput();
  PrintNet("again");
  EXPECT_EQ(Console(), Net("again"));
}

class NoTerminalTest : public LogTraceTest {
 protected:
  void Configure(sim::Config &config) override { config.openTerminals = {}; }
};

TEST_F(NoTerminalTest, NothingIsWrittenAndNothingFails)
{
  PrintNet("lost");
  LogEntry(nullptr, "Ferrox", true, 5, "also lost");
  CallTraceEnter("Traced");
  CallTraceExit(nullptr);
  EXPECT_EQ(Console(), "");
  EXPECT_EQ(CallLevel, 0u);
}

class LaterTerminalTest : public LogTraceTest {
 protected:
  void Configure(sim::Config &config) override { config.openTerminals = {3, 7}; }
};

TEST_F(LaterTerminalTest, TheFirstTerminalThatOpensGetsTheText)
{
  PrintNet("to three");
  EXPECT_EQ(Rx().TerminalOutput(3), Net("to three"));
  EXPECT_EQ(Rx().TerminalOutput(7), "");
}

// ---- toolkit log ----

TEST_F(LogTraceTest, ToolkitLogIsWrittenOnlyWhenItExists)
{
  fs::remove_all(Host("/mnt/hd/ProgramFiles/Settings"));
  LogEntryTKLibPrintf(true, "warning %d", 1);
  EXPECT_EQ(Console(), Net(kStamp + "  TKLIB - warning 1\n"s));
  EXPECT_TRUE(fs::is_directory(Host("/mnt/hd/ProgramFiles/Settings")));
  EXPECT_FALSE(Exists(TKLIB_LOG));

  WriteFile(TKLIB_LOG, "old\r\n");
  LogEntryTKLibPrintf(true, "warning %d", 2);
  LogEntryTKLibPrintf(false, "quiet %s", "one");
  LogEntryTKLibPrintf(true, nullptr);
  EXPECT_EQ(ReadFile(TKLIB_LOG), "old\r\n"s + kStamp + " warning 2\r\n" + kStamp + " quiet one\r\n");
  EXPECT_EQ(Count(Console(), "TKLIB"), 2u);

  // the file carries the receiver's time
  struct stat st;
  ASSERT_EQ(stat(Host(TKLIB_LOG).c_str(), &st), 0);
  EXPECT_EQ(dword(st.st_mtime), PvrTimeToLinux(Now(nullptr)));
}

TEST_F(LogTraceTest, ToolkitLogCutsLongTextsAt511Characters)
{
  WriteFile(TKLIB_LOG, "");
  std::string longText(1500, 'w');
  LogEntryTKLibPrintf(true, "%s", longText.c_str());
  EXPECT_EQ(ReadFile(TKLIB_LOG), kStamp + " "s + std::string(511, 'w') + "\r\n");
  EXPECT_EQ(Console(), Net(kStamp + "  TKLIB - "s + std::string(511, 'w') + "\n"));
}

// ---- service log ----

TEST_F(LogTraceTest, LogEntryAppendsStampedLinesAndEchoesThem)
{
  MakeDir("/mnt/hd/ProgramFiles/Settings/Ferrox");
  LogEntry(kLog, "Ferrox", true, 5, "first");
  LogEntry("/ProgramFiles/Settings/Ferrox/Ferrox.log", nullptr, false, 5, "second");
  LogEntry(kLog, "", false, 5, "");
  LogEntry(kLog, "Ferrox", true, 5, nullptr);
  EXPECT_EQ(ReadFile(kLog), kStamp + " first\r\n"s + kStamp + " second\r\n" + kStamp + " \r\n");
  EXPECT_EQ(Console(), Net(kStamp + " "s) + Net("Ferrox: ") + Net("first") + Net("\n"));
}

TEST_F(LogTraceTest, LogEntryFormatZeroHasNoStamp)
{
  MakeDir("/mnt/hd/ProgramFiles/Settings/Ferrox");
  LogEntry(kLog, "Ferrox", true, 0, "plain");
  EXPECT_EQ(ReadFile(kLog), "plain\r\n");
  EXPECT_EQ(Console(), Net("Ferrox: ") + Net("plain") + Net("\n"));
}

TEST_F(LogTraceTest, LogEntryNameWithoutFolderLiesInTheCurrentFolder)
{
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles"));
  LogEntry("here.log", nullptr, false, 1, "x");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/here.log"), "21:05 x\r\n");
}

TEST_F(LogTraceTest, UnwritableOrOverlongLogFilesAreSkipped)
{
  std::string overlong = "/DataFiles/" + std::string(600, 'l') + ".log";
  LogEntry("/NoSuchFolder/x.log", nullptr, true, 0, "one");
  LogEntry(overlong.c_str(), nullptr, true, 0, "two");
  EXPECT_EQ(Console(), Net("one") + Net("\n") + Net("two") + Net("\n"));
}

TEST_F(LogTraceTest, LongConsoleTextsGoOutIn510BytePieces)
{
  // Latin-1 text: 8-bit letters between ASCII ones, no UTF-8 sequence in it
  std::string text;
  for (int i = 0; i < 1200; i++) text += (i % 3 == 0) ? '\xE4' : char('a' + i % 26);
  LogEntry(nullptr, nullptr, true, 0, text.c_str());
  EXPECT_EQ(Console(), Net(text.substr(0, 510)) + Net(text.substr(510, 510)) + Net(text.substr(1020)) + Net("\n"));
}

TEST_F(LogTraceTest, ConsoleTextIsLatin1AndBounded)
{
  LogEntry(nullptr, nullptr, true, 0, "K\xC3\xA4se");
  EXPECT_EQ(Console(), Net("K\xE4se") + Net("\n"));

  // a program name longer than the console buffer is cut, not overrun
  std::string name(3000, 'n');
  LogEntry(nullptr, name.c_str(), true, 0, "t");
  EXPECT_NE(Console().find(Net(std::string(CONSOLE_BUFFER - 1, 'n'))), std::string::npos);
}

// ---- call trace ----

TEST_F(LogTraceTest, ListingIndentsByLevel)
{
  CallTraceEnter("Outer");
  CallTraceEnter("Inner");
  CallTraceExit(nullptr);
  CallTraceExit(nullptr);
  EXPECT_EQ(Console(), Net("Outer\n") + Net("  Inner\n"));
  EXPECT_EQ(CallLevel, 0u);
}

TEST_F(LogTraceTest, ListingIndentStopsAt100AndLongNamesAreCut)
{
  for (int i = 0; i < 55; i++) CallTraceEnter("n");
  std::string name(2000, 'x');
  CallTraceEnter(name.c_str());
  for (int i = 0; i < 56; i++) CallTraceExit(nullptr);
  EXPECT_NE(Console().find(Net(std::string(100, ' ') + "n\n")), std::string::npos);
  std::string cut = std::string(100, ' ') + std::string(CONSOLE_BUFFER - 101, 'x');
  EXPECT_NE(Console().find(Net(cut)), std::string::npos);
  EXPECT_EQ(CallLevel, 0u);
}

TEST_F(LogTraceTest, DisabledListingStillKeepsStatistics)
{
  static const char work[] = "Work";
  CallTraceEnable(false);
  const dword durations[] = {1, 4, 2};
  for (dword d : durations) {
    CallTraceEnter(work);
    for (dword t = 0; t < d; t++) Rx().Step();
    CallTraceExit(nullptr);
  }
  EXPECT_EQ(Console(), "");
  ASSERT_EQ(CallTraceStatsEntries, 1u);
  const CallTraceStat &s = CallTraceStats[0];
  EXPECT_EQ(s.ProcName, work);
  EXPECT_EQ(s.NrOfCalls, 3u);
  EXPECT_EQ(s.TotalTime, 7u);
  EXPECT_EQ(s.MinTime, 1u);
  EXPECT_EQ(s.MaxTime, 4u);
}

TEST_F(LogTraceTest, StatisticsKeyIsTheNamePointer)
{
  static const char a[] = "Same", b[] = "Same";
  CallTraceEnable(false);
  const char *names[] = {a, b, a};
  for (const char *n : names) {
    CallTraceEnter(n);
    CallTraceExit(nullptr);
  }
  ASSERT_EQ(CallTraceStatsEntries, 2u);
  EXPECT_EQ(CallTraceStats[0].NrOfCalls, 2u);
  EXPECT_EQ(CallTraceStats[1].NrOfCalls, 1u);

  // a saturated call count stays while the time still adds up
  CallTraceStats[0].NrOfCalls = 0xFFFFFFFF;
  CallTraceEnter(a);
  Rx().Step();
  CallTraceExit(nullptr);
  EXPECT_EQ(CallTraceStats[0].NrOfCalls, 0xFFFFFFFFu);
  EXPECT_EQ(CallTraceStats[0].TotalTime, 1u);
}

TEST_F(LogTraceTest, DeepNestingOverflowsOnceAndUnwindsCleanly)
{
  CallTraceEnable(false);
  std::vector<std::string> names(51);
  for (int i = 0; i < 51; i++) {
    names[i] = std::string("F") + std::to_string(i);
    CallTraceEnter(names[i].c_str());
  }
  EXPECT_EQ(CallLevel, 51u);
  for (int i = 0; i < 51; i++) CallTraceExit(nullptr);
  EXPECT_EQ(CallLevel, 0u);

  std::string out = Console();
  EXPECT_EQ(Count(out, Tag("Overflow")), 1u);
  EXPECT_EQ(Count(out, "Underflow"), 0u);
  EXPECT_EQ(CallTraceStatsEntries, 50u);  // the 51st level is not recorded
}

TEST_F(LogTraceTest, ExitWithoutEnterUnderflowsOnce)
{
  CallTraceEnable(false);
  CallTraceExit(nullptr);
  EXPECT_EQ(CallLevel, 0u);
  EXPECT_EQ(Count(Console(), Tag("Underflow")), 1u);
}

TEST_F(LogTraceTest, FullStatisticsTableRecordsNoMore)
{
  CallTraceEnable(false);
  std::vector<char> names((CALLTRACE_STATS_MAX + 1) * 2, '\0');
  for (int i = 0; i <= CALLTRACE_STATS_MAX; i++) {
    CallTraceEnter(&names[i * 2]);
    CallTraceExit(nullptr);
  }
  EXPECT_EQ(CallTraceStatsEntries, dword(CALLTRACE_STATS_MAX));
  EXPECT_EQ(CallTraceStats[CALLTRACE_STATS_MAX - 1].ProcName, &names[(CALLTRACE_STATS_MAX - 1) * 2]);
}

TEST_F(LogTraceTest, WithoutMemoryNoStatisticsAreKept)
{
  Rx().SetMemoryLimit(0, 1000);
  CallTraceResetStats();
  EXPECT_EQ(CallTraceStats, nullptr);
  CallTraceEnable(false);
  CallTraceEnter("NoStats");
  CallTraceExit(nullptr);
  EXPECT_EQ(CallLevel, 0u);
  EXPECT_EQ(CallTraceStatsEntries, 0u);
}

TEST_F(LogTraceTest, FirstEnterInitialisesWithListingOn)
{
  if (CallTraceStats) TAP_MemFree(CallTraceStats);
  CallTraceStats = nullptr;
  CallTraceInitialized = false;
  CallTraceEnabled = false;
  CallLevel = 7;
  CallTraceEnter("Start");
  EXPECT_TRUE(CallTraceInitialized);
  EXPECT_EQ(CallLevel, 1u);
  EXPECT_EQ(Console(), Net("Start\n"));
  CallTraceExit(nullptr);
  EXPECT_EQ(CallTraceStatsEntries, 1u);
}

}  // namespace
