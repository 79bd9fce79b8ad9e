/* WorkList.cpp -- checks on the two folders and the list of files to process.
 *
 * The folders of the settings are checked for sense, created where they are
 * ordinary folders of the internal disk and waited for where they are mount
 * points; the source folder is walked breadth first and its recordings are
 * collected, oldest first. Copying them is FilePrep's and the copy cycle's.
 * Owns: FilesToProcess and its counters, the mount point snapshots.
 */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "RecordingFiles.h"
#include "TextEncoding.h"
#include "os_facade.h"

#define DIR_LIST_SIZE 4096 /* folders still to visit, zero-separated */
#define FOLDER_MAX 504     /* longest folder below the root: fits a path with it */

tFileToProcess FilesToProcess[MAX_FILES_TO_PROCESS];
int NrOfFilesToProcess = 0;
int CurrentFileToProcess = 0;
bool WorkListMemoryShort = false;

/* What lstat64 last said about a mount point; a change is logged once. */
typedef struct MountSnapshot {
  int Result;         /* result code of the last lstat64 */
  struct stat64 Stat; /* the record it filled */
} MountSnapshot;

static MountSnapshot DstSnapshot;
static MountSnapshot SrcSnapshot;
static bool MoveDirMissingLogged = false; /* the missing-folder lines, once per change */
static bool ShareDirMissingLogged = false;

int SanityCheckPassed(void)
{
  CallTraceEnter("SanityCheckPassed");
  int passed = 0;
  switch (SettingsFolderVerdict()) {
    case FolderNotChosen: WriteLog("Error: Source or destination folder not selected"); break;
    case FolderSame: WriteLog("Error: Source and destination folder are the same"); break;
    case FolderDestInSource:
      WriteLogF("Error: Destination folder %s is the source folder %s or lies inside it", ShareDir, MoveDir);
      break;
    case FolderBothInternal: WriteLog("Error: Source and destination folder are both internal"); break;
    case FolderSourceOffDisk:
      WriteLogF("Error: Source folder %s is not on the internal disk (%s), the only one the receiver lists", MoveDir,
                TAPFS_ROOT);
      break;
    default: passed = 1; break;
  }
  CallTraceExit(nullptr);
  return passed;
}

/* The folder's name below "/DataFiles": the setting without its first 18
 * characters ("/mnt/hd/DataFiles/"); "" for a folder elsewhere. */
static void NameBelowDataFiles(const char *folder, char *name)
{
  CallTraceEnter("NameBelowDataFiles");
  if (strncmp(folder, DATAFILES_PREFIX, DATAFILES_PREFIX_LEN) == 0) {
    snprintf(name, 512, "%s", folder);
    DeleteAt(name, 0, DATAFILES_PREFIX_LEN);
  } else {
    name[0] = '\0';
  }
  CallTraceExit(nullptr);
}

/* A folder of the settings that is not there is made, and said so: a typo
 * in the setting would otherwise become a new, empty folder unnoticed. Only
 * folders of the recordings area are made. False when the folder is not
 * there afterwards. */
static bool CreateMissingFolder(const char *setting, const char *key)
{
  CallTraceEnter("CreateMissingFolder");
  char name[512];
  struct stat64 st;
  NameBelowDataFiles(setting, name);
  bool there = true;
  if (name[0] == '\0') {
    there = OS_Stat64(setting, &st) == 0;
    if (!there) WriteLogF("Folder %s (%s) does not exist", setting, key);
  } else if (!TAP_Hdd_Exist(name)) {
    TAP_Hdd_Create(name, ATTR_FOLDER);
    there = TAP_Hdd_Exist(name);
    if (there) WriteLogF("Folder %s (%s) did not exist and was created", setting, key);
    else WriteLogF("Folder %s (%s) does not exist and cannot be created", setting, key);
  }
  CallTraceExit(nullptr);
  return there;
}

int CreateSubDirs(void)
{
  CallTraceEnter("CreateSubDirs");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  bool there = true;
  if (HDD_ChangeDir(DATA_FILES_DIR)) {
    if (MountedDirSource == 0) there = CreateMissingFolder(MoveDir, "MoveDir");
    if (MountedDirDest == 0) there = CreateMissingFolder(ShareDir, "DestDir") && there;
  }
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
  return there ? 1 : 0;
}

/* Whether the folder's entry exists in "/DataFiles"; the missing line is
 * written when the folder goes missing, not on every check while it stays
 * so. */
static bool FolderPresent(const char *setting, const char *tag, const char *settingName, bool *loggedMissing,
                          bool share)
{
  CallTraceEnter("FolderPresent");
  char name[512];
  struct stat64 st;
  NameBelowDataFiles(setting, name);
  /* the share's folder is looked at on the worker: a share that stopped
   * answering would hold the firmware's own call; a folder outside the
   * recordings area is looked at through the system */
  bool present = setting[0] != '\0' && (share             ? SC_Stat64(setting, &st) == 0
                                        : name[0] != '\0' ? TAP_Hdd_Exist(name)
                                                          : OS_Stat64(setting, &st) == 0);
  if (!present && !*loggedMissing)
    WriteLogF("(%s)AbsShareDir = %s %s = %s", tag, name[0] != '\0' ? name : setting, settingName, setting);
  *loggedMissing = !present;
  CallTraceExit(nullptr);
  return present;
}

/* Whether something other than the internal disk is mounted on folder. The
 * lstat64 outcome is logged when it differs from the last snapshot. */
static bool MountedHere(const char *folder, const char *prefix, MountSnapshot *snapshot)
{
  CallTraceEnter("MountedHere");
  struct stat64 st;
  memset(&st, 0, sizeof st);
  int result = SC_Lstat64(folder, &st);
  if (result != snapshot->Result || st.st_dev != snapshot->Stat.st_dev || st.st_ino != snapshot->Stat.st_ino) {
    snapshot->Result = result;
    snapshot->Stat = st;
    if (result != 0) {
      WriteLogF("%slstat64(%s) failed with result code %d", prefix, folder, result);
    } else {
      WriteLogF("%slstat64(%s) = OK", prefix, folder);
      WriteLogF("     dev=%llx, ino=%llx, mode=%x, nlink=%d, uid=%d, gid=%d", (unsigned long long)st.st_dev,
                (unsigned long long)st.st_ino, (unsigned)st.st_mode, (int)st.st_nlink, (int)st.st_uid, (int)st.st_gid);
    }
  }
  bool mounted = result == 0 && HDD_IsMounted(folder);
  CallTraceExit(nullptr);
  return mounted;
}

int SubDirsExist(void)
{
  CallTraceEnter("SubDirsExist");
  int exist = 0;
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (HDD_ChangeDir(DATA_FILES_DIR) && FolderPresent(MoveDir, "Move", "MoveDir", &MoveDirMissingLogged, false) &&
      FolderPresent(ShareDir, "Share", "ShareDir", &ShareDirMissingLogged, true) &&
      (MountedDirDest == 0 || MountedHere(ShareDir, "Dst: ", &DstSnapshot)) &&
      (MountedDirSource == 0 || MountedHere(MoveDir, "Src: ", &SrcSnapshot)))
    exist = 1;
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
  return exist;
}

/* Forgets the snapshots, as at load (for a new run in the same process). */
void ResetWorkListChecks(void)
{
  CallTraceEnter("ResetWorkListChecks");
  memset(&DstSnapshot, 0, sizeof DstSnapshot);
  memset(&SrcSnapshot, 0, sizeof SrcSnapshot);
  MoveDirMissingLogged = false;
  ShareDirMissingLogged = false;
  CallTraceExit(nullptr);
}

/* Heap copy of text, or null. */
static char *CopyToHeap(const char *text)
{
  CallTraceEnter("CopyToHeap");
  size_t len = strlen(text) + 1;
  char *copy = (char *)TAP_MemAlloc((dword)len);
  if (copy != nullptr) memcpy(copy, text, len);
  CallTraceExit(nullptr);
  return copy;
}

int AddFileToProcess(const char *folder, const char *name, dword dateStamp)
{
  CallTraceEnter("AddFileToProcess");
  if (NrOfFilesToProcess >= MAX_FILES_TO_PROCESS) {
    CallTraceExit(nullptr);
    return -1;
  }
  char *heapName = CopyToHeap(name);
  char *heapFolder = CopyToHeap(folder);
  if (heapName == nullptr || heapFolder == nullptr) {
    /* half an entry would be freed twice, or never */
    if (heapName != nullptr) TAP_MemFree(heapName);
    if (heapFolder != nullptr) TAP_MemFree(heapFolder);
    CallTraceExit(nullptr);
    return -2;
  }
  tFileToProcess *slot = &FilesToProcess[NrOfFilesToProcess++];
  slot->FileName = heapName;
  slot->Folder = heapFolder;
  slot->DateStamp = dateStamp;
  CallTraceExit(nullptr);
  return 0;
}

/* The walk of a work list, a slice per call, so that no event of the run
 * does work that grows with the number of recordings: the folders still to
 * list (zero-separated, appended to as sub-folders turn up), the folder
 * being listed and where its listing stands, and the plug-in's folder from
 * before the walk. */
static char *WalkDirs = nullptr;
static size_t WalkUsed = 0; /* offset of the list's end mark */
static size_t WalkPos = 0;  /* the folder being listed or next */
static bool WalkInFolder = false;
static dword WalkCount = 0, WalkIndex = 0;
static TapDirEntry WalkEntry;
static char WalkKeptDir[PATH_BUFFER];
static bool WalkPushed = false;

/* More recordings than the table holds: it keeps the oldest ones, as a heap
 * with the newest on top, and the rest come in the next list of the same
 * run, which takes only recordings after the last one of this list (by
 * stamp, then folder, then name, so that a key is never met twice). */
static bool WalkHeaped = false; /* the table is a heap: the walk overflowed */
static int WalkLeft = 0;        /* recordings of the walk not in the table */
static bool CursorSet = false;  /* a list of this run went before */
static dword CursorStamp = 0;
static char CursorFolder[FOLDER_MAX + 1];
static char CursorName[sizeof WalkEntry.Name];

static void SortFiles(bool wholeKey);

/* The order of two keys, stamp, then folder, then name: below 0 when the
 * first comes first. */
static int CompareKeys(dword stampA, const char *folderA, const char *nameA, dword stampB, const char *folderB,
                       const char *nameB)
{
  CallTraceEnter("CompareKeys");
  int order = stampA < stampB ? -1 : stampA > stampB ? 1 : strcmp(folderA, folderB);
  if (order == 0) order = strcmp(nameA, nameB);
  CallTraceExit(nullptr);
  return order;
}

static bool EntryBefore(const tFileToProcess *a, const tFileToProcess *b)
{
  CallTraceEnter("EntryBefore");
  bool before = CompareKeys(a->DateStamp, a->Folder, a->FileName, b->DateStamp, b->Folder, b->FileName) < 0;
  CallTraceExit(nullptr);
  return before;
}

/* Restores the heap below index at: the newest entry on top. */
static void SiftDown(int at)
{
  CallTraceEnter("SiftDown");
  int n = NrOfFilesToProcess;
  for (;;) {
    int newest = at, left = 2 * at + 1, right = left + 1;
    if (left < n && EntryBefore(&FilesToProcess[newest], &FilesToProcess[left])) newest = left;
    if (right < n && EntryBefore(&FilesToProcess[newest], &FilesToProcess[right])) newest = right;
    if (newest == at) break;
    tFileToProcess keep = FilesToProcess[at];
    FilesToProcess[at] = FilesToProcess[newest];
    FilesToProcess[newest] = keep;
    at = newest;
  }
  CallTraceExit(nullptr);
}

/* The table is full: the recording takes the place of the newest entry
 * when it is older. 0 when one of the two is left for the next list, -2
 * without memory for its names (the table unchanged). */
static int KeepIfOlder(const char *folder, const TapDirEntry *entry)
{
  CallTraceEnter("KeepIfOlder");
  if (!WalkHeaped) {
    for (int i = NrOfFilesToProcess / 2 - 1; i >= 0; i--) SiftDown(i);
    WalkHeaped = true;
  }
  tFileToProcess *top = &FilesToProcess[0];
  int result = 0;
  if (CompareKeys(entry->DateStamp, folder, entry->Name, top->DateStamp, top->Folder, top->FileName) < 0) {
    char *heapName = CopyToHeap(entry->Name);
    char *heapFolder = heapName != nullptr ? CopyToHeap(folder) : nullptr;
    if (heapFolder == nullptr) {
      if (heapName != nullptr) TAP_MemFree(heapName);
      result = -2;
    } else {
      TAP_MemFree(top->FileName);
      TAP_MemFree(top->Folder);
      top->FileName = heapName;
      top->Folder = heapFolder;
      top->DateStamp = entry->DateStamp;
      SiftDown(0);
    }
  }
  if (result == 0) WalkLeft++;
  CallTraceExit(nullptr);
  return result;
}

/* One file of the walk: repaired, logged and added to the table. A file an
 * earlier list of this run took is passed over. */
static void AddFile(const char *folder, TapDirEntry *entry)
{
  CallTraceEnter("AddFile");
  FixInvalidFileName(entry->Name);
  if (CursorSet && CompareKeys(entry->DateStamp, folder, entry->Name, CursorStamp, CursorFolder, CursorName) <= 0) {
    CallTraceExit(nullptr);
    return;
  }
  WriteLogF("File %s", entry->Name);
  int added = AddFileToProcess(folder, entry->Name, entry->DateStamp);
  if (added == -1) added = KeepIfOlder(folder, entry);
  if (added == -2) {
    SummarySkipped(1);
    WriteLogF("Failed to reserve memory for the file list (%s/%s).", folder, entry->Name);
    WorkListMemoryShort = true;
  }
  CallTraceExit(nullptr);
}

int FileListLeft(void) { return WalkLeft; }

/* Whether the walk must leave the folder entry alone: a link to a folder
 * (a link to "." would be walked for ever, one to the share would copy the
 * share onto itself). The link itself is looked at, not where it points. */
static bool FolderIsLink(const char *folder, const char *name)
{
  CallTraceEnter("FolderIsLink");
  char path[PATH_BUFFER + 8];
  snprintf(path, sizeof path, "%s%s/%s", STapfsRoot, folder, name);
  bool link = HDD_IsLink(path);
  if (link) WriteLogF("Directory '%s' is skipped: it is a link to another folder", name);
  CallTraceExit(nullptr);
  return link;
}

/* One sub-folder of the walk: appended to the folder list when it fits.
 * used is the offset of the list's end mark. */
static void AddFolder(char *dirList, size_t *used, const char *folder, const char *name)
{
  CallTraceEnter("AddFolder");
  size_t need = strlen(folder) + 1 + strlen(name) + 1;
  if (need - 1 > FOLDER_MAX) {
    /* too long for the path buffers: it would never be reachable */
    WriteLogF("Directory '%s' is skipped: its path is too long", name);
  } else if (FolderIsLink(folder, name)) {
    /* said so */
  } else if (*used + need + 1 > DIR_LIST_SIZE) {
    WriteLogF("Directory '%s' will be processed next time", name);
  } else {
    /* folder lies in the list itself, before its end mark: the new path
     * goes after it */
    size_t folderLen = strlen(folder);
    char *path = dirList + *used;
    memcpy(path, folder, folderLen);
    path[folderLen] = '/';
    memcpy(path + folderLen + 1, name, need - folderLen - 1);
    *used += need;
    dirList[*used] = '\0';
    if (LogLength != 0) WriteLogF("Directory '%s' will be processed now", path);
  }
  CallTraceExit(nullptr);
}

bool FileListWalking(void) { return WalkDirs != nullptr; }

void EndFileListWalk(void)
{
  CallTraceEnter("EndFileListWalk");
  if (WalkDirs != nullptr) {
    HDD_TAP_RestoreDir(WalkPushed, WalkKeptDir);
    TAP_MemFree(WalkDirs);
    WalkDirs = nullptr;
  }
  WalkInFolder = false;
  CallTraceExit(nullptr);
}

/* Begins a walk of folder; the cursor says which recordings it takes. */
static int StartWalk(const char *folder)
{
  CallTraceEnter("StartWalk");
  char start[512];
  if (folder == nullptr) {
    CallTraceExit(nullptr);
    return 0;
  }
  snprintf(start, sizeof start, "%s", folder);
  DeleteAt(start, 0, TAPFS_ROOT_LEN);
  /* the entries of an earlier list would be lost otherwise (and a walk
   * left unfinished ends here) */
  CleanupMemory();
  CurrentFileToProcess = 0;
  WorkListMemoryShort = false;

  WalkDirs = (char *)TAP_MemAlloc(DIR_LIST_SIZE);
  if (WalkDirs == nullptr) {
    WriteLog("Failed to reserve memory for the dir list.");
    WorkListMemoryShort = true;
    CallTraceExit(nullptr);
    return 0;
  }
  memset(WalkDirs, 0, DIR_LIST_SIZE);
  if (LogLength != 0) WriteLogF("Used MoveDir = '%s'", start);
  if (start[0] == '\0' || strlen(start) > FOLDER_MAX) {
    WriteLog("Working directory missing");
    TAP_MemFree(WalkDirs);
    WalkDirs = nullptr;
    CallTraceExit(nullptr);
    return 0;
  }
  WalkUsed = strlen(start) + 1;
  memcpy(WalkDirs, start, WalkUsed);
  WalkPos = 0;
  WalkInFolder = false;
  WalkHeaped = false;
  WalkLeft = 0;
  WalkPushed = HDD_TAP_KeepDir(WalkKeptDir);
  CallTraceExit(nullptr);
  return 1;
}

int BuildFileListStart(const char *folder)
{
  CallTraceEnter("BuildFileListStart");
  CursorSet = false;
  WalkLeft = 0;
  int started = StartWalk(folder);
  CallTraceExit(nullptr);
  return started;
}

int BuildFileListNext(const char *folder)
{
  CallTraceEnter("BuildFileListNext");
  int started = CursorSet ? StartWalk(folder) : 0;
  CallTraceExit(nullptr);
  return started;
}

/* The end of a walk: the table in order, and where the next list of the
 * run begins when recordings were left out. */
static void FinishWalk(void)
{
  CallTraceEnter("FinishWalk");
  WriteLogF("%d file%s ready for processing.", NrOfFilesToProcess, NrOfFilesToProcess == 1 ? "" : "s");
  /* by stamp, then folder, then name: the order in which the lists of one
   * run follow each other */
  if (WalkHeaped) SortFiles(true);
  else SortFilesByDate();
  CursorSet = WalkLeft > 0 && NrOfFilesToProcess > 0;
  if (CursorSet) {
    const tFileToProcess *last = &FilesToProcess[NrOfFilesToProcess - 1];
    CursorStamp = last->DateStamp;
    snprintf(CursorFolder, sizeof CursorFolder, "%s", last->Folder);
    snprintf(CursorName, sizeof CursorName, "%s", last->FileName);
    WriteLogF("Too many files: %d more will be processed in this run once these %d are done.", WalkLeft,
              NrOfFilesToProcess);
  }
  CallTraceExit(nullptr);
}

/* The walk's next folder. */
static void WalkNextFolder(void)
{
  CallTraceEnter("WalkNextFolder");
  WalkPos += strlen(WalkDirs + WalkPos) + 1;
  WalkInFolder = false;
  CallTraceExit(nullptr);
}

/* Opens the listing of the walk's current folder. A folder that cannot be
 * entered is skipped: listing would show the previous folder's files. */
static void WalkOpenFolder(void)
{
  CallTraceEnter("WalkOpenFolder");
  const char *folder = WalkDirs + WalkPos;
  if (!HDD_ChangeDir(folder)) {
    WriteLogF("Directory '%s' cannot be opened", folder);
    WalkNextFolder();
    CallTraceExit(nullptr);
    return;
  }
  memset(&WalkEntry, 0, sizeof WalkEntry);
  WalkCount = TAP_Hdd_FindFirst(&WalkEntry, "rec|mpg|ts");
  WalkIndex = 0;
  WalkInFolder = WalkCount > 0;
  if (!WalkInFolder) WalkNextFolder();
  CallTraceExit(nullptr);
}

int BuildFileListStep(dword budget)
{
  CallTraceEnter("BuildFileListStep");
  if (WalkDirs == nullptr) {
    CallTraceExit(nullptr);
    return 0;
  }
  for (; budget > 0; budget--) {
    if (!WalkInFolder) {
      if (WalkDirs[WalkPos] == '\0') break;
      WalkOpenFolder();
      continue;
    }
    const char *folder = WalkDirs + WalkPos;
    WalkEntry.Name[sizeof WalkEntry.Name - 1] = '\0';
    if (WalkEntry.Attr == ATTR_FOLDER) AddFolder(WalkDirs, &WalkUsed, folder, WalkEntry.Name);
    else if (WalkEntry.Attr == ATTR_NORMAL) AddFile(folder, &WalkEntry);
    if (WalkIndex + 1 < WalkCount && TAP_Hdd_FindNext(&WalkEntry) != 0) WalkIndex++;
    else WalkNextFolder();
  }
  if (WalkInFolder || WalkDirs[WalkPos] != '\0') {
    CallTraceExit(nullptr);
    return 1;
  }
  EndFileListWalk();
  FinishWalk();
  CallTraceExit(nullptr);
  return 0;
}

int BuildFileList(const char *folder)
{
  CallTraceEnter("BuildFileList");
  if (BuildFileListStart(folder) == 0) {
    CallTraceExit(nullptr);
    return 0;
  }
  while (BuildFileListStep(0xFFFFFFFF) != 0) {}
  CallTraceExit(nullptr);
  return 1;
}

/* Whether entry a goes after entry b: by stamp alone (equal stamps keep the
 * order of the walk), or by the whole key once the table was a heap. */
static bool GoesAfter(const tFileToProcess *a, const tFileToProcess *b, bool wholeKey)
{
  CallTraceEnter("GoesAfter");
  bool after = wholeKey ? EntryBefore(b, a) : b->DateStamp < a->DateStamp;
  CallTraceExit(nullptr);
  return after;
}

/* Merges the sorted runs [from, mid) and [mid, to) through spare. */
static void MergeRuns(int from, int mid, int to, tFileToProcess *spare, bool wholeKey)
{
  CallTraceEnter("MergeRuns");
  int a = from, b = mid, out = 0;
  /* on equal keys the earlier run goes first: the order of the walk stays */
  while (a < mid && b < to)
    spare[out++] =
        GoesAfter(&FilesToProcess[a], &FilesToProcess[b], wholeKey) ? FilesToProcess[b++] : FilesToProcess[a++];
  while (a < mid) spare[out++] = FilesToProcess[a++];
  while (b < to) spare[out++] = FilesToProcess[b++];
  memcpy(&FilesToProcess[from], spare, (size_t)out * sizeof *spare);
  CallTraceExit(nullptr);
}

/* Oldest first: a merge sort, bottom up, whose work grows as n log n (a
 * table of thousands of recordings sorted pairwise took a noticeable part
 * of a second). Without memory for its spare table, the pairwise sort does
 * it. */
static void SortFiles(bool wholeKey)
{
  CallTraceEnter("SortFiles");
  int n = NrOfFilesToProcess;
  tFileToProcess *spare = n > 1 ? (tFileToProcess *)TAP_MemAlloc((dword)((size_t)n * sizeof *spare)) : nullptr;
  if (spare != nullptr) {
    for (int width = 1; width < n; width *= 2)
      for (int from = 0; from + width < n; from += 2 * width)
        MergeRuns(from, from + width, from + 2 * width < n ? from + 2 * width : n, spare, wholeKey);
    TAP_MemFree(spare);
    CallTraceExit(nullptr);
    return;
  }
  for (int unsorted = n; unsorted > 1; unsorted--) {
    bool swapped = false;
    for (int i = 0; i + 1 < unsorted; i++) {
      if (GoesAfter(&FilesToProcess[i], &FilesToProcess[i + 1], wholeKey)) {
        tFileToProcess keep = FilesToProcess[i];
        FilesToProcess[i] = FilesToProcess[i + 1];
        FilesToProcess[i + 1] = keep;
        swapped = true;
      }
    }
    if (!swapped) break;
  }
  CallTraceExit(nullptr);
}

void SortFilesByDate(void)
{
  CallTraceEnter("SortFilesByDate");
  SortFiles(false);
  CallTraceExit(nullptr);
}
