// ReceiverProgramTest.cpp -- the `receiver` program: its help, its refusal
// of bad command lines and files, a whole run, and the option parser.
#include <fstream>
#include <sstream>

#include "Cli.h"
#include "SimFixture.h"

namespace {

TEST(ReceiverProgram, VersionNamesTheSimulator)
{
  RunResult r = RunReceiver({"--version"});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(0u, r.out.find("receiver 1.17 (Ferrox receiver simulator)")) << r.out;
}

TEST(ReceiverProgram, HelpDocumentsEveryOption)
{
  RunResult r = RunReceiver({"--help"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // every option the parser takes, so a new one cannot go undocumented
  const std::vector<std::string> options = sim::KnownOptions();
  EXPECT_GE(options.size(), 28u);
  for (const std::string &opt : options) EXPECT_NE(r.out.find("  " + opt + " "), std::string::npos) << opt;
  // each once, and the text beside a form starts in column 30
  for (const std::string &opt : options) {
    const std::string form = "\n  " + opt + " ";
    const size_t at = r.out.find(form);
    EXPECT_EQ(std::string::npos, r.out.find(form, at + 1)) << opt;
  }
  EXPECT_NE(std::string::npos, r.out.find("\n  --root DIR                 host folder that is the receiver's"));
  EXPECT_NE(std::string::npos,
            r.out.find("\n  --mount RPATH=HOSTDIR[@APPEAR[-VANISH]]\n" + std::string(29, ' ') + "serve"));
  // a terminal of 80 columns shows every line whole
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

TEST(ReceiverProgram, BadCommandLinesAndFilesGiveAClearMessage)
{
  TempDir tmp;
  const std::string root = (tmp.path / "root").string();
  std::ofstream(tmp.path / "notes.tap") << "plain text, no plug-in";
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char *message;
    // clang-format off
  } cases[] = {
      {{"--root", root, "--frobnicate"}, 2, "unknown option --frobnicate"},
      {{"--root", root, "--clock", "sundial"}, 2, "bad value for --clock"},
      {{"--root", root, "--key", "Teleport"}, 2, "bad value for --key: \"Teleport\"; expected KEY[@SECONDS]"},
      {{"--root", root, "--mount", "nas"}, 2, "bad value for --mount: \"nas\"; expected RPATH=HOSTDIR[@APPEAR[-VANISH]]"},
      {{"--root", root, "--screenshot", "x"}, 2, "unknown option --screenshot; did you mean --screenshots?"},
      {{"--root", root, "--seconds=5", "--qiuet"}, 2, "unknown option --qiuet; did you mean --quiet?"},
      {{"--root", root, "--frobnicate=1"}, 2, "unknown option --frobnicate (see receiver --help)"},
      {{"--root", root, "--quiet=yes"}, 2, "option --quiet takes no value (see receiver --help)"},
      {{"--root", root, "-q"}, 2, "unknown option -q (see receiver --help)"},
      {{"--root", (tmp.path / "notes.tap").string(), TapFile("TickWaiter.tap").string()}, 2,
       "is a file, not a folder: give a folder for --root"},
      {{"--root", root, "--load", "/mnt/hd/ProgramFiles/Nope.tap"}, 2,
       "--load /mnt/hd/ProgramFiles/Nope.tap: no such plug-in file in the receiver root"},
      {{"--root", root, "--warn-event-ms", "0"}, 2, "bad value for --warn-event-ms"},
      {{"--root"}, 2, "needs a value"},
      {{(tmp.path / "missing.tap").string()}, 2, "no receiver root folder"},
      {{"--root", root, (tmp.path / "missing.tap").string()}, 2, "plug-in file not found"},
      {{"--root", root, (tmp.path / "notes.tap").string()}, 2, "not a plug-in file (no ELF shared object)"},
      {{"--root", root, "--firmware-module", (tmp.path / "none.so").string(), TapFile("TickWaiter.tap").string()},
       70, "cannot load the firmware functions module"},
      {{"--root", root}, 2, "no plug-in to run"},
      {{"--root", root, "--mount", "/mnt/sdb1=" + (tmp.path / "nothere").string(), TapFile("TickWaiter.tap").string()},
       2, "the host folder of --mount /mnt/sdb1 does not exist"},
  };
  // clang-format on
  for (const Case &c : cases) {
    RunResult r = RunReceiver(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    // a refused command line leaves nothing behind
    if (c.exitCode == 2) {
      EXPECT_FALSE(fs::exists(root)) << c.message;
    }
  }
}

// A plug-in file that cannot run in this receiver is refused before the run
// with what to do: one built for another CPU, and (in the cross build, which
// has them) the receiver flavour outside a root of "/".
TEST(ReceiverProgram, RefusesPluginFilesThatCannotRunInThisReceiver)
{
  TempDir tmp;
  const std::string root = (tmp.path / "root").string();
  std::string foreign = ReadHostFile(TapFile("TickWaiter.tap"));
  ASSERT_GT(foreign.size(), 20u);
  foreign[18] = static_cast<char>(183);  // e_machine: AArch64, no CPU of this project's
  foreign[19] = 0;
  std::ofstream(tmp.path / "Foreign.tap", std::ios::binary) << foreign;
  struct Case {
    std::vector<std::string> args;
    const char *message;
  };
  std::vector<Case> cases = {
      {{"--root", root, (tmp.path / "Foreign.tap").string()}, "is built for the AArch64 CPU, not for this one"}};
  const fs::path receiverFlavour = ReceiverTapFile("Ferrox.tap");
  if (!receiverFlavour.empty()) {
    cases.push_back({{"--root", root, receiverFlavour.string()}, "is the receiver flavour of a plug-in"});
    cases.push_back({{"--root", root, receiverFlavour.string()}, "Run it with --root / on a machine laid out like"});
  }
  for (const Case &c : cases) {
    RunResult r = RunReceiver(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.message << "\n" << r.out << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(root)) << "nothing is made for a refused plug-in";
  }
}

// The simulator as a user installs it: the program with its firmware
// functions modules beside it and its fonts in fonts/, no build folder known.
TEST(ReceiverProgram, FindsItsFirmwareModuleAndFontsBesideItself)
{
  TempDir tmp;
  const fs::path inst = tmp.path / "ferrox-sim", bin = fs::path(FERROX_BIN_DIR);
  fs::create_directories(inst / "fonts");
  fs::copy_file(bin / "receiver", inst / "receiver");
  for (const auto &e : fs::directory_iterator(bin.parent_path() / "lib"))
    if (e.path().filename().string().rfind("ferrox_firmware", 0) == 0)
      fs::copy_file(e.path(), inst / e.path().filename());
  for (const auto &e : fs::directory_iterator(bin.parent_path() / "fonts"))
    fs::copy_file(e.path(), inst / "fonts" / e.path().filename());
  const fs::path root = tmp.path / "root";
  RunResult r = RunReceiverAt(inst / "receiver", {"--root", root.string(), TapFile("TickWaiter.tap").string()});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("7 fonts put into /mnt/hd/ProgramFiles/Settings/Fonts"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(root / "mnt/hd/ProgramFiles/Settings/Fonts/Calibri_14.ufnt"));
  // without them beside it, it says where it looked
  fs::remove_all(inst / "fonts");
  for (const auto &e : fs::directory_iterator(inst))
    if (e.path().extension() == ".so") fs::remove(e.path());
  RunResult bare =
      RunReceiverAt(inst / "receiver", {"--root", (tmp.path / "r2").string(), TapFile("TickWaiter.tap").string()});
  EXPECT_EQ(bare.exitCode, 70) << bare.err;
  EXPECT_NE(bare.err.find("cannot load the firmware functions module " + (inst / "ferrox_firmware.so").string()),
            std::string::npos)
      << bare.err;
}

TEST(ReceiverProgram, RunsAPluginUntilItUnloads)
{
  TempDir tmp;
  const fs::path root = tmp.path / "root";
  fs::create_directories(root / "mnt/hd/ProgramFiles");
  std::ofstream(root / "mnt/hd/ProgramFiles/TickWaiter.cfg") << "250";
  RunResult r = RunReceiver(
      {"--root", root.string(), "--date", "2016-02-29", "--time", "23:59:58", TapFile("TickWaiter.tap").string()});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("TickWaiter: started at 2016-02-29 23:59:58 in /ProgramFiles"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("waited 250 ticks"), std::string::npos) << r.out;
  const std::vector<std::string> phases = {"phase: sandbox ready", "phase: plug-in loaded", "phase: TAP_Main",
                                           "phase: idle loop",     "phase: unload",         "phase: exit"};
  size_t at = 0;
  for (const std::string &p : phases) {
    at = r.out.find(p, at);
    ASSERT_NE(at, std::string::npos) << p << " missing or out of order:\n" << r.out;
  }
  EXPECT_TRUE(fs::exists(root / "mnt/hd/ProgramFiles/TickWaiter.tap")) << "installed into ProgramFiles";
}

TEST(ReceiverProgram, FailsWhenPluginsOutlastTheTimeAndStopsOnTheStopEvent)
{
  TempDir tmp;
  const fs::path root = tmp.path / "root";
  fs::create_directories(root / "mnt/hd/ProgramFiles");
  std::ofstream(root / "mnt/hd/ProgramFiles/TickWaiter.cfg") << "100000";
  const std::string tap = TapFile("TickWaiter.tap").string();
  RunResult late = RunReceiver({"--root", root.string(), "--seconds", "2", "--quiet", tap});
  EXPECT_EQ(late.exitCode, 1);
  EXPECT_NE(late.err.find("1 plug-in(s) still loaded after 2 s"), std::string::npos) << late.err;
  RunResult stopped = RunReceiver({"--root", root.string(), "--stop-event-at", "1.5", "--quiet", tap});
  EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
  EXPECT_NE(stopped.out.find("stop event, ending"), std::string::npos) << stopped.out;
  EXPECT_NE(stopped.out.find("after 151 ticks"), std::string::npos) << stopped.out;
  RunResult timed = RunReceiver({"--root", root.string(), "--until", "time", "--seconds", "3", "--quiet", tap});
  EXPECT_EQ(timed.exitCode, 0) << timed.err;
  EXPECT_NE(timed.out.find("after 300 ticks (3 s), 1 plug-in(s) loaded"), std::string::npos) << timed.out;
}

TEST(ReceiverOptions, ValuesReachTheConfiguration)
{
  TempDir tmp;
  const std::string keys = (tmp.path / "keys").string();
  std::ofstream(keys) << "# seconds key\n1.5 Ok\n\n3 0x10017  # Exit\n";
  const fs::path usb = tmp.path / "usb", nas = tmp.path / "nas";
  fs::create_directories(usb);
  fs::create_directories(nas);
  const std::string tap = (tmp.path / "Ferrox.tap").string();
  fs::copy_file(TapFile("TickWaiter.tap"), tap);  // the parser looks at its first bytes
  sim::RunOptions o;
  std::string error;
  ASSERT_EQ(sim::ParseOptions({"--root=/tmp/r",
                               "--mount",
                               "/mnt/sdb1=" + usb.string() + "@2-9.5",
                               "--mount",
                               "/mnt/hd/DataFiles/NAS-Share=" + nas.string(),
                               "--clock",
                               "real",
                               "--date",
                               "2020-02-29",
                               "--time",
                               "06:07",
                               "--uptime",
                               "42.5",
                               "--key",
                               "Red@4",
                               "--keys-file",
                               keys,
                               "--terminals",
                               "0,5",
                               "--mem-limit",
                               "5000,1000",
                               "--system-id",
                               "0x5C1A",
                               "--utf8-firmware",
                               "--missing-symbol",
                               "_osdInfo",
                               "--firmware-module",
                               "noexec",
                               "--fail-writes",
                               "/mnt/sdb1=1024",
                               "--play",
                               "/mnt/hd/DataFiles/a.rec@5",
                               "--record",
                               "1=/mnt/hd/DataFiles/b.rec",
                               "--until",
                               "time",
                               "--seconds",
                               "7",
                               tap},
                              &o, &error),
            0)
      << error;
  const sim::Config &c = o.config;
  EXPECT_EQ(c.root, "/tmp/r");
  ASSERT_EQ(c.mounts.size(), 2u);
  EXPECT_EQ(c.mounts[0].receiverPath, "/mnt/sdb1");
  EXPECT_EQ(c.mounts[0].hostPath, usb);
  EXPECT_EQ(c.mounts[0].appearAt, 2);
  EXPECT_EQ(c.mounts[0].vanishAt, 9.5);
  EXPECT_EQ(c.mounts[1].vanishAt, -1);
  EXPECT_EQ(c.clock, sim::ClockMode::Real);
  EXPECT_EQ(c.year * 10000 + c.month * 100 + c.day, 20200229);
  EXPECT_EQ(c.hour * 3600 + c.minute * 60 + c.second, 6 * 3600 + 7 * 60);
  EXPECT_EQ(c.uptimeAtStart, 42.5);
  ASSERT_EQ(o.keys.size(), 3u);
  EXPECT_EQ(o.keys[0].key, static_cast<dword>(RKEY_Red));
  EXPECT_EQ(o.keys[1].at, 1.5);
  EXPECT_EQ(o.keys[2].key, static_cast<dword>(RKEY_Exit));
  EXPECT_EQ(c.openTerminals, (std::vector<int>{0, 5}));
  EXPECT_EQ(c.memTotalLimit, 5000u);
  EXPECT_EQ(c.memBlockLimit, 1000u);
  EXPECT_EQ(c.systemId, 0x5C1Au);
  EXPECT_TRUE(c.utf8Firmware);
  EXPECT_EQ(c.missingSymbols, std::vector<std::string>{"_osdInfo"});
  EXPECT_EQ(c.firmwareModule, "noexec");
  EXPECT_EQ(o.writeFaults.at(0).second, 1024u);
  EXPECT_EQ(o.playMode, 5);
  EXPECT_EQ(o.recordings.at(0).first, 1);
  EXPECT_FALSE(o.untilUnloaded);
  EXPECT_EQ(o.seconds, 7);
}

TEST(ReceiverOptions, BadValuesAreRefused)
{
  // clang-format off
  const std::vector<std::vector<std::string>> cases = {
      {"--root", "/r", "--date", "2015-13-01"}, {"--root", "/r", "--time", "24:00"},
      {"--root", "/r", "--terminals", "20"},    {"--root", "/r", "--mem-limit", "-5"},
      {"--root", "/r", "--record", "16=/x"},    {"--root", "/r", "--seconds", "soon"},
      {"--root", "/r", "--mount", "/a=/b@x"},   {"--root", "/r", "--until", "forever"},
      // no calendar date, trailing words, and run times the tick counter cannot hold
      {"--root", "/r", "--date", "2015-02-31"}, {"--root", "/r", "--date", "2015-12-20x"},
      {"--root", "/r", "--date", "2038-04-23"}, {"--root", "/r", "--time", "06:07x"},
      {"--root", "/r", "--seconds", "inf"},     {"--root", "/r", "--seconds", "1e12"},
      {"--root", "/r", "--key", "Ok@nan"}};
  // clang-format on
  for (const auto &args : cases) {
    sim::RunOptions o;
    std::string error;
    EXPECT_EQ(sim::ParseOptions(args, &o, &error), 2) << args.back();
    EXPECT_NE(error.find("bad value"), std::string::npos) << error;
  }
}

}  // namespace

TEST(ReceiverProgram, PutsTheStandardFontsIntoARootThatHasNone)
{
  TempDir tmp;
  const fs::path fonts = "mnt/hd/ProgramFiles/Settings/Fonts";
  const std::string tap = TapFile("TickWaiter.tap").string();
  struct Case {
    const char *what;
    std::vector<std::string> options;
    bool ownFontBefore;  // the root already has a Fonts folder with one font
    int exitCode;
    std::vector<std::string> fontsAfter;
    // clang-format off
  } cases[] = {
      {"new root", {}, false, 0, {"Calibri_10.ufnt", "Calibri_12.ufnt", "Calibri_14.ufnt", "Calibri_16.ufnt",
                                  "Calibri_18.ufnt", "Calibri_20.ufnt", "Calibri_20B.ufnt"}},
      {"fonts of the user kept", {}, true, 0, {"Mine.ufnt"}},
      {"none asked for", {"--fonts", "none"}, false, 0, {}},
      {"a folder given", {"--fonts", (tmp.path / "myfonts").string()}, true, 0, {"Mine.ufnt", "Other.ufnt"}},
      {"a folder that is not there", {"--fonts", (tmp.path / "nothere").string()}, false, 2, {}},
  };
  // clang-format on
  fs::create_directories(tmp.path / "myfonts");
  std::ofstream(tmp.path / "myfonts/Other.ufnt") << "UFNT";
  std::ofstream(tmp.path / "myfonts/readme.txt") << "not a font";
  int n = 0;
  for (const Case &c : cases) {
    const fs::path root = tmp.path / ("root" + std::to_string(n++));
    fs::create_directories(root / "mnt/hd/ProgramFiles");
    std::ofstream(root / "mnt/hd/ProgramFiles/TickWaiter.cfg") << "5";
    if (c.ownFontBefore) {
      fs::create_directories(root / fonts);
      std::ofstream(root / fonts / "Mine.ufnt") << "UFNT";
    }
    std::vector<std::string> args = {"--root", root.string(), "--quiet"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(tap);
    RunResult r = RunReceiver(args);
    EXPECT_EQ(c.exitCode, r.exitCode) << c.what << "\n" << r.err;
    EXPECT_EQ(c.fontsAfter, HostTree(root / fonts)) << c.what;
    if (c.exitCode == 2) {
      EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
    }
  }
}

TEST(ReceiverProgram, ReportsTheLongestEventHandlerCallOfEachPlugin)
{
  TempDir tmp;
  const fs::path root = tmp.path / "root";
  fs::create_directories(root / "mnt/hd/ProgramFiles");
  std::ofstream(root / "mnt/hd/ProgramFiles/TickWaiter.cfg") << "20";
  RunResult r = RunReceiver(
      {"--root", root.string(), "--quiet", "--warn-event-ms", "0.000001", TapFile("TickWaiter.tap").string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("/mnt/hd/ProgramFiles/TickWaiter.tap: 2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("event handler calls"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("longest"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("TickWaiter.tap: event 0x0000 took"), std::string::npos) << "every call is longer than that";
}

namespace {

// Each mistake of the faulty plug-in fails the run with a line that names
// the plug-in and the call; --lenient lets the same run pass with a warning.
TEST(ReceiverProgram, PluginMistakesFailTheRunUnlessLenient)
{
  struct Case {
    int fault;
    std::string call;
    std::string detail;
  } cases[] = {{1, "TAP_MemFree", ""},
               {2, "TAP_MemFree", ""},
               {3, "TAP_Hdd_Fclose", ""},
               {4, "TAP_Hdd_Fread", ""},
               {5, "OS_Fclose", ""},
               {6, "OS_Fwrite", ""},
               {7, "TAP_EventHandler", "event 0x0000 returned with the call trace at level 1; it was 0 "}};
  for (const Case &c : cases) {
    TempDir tmp;
    const fs::path root = tmp.path / "root";
    fs::create_directories(root / "mnt/hd/ProgramFiles");
    std::ofstream(root / "mnt/hd/ProgramFiles/Faulty.cfg") << c.fault;
    const std::vector<std::string> run = {"--root", root.string(), "--quiet", TapFile("Faulty.tap").string()};
    RunResult strict = RunReceiver(run);
    EXPECT_EQ(strict.exitCode, 1) << c.fault << strict.err;
    EXPECT_NE(strict.err.find("receiver: error: /mnt/hd/ProgramFiles/Faulty.tap: " + c.call + ": " + c.detail),
              std::string::npos)
        << c.fault << strict.err;
    EXPECT_NE(strict.err.find("plug-in error(s) in this run; it fails"), std::string::npos) << strict.err;
    EXPECT_NE(strict.out.find("Faulty.tap: loaded at tick 0, ended itself (TAP_Exit)"), std::string::npos)
        << "the run goes on after the mistake: " << strict.out;

    std::vector<std::string> lenient = run;
    lenient.insert(lenient.begin(), "--lenient");
    RunResult r = RunReceiver(lenient);
    EXPECT_EQ(r.exitCode, 0) << c.fault << r.err;
    EXPECT_NE(r.err.find("receiver: warning: " + c.call + ": "), std::string::npos) << c.fault << r.err;
  }
  // A plug-in that ends (or is unloaded at the run's end) while a thread of
  // its own still runs: its code stays mapped for the thread, which would
  // otherwise return into unmapped memory and bring the receiver down.
  for (const char *until : {"unloaded", "time"}) {
    TempDir tmp;
    const fs::path root = tmp.path / "root";
    fs::create_directories(root / "mnt/hd/ProgramFiles");
    std::ofstream(root / "mnt/hd/ProgramFiles/Faulty.cfg") << 9;
    RunResult r = RunReceiver(
        {"--root", root.string(), "--quiet", "--until", until, "--seconds", "2", TapFile("Faulty.tap").string()});
    EXPECT_EQ(r.exitCode, 0) << until << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("Faulty.tap: loaded at tick 0, ended itself (TAP_Exit)"), std::string::npos) << r.out;
  }
  // without a mistake the run passes
  TempDir tmp;
  RunResult clean = RunReceiver({"--root", (tmp.path / "r").string(), "--quiet", TapFile("Faulty.tap").string()});
  EXPECT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_EQ(clean.err.find("error"), std::string::npos) << clean.err;
}

}  // namespace
