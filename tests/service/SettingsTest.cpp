// SettingsTest.cpp -- loading, normalising and saving "Ferrox.ini" with the
// copy service's profile, and the README's table of the settings.
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SettingsTestFixture.h"

namespace {

class SettingsTest : public CycleTest {
 protected:
  std::string Ini() const { return ReadFile(kIniPath); }
  bool IniHas(const std::string &line) const { return Ini().find(line + "\r\n") != std::string::npos; }
};

struct LoadCase {
  const char *what;
  std::string text;                  // file content
  std::vector<std::string> written;  // lines expected in the file afterwards
  int copySpeed, nasBootTime, mountType, mountedDirDest, delDEC, move;
};

void PrintTo(const LoadCase &c, std::ostream *os) { *os << c.what; }

class SettingsLoad : public SettingsTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(SettingsLoad, ReadsClampsNormalisesAndWritesBack)
{
  const LoadCase &c = GetParam();
  WriteFile(kIniPath, c.text);
  LoadINI();
  EXPECT_EQ(CopySpeed, c.copySpeed) << c.what;
  EXPECT_EQ(NASBootTime, c.nasBootTime) << c.what;
  EXPECT_EQ(MountType, c.mountType) << c.what;
  EXPECT_EQ(MountedDirDest, c.mountedDirDest) << c.what;
  EXPECT_EQ(DelDEC, c.delDEC) << c.what;
  EXPECT_EQ(move, c.move) << c.what;
  EXPECT_STREQ(STapfsRoot, "/mnt/hd");
  for (const std::string &line : c.written) EXPECT_TRUE(IniHas(line)) << c.what << ": " << line << "\n" << Ini();
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsLoad,
    ::testing::Values(
        LoadCase{"out of range",
                 "CopySpeed=9\r\nNASBootTime=0\r\nMountType=-1\r\n",
                 {"CopySpeed=4", "NASBootTime=1", "MountType=0", "MoveDir=/mnt/hd/DataFiles/MoveToNAS",
                  "DestDir=/mnt/hd/DataFiles/NAS-Share", "MountedDirDest=0", "LogLenth=0"},
                 4,
                 1,
                 0,
                 0,
                 1,
                 0},
        LoadCase{"bare folder name",
                 "MoveDir=Archive\r\nNASBootTime=300\r\n",
                 {"MoveDir=/mnt/hd/DataFiles/Archive", "NASBootTime=300"},
                 4,
                 300,
                 0,
                 0,
                 1,
                 0},
        // an absolute folder is kept as it is, the firmware's form of a
        // folder of the internal disk is made absolute, and no "//" is made
        LoadCase{"the disk's root stays", "DestDir=/mnt/hd\r\n", {"DestDir=/mnt/hd"}, 4, 90, 0, 0, 1, 0},
        LoadCase{"an absolute folder stays as it is",
                 "DestDir=/MNT/HD/x\r\nMoveDir=/mnt/sdb1/Backup\r\n",
                 {"DestDir=/MNT/HD/x", "MoveDir=/mnt/sdb1/Backup"},
                 4,
                 90,
                 0,
                 0,
                 1,
                 0},
        LoadCase{"the firmware's form",
                 "DestDir=/DataFiles/Archive\r\nMoveDir=/ProgramFiles\r\n",
                 {"DestDir=/mnt/hd/DataFiles/Archive", "MoveDir=/mnt/hd/ProgramFiles"},
                 4,
                 90,
                 0,
                 0,
                 1,
                 0},
        LoadCase{"a name like the firmware's top folder",
                 "DestDir=/DataFilesOld/x\r\n",
                 {"DestDir=/DataFilesOld/x"},
                 4,
                 90,
                 0,
                 0,
                 1,
                 0},
        LoadCase{"a folder below the recordings",
                 "DestDir=Serien/Krimi\r\n",
                 {"DestDir=/mnt/hd/DataFiles/Serien/Krimi"},
                 4,
                 90,
                 0,
                 0,
                 1,
                 0},
        // the state the copy service writes at its first start: not chosen yet
        LoadCase{"empty folders stay empty", "MoveDir=\r\nDestDir=\r\n", {"MoveDir=", "DestDir="}, 4, 90, 0, 0, 1, 0},
        LoadCase{"flags: any non-zero number is 1",
                 "Move=7\r\nDelDEC=0\r\nMountedDirDest=-3\r\n",
                 {"Move=1", "DelDEC=0", "MountedDirDest=1"},
                 4,
                 90,
                 0,
                 1,
                 0,
                 1},
        LoadCase{"unreadable numbers take the default",
                 "CopySpeed=fast\r\nMountType= 2\r\nMove=\r\n",
                 {"CopySpeed=4", "MountType=0", "Move=0"},
                 4,
                 90,
                 0,
                 0,
                 1,
                 0},
        LoadCase{"comments and foreign keys stay",
                 "; Ferrox settings\r\nColour=blue\r\nCopySpeed=2\r\n",
                 {"; Ferrox settings", "Colour=blue", "CopySpeed=2"},
                 2,
                 90,
                 0,
                 0,
                 1,
                 0}),
    [](const ::testing::TestParamInfo<LoadCase> &info) { return CaseName(info.param.what); });

TEST_F(SettingsTest, TyposAndValuesThatAreNoNumberAreNamedWithTheirLine)
{
  struct Case {
    std::string text;
    std::vector<std::string> said;  // toolkit log lines, in part
    std::vector<std::string> notSaid;
    // clang-format off
  } cases[] = {
      {"CopySped=2\r\nMovDir=Archiv\r\nlogLenth=1\r\n",
       {"line 1 of Ferrox.ini: unknown key 'CopySped' is ignored; CopySpeed meant?",
        "line 2 of Ferrox.ini: unknown key 'MovDir' is ignored; MoveDir meant?"},
       {"logLenth", "line 3"}},  // the case of a key does not matter
      {"; comment\r\n\r\nCopySpeed=fast\r\nMove=\r\nNASBootTime=-5\r\n",
       {"line 3 of Ferrox.ini: the value of CopySpeed is no number: 'fast'",
        "line 4 of Ferrox.ini: the value of Move is no number: ''"},
       {"NASBootTime is no number", "line 1", "line 2"}},
      // swapped letters are one slip; a key of another program is left alone
      {"Colour=blue\nMonutType=1\nDestDir=NAS\n",
       {"line 2 of Ferrox.ini: unknown key 'MonutType' is ignored; MountType meant?"},
       {"Colour", "DestDir"}},
  };
  // clang-format on
  for (const Case &c : cases) {
    WriteFile(kTkLog, "");
    WriteFile(kIniPath, c.text);
    LoadINI();
    std::string log = ToolkitLog();
    for (const std::string &line : c.said) EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    for (const std::string &text : c.notSaid) EXPECT_EQ(log.find(text), std::string::npos) << text << "\n" << log;
  }
}

TEST_F(SettingsTest, MissingFileIsWrittenFromTheStartingValuesUnnormalised)
{
  LoadINI();
  for (const char *line :
       {"CopySpeed=10", "MountType=0", "MoveDir=", "DestDir=", "Move=0", "NASBootTime=90", "SpecChar=0", "DelDEC=1",
        "MountedDirSource=0", "MountedDirDest=1", "StopMountTAP=0", "SetTSLink=0", "LogLenth=0", "CopyAllFiles=0"})
    EXPECT_TRUE(IniHas(line)) << line << "\n" << Ini();
  // keys in table order
  EXPECT_LT(Ini().find("CopySpeed="), Ini().find("MountType="));
  EXPECT_LT(Ini().find("LogLenth="), Ini().find("CopyAllFiles="));
  EXPECT_EQ(CopySpeed, 10);
  EXPECT_STREQ(MoveDir, "");

  // the next load keeps the folders not chosen yet, so that the run asks
  // for them again; the speed is brought into its range
  LoadINI();
  EXPECT_STREQ(MoveDir, "");
  EXPECT_STREQ(ShareDir, "");
  EXPECT_EQ(CopySpeed, 4);
  EXPECT_TRUE(IniHas("MoveDir=")) << Ini();
}

TEST_F(SettingsTest, FolderTooLongForThePrefixIsDroppedNotOverflowed)
{
  std::string longName(505, 'x');
  WriteFile(kIniPath, "MoveDir=" + longName + "\r\nDestDir=" + std::string(493, 'y') + "\r\n");
  LoadINI();
  EXPECT_STREQ(MoveDir, "");
  EXPECT_EQ(std::string(ShareDir), "/mnt/hd/DataFiles/" + std::string(493, 'y'));
  EXPECT_NE(ToolkitLog().find("MoveDir is too long for a folder"), std::string::npos) << ToolkitLog();
}

TEST_F(SettingsTest, FileThatCannotBeReadGivesDefaultsAndStaysAsItIs)
{
  MakeDir(std::string(kIniPath) + "/not-a-file");
  CopySpeed = 3;
  LoadINI();
  EXPECT_EQ(CopySpeed, 4);
  EXPECT_EQ(MountedDirDest, 0);
  EXPECT_STREQ(MoveDir, "/mnt/hd/DataFiles/MoveToNAS");
  EXPECT_TRUE(Exists(std::string(kIniPath) + "/not-a-file"));
  EXPECT_NE(ToolkitLog().find("cannot be read, defaults in use"), std::string::npos);
}

TEST_F(SettingsTest, JobChangesAreUndoneByLoadDefaultStrings)
{
  WriteFile(kIniPath, "MoveDir=/mnt/hd/DataFiles/A\r\nDestDir=B\r\nMove=0\r\n");
  LoadINI();
  std::strcpy(MoveDir, "/Filme");
  std::strcpy(ShareDir, "/mnt/sdb1/x");
  std::strcpy(STapfsRoot, "/mnt/sdb1");
  move = 1;
  LoadDefaultStrings();
  EXPECT_STREQ(MoveDir, "/mnt/hd/DataFiles/A");
  EXPECT_STREQ(ShareDir, "/mnt/hd/DataFiles/B");
  EXPECT_STREQ(STapfsRoot, "/mnt/hd");
  EXPECT_EQ(move, 0);
}

TEST_F(SettingsTest, LoadAndSaveKeepTheCurrentFolder)
{
  MakeDir("/mnt/hd/DataFiles/Work");
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles/Work"));
  LoadINI();
  SaveINI();
  CreateSettingsDir();
  EXPECT_EQ(Rx().CurrentFolder(hostSlot), "/mnt/hd/DataFiles/Work");
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/Work/Ferrox.ini"));
}

TEST_F(SettingsTest, CreateSettingsDirMakesBothFolders)
{
  std::error_code ec;
  fs::remove_all(Host("/mnt/hd/ProgramFiles/Settings"), ec);
  CreateSettingsDir();
  EXPECT_TRUE(fs::is_directory(Host("/mnt/hd/ProgramFiles/Settings/Ferrox")));
}

}  // namespace

namespace {

// The README's table of settings says what the settings table holds: every
// key, its values, its value when missing and at the first run.
TEST(SettingsReadme, TheReadmeTableAgreesWithTheSettingsTable)
{
  std::ifstream in(std::string(FERROX_SOURCE_DIR) + "/README.md");
  std::string line;
  std::map<std::string, std::vector<std::string>> rows;  // key -> values, missing, first run
  std::vector<std::string> merged;                       // keys sharing a row
  auto unquote = [](std::string cell) {
    std::erase(cell, '`');
    while (!cell.empty() && cell.front() == ' ') cell.erase(0, 1);
    while (!cell.empty() && cell.back() == ' ') cell.pop_back();
    return cell;
  };
  while (std::getline(in, line)) {
    if (line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::stringstream row(line.substr(1));
    std::string cell;
    while (std::getline(row, cell, '|')) cells.push_back(unquote(cell));
    if (cells.size() < 5) continue;
    std::stringstream keys(cells[0]);
    std::string key;
    std::vector<std::string> rowKeys;
    while (std::getline(keys, key, ',')) rowKeys.push_back(unquote(key));
    for (size_t i = 0; i < rowKeys.size(); i++) {
      std::string first = cells[3];
      // "0, 1" in a row of two keys: one value each
      if (rowKeys.size() > 1) {
        std::stringstream firsts(cells[3]);
        std::string f;
        for (size_t k = 0; k <= i; k++) std::getline(firsts, f, ',');
        first = unquote(f);
      }
      rows[rowKeys[i]] = {cells[1], cells[2], first};
    }
  }
  std::set<std::string> tableKeys, readmeKeys;
  for (const auto &[key, cells] : rows) readmeKeys.insert(key);
  for (const tSetting &set : SettingsTable) {
    tableKeys.insert(set.Key);
    if (!rows.count(set.Key)) continue;
    const auto &cells = rows[set.Key];
    SCOPED_TRACE(set.Key);
    std::string values, missing, first;
    const int start = set.FirstRun[SettingsForService];
    if (set.Kind == SettingFolder) {
      values = "folder";
      missing = set.MissingFolder;
      first = set.FirstRunFolder[SettingsForService][0] == '\0' ? "empty (not chosen)"
                                                                : set.FirstRunFolder[SettingsForService];
    } else {
      values = set.Kind == SettingFlag ? "0, 1"
               : set.Max - set.Min <= 2
                   ? [&] {
                       std::string v;
                       for (int n = set.Min; n <= set.Max; n++) v += (v.empty() ? "" : ", ") + std::to_string(n);
                       return v;
                     }()
                   : std::to_string(set.Min) + " to " + std::to_string(set.Max);
      missing = std::to_string(set.Missing);
      first = std::to_string(start);
      if (set.Kind == SettingNumber && (start < set.Min || start > set.Max))
        first += " (read as " + std::to_string(std::clamp(start, set.Min, set.Max)) + ")";
    }
    EXPECT_EQ(values, cells[0]);
    EXPECT_EQ(missing, cells[1]);
    EXPECT_EQ(first, cells[2]);
  }
  EXPECT_EQ(tableKeys, readmeKeys);
}

}  // namespace
