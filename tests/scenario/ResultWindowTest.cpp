// ResultWindowTest.cpp -- the outcome of a run on the TV: a window that
// stays 8 s after a run that copied, moved or failed anything, with the
// plug-in still loaded; none for a run with nothing to do, with ShowResult=0
// or while the setup's menu is on the screen.
#include <regex>
#include <string>
#include <vector>

#include "MessageWin.h"
#include "PngFile.h"
#include "ScenarioFixture.h"

namespace {

constexpr uint32_t kWindowBack = MW_BACK_COLOUR;

struct ResultCase {
  const char *what;
  std::vector<std::string> settings;  // beyond the share settings
  int recordings;                     // in the source folder
  double shareAt;                     // < 0: never mounted
  bool withSetup;                     // the setup's menu on the screen all along
  bool shown;
};

void PrintTo(const ResultCase &c, std::ostream *os) { *os << c.what; }

class ResultWindow : public ScenarioTest, public ::testing::WithParamInterface<ResultCase> {};

// Ticks of the screenshots that show the window, and of those that do not.
void Screens(const fs::path &dir, std::vector<long> *with, std::vector<long> *without)
{
  for (const std::string &name : HostTree(dir)) {
    const long tick = std::stol(name.substr(7, 10));
    const PngImage png = ReadPng(dir / name);
    size_t back = 0;
    for (uint32_t p : png.pixels) back += (p | 0xFF000000u) == kWindowBack;
    (back > 5000 ? with : without)->push_back(tick);
  }
}

TEST_P(ResultWindow, StaysEightSecondsAfterARunThatDidSomething)
{
  const ResultCase &c = GetParam();
  std::vector<std::string> settings = {"NASBootTime=2"};
  settings.insert(settings.end(), c.settings.begin(), c.settings.end());
  WriteSettings({"CopySpeed=4", "MountType=0", "MoveDir=/mnt/hd/DataFiles/MoveToNAS",
                 "DestDir=/mnt/hd/DataFiles/NAS-Share", "MountedDirDest=1", "DelDEC=1", "SpecChar=0", "LogLenth=0",
                 "StopMountTAP=0", "SetTSLink=0", "CopyAllFiles=0", "MountedDirSource=0", settings[0],
                 settings.size() > 1 ? settings[1] : "Move=0"});
  fs::create_directories(Host(kMoveToNAS));
  for (int i = 0; i < c.recordings; ++i)
    WriteRecording(std::string(kMoveToNAS) + "/Film " + std::to_string(i) + ".rec", 1 << 20, 5 + i,
                   LocalTime(2015, 12, 1 + i));
  TempDir shots;
  std::vector<std::string> extra = {"--screenshots", shots.path.string(), "--seconds", "60"};
  if (c.withSetup) {
    InstallTap("FerroxSetup.tap");
    extra.insert(extra.end(), {"--load", "/mnt/hd/ProgramFiles/FerroxSetup.tap", "--key", "Exit@40"});
  }
  RunResult r = Run(extra, c.shareAt);
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      r.out, m, std::regex("Ferrox.tap: loaded at tick 0, ended itself \\(TAP_Exit\\) at tick ([0-9]+)")))
      << r.out;
  const long ended = std::stol(m[1]);
  std::vector<long> with, without;
  Screens(shots.path, &with, &without);
  if (c.shown) {
    ASSERT_FALSE(with.empty()) << "the window shows";
    long gone = -1;
    for (long t : without)
      if (t > with.front() && gone < 0) gone = t;
    EXPECT_EQ(800, gone - with.front()) << "it stays 8 s";
    EXPECT_EQ(gone, ended) << "the plug-in ends with it";
  } else {
    EXPECT_TRUE(with.empty()) << "no window at tick " << with.front();
  }
  if (c.withSetup) {
    EXPECT_TRUE(LogHas("Result not shown: the setup menu is on the screen")) << Log();
  }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ResultWindow,
                         ::testing::Values(ResultCase{"copied", {}, 2, 0, false, true},
                                           ResultCase{"moved", {"Move=1"}, 1, 0, false, true},
                                           ResultCase{"share never mounted", {}, 1, -1, false, true},
                                           ResultCase{"nothing to do", {}, 0, 0, false, false},
                                           ResultCase{"turned off", {"ShowResult=0"}, 2, 0, false, false},
                                           ResultCase{"setup on the screen", {}, 1, 0, true, false}),
                         [](const ::testing::TestParamInfo<ResultCase> &i) {
                           std::string n = i.param.what;
                           for (char &ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

}  // namespace
