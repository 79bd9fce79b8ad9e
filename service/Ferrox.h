/* Ferrox.h -- the copy service's shared state and its modules' functions.
 *
 * Modules over module-wide globals, all driven from the firmware's event
 * thread: FerroxMain (entry, events, stop, status), CopyCycle (the state
 * machine), BlockOpen, BlockCopy and BlockCompare (FRX_* engine), ShareCalls (SC_*: the calls on the
 * destination, made on a worker thread of the plug-in's own, which touches
 * nothing but its one job), ServiceLog, ServiceSettings, WorkList, FilePrep,
 * JobFiles and Triage. Every function here enters and leaves the call trace
 * on every path.
 */
#ifndef FERROX_SERVICE_FERROX_H
#define FERROX_SERVICE_FERROX_H

#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <utime.h>

#include "Settings.h"
#include "tap_api.h"

#define PROGRAM_NAME FERROX_NAME
#define PROGRAM_VERSION "Ferrox " FERROX_VERSION
#define NAVMENDER_ID 0x8E0A4227u
#define MOUNT_TAP_NAS_ID 0x80000106u   /* mount plug-in of a network share */
#define MOUNT_TAP_OTHER_ID 0x8E0A423Cu /* mount plug-in of NTFS / Linux drives */

/* ---- copy cycle (CopyCycle.cpp) ---- */
enum {
  CS_FirstCall = 0,
  CS_WaitMount = 1,
  CS_CheckStartReason = 2,
  CS_WaitAfterBoot = 3,
  CS_Job = 4,
  CS_Prepare = 5,
  CS_Copy = 6,
  CS_NextFile = 7,
  CS_NextFileTyp = 8,
  CS_Exit = 9,
  CS_WaitShare = 10, /* the destination stopped answering: its call is waited for */
  CS_List = 11       /* the work list is walked, a slice per idle event */
};
enum { JS_Normal = 0, JS_Job = 1 };
enum { FT_Rec = 0, FT_Inf = 1, FT_Nav = 2, FT_Other = 3 };
enum { FS_Pending = 0, FS_Failed = 1, FS_Missing = 2, FS_Done = 3 };

extern int CopyState;             /* current state (CS_*) */
extern int JobState;              /* JS_Normal or JS_Job */
extern int FileTyp;               /* part of the current file (FT_*) */
extern int FileStatus[4];         /* outcome per part (FS_*) */
extern dword StartTime;           /* packed time the main file's transfer opened */
extern byte StartSec;             /* its second */
extern qword BytesCopiedLastTime; /* engine byte count right after the open */
extern int FirstTryWaitForStart;  /* index-plug-in check and settle wait pending */
extern int NVMFirstCheck;         /* index plug-in not seen running yet */

/* One idle step. Returns false when the event handler must return 0 for
 * this event (the end of a normal work list), true otherwise. */
bool CopyCycleStep(void);
void CleanupMemory(void);
int StartReasonManual(int logIt);
/* Back to the state the machine has when the plug-in is loaded (tests that
 * run several cycles in one process). */
void ResetCopyCycle(void);

/* ---- block copy engine (BlockCopy.cpp) ---- */
#define FRX_STATS_BLOCK 9024 /* bytes per statistics block */

extern char FRXSourceFileName[512]; /* full path of the current source */
extern char FRXDestFileName[512];   /* full path of the current destination */
extern qword FRXTotalBytes;         /* source size when the transfer opened */
extern qword FRXBytesCopied;        /* bytes present in the destination */

/* A file's status as a move compares it: a file that was written to,
 * truncated or replaced since differs in one of the fields. */
typedef struct tFRXStamp {
  bool Valid;      /* the status could be read */
  qword Size;      /* bytes */
  qword Dev, Ino;  /* device and inode */
  long long MTime; /* modification time, seconds */
  long MTimeNs;    /* and nanoseconds */
  long long CTime; /* status change time, seconds */
  long CTimeNs;    /* and nanoseconds */
} tFRXStamp;

extern bool FRXMemoryShort; /* the last transfer ended for want of a block buffer */

/* What FRX_GetDestinationStatus finds at the destination. */
enum {
  DEST_NO_FOLDER = -1, /* the destination folder is not there */
  DEST_NONE = 0,       /* no file of that name (or the source cannot be read) */
  DEST_SAME = 1,       /* a file with the source's very bytes */
  DEST_DIFFERS = 2     /* a file that is empty or differs from the source */
};
/* What opening a part gives: FRX_Init, and StartCopy, which adds the end of
 * the work list (the copy cycle adds START_NO_ANSWER for a share that did
 * not answer, which is no outcome of the part). */
enum {
  START_NO_ANSWER = -4,
  START_DEST_FAILED = -3,   /* the destination cannot be opened */
  START_SOURCE_FAILED = -2, /* the source cannot be opened or read */
  START_SOURCE_MISSING = -1,
  START_OPENED = 0,   /* the transfer runs: FRX_Process from here */
  START_COMPLETE = 1, /* the destination holds it already */
  START_LIST_END = 2  /* StartCopy: no entry left */
};
/* What FRX_Process gives after a step. */
enum {
  STEP_DEST_FAILED = -3,
  STEP_SOURCE_FAILED = -2,
  STEP_RUNNING = 0,
  STEP_DONE = 1 /* the part is copied (and checked) */
};

int FRX_GetDestinationStatus(const char *srcName, const char *dstName, const char *srcDir, const char *dstDir);
int FRX_Init(const char *srcName, const char *dstName, const char *srcDir, const char *dstDir);
void FRX_SetSpeed(dword delay, dword bytesPerCopy);
int FRX_Process(void);
void FRX_GetStats(qword *totalBytes, qword *bytesCopied, int *percent, int *mbPerMinute);
void FRX_Close(void);
void FRX_DeleteSource(void);
/* Move mode: bytes at the destination that the transfer does not copy
 * itself are compared with the source before it reports success, and a
 * source that changed meanwhile ends it with -2. Kept until changed. */
void FRX_SetVerify(bool on);
/* A folder that stands for a mount: nothing is created below it while the
 * internal disk shows there. "" for none. Kept until changed. */
void FRX_SetMountPoint(const char *folder);
/* The mount point is set and the internal disk shows there (or nothing) */
bool FRX_MountPointGone(void);
qword FRX_GetResumeOffset(void);           /* where the current transfer began to write */
void FRX_GetSourceStamp(tFRXStamp *stamp); /* the source when the transfer opened */
bool FRX_TakeStamp(const char *path, tFRXStamp *stamp);
bool FRX_SameStamp(const tFRXStamp *a, const tFRXStamp *b);
bool FRX_DestinationFitsSource(const char *srcPath, const char *dstPath);

/* ---- calls on the destination, on a worker thread (ShareCalls.cpp) ---- */
#define SC_ANSWER_MS 300            /* an idle event waits this long for the destination */
#define SC_GIVE_UP_TICKS (60 * 100) /* a call that has not come back after this: the share is silent */
enum { SC_Idle = 0, SC_Waiting = 1, SC_Silent = 2 };

/* Each as the OS facade's call of the same name, on the worker. A call
 * that did not answer in time fails with EINPROGRESS; with keep its result
 * is taken later (SC_TakeResult), else it is dropped. While one has not come
 * back, every call fails at once with ETIMEDOUT. */
int SC_Lstat64(const char *path, struct stat64 *st);
int SC_Stat64(const char *path, struct stat64 *st);
int SC_Mkdir(const char *path);
int SC_Link(const char *existing, const char *link);
int SC_Unlink(const char *path);
int SC_SyncDir(const char *path);
int SC_Utime(const char *path, const struct utimbuf *times);
bool SC_IsMounted(const char *path); /* HDD_IsMounted on the worker */
FILE *SC_Fopen64(const char *path, const char *mode);
int SC_Fclose(FILE *f); /* while a call is out, the stream is closed once it is back */
size_t SC_Fread(void *buf, size_t size, size_t count, FILE *f, bool keep);
size_t SC_Fwrite(const void *buf, size_t size, size_t count, FILE *f, bool keep);
int SC_Fseeko64(FILE *f, off64_t offset, int whence);
int SC_Fflush(FILE *f);
int SC_Fsync(FILE *f);
int SC_SyncStart(FILE *f, bool keep);
int SC_SyncPoll(FILE *f, bool keep);
int SC_WriteBack(FILE *f, off64_t offset, off64_t length, int wait, bool keep);
ssize_t SC_CopyRange(FILE *in, off64_t inOffset, FILE *out, off64_t outOffset, size_t length);
/* A kept call's result: 1 while it is out, 0 with *result and errno once
 * it is back, -1 when none is kept. */
int SC_TakeResult(long long *result);
void SC_DropResult(void);   /* a kept call is not waited for any more */
bool SC_WasLate(void);      /* the last call did not answer in time (and is still out) */
int SC_State(void);         /* SC_Idle, SC_Waiting (a call is out) or SC_Silent (out too long) */
dword SC_WaitedTicks(void); /* how long the call that is out has been */
/* The worker's end: false while it is in a call that has not come back
 * (the plug-in waits for it); with mustEnd the plug-in ends anyway and its
 * code stays loaded for the worker. */
bool SC_End(bool mustEnd);

/* ---- entry points and shutdown (FerroxMain.cpp) ---- */
int StopTAP(dword tapId);
void EndRun(bool stopEvent); /* the shared shutdown of CS_Exit and the stop event */
void LeaveRun(void);         /* the plug-in's last step: statistics freed, TAP_Exit */

/* ---- service log (ServiceLog.cpp) ---- */
extern char LogString[512];    /* the one buffer for formatted log lines */
extern bool WriteLogFirstCall; /* the next line creates the settings folders */

void WriteLog(const char *text);
void WriteLogF(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *UTFtoANSI(char *text);

/* ---- settings of the copy service (ServiceSettings.cpp, Settings.cpp) ---- */
extern char STapfsRoot[255];                         /* mount root of the current source, "/mnt/hd" */
extern const SettingsProfile ServiceSettingsProfile; /* how the copy service holds its settings */

void LoadDefaultStrings(void);
void LoadSettings(void); /* LoadINI, and its problem into the service log */

/* ---- work list (WorkList.cpp) ---- */
#define MAX_FILES_TO_PROCESS 1000

typedef struct tFileToProcess {
  char *FileName;  /* heap copy of the name */
  char *Folder;    /* heap copy of the folder below the root, "/DataFiles/..." */
  dword DateStamp; /* packed receiver time of the file; the sort key */
} tFileToProcess;

extern tFileToProcess FilesToProcess[MAX_FILES_TO_PROCESS];
extern int NrOfFilesToProcess;
extern int CurrentFileToProcess;
extern bool WorkListMemoryShort; /* the last list lacks entries for want of memory */

int SanityCheckPassed(void);
/* Makes the internal folders of the settings; 0 when one is not there
 * afterwards (logged). */
int CreateSubDirs(void);
int SubDirsExist(void);
/* The work list of the recordings below folder, walked in one go (1) or
 * not begun (0). */
int BuildFileList(const char *folder);
/* The same a slice at a time: Start (0: no list, logged), then Step with
 * the number of entries it may handle, 1 while there is more; the last step
 * logs the count and sorts. EndFileListWalk leaves a walk unfinished. */
int BuildFileListStart(const char *folder);
int BuildFileListStep(dword budget);
/* More recordings than the table holds: the list keeps the oldest, and
 * FileListLeft says how many were left out. BuildFileListNext begins the
 * run's next list, of the recordings after the last one of this list (0
 * when there is none to begin). */
int FileListLeft(void);
int BuildFileListNext(const char *folder);
bool FileListWalking(void);
void EndFileListWalk(void);
/* Appends a heap copy of folder and name to FilesToProcess: 0 when added,
 * -1 when the table is full, -2 without memory (nothing added). */
int AddFileToProcess(const char *folder, const char *name, dword dateStamp);
void SortFilesByDate(void);
/* Forgets the mount snapshots and missing-folder notes, as at load. */
void ResetWorkListChecks(void);

/* ---- file preparation and finishing (FilePrep.cpp) ---- */
/* a name the disk holds (255 bytes) with a companion's ending */
#define FILE_NAME_SIZE 260
extern char FileName[FILE_NAME_SIZE]; /* source name of the current part */
extern char DestFileNameClean[131];   /* destination name of the current file */
extern char DestDirPath[512];         /* destination folder of the current file */

/* SourceKept after DeleteCurrentSource: deleted, kept for a reason that
 * passes (being recorded, changed since copied, no proof), or kept for one
 * that stays (source and destination are one folder). */
enum { SK_Deleted = 0, SK_Passing = 1, SK_Lasting = 2 };
extern tFRXStamp PartStamp[4]; /* each part's source when its transfer opened */
extern int SourceKept;

int StartCopy(void); /* START_... */
/* The current part completed: its source's stamp is kept for the deletion. */
void RememberPartSource(void);
/* The settings' destination, read before jobs replace it: a job's folder
 * below it is below a mount point too. */
void RememberSettingsShare(void);
void CreateTSLink(void);
void DeleteCurrentSource(void);
/* Removes a destination folder's marker that could not be removed at once
 * (a share still closing it); the run's end calls it. */
void RemoveFolderMarker(void);
void CalculateTransferData(void);
void FileSizeToString(dword low, dword high, char *out);

/* ---- job files (JobFiles.cpp) ---- */
extern char FileNameJob[128];     /* job file being worked on */
extern int NrOfJobFilesToProcess; /* entries of the last job folder listing */
/* Job files that stay in the job folder but cannot be worked off (refused,
 * or not deletable or movable): passed over until the plug-in is loaded
 * again. When more than JOB_SKIP_MAX pile up, no job is taken any more. */
#define JOB_SKIP_MAX 32
extern char JobFilesSkipped[JOB_SKIP_MAX][128];
extern int NrOfJobFilesSkipped;
extern bool JobFilesSkippedFull;

int isJobAvailable(void);
int ScanForNextJobFile(void);
int LoadJob(void);
void DeleteJobFile(void);
void MoveJobFileToFail(void);
/* The job cannot be done now for a passing reason: its file stays in the
 * job folder for the next start and is left alone until then. */
void KeepJobFile(const char *reason);

/* ---- run summary (RunSummary.cpp) ---- */
/* What became of one recording of the run */
enum { SO_Copied = 0, SO_Moved = 1, SO_Complete = 2, SO_Failed = 3, SO_Count = 4 };
extern dword RunStartTick; /* tick of the plug-in's start; the run's time counts from it */

void SummaryReset(void);
void SummaryFile(int outcome, const char *reason); /* reason: a word or two, for failures */
void SummarySkipped(int count);                    /* entries left for the next run */
void SummaryTransferBytes(void);                   /* what the current transfer wrote in this run */
void SummaryEndReason(const char *reason);         /* why the run ended early; first one counts */
void WriteSummary(void);
/* The outcome in words for the TV ("7 recordings copied, 1 moved", "1
 * failed: share not mounted"); false when nothing was copied, moved or
 * failed. */
bool ResultLines(char *done, size_t doneSize, char *failed, size_t failedSize);
/* Shows the result window when there is an outcome, ShowResult is set and
 * the setup is not on the screen; true when it shows. */
bool ShowRunResult(void);
bool ResultShowing(void);
/* Whether the event ends the window (its time is up, OK, Exit, the stop
 * event); the window is gone then. */
bool ResultOver(word event, TapParam key);

/* ---- encryption triage (Triage.cpp) ---- */
const char *GetCryptFlagString(int flag);
int GetCryptFlag(const char *fileName);
void MoveAllFilesToMoveToNAS(void);

#endif
