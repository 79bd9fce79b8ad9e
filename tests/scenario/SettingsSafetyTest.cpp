// SettingsSafetyTest.cpp -- what the receiver meets that could cost the
// settings or a recording: a full or read-only settings folder, a settings
// file that is no plain text, job files aimed at the receiver's own files,
// and a stray companion in the way of a gathered recording. After each the
// user's old settings file is there byte for byte (or the whole new one) and
// every recording exists whole.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ScenarioFixture.h"

namespace {

const std::string kIni = std::string(kFerroxFolder) + "/Ferrox.ini";

// A user's settings file with notes of their own.
const std::string kUserIni =
    "; Ferrox - my settings, edited by hand\r\n"
    "; speed 2 keeps the picture smooth while recording\r\n"
    "CopySpeed=2\r\nMountType=0\r\nMoveDir=/mnt/hd/DataFiles/MoveToNAS\r\n"
    "DestDir=/mnt/hd/DataFiles/NAS-Share\r\nMove=0\r\nNASBootTime=120\r\nSpecChar=0\r\nDelDEC=1\r\n"
    "MountedDirSource=0\r\nMountedDirDest=1\r\nStopMountTAP=0\r\nSetTSLink=0\r\nLogLenth=0\r\n"
    "CopyAllFiles=0\r\nShowResult=1\r\n";

class SettingsSafety : public ScenarioTest {
 protected:
  void SetUp() override
  {
    ScenarioTest::SetUp();
    InstallTap("FerroxSetup.tap");
    fs::create_directories(Host(kMoveToNAS));
  }
  std::string Ini() const { return ReadFile(kIni); }
  // The setup alone with keys, the console on standard output.
  RunResult RunSetup(std::vector<std::string> keys, std::vector<std::string> extra = {})
  {
    std::vector<std::string> args = {"--root",    root.string(),
                                     "--console", "-",
                                     "--mount",   std::string(kNASShare) + "=" + share.string(),
                                     "--load",    "/mnt/hd/ProgramFiles/FerroxSetup.tap"};
    for (const std::string &k : keys) args.insert(args.end(), {"--key", k});
    args.insert(args.end(), extra.begin(), extra.end());
    return RunReceiver(args);
  }
  // The tick at which the setup ended itself, from the run's report.
  static long SetupEndTick(const std::string &out)
  {
    size_t at = out.find("FerroxSetup.tap: loaded at tick 0, ended itself (TAP_Exit) at tick ");
    return at == std::string::npos ? -1 : std::stol(out.substr(out.find(" at tick ", at + 40) + 9));
  }
};

// The copy service opens the setup on settings it cannot use: the setup
// says why, and leaving it with Exit or Red keeps the file byte for byte,
// so that the next run asks again instead of copying to folders nobody
// chose.
TEST_F(SettingsSafety, TheSetupTheServiceOpensSaysWhyAndLeavingItKeepsTheFile)
{
  std::string same = kUserIni, internal = kUserIni;
  same.replace(same.find("DestDir=/mnt/hd/DataFiles/NAS-Share"), 35, "DestDir=/mnt/hd/DataFiles/MoveToNAS");
  internal.replace(internal.find("MountedDirDest=1"), 16, "MountedDirDest=0");
  struct Case {
    const char *what;
    std::string ini;  // empty: none, the service writes its first one
    const char *reason;
    // clang-format off
  } cases[] = {
      {"first start", "", "No folders are chosen yet: choose MoveDir and DestDir, then save (Green)."},
      {"one folder twice", same, "MoveDir and DestDir are the same folder: choose another DestDir."},
      {"no mount point", internal, "No folder is a mount point: choose the share or drive while it is mounted (yellow)."},
  };
  // clang-format on
  const std::string tkLog = "/mnt/hd/ProgramFiles/Settings/TKLib.log";
  for (const Case &c : cases) {
    for (const char *key : {"Exit@20", "Red@20"}) {
      SCOPED_TRACE(std::string(c.what) + ", " + key);
      fs::remove_all(Host(kFerroxFolder));
      WriteFile(tkLog, "");
      if (!c.ini.empty()) WriteFile(kIni, c.ini);
      RunResult first = Run({"--key", key});
      ASSERT_EQ(0, first.exitCode) << first.out << first.err;
      const std::string after = Ini();
      if (c.ini.empty()) {
        EXPECT_NE(std::string::npos, after.find("MoveDir=\r\nDestDir=\r\n")) << after;
        EXPECT_NE(std::string::npos, after.find("CopySpeed=10\r\n")) << after;
      } else {
        EXPECT_EQ(after, c.ini) << "the service's write-back of a whole file is the file";
      }
      EXPECT_NE(std::string::npos,
                ReadFile(tkLog).find(std::string("the copy service cannot use the settings: ") + c.reason))
          << ReadFile(tkLog);
      // the next run finds the same and asks again (its own write-back
      // brings the first start's speed of 10 into its range)
      RunResult second = Run({"--key", key});
      ASSERT_EQ(0, second.exitCode) << second.out << second.err;
      if (!c.ini.empty()) {
        EXPECT_EQ(Ini(), after);
      }
      EXPECT_NE(std::string::npos, Ini().find(c.ini.empty() ? "MoveDir=\r\nDestDir=\r\n" : "MoveDir=/mnt/hd/"))
          << Ini();
      size_t asked = 0;
      for (size_t at = 0; (at = ReadFile(tkLog).find(c.reason, at)) != std::string::npos; at++) asked++;
      EXPECT_EQ(asked, 2u) << ReadFile(tkLog);
      EXPECT_FALSE(LogHas("0 files ready for processing.")) << Log();
    }
  }
  // started from the plug-in list, the setup shows no reason, and leaving
  // it makes no file where there was none
  fs::remove_all(Host(kFerroxFolder));
  WriteFile(tkLog, "");
  RunResult alone = RunSetup({"Exit@2"});
  ASSERT_EQ(0, alone.exitCode) << alone.out << alone.err;
  EXPECT_FALSE(Exists(kIni));
  EXPECT_EQ(std::string::npos, ReadFile(tkLog).find("cannot use the settings"));
}

// A settings folder that takes no more bytes: whatever the run and however
// little room is left, the old file stays byte for byte (or the whole new
// one is there), no spare file is left, and the failed save is reported.
TEST_F(SettingsSafety, AFullDiskNeverCostsTheSettings)
{
  struct Action {
    const char *what;
    std::vector<std::string> keys;  // setup keys; empty: a run of the copy service
  };
  const std::vector<Action> actions = {{"copy service run", {}},
                                       {"setup left with Exit", {"Exit@2"}},
                                       {"setup saved with Green", {"Right@1", "Green@2"}}};
  for (const Action &a : actions) {
    for (unsigned long long room : {0ull, 1ull, 100ull, 311ull, 312ull, 500ull, 700ull}) {
      SCOPED_TRACE(std::string(a.what) + ", room for " + std::to_string(room) + " bytes");
      fs::remove_all(Host(kFerroxFolder));
      WriteFile(kIni, kUserIni);
      const std::vector<std::string> fault = {"--fail-writes", std::string(kFerroxFolder) + "=" + std::to_string(room)};
      std::vector<std::string> serviceArgs = fault;
      serviceArgs.insert(serviceArgs.end(), {"--console", "-"});
      RunResult r = a.keys.empty() ? Run(serviceArgs) : RunSetup(a.keys, fault);
      EXPECT_EQ(0, r.exitCode) << r.out << r.err;
      const std::string ini = Ini();
      const bool reported =
          r.out.find("Settings: /ProgramFiles/Settings/Ferrox/Ferrox.ini not saved: the disk is full") !=
          std::string::npos;
      if (reported) {
        EXPECT_EQ(kUserIni, ini) << "a save that could not be done leaves the old file";
      } else {
        // only a complete new text takes the old one's place
        EXPECT_NE(std::string::npos, ini.find("; speed 2 keeps the picture smooth")) << ini;
        EXPECT_NE(std::string::npos, ini.find("CopyAllFiles=")) << ini;
        EXPECT_EQ(ini.size() >= 2 ? ini.substr(ini.size() - 2) : "", "\r\n") << ini;
      }
      EXPECT_FALSE(Exists(kIni + ".new"));
      if (std::string(a.what) == "setup left with Exit") {
        // leaving writes nothing at all
        EXPECT_FALSE(reported) << r.out;
        EXPECT_EQ(kUserIni, ini);
      } else if (room == 0) {
        EXPECT_TRUE(reported) << r.out;
      }
    }
  }
  // the next run finds the settings as the user left them: no setup, speed 2
  fs::remove_all(Host(kFerroxFolder));
  WriteFile(kIni, kUserIni);
  Run({"--fail-writes", std::string(kFerroxFolder) + "=0"});
  RunResult next = Run();
  ASSERT_EQ(0, next.exitCode) << next.out << next.err;
  EXPECT_NE(std::string::npos, Ini().find("CopySpeed=2\r\nMountType=0")) << Ini();
  EXPECT_NE(std::string::npos, Ini().find("NASBootTime=120")) << Ini();
}

// The setup tells the user in a window that stays a few seconds; without a
// fault it ends at once after Green.
TEST_F(SettingsSafety, TheSetupShowsAFailedSave)
{
  WriteFile(kIni, kUserIni);
  RunResult fine = RunSetup({"Green@1"});
  WriteFile(kIni, kUserIni);
  RunResult full = RunSetup({"Green@1"}, {"--fail-writes", std::string(kFerroxFolder) + "=0"});
  const long fineEnd = SetupEndTick(fine.out), fullEnd = SetupEndTick(full.out);
  ASSERT_GT(fineEnd, 0) << fine.out;
  ASSERT_GT(fullEnd, 0) << full.out;
  EXPECT_EQ(fineEnd + 500, fullEnd) << "the window stays 5 seconds";
  EXPECT_EQ(kUserIni, Ini());
}

// A settings folder the receiver may not write to (mode 555) holding a
// writable file: the save fails and says so; the file is never written over.
TEST_F(SettingsSafety, AReadOnlySettingsFolderKeepsTheFileWhole)
{
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the receiver as another user through setpriv";
  std::error_code ec;
  const fs::path setpriv = "/usr/bin/setpriv";
  if (!fs::exists(setpriv, ec)) GTEST_SKIP() << "setpriv (util-linux) is missing";
  WriteFile(kIni, kUserIni);
  WriteFile("/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.log", "");
  // the user "nobody" may read the whole root and write the file, not the folder
  for (const auto &e : fs::recursive_directory_iterator(root))
    fs::permissions(e.path(), e.is_directory() ? fs::perms(0777) : fs::perms(0666), ec);
  fs::permissions(root, fs::perms(0777), ec);
  for (fs::path p = root.parent_path(); p != p.root_path(); p = p.parent_path())
    fs::permissions(p, fs::perms::others_exec, fs::perm_options::add, ec);
  fs::permissions(Host(kFerroxFolder), fs::perms(0555), ec);
  std::vector<std::string> words =
      ReceiverCommandLine({"--root", root.string(), "--console", "-", "--load", "/mnt/hd/ProgramFiles/FerroxSetup.tap",
                           "--key", "Right@1", "--key", "Green@2"});
  std::string command =
      setpriv.string() + " --reuid=65534 --regid=65534 --clear-groups env TMPDIR=" + root.string() + " ";
  for (const std::string &w : words) command += "'" + w + "' ";
  command += "> " + (root / "out.txt").string() + " 2>&1";
  int status = std::system(command.c_str());
  std::string out = ReadHostFile(root / "out.txt");
  fs::permissions(Host(kFerroxFolder), fs::perms(0755), ec);
  ASSERT_EQ(0, WEXITSTATUS(status)) << out;
  EXPECT_EQ(kUserIni, Ini()) << "the old text is never written over";
  EXPECT_FALSE(Exists(kIni + ".new"));
  EXPECT_NE(std::string::npos, out.find("Ferrox.ini not saved: the folder takes no new file (read-only?)")) << out;
}

// A file the store cannot hold as text (UTF-16 from a PC editor, a NUL byte
// in a note) is read as far as it goes, named in the log and never written
// back: the user's bytes and settings stay.
TEST_F(SettingsSafety, ASettingsFileThatIsNoPlainTextIsNeverWrittenBack)
{
  std::string utf16 = "\xFF\xFE";
  for (char c : kUserIni) utf16 += std::string(1, c) + '\0';
  const std::string nul = kUserIni + std::string("; a last note\0 and more\r\n", 25);
  struct Case {
    const char *what;
    std::string file;
    const char *problem;
    // clang-format off
  } cases[] = {
      {"UTF-16", utf16, "is saved as UTF-16 (\"Unicode\"), not as plain text"},
      {"NUL byte in a note", nul, "holds a NUL byte, which no text file has"},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Host(kFerroxFolder));
    WriteFile(kIni, c.file);
    RunResult r = Run({"--console", "-"});
    EXPECT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_EQ(c.file, Ini()) << "the user's bytes stay";
    EXPECT_FALSE(Exists(kIni + ".new"));
    EXPECT_TRUE(LogHas(std::string("Settings: /ProgramFiles/Settings/Ferrox/Ferrox.ini ") + c.problem +
                       ": read as far as it goes and not written back; save it as plain text"))
        << Log();
    EXPECT_EQ(1u, LogCount(std::string("Settings: /ProgramFiles/Settings/Ferrox/Ferrox.ini ") + c.problem +
                           ": read as far as it goes and not written back; save it as plain text"));
    // the setup does not write it either, and says why
    RunResult setup = RunSetup({"Green@1"});
    EXPECT_EQ(c.file, Ini());
    EXPECT_NE(std::string::npos, setup.out.find("not saved: the file is no plain text and is left as it is"))
        << setup.out;
  }
}

// Job files aimed at the receiver's plug-ins and settings are refused and go
// to the fail folder; the settings file stays where it is.
TEST_F(SettingsSafety, NoJobTouchesTheReceiversOwnFiles)
{
  struct Case {
    const char *what;
    std::string file, sdir, ddir;
    const char *reason;
  };
  const std::string dest = std::string(kNASShare);
  // clang-format off
  const std::vector<Case> cases = {
      {"settings moved away", "Ferrox.ini", "/mnt/hd/ProgramFiles/Settings/Ferrox", dest, "SDIR lies in /mnt/hd/ProgramFiles"},
      {"plug-in moved away", "Ferrox.tap", "/mnt/hd/ProgramFiles", dest, "SDIR lies in /mnt/hd/ProgramFiles"},
      {"the same by a double slash", "Ferrox.ini", "/mnt/hd//ProgramFiles/./Settings/Ferrox", dest,
       "SDIR lies in /mnt/hd/ProgramFiles"},
      {"a file planted among the plug-ins", "Film.rec", "/mnt/hd/DataFiles/Filme", "/mnt/hd/ProgramFiles",
       "DDIR lies in /mnt/hd/ProgramFiles"},
  };
  // clang-format on
  WriteRecording("/mnt/hd/DataFiles/Filme/Film.rec", 10'000, 3, LocalTime(2015, 12, 1));
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteShareSettings({"Move=0"});
    const std::string before = Ini();
    const std::string job = "Job" + std::to_string(n++) + ".frx";
    WriteJob(job, c.file, c.sdir, c.ddir, 1);
    RunResult r = Run();
    EXPECT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_TRUE(LogHas("ERROR JobFile " + job + ": " + c.reason +
                       (c.reason[0] == 'S' ? ", the receiver's plug-ins and settings, which no job moves"
                                           : ", the receiver's plug-ins and settings, where no job writes")))
        << Log();
    EXPECT_TRUE(Exists(std::string(kFerroxFolder) + "/JobFail/" + job));
    EXPECT_TRUE(Exists(kIni));
    EXPECT_TRUE(Exists("/mnt/hd/ProgramFiles/Ferrox.tap"));
    EXPECT_FALSE(Exists("/mnt/hd/ProgramFiles/Film.rec"));
    EXPECT_EQ(before.find("Move=0"), Ini().find("Move=0")) << "the job's move flag never reaches the file";
    EXPECT_NE(std::string::npos, Ini().find("MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\n")) << Ini();
  }
}

// Gathering with CopyAllFiles: a stray companion of the same name in the
// source folder is a clash like the recording itself; nothing is renamed
// over it, and both the recording and the stray file's bytes arrive.
TEST_F(SettingsSafety, AGatheredRecordingNeverTakesAStrayCompanionsPlace)
{
  WriteShareSettings({"CopyAllFiles=1"});
  WriteRecording("/mnt/hd/DataFiles/X.rec", 30'000, 5, LocalTime(2015, 12, 1));
  const std::string orphan(40'000, 'o');
  WriteFile(std::string(kMoveToNAS) + "/X.rec.nav", orphan);
  const std::string rec = ReadFile("/mnt/hd/DataFiles/X.rec");
  RunResult r = Run();
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  EXPECT_EQ(orphan, ReadFile(std::string(kMoveToNAS) + "/X.rec.nav")) << "the stray file keeps its bytes";
  EXPECT_EQ(rec, ReadFile(std::string(kMoveToNAS) + "/X-2.rec"));
  EXPECT_EQ(rec, ReadHostFile(share / "X-2.rec")) << Log();
  EXPECT_TRUE(fs::exists(share / "X-2.rec.inf"));
}

}  // namespace

namespace {

// A name that grows while it is cleaned (each Latin-1 "ä" spelt "ae") is
// shortened to fit with its companions, keeps its extension, is numbered on
// a clash and arrives whole with them; the log says so. The source name,
// 128 bytes, takes ".inf" and ".nav" as every name the disk holds does.
TEST_F(SettingsSafety, ANameTooLongForTheDriveArrivesShortened)
{
  WriteShareSettings({"SpecChar=1", "MountType=1", "Move=1"});
  const std::string latin(124, '\xE4');
  WriteRecording(std::string(kMoveToNAS) + "/" + latin + ".rec", 50'000, 7, LocalTime(2015, 12, 1));
  WriteRecording(std::string(kMoveToNAS) + "/" + latin + "x.rec", 60'000, 8, LocalTime(2015, 12, 2));
  std::map<std::string, std::string> before;
  for (const std::string &f : Tree(Host(kMoveToNAS))) before[f] = ReadFile(std::string(kMoveToNAS) + "/" + f);
  RunResult r = Run();
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  std::string shortened;
  for (int i = 0; i < 61; i++) shortened += "ae";
  const std::vector<std::string> expected = {shortened + ".rec",
                                             shortened + ".rec.inf",
                                             shortened + ".rec.nav",
                                             shortened.substr(0, 120) + "-1.rec",
                                             shortened.substr(0, 120) + "-1.rec.inf",
                                             shortened.substr(0, 120) + "-1.rec.nav"};
  for (const std::string &f : expected)
    EXPECT_TRUE(fs::exists(share / f)) << f << "\n" << ::testing::PrintToString(Tree(share)) << "\n" << Log();
  EXPECT_TRUE(before[latin + ".rec"] == ReadHostFile(share / expected[0]));
  EXPECT_TRUE(before[latin + "x.rec"] == ReadHostFile(share / expected[3]));
  EXPECT_TRUE(before[latin + "x.rec.inf"] == ReadHostFile(share / expected[4]));
  EXPECT_TRUE(LogHas("Destination name shortened to fit with its companions: '" + shortened + ".rec'")) << Log();
  EXPECT_TRUE(Tree(Host(kMoveToNAS)).empty()) << "both moved";
  EXPECT_TRUE(LogHas("Summary: 0 copied, 2 moved, 0 already complete, 0 failed, 0 skipped, 0.1 MB in 11 s")) << Log();
}

}  // namespace
