/* FilePrep.cpp -- where each file of the work list goes, and what follows.
 *
 * StartCopy works out source and destination folder and destination name of
 * the current part (special characters, " (DEC)", valid names, a numbered
 * name on a clash) and opens the transfer at the pace of the settings. After
 * a recording: the ".ts" hard link, the deletion of a moved source and the
 * summary line. A moved source goes only when it is unchanged since its
 * bytes were read, is not being recorded and its copy lies somewhere else.
 * Copying is the engine's. Owns: FileName, DestFileNameClean, DestDirPath,
 * PartStamp, SourceKept and the settings' share folder of the run. */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "FirmwareBinding.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "RecordingFiles.h"
#include "TextEncoding.h"
#include "os_facade.h"

#define SEPARATOR_59 "==========================================================="
#define NAME_WORK 512     /* destination names grow while special characters go */
#define DEST_NAME_MAX 126 /* so that ".inf" / ".nav" still fit DestFileNameClean */
#define MAX_NAME_NUMBER 9999
#define SPEED_DELAY 10                       /* ticks between two blocks */
#define FOLDER_MARKER ".Ferrox-folder-check" /* made in a destination folder for a moment */

char FileName[FILE_NAME_SIZE] = "";
char DestFileNameClean[131] = "";
char DestDirPath[512] = "";
tFRXStamp PartStamp[4];
int SourceKept = SK_Deleted;

static char SettingsShareDir[512] = ""; /* the settings' destination, kept over jobs */
static char MarkerLeft[512] = "";       /* a folder marker whose removal failed */
static int SettingsShareMounted = 0;    /* and whether it is a mount point */
static qword DestDevice = 0;            /* device of the destination at the main part */
static bool DestDeviceKnown = false;

/* Replacements for the single-byte form of a name, applied in this order. */
// clang-format off
static const char *const SpecialChars[][2] = {
    {"\xE4", "ae"}, {"\xC4", "Ae"}, {"\xFC", "ue"}, {"\xDC", "Ue"}, {"\xF6", "oe"},
    {"\xD6", "Oe"}, {"\xDF", "ss"},
    {"\xE1", "a"},  {"\xC1", "A"},  {"\xE0", "a"},  {"\xC0", "A"},  {"\xE2", "a"},  {"\xC2", "A"},
    {"\xF3", "o"},  {"\xD3", "O"},  {"\xF2", "o"},  {"\xD2", "O"},  {"\xF4", "o"},  {"\xD4", "O"},
    {"\xFA", "u"},  {"\xDA", "U"},  {"\xF9", "u"},  {"\xD9", "U"},  {"\xFB", "u"},  {"\xDB", "U"},
    {"\xED", "i"},  {"\xCD", "I"},  {"\xEC", "i"},  {"\xCC", "I"},  {"\xEE", "i"},  {"\xCE", "I"},
    {"\xE9", "e"},  {"\xC9", "E"},  {"\xE8", "e"},  {"\xC8", "E"},  {"\xEA", "e"},  {"\xCA", "E"},
    {"\xEB", "e"},  {"\xCB", "E"},
};
// clang-format on

/* Cuts name to at most max bytes by shortening what comes before its last
 * tailLen bytes, on a whole UTF-8 character: a long name keeps its
 * extension (and number), so the copy stays a file of the same kind. */
static void FitName(char *name, size_t tailLen, size_t max)
{
  CallTraceEnter("FitName");
  size_t len = strlen(name);
  if (len > max) {
    if (tailLen > len || tailLen >= max) tailLen = 0;
    size_t head = max - tailLen;
    while (head > 0 && ((unsigned char)name[head] & 0xC0) == 0x80) head--;
    memmove(name + head, name + len - tailLen, tailLen + 1);
  }
  CallTraceExit(nullptr);
}

/* The length of the extension of name, dot included; 0 without a dot. */
static size_t ExtensionLength(const char *name)
{
  CallTraceEnter("ExtensionLength");
  const char *dot = strrchr(name, '.');
  size_t len = dot != nullptr ? strlen(dot) : 0;
  CallTraceExit(nullptr);
  return len;
}

/* A step of the name's cleaning changed it: a line says how and why, so
 * that a copy under another name is never a surprise. */
static void NoteNameChange(const char *before, const char *after, const char *why)
{
  CallTraceEnter("NoteNameChange");
  if (strcmp(before, after) != 0) WriteLogF("Destination name '%s' became '%s': %s", before, after, why);
  CallTraceExit(nullptr);
}

/* The destination name of a main file: single-byte letters spelt out for
 * file systems that cannot hold them, " (DEC)" removed, reserved characters
 * dropped. name holds NAME_WORK bytes. */
static void CleanDestinationName(char *name)
{
  CallTraceEnter("CleanDestinationName");
  char before[NAME_WORK];
  if (SpecChar != 0 || MountType == 1) {
    snprintf(before, sizeof before, "%s", name);
    char *ansi = UTFtoANSI(name);
    if (ansi != nullptr) snprintf(name, NAME_WORK, "%s", ansi);
    for (size_t i = 0; i < sizeof SpecialChars / sizeof SpecialChars[0]; i++)
      StrReplace(name, SpecialChars[i][0], SpecialChars[i][1], NAME_WORK);
    /* An NTFS drive takes names in UTF-8 only: a letter the table does not
     * spell out (c cedilla, o slash, ...) goes back to UTF-8, or the drive
     * would refuse the name on every run. */
    if (MountType == 1) StrMkUTF8(name, 1, NAME_WORK);
    NoteNameChange(before, name, "special letters spelt out");
  }
  if (DelDEC != 0) {
    snprintf(before, sizeof before, "%s", name);
    StrReplace(name, " (DEC)", "", NAME_WORK);
    StrReplace(name, "(DEC)", "", NAME_WORK);
    NoteNameChange(before, name, "\" (DEC)\" removed");
  }
  /* spelt-out letters may have made it too long for the name buffers and,
   * with ".inf" or ".nav", for the drive */
  size_t length = strlen(name);
  FitName(name, ExtensionLength(name), DEST_NAME_MAX);
  if (strlen(name) < length) WriteLogF("Destination name shortened to fit with its companions: '%s'", name);
  snprintf(before, sizeof before, "%s", name);
  MakeValidFileName(name, LC_CONTROL | LC_RESERVED);
  NoteNameChange(before, name, "characters a share cannot hold removed");
  CallTraceExit(nullptr);
}

/* The long-log line of a destination probe, formatted into LogString. */
static void LogDestinationStatus(int status)
{
  CallTraceEnter("LogDestinationStatus");
  const char *text;
  switch (status) {
    case DEST_NONE: text = "Destinationstatus: Destination file doesn't exist"; break;
    case DEST_SAME: text = "Destinationstatus: destination file still exist and is the same as source file"; break;
    case DEST_DIFFERS:
      text = "Destinationstatus: destination file still exist but is not identical with source file";
      break;
    case DEST_NO_FOLDER: text = "Destinationstatus: Destination path doesn't exist"; break;
    default: text = "Destinationstatus: Error! don't know status "; break;
  }
  snprintf(LogString, sizeof LogString, "%s", text);
  if (LogLength != 0) WriteLog(LogString);
  CallTraceExit(nullptr);
}

/* dir + "/" + name + ending into a 512-byte buffer; false when cut. */
static bool JoinPath(char *out, const char *dir, const char *name, const char *ending)
{
  CallTraceEnter("JoinPath");
  int len = snprintf(out, 512, "%s/%s%s", dir, name, ending);
  bool fits = len >= 0 && len < 512;
  CallTraceExit(nullptr);
  return fits;
}

/* Are the companions at the destination under name missing, or what this
 * recording's own companions left there? Any other ".inf" or ".nav" belongs
 * to another recording, which must never lose it. */
static bool CompanionsFit(const char *name, const char *srcDir, const char *dstDir)
{
  CallTraceEnter("CompanionsFit");
  static const char *const endings[] = {".inf", ".nav"};
  char src[512], dst[512];
  bool fit = true;
  for (int i = 0; i < 2 && fit; i++)
    fit = JoinPath(src, srcDir, FileName, endings[i]) && JoinPath(dst, dstDir, name, endings[i]) &&
          FRX_DestinationFitsSource(src, dst);
  CallTraceExit(nullptr);
  return fit;
}

/* May the recording go to name, given the probe's status? Nothing there,
 * this very recording (status 1), or an empty file, which mostly is what a
 * transfer that failed at its first block left: it is taken over instead
 * of staying beside a numbered copy. A link or a folder in the way, or a
 * file that cannot be read, is a different file; so is a recording whose
 * companions are not this one's. Null when it may, else what is in the way. */
static const char *InTheWay(const char *name, const char *srcDir, const char *dstDir, int status)
{
  CallTraceEnter("InTheWay");
  char path[512];
  struct stat64 st;
  const char *why = nullptr;
  if (status != DEST_NO_FOLDER && !JoinPath(path, dstDir, name, "")) {
    why = "a path too long to look at";
  } else if (status != DEST_NO_FOLDER && SC_Lstat64(path, &st) == 0) {
    if (S_ISDIR(st.st_mode)) why = "a folder";
    else if (S_ISLNK(st.st_mode)) why = "a link";
    else if (!S_ISREG(st.st_mode)) why = "something that is no file";
    else if (status != DEST_SAME && st.st_size != 0) why = "a different file";
  }
  /* only a recording has companions to keep apart */
  if (why == nullptr && status != DEST_NO_FOLDER && FileTyp == FT_Rec && !CompanionsFit(name, srcDir, dstDir))
    why = "the companions (.inf, .nav) of a different recording";
  CallTraceExit(nullptr);
  return why;
}

/* A different file of that name is at the destination: Film.rec becomes
 * Film-1.rec, Film-2.rec, ... until a name is free or holds this very file.
 * A name at the length limit gives up the end of its base for the number.
 * False when no such name is found. why says what was in the way. */
static bool NumberDestinationName(char *name, const char *srcDir, const char *dstDir, const char *why)
{
  CallTraceEnter("NumberDestinationName");
  char base[NAME_WORK], candidate[NAME_WORK];
  size_t extLen = ExtensionLength(name);
  const char *ext = name + strlen(name) - extLen;
  snprintf(base, sizeof base, "%.*s", (int)(strlen(name) - extLen), name);
  bool found = false;
  for (int i = 1; i <= MAX_NAME_NUMBER && !found; i++) {
    int len = snprintf(candidate, sizeof candidate, "%s-%d%s", base, i, ext);
    if (len < 0 || (size_t)len >= sizeof candidate) break;
    FitName(candidate, (size_t)len - strlen(base), DEST_NAME_MAX);
    found =
        InTheWay(candidate, srcDir, dstDir, FRX_GetDestinationStatus(FileName, candidate, srcDir, dstDir)) == nullptr;
  }
  if (found) {
    char was[NAME_WORK];
    snprintf(was, sizeof was, "%s", name);
    snprintf(name, NAME_WORK, "%s", candidate);
    WriteLogF("Destination needed to be renamed to '%s'", name);
    WriteLogF("Destination name '%s' became '%s': numbered, for what is at %s/%s: %s", was, name, dstDir, was, why);
  } else {
    WriteLogF("Error: no free destination name for '%s'", name);
  }
  CallTraceExit(nullptr);
  return found;
}

/* Destination name and folder of a main file, decided once for the file and
 * its companions; false when there is none. */
static bool ChooseDestination(char *name, const char *srcDir, const char *dstDir)
{
  CallTraceEnter("ChooseDestination");
  snprintf(name, NAME_WORK, "%s", FileName);
  CleanDestinationName(name);
  int status = FRX_GetDestinationStatus(FileName, name, srcDir, dstDir);
  /* a job whose destination folder is missing fails without the line; a
   * sub-folder below it is made, as in a normal run */
  struct stat64 st;
  bool jobFolderThere = SC_Stat64(ShareDir, &st) == 0 && S_ISDIR(st.st_mode) && strcmp(dstDir, ShareDir) != 0;
  if (status == DEST_NO_FOLDER && JobState == JS_Job && !jobFolderThere) {
    CallTraceExit(nullptr);
    return false;
  }
  LogDestinationStatus(status);
  const char *why = InTheWay(name, srcDir, dstDir, status);
  if (why != nullptr && !NumberDestinationName(name, srcDir, dstDir, why)) {
    CallTraceExit(nullptr);
    return false;
  }
  snprintf(DestFileNameClean, sizeof DestFileNameClean, "%s", name);
  snprintf(DestDirPath, sizeof DestDirPath, "%s", dstDir);
  CallTraceExit(nullptr);
  return true;
}

/* Whether path begins with the folder `head` (then `tail`, when given):
 * the length of that prefix, which ends at a "/" or the path's end; 0 if not. */
static size_t FolderPrefix(const char *path, const char *head, const char *tail)
{
  CallTraceEnter("FolderPrefix");
  size_t n = strlen(head), m = tail != nullptr ? strlen(tail) : 0, len = n + m;
  bool match = len != 0 && strncmp(path, head, n) == 0 && (tail == nullptr || strncmp(path + n, tail, m) == 0);
  /* a folder written with its closing "/" ends before it */
  if (match && (m != 0 ? tail[m - 1] : head[n - 1]) == '/') len--;
  match = match && (path[len] == '\0' || path[len] == '/');
  CallTraceExit(nullptr);
  return match ? len : 0;
}

/* The part of a source folder below MoveDir, "" for MoveDir itself. The
 * source folder is the full path; MoveDir holds the full path in a normal
 * run and a folder job, the path below the mount root in a one-file job.
 * A folder outside MoveDir has no part below it: its files go straight
 * into the destination folder. */
static const char *BelowSourceFolder(const char *srcDir)
{
  CallTraceEnter("BelowSourceFolder");
  size_t skip = FolderPrefix(srcDir, MoveDir, nullptr);
  if (skip == 0) skip = FolderPrefix(srcDir, STapfsRoot, MoveDir);
  const char *relative = skip != 0 ? srcDir + skip : "";
  CallTraceExit(nullptr);
  return relative;
}

/* Source and destination folder of the current entry: the structure below
 * the source folder is repeated below the destination folder. */
static bool EntryFolders(const tFileToProcess *entry, char *srcDir, char *dstDir)
{
  CallTraceEnter("EntryFolders");
  int srcLen = snprintf(srcDir, 512, "%s%s", STapfsRoot, entry->Folder);
  const char *relative = BelowSourceFolder(srcDir);
  if (LogLength != 0) {
    WriteLogF("MoveDir to calculate DestDir = %s", MoveDir);
    WriteLogF("DestDirName calculated = %s", relative);
  }
  int dstLen = snprintf(dstDir, 512, "%s%s", ShareDir, relative);
  bool fits = srcLen < 512 && dstLen < 512;
  if (!fits) WriteLogF("Error: path too long for %s", entry->FileName);
  CallTraceExit(nullptr);
  return fits;
}

/* The pace of the transfer just opened: block size by part, speed setting
 * and mount type; 10 ticks between blocks. */
static void SetPace(void)
{
  CallTraceEnter("SetPace");
  if (FileTyp == FT_Inf) FRX_SetSpeed(SPEED_DELAY, 0x40000);
  else if (FileTyp == FT_Nav) FRX_SetSpeed(SPEED_DELAY, 0x80000);
  else if (MountType == 0 || MountType == 1) FRX_SetSpeed(SPEED_DELAY, (dword)CopySpeed << 19);
  else if (MountType == 2) FRX_SetSpeed(SPEED_DELAY, (dword)(CopySpeed * 3) << 21);
  CallTraceExit(nullptr);
}

/* The current part's source name in FileName and destination name in
 * dstName; false when it does not fit the name buffers. */
static bool PartNames(const tFileToProcess *entry, char *dstName)
{
  CallTraceEnter("PartNames");
  const char *suffix = FileTyp == FT_Inf ? ".inf" : FileTyp == FT_Nav ? ".nav" : "";
  int len = snprintf(FileName, sizeof FileName, "%s%s", entry->FileName, suffix);
  bool fits = len >= 0 && (size_t)len < sizeof FileName;
  if (*suffix != '\0') snprintf(dstName, NAME_WORK, "%s%s", DestFileNameClean, suffix);
  if (!fits) WriteLogF("Error: file name too long: %s%s", entry->FileName, suffix);
  CallTraceExit(nullptr);
  return fits;
}

void RememberSettingsShare(void)
{
  CallTraceEnter("RememberSettingsShare");
  snprintf(SettingsShareDir, sizeof SettingsShareDir, "%s", ShareDir);
  SettingsShareMounted = MountedDirDest;
  CallTraceExit(nullptr);
}

/* The mount point the destination lies at or below, as the run knows it:
 * the settings' destination when it is marked as mounted (a job's folder
 * counts when it lies below it); "" when there is none. */
static const char *KnownMountPoint(const char *dstDir)
{
  CallTraceEnter("KnownMountPoint");
  const char *point = "";
  size_t len = strlen(SettingsShareDir);
  if (JobState == JS_Normal && MountedDirDest != 0) point = ShareDir;
  else if (SettingsShareMounted != 0 && len > 0 && strncmp(dstDir, SettingsShareDir, len) == 0 &&
           (dstDir[len] == '\0' || dstDir[len] == '/'))
    point = SettingsShareDir;
  CallTraceExit(nullptr);
  return point;
}

/* The device of a folder, or of its nearest ancestor that exists. */
static bool FolderDevice(const char *folder, qword *dev)
{
  CallTraceEnter("FolderDevice");
  char path[512];
  struct stat64 st;
  snprintf(path, sizeof path, "%s", folder);
  bool found = false;
  while (!found && path[0] != '\0') {
    found = SC_Stat64(path, &st) == 0;
    char *slash = strrchr(path, '/');
    if (found || slash == nullptr || (slash == path && path[1] == '\0')) break;
    slash[slash == path ? 1 : 0] = '\0'; /* "/a/b" -> "/a", "/a" -> "/" */
  }
  if (found) *dev = (qword)st.st_dev;
  CallTraceExit(nullptr);
  return found;
}

/* Is the destination still where the recording's first part went? Were a
 * share to go away in mid-run, the copies would be made on the internal
 * disk below the bare mount point, hidden once the share is back, and a
 * move would delete their sources. Checked before every part, in every
 * mode: the known mount point must be mounted, and a companion must go to
 * the device its recording went to. */
static bool DestinationStillThere(const char *dstDir, bool mainFile)
{
  CallTraceEnter("DestinationStillThere");
  const char *point = KnownMountPoint(dstDir);
  qword dev = 0;
  bool there = point[0] == '\0' || SC_IsMounted(point);
  if (!there) WriteLogF("Error: %s is not mounted any more", point);
  if (there && !mainFile && DestDeviceKnown) {
    there = FolderDevice(dstDir, &dev) && dev == DestDevice;
    if (!there) WriteLogF("Error: %s is not on the drive its recording went to any more", dstDir);
  }
  CallTraceExit(nullptr);
  return there;
}

/* A companion's destination that is a link or a folder would be written
 * through, or is no file of this recording: the part fails. */
static bool CompanionPathIsFile(const char *dstDir, const char *dstName)
{
  CallTraceEnter("CompanionPathIsFile");
  char path[512];
  struct stat64 st;
  bool ok = JoinPath(path, dstDir, dstName, "") && (SC_Lstat64(path, &st) != 0 || S_ISREG(st.st_mode));
  if (!ok) WriteLogF("Error: %s/%s is in the way and is not written", dstDir, dstName);
  CallTraceExit(nullptr);
  return ok;
}

int StartCopy(void)
{
  CallTraceEnter("StartCopy");
  char srcDir[512], dstDir[512], dstName[NAME_WORK];
  if (NrOfFilesToProcess == 0 || CurrentFileToProcess >= NrOfFilesToProcess) {
    WriteLogF("NrFilesToProcess %d CurrentFileToProcess %d", NrOfFilesToProcess, CurrentFileToProcess);
    CallTraceExit(nullptr);
    return START_LIST_END;
  }
  const tFileToProcess *entry = &FilesToProcess[CurrentFileToProcess];
  bool mainFile = FileTyp == FT_Rec || FileTyp == FT_Other;
  if (mainFile) {
    WriteLog(SEPARATOR_59);
    WriteLogF("REC|MPG|TS %d of %d", CurrentFileToProcess + 1, NrOfFilesToProcess);
    memset(FileStatus, 0, sizeof FileStatus);
  }
  /* A name that does not fit would open some other, shorter-named file.
   * It counts as a source that cannot be opened, never as a missing one:
   * a missing ".nav" would still let a move delete the source. */
  if (!PartNames(entry, dstName)) {
    CallTraceExit(nullptr);
    return START_SOURCE_FAILED;
  }
  if (mainFile) DestDeviceKnown = false;
  if (!EntryFolders(entry, srcDir, dstDir) || !DestinationStillThere(dstDir, mainFile) ||
      (mainFile && !ChooseDestination(dstName, srcDir, dstDir)) ||
      (!mainFile && !CompanionPathIsFile(dstDir, dstName))) {
    CallTraceExit(nullptr);
    return START_DEST_FAILED;
  }
  if (mainFile) DestDeviceKnown = FolderDevice(dstDir, &DestDevice);
  FRX_SetVerify(move == 1);
  FRX_SetMountPoint(KnownMountPoint(dstDir)); /* the engine makes the missing folders */
  int result = FRX_Init(FileName, dstName, srcDir, dstDir);
  if (LogLength != 0)
    WriteLogF("InitStatus used Filenames are: Source='%s'\n%53sDest='%s' Status=%d", FileName, "", dstName, result);
  if (mainFile) StartTime = Now(&StartSec);
  SetPace();
  CallTraceExit(nullptr);
  return result;
}

void CreateTSLink(void)
{
  CallTraceEnter("CreateTSLink");
  char existing[512], link[512];
  struct stat64 stExisting, stLink;
  int len = snprintf(existing, sizeof existing, "%s/%s", DestDirPath, DestFileNameClean);
  if (len < 4 || (size_t)len >= sizeof existing) {
    WriteLogF("ts link: %s failed !!! Sorry no chance...", existing);
    CallTraceExit(nullptr);
    return;
  }
  snprintf(link, sizeof link, "%.*s.ts", len - 4, existing);
  /* The link is made by the system call itself: no shell ever sees a name. */
  bool linked = SC_Link(existing, link) == 0;
  /* a link made by an earlier run is as good as a new one */
  if (!linked && SC_Lstat64(existing, &stExisting) == 0 && SC_Lstat64(link, &stLink) == 0)
    linked = stExisting.st_dev == stLink.st_dev && stExisting.st_ino == stLink.st_ino;
  if (linked) WriteLogF("ts link: %s done", link);
  else WriteLogF("ts link: %s failed !!! Sorry no chance...", link);
  CallTraceExit(nullptr);
}

/* Deletes one file; a path that was cut is never touched. */
static void DeletePath(const char *path, const char *ending)
{
  CallTraceEnter("DeletePath");
  char full[512];
  int len = snprintf(full, sizeof full, "%s%s", path, ending);
  if (len >= 0 && (size_t)len < sizeof full) OS_Unlink(full);
  CallTraceExit(nullptr);
}

void RememberPartSource(void)
{
  CallTraceEnter("RememberPartSource");
  if (FileTyp >= FT_Rec && FileTyp <= FT_Other) FRX_GetSourceStamp(&PartStamp[FileTyp]);
  CallTraceExit(nullptr);
}

/* Is every part's source as it was when its bytes were read? A part that
 * was missing must still be missing: deleting it would lose a file nobody
 * copied. */
static bool SourcesUnchanged(const char *path, bool recording)
{
  CallTraceEnter("SourcesUnchanged");
  static const char *const endings[] = {"", ".inf", ".nav", ""};
  char part[512];
  tFRXStamp now;
  bool same = true;
  for (int typ = FT_Rec; typ <= FT_Other && same; typ++) {
    if ((typ == FT_Other) == recording) continue;
    int len = snprintf(part, sizeof part, "%s%s", path, endings[typ]);
    if (len < 0 || (size_t)len >= sizeof part) same = false;
    else if (FileStatus[typ] == FS_Done) same = FRX_TakeStamp(part, &now) && FRX_SameStamp(&now, &PartStamp[typ]);
    else same = !FRX_TakeStamp(part, &now);
  }
  if (!same) WriteLogF("File: %s changed after it was copied and is not deleted", path);
  CallTraceExit(nullptr);
  return same;
}

/* Is the recording being made? The recorder would go on writing into a
 * deleted file. One being played is stopped first, as the toolkit's delete
 * does. */
static bool SourceInUse(const char *path)
{
  CallTraceEnter("SourceInUse");
  int use = HDD_isFileInUse(path);
  bool recorded = use >= INUSE_RECORDING;
  if (recorded) {
    WriteLogF("File: %s is being recorded and is not deleted", path);
  } else if (use != INUSE_NONE) {
    WriteLogF("File: %s is being played, the playback is stopped", path);
    TAP_Hdd_StopTs();
  }
  CallTraceExit(nullptr);
  return recorded;
}

/* Are source and destination folder two places? The same share mounted
 * twice, or a link into a mount, shows one folder under two names with
 * different devices: a marker made in the destination must not show up in
 * the source. False, with its line, when they are one or it cannot be told. */
void RemoveFolderMarker(void)
{
  CallTraceEnter("RemoveFolderMarker");
  if (MarkerLeft[0] != '\0') {
    if (SC_Unlink(MarkerLeft) == 0 || errno == ENOENT) MarkerLeft[0] = '\0';
    else WriteLogF("Error: can't remove %s", MarkerLeft);
  }
  CallTraceExit(nullptr);
}

static bool FoldersDiffer(const char *srcDir, const char *dstDir)
{
  CallTraceEnter("FoldersDiffer");
  RemoveFolderMarker();
  char marker[512], mirror[512];
  struct stat64 st;
  bool made = JoinPath(marker, dstDir, FOLDER_MARKER, "") && JoinPath(mirror, srcDir, FOLDER_MARKER, "");
  if (made) {
    /* one left behind by a run that was cut off is the service's own */
    SC_Unlink(marker);
    OS_Unlink(mirror);
    FILE *f = SC_Fopen64(marker, "w");
    if (f != nullptr) SC_Fclose(f);
    made = f != nullptr;
  }
  bool differ = made && OS_Lstat64(mirror, &st) != 0;
  /* a share may still be closing the marker and refuse its removal for a
   * moment (SMB): it is removed again at the run's end */
  if (made && SC_Unlink(marker) != 0) snprintf(MarkerLeft, sizeof(MarkerLeft), "%s", marker);
  if (!made) WriteLogF("Error: can't tell %s from %s, no source is deleted", dstDir, srcDir);
  else if (!differ) WriteLogF("Error: %s and %s are the same folder, no source is deleted", dstDir, srcDir);
  CallTraceExit(nullptr);
  return differ;
}

/* The copies of the current entry are on the disk before its source goes:
 * each part that arrived is synced, then its folder and every folder above
 * it up to the destination folder (and that one's own folder where it is no
 * mount point), whose names the run may have made. A receiver switched off
 * just after the deletion then still has the copies. False, with its line,
 * when a sync fails: the source stays. */
static bool CopiesOnDisk(bool recording)
{
  CallTraceEnter("CopiesOnDisk");
  static const char *const endings[] = {"", ".inf", ".nav", ""};
  char path[512];
  bool synced = true;
  for (int typ = FT_Rec; typ <= FT_Other && synced; typ++) {
    if ((typ == FT_Other) == recording || FileStatus[typ] != FS_Done) continue;
    int len = snprintf(path, sizeof path, "%s/%s%s", DestDirPath, DestFileNameClean, endings[typ]);
    FILE *f = len > 0 && (size_t)len < sizeof path ? SC_Fopen64(path, "rb") : nullptr;
    synced = f != nullptr && SC_Fsync(f) == 0;
    if (f != nullptr) SC_Fclose(f);
  }
  /* a mount point's own folder is the mount's root: nothing above it is ours */
  size_t top = strlen(ShareDir);
  bool parentToo = !(JobState == JS_Normal && MountedDirDest != 0);
  snprintf(path, sizeof path, "%s", DestDirPath);
  while (synced) {
    synced = SC_SyncDir(path) == 0;
    size_t len = strlen(path);
    char *slash = strrchr(path, '/');
    if (len < top || (len == top && !parentToo) || slash == nullptr || slash == path) break;
    *slash = '\0';
  }
  if (!synced) WriteLogF("Error: the copy of %s could not be synced to the disk, the source is not deleted", FileName);
  CallTraceExit(nullptr);
  return synced;
}

/* May the source at path go? SourceKept tells why not. */
static bool SourceMayGo(const char *path, const char *srcDir, bool recording)
{
  CallTraceEnter("SourceMayGo");
  if (SourceInUse(path) || !SourcesUnchanged(path, recording)) SourceKept = SK_Passing;
  else if (!FoldersDiffer(srcDir, DestDirPath)) SourceKept = SK_Lasting;
  else if (!CopiesOnDisk(recording)) SourceKept = SK_Passing;
  else SourceKept = SK_Deleted;
  CallTraceExit(nullptr);
  return SourceKept == SK_Deleted;
}

void DeleteCurrentSource(void)
{
  CallTraceEnter("DeleteCurrentSource");
  char path[512], srcDir[512];
  SourceKept = SK_Lasting;
  if (CurrentFileToProcess < 0 || CurrentFileToProcess >= NrOfFilesToProcess) {
    CallTraceExit(nullptr);
    return;
  }
  /* The entry's own name, not FileName with ".inf" or ".nav" cut off: a
   * job's single file "Film.rec.nav" would otherwise take "Film.rec" along,
   * which was never copied. */
  const tFileToProcess *entry = &FilesToProcess[CurrentFileToProcess];
  const char *name = entry->FileName;
  int len = snprintf(path, sizeof path, "%s%s/%s", STapfsRoot, entry->Folder, name);
  int dirLen = snprintf(srcDir, sizeof srcDir, "%s%s", STapfsRoot, entry->Folder);
  if (len < 0 || (size_t)len + 4 >= sizeof path || dirLen < 0 || (size_t)dirLen >= sizeof srcDir) {
    /* deleting a cut path could remove some other file */
    WriteLogF("Error: path too long, %s is not deleted", name);
    CallTraceExit(nullptr);
    return;
  }
  bool recording = FileTyp == FT_Nav;
  if (JobState == JS_Normal &&
      (FileStatus[FT_Rec] < FS_Missing || FileStatus[FT_Inf] < FS_Missing || FileStatus[FT_Nav] < FS_Missing)) {
    WriteLogF("File: %s wird NICHT gelöscht, da .inf oder .nav fehlt", path);
    CallTraceExit(nullptr);
    return;
  }
  if (!SourceMayGo(path, srcDir, recording)) {
    CallTraceExit(nullptr);
    return;
  }
  if (JobState == JS_Job) WriteLogF("delete SourceFile: %s ", path);
  else WriteLogF("delete File: %s ", path);
  DeletePath(path, "");
  if (recording) {
    DeletePath(path, ".nav");
    DeletePath(path, ".inf");
  }
  CallTraceExit(nullptr);
}

void CalculateTransferData(void)
{
  CallTraceEnter("CalculateTransferData");
  byte sec = 0;
  qword total = 0, copied = 0;
  char size[32], moved[32], speed[32];
  dword now = Now(&sec);
  FRX_GetStats(&total, &copied, nullptr, nullptr);
  qword transferred = copied - BytesCopiedLastTime;
  FileSizeToString((dword)total, (dword)(total >> 32), size);
  FileSizeToString((dword)transferred, (dword)(transferred >> 32), moved);
  /* From the elapsed seconds: whole minutes between the two clock readings
   * said 1 for a 4-second copy across a minute's turn and gave no speed
   * for anything copied within a minute. */
  long long elapsed = 60LL * TimeDiff(StartTime, now) + ((int)sec - (int)StartSec);
  int minutes = elapsed > 0 ? (int)(elapsed / 60) : 0;
  if (elapsed < 0) {
    snprintf(speed, sizeof speed, "Error"); /* the clock went back */
  } else {
    qword perMinute = transferred * 60 / (qword)(elapsed > 0 ? elapsed : 1);
    FileSizeToString((dword)perMinute, (dword)(perMinute >> 32), speed);
  }
  WriteLogF("Copy time = %d min Filesize = %s Transfered = %s Average Speed = %s/min", minutes, size, moved, speed);
  CallTraceExit(nullptr);
}

/* n / 1024 with one decimal, as "%.1f" of the single-precision value
 * (float)n / 1024 prints it, in integers: n kept to the 24 significant bits
 * a float holds (the nearest, ties to even), then the tenths rounded the
 * way printf rounds, to the nearest and ties to even. */
static void PrintKibiTenths(qword n, const char *unit, char *out)
{
  CallTraceEnter("PrintKibiTenths");
  int bits = 0;
  while (bits < 64 && (n >> bits) > 0) bits++;
  if (bits > 24) {
    const int drop = bits - 24;
    const qword half = 1ull << (drop - 1), rest = n & ((1ull << drop) - 1);
    n >>= drop;
    if (rest > half || (rest == half && (n & 1) != 0)) n++;
    n <<= drop;
  }
  /* n <= 2^34 here: ten times it fits, and n / 1024 fits 32 bits */
  qword tenths = n * 10 >> 10;
  const qword rest = n * 10 & 1023;
  if (rest > 512 || (rest == 512 && (tenths & 1) != 0)) tenths++;
  snprintf(out, 16, "%u.%u %.2s", (unsigned)(tenths / 10), (unsigned)(tenths % 10), unit);
  CallTraceExit(nullptr);
}

/* out holds at least 16 bytes. */
void FileSizeToString(dword low, dword high, char *out)
{
  CallTraceEnter("FileSizeToString");
  if (out != nullptr) {
    qword bytes = ((qword)high << 32) | low;
    if (bytes < 1024) snprintf(out, 16, "%d B", (int)bytes);
    else if (bytes < (1ull << 20)) PrintKibiTenths(bytes, "kB", out);
    else if (bytes < (1ull << 30)) PrintKibiTenths(bytes >> 10, "MB", out);
    else if (bytes < (1ull << 40)) PrintKibiTenths(bytes >> 20, "GB", out);
    else PrintKibiTenths(bytes >> 30, "TB", out);
  }
  CallTraceExit(nullptr);
}
