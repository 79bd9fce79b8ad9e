// ShellRunTest.cpp -- the copy service's shell through the receiver program:
// keys, the stop event during a transfer, status requests as another plug-in
// sends them, and stopping each kind of mount plug-in at the end of a run.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ScenarioFixture.h"

namespace {

std::vector<std::string> Lines(const std::string &text, const std::string &containing)
{
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.find(containing) != std::string::npos) lines.push_back(line);
  return lines;
}

// The MB/min figure of a status line of the receiver.
int MbPerMinute(const std::string &line)
{
  size_t at = line.find(" MB/min");
  size_t from = line.rfind(' ', at - 1);
  return at == std::string::npos ? -1 : std::atoi(line.c_str() + from + 1);
}

}  // namespace

using ShellRun = ScenarioTest;

TEST_F(ShellRun, KeysPassStatusIsAnsweredAndTheStopEventEndsATransfer)
{
  WriteShareSettings({"CopySpeed=1", "LogLenth=1"});
  WriteRecording(std::string(kMoveToNAS) + "/Big.rec", 24 << 20, 3, LocalTime(2015, 12, 1));
  const std::string source = ReadFile(std::string(kMoveToNAS) + "/Big.rec");

  RunResult r = Run({"--status-every", "0.1", "--trace-keys", "--key", "Ok@12", "--stop-event-at", "13"}, 0);
  ASSERT_EQ(0, r.exitCode) << "the plug-in unloads after the stop event\n" << r.out << r.err;

  // a key is not the service's: handed back as it came
  EXPECT_EQ(1u, Lines(r.out, "key 0x1001E: slot 0 returned 0x1001E").size()) << r.out;

  std::vector<std::string> status = Lines(r.out, "] status: ");
  ASSERT_GT(status.size(), 100u);
  EXPECT_NE(std::string::npos, status[0].find("status: file \"\", 0 bytes, 0%, 0 MB/min, entry 1 of 0, "
                                              "waiting for the folders and the mount"))
      << status[0];
  std::vector<std::string> working = Lines(r.out, "file \"Big.rec\", 25165824 bytes, ");
  ASSERT_GT(working.size(), 10u) << r.out;
  EXPECT_NE(std::string::npos, working.front().find(" 0 MB/min, entry 1 of 1, working"))
      << "the first second of a transfer has no rate yet: " << working.front();
  EXPECT_GT(MbPerMinute(working.back()), 100) << working.back();

  EXPECT_TRUE(LogInOrder({"FRX: init successful '" + std::string(kNASShare) + "/Big.rec'", "Stop event",
                          "StopMount is set to FALSE", "Ferrox end", std::string(62, '-')}))
      << Log();
  EXPECT_EQ(std::string(62, '-'), LogLines().back());
  EXPECT_FALSE(LogHas("FRX: transfer finished."));

  // the streams were closed: every block written reached the file
  std::ifstream in(share / "Big.rec", std::ios::binary);
  std::string partial((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(partial.size(), 0u);
  EXPECT_LT(partial.size(), source.size());
  EXPECT_EQ(0u, partial.size() % (512 * 1024)) << "whole 512 KiB blocks";
  EXPECT_TRUE(source.compare(0, partial.size(), partial) == 0);
}

// What one run's end does to the mount plug-in, by the plug-in's behaviour.
struct StopCase {
  const char *name;
  int mountType;                   // picks the plug-in: 0 the share's, else the drive's
  const char *standIn;             // plug-in file, or null: none runs
  int mode;                        // stand-in behaviour (1 ends on stop, 2 on kill, 3 never)
  std::vector<std::string> lines;  // log lines in this order
};
static void PrintTo(const StopCase &c, std::ostream *os) { *os << c.name; }

class MountStopRun : public ScenarioTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(MountStopRun, EndOfRunStopsTheMountPlugin)
{
  const StopCase &c = GetParam();
  WriteShareSettings({"StopMountTAP=1", "MountType=" + std::to_string(c.mountType)});
  std::vector<std::string> extra = {"--until", "time", "--seconds", "30"};
  if (c.standIn) {
    WriteStandInBehaviour(c.mountType == 0 ? 0x80000106 : 0x8E0A423C, {"Mode=" + std::to_string(c.mode)});
    extra.push_back("--load");
    extra.push_back(InstallTap(c.standIn));
  }
  RunResult r = Run(extra, 0);
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;

  std::vector<std::string> expected = c.lines;
  expected.push_back("Ferrox end");
  expected.push_back(std::string(59, '-'));
  EXPECT_TRUE(LogHas(expected[0])) << Log();
  for (size_t i = 1; i < expected.size(); ++i)
    EXPECT_TRUE(LogInOrder({expected[i - 1], expected[i]})) << expected[i] << "\n" << Log();
  EXPECT_EQ(std::string(59, '-'), LogLines().back());
  if (c.mode == 2 || c.mode == 3) {
    EXPECT_EQ(3, SecondsBetween(c.lines[0], "TAP is still running, trying to set kill bit"))
        << "the stop event gets 3 s";
  }
  if (c.mode == 3) {
    EXPECT_EQ(3, SecondsBetween("TAP is still running, trying to set kill bit", "TAP is still running :-("));
  }
  EXPECT_EQ(c.mode == 3, r.out.find("receiver: run ended after") != std::string::npos &&
                             r.out.find("1 plug-in(s) loaded") != std::string::npos)
      << "only the plug-in that never ends is left\n"
      << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Shell, MountStopRun,
    ::testing::Values(
        StopCase{"not_running", 0, nullptr, 0, {"No more files to copy", "TAP 0x80000106 is not running"}},
        StopCase{"ends_on_stop", 0, "MountNAS.tap", 1, {"Trying to stop 0x80000106", "Successful via EVT_STOP"}},
        StopCase{
            "ends_on_kill_bit",
            1,
            "MountDrive.tap",
            2,
            {"Trying to stop 0x8e0a423c", "TAP is still running, trying to set kill bit", "Successful via kill bit"}},
        StopCase{
            "never_ends",
            2,
            "MountDrive.tap",
            3,
            {"Trying to stop 0x8e0a423c", "TAP is still running, trying to set kill bit", "TAP is still running :-("}}),
    [](const auto &info) { return std::string(info.param.name); });

// Requests the service must refuse, sent by the requester stand-in.
struct RefusedCase {
  const char *name;
  const char *settings;  // Requester.ini lines after the address
};
static void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

class RefusedRequestRun : public ScenarioTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedRequestRun, IsRejectedAndNothingIsWritten)
{
  WriteShareSettings();
  WriteFile("/mnt/hd/ProgramFiles/Settings/StandIns/Requester.ini",
            std::string("ServerID=8E0A42EF\r\nSendAtTick=100\r\n") + GetParam().settings);
  RunResult r = Run({"--until", "time", "--seconds", "3", "--tap", TapFile("Requester.tap").string()}, -1);
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find(", status 3, return 0")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("entry 1 of")) << "nothing written into the block\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(Shell, RefusedRequestRun,
                         ::testing::Values(RefusedCase{"block_version_1", "ParamVersion=1\r\n"},
                                           RefusedCase{"other_service", "ServiceID=1\r\n"},
                                           RefusedCase{"no_block", "NullBlock=1\r\n"}),
                         [](const auto &info) { return std::string(info.param.name); });
