// BoxTest.cpp -- the owners' plug-in files in the virtual receiver: a real
// MIPS kernel, a JFS internal disk, an ext3 drive on USB and a NAS through
// the kernel's SMB client. Each scenario is one boot, audited on the host
// with what the box's disks and the share hold afterwards.
#include <fstream>
#include <regex>
#include <set>

#include "BoxFixture.h"
#include "PngFile.h"

namespace {

constexpr const char *kJobs = "/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles";

// The summary line the receiver program repeats from the service's log.
std::string Summary(const std::string &out)
{
  std::smatch m;
  static const std::regex line("receiver: (?:Ferrox: )?(Summary: [^\\n]*)");
  return std::regex_search(out, m, line) ? m[1].str() : "";
}

std::string Firmware(const BoxBoot &boot, const std::string &step)
{
  auto it = boot.out.find(step);
  return it == boot.out.end() ? "" : it->second;
}

struct Recording {
  std::string source;   // below MoveToNAS, the receiver's bytes (ISO 8859-1)
  std::string arrives;  // its name on the share
  size_t size;
  bool nav;
};

TEST_F(BoxTest, CopyRunOntoTheSmbShareRenamesForTheShareAndASecondRunFindsAllComplete)
{
  WriteShareSettings({"MountType=0", "SpecChar=1", "DelDEC=1", "Move=0"});
  // clang-format off
  const std::vector<Recording> recordings = {
      {"Tagesschau.rec", "Tagesschau.rec", 1'500'000, true},
      {"M\xFC" "ller & S\xF6hne.rec", "Mueller & Soehne.rec", 700'000, true},
      {"Der Film (DEC).rec", "Der Film.rec", 900'000, true},
      {"Film: Teil 1?.rec", "Film Teil 1.rec", 400'000, true},
      {"Konzert.rec", "Konzert-1.rec", 600'000, true},
      {"Serien/Folge 1.rec", "Serien/Folge 1.rec", 800'000, true},
      {"Nachrichten.mpg", "Nachrichten.mpg", 300'000, false},
  };
  // clang-format on
  unsigned seed = 1;
  for (const Recording &r : recordings)
    WriteRecording(std::string(kMoveToNAS) + "/" + r.source, r.size, seed, LocalTime(2015, 12, int(seed)), true, r.nav),
        ++seed;
  // a different recording is on the share already under the same name in
  // other letters: to the NAS, which ignores case, it is the same name
  const std::string theirs = Pattern(123'456, 99);
  std::ofstream(share / "konzert.rec", std::ios::binary) << theirs;

  BoxBoot boot = Boot({{"first", Ferrox({"--status-every", "1"})}, {"second", Ferrox()}});
  ExpectOwnersPlugins(boot);
  ASSERT_EQ(boot.rc["first"], 0) << Firmware(boot, "first");
  ASSERT_EQ(boot.rc["second"], 0) << Firmware(boot, "second");

  std::set<std::string> expected = {"konzert.rec"};
  for (const Recording &r : recordings) {
    const std::string from = std::string(kMoveToNAS) + "/" + r.source;
    std::vector<std::string> parts = {""};
    if (Exists(from + ".inf")) parts.push_back(".inf");
    if (r.nav) parts.push_back(".nav");
    for (const std::string &part : parts) {
      expected.insert(r.arrives + part);
      EXPECT_TRUE(ReadHostFile(share / (r.arrives + part)) == ReadFile(from + part))
          << r.arrives + part << " on the share is not the recording's copy";
      EXPECT_TRUE(Exists(from + part)) << "a copy run keeps its source " << from + part;
    }
  }
  EXPECT_TRUE(ReadHostFile(share / "konzert.rec") == theirs) << "the share's own konzert.rec was touched";
  std::vector<std::string> tree = Tree(share);
  EXPECT_EQ(std::set<std::string>(tree.begin(), tree.end()), expected);
  EXPECT_EQ(Summary(Firmware(boot, "first")).substr(0, 67),
            "Summary: 7 copied, 0 moved, 0 already complete, 0 failed, 0 skipped")
      << Firmware(boot, "first");
  EXPECT_EQ(Summary(Firmware(boot, "second")).substr(0, 67),
            "Summary: 0 copied, 0 moved, 7 already complete, 0 failed, 0 skipped")
      << Firmware(boot, "second");
  EXPECT_TRUE(LogHas("Destination needed to be renamed to 'Konzert-1.rec'")) << Log();
  // the status requests of another plug-in were answered while it copied
  EXPECT_NE(Firmware(boot, "first").find("status: file \""), std::string::npos) << Firmware(boot, "first");
  // its console lines came through the real pseudo-terminal
  EXPECT_NE(Firmware(boot, "first").find("Ferrox: 100%"), std::string::npos) << Firmware(boot, "first");
}

TEST_F(BoxTest, MoveRunOntoTheUsbDriveDeletesOnlyWhatArrived)
{
  // the drive is mounted at /mnt/sdb1 and, as a receiver's mount plug-in
  // shows it among the recordings, at /mnt/hd/DataFiles/USB too
  WriteSettings({"MoveDir=/mnt/hd/DataFiles/MoveToNAS", "DestDir=/mnt/hd/DataFiles/USB", "MountType=2",
                 "MountedDirDest=1", "NASBootTime=30", "Move=1", "SpecChar=0", "DelDEC=0"});
  const std::vector<std::string> names = {"Film A.rec", "Serie/Teil 2.rec", "Doku.ts"};
  std::map<std::string, std::string> bytes;
  unsigned seed = 10;
  for (const std::string &n : names) {
    const std::string from = std::string(kMoveToNAS) + "/" + n;
    WriteRecording(from, 600'000 + seed * 1000, seed, LocalTime(2015, 12, int(seed - 9)));
    for (const char *part : {"", ".inf", ".nav"}) bytes[n + part] = ReadFile(from + part);
    ++seed;
  }
  BoxBoot boot = Boot({{"move", Ferrox()}}, false,
                      {"mkdir -p /mnt/hd/DataFiles/USB", "mount --bind /mnt/sdb1 /mnt/hd/DataFiles/USB"});
  ExpectOwnersPlugins(boot);
  ASSERT_EQ(boot.rc["move"], 0) << Firmware(boot, "move");
  for (const auto &b : bytes) {
    EXPECT_TRUE(ReadHostFile(root / "mnt/sdb1" / b.first) == b.second) << b.first << " on the drive";
    EXPECT_FALSE(Exists(std::string(kMoveToNAS) + "/" + b.first)) << b.first << " was moved, its source stays";
  }
  EXPECT_EQ(Summary(Firmware(boot, "move")).substr(0, 67),
            "Summary: 0 copied, 3 moved, 0 already complete, 0 failed, 0 skipped")
      << Firmware(boot, "move");
}

TEST_F(BoxTest, JobFileMovesARecordingFromTheUsbDriveOntoTheShare)
{
  WriteShareSettings({"MountType=0"});
  WriteRecording("/mnt/sdb1/Filme/Urlaub.rec", 900'000, 7, LocalTime(2015, 12, 3));
  std::map<std::string, std::string> bytes;
  for (const char *part : {"", ".inf", ".nav"})
    bytes[std::string("Urlaub.rec") + part] = ReadFile(std::string("/mnt/sdb1/Filme/Urlaub.rec") + part);
  WriteJob("FromUsb.frx", "Urlaub.rec", "/mnt/sdb1/Filme", kNASShare, 1);

  BoxBoot boot = Boot({{"job", Ferrox()}});
  ExpectOwnersPlugins(boot);
  ASSERT_EQ(boot.rc["job"], 0) << Firmware(boot, "job");
  for (const auto &b : bytes) {
    EXPECT_TRUE(ReadHostFile(share / b.first) == b.second) << b.first << " on the share";
    EXPECT_FALSE(fs::exists(root / "mnt/sdb1/Filme" / b.first)) << b.first << " stays on the drive";
  }
  EXPECT_FALSE(Exists(std::string(kJobs) + "/FromUsb.frx")) << "the job file is done";
  // started seconds after the kernel booted: the service waits its three
  // minutes (on the virtual clock) before the job
  EXPECT_TRUE(LogInOrder({"JobFile FromUsb.frx found", "File will be moved", "found TapfsRoot /mnt/sdb1",
                          "delete SourceFile: /mnt/sdb1/Filme/Urlaub.rec ", "delete Job File: FromUsb.frx "}))
      << Log();
}

TEST_F(BoxTest, SetupDrivenByKeysSavesAndShowsTheMenuAsTheSimulatorDoes)
{
  WriteShareSettings({"MountType=0", "CopySpeed=2"});
  const std::vector<std::string> keys = {"--key", "Right@1", "--key", "Green@3", "--screenshots", "/io/out/screens"};
  std::vector<std::string> options = {"--load", "/mnt/hd/ProgramFiles/FerroxSetup.tap", "--quiet"};
  options.insert(options.end(), keys.begin(), keys.end());
  BoxBoot boot = Boot({{"setup", options}});
  ExpectOwnersPlugins(boot);
  ASSERT_EQ(boot.rc["setup"], 0) << Firmware(boot, "setup");
  const std::string ini = ReadFile(std::string(kFerroxFolder) + "/Ferrox.ini");
  EXPECT_NE(ini.find("CopySpeed=3\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("DestDir=/mnt/hd/DataFiles/NAS-Share\r\n"), std::string::npos) << ini;

  // every screen the menu showed (one after each handler call that changed
  // it, named by the tick), against the same keys in the simulator here
  WriteShareSettings({"MountType=0", "CopySpeed=2"});
  TempDir shotsHere;
  std::vector<std::string> here = {"--root",
                                   root.string(),
                                   "--tap",
                                   TapFile("FerroxSetup.tap").string(),
                                   "--quiet",
                                   "--key",
                                   "Right@1",
                                   "--key",
                                   "Green@3",
                                   "--screenshots",
                                   shotsHere.path.string()};
  RunResult r = RunReceiver(here);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<std::string> inBox = HostTree(Work() / "io/out/screens"), onPc = HostTree(shotsHere.path);
  ASSERT_FALSE(inBox.empty()) << "the box wrote no screenshot";
  EXPECT_EQ(inBox, onPc) << "the menu changed the screen at other ticks in the box";
  size_t differ = 0, lit = 0, pixels = 0;
  for (const std::string &name : inBox) {
    PngImage box = ReadPng(Work() / "io/out/screens" / name), pc = ReadPng(shotsHere.path / name);
    ASSERT_EQ(box.width, 720);
    ASSERT_EQ(box.height, 576);
    ASSERT_EQ(pc.pixels.size(), box.pixels.size()) << name;
    for (size_t i = 0; i < box.pixels.size(); ++i) {
      differ += box.pixels[i] != pc.pixels[i];
      lit += box.pixels[i] != box.pixels[0];
    }
    pixels += box.pixels.size();
  }
  fs::copy_file(Work() / "io/out/screens" / inBox.back(), Work() / "box-setup.png",
                fs::copy_options::overwrite_existing);
  std::printf("box: %zu screens of the setup in the box; they differ from the PC's in %zu of %zu pixels\n",
              inBox.size(), differ, pixels);
  EXPECT_EQ(differ, 0u) << "the menu drawn by the receiver's files differs from the simulator's";
  EXPECT_GT(lit, pixels / 10) << "the screens are nearly empty";
}

}  // namespace

// A receiver CPU without an FPU (the 24Kc): the kernel traps and emulates
// every floating-point instruction, hundreds of cycles each. The firmware
// here (the simulator) has its own; what the plug-ins' work adds to them is
// what a run, a menu and its keys cost beyond a plug-in that only waits for
// as many rounds, and it must be nothing.
TEST_F(BoxTest, OnACpuWithoutAnFpuThePlugInsMakeTheKernelEmulateNothing)
{
  // the outcome's window is drawn by the firmware's own text functions (its
  // fonts rasterised in floating point here): not the plug-in's work
  WriteShareSettings({"MountType=0", "CopySpeed=2", "Move=0", "ShowResult=0"});
  unsigned seed = 1;
  for (const char *name : {"Eins.rec", "Zwei.rec", "Drei.rec", "Vier.rec"})
    WriteRecording(std::string(kMoveToNAS) + "/" + name, 1'900'000, seed, LocalTime(2015, 12, int(seed))), ++seed;
  // every step runs 40 s of the virtual clock: as many firmware rounds
  const std::vector<std::string> forty = {"--quiet", "--until", "time", "--seconds", "40"};
  auto step = [&](const std::string &name, const std::string &tap, std::vector<std::string> extra) {
    BoxStep s{name, {"--load", "/mnt/hd/ProgramFiles/" + tap}};
    s.options.insert(s.options.end(), forty.begin(), forty.end());
    s.options.insert(s.options.end(), extra.begin(), extra.end());
    return s;
  };
  std::vector<std::string> downs;
  for (int i = 0; i < 20; i++) downs.insert(downs.end(), {"--key", "Down@" + std::to_string(5 + i)});
  BoxPlan plan;
  plan.cpu = "24Kc";
  plan.countFpu = true;
  plan.shell = {"cp /box/standin/TickWaiter.tap /mnt/hd/ProgramFiles/",
                "echo 4000 > /mnt/hd/ProgramFiles/TickWaiter.cfg"};
  // the copy run ends itself: its baseline is a plug-in that waits as many ticks
  BoxStep copyBase = step("copy-waiting", "TickWaiter.tap", {});
  copyBase.before =
      "sed -n 's/.*ended itself (TAP_Exit) at tick \\([0-9]*\\).*/\\1/p' /tmp/copy.out"
      " > /mnt/hd/ProgramFiles/TickWaiter.cfg";
  plan.steps = {step("waiting", "TickWaiter.tap", {}), step("menu", "FerroxSetup.tap", {}),
                step("keys", "FerroxSetup.tap", downs), step("copy", "Ferrox.tap", {}), copyBase};
  // FERROX_BOX_OTHER_TAPS=DIR: the same on other plug-in files (earlier
  // ones, for the figures before), put onto the share and installed from it
  const char *other = getenv("FERROX_BOX_OTHER_TAPS");
  if (other && *other) {
    for (const char *tap : {"Ferrox.tap", "FerroxSetup.tap"}) fs::copy_file(fs::path(other) / tap, share / tap);
    plan.shell.push_back(
        "cp /mnt/hd/DataFiles/NAS-Share/Ferrox.tap /mnt/hd/DataFiles/NAS-Share/FerroxSetup.tap "
        "/mnt/hd/ProgramFiles/ && rm /mnt/hd/DataFiles/NAS-Share/*.tap");
  }
  BoxBoot boot = Boot(plan);
  if (!other || !*other) ExpectOwnersPlugins(boot);
  std::map<std::string, long long> emulated;
  for (const BoxStep &s : plan.steps) {
    EXPECT_EQ(boot.rc[s.name], 0) << s.name << ":\n" << boot.out[s.name];
    long long before = -1, after = -1;
    for (const char *when : {"before", "after"}) {
      const std::string mark = std::string("box: emulated ") + when + " " + s.name + ": ";
      const size_t at = boot.console.find(mark);
      ASSERT_NE(at, std::string::npos) << "no count of the emulated instructions " << when << " " << s.name << "\n"
                                       << boot.console;
      (std::string(when) == "before" ? before : after) = std::atoll(boot.console.c_str() + at + mark.size());
    }
    emulated[s.name] = after - before;
  }
  EXPECT_NE(ReadHostFile(share / "Vier.rec"), "") << "the copy run copied nothing\n" << boot.out["copy"];
  const long long base = emulated["waiting"];
  std::printf(
      "box: on a CPU without an FPU (24Kc), instructions the kernel emulated in 40 s: a plug-in that only "
      "waits %lld, the setup menu %lld, the menu with 20 Down keys %lld, a copy run of 7.6 MB %lld\n",
      base, emulated["menu"], emulated["keys"], emulated["copy"]);
  const long long work[] = {emulated["menu"] - base, emulated["keys"] - emulated["menu"],
                            emulated["copy"] - emulated["copy-waiting"]};
  std::printf(
      "box: emulated for the plug-ins' work: the menu %lld, 20 cursor moves %lld, the copy run %lld "
      "(against a plug-in that waits as long: %lld)\n",
      work[0], work[1], work[2], emulated["copy-waiting"]);
  EXPECT_GT(base, 0) << "the kernel emulated nothing at all: is this CPU one without an FPU?";
  // What is left is the firmware's own around an event (its event
  // statistics, some hundred instructions a key); the plug-ins' code holds
  // no instruction to emulate. Before, 20 cursor moves cost some 376,000
  // and a copy run 450,000.
  if (!other || !*other) {
    for (long long w : work) EXPECT_LT(w, 20'000) << "the plug-ins' work made the kernel emulate instructions";
  }
}
