// BoxPowerCutTest.cpp -- real power cuts: QEMU killed at a random moment of
// a run in the box, from its start to well after its end (a kernel writes
// back and commits its journals later than the run), then a boot that
// replays the journals (fsck.jfs for the internal disk, the kernel itself
// for the ext3 drive) and a run that must complete. After each cut every
// recording is whole at its source or byte-identical at the destination
// with its ".inf", nothing outside the destination changed and "Ferrox.ini"
// gives the old settings or the new. A control that moves without syncing
// shows what the cuts can take. QEMU's disks write back into the image
// files, so a cut loses the guest's memory (its page cache and unwritten
// journal) but nothing the guest had written to its disks; a drive's own
// write cache is not played.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "BoxFixture.h"

namespace {

constexpr const char *kUsbFolder = "/mnt/hd/DataFiles/USB";  // the drive, shown among the recordings
const std::string kIni = std::string(kFerroxFolder) + "/Ferrox.ini";

enum class Kind { MoveToUsb, MoveToShare, Job, Gather, Setup, Naive };

struct Config {
  Kind kind;
  const char *name;
  double runSeconds;  // about how long its run takes in the box
};

// clang-format off
const Config kConfigs[] = {
    {Kind::MoveToUsb, "move run onto the USB drive", 4},
    {Kind::MoveToShare, "move run onto the SMB share", 4},
    {Kind::Job, "job's move onto the SMB share", 4},
    {Kind::Gather, "gathering with CopyAllFiles, moved onto the share", 5},
    {Kind::Setup, "setup save", 3},
};
// clang-format on

// Trials in the tier; make box-power-cuts asks for more (FERROX_BOX_CUTS).
int Trials(int inTier)
{
  const char *n = getenv("FERROX_BOX_CUTS");
  return n && *n ? std::max(1, std::atoi(n)) : inTier;
}

class BoxPowerCut : public BoxTest {
 public:
  // The receiver before the run: recordings with their companions, a
  // bystander outside the source folder, someone else's file on the share.
  void Prepare(const Config &c)
  {
    std::error_code ec;
    fs::remove_all(root / "mnt/hd/DataFiles", ec);
    fs::remove_all(root / "mnt/sdb1", ec);
    fs::remove_all(Host(kFerroxFolder), ec);
    for (const auto &e : fs::directory_iterator(share)) fs::remove_all(e.path(), ec);
    fs::create_directories(root / "mnt/sdb1");
    const bool usb = c.kind == Kind::MoveToUsb;
    if (usb)
      WriteSettings({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", std::string("DestDir=") + kUsbFolder, "MountType=2",
                     "MountedDirDest=1", "NASBootTime=30", "Move=1", "CopySpeed=4"});
    else
      WriteShareSettings({"MountType=0", "CopySpeed=4",
                          std::string("Move=") + (c.kind == Kind::Setup || c.kind == Kind::Job ? "0" : "1"),
                          std::string("CopyAllFiles=") + (c.kind == Kind::Gather ? "1" : "0")});
    WriteFile(kIni, "; my settings, with a note\r\n" + ReadFile(kIni));
    oldIni = ReadFile(kIni);
    // the control moves from the USB drive, shown as the source folder, onto
    // the internal disk (below)
    const std::string from = c.kind == Kind::Naive ? "/mnt/sdb1/MoveToNAS" : kMoveToNAS;
    if (c.kind == Kind::Naive) fs::create_directories(Host(kNASShare));
    unsigned seed = 1;
    WriteRecording(from + "/Alpha.rec", 2'500'000, seed++, LocalTime(2015, 12, 1));
    if (c.kind != Kind::Naive) WriteRecording(from + "/Serie/Beta.rec", 900'000, seed++, LocalTime(2015, 12, 2));
    WriteRecording(from + "/Gamma.mpg", 1'200'000, seed++, LocalTime(2015, 12, 3));
    if (c.kind == Kind::Gather)
      WriteRecording("/mnt/hd/DataFiles/Delta.rec", 1'500'000, seed++, LocalTime(2015, 12, 4));
    if (c.kind == Kind::Job) {
      WriteRecording("/mnt/sdb1/Filme/Job.rec", 2'000'000, seed++, LocalTime(2015, 12, 6));
      WriteJob("Power.frx", "Job.rec", "/mnt/sdb1/Filme", kNASShare, 1);
    }
    WriteRecording("/mnt/hd/DataFiles/Other/Bystander.rec", 300'000, 50, LocalTime(2015, 12, 1));
    std::ofstream(share / "Foreign.rec", std::ios::binary) << std::string(70'000, 'f');
    recordings.clear();
    for (const fs::path &top : {root / "mnt/hd/DataFiles", root / "mnt/sdb1"})
      for (const std::string &rel : Tree(top)) {
        if (rel.rfind("Other/", 0) == 0 || rel.ends_with(".inf") || rel.ends_with(".nav")) continue;
        recordings[top / rel] = {ReadHostFile(top / rel), ReadHostFile(top / (rel + ".inf"))};
      }
    bystanders.clear();
    for (const char *part : {"", ".inf", ".nav"}) {
      const fs::path p = Host(std::string("/mnt/hd/DataFiles/Other/Bystander.rec") + part);
      bystanders[p] = ReadHostFile(p);
    }
    bystanders[share / "Foreign.rec"] = ReadHostFile(share / "Foreign.rec");
  }

  BoxPlan Plan(const Config &c, int linger) const
  {
    BoxPlan plan;
    plan.linger = linger;
    plan.nas = c.kind != Kind::MoveToUsb && c.kind != Kind::Naive;
    if (c.kind == Kind::MoveToUsb)
      plan.shell = {"mkdir -p /mnt/hd/DataFiles/USB", "mount --bind /mnt/sdb1 /mnt/hd/DataFiles/USB"};
    if (c.kind == Kind::Setup)
      plan.steps = {
          {"run",
           {"--load", "/mnt/hd/ProgramFiles/FerroxSetup.tap", "--quiet", "--key", "Right@1", "--key", "Green@2"}}};
    else if (c.kind == Kind::Naive) plan.steps = {{"run", {"--load", "/box/standin/NaiveMove.tap", "--quiet"}}};
    // the control's source is on the ext3 drive, which commits its journal
    // every 5 s, its copies on the JFS internal disk, whose log and data the
    // kernel writes later: a cut between the two takes the recording
    if (c.kind == Kind::Naive)
      plan.shell = {"mkdir -p /mnt/hd/DataFiles/MoveToNAS",
                    "mount --bind /mnt/sdb1/MoveToNAS /mnt/hd/DataFiles/MoveToNAS"};
    else plan.steps = {{"run", Ferrox()}};
    return plan;
  }

  // Where a recording's copy may be: its name in the destination, in the
  // tree below it or numbered; a gathered one in the source folder.
  bool Whole(const fs::path &source, const std::pair<std::string, std::string> &bytes) const
  {
    if (ReadHostFile(source) == bytes.first && ReadHostFile(source.string() + ".inf") == bytes.second) return true;
    const std::string name = source.filename().string();
    std::vector<fs::path> places = {share / name,
                                    root / "mnt/sdb1/MoveToNAS" / name,
                                    share / "Serie" / name,
                                    root / "mnt/sdb1" / name,
                                    root / "mnt/sdb1/Serie" / name,
                                    Host(kMoveToNAS) / name,
                                    Host("/mnt/hd/DataFiles/NAS-Share") / name,
                                    Host("/mnt/hd/DataFiles/NAS-Share/Serie") / name};
    for (const fs::path &p : places)
      for (int n = 0; n <= 2; n++) {
        fs::path at =
            n == 0 ? p : p.parent_path() / (p.stem().string() + "-" + std::to_string(n) + p.extension().string());
        if (ReadHostFile(at) == bytes.first && ReadHostFile(at.string() + ".inf") == bytes.second) return true;
      }
    return false;
  }

  // Settings as the plug-ins load them: the old ones, or (a setup save) the
  // old ones with another speed.
  bool SettingsWhole(const Config &c) const
  {
    auto now = SettingsAsLoaded(ReadFile(kIni)), old = SettingsAsLoaded(oldIni);
    if (now == old) return true;
    if (c.kind != Kind::Setup || now.empty()) return false;
    now.erase("CopySpeed");
    old.erase("CopySpeed");
    return now == old;
  }

  void Audit(const Config &c, const std::string &when, bool control)
  {
    for (const auto &[source, bytes] : recordings)
      if (!Whole(source, bytes)) {
        ++recordingsLost;
        if (!control) ADD_FAILURE() << when << ": " << source.filename() << " is whole nowhere\n" << Log();
      }
    for (const auto &[path, bytes] : bystanders)
      EXPECT_TRUE(ReadHostFile(path) == bytes) << when << ": " << path << " was changed";
    if (!SettingsWhole(c)) {
      ++settingsLost;
      ADD_FAILURE() << when << ": Ferrox.ini holds neither the old nor the new settings:\n" << ReadFile(kIni);
    }
  }

  // One trial: the run cut at a random moment up to `tail` seconds after
  // its expected end, a boot that replays the journals and runs it again to
  // its end, then the audit. A trial in which the box itself failed (its
  // emulated devices stalled, a boot that never got its disks) says nothing
  // of the plug-ins and is made again on fresh disks, a few times at most.
  void Trial(const Config &c, double tail, bool control)
  {
    for (;;) {
      const std::string fault = TryTrial(c, tail, control);
      if (fault.empty()) return;
      ++voided;
      std::printf("box: %s: trial void, the box itself failed (%s); made again\n", c.name, fault.c_str());
      if (voided > kMostVoided) {
        ADD_FAILURE() << "the box failed in " << voided << " trials: " << fault;
        return;
      }
    }
  }

  // The trial once; what of the box failed, or "" when it was audited.
  std::string TryTrial(const Config &c, double tail, bool control)
  {
    Prepare(c);
    const double at = std::uniform_real_distribution<double>(0, c.runSeconds + tail)(rng);
    BoxPlan first = Plan(c, static_cast<int>(tail) + 5);
    const BoxCut cut = BootAndCut(first, at);
    if (!cut.boxFault.empty()) return "before the cut: " + cut.boxFault;
    char when[160];
    std::snprintf(when, sizeof when, "%s, cut %.1f s into the run%s", c.name, at, cut.cut ? "" : " (ended before)");
    BoxPlan finish = Plan(c.kind == Kind::Setup ? Config{Kind::MoveToShare, c.name, 0} : c, 0);
    finish.layOut = false;
    finish.voidable = true;
    if (control) finish.steps.clear();  // the control's losses are counted as the cut left them
    BoxBoot after = Boot(finish);
    if (!after.boxFault.empty()) return std::string("after the cut at ") + when + ": " + after.boxFault;
    ++trials;
    if (!control && !finish.steps.empty()) {
      EXPECT_EQ(after.rc["run"], 0) << when << ", then a whole run\n" << after.out["run"];
    }
    Audit(c, when, control);
    std::printf("box: %s\n", when);
    return "";
  }

  static constexpr int kMostVoided = 3;
  std::mt19937_64 rng{20151220};
  std::map<fs::path, std::pair<std::string, std::string>> recordings;
  std::map<fs::path, std::string> bystanders;
  std::string oldIni;
  int trials = 0, recordingsLost = 0, settingsLost = 0, voided = 0;
};

TEST_F(BoxPowerCut, NoRecordingAndNoSettingIsLostAtAnyMoment)
{
  const int count = Trials(6);
  for (int i = 0; i < count; i++) Trial(kConfigs[i % std::size(kConfigs)], 10, false);
  std::printf("real power cuts: %d trials, %d recordings lost, %d settings lost\n", trials, recordingsLost,
              settingsLost);
  if (voided > 0) std::printf("box: %d trial(s) void by the box's own faults, made again\n", voided);
  EXPECT_EQ(0, recordingsLost);
  EXPECT_EQ(0, settingsLost);
}

// The control: the naive mover (copy, close, delete the source, no sync)
// under the same cuts loses recordings; its count is printed beside the
// service's 0.
TEST_F(BoxPowerCut, AMoveWithoutSyncsLosesRecordings)
{
  const Config naive{Kind::Naive, "naive move (control)", 1};
  // a quarter of the service's trials, at least 4: each loses more than one
  const int count = std::max(4, Trials(6) / 4);
  for (int i = 0; i < count; i++) Trial(naive, 30, true);
  std::printf("real power cuts, control (moves without syncs): %d trials, %d recordings lost\n", trials,
              recordingsLost);
  if (voided > 0) std::printf("box: %d control trial(s) void by the box's own faults, made again\n", voided);
  EXPECT_GT(recordingsLost, 0) << "the real cuts took nothing even where nothing was synced";
}

}  // namespace

// What voids a trial: the box's own devices or boot failing, never what a
// cut does to a disk.
TEST(BoxFaultTest, OnlyTheBoxsOwnFailuresVoidATrial)
{
  const struct {
    const char *console;
    const char *fault;
    // clang-format off
  } kCases[] = {
      {"box: up after 5.1 s\n[  194.04] CIFS: VFS: \\\\10.0.2.2 has not responded in 180 seconds. Reconnecting...\n",
       "[  194.04] CIFS: VFS: \\\\10.0.2.2 has not responded in 180 seconds. Reconnecting..."},
      {"[ 9.1] e1000 0000:00:13.0 eth0: NETDEV WATCHDOG: transmit queue 0 timed out", "[ 9.1] e1000 0000:00:13.0 eth0: NETDEV WATCHDOG: transmit queue 0 timed out"},
      {"mount: mounting //10.0.2.2/io failed\nbox: cannot mount the host's io share\n", "box: cannot mount the host's io share"},
      {"box: no external drive (/dev/sdb1)", "box: no external drive (/dev/sdb1)"},
      // what a cut may leave is the plug-ins' and the file systems' matter
      {"box: the internal disk's check found damage\nbox: cannot mount the internal disk\n", ""},
      {"box: up after 5.1 s\nbox: scenario ended with 0\nbox: power off\n", ""},
  };
  // clang-format on
  for (const auto &c : kCases) EXPECT_EQ(BoxFault(c.console), c.fault) << c.console;
}
