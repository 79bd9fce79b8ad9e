// SummaryRunTest.cpp -- the line that ends every run of the copy service,
// in its log and on the console, and what the receiver program says at its
// end about the plug-ins that ran.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ScenarioFixture.h"

namespace {

struct SummaryCase {
  const char *name;
  std::function<void(ScenarioTest &)> prepare;
  std::vector<std::string> args;
  double shareAt;       // -1: the share is not mounted by the fixture
  std::string summary;  // the line up to " in N s"
};

void PrintTo(const SummaryCase &c, std::ostream *os) { *os << c.name; }

class RunSummary : public ScenarioTest, public ::testing::WithParamInterface<SummaryCase> {};

TEST_P(RunSummary, CountsEveryRecordingOnceAndEndsLogAndConsole)
{
  const SummaryCase &c = GetParam();
  c.prepare(*this);
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"--console", "-"});
  RunResult r = Run(args, c.shareAt);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  std::vector<std::string> lines = LogLines();
  auto at = std::find_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("Summary: ", 0) == 0; });
  ASSERT_NE(at, lines.end()) << Log();
  EXPECT_EQ(at->substr(0, c.summary.size()), c.summary) << *at;
  EXPECT_NE(at->find(" MB in "), std::string::npos) << *at;
  EXPECT_EQ(at->back(), 's') << *at;
  EXPECT_EQ(
      std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("Summary: ", 0) == 0; }), 1)
      << "one summary per run";
  EXPECT_TRUE(LogInOrder({*at, "Ferrox end"}));

  // the receiver program names the plug-in, how it ended and the summary
  EXPECT_NE(r.out.find("receiver: /mnt/hd/ProgramFiles/Ferrox.tap: loaded at tick 0, ended itself (TAP_Exit) at tick"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nreceiver: Ferrox: " + *at + "\n"), std::string::npos) << r.out;
}

void FourRecordings(ScenarioTest &t)
{
  t.WriteShareSettings({});
  const std::string dir = kMoveToNAS;
  t.WriteRecording(dir + "/A.rec", 2 << 20, 1, LocalTime(2015, 12, 1));
  t.WriteRecording(dir + "/B.rec", 1 << 20, 2, LocalTime(2015, 12, 2));
  t.WriteRecording(dir + "/C.rec", 1 << 20, 3, LocalTime(2015, 12, 3), /*inf=*/false);
  // D is on the share already, companions and all
  t.WriteRecording(dir + "/D.rec", 5000, 4, LocalTime(2015, 12, 4));
  for (const char *part : {"D.rec", "D.rec.inf", "D.rec.nav"}) fs::copy_file(t.Host(dir + "/" + part), t.share / part);
}

void TwoToMove(ScenarioTest &t)
{
  t.WriteShareSettings({"Move=1"});
  t.WriteRecording(std::string(kMoveToNAS) + "/A.rec", 3000, 1, LocalTime(2015, 12, 1));
  t.WriteRecording(std::string(kMoveToNAS) + "/B.rec", 3000, 2, LocalTime(2015, 12, 2));
}

void ShareGoesAway(ScenarioTest &t)
{
  t.WriteShareSettings({"CopySpeed=1", "Move=1"});
  t.WriteRecording(std::string(kMoveToNAS) + "/A.rec", 3000, 1, LocalTime(2015, 12, 1));
  t.WriteRecording(std::string(kMoveToNAS) + "/B.rec", 24 << 20, 2, LocalTime(2015, 12, 2));
  t.WriteRecording(std::string(kMoveToNAS) + "/C.rec", 3000, 3, LocalTime(2015, 12, 3));
}

void BigFirst(ScenarioTest &t)
{
  t.WriteShareSettings({"CopySpeed=1"});
  t.WriteRecording(std::string(kMoveToNAS) + "/Big.rec", 24 << 20, 7, LocalTime(2015, 12, 1));
  t.WriteRecording(std::string(kMoveToNAS) + "/Next.rec", 3000, 8, LocalTime(2015, 12, 2));
}

std::vector<std::string> ShareFrom0To13(ScenarioTest *t)
{
  return {"--mount", std::string(kNASShare) + "=" + t->share.string() + "@0-13"};
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunSummary,
    ::testing::Values(
        // 2 + 1 + 1 MiB and the companions moved: 4.0 MB
        SummaryCase{"copied_complete_and_failed",
                    FourRecordings,
                    {},
                    0,
                    "Summary: 2 copied, 0 moved, 1 already complete, 1 failed (source missing), 0 skipped, "
                    "4.0 MB"},
        SummaryCase{
            "moved", TwoToMove, {}, 0, "Summary: 0 copied, 2 moved, 0 already complete, 0 failed, 0 skipped, 0.0 MB"},
        SummaryCase{"share_never_mounted",
                    [](ScenarioTest &t) { t.WriteShareSettings({}); },
                    {},
                    -1,
                    "Summary: 0 copied, 0 moved, 0 already complete, 0 failed, 0 skipped (share not mounted), "
                    "0.0 MB"},
        SummaryCase{"stopped_in_the_first_copy",
                    BigFirst,
                    {"--stop-event-at", "13"},
                    0,
                    "Summary: 0 copied, 0 moved, 0 already complete, 0 failed, 2 skipped (stopped), "}),
    [](const ::testing::TestParamInfo<SummaryCase> &info) { return std::string(info.param.name); });

// The share goes 13 s into the run, while B is copied: B and C fail for it.
TEST_F(ScenarioTest, SummaryNamesTheShareThatWentAway)
{
  ShareGoesAway(*this);
  RunResult r = Run(ShareFrom0To13(this), -1);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::string log = Log();
  EXPECT_NE(log.find("Summary: 0 copied, 1 moved, 0 already complete, 2 failed (share not mounted), 0 skipped, "),
            std::string::npos)
      << log;
}

}  // namespace
