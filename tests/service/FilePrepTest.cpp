// FilePrepTest.cpp -- destination folders and names, the pace of a transfer,
// .ts hard links, deleting the source and the summary line.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "SettingsTestFixture.h"

namespace {

class FilePrepTest : public CycleTest {
 protected:
  // One entry in the work list, as the walk would make it.
  void ListEntry(const char *folder, const char *name)
  {
    CleanupMemory();
    FilesToProcess[0].FileName = static_cast<char *>(TAP_MemAlloc(strlen(name) + 1));
    FilesToProcess[0].Folder = static_cast<char *>(TAP_MemAlloc(strlen(folder) + 1));
    std::strcpy(FilesToProcess[0].FileName, name);
    std::strcpy(FilesToProcess[0].Folder, folder);
    FilesToProcess[0].DateStamp = 0;
    NrOfFilesToProcess = 1;
    CurrentFileToProcess = 0;
  }
  // What the cycle keeps of each part that completed: its source's stamp;
  // the copy lies in the share.
  void PartsCopied(const std::string &path)
  {
    static const char *const endings[] = {"", ".inf", ".nav", ""};
    for (int typ = FT_Rec; typ <= FT_Other; typ++)
      if (FileStatus[typ] == FS_Done) FRX_TakeStamp((path + endings[typ]).c_str(), &PartStamp[typ]);
    MakeDir("/mnt/hd/DataFiles/NAS-Share");
    std::strcpy(DestDirPath, "/mnt/hd/DataFiles/NAS-Share");
    // the copies the parts arrived as
    std::string name = path.substr(path.rfind('/') + 1);
    std::strcpy(DestFileNameClean, name.c_str());
    for (int typ = FT_Rec; typ <= FT_Other; typ++)
      if (FileStatus[typ] == FS_Done) WriteFile("/mnt/hd/DataFiles/NAS-Share/" + name + endings[typ], "x");
  }
  static ino_t Inode(const fs::path &p)
  {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
  }
};

TEST_F(FilePrepTest, SizesInUnitsOf1024WithOneDecimal)
{
  struct Case {
    qword bytes;
    const char *text;
  } cases[] = {{0, "0 B"},
               {1023, "1023 B"},
               {1024, "1.0 kB"},
               {1536, "1.5 kB"},
               {1048576, "1.0 MB"},
               {1610612736ull, "1.5 GB"},
               {1099511627776ull, "1.0 TB"},
               {3ull << 40, "3.0 TB"}};
  for (const Case &c : cases) {
    char out[16] = "unchanged";
    FileSizeToString(static_cast<dword>(c.bytes), static_cast<dword>(c.bytes >> 32), out);
    EXPECT_STREQ(out, c.text) << c.bytes;
  }
  FileSizeToString(5, 0, nullptr);  // nothing to write into
}

// Byte for byte what "%.1f" of the size as a float in its unit printed:
// the ties of printf's rounding, and the sizes beyond a float's 24 bits.
TEST_F(FilePrepTest, SizesReadAsTheFloatingPointTextDid)
{
  auto asFloat = [](qword bytes) {
    char text[32];
    const float perUnit = 0.0009765625f;
    if (bytes < 1024) std::snprintf(text, sizeof text, "%d B", static_cast<int>(bytes));
    else if (bytes < (1ull << 20)) std::snprintf(text, sizeof text, "%.1f kB", double(float(bytes) * perUnit));
    else if (bytes < (1ull << 30)) std::snprintf(text, sizeof text, "%.1f MB", double(float(bytes >> 10) * perUnit));
    else if (bytes < (1ull << 40)) std::snprintf(text, sizeof text, "%.1f GB", double(float(bytes >> 20) * perUnit));
    else std::snprintf(text, sizeof text, "%.1f TB", double(float(bytes >> 30) * perUnit));
    return std::string(text);
  };
  std::vector<qword> sizes;
  for (qword unit : {1ull, 1ull << 10, 1ull << 20, 1ull << 30})
    for (qword n = 1000; n < 3000; n++) sizes.push_back(n * unit + (unit > 1 ? unit / 2 : 0));
  // ties at .x5 (1.25 kB, 1.75 kB), every tenth's edge, and past 2^24 of a unit
  for (qword n : {1280ull, 1792ull, 1331ull, 1332ull, 1127ull, 1128ull}) sizes.push_back(n);
  for (qword top = 1ull << 54; top != 0 && top < (1ull << 63); top <<= 1)
    for (qword d : {0ull, 1ull, 12345ull << 20, (1ull << 31) - 1, 1ull << 31, 3ull << 30, (5ull << 30) + 1})
      sizes.push_back(top + d);
  sizes.push_back(~0ull);
  for (qword bytes : sizes) {
    char out[16];
    FileSizeToString(static_cast<dword>(bytes), static_cast<dword>(bytes >> 32), out);
    ASSERT_EQ(asFloat(bytes), out) << bytes;
  }
}

TEST_F(FilePrepTest, NoEntryLeftGivesTwo)
{
  EXPECT_EQ(StartCopy(), 2);
  EXPECT_TRUE(LogHas("NrFilesToProcess 0 CurrentFileToProcess 0"));
}

TEST_F(FilePrepTest, SubFolderIsRepeatedBelowTheDestination)
{
  UseShareFolders();
  LogLength = 1;
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/Series/Ep.rec", Pattern(3000, 1));
  ListEntry("/DataFiles/MoveToNAS/Series", "Ep.rec");
  EXPECT_EQ(StartCopy(), 0);
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/NAS-Share/Series/Ep.rec"), Pattern(3000, 1));
  EXPECT_STREQ(DestDirPath, "/mnt/hd/DataFiles/NAS-Share/Series");
  EXPECT_STREQ(DestFileNameClean, "Ep.rec");
  EXPECT_TRUE(LogHas("REC|MPG|TS 1 of 1"));
  EXPECT_TRUE(LogHas("DestDirName calculated = /Series"));
  EXPECT_TRUE(LogHas("Destinationstatus: Destination path doesn't exist"));
}

TEST_F(FilePrepTest, ClashGivesNumberedNamesAndCompanionsFollow)
{
  UseShareFolders();
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/Film.rec", Pattern(2000, 1));
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/Film.rec.inf", Pattern(100, 2));
  WriteFile("/mnt/hd/DataFiles/NAS-Share/Film.rec", Pattern(2000, 3));
  WriteFile("/mnt/hd/DataFiles/NAS-Share/Film-1.rec", Pattern(2000, 4));
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  EXPECT_EQ(StartCopy(), 0);
  EXPECT_EQ(Pump(), 1);
  EXPECT_STREQ(DestFileNameClean, "Film-2.rec");
  EXPECT_TRUE(LogHas("Destination needed to be renamed to 'Film-2.rec'"));
  EXPECT_TRUE(
      LogHas("Destination name 'Film.rec' became 'Film-2.rec': numbered, for what is at "
             "/mnt/hd/DataFiles/NAS-Share/Film.rec: a different file"))
      << Log();
  FileTyp = FT_Inf;
  EXPECT_EQ(StartCopy(), 0);
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/NAS-Share/Film-2.rec.inf"), Pattern(100, 2));
  FileTyp = FT_Nav;
  EXPECT_EQ(StartCopy(), -1);  // no .nav at the source

  // the same file a second time: the numbered copy is taken as complete
  FileTyp = FT_Rec;
  EXPECT_EQ(StartCopy(), 1);
  EXPECT_STREQ(DestFileNameClean, "Film-2.rec");
}

TEST_F(FilePrepTest, EmptyFileInTheWayIsTakenOverNotNumbered)
{
  // what a transfer that failed at its first block leaves behind
  UseShareFolders();
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/Film.rec", Pattern(2000, 1));
  WriteFile("/mnt/hd/DataFiles/NAS-Share/Film.rec", "");
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  EXPECT_EQ(StartCopy(), 0);
  EXPECT_STREQ(DestFileNameClean, "Film.rec");
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/NAS-Share/Film.rec"), Pattern(2000, 1));

  // the same for an empty numbered name behind a different file
  WriteFile("/mnt/hd/DataFiles/NAS-Share/Film.rec", Pattern(2000, 2));
  WriteFile("/mnt/hd/DataFiles/NAS-Share/Film-1.rec", "");
  EXPECT_EQ(StartCopy(), 0);
  EXPECT_STREQ(DestFileNameClean, "Film-1.rec");
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/NAS-Share/Film-1.rec"), Pattern(2000, 1));
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/NAS-Share/Film-2.rec"));
}

TEST_F(FilePrepTest, NamesAtTheLengthLimitKeepTheirExtension)
{
  UseShareFolders();
  // a clash at the limit: the number takes the end of the base, not ".rec"
  std::string base(122, 'n');
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/" + base + ".rec", Pattern(500, 1));
  WriteFile("/mnt/hd/DataFiles/NAS-Share/" + base + ".rec", Pattern(500, 2));
  ListEntry("/DataFiles/MoveToNAS", (base + ".rec").c_str());
  EXPECT_EQ(StartCopy(), 0);
  EXPECT_EQ(std::string(DestFileNameClean), std::string(120, 'n') + "-1.rec");
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/NAS-Share/" + std::string(120, 'n') + "-1.rec"), Pattern(500, 1));

  // spelt-out umlauts grow the name past the limit: the base is cut
  std::string umlauts;
  for (int i = 0; i < 63; i++) umlauts += "\xC3\xA4";  // 63 x "ä", 126 bytes
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/" + umlauts + ".rec", "x");
  ListEntry("/DataFiles/MoveToNAS", (umlauts + ".rec").c_str());
  SpecChar = 1;
  EXPECT_EQ(StartCopy(), 0);
  std::string spelt;
  for (int i = 0; i < 61; i++) spelt += "ae";
  EXPECT_EQ(std::string(DestFileNameClean), spelt + ".rec");
  EXPECT_EQ(Pump(), 1);
}

TEST_F(FilePrepTest, NamesAndPathsTooLongForTheBuffersFailTheirPart)
{
  UseShareFolders();
  // every name the disk holds (255 bytes) takes its companions' endings
  std::string name = std::string(251, 'c') + ".rec";
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/" + name, "x");
  ListEntry("/DataFiles/MoveToNAS", name.c_str());
  EXPECT_EQ(StartCopy(), 0);
  EXPECT_EQ(Pump(), 1);
  for (int typ : {FT_Inf, FT_Nav}) {
    FileTyp = typ;
    EXPECT_NE(StartCopy(), -2) << typ;
  }
  EXPECT_FALSE(LogHas("Error: file name too long: " + name + ".inf")) << Log();
  // a name longer than any the disk holds, its companion's not even in the
  // buffers: never "missing", which would count as a ".nav" that may be
  // left behind
  std::string longer = std::string(256, 'c') + ".rec";
  ListEntry("/DataFiles/MoveToNAS", longer.c_str());
  for (int typ : {FT_Inf, FT_Nav}) {
    FileTyp = typ;
    EXPECT_EQ(StartCopy(), -2) << typ;
  }
  EXPECT_TRUE(LogHas("Error: file name too long: " + longer + ".inf")) << Log();

  // a job's source root and folder together longer than a path
  FileTyp = FT_Rec;
  JobState = JS_Job;
  std::strcpy(STapfsRoot, (std::string("/mnt/") + std::string(200, 'r')).c_str());
  std::strcpy(MoveDir, (std::string("/") + std::string(320, 'm')).c_str());
  std::string folder = std::string("/") + std::string(320, 'm') + "/" + std::string(100, 's');
  ListEntry(folder.c_str(), "Film.rec");
  EXPECT_EQ(StartCopy(), -3);
  EXPECT_TRUE(LogHas("Error: path too long for Film.rec")) << Log();
}

TEST_F(FilePrepTest, ShareGoneFromItsMountPointTakesNoCopies)
{
  UseShareFolders();
  MountedDirDest = 1;  // the bare mount point, on the internal disk
  MakeDir("/mnt/hd/DataFiles/NAS-Share");
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/Series/Film.rec", "x");
  ListEntry("/DataFiles/MoveToNAS/Series", "Film.rec");
  for (int typ : {FT_Rec, FT_Inf}) {
    FileTyp = typ;
    EXPECT_EQ(StartCopy(), -3) << typ;
  }
  EXPECT_EQ(LogCount("Error: /mnt/hd/DataFiles/NAS-Share is not mounted any more"), 2u) << Log();
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/NAS-Share/Series"));
}

TEST_F(FilePrepTest, JobDestinationFolderMissingFailsWithoutTheProbeLine)
{
  std::strcpy(MoveDir, "/DataFiles/Filme");
  std::strcpy(ShareDir, "/mnt/hd/DataFiles/Nowhere");
  LogLength = 1;
  JobState = JS_Job;
  WriteFile("/mnt/hd/DataFiles/Filme/Film.rec", "x");
  ListEntry("/DataFiles/Filme", "Film.rec");
  EXPECT_EQ(StartCopy(), -3);
  EXPECT_FALSE(LogHas("Destinationstatus: Destination path doesn't exist")) << Log();
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/Nowhere"));
}

struct NameCase {
  const char *name;
  int specChar, mountType, delDEC;
  const char *source, *dest;
  const char *why;  // the reason line's end, after "': "; null: no such line
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << c.name; }

class DestinationName : public FilePrepTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DestinationName, FollowsTheSettings)
{
  const NameCase &c = GetParam();
  UseShareFolders();
  SpecChar = c.specChar;
  MountType = c.mountType;
  DelDEC = c.delDEC;
  WriteFile(std::string("/mnt/hd/DataFiles/MoveToNAS/") + c.source, "x");
  ListEntry("/DataFiles/MoveToNAS", c.source);
  EXPECT_EQ(StartCopy(), 0);
  EXPECT_EQ(std::string(DestFileNameClean), c.dest);
  EXPECT_EQ(Pump(), 1);
  EXPECT_TRUE(Exists(std::string("/mnt/hd/DataFiles/NAS-Share/") + c.dest));
  // a name that differs from the source's says why, once
  // (the log is ISO 8859-1: the line's UTF-8 letters are written so)
  const std::string said = Log();
  auto latin1 = [](const std::string &utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); i++) {
      const unsigned char b = static_cast<unsigned char>(utf8[i]);
      if ((b == 0xC2 || b == 0xC3) && i + 1 < utf8.size()) out += char(((b & 0x03) << 6) | (utf8[++i] & 0x3F));
      else out += char(b);
    }
    return out;
  };
  // (a line that is no UTF-8 as a whole is written as it is)
  const std::string line =
      c.why != nullptr ? std::string("Destination name '") + c.source + "' became '" + c.dest + "': " + c.why : "";
  if (c.why != nullptr) EXPECT_TRUE(LogHas(latin1(line)) || LogHas(line)) << said;
  else EXPECT_EQ(said.find("Destination name '"), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DestinationName,
    ::testing::Values(
        NameCase{"spelt_out_by_SpecChar", 1, 0, 1, "Müller.rec", "Mueller.rec", "special letters spelt out"},
        NameCase{"spelt_out_for_NTFS", 0, 1, 1, "Müller.rec", "Mueller.rec", "special letters spelt out"},
        NameCase{"kept_in_UTF8", 0, 0, 1, "Müller.rec", "Müller.rec", nullptr},
        NameCase{"accents_spelt_out", 1, 0, 1, "Ärger über Straße à côté.rec", "Aerger ueber Strasse a cote.rec",
                 "special letters spelt out"},
        NameCase{"DEC_removed", 0, 0, 1, "Film (DEC).rec", "Film.rec", "\" (DEC)\" removed"},
        NameCase{"DEC_in_front_removed", 0, 0, 1, "(DEC)Film.rec", "Film.rec", "\" (DEC)\" removed"},
        NameCase{"DEC_kept", 0, 0, 0, "Film (DEC).rec", "Film (DEC).rec", nullptr},
        NameCase{"reserved_dropped", 0, 0, 1, "A: B? C*.rec", "A B C.rec", "characters a share cannot hold removed"},
        NameCase{"plain", 1, 0, 1, "Tagesschau.rec", "Tagesschau.rec", nullptr},
        // no spelt-out form: a single byte, but UTF-8 again on NTFS
        NameCase{"cedilla_single_byte", 1, 0, 1,
                 "Fa\xC3\xA7"
                 "ade.rec",
                 "Fa\xE7"
                 "ade.rec",
                 "special letters spelt out"},
        NameCase{"cedilla_UTF8_on_NTFS", 1, 1, 1,
                 "Fa\xC3\xA7"
                 "ade.rec",
                 "Fa\xC3\xA7"
                 "ade.rec",
                 nullptr}),
    [](const ::testing::TestParamInfo<NameCase> &info) { return std::string(info.param.name); });

struct PaceCase {
  int mountType, copySpeed, fileTyp;
  qword block;
};

std::string PaceName(const PaceCase &c)
{
  static const char *const mounts[] = {"NAS", "NTFS", "Linux"};
  static const char *const parts[] = {"rec", "inf", "nav"};
  return std::string(mounts[c.mountType]) + "_speed" + std::to_string(c.copySpeed) + "_" + parts[c.fileTyp];
}

void PrintTo(const PaceCase &c, std::ostream *os) { *os << PaceName(c) << ": " << c.block << " bytes"; }

class Pace : public FilePrepTest, public ::testing::WithParamInterface<PaceCase> {};

TEST_P(Pace, BlockSizeByPartSpeedAndMountType)
{
  const PaceCase &c = GetParam();
  UseShareFolders();
  MountType = c.mountType;
  CopySpeed = c.copySpeed;
  const size_t size = 30u << 20;
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/Big.rec", "");
  fs::resize_file(Host("/mnt/hd/DataFiles/MoveToNAS/Big.rec"), size);
  fs::copy_file(Host("/mnt/hd/DataFiles/MoveToNAS/Big.rec"), Host("/mnt/hd/DataFiles/MoveToNAS/Big.rec.inf"));
  fs::copy_file(Host("/mnt/hd/DataFiles/MoveToNAS/Big.rec"), Host("/mnt/hd/DataFiles/MoveToNAS/Big.rec.nav"));
  ListEntry("/DataFiles/MoveToNAS", "Big.rec");
  ASSERT_EQ(StartCopy(), 0);
  if (c.fileTyp != FT_Rec) {
    FRX_Close();
    FileTyp = c.fileTyp;
    ASSERT_EQ(StartCopy(), 0);
  }
  for (int i = 0; i < 100 && FRXBytesCopied == 0; i++) {
    Rx().Step();
    ASSERT_EQ(FRX_Process(), 0);
  }
  EXPECT_EQ(FRXBytesCopied, c.block);
  FRX_Close();
}

INSTANTIATE_TEST_SUITE_P(Blocks, Pace,
                         ::testing::Values(PaceCase{0, 4, FT_Rec, 2u << 20}, PaceCase{1, 4, FT_Rec, 2u << 20},
                                           PaceCase{2, 4, FT_Rec, 24u << 20}, PaceCase{0, 1, FT_Rec, 512u << 10},
                                           PaceCase{2, 1, FT_Inf, 256u << 10}, PaceCase{2, 1, FT_Nav, 512u << 10}),
                         [](const ::testing::TestParamInfo<PaceCase> &info) { return PaceName(info.param); });

TEST_F(FilePrepTest, TsLinkIsAHardLinkWhateverTheNameHolds)
{
  const std::vector<std::string> names = {"A (1).rec", "$(touch pwned).rec", "`touch pwned`;&|.rec",
                                          "Q'\"x\" > y < z.rec"};
  for (const std::string &name : names) {
    WriteFile("/mnt/hd/DataFiles/NAS-Share/" + name, "rec");
    std::strcpy(DestDirPath, "/mnt/hd/DataFiles/NAS-Share");
    std::strcpy(DestFileNameClean, name.c_str());
    CreateTSLink();
    std::string ts = "/mnt/hd/DataFiles/NAS-Share/" + name.substr(0, name.size() - 4) + ".ts";
    EXPECT_EQ(Inode(Host(ts)), Inode(Host("/mnt/hd/DataFiles/NAS-Share/" + name))) << name;
    EXPECT_TRUE(LogHas("ts link: " + ts + " done")) << Log();
  }
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_FALSE(Exists("/mnt/hd/pwned"));

  // a link of an earlier run is fine; a different file in the way is not
  CreateTSLink();
  EXPECT_EQ(LogCount("ts link: /mnt/hd/DataFiles/NAS-Share/Q'\"x\" > y < z.ts done"), 2u);
  WriteFile("/mnt/hd/DataFiles/NAS-Share/B.rec", "rec");
  WriteFile("/mnt/hd/DataFiles/NAS-Share/B.ts", "other");
  std::strcpy(DestFileNameClean, "B.rec");
  CreateTSLink();
  EXPECT_TRUE(LogHas("ts link: /mnt/hd/DataFiles/NAS-Share/B.ts failed !!! Sorry no chance..."));
}

struct DeleteCase {
  const char *name;
  int jobState, fileTyp;
  int status[4];
  bool deleted;
};

void PrintTo(const DeleteCase &c, std::ostream *os) { *os << c.name; }

class DeleteSource : public FilePrepTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteSource, OnlyWhatArrivedIsDeleted)
{
  const DeleteCase &c = GetParam();
  for (const char *f : {"Film.rec", "Film.rec.inf", "Film.rec.nav"})
    WriteFile(std::string("/mnt/hd/DataFiles/MoveToNAS/") + f, "x");
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  std::strcpy(FileName, c.fileTyp == FT_Nav ? "Film.rec.nav" : "Film.rec");
  JobState = c.jobState;
  FileTyp = c.fileTyp;
  std::memcpy(FileStatus, c.status, sizeof FileStatus);
  if (c.status[FT_Nav] == FS_Missing) fs::remove(Host("/mnt/hd/DataFiles/MoveToNAS/Film.rec.nav"));
  PartsCopied("/mnt/hd/DataFiles/MoveToNAS/Film.rec");
  DeleteCurrentSource();
  EXPECT_EQ(!Exists("/mnt/hd/DataFiles/MoveToNAS/Film.rec"), c.deleted);
  EXPECT_EQ(!Exists("/mnt/hd/DataFiles/MoveToNAS/Film.rec.inf"), c.deleted && c.fileTyp == FT_Nav);
  if (!c.deleted)
    EXPECT_TRUE(LogHas("File: /mnt/hd/DataFiles/MoveToNAS/Film.rec wird NICHT gel\xF6scht, da .inf oder .nav fehlt"))
        << Log();
  else if (c.jobState == JS_Job) EXPECT_TRUE(LogHas("delete SourceFile: /mnt/hd/DataFiles/MoveToNAS/Film.rec "));
  else EXPECT_TRUE(LogHas("delete File: /mnt/hd/DataFiles/MoveToNAS/Film.rec "));
}

// The copies are synced, with the folders above them, before the source
// goes; a copy that is not where it arrived (the share went away, someone
// took it) cannot be synced, and its source stays.
TEST_F(FilePrepTest, ASourceGoesOnlyOnceItsCopiesAreSynced)
{
  for (bool copyThere : {true, false}) {
    SCOPED_TRACE(copyThere ? "copies there" : "a copy gone");
    for (const char *f : {"Film.rec", "Film.rec.inf", "Film.rec.nav"})
      WriteFile(std::string("/mnt/hd/DataFiles/MoveToNAS/") + f, "x");
    ListEntry("/DataFiles/MoveToNAS", "Film.rec");
    std::strcpy(FileName, "Film.rec.nav");
    JobState = JS_Normal;
    FileTyp = FT_Nav;
    for (int &st : FileStatus) st = FS_Done;
    PartsCopied("/mnt/hd/DataFiles/MoveToNAS/Film.rec");
    if (!copyThere) fs::remove(Host("/mnt/hd/DataFiles/NAS-Share/Film.rec.inf"));
    std::strcpy(ShareDir, "/mnt/hd/DataFiles/NAS-Share");
    MountedDirDest = 0;
    Rx().ResetCallCounts();
    DeleteCurrentSource();
    EXPECT_EQ(copyThere, !Exists("/mnt/hd/DataFiles/MoveToNAS/Film.rec"));
    EXPECT_EQ(copyThere ? 3u : 1u, Rx().CallCount("OS_Fsync"));
    // the share's folder, then the folder that holds it (no mount point here)
    EXPECT_EQ(copyThere ? 2u : 0u, Rx().CallCount("OS_SyncDir"));
    EXPECT_EQ(!copyThere,
              LogHas("Error: the copy of Film.rec.nav could not be synced to the disk, the source is not deleted"))
        << Log();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteSource,
    ::testing::Values(DeleteCase{"normal_complete", JS_Normal, FT_Nav, {FS_Done, FS_Done, FS_Done, 0}, true},
                      DeleteCase{"normal_nav_missing", JS_Normal, FT_Nav, {FS_Done, FS_Done, FS_Missing, 0}, true},
                      DeleteCase{"normal_inf_failed", JS_Normal, FT_Nav, {FS_Done, FS_Failed, FS_Done, 0}, false},
                      DeleteCase{"normal_other_file", JS_Normal, FT_Other, {0, 0, 0, FS_Done}, false},
                      DeleteCase{"job_other_file", JS_Job, FT_Other, {0, 0, 0, FS_Done}, true},
                      DeleteCase{"job_complete", JS_Job, FT_Nav, {FS_Done, FS_Done, FS_Done, 0}, true}),
    [](const ::testing::TestParamInfo<DeleteCase> &info) { return std::string(info.param.name); });

TEST_F(FilePrepTest, PathTooLongIsNeverCutAndDeleted)
{
  std::string folder = "/DataFiles/" + std::string(200, 'f') + "/" + std::string(200, 'g');
  std::string name = std::string(100, 'h') + ".rec";
  ListEntry(folder.c_str(), name.c_str());
  std::strcpy(FileName, (name + ".nav").c_str());
  FileTyp = FT_Nav;
  FileStatus[0] = FileStatus[1] = FileStatus[2] = FS_Done;
  DeleteCurrentSource();
  EXPECT_TRUE(LogHas("Error: path too long, " + name + " is not deleted")) << Log();
}

TEST_F(FilePrepTest, JobOfACompanionFileDeletesOnlyThatFile)
{
  // a one-file job may name "Film.rec.nav" itself: a file of its own
  for (const char *f : {"Film.rec", "Film.rec.inf", "Film.rec.nav"})
    WriteFile(std::string("/mnt/hd/DataFiles/MoveToNAS/") + f, "x");
  ListEntry("/DataFiles/MoveToNAS", "Film.rec.nav");
  std::strcpy(FileName, "Film.rec.nav");
  JobState = JS_Job;
  FileTyp = FT_Other;
  FileStatus[FT_Other] = FS_Done;
  PartsCopied("/mnt/hd/DataFiles/MoveToNAS/Film.rec.nav");
  DeleteCurrentSource();
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/MoveToNAS/Film.rec.nav"));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/MoveToNAS/Film.rec"));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/MoveToNAS/Film.rec.inf"));
  EXPECT_TRUE(LogHas("delete SourceFile: /mnt/hd/DataFiles/MoveToNAS/Film.rec.nav ")) << Log();
}

TEST_F(FilePrepTest, SummaryTakesTimeAndSpeedFromTheElapsedSeconds)
{
  UseShareFolders();
  WriteFile("/mnt/hd/DataFiles/MoveToNAS/Film.rec", Pattern(1536, 1));
  ListEntry("/DataFiles/MoveToNAS", "Film.rec");
  ASSERT_EQ(StartCopy(), 0);
  ASSERT_EQ(Pump(), 1);
  BytesCopiedLastTime = 0;
  // the copy opened at 21:05:09 and a few ticks; each row waits on from the last
  struct {
    double wait;
    const char *line;
    // clang-format off
  } rows[] = {
      {0, "Copy time = 0 min Filesize = 1.5 kB Transfered = 1.5 kB Average Speed = 90.0 kB/min"},
      {53, "Copy time = 0 min Filesize = 1.5 kB Transfered = 1.5 kB Average Speed = 1.7 kB/min"},  // across 21:06
      {72, "Copy time = 2 min Filesize = 1.5 kB Transfered = 1.5 kB Average Speed = 737 B/min"},
  };
  // clang-format on
  for (const auto &row : rows) {
    Rx().RunFor(row.wait);
    CalculateTransferData();
    EXPECT_TRUE(LogHas(row.line)) << row.line << "\n" << Log();
  }
}

}  // namespace
