// PowerCutTest.cpp -- the receiver switched off at random moments: copy and
// move runs, jobs, resumed runs, runs that gather with CopyAllFiles and
// setup saves, at every speed and mount type, cut just before a random one
// of the run's changes to files and folders, with a random seed for what of
// the unsynced changes survives. After each cut the next run goes to its end;
// then every recording is whole somewhere with its ".inf", nothing outside
// the destination changed, and "Ferrox.ini" holds the old settings or the
// new ones. A control plug-in that moves without syncing loses recordings
// under the same cuts.
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "ScenarioFixture.h"

namespace {

constexpr unsigned kSeed = 20151220;
const std::string kIni = std::string(kFerroxFolder) + "/Ferrox.ini";

enum class Kind { Copy, Move, Job, Gather, Setup, Naive, NaiveFromDrive };
const char *KindName(Kind k)
{
  switch (k) {
    case Kind::Copy: return "copy run";
    case Kind::Move: return "move run";
    case Kind::Job: return "job move";
    case Kind::Gather: return "gathering move";
    case Kind::Setup: return "setup save";
    case Kind::Naive: return "naive move (control)";
    case Kind::NaiveFromDrive: return "naive move from a drive onto the internal disk (control)";
  }
  return "";
}

struct Config {
  Kind kind;
  int speed;      // CopySpeed
  int mountType;  // MountType
};

class PowerCut : public ScenarioTest {
 public:  // open to the trial loop
  void SetUp() override
  {
    ScenarioTest::SetUp();
    InstallTap("FerroxSetup.tap");
    InstallTap("NaiveMove.tap");
  }

  // A fresh receiver: recordings to copy or move (two below the source
  // folder, one in a sub-folder; for gathering, two more in /DataFiles), a
  // bystander outside the source folder and a file of someone else's on the
  // share. The settings as the user left them.
  void Prepare(const Config &c)
  {
    fs::remove_all(Host("/mnt/hd/DataFiles"));
    fs::remove_all(Host(kFerroxFolder));
    for (const auto &e : fs::directory_iterator(share)) fs::remove_all(e.path());
    fs::create_directories(Host(kNASShare));
    const bool move = c.kind != Kind::Copy && c.kind != Kind::Setup;
    WriteShareSettings({"CopySpeed=" + std::to_string(c.speed), "MountType=" + std::to_string(c.mountType),
                        std::string("Move=") + (move && c.kind != Kind::Job ? "1" : "0"),
                        std::string("CopyAllFiles=") + (c.kind == Kind::Gather ? "1" : "0")});
    WriteFile(kIni, "; my settings, with a note\r\n" + ReadFile(kIni));
    oldIni = SettingsAsLoaded(ReadFile(kIni));
    newIni = oldIni;
    if (c.kind == Kind::Setup) newIni["CopySpeed"] = std::to_string(c.speed == 4 ? 1 : c.speed + 1);
    unsigned seed = 1;
    WriteRecording(std::string(kMoveToNAS) + "/Alpha.rec", 700'000, seed++, LocalTime(2015, 12, 1));
    if (c.kind != Kind::Naive && c.kind != Kind::NaiveFromDrive)
      WriteRecording(std::string(kMoveToNAS) + "/Serie/Beta.rec", 300'000, seed++, LocalTime(2015, 12, 2));
    WriteRecording(std::string(kMoveToNAS) + "/Gamma.mpg", 400'000, seed++, LocalTime(2015, 12, 3));
    if (c.kind == Kind::Gather) {
      WriteRecording("/mnt/hd/DataFiles/Delta.rec", 500'000, seed++, LocalTime(2015, 12, 4));
      WriteRecording("/mnt/hd/DataFiles/Epsilon.rec", 200'000, seed++, LocalTime(2015, 12, 5));
    }
    if (c.kind == Kind::Job) {
      WriteRecording("/mnt/hd/DataFiles/Filme/Job.rec", 600'000, seed++, LocalTime(2015, 12, 6));
      WriteJob("Power.frx", "Job.rec", "/mnt/hd/DataFiles/Filme", std::string(kNASShare) + "/Jobs", 1);
      fs::create_directories(share / "Jobs");
    }
    WriteRecording("/mnt/hd/DataFiles/Other/Bystander.rec", 100'000, 50, LocalTime(2015, 12, 1));
    std::ofstream(share / "Foreign.rec", std::ios::binary) << std::string(70'000, 'f');
    // the box's control: the source folder is a drive of its own (the host
    // folder drive_), the copies go to a folder of the internal disk
    for (const auto &e : fs::directory_iterator(drive_.path)) fs::remove_all(e.path());
    if (c.kind == Kind::NaiveFromDrive)
      for (const auto &e : fs::directory_iterator(Host(kMoveToNAS)))
        fs::rename(e.path(), drive_.path / e.path().filename());
    recordings.clear();
    for (const std::string &rel : Tree(Host("/mnt/hd/DataFiles"))) {
      if (rel.rfind("Other/", 0) == 0 || rel.ends_with(".inf") || rel.ends_with(".nav")) continue;
      const std::string path = "/mnt/hd/DataFiles/" + rel;
      recordings[rel] = {ReadFile(path), ReadFile(path + ".inf")};
    }
    if (c.kind == Kind::NaiveFromDrive)
      for (const std::string &rel : Tree(drive_.path))
        if (!rel.ends_with(".inf") && !rel.ends_with(".nav"))
          recordings["MoveToNAS/" + rel] = {ReadHostFile(drive_.path / rel),
                                            ReadHostFile(drive_.path / (rel + ".inf"))};
    bystanders.clear();
    for (const char *part : {"", ".inf", ".nav"})
      bystanders[Host(std::string("/mnt/hd/DataFiles/Other/Bystander.rec") + part)] =
          ReadFile(std::string("/mnt/hd/DataFiles/Other/Bystander.rec") + part);
    bystanders[share / "Foreign.rec"] = ReadHostFile(share / "Foreign.rec");
  }

  // The run of this configuration's plug-in; the power cut at change `cut`
  // (0: none) with the seed given.
  RunResult RunOnce(const Config &c, uint64_t cut, uint64_t seed)
  {
    std::vector<std::string> args = {"--root",
                                     root.string(),
                                     "--console",
                                     "none",
                                     "--quiet",
                                     "--seconds",
                                     "3000",
                                     "--mount",
                                     c.kind == Kind::NaiveFromDrive
                                         ? std::string(kMoveToNAS) + "=" + drive_.path.string()
                                         : std::string(kNASShare) + "=" + share.string()};
    if (cut > 0)
      args.insert(args.end(), {"--power-cut-at-change", std::to_string(cut), "--seed", std::to_string(seed)});
    if (c.kind == Kind::Setup)
      args.insert(args.end(),
                  {"--key", "Right@1", "--key", "Green@2", "--load", "/mnt/hd/ProgramFiles/FerroxSetup.tap"});
    else if (c.kind == Kind::Naive || c.kind == Kind::NaiveFromDrive)
      args.insert(args.end(), {"--load", "/mnt/hd/ProgramFiles/NaiveMove.tap"});
    else args.insert(args.end(), {"--tap", TapFile("Ferrox.tap").string()});
    return RunReceiver(args);
  }

  // How many changes an uncut run of the configuration makes.
  uint64_t Changes(const Config &c)
  {
    Prepare(c);
    RunResult r = RunOnce(c, 1'000'000'000, 1);
    EXPECT_EQ(0, r.exitCode) << r.out << r.err;
    std::smatch m;
    const std::regex made("no power cut: the run made ([0-9]+) changes");
    EXPECT_TRUE(std::regex_search(r.out, m, made)) << r.out;
    return m.size() > 1 ? std::stoull(m[1].str()) : 1;
  }

  // Is the recording whole somewhere: at its source, or byte for byte on
  // the share (under its name or a numbered one, in the folder of its kind)
  // with its ".inf"?
  bool Whole(const std::string &rel, const std::pair<std::string, std::string> &bytes) const
  {
    return Somewhere(rel, bytes, true);
  }
  // With together false: are its bytes somewhere, the recording and its
  // ".inf" maybe in two places (a cut between the moves of a gathering)?
  bool Somewhere(const std::string &rel, const std::pair<std::string, std::string> &bytes, bool together) const
  {
    if (!together) {
      if (Somewhere(rel, bytes, true)) return true;
      std::pair<std::string, std::string> main{bytes.first, ReadFile("/mnt/hd/DataFiles/" + rel + ".inf")};
      std::pair<std::string, std::string> inf{ReadFile("/mnt/hd/DataFiles/" + rel), bytes.second};
      return Somewhere(rel, main, true) || Somewhere(rel, inf, true) ||
             (ReadFile("/mnt/hd/DataFiles/" + rel + ".inf") == bytes.second &&
              ReadFile(std::string(kMoveToNAS) + rel.substr(rel.rfind('/'))) == bytes.first);
    }
    const std::string source = "/mnt/hd/DataFiles/" + rel;
    if (ReadFile(source) == bytes.first && ReadFile(source + ".inf") == bytes.second) return true;
    // gathered: the source folder holds it now, maybe under a number
    std::string name = rel.substr(rel.rfind('/') + 1);
    std::vector<fs::path> places = {Host(std::string(kMoveToNAS)) / name,
                                    share / rel.substr(rel.find('/') + 1),
                                    share / name,
                                    share / "Jobs" / name,
                                    drive_.path / name,
                                    Host(kNASShare) / name};
    for (fs::path p : places) {
      for (int n = 0; n <= 3; n++) {
        fs::path candidate = p;
        if (n > 0) {
          std::string stem = p.stem().string(), ext = p.extension().string();
          candidate = p.parent_path() / (stem + "-" + std::to_string(n) + ext);
        }
        if (ReadHostFile(candidate) == bytes.first && ReadHostFile(candidate.string() + ".inf") == bytes.second)
          return true;
      }
    }
    return false;
  }

  // The audit after a run: recordings, bystanders and the settings file.
  void Audit(const std::string &when, bool finished)
  {
    for (const auto &[rel, bytes] : recordings)
      if (!Somewhere(rel, bytes, finished)) {
        ++recordingsLost;
        if (!expectLoss)
          ADD_FAILURE() << when << ": " << rel << " is whole nowhere; the share has "
                        << ::testing::PrintToString(Tree(share)) << "\n"
                        << Log();
      }
    for (const auto &[path, bytes] : bystanders)
      EXPECT_TRUE(ReadHostFile(path) == bytes) << when << ": " << path << " was changed";
    const auto now = SettingsAsLoaded(ReadFile(kIni));
    if (now != oldIni && now != newIni) {
      ++settingsLost;
      ADD_FAILURE() << when << ": Ferrox.ini holds neither the old nor the new settings:\n" << ReadFile(kIni);
    }
  }

  std::mt19937_64 rng{kSeed};
  std::map<std::string, std::pair<std::string, std::string>> recordings;  // rel below DataFiles: main, .inf
  std::map<fs::path, std::string> bystanders;
  std::map<std::string, std::string> oldIni, newIni;
  bool expectLoss = false;
  int trials = 0;
  int recordingsLost = 0;
  int settingsLost = 0;

 private:
  TempDir drive_;
};

// The trials of one configuration: each cut at a random change of the
// run, some runs cut twice in a row (the second resumes what the first
// left), then a run to the end and the audit.
void CutTrials(PowerCut &t, const Config &c, int count)
{
  const uint64_t changes = t.Changes(c);
  for (int i = 0; i < count; i++) {
    t.Prepare(c);
    const bool twice = i % 3 == 2 && c.kind != Kind::Setup;
    const int cuts = twice ? 2 : 1;
    std::string when = std::string(KindName(c.kind)) + " speed " + std::to_string(c.speed) + " mount type " +
                       std::to_string(c.mountType);
    for (int k = 0; k < cuts; k++) {
      const uint64_t at = std::uniform_int_distribution<uint64_t>(1, changes)(t.rng);
      const uint64_t seed = t.rng();
      RunResult r = t.RunOnce(c, at, seed);
      when += ", cut at change " + std::to_string(at) + " (seed " + std::to_string(seed) + ")";
      EXPECT_TRUE(r.exitCode == 3 || (k > 0 && r.exitCode == 0)) << when << "\n" << r.out << r.err;
      ++t.trials;
      t.Audit(when, false);
    }
    RunResult finish = t.RunOnce(c.kind == Kind::Setup ? Config{Kind::Copy, c.speed, c.mountType} : c, 0, 0);
    EXPECT_EQ(0, finish.exitCode) << when << ", then a whole run\n" << finish.out << finish.err;
    t.Audit(when + ", then a whole run", true);
  }
}

TEST_F(PowerCut, NoRecordingAndNoSettingIsLostAtAnyMoment)
{
  std::vector<Config> configs;
  for (Kind kind : {Kind::Copy, Kind::Move, Kind::Job, Kind::Gather})
    for (int mountType : {0, 2})
      for (int speed : {1, 4}) configs.push_back({kind, speed, mountType});
  configs.push_back({Kind::Setup, 2, 0});
  configs.push_back({Kind::Setup, 4, 1});
  // 16 service configurations of 18 trials, two setups of 12: 312 cuts and more
  for (const Config &c : configs) CutTrials(*this, c, TrialCount(c.kind == Kind::Setup ? 12 : 17, 3));
  std::printf("power cuts: %d trials, %d recordings lost, %d settings lost\n", trials, recordingsLost, settingsLost);
  EXPECT_GE(trials, TrialCount(300, 54));
  EXPECT_EQ(0, recordingsLost);
  EXPECT_EQ(0, settingsLost);
}

// 40 cuts of a control configuration, each audited as it left the files
// (the losses counted, not failed).
void ControlTrials(PowerCut &t, const Config &c)
{
  t.expectLoss = true;
  const uint64_t changes = t.Changes(c);
  for (int i = 0; i < 40; i++) {
    t.Prepare(c);
    const uint64_t at = std::uniform_int_distribution<uint64_t>(1, changes)(t.rng);
    t.RunOnce(c, at, t.rng());
    ++t.trials;
    t.Audit(std::string(KindName(c.kind)) + " cut at change " + std::to_string(at), false);
  }
}

// The control: the same cuts under a plug-in that copies, closes and deletes
// the source without a sync lose recordings; the audit sees it.
TEST_F(PowerCut, AMoveWithoutSyncsLosesRecordings)
{
  ControlTrials(*this, {Kind::Naive, 1, 0});
  std::printf("power cuts, control (moves without syncs): %d trials, %d recordings lost\n", trials, recordingsLost);
  EXPECT_GT(recordingsLost, 0) << "the audit finds nothing lost even where nothing was synced";
}

// The box's control in the model: the naive mover from a drive onto the
// internal disk, the layout whose real cuts lose recordings. The model must
// lose them too (it is at least as harsh as the kernel).
TEST_F(PowerCut, AMoveWithoutSyncsFromADriveLosesRecordingsAsInTheBox)
{
  ControlTrials(*this, {Kind::NaiveFromDrive, 1, 2});
  std::printf("power cuts, control from a drive (moves without syncs): %d trials, %d recordings lost\n", trials,
              recordingsLost);
  EXPECT_GT(recordingsLost, 0) << "the model loses nothing where real cuts do";
}

}  // namespace
