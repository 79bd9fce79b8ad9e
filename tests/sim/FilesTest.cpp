// FilesTest.cpp -- the receiver's file system: path mapping and escapes,
// mounts that appear and vanish, device numbers, the disk API (folders,
// listings, handles) and injected write faults.
#include <sys/stat.h>
#include <utime.h>

#include <cerrno>
#include <fstream>
#include <map>

#include "HostFs.h"
#include "SimFixture.h"
#include "os_facade.h"
#include "tap_api.h"

namespace {

TEST(ReceiverPaths, NormalisationNeverLeavesTheRoot)
{
  struct Case {
    const char *in, *out;
  } cases[] = {{"/mnt/hd/DataFiles", "/mnt/hd/DataFiles"},
               {"/mnt/hd/DataFiles/", "/mnt/hd/DataFiles"},
               {"mnt//hd/./DataFiles", "/mnt/hd/DataFiles"},
               {"/mnt/hd/DataFiles/../ProgramFiles", "/mnt/hd/ProgramFiles"},
               {"/..", "/"},
               {"/../../etc/passwd", "/etc/passwd"},
               {"../x/../../y", "/y"},
               {"", "/"},
               {"/", "/"}};
  for (const Case &c : cases) EXPECT_EQ(sim::NormalizeReceiverPath(c.in), c.out) << c.in;
}

class FilesTest : public SimTest {
 protected:
  TempDir outside;  // host folders outside the sandbox (a share, a drive)
  void Configure(sim::Config &c) override
  {
    fs::create_directories(outside.path / "nas");
    fs::create_directories(outside.path / "usb");
    fs::create_directories(c.root / "mnt/hd/Binds/inner");
    c.mounts = {{"/mnt/hd/DataFiles/NAS-Share", outside.path / "nas", 2.0, 5.0},
                {"/mnt/sdb1", outside.path / "usb", 0, -1},
                {"/mnt/hd/DataFiles/Bound", c.root / "mnt/hd/Binds/inner", 0, -1}};
  }
  dev_t Dev(const char *path)
  {
    struct stat64 st;
    return OS_Lstat64(path, &st) == 0 ? st.st_dev : 0;
  }
  std::vector<std::string> List(const char *filter)
  {
    TapDirEntry e;
    std::vector<std::string> names;
    dword n = TAP_Hdd_FindFirst(&e, filter);
    for (dword i = 0; i < n; ++i) {
      names.push_back(std::string(e.Attr == ATTR_FOLDER ? "D:" : "F:") + e.Name);
      if (i + 1 < n) {
        EXPECT_NE(TAP_Hdd_FindNext(&e), 0u);
      }
    }
    EXPECT_EQ(TAP_Hdd_FindNext(&e), 0u) << "nothing after the counted entries";
    return names;
  }
};

TEST_F(FilesTest, EscapesStayInsideTheSandbox)
{
  const fs::path root = Host("/");
  for (const char *p :
       {"/../../../etc/passwd", "../etc/passwd", "/mnt/hd/../../../../x", "mnt/hd/DataFiles/../../../.."})
    EXPECT_EQ(Host(p).string().rfind(root.string(), 0), 0u) << p << " -> " << Host(p);
  FILE *f = OS_Fopen64("/../../../../../../etc/hostname", "r");
  EXPECT_EQ(f, nullptr) << "the host's own files are out of reach";
  if (f) OS_Fclose(f);
}

// A mount point is a folder of its parent before, during and after its
// mount, as the receiver has it: empty and on the internal disk while
// nothing is mounted, the share's content while it is; the parent's listing
// and the folder's own status show it all along.
TEST_F(FilesTest, MountPointsAreFoldersWhetherMountedOrNot)
{
  std::ofstream(outside.path / "nas/film.rec") << "on the share";
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
  struct Step {
    double at;
    dev_t dev;
    std::vector<std::string> inside;
  } steps[] = {{0, 0x802, {}}, {3, 0x811, {"F:film.rec"}}, {6, 0x802, {}}};
  for (const Step &s : steps) {
    Rx().RunFor(s.at - Rx().RunSeconds());
    SCOPED_TRACE("at " + std::to_string(s.at));
    ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
    std::vector<std::string> parent = List("");
    EXPECT_NE(std::find(parent.begin(), parent.end(), "D:NAS-Share"), parent.end()) << "listed in its parent";
    EXPECT_NE(std::find(parent.begin(), parent.end(), "D:Bound"), parent.end());
    EXPECT_TRUE(TAP_Hdd_Exist("NAS-Share"));
    EXPECT_EQ(Dev("/mnt/hd/DataFiles/NAS-Share"), s.dev);
    struct stat64 st;
    ASSERT_EQ(OS_Stat64("/mnt/hd/DataFiles/NAS-Share", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(TAP_Hdd_ChangeDir("NAS-Share"), 1u);
    EXPECT_EQ(List(""), s.inside);
  }
  EXPECT_TRUE(fs::is_directory(Host("/mnt/sdb1"))) << "a drive's mount point outside the disk too";
}

TEST_F(FilesTest, MountsAppearAndVanishAtTheirSeconds)
{
  WriteFile("/mnt/hd/DataFiles/NAS-Share/underneath.txt", "on the internal disk");
  std::ofstream(outside.path / "nas/onshare.txt") << "on the share";
  struct Step {
    double at;
    bool present;
    dev_t dev;
  } steps[] = {{0, false, 0x802}, {1.99, false, 0x802}, {2.0, true, 0x811}, {4.99, true, 0x811}, {5.0, false, 0x802}};
  for (const Step &s : steps) {
    Rx().RunFor(s.at - Rx().RunSeconds());
    EXPECT_EQ(Rx().MountPresent("/mnt/hd/DataFiles/NAS-Share"), s.present) << "at " << s.at;
    EXPECT_EQ(Dev("/mnt/hd/DataFiles/NAS-Share"), s.dev) << "at " << s.at;
    EXPECT_EQ(Exists("/mnt/hd/DataFiles/NAS-Share/onshare.txt"), s.present) << "at " << s.at;
    EXPECT_EQ(Exists("/mnt/hd/DataFiles/NAS-Share/underneath.txt"), !s.present) << "at " << s.at;
  }
}

TEST_F(FilesTest, DeviceNumbersAreTheReceiversAndInodesTheHosts)
{
  EXPECT_EQ(Dev("/mnt/hd"), 0x802u);
  EXPECT_EQ(Dev("/mnt/hd/DataFiles"), 0x802u);
  EXPECT_EQ(Dev("/mnt/hd/DataFiles/Bound"), 0x802u) << "a bind mount of the internal disk";
  EXPECT_EQ(Dev("/mnt/sdb1"), 0x821u) << "second mount outside the disk";
  EXPECT_NE(Dev("/mnt"), 0x802u);
  WriteFile("/mnt/hd/Binds/inner/same.rec", "x");
  struct stat64 a, b;
  ASSERT_EQ(OS_Stat64("/mnt/hd/Binds/inner/same.rec", &a), 0);
  ASSERT_EQ(OS_Stat64("/mnt/hd/DataFiles/Bound/same.rec", &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
  EXPECT_EQ(a.st_dev, b.st_dev);
  EXPECT_EQ(OS_Lstat64("/mnt/hd/none", &a), -1);
}

// A status query through a symbolic link is the target's, device and all,
// as the kernel's is: a link (or a folder link on the way) into a mount is on
// the mount's device; the link itself stays where it lies.
TEST_F(FilesTest, StatusThroughALinkIsOnTheTargetsDevice)
{
  std::ofstream(outside.path / "usb/film.rec") << "on the drive";
  MakeDir("/mnt/hd/DataFiles/Links");
  ASSERT_EQ(0, symlink((outside.path / "usb/film.rec").c_str(), Host("/mnt/hd/DataFiles/Links/film.rec").c_str()));
  ASSERT_EQ(0, symlink((outside.path / "usb").c_str(), Host("/mnt/hd/DataFiles/UsbFolder").c_str()));
  struct Case {
    const char *path;
    bool follow;
    dev_t dev;
  } cases[] = {{"/mnt/hd/DataFiles/Links/film.rec", true, 0x821},
               {"/mnt/hd/DataFiles/Links/film.rec", false, 0x802},
               {"/mnt/hd/DataFiles/UsbFolder/film.rec", false, 0x821},
               {"/mnt/hd/DataFiles/UsbFolder/film.rec", true, 0x821},
               {"/mnt/sdb1/film.rec", true, 0x821}};
  for (const Case &c : cases) {
    struct stat64 st;
    ASSERT_EQ(0, c.follow ? OS_Stat64(c.path, &st) : OS_Lstat64(c.path, &st)) << c.path;
    EXPECT_EQ(c.dev, st.st_dev) << c.path << (c.follow ? " followed" : " not followed");
  }
}

TEST_F(FilesTest, LinkAndRenameStayOnOneDevice)
{
  WriteFile("/mnt/hd/DataFiles/a.rec", "abc");
  EXPECT_EQ(OS_Link("/mnt/hd/DataFiles/a.rec", "/mnt/hd/DataFiles/a.ts"), 0);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/a.ts"), "abc");
  errno = 0;
  EXPECT_EQ(OS_Rename("/mnt/hd/DataFiles/a.rec", "/mnt/sdb1/a.rec"), -1);
  EXPECT_EQ(errno, EXDEV);
  EXPECT_EQ(OS_Rename("/mnt/hd/DataFiles/a.rec", "/mnt/hd/DataFiles/b.rec"), 0);
  EXPECT_EQ(OS_Mkdir("/mnt/sdb1/Films", 0755), 0);
  EXPECT_TRUE(fs::is_directory(outside.path / "usb/Films"));
  struct utimbuf t = {1000000000, 1000000000};
  EXPECT_EQ(OS_Utime("/mnt/hd/DataFiles/b.rec", &t), 0);
  EXPECT_EQ(OS_Unlink("/mnt/hd/DataFiles/a.ts"), 0);
  EXPECT_EQ(OS_Remove("/mnt/hd/DataFiles/b.rec"), 0);
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/b.rec"));
}

TEST_F(FilesTest, PresentMountPointsAreBusyAndTheirHostFoldersStay)
{
  // an empty drive: deleting or renaming its mount point must not reach the host folder
  MakeDir("/mnt/hd/DataFiles/Bound");
  errno = 0;
  EXPECT_EQ(OS_Remove("/mnt/sdb1"), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(OS_Rename("/mnt/sdb1", "/mnt/sdb2"), -1);
  EXPECT_EQ(OS_Rename("/mnt/hd/DataFiles/Bound", "/mnt/hd/DataFiles/Moved"), -1);
  MakeDir("/mnt/hd/DataFiles/Empty");
  EXPECT_EQ(OS_Rename("/mnt/hd/DataFiles/Empty", "/mnt/hd/DataFiles/Bound"), -1) << "nothing moves onto one";
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
  EXPECT_FALSE(TAP_Hdd_Delete("Bound"));
  EXPECT_TRUE(fs::is_directory(outside.path / "usb"));
  EXPECT_TRUE(fs::is_directory(Rx().config().root / "mnt/hd/Binds/inner"));
  // a share that is not there (yet) leaves an ordinary empty folder
  MakeDir("/mnt/hd/DataFiles/NAS-Share");
  EXPECT_TRUE(TAP_Hdd_Delete("NAS-Share"));
  EXPECT_TRUE(fs::is_directory(outside.path / "nas"));
}

TEST_F(FilesTest, ChangeDirTakesAbsoluteAndRelativeFormsAndStaysOnTheDisk)
{
  MakeDir("/mnt/hd/ProgramFiles/Settings/Ferrox");
  struct Case {
    const char *to;
    dword ok;
    const char *folder;
  } cases[] = {{"/ProgramFiles", 1, "/mnt/hd/ProgramFiles"},
               {"Settings", 1, "/mnt/hd/ProgramFiles/Settings"},
               {"Ferrox/", 1, "/mnt/hd/ProgramFiles/Settings/Ferrox"},
               {"..", 1, "/mnt/hd/ProgramFiles/Settings"},
               {"Nowhere", 0, "/mnt/hd/ProgramFiles/Settings"},
               {"/DataFiles/", 1, "/mnt/hd/DataFiles"},
               {"../../../..", 1, "/mnt/hd"},
               {"/", 1, "/mnt/hd"},
               {"/DataFiles/NAS-Share", 1, "/mnt/hd/DataFiles/NAS-Share"}};
  MakeDir("/mnt/hd/DataFiles/NAS-Share");
  for (const Case &c : cases) {
    EXPECT_EQ(TAP_Hdd_ChangeDir(c.to), c.ok) << c.to;
    EXPECT_EQ(Rx().CurrentFolder(hostSlot), c.folder) << c.to;
  }
}

TEST_F(FilesTest, ListingFiltersFilesButAlwaysListsFolders)
{
  for (const char *f : {"b.rec", "a.mpg", "c.ts", "d.REC", "e.rec.inf", "f.nav", "noext", "g.ts.del", "h.frx"})
    WriteFile(std::string("/mnt/hd/DataFiles/") + f, "x");
  MakeDir("/mnt/hd/DataFiles/Sub.rec");
  MakeDir("/mnt/hd/DataFiles/Folder");
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
  struct Case {
    const char *filter;
    std::vector<std::string> names;
    // clang-format off
  } cases[] = {
      // the mount point "Bound" is a folder too, mounted or not
      {"rec|mpg|ts", {"F:a.mpg", "F:b.rec", "F:c.ts", "D:Bound", "D:Folder", "D:NAS-Share", "D:Sub.rec"}},
      {"frx", {"D:Bound", "D:Folder", "D:NAS-Share", "D:Sub.rec", "F:h.frx"}},
      {"inf", {"D:Bound", "D:Folder", "D:NAS-Share", "D:Sub.rec", "F:e.rec.inf"}},
  };
  // clang-format on
  MakeDir("/mnt/hd/DataFiles/NAS-Share");
  for (const Case &c : cases) {
    std::vector<std::string> got = List(c.filter), want = c.names;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << c.filter;
  }
  std::vector<std::string> all = List("");
  EXPECT_EQ(all.size(), 13u) << "no filter lists every file and folder, never . or ..";
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [](const auto &a, const auto &b) {
    return a.substr(2) < b.substr(2);
  })) << "in name order";
}

TEST_F(FilesTest, DiskCallsFollowTheMountTable)
{
  std::ofstream(outside.path / "nas/shared.rec") << "share";
  MakeDir("/mnt/hd/DataFiles/NAS-Share");
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles/NAS-Share"), 1u);
  TapDirEntry e;
  EXPECT_EQ(TAP_Hdd_FindFirst(&e, "rec"), 0u) << "before the share appears: the empty mount point";
  Rx().RunFor(2.0);
  ASSERT_EQ(TAP_Hdd_FindFirst(&e, "rec"), 1u);
  EXPECT_STREQ(e.Name, "shared.rec");
  FwFileRecord *f = TAP_Hdd_Fopen("shared.rec");
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->PathInfo->AbsPath, "/mnt/hd/DataFiles/NAS-Share/shared.rec");
  EXPECT_EQ(TAP_Hdd_Flen(f), 5u);
  EXPECT_EQ(TAP_Hdd_Create("new.rec", ATTR_NORMAL), 1u);
  EXPECT_TRUE(fs::exists(outside.path / "nas/new.rec"));
  Rx().RunFor(3.0);
  char buf[8];
  EXPECT_EQ(TAP_Hdd_Fread(buf, 1, 5, f), 0u) << "the share under the open file is gone";
  TAP_Hdd_Fclose(f);
  EXPECT_FALSE(TAP_Hdd_Exist("shared.rec"));
}

TEST_F(FilesTest, DateStampsArePackedModificationTimesThatSortByAge)
{
  struct Case {
    const char *name;
    time_t mtime;
    dword stamp;
  } cases[] = {{"new.rec", 1450645509, 0xE0201505},   // 2015-12-20 21:05:09
               {"old.rec", 946684800, 0xC9580000},    // 2000-01-01 00:00
               {"mid.rec", 1262304060, 0xD79D0001}};  // 2010-01-01 00:01
  for (const Case &c : cases) {
    WriteFile(std::string("/mnt/hd/DataFiles/") + c.name, "x");
    struct utimbuf t = {c.mtime, c.mtime};
    ASSERT_EQ(utime(Host(std::string("/mnt/hd/DataFiles/") + c.name).c_str(), &t), 0);
  }
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
  TapDirEntry e;
  std::map<std::string, dword> stamps;
  for (dword n = TAP_Hdd_FindFirst(&e, "rec"), i = 0; i < n; ++i, TAP_Hdd_FindNext(&e)) stamps[e.Name] = e.DateStamp;
  for (const Case &c : cases) EXPECT_EQ(stamps[c.name], c.stamp) << c.name;
  EXPECT_LT(stamps["old.rec"], stamps["mid.rec"]);
  EXPECT_LT(stamps["mid.rec"], stamps["new.rec"]);
}

TEST_F(FilesTest, EachPluginHasItsOwnCurrentFolderAndListing)
{
  MakeDir("/mnt/hd/ProgramFiles/Only");
  WriteFile("/mnt/hd/ProgramFiles/Only/x.frx", "x");
  int other = Rx().AttachHostTask("/mnt/hd/ProgramFiles/Only");
  Rx().SetCurrentTask(hostSlot);
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
  TapDirEntry e;
  EXPECT_EQ(TAP_Hdd_FindFirst(&e, "frx"), 2u) << "the two mount points' folders, no file";
  Rx().SetCurrentTask(other);
  EXPECT_EQ(TAP_Hdd_FindFirst(&e, "frx"), 1u);
  EXPECT_STREQ(e.Name, "x.frx");
  EXPECT_TRUE(TAP_Hdd_Exist("x.frx"));
  Rx().SetCurrentTask(hostSlot);
  EXPECT_FALSE(TAP_Hdd_Exist("x.frx"));
  EXPECT_EQ(Rx().CurrentFolder(hostSlot), "/mnt/hd/DataFiles");
  EXPECT_EQ(Rx().CurrentFolder(other), "/mnt/hd/ProgramFiles/Only");
}

TEST_F(FilesTest, HandlesReadWriteSeekAndKnowTheirPath)
{
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
  EXPECT_EQ(TAP_Hdd_Fopen("missing.rec"), nullptr);
  EXPECT_EQ(TAP_Hdd_Create("new.rec", ATTR_NORMAL), 1u);
  FwFileRecord *f = TAP_Hdd_Fopen("new.rec");
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->PathInfo->AbsPath, "/mnt/hd/DataFiles/new.rec");
  EXPECT_EQ(TAP_Hdd_Fwrite("0123456789", 2, 5, f), 5u);
  EXPECT_EQ(TAP_Hdd_Flen(f), 10u);
  EXPECT_EQ(TAP_Hdd_Fseek(f, 4, 0), 4u);
  char buf[8] = {};
  EXPECT_EQ(TAP_Hdd_Fread(buf, 1, 3, f), 3u);
  EXPECT_STREQ(buf, "456");
  EXPECT_EQ(TAP_Hdd_Fseek(f, -2, 2), 8u);
  TAP_Hdd_Fclose(f);
  EXPECT_EQ(TAP_Hdd_Create("new.rec", ATTR_NORMAL), 1u);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/new.rec"), "0123456789") << "creating an existing file keeps it";
  EXPECT_EQ(TAP_Hdd_Create("Folder", ATTR_FOLDER), 1u);
  EXPECT_TRUE(TAP_Hdd_Exist("Folder"));
  EXPECT_TRUE(TAP_Hdd_Delete("Folder"));
  EXPECT_TRUE(TAP_Hdd_Delete("new.rec"));
  EXPECT_FALSE(TAP_Hdd_Exist("new.rec"));
  // stale and bogus handles are refused, not followed
  EXPECT_EQ(TAP_Hdd_Fread(buf, 1, 3, f), 0u);
  TAP_Hdd_Fclose(f);
  EXPECT_EQ(TAP_Hdd_Flen(nullptr), 0u);
  EXPECT_EQ(Rx().TakeErrors(), 3) << "each use of a bad handle is an error of the run";
}

TEST_F(FilesTest, LengthIsThirtyTwoBits)
{
  WriteFile("/mnt/hd/DataFiles/big.rec", "");
  fs::resize_file(Host("/mnt/hd/DataFiles/big.rec"), (5ull << 30) + 7);  // sparse
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
  FwFileRecord *f = TAP_Hdd_Fopen("big.rec");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TAP_Hdd_Flen(f), static_cast<dword>((5ull << 30) + 7));
  TAP_Hdd_Fclose(f);
}

TEST_F(FilesTest, WritesFailOnceTheDiskIsFull)
{
  Rx().FailWritesAfter("/mnt/sdb1", 10);
  FILE *f = OS_Fopen64("/mnt/sdb1/full.bin", "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(OS_Fwrite("abcd", 4, 1, f), 1u);
  errno = 0;
  EXPECT_EQ(OS_Fwrite("efghijkl", 4, 2, f), 1u) << "the second item does not fit";
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(OS_Fwrite("x", 1, 1, f), 0u);
  EXPECT_EQ(OS_Fclose(f), 0);
  EXPECT_EQ(fs::file_size(outside.path / "usb/full.bin"), 10u) << "the disk takes what fits";

  Rx().FailWritesAfter("/mnt/hd/DataFiles/one.rec", 3);
  ASSERT_EQ(TAP_Hdd_ChangeDir("/DataFiles"), 1u);
  TAP_Hdd_Create("one.rec", ATTR_NORMAL);
  FwFileRecord *h = TAP_Hdd_Fopen("one.rec");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(TAP_Hdd_Fwrite("ab", 1, 2, h), 2u);
  EXPECT_EQ(TAP_Hdd_Fwrite("cd", 1, 2, h), 1u);
  TAP_Hdd_Fclose(h);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/one.rec"), "abc");
}

TEST_F(FilesTest, StreamsOnAVanishedShareFail)
{
  Rx().RunFor(2.0);
  ASSERT_TRUE(Rx().MountPresent("/mnt/hd/DataFiles/NAS-Share"));
  FILE *f = OS_Fopen64("/mnt/hd/DataFiles/NAS-Share/copy.rec", "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(OS_Fwrite("data", 1, 4, f), 4u);
  EXPECT_EQ(OS_Fflush(f), 0);
  Rx().RunFor(3.0);
  ASSERT_FALSE(Rx().MountPresent("/mnt/hd/DataFiles/NAS-Share"));
  errno = 0;
  EXPECT_EQ(OS_Fwrite("more", 1, 4, f), 0u);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(OS_Fseeko64(f, 0, SEEK_SET), -1);
  EXPECT_EQ(OS_Fsync(f), -1);
  EXPECT_EQ(OS_Fclose(f), EOF);
  EXPECT_EQ(OS_Fopen64("/mnt/hd/DataFiles/NAS-Share/copy.rec", "rb"), nullptr)
      << "the folder underneath the mount point is empty";
}

// A sync that does not hold the caller up: on the real clock it runs on a
// thread of its own and the polls say when it is done; on the virtual clock
// it takes the configured ticks. A stream closed while its sync runs waits
// for it, and streams the plug-in does not own are refused.
class SyncTest : public SimTest, public ::testing::WithParamInterface<sim::ClockMode> {
 protected:
  void Configure(sim::Config &c) override
  {
    c.clock = GetParam();
    c.syncTicks = 4;
  }
  // Polls, one firmware round apart, until the sync is no longer running.
  int PollUntilDone(FILE *f, int *rounds)
  {
    int state = 1;
    for (*rounds = 0; state == 1 && *rounds < 500; ++*rounds) {
      state = OS_SyncPoll(f);
      if (state == 1) Rx().Step();
    }
    return state;
  }
};

TEST_P(SyncTest, StartPollAndCloseOfABackgroundSync)
{
  FILE *f = OS_Fopen64("/mnt/hd/DataFiles/synced.rec", "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(4u, OS_Fwrite("data", 1, 4, f));
  ASSERT_EQ(0, OS_SyncStart(f));
  EXPECT_EQ(0, OS_SyncStart(f)) << "a second start joins the running sync";
  int rounds = 0;
  EXPECT_EQ(0, PollUntilDone(f, &rounds));
  if (GetParam() == sim::ClockMode::Virtual) {
    EXPECT_EQ(5, rounds) << "4 ticks running, then done";
  }
  EXPECT_EQ(0, OS_SyncPoll(f)) << "nothing runs any more";
  EXPECT_EQ("data", ReadFile("/mnt/hd/DataFiles/synced.rec")) << "the stream's buffer went with the sync";
  // closed while a sync runs: the close waits for it, the bytes stay
  EXPECT_EQ(4u, OS_Fwrite("more", 1, 4, f));
  ASSERT_EQ(0, OS_SyncStart(f));
  EXPECT_EQ(0, OS_Fclose(f));
  EXPECT_EQ("datamore", ReadFile("/mnt/hd/DataFiles/synced.rec"));
  errno = 0;
  EXPECT_EQ(-1, OS_SyncStart(stdout));
  EXPECT_EQ(EINVAL, errno) << "the console cannot be synced";
  EXPECT_EQ(-1, OS_SyncPoll(stdout));
}

INSTANTIATE_TEST_SUITE_P(Clocks, SyncTest, ::testing::Values(sim::ClockMode::Virtual, sim::ClockMode::Real),
                         [](const auto &info) {
                           return info.param == sim::ClockMode::Virtual ? std::string("VirtualClock")
                                                                        : std::string("RealClock");
                         });

TEST_F(FilesTest, UnknownStreamsAreRefused)
{
  FILE *mine = std::fopen(Host("/mnt/hd/DataFiles").c_str(), "r");
  ASSERT_NE(mine, nullptr);
  char buf[4];
  EXPECT_EQ(OS_Fread(buf, 1, 4, mine), 0u);
  EXPECT_EQ(OS_Fclose(mine), EOF);
  EXPECT_EQ(OS_Fclose(nullptr), EOF);
  std::fclose(mine);
  EXPECT_EQ(OS_Fclose(stdout), EOF) << "the simulator's console stays open";
  EXPECT_EQ(std::fflush(stdout), 0);
  EXPECT_EQ(Rx().TakeErrors(), 4) << "each an error of the run";
}

}  // namespace
