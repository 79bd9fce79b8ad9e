/* JobFiles.cpp -- job files that other programs drop into "JobFiles".
 *
 * Finds the next job file and takes it over: its one file or, on the internal
 * disk, its whole folder becomes the work list, its folders and move flag
 * override the settings in memory (LoadDefaultStrings undoes that); then it is
 * deleted or moved to "JobFail". When to call what is the copy cycle's.
 * Owns: FileNameJob, NrOfJobFilesToProcess, JobFilesSkipped.
 */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "IniStore.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "RecordingFiles.h"
#include "os_facade.h"

#define JOB_LINUX_DIR TAPFS_ROOT SETTINGS_FOLDER "/" JOB_FOLDER
#define JOB_FAIL_LINUX_DIR TAPFS_ROOT SETTINGS_FOLDER "/" JOB_FAIL_FOLDER
#define PROGRAM_FILES_LINUX_DIR TAPFS_ROOT PROGRAM_FILES_DIR
#define JOB_NAME_MAX 127  /* "FileName" of a job file */
#define JOB_DIR_MAX 511   /* "SDIR" and "DDIR" as MoveDir and ShareDir hold them */
#define JOB_NAME_READ 512 /* read buffers one size up, so that an over-long */
#define JOB_DIR_READ 1024 /* value is seen as such instead of silently cut */

char FileNameJob[128] = "";
int NrOfJobFilesToProcess = 0;

/* Job files that stay in the job folder although they cannot be worked off
 * (refused whole-folder jobs on external drives, files that could not be
 * deleted or moved aside). The search passes over them, so the cycle does
 * not take the same file again and again; the next start tries them anew. */
char JobFilesSkipped[JOB_SKIP_MAX][128];
int NrOfJobFilesSkipped = 0;
bool JobFilesSkippedFull = false;

/* What a job file says, as read. */
typedef struct tJobText {
  char FileName[JOB_NAME_READ]; /* "FileName" */
  char SDir[JOB_DIR_READ];      /* "SDIR" */
  char DDir[JOB_DIR_READ];      /* "DDIR" */
  int CoM;                      /* "CoM": 1 move, 0 copy */
} tJobText;

/* Bounded copy of a text whose length was checked already; cuts otherwise. */
static void JobCopyText(char *dest, size_t size, const char *src)
{
  CallTraceEnter("JobCopyText");
  size_t len = strnlen(src, size - 1);
  memcpy(dest, src, len);
  dest[len] = '\0';
  CallTraceExit(nullptr);
}

static bool JobIsSkipped(const char *name)
{
  CallTraceEnter("JobIsSkipped");
  for (int i = 0; i < NrOfJobFilesSkipped; i++) {
    if (strcmp(JobFilesSkipped[i], name) == 0) {
      CallTraceExit(nullptr);
      return true;
    }
  }
  CallTraceExit(nullptr);
  return false;
}

/* Leaves the current job file alone for the rest of the run. When the list
 * is full, no further job is taken in this run at all: a normal run is
 * better than a cycle that never ends. */
static void JobSkip(void)
{
  CallTraceEnter("JobSkip");
  if (FileNameJob[0] != '\0' && !JobIsSkipped(FileNameJob)) {
    if (NrOfJobFilesSkipped < JOB_SKIP_MAX) {
      JobCopyText(JobFilesSkipped[NrOfJobFilesSkipped++], sizeof JobFilesSkipped[0], FileNameJob);
      WriteLogF("JobFile %s stays in the job folder and is left alone until the next start", FileNameJob);
    } else {
      JobFilesSkippedFull = true;
      WriteLog("Too many job files that can't be worked off, no more jobs in this run");
    }
  }
  CallTraceExit(nullptr);
}

/* Changes into the job folder. Without it no listing may be taken: the
 * listing of whatever folder is current would be taken for jobs. */
static bool JobChangeToFolder(void)
{
  CallTraceEnter("JobChangeToFolder");
  bool ok = HDD_ChangeDir(SETTINGS_FOLDER "/" JOB_FOLDER);
  CallTraceExit(nullptr);
  return ok;
}

/* Lists the job folder and copies the name of the first job file that can
 * be taken into name (a buffer of sizeof FileNameJob). Folders, files
 * whose name does not fit and files left alone are passed over. */
static bool JobFindFile(char *name)
{
  TapDirEntry entry;

  CallTraceEnter("JobFindFile");
  name[0] = '\0';
  if (JobFilesSkippedFull || !JobChangeToFolder()) {
    CallTraceExit(nullptr);
    return false;
  }
  dword count = TAP_Hdd_FindFirst(&entry, "frx");
  if ((int)count > 0) NrOfJobFilesToProcess = (int)count;
  for (dword i = 0; i < count; i++) {
    if (i > 0 && !TAP_Hdd_FindNext(&entry)) break;
    entry.Name[sizeof entry.Name - 1] = '\0';
    if (entry.Attr != ATTR_NORMAL) continue;
    if (strlen(entry.Name) >= sizeof FileNameJob) {
      WriteLogF("JobFile name too long, ignored: %.60s...", entry.Name);
      continue;
    }
    if (JobIsSkipped(entry.Name)) continue;
    JobCopyText(name, sizeof FileNameJob, entry.Name);
    break;
  }
  CallTraceExit(nullptr);
  return name[0] != '\0';
}

int isJobAvailable(void)
{
  char name[sizeof FileNameJob];

  CallTraceEnter("isJobAvailable");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  int found = JobFindFile(name) ? 1 : 0;
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
  return found;
}

int ScanForNextJobFile(void)
{
  CallTraceEnter("ScanForNextJobFile");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  int found = JobFindFile(FileNameJob) ? 1 : 0;
  if (found) WriteLogF("JobFile %s found", FileNameJob);
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
  return found;
}

/* Reads the job file FileNameJob. Returns 1 when it was read, 0 when it
 * cannot be read, -1 when it is no longer in the job folder. The INI store
 * looks in further folders for a file it does not find, so presence in the
 * job folder is checked first: only the job folder's file is ever read. */
static int JobReadFile(tJobText *job)
{
  CallTraceEnter("JobReadFile");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (!JobChangeToFolder() || FileNameJob[0] == '\0' || !TAP_Hdd_Exist(FileNameJob)) {
    HDD_TAP_RestoreDir(pushed, keptDir);
    CallTraceExit(nullptr);
    return -1;
  }
  IniPlace place = INIOpenFile(FileNameJob, nullptr);
  INIGetString("FileName", job->FileName, "", sizeof job->FileName);
  INIGetString("SDIR", job->SDir, "", sizeof job->SDir);
  INIGetString("DDIR", job->DDir, "", sizeof job->DDir);
  job->CoM = INIGetInt("CoM", 0, 0, 1) != 0 ? 1 : 0;
  INICloseFile();
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
  return place == IniPlaceHere ? 1 : 0;
}

/* A folder of a job: absolute, of a size that MoveDir and ShareDir hold,
 * and without ".." steps that would lead out of it. */
static const char *JobCheckFolder(const char *dir, const char *key)
{
  static char reason[64];

  CallTraceEnter("JobCheckFolder");
  const char *what = nullptr;
  size_t len = strlen(dir);
  if (len == 0) what = "is missing";
  else if (dir[0] != '/') what = "is not absolute";
  else if (len > JOB_DIR_MAX) what = "is too long";
  else if (strstr(dir, "/../") != nullptr || (len >= 3 && strcmp(dir + len - 3, "/..") == 0))
    what = "must not contain ..";
  if (what != nullptr) snprintf(reason, sizeof reason, "%s %s", key, what);
  CallTraceExit(nullptr);
  return what != nullptr ? reason : nullptr;
}

/* Does the folder lie in "/mnt/hd/ProgramFiles" (the plug-ins, the settings,
 * the job files themselves)? Read as the file system does: repeated "/" and
 * "." steps change nothing. */
static bool JobInProgramFiles(const char *dir)
{
  CallTraceEnter("JobInProgramFiles");
  char plain[JOB_DIR_MAX + 2];
  size_t n = 0;
  for (const char *p = dir; *p != '\0' && n + 1 < sizeof plain; p++) {
    if (*p == '/' && (p[1] == '/' || (p[1] == '.' && (p[2] == '/' || p[2] == '\0')))) {
      if (p[1] == '.') p++;
      continue;
    }
    plain[n++] = *p;
  }
  plain[n] = '\0';
  size_t len = strlen(PROGRAM_FILES_LINUX_DIR);
  bool inside = strncmp(plain, PROGRAM_FILES_LINUX_DIR, len) == 0 && (plain[len] == '\0' || plain[len] == '/');
  CallTraceExit(nullptr);
  return inside;
}

/* Why the job cannot be done as it stands, or null. The file name must be
 * a plain name in the source folder (or "*"), so that nothing outside that
 * folder is ever read, moved or deleted. */
static const char *JobCheck(const tJobText *job)
{
  CallTraceEnter("JobCheck");
  const char *name = job->FileName;
  const char *reason = nullptr;
  if (name[0] == '\0') reason = "FileName is missing";
  else if (strlen(name) > JOB_NAME_MAX) reason = "FileName is too long";
  else if (strcmp(name, "*") != 0 &&
           (strchr(name, '/') != nullptr || strcmp(name, ".") == 0 || strcmp(name, "..") == 0))
    reason = "FileName must be the name of a file in SDIR";
  if (reason == nullptr) reason = JobCheckFolder(job->SDir, "SDIR");
  if (reason == nullptr) reason = JobCheckFolder(job->DDir, "DDIR");
  if (reason == nullptr && JobInProgramFiles(job->SDir))
    reason = "SDIR lies in " PROGRAM_FILES_LINUX_DIR ", the receiver's plug-ins and settings, which no job moves";
  if (reason == nullptr && JobInProgramFiles(job->DDir))
    reason = "DDIR lies in " PROGRAM_FILES_LINUX_DIR ", the receiver's plug-ins and settings, where no job writes";
  CallTraceExit(nullptr);
  return reason;
}

/* The mount root of a source folder: "/mnt/hd" for the internal disk;
 * else, when the first ten characters end in "/", their first nine
 * ("/mnt/sda1/Filme" gives "/mnt/sda1"); when the first nine end in "/",
 * their first eight ("/mnt/sdb/Filme" gives "/mnt/sdb"); else the first
 * nine ("/mnt/sdb1"). The root is a prefix of the folder, so root and rest
 * give the folder back. False, with the part looked at, when the folder is
 * shorter than eight characters and has none. */
static bool JobFindRoot(const char *dir, char *root, size_t rootSize)
{
  char head[11];

  CallTraceEnter("JobFindRoot");
  bool found = true;
  snprintf(head, sizeof head, "%s", dir);
  size_t len = strlen(head);
  if (strncmp(dir, TAPFS_ROOT "/", 8) == 0) {
    snprintf(root, rootSize, "%s", TAPFS_ROOT);
  } else if (len > 0 && head[len - 1] == '/') {
    snprintf(root, rootSize, "%.9s", head);
  } else if (len >= 9 && head[8] == '/') {
    snprintf(root, rootSize, "%.8s", head);
  } else if (len >= 8) {
    snprintf(root, rootSize, "%.9s", head);
  } else {
    snprintf(root, rootSize, "%.9s", head);
    found = false;
  }
  CallTraceExit(nullptr);
  return found;
}

/* A refused job: its line, then the job file goes to the fail folder. */
static int JobRefuse(const char *reason)
{
  CallTraceEnter("JobRefuse");
  WriteLogF("ERROR JobFile %s: %s", FileNameJob, reason);
  MoveJobFileToFail();
  CallTraceExit(nullptr);
  return 0;
}

/* A whole-folder job: the work list of every recording below SDIR. */
static int JobListFolder(const tJobText *job)
{
  CallTraceEnter("JobListFolder");
  if (strcmp(STapfsRoot, TAPFS_ROOT) != 0) {
    WriteLog("ERROR JobFile: can't create file list on external, not mounted drive");
    JobSkip();
    CallTraceExit(nullptr);
    return 0;
  }
  WriteLog("JobFile: make file list...");
  BuildFileList(job->SDir);
  if (NrOfFilesToProcess == 0 && WorkListMemoryShort) {
    KeepJobFile("not enough memory for the file list");
    CallTraceExit(nullptr);
    return 0;
  }
  /* An empty list would end the job without deleting or moving its file,
   * and the same job would come up again at once. */
  if (NrOfFilesToProcess == 0) {
    int result = JobRefuse("no file to process in SDIR");
    CallTraceExit(nullptr);
    return result;
  }
  CallTraceExit(nullptr);
  return 1;
}

/* A one-file job: a work list of exactly one entry, its folder SDIR below
 * the mount root. dir receives that folder. */
static int JobListOneFile(const tJobText *job, char *dir, size_t dirSize)
{
  CallTraceEnter("JobListOneFile");
  WriteLog("JobFile: file list with one file");
  snprintf(dir, dirSize, "%s", job->SDir + strlen(STapfsRoot));
  /* the table was emptied by the caller: the entry is the list's first */
  if (AddFileToProcess(dir, job->FileName, 0) != 0) {
    WriteLog("ERROR JobFile: failed to reserve memory for the file list");
    JobSkip();
    CallTraceExit(nullptr);
    return 0;
  }
  CurrentFileToProcess = 0;
  CallTraceExit(nullptr);
  return 1;
}

/* Finds and stores the job's mount root in STapfsRoot. A folder without
 * one keeps the root in force, which serves only when it is a prefix of the
 * folder: else root and rest would name some other path, or the rest would
 * start beyond the end of the folder. False when the job cannot go on. */
static bool JobSetRoot(const tJobText *job)
{
  char root[sizeof STapfsRoot];

  CallTraceEnter("JobSetRoot");
  bool usable = JobFindRoot(job->SDir, root, sizeof root);
  if (usable) {
    snprintf(STapfsRoot, sizeof STapfsRoot, "%s", root);
    WriteLogF("found TapfsRoot %s", STapfsRoot);
  } else {
    WriteLogF("can't find TapfsRoot, found only %s", root);
    usable = strncmp(job->SDir, STapfsRoot, strlen(STapfsRoot)) == 0;
  }
  CallTraceExit(nullptr);
  return usable;
}

/* Is the file that the job would take being recorded right now? Its copy
 * would end where the recording stands, and a move would delete it while the
 * receiver still writes into it: such a job waits for the next start. */
static bool JobFileRecorded(void)
{
  char path[PATH_BUFFER];

  CallTraceEnter("JobFileRecorded");
  const tFileToProcess *entry = &FilesToProcess[0];
  /* one "/" between folder and name, as the receiver names its recordings */
  int n = snprintf(path, sizeof path, "%s%s", STapfsRoot, entry->Folder);
  if (n > 0 && (size_t)n < sizeof path)
    n = snprintf(path + n, sizeof path - n, "%s%s", path[n - 1] == '/' ? "" : "/", entry->FileName) + n;
  /* a path that does not fit is refused by the copy itself */
  bool recorded = n > 0 && (size_t)n < sizeof path && HDD_isFileInUse(path) >= INUSE_RECORDING;
  if (recorded) WriteLogF("JobFile: %s is being recorded, the job waits", path);
  CallTraceExit(nullptr);
  return recorded;
}

int LoadJob(void)
{
  static tJobText job; /* too large for the firmware's event stack */
  char dir[sizeof MoveDir];

  CallTraceEnter("LoadJob");
  memset(&job, 0, sizeof job);
  int read = JobReadFile(&job);
  if (read < 0) {
    /* gone since the search: nothing to do, the next search goes on */
    CallTraceExit(nullptr);
    return 1;
  }
  WriteLogF("JobFileName = %s", job.FileName);
  WriteLogF("JobSourceDir = %s", job.SDir);
  WriteLogF("JobDestDir = %s", job.DDir);
  WriteLog(job.CoM ? "File will be moved" : "File will be copied");

  if (read == 0 && INIMemoryShort) {
    KeepJobFile("not enough memory to read it");
    CallTraceExit(nullptr);
    return 0;
  }
  const char *reason = read == 0 ? "can't read the job file" : JobCheck(&job);
  if (reason == nullptr && !JobSetRoot(&job)) reason = "SDIR has no mount root";
  if (reason != nullptr) {
    int result = JobRefuse(reason);
    CallTraceExit(nullptr);
    return result;
  }

  /* the table is the job's alone: an earlier list would leak or mix in */
  CleanupMemory();
  JobCopyText(dir, sizeof dir, job.SDir);
  int taken = strcmp(job.FileName, "*") == 0 ? JobListFolder(&job) : JobListOneFile(&job, dir, sizeof dir);
  if (taken && JobFileRecorded()) {
    CleanupMemory();
    JobSkip();
    taken = 0;
  }
  if (taken) {
    JobCopyText(MoveDir, sizeof MoveDir, dir);
    JobCopyText(ShareDir, sizeof ShareDir, job.DDir);
    move = job.CoM;
  }
  CallTraceExit(nullptr);
  return taken;
}

void KeepJobFile(const char *reason)
{
  CallTraceEnter("KeepJobFile");
  WriteLogF("JobFile %s can't be done now: %s", FileNameJob, reason);
  JobSkip();
  CallTraceExit(nullptr);
}

void DeleteJobFile(void)
{
  CallTraceEnter("DeleteJobFile");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (JobChangeToFolder() && FileNameJob[0] != '\0') {
    WriteLogF("delete Job File: %s ", FileNameJob);
    HDD_Delete(FileNameJob);
    /* on the disk at once: after a power cut the job is not done twice */
    OS_SyncDir(JOB_LINUX_DIR);
    /* a job file that stays would be taken and done once more */
    if (TAP_Hdd_Exist(FileNameJob)) {
      WriteLogF("ERROR JobFile: can't delete %s", FileNameJob);
      JobSkip();
    }
  }
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
}

void MoveJobFileToFail(void)
{
  char left[PATH_BUFFER];

  CallTraceEnter("MoveJobFileToFail");
  WriteLogF("Move Job File: %s to fail folder", FileNameJob);
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (FileNameJob[0] != '\0' && HDD_ChangeDir(SETTINGS_FOLDER)) {
    if (!TAP_Hdd_Exist(JOB_FAIL_FOLDER)) TAP_Hdd_Create(JOB_FAIL_FOLDER, ATTR_FOLDER);
    HDD_Move(FileNameJob, JOB_LINUX_DIR, JOB_FAIL_LINUX_DIR);
    OS_SyncDir(JOB_FAIL_LINUX_DIR);
    OS_SyncDir(JOB_LINUX_DIR);
    /* the move reports nothing for files that are no recordings: look */
    snprintf(left, sizeof left, "%s/%s", JOB_LINUX_DIR, FileNameJob);
    if (HDD_Exist(left)) {
      WriteLogF("ERROR JobFile: can't move %s to fail folder", FileNameJob);
      JobSkip();
    }
  }
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
}
