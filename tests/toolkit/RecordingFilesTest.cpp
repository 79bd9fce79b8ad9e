// RecordingFilesTest.cpp -- recordings and their companions on the
// simulator's disk: name components, free names, rename, move, delete, the
// in-use test against playback and recording, the slot count and name repair.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "../../tools/FirmwareDat.h"
#include "FirmwareBinding.h"
#include "PathTypes.h"
#include "RecordingFiles.h"
#include "SimFixture.h"
#include "TextEncoding.h"

namespace {

using Names = std::set<std::string>;

class RecordingFilesTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    // each test has its own receiver: nothing learnt from the last one counts
    MaxRecStreams = 0;
    ReleaseFirmwareDat();
    UTFFirmwareCached = -1;
  }

  static constexpr const char *kDir = "/mnt/hd/DataFiles/Rec";

  void Touch(const Names &names, const std::string &folder = kDir)
  {
    for (const std::string &name : names) WriteFile(folder + "/" + name, name);
  }

  Names Listing(const std::string &folder = kDir) const
  {
    Names names;
    if (!fs::exists(Host(folder))) return names;
    for (const auto &entry : fs::directory_iterator(Host(folder))) names.insert(entry.path().filename().string());
    return names;
  }

  void WriteModelData(uint32_t streams)
  {
    MakeDir("/mnt/hd/ProgramFiles/Settings");
    firmwaredat::Model model;
    model.sysId = uint16_t(Rx().config().systemId);
    model.recStreams = streams;
    firmwaredat::Model other;
    other.sysId = uint16_t(model.sysId + 1);
    other.recStreams = 7;
    ASSERT_TRUE(firmwaredat::Write(Host("/mnt/hd/ProgramFiles/Settings/FirmwareModel.dat"),
                                   firmwaredat::Build({other, model})));
  }
};

TEST_F(RecordingFilesTest, NameComponents)
{
  struct Case {
    const char *path, *folder, *base, *ext;
    int index;
    bool isRec, isDel;
    // clang-format off
  } cases[] = {
      {"/mnt/hd/DataFiles/Film-2.rec.inf.del", "/mnt/hd/DataFiles/", "Film", ".rec", 2, true, true},
      {"Film-10.rec", "", "Film-10", ".rec", 0, true, false},  // only one digit is an index
      {"Film-0.rec", "", "Film-0", ".rec", 0, true, false},
      {"Film-9.mpg.nav", "", "Film", ".mpg", 9, true, false},
      {"/DataFiles/Clip.ts", "/DataFiles/", "Clip", ".ts", 0, true, false},  // a recording, as the copy service sees it
      {"Clip.ts.nav", "", "Clip", ".ts", 0, true, false},
      {"Notes.txt.inf", "", "Notes.txt", ".inf", 0, false, false},  // no recording's companion
      {"Film.REC", "", "Film", ".REC", 0, false, false},      // case-sensitive
      {"a-1", "", "a", "", 1, false, false},
      {"-1.rec", "", "-1", ".rec", 0, true, false},           // too short for an index
      {"Noext", "", "Noext", "", 0, false, false},
      {"My.Film.rec", "", "My.Film", ".rec", 0, true, false},
      {"dir/.del", "dir/", "", "", 0, false, true},
      {"Film.txt.inf", "", "Film.txt", ".inf", 0, false, false},  // no recording's companion
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    char folder[PATH_BUFFER] = "?", base[PATH_BUFFER] = "?", ext[PATH_BUFFER] = "?";
    int index = -1;
    bool isRec = !c.isRec, isDel = !c.isDel;
    SeparateFileNameComponents(c.path, folder, base, ext, &index, &isRec, &isDel);
    EXPECT_STREQ(c.folder, folder);
    EXPECT_STREQ(c.base, base);
    EXPECT_STREQ(c.ext, ext);
    EXPECT_EQ(c.index, index);
    EXPECT_EQ(c.isRec, isRec);
    EXPECT_EQ(c.isDel, isDel);
  }
  char base[PATH_BUFFER] = "untouched";
  SeparateFileNameComponents("", nullptr, base, nullptr, nullptr, nullptr, nullptr);
  SeparateFileNameComponents(nullptr, nullptr, base, nullptr, nullptr, nullptr, nullptr);
  EXPECT_STREQ("untouched", base);
  SeparateFileNameComponents("Film.rec", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);

  const std::string longPath = "/" + std::string(700, 'x') + ".rec";  // cut to a path buffer
  SeparateFileNameComponents(longPath.c_str(), nullptr, base, nullptr, nullptr, nullptr, nullptr);
  EXPECT_LT(strlen(base), size_t(PATH_BUFFER));
}

TEST_F(RecordingFilesTest, RecFileNames)
{
  EXPECT_TRUE(HDD_isRecFileName("a.rec"));
  EXPECT_TRUE(HDD_isRecFileName(".mpg"));
  EXPECT_FALSE(HDD_isRecFileName("rec"));  // a suffix longer than the name never matches
  EXPECT_TRUE(HDD_isRecFileName("a.ts"));
  EXPECT_FALSE(HDD_isRecFileName("a.TS"));
  EXPECT_FALSE(HDD_isRecFileName(""));
  EXPECT_FALSE(HDD_isRecFileName(nullptr));
}

TEST_F(RecordingFilesTest, UniqueNames)
{
  struct Case {
    Names present;
    const char *name, *expected;
    // clang-format off
  } cases[] = {
      {{"Film.rec", "Film-2.rec"}, "Film.rec", "Film-3.rec"},
      {{"Film-2.rec"}, "Film-2.rec", "Film.rec"},
      {{}, "Film.rec", "Film.rec"},
      {{"Film.rec", "Film-5.rec"}, "Film-5.rec", "Film-6.rec"},
      {{"Film.rec.del"}, "Film.rec.del", "Film-2.rec.del"},
      {{"Film-10.rec"}, "Film-10.rec", "Film-10-2.rec"},
      {{"Clip"}, "Clip", "Clip-2"},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Host(kDir));
    MakeDir(kDir);
    Touch(c.present);
    char path[PATH_BUFFER];
    snprintf(path, sizeof(path), "%s/%s", kDir, c.name);
    MakeUniqueFileName(path);
    EXPECT_EQ(std::string(kDir) + "/" + c.expected, path);
  }
}

TEST_F(RecordingFilesTest, UniqueNameThatCannotFitStaysAsItIs)
{
  // 511 characters in folders of 100 (a host file name has at most 255)
  std::string name = kDir;
  while (name.size() + 101 + 100 < 511) name += "/" + std::string(100, 'd');
  MakeDir(name);
  name += std::string("/") + std::string(511 - name.size() - 5, 'f') + ".rec";
  ASSERT_EQ(511u, name.size());
  WriteFile(name, "x");
  char path[PATH_BUFFER];
  snprintf(path, sizeof(path), "%s", name.c_str());
  MakeUniqueFileName(path);
  EXPECT_EQ(name, path);
}

TEST_F(RecordingFilesTest, RenameTakesTheCompanionsAlong)
{
  Touch({"Film.rec", "Film.rec.inf", "Film.rec.nav", "Clip.ts", "Clip.ts.inf", "New.rec"});
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles/Rec"));
  EXPECT_TRUE(HDD_Rename("Film.rec", "/DataFiles/Rec/New.rec"));
  EXPECT_EQ((Names{"New-2.rec", "New-2.rec.inf", "New-2.rec.nav", "Clip.ts", "Clip.ts.inf", "New.rec"}), Listing())
      << "an existing name is never replaced";
  EXPECT_EQ("Film.rec", ReadFile(std::string(kDir) + "/New-2.rec"));
  EXPECT_EQ("New.rec", ReadFile(std::string(kDir) + "/New.rec"));

  // a ".ts" recording is one with its companions, as the copy service
  // copies it: its ".inf" is not left behind under the old name
  EXPECT_TRUE(HDD_Rename("/mnt/hd/DataFiles/Rec/Clip.ts", "Other.ts"));
  EXPECT_EQ((Names{"New-2.rec", "New-2.rec.inf", "New-2.rec.nav", "New.rec", "Other.ts", "Other.ts.inf"}), Listing());

  EXPECT_FALSE(HDD_Rename("Missing.rec", "X.rec"));
  EXPECT_FALSE(HDD_Rename(nullptr, "X.rec"));
  EXPECT_FALSE(HDD_Rename("New.rec", ""));
}

// Sets or clears the immutable flag of a host file; false when its file
// system has no such flag.
bool SetImmutable(const fs::path &path, bool on)
{
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

// A main file that cannot be renamed (immutable): the rename fails, and
// neither the companions nor the caller's name move away from it.
TEST_F(RecordingFilesTest, FailedRenameLeavesTheCompanionsAndTheNameWithTheRecording)
{
  Touch({"Film.rec", "Film.rec.inf", "Film.rec.nav", "Bad\x01.rec", "Bad\x01.rec.inf"});
  const fs::path film = Host(std::string(kDir) + "/Film.rec");
  const fs::path bad = Host(std::string(kDir) + "/Bad\x01.rec");
  if (!SetImmutable(film, true) || !SetImmutable(bad, true)) {
    SetImmutable(film, false);
    GTEST_SKIP() << "the sandbox's file system cannot make a file immutable (needs root on ext4, xfs, ...)";
  }
  struct Mutable {
    std::vector<fs::path> paths;
    ~Mutable()  // or the sandbox cannot be removed
    {
      for (const fs::path &path : paths) SetImmutable(path, false);
    }
  } restore{{film, bad}};
  const Names before = Listing();

  EXPECT_FALSE(HDD_Rename("/DataFiles/Rec/Film.rec", "/DataFiles/Rec/New.rec"));
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles/Rec"));
  char name[128] = "Bad\x01.rec";
  EXPECT_FALSE(FixInvalidFileName(name));
  EXPECT_STREQ("Bad\x01.rec", name) << "the caller keeps the name the file still has";
  EXPECT_EQ(before, Listing()) << "the companions stay with their recordings";
}

TEST_F(RecordingFilesTest, RenameOfADeletedRecording)
{
  Touch({"Film-2.rec.del", "Film-2.rec.inf.del", "Film-2.rec.nav.del"});
  EXPECT_TRUE(HDD_Rename(std::string(kDir + std::string("/Film-2.rec.del")).c_str(),
                         std::string(kDir + std::string("/Old.rec.del")).c_str()));
  EXPECT_EQ((Names{"Old.rec.del", "Old.rec.inf.del", "Old.rec.nav.del"}), Listing());
}

TEST_F(RecordingFilesTest, MoveRecordingsAndOtherFiles)
{
  const std::string dest = "/mnt/hd/DataFiles/Dest";
  MakeDir(dest);
  Touch({"Film.rec", "Film.rec.inf", "Film.rec.nav", "Notes.txt"});
  Touch({"Film.rec"}, dest);

  EXPECT_TRUE(HDD_Move("Film.rec", "/DataFiles/Rec", "/DataFiles/Dest/"));
  EXPECT_EQ((Names{"Film.rec", "Film-2.rec", "Film-2.rec.inf", "Film-2.rec.nav"}), Listing(dest));
  EXPECT_FALSE(HDD_Move("Notes.txt", "/mnt/hd/DataFiles/Rec/", dest.c_str()))
      << "false after moving a file that is not a recording";
  EXPECT_EQ(Names{}, Listing());
  EXPECT_TRUE(Exists(dest + "/Notes.txt"));

  EXPECT_FALSE(HDD_Move("Missing.rec", "/DataFiles/Rec", dest.c_str()));
  EXPECT_FALSE(HDD_Move("", "/DataFiles/Rec", dest.c_str()));
  EXPECT_FALSE(HDD_Move("Film.rec", nullptr, dest.c_str()));
  EXPECT_FALSE(HDD_Move("Film.rec", dest.c_str(), nullptr));
}

TEST_F(RecordingFilesTest, DeleteTakesTheCompanionsAlong)
{
  const Names all = {"Film.rec",        "Film.rec.inf", "Film.rec.nav",  "Film-10.rec", "Film-10.rec.inf",
                     "Film-10.rec.nav", "Clip.ts",      "Clip.ts.inf",   "Old.rec.del", "Old.rec.inf.del",
                     "Old.rec.nav.del", "Film-3.mpg",   "Film-3.mpg.nav"};
  struct Case {
    const char *name;
    Names gone;
    // clang-format off
  } cases[] = {
      {"Film.rec.inf", {"Film.rec", "Film.rec.inf", "Film.rec.nav"}},  // a companion names the recording
      {"Film.rec.nav", {"Film.rec", "Film.rec.inf", "Film.rec.nav"}},
      {"Film-10.rec", {"Film-10.rec", "Film-10.rec.inf", "Film-10.rec.nav"}},
      {"Clip.ts", {"Clip.ts", "Clip.ts.inf"}},
      {"Clip.ts.inf", {"Clip.ts", "Clip.ts.inf"}},
      {"Old.rec.del", {"Old.rec.del", "Old.rec.inf.del", "Old.rec.nav.del"}},
      {"Film-3.mpg", {"Film-3.mpg", "Film-3.mpg.nav"}},
      {"Missing.rec", {}},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Host(kDir));
    MakeDir(kDir);
    Touch(all);
    HDD_Delete((std::string(kDir) + "/" + c.name).c_str());
    Names expected;
    std::set_difference(all.begin(), all.end(), c.gone.begin(), c.gone.end(), std::inserter(expected, expected.end()));
    EXPECT_EQ(expected, Listing());
  }
  HDD_Delete(nullptr);
  HDD_Delete("");
}

TEST_F(RecordingFilesTest, InUseByPlaybackAndRecording)
{
  Touch({"Film.rec", "Film.rec.inf", "Film.rec.nav", "Other.rec", "Live.rec"});
  const std::string film = std::string(kDir) + "/Film.rec";
  EXPECT_EQ(INUSE_NONE, HDD_isFileInUse(film.c_str()));

  Rx().SetPlayback(film, 1);
  EXPECT_EQ(INUSE_PLAYBACK, HDD_isFileInUse(film.c_str()));
  EXPECT_EQ(INUSE_PLAYBACK, HDD_isFileInUse("/DataFiles/Rec/Film.rec.inf"));
  EXPECT_EQ(INUSE_NONE, HDD_isFileInUse("/DataFiles/Rec/Other.rec"));
  Rx().SetPlayback(film, 5);
  EXPECT_EQ(INUSE_PLAYBACK_MODE5, HDD_isFileInUse(film.c_str()));
  Rx().StopPlayback();
  EXPECT_EQ(INUSE_NONE, HDD_isFileInUse(film.c_str()));

  Rx().SetRecording(1, std::string(kDir) + "/Live.rec");
  EXPECT_EQ(INUSE_RECORDING + 1, HDD_isFileInUse("/DataFiles/Rec/Live.rec"));
  Rx().StopRecording(1);
  EXPECT_EQ(INUSE_NONE, HDD_isFileInUse("/DataFiles/Rec/Live.rec"));
  EXPECT_EQ(INUSE_NONE, HDD_isFileInUse(""));
  EXPECT_EQ(INUSE_NONE, HDD_isFileInUse(nullptr));
}

TEST_F(RecordingFilesTest, DeleteStopsPlaybackAndRecordingFirst)
{
  Touch({"Film.rec", "Film.rec.inf", "Film.rec.nav", "Live.rec", "Live.rec.nav"});
  Rx().SetPlayback(std::string(kDir) + "/Film.rec", 1);
  Rx().SetRecording(1, std::string(kDir) + "/Live.rec");

  Touch({"Idle.rec"});
  HDD_Delete("/DataFiles/Rec/Idle.rec");
  EXPECT_EQ(std::vector<std::string>{}, Rx().StopLog()) << "nothing in use, nothing stopped";

  HDD_Delete("/DataFiles/Rec/Film.rec");
  EXPECT_EQ((std::vector<std::string>{"StopTs", "StopMp3"}), Rx().StopLog());
  FwPlayInfo info;
  memset(&info, 0, sizeof(info));
  TAP_Hdd_GetPlayInfo(&info);
  EXPECT_EQ(0, info.PlayMode) << "the playback was stopped";

  HDD_Delete("/DataFiles/Rec/Live.rec.nav");  // named by its index, still stopped first
  EXPECT_EQ((std::vector<std::string>{"StopTs", "StopMp3", "StopRecord 1"}), Rx().StopLog());
  FwFileRecord *rec = nullptr;
  EXPECT_TRUE(HDD_GetRecSlotFiles(1, &rec, nullptr, nullptr));
  EXPECT_EQ(nullptr, rec) << "the recording was stopped";
  EXPECT_EQ(Names{}, Listing());
}

TEST_F(RecordingFilesTest, RecordingSlotsFromTheModelData)
{
  EXPECT_EQ(2, HDD_NumberOfRECSlots()) << "no model data: two slots";

  struct Case {
    uint32_t streams;
    int expected;
  } cases[] = {{4, 4}, {0, 2}, {1000, FW_REC_SLOT_TABLE}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.streams);
    WriteModelData(c.streams);
    MaxRecStreams = 0;
    ReleaseFirmwareDat();
    EXPECT_EQ(c.expected, HDD_NumberOfRECSlots());
  }
  WriteModelData(4);
  EXPECT_EQ(FW_REC_SLOT_TABLE, HDD_NumberOfRECSlots()) << "computed once and kept";
}

TEST_F(RecordingFilesTest, RecordingSlotFiles)
{
  WriteModelData(3);
  ASSERT_EQ(3, HDD_NumberOfRECSlots());
  Touch({"Live.rec"});
  Rx().SetRecording(2, std::string(kDir) + "/Live.rec");
  FwFileRecord *rec = nullptr, *inf = nullptr, *nav = nullptr;
  ASSERT_TRUE(HDD_GetRecSlotFiles(2, &rec, &inf, &nav));
  char path[PATH_BUFFER];
  ASSERT_TRUE(HDD_GetAbsolutePathByTypeFile(rec, path));
  EXPECT_STREQ("/mnt/hd/DataFiles/Rec/Live.rec", path);
  EXPECT_EQ(INUSE_RECORDING + 2, HDD_isFileInUse("/DataFiles/Rec/Live.rec"));

  rec = inf = nav = reinterpret_cast<FwFileRecord *>(1);
  EXPECT_FALSE(HDD_GetRecSlotFiles(3, &rec, &inf, &nav)) << "slot = slot count";
  EXPECT_EQ(nullptr, rec);
  EXPECT_EQ(nullptr, inf);
  EXPECT_EQ(nullptr, nav);
  EXPECT_FALSE(HDD_GetRecSlotFiles(255, nullptr, nullptr, nullptr));
}

TEST_F(RecordingFilesTest, FixInvalidFileName)
{
  MakeDir(kDir);
  ASSERT_TRUE(HDD_ChangeDir("/DataFiles/Rec"));
  Touch({"Good.rec", "Bad\x01Name.rec", "Bad\x01Name.rec.inf", "BadName.rec", "Playing\x02.rec"});

  char name[128] = "Good.rec";
  EXPECT_TRUE(FixInvalidFileName(name));
  EXPECT_STREQ("Good.rec", name);

  std::strcpy(name, "Bad\x01Name.rec");
  EXPECT_TRUE(FixInvalidFileName(name));
  EXPECT_STREQ("BadName-2.rec", name) << "repaired and made unique";
  EXPECT_TRUE(Exists(std::string(kDir) + "/BadName-2.rec"));
  EXPECT_TRUE(Exists(std::string(kDir) + "/BadName-2.rec.inf"));

  WriteFile(std::string(kDir) + "/\x02\x03", "x");
  std::strcpy(name, "\x02\x03");
  EXPECT_FALSE(FixInvalidFileName(name)) << "nothing of the name would be left";
  std::strcpy(name, "Missing.rec");
  EXPECT_FALSE(FixInvalidFileName(name));
  Rx().SetPlayback(std::string(kDir) + "/Playing\x02.rec", 1);
  std::strcpy(name, "Playing\x02.rec");
  EXPECT_FALSE(FixInvalidFileName(name)) << "in use";
  EXPECT_STREQ("Playing\x02.rec", name);
  EXPECT_FALSE(FixInvalidFileName(nullptr));
}

TEST_F(RecordingFilesTest, FixInvalidFileNameRefusesWhatDoesNotFit128Bytes)
{
  const std::string folder = "/mnt/hd/DataFiles/Rec/";
  struct Case {
    size_t nameLen;
    bool fits;
  } cases[] = {{127 - folder.size(), true}, {128 - folder.size(), false}, {200, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.nameLen);
    const std::string original = folder + "B" + std::string(c.nameLen - 5, '\x02') + ".rec";
    WriteFile(original, "x");
    char name[PATH_BUFFER];
    snprintf(name, sizeof(name), "%s", original.c_str());
    EXPECT_EQ(c.fits, FixInvalidFileName(name));
    EXPECT_EQ(c.fits ? folder + "B.rec" : original, name);
    if (!c.fits) {
      EXPECT_NE(std::string::npos, Console().find("is too long or cannot be repaired"));
    }
    fs::remove_all(Host(kDir));
  }
}

class RecordingFilesUtf8Test : public RecordingFilesTest {
 protected:
  void Configure(sim::Config &config) override { config.utf8Firmware = true; }
};

TEST_F(RecordingFilesUtf8Test, FixInvalidFileNameConvertsToUtf8)
{
  Touch({"Caf\xE9.rec", "Caf\xE9.rec.nav"});
  char name[128];
  snprintf(name, sizeof(name), "%s/Caf\xE9.rec", kDir);
  EXPECT_TRUE(FixInvalidFileName(name));
  EXPECT_EQ(std::string(kDir) + "/Caf\xC3\xA9.rec", name);
  EXPECT_EQ((Names{"Caf\xC3\xA9.rec", "Caf\xC3\xA9.rec.nav"}), Listing());
}

}  // namespace
