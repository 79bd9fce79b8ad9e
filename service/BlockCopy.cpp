/* BlockCopy.cpp -- the block copy engine: one file, one block per call.
 *
 * Copies a file one FRX_Process block at a time, so the receiver keeps
 * running while gigabytes move; opens a transfer anew or continues it, for
 * a move first compares what it did not copy itself, syncs the copy, and
 * keeps a one-minute throughput ring. The looks at a destination (probe,
 * comparisons, stamps) are BlockCompare's. Absolute OS paths, OS facade,
 * 64-bit offsets; names and pace are the callers' choice.
 * Owns: the transfer state (paths, streams, buffer, tFRXTransfer). */
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <utime.h>

#include "BlockCompare.h"
#include "Ferrox.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "os_facade.h"

#define FRX_DEFAULT_BLOCK 0xA00000u /* 10,485,760 bytes, no pause */
#define FRX_MIN_BLOCK 0x10000u      /* 64 KiB: the smallest block worth copying with */
#define FRX_KERNEL_PIECE 0x200000u  /* 2 MiB: the piece of a block copied in the kernel at a time */
#define FRX_STATS_SLOTS 60          /* one-second slots of the throughput ring */
#define FRX_STATS_INTERVAL 100      /* ticks between two statistics updates */

char FRXSourceFileName[FRX_PATH_SIZE];
char FRXDestFileName[FRX_PATH_SIZE];
qword FRXTotalBytes = 0;
qword FRXBytesCopied = 0;

static FILE *FRXfSource = NULL;           /* open source, null when closed */
static FILE *FRXfDest = NULL;             /* open destination, null when closed */
static dword FRXSourceTime = 0;           /* source modification time, seconds since 1970 */
static byte *FRXDataBuffer = NULL;        /* the block buffer */
static dword LastBufferSize = 0;          /* size FRXDataBuffer was reserved for */
static bool FRXVerify = false;            /* compare what the next transfers do not copy themselves */
static char FRXMountPoint[FRX_PATH_SIZE]; /* no folder is made on the internal disk below it */
bool FRXMemoryShort = false;              /* the last transfer ended for want of a block buffer */

/* What one transfer knows of itself; every transfer opens with NewTransfer. */
typedef struct tFRXTransfer {
  dword BlockSize;                      /* bytes per block */
  dword Delay;                          /* ticks to pause after each block */
  int Outcome;                          /* what FRX_Process gives: STEP_... */
  int BlocksPerSecond[FRX_STATS_SLOTS]; /* the throughput ring, statistics blocks a second */
  dword StatsPointer;                   /* next ring slot */
  dword StatsSlotsSeen;                 /* ring slots filled since the transfer opened */
  bool StatsInit;                       /* the next statistics update only takes its starting point */
  dword StatsCurrentBlock;              /* statistics blocks at this update */
  dword StatsLastBlock;                 /* statistics blocks at the previous update */
  bool Verifying;                       /* the destination's first VerifyEnd bytes are being compared */
  qword VerifyEnd;                      /* bytes the destination held when the transfer opened */
  qword ResumeOffset;                   /* where this transfer began to write */
  tFRXStamp SourceStamp;                /* the source's status when the transfer opened */
  bool CopyInKernel;                    /* blocks move inside the kernel until the system says it cannot */
  qword WriteBackOffset;                /* the block whose write-back runs, not yet waited for */
  qword WriteBackLength;
  bool Syncing; /* a move's copy is on its way to stable storage */
} tFRXTransfer;

static const tFRXTransfer NewTransfer = {
    FRX_DEFAULT_BLOCK, 0, STEP_RUNNING, {0}, 0, 0, true, 0, 0, false, 0, 0, {}, true, 0, 0, false};
static tFRXTransfer Transfer = NewTransfer;
/* A step of the transfer that the worker is still with (ShareCalls): a
 * block's write, the wait for the block before on the disk, a sync's start
 * or a look at it. */
enum { PS_None = 0, PS_Write, PS_WriteBack, PS_SyncStart, PS_SyncPoll, PS_Redo };
static int FRXPending = PS_None;
static long FRXPendingGot = 0;     /* bytes of the block whose write is out */
static qword FRXPendingOffset = 0; /* the block whose write-back starts after the wait */
static dword FRXPendingLength = 0;

/* Statistics blocks (9024 bytes) of a byte count, in 32 bits. */
static dword StatsBlocks(qword bytes)
{
  CallTraceEnter("StatsBlocks");
  dword blocks = (dword)(bytes >> 6) / 141;
  CallTraceExit(NULL);
  return blocks;
}

/* A path that does not fit, or a missing part, leaves the field empty, so
 * that nothing can ever act on a cut path (FRX_DeleteSource least of all). */
bool MakeTransferPath(const char *folder, const char *name, char *dest)
{
  CallTraceEnter("MakeTransferPath");
  bool ok = false;
  dest[0] = '\0';
  if (folder != NULL && name != NULL) {
    size_t len = strlen(folder);
    const char *slash = (len > 0 && folder[len - 1] == '/') ? "" : "/";
    int n = snprintf(dest, FRX_PATH_SIZE, "%s%s%s", folder, slash, name);
    ok = n >= 0 && n < FRX_PATH_SIZE;
    if (!ok) dest[0] = '\0';
  }
  if (!ok) WriteLogF("FRX: path too long or missing: '%s' in '%s'", name ? name : "(null)", folder ? folder : "(null)");
  CallTraceExit(NULL);
  return ok;
}

static void ReleaseBuffer(void)
{
  CallTraceEnter("ReleaseBuffer");
  if (FRXDataBuffer != NULL) TAP_MemFree(FRXDataBuffer);
  FRXDataBuffer = NULL;
  LastBufferSize = 0;
  CallTraceExit(NULL);
}

void FRX_GetSourceStamp(tFRXStamp *stamp)
{
  CallTraceEnter("FRX_GetSourceStamp");
  *stamp = Transfer.SourceStamp;
  CallTraceExit(NULL);
}

qword FRX_GetResumeOffset(void)
{
  CallTraceEnter("FRX_GetResumeOffset");
  qword offset = Transfer.ResumeOffset;
  CallTraceExit(NULL);
  return offset;
}

void FRX_SetVerify(bool on)
{
  CallTraceEnter("FRX_SetVerify");
  FRXVerify = on;
  CallTraceExit(NULL);
}

void FRX_SetMountPoint(const char *folder)
{
  CallTraceEnter("FRX_SetMountPoint");
  if (folder == NULL || strlen(folder) >= sizeof FRXMountPoint) folder = "";
  strcpy(FRXMountPoint, folder);
  CallTraceExit(NULL);
}

/* ---- opening a transfer ---- */

static void ResetTransfer(void)
{
  CallTraceEnter("ResetTransfer");
  ReleaseBuffer();
  /* the figures of the last transfer are not this one's, also for a query
   * that comes before the first statistics update */
  Transfer = NewTransfer;
  FRXMemoryShort = false;
  CallTraceExit(NULL);
}

static int OpenSource(const char *srcName, const char *srcDir)
{
  CallTraceEnter("OpenSource");
  struct stat64 st;
  int result = 0;

  if (!MakeTransferPath(srcDir, srcName, FRXSourceFileName)) {
    result = START_SOURCE_FAILED;
  } else if (StatTarget(FRXSourceFileName, &st, false) != 0) {
    WriteLogF("FRX: source file does not exist '%s'", FRXSourceFileName);
    result = START_SOURCE_MISSING;
  } else {
    FRXTotalBytes = (qword)st.st_size;
    FRXSourceTime = (dword)st.st_mtime;
    FRX_TakeStamp(FRXSourceFileName, &Transfer.SourceStamp);
    FRXfSource = OS_Fopen64(FRXSourceFileName, "r");
    if (FRXfSource == NULL) {
      WriteLogF("FRX: failed to open the source file '%s'", FRXSourceFileName);
      result = START_SOURCE_FAILED;
    }
  }
  CallTraceExit(NULL);
  return result;
}

bool FRX_MountPointGone(void)
{
  CallTraceEnter("FRX_MountPointGone");
  bool gone = FRXMountPoint[0] != '\0' && !SC_IsMounted(FRXMountPoint);
  CallTraceExit(NULL);
  return gone;
}

/* Is folder at or below the mount point while the internal disk shows
 * there? Folders made then would be hidden below the share once it is back,
 * and what is copied into them would never reach it. */
static bool BelowUnmountedMountPoint(const char *folder)
{
  CallTraceEnter("BelowUnmountedMountPoint");
  size_t len = strlen(FRXMountPoint);
  while (len > 1 && FRXMountPoint[len - 1] == '/') len--;
  bool below = len > 0 && strncmp(folder, FRXMountPoint, len) == 0 && (folder[len] == '\0' || folder[len] == '/');
  bool unmounted = below && !SC_IsMounted(FRXMountPoint);
  if (unmounted) WriteLogF("FRX: %s is not mounted, no folder is created below it", FRXMountPoint);
  CallTraceExit(NULL);
  return unmounted;
}

/* Creates a folder and its missing parents with the system call, one
 * component at a time: no shell, so no character of a folder name can ever
 * be taken for a command. Existing components are fine. False when the
 * folder must not be made. */
static bool CreateFolders(const char *folder)
{
  CallTraceEnter("CreateFolders");
  char path[FRX_PATH_SIZE];
  struct stat64 st;

  if (folder == NULL || folder[0] == '\0' || strlen(folder) >= sizeof(path)) {
    CallTraceExit(NULL);
    return true;
  }
  if (SC_Stat64(folder, &st) == 0) {
    CallTraceExit(NULL);
    return true;
  }
  if (BelowUnmountedMountPoint(folder)) {
    CallTraceExit(NULL);
    return false;
  }
  strcpy(path, folder);
  for (char *p = path + 1;; p++) {
    if (*p != '/' && *p != '\0') continue;
    char kept = *p;
    *p = '\0';
    SC_Mkdir(path);
    *p = kept;
    if (kept == '\0') break;
  }
  if (SC_Stat64(path, &st) != 0) WriteLogF("FRX: failed to create the folder '%s'", path);
  CallTraceExit(NULL);
  return true;
}

/* A move's transfer found bytes at the destination that it did not copy:
 * they are compared with the source block by block before anything is
 * appended or the transfer reports success. The destination stays open for
 * reading until then; FRXBytesCopied counts the bytes compared. */
static int StartVerify(void)
{
  CallTraceEnter("StartVerify");
  Transfer.VerifyEnd = FRXBytesCopied;
  FRXBytesCopied = 0;
  Transfer.Verifying = true;
  WriteLogF("FRX: comparing the '%lld' bytes at the destination with the source", (long long)Transfer.VerifyEnd);
  CallTraceExit(NULL);
  return 0;
}

/* The destination opened for writing from `end` on, which is its length:
 * read-write and positioned rather than in append mode, which some network
 * file system clients (FUSE SMB clients) refuse; the engine is its only
 * writer, so the bytes land where appending would put them. */
static FILE *OpenAtEnd(const char *path, long long end)
{
  CallTraceEnter("OpenAtEnd");
  FILE *f = SC_Fopen64(path, "r+");
  if (f != NULL && SC_Fseeko64(f, (off64_t)end, SEEK_SET) != 0) {
    SC_Fclose(f);
    f = NULL;
  }
  CallTraceExit(NULL);
  return f;
}

/* Opens the destination for this transfer by the resume rule: empty or
 * missing -> written from the start; same contents and complete -> START_COMPLETE; same
 * contents, shorter -> appended to; different -> rewritten. With FRXVerify
 * a complete or shorter destination is compared in full first. */
static int OpenOrResume(void)
{
  CallTraceEnter("OpenOrResume");
  struct stat64 st;

  if (StatTarget(FRXDestFileName, &st, true) != 0) {
    /* missing; a destination that does not answer is not taken for missing */
    FRXfDest = SC_State() != SC_Idle ? NULL : SC_Fopen64(FRXDestFileName, "w+");
  } else if (st.st_size <= 0) {
    FRXfDest = SC_Fopen64(FRXDestFileName, "w+");
  } else {
    FRXfDest = SC_Fopen64(FRXDestFileName, "r");
    FRXBytesCopied = (qword)st.st_size;
    if (FRXfDest != NULL && !SameContents(FRXfSource, FRXfDest, FRXBytesCopied)) {
      SC_Fclose(FRXfDest);
      /* different, or it stopped answering: only an answer rewrites it */
      FRXfDest = SC_State() == SC_Idle ? SC_Fopen64(FRXDestFileName, "w+") : NULL;
      FRXBytesCopied = 0;
      if (FRXfDest != NULL) WriteLog("FRX: restarting due to different contents");
    } else if (FRXfDest != NULL && FRXBytesCopied == FRXTotalBytes) {
      WriteLogF("FRX: already ok '%s'", FRXDestFileName);
      Transfer.ResumeOffset = FRXBytesCopied;
      int result = FRXVerify ? StartVerify() : START_COMPLETE;
      CallTraceExit(NULL);
      return result;
    }
  }

  Transfer.ResumeOffset = FRXfDest != NULL ? FRXBytesCopied : 0;
  if (FRXfDest != NULL && FRXBytesCopied != 0 && FRXVerify) {
    WriteLogF("FRX: continuing at '%lld'", (long long)FRXBytesCopied);
    int result = StartVerify();
    CallTraceExit(NULL);
    return result;
  }
  if (FRXfDest != NULL && FRXBytesCopied != 0) {
    SC_Fclose(FRXfDest);
    FRXfDest = OpenAtEnd(FRXDestFileName, FRXBytesCopied);
    if (FRXfDest != NULL) WriteLogF("FRX: continuing at '%lld'", (long long)FRXBytesCopied);
  }
  if (FRXfDest == NULL) {
    WriteLogF("FRX: failed to open the destination file '%s'", FRXDestFileName);
    CallTraceExit(NULL);
    return START_DEST_FAILED;
  }
  CallTraceExit(NULL);
  return START_OPENED;
}

static int OpenDestination(const char *dstName, const char *dstDir)
{
  CallTraceEnter("OpenDestination");
  int result;

  FRXBytesCopied = 0;
  if (!CreateFolders(dstDir)) {
    FRXDestFileName[0] = '\0';
    WriteLog("FRX: the destination folder is not there, transfer refused.");
    result = START_DEST_FAILED;
  } else if (!MakeTransferPath(dstDir, dstName, FRXDestFileName)) {
    result = START_DEST_FAILED;
  } else if (IsSameFile(FRXSourceFileName, FRXDestFileName)) {
    /* Copying a file onto itself would truncate it, or report it complete
     * and let a move delete the only copy. */
    WriteLogF("FRX: source and destination are the same file '%s', transfer refused.", FRXDestFileName);
    result = START_DEST_FAILED;
  } else {
    result = OpenOrResume();
  }
  if (result != 0) FRX_Close();
  CallTraceExit(NULL);
  return result;
}

/* Positions the source where the destination ends. A failed seek would
 * append the source's beginning to its own copy, so it ends the transfer. */
static int PositionSource(void)
{
  CallTraceEnter("PositionSource");
  if (OS_Fseeko64(FRXfSource, (off64_t)FRXBytesCopied, SEEK_SET) != 0) {
    WriteLogF("FRX: failed to position the source at '%lld', transfer terminated.", (long long)FRXBytesCopied);
    FRX_Close();
    CallTraceExit(NULL);
    return START_SOURCE_FAILED;
  }
  WriteLogF("FRX: init successful '%s'", FRXDestFileName);
  CallTraceExit(NULL);
  return 0;
}

int FRX_Init(const char *srcName, const char *dstName, const char *srcDir, const char *dstDir)
{
  CallTraceEnter("FRX_Init");
  /* a transfer still open is given up first: its streams would leak */
  FRX_Close();
  ResetTransfer();
  int result = OpenSource(srcName, srcDir);
  if (result == 0) result = OpenDestination(dstName, dstDir);
  if (result == 0) result = PositionSource();
  CallTraceExit(NULL);
  return result;
}

void FRX_SetSpeed(dword delay, dword bytesPerCopy)
{
  CallTraceEnter("FRX_SetSpeed");
  if (bytesPerCopy < FRX_MIN_BLOCK) {
    WriteLogF("FRX: block size of %u bytes is too small, using %u bytes.", (unsigned)bytesPerCopy,
              (unsigned)FRX_MIN_BLOCK);
    bytesPerCopy = FRX_MIN_BLOCK;
  }
  Transfer.Delay = delay;
  Transfer.BlockSize = bytesPerCopy;
  CallTraceExit(NULL);
}

/* ---- one step ---- */

/* Ends the transfer with an outcome: streams closed, buffer released. */
static void EndTransfer(int outcome)
{
  CallTraceEnter("EndTransfer");
  FRX_Close();
  Transfer.Outcome = outcome;
  CallTraceExit(NULL);
}

/* The block buffer could not be had at full size: find the largest half
 * that can, and keep only half of that, so the firmware keeps as much again
 * for itself. Halving stops at FRX_MIN_BLOCK; below it the transfer ends
 * rather than crawl or run without a buffer. */
static bool ReserveSmallerBuffer(void)
{
  CallTraceEnter("ReserveSmallerBuffer");
  dword requested = Transfer.BlockSize;
  void *probe = NULL;

  while (probe == NULL && (Transfer.BlockSize >> 1) >= 2 * FRX_MIN_BLOCK) {
    Transfer.BlockSize >>= 1;
    probe = TAP_MemAlloc(Transfer.BlockSize);
  }
  if (probe != NULL) {
    TAP_MemFree(probe);
    Transfer.BlockSize >>= 1;
    FRXDataBuffer = (byte *)TAP_MemAlloc(Transfer.BlockSize);
  }
  if (FRXDataBuffer == NULL) {
    WriteLogF(
        "FRX: failed to reserve %d bytes for the data buffer, not even %d bytes are free. "
        "Transfer terminated.",
        (int)requested, (int)FRX_MIN_BLOCK);
    EndTransfer(STEP_DEST_FAILED);
    FRXMemoryShort = true;
    CallTraceExit(NULL);
    return false;
  }
  WriteLogF("FRX: failed to reserve %d bytes for the data buffer. Reduced to %d bytes.", (int)requested,
            (int)Transfer.BlockSize);
  CallTraceExit(NULL);
  return true;
}

/* The buffer for the current block size; reserved again only when the size
 * changed. False when the transfer had to end. */
static bool ReserveBuffer(void)
{
  CallTraceEnter("ReserveBuffer");
  bool ok = true;
  if (FRXDataBuffer == NULL || LastBufferSize != Transfer.BlockSize) {
    ReleaseBuffer();
    FRXDataBuffer = (byte *)TAP_MemAlloc(Transfer.BlockSize);
    if (FRXDataBuffer == NULL) ok = ReserveSmallerBuffer();
    if (ok) LastBufferSize = Transfer.BlockSize;
  }
  CallTraceExit(NULL);
  return ok;
}

/* errno values of a sync that says the file system cannot sync at all:
 * for such a file system the flush into the kernel is as far as anyone can
 * go. */
static bool CannotSync(int error)
{
  CallTraceEnter("CannotSync");
  bool cannot = error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
  CallTraceExit(NULL);
  return cannot;
}

/* A copy keeps its source, so its last block is only waited for on the
 * disk (its write-back began during the pause), and the kernel commits the
 * metadata within seconds without the receiver waiting for it: a copy cut
 * off by a power loss is found incomplete by the next run and continued or
 * rewritten from the source. False when the data did not reach the disk. */
static bool SecureCopy(void)
{
  CallTraceEnter("SecureCopy");
  bool ok = SC_Fflush(FRXfDest) == 0;
  if (ok && Transfer.WriteBackLength != 0 &&
      SC_WriteBack(FRXfDest, (off64_t)Transfer.WriteBackOffset, (off64_t)Transfer.WriteBackLength, 1, false) != 0) {
    /* else the system only cannot */
    ok = errno != EIO && errno != ENOSPC && errno != EDQUOT && !SC_WasLate() && SC_State() == SC_Idle;
  }
  CallTraceExit(NULL);
  return ok;
}

/* Has the source changed since the transfer opened? Bytes rewritten
 * behind the copy position would never reach the copy. Only a move asks:
 * its source goes once the copy counts as complete. */
static bool SourceChanged(void)
{
  CallTraceEnter("SourceChanged");
  tFRXStamp now;
  bool changed = FRXVerify && (!FRX_TakeStamp(FRXSourceFileName, &now) || !FRX_SameStamp(&now, &Transfer.SourceStamp));
  if (changed) WriteLog("FRX: the source changed while it was copied, transfer terminated.");
  CallTraceExit(NULL);
  return changed;
}

/* The end of a transfer whose destination is as safe as it gets (secured)
 * or is not: the destination is closed, and only a move whose source is
 * unchanged up to this moment counts as finished. */
static void FinishTransfer(bool secured)
{
  CallTraceEnter("FinishTransfer");
  if (SC_Fclose(FRXfDest) != 0) secured = false;
  FRXfDest = NULL;
  if (!secured) {
    WriteLog("FRX: failed to flush the destination to disk, transfer terminated.");
    EndTransfer(STEP_DEST_FAILED);
  } else if (SourceChanged()) {
    EndTransfer(STEP_SOURCE_FAILED);
  } else {
    WriteLog("FRX: transfer finished.");
    /* a copy found complete and compared was not written to: its times
     * stay (they may be the source's own, reached another way) */
    if (Transfer.ResumeOffset != FRXTotalBytes) {
      struct utimbuf times;
      times.actime = times.modtime = (time_t)FRXSourceTime;
      SC_Utime(FRXDestFileName, &times);
    }
    EndTransfer(STEP_DONE);
  }
  CallTraceExit(NULL);
}

/* A step the worker is still with: nothing this event, unless the
 * destination has been silent too long, which ends the transfer. True
 * while it is out, *result set once it is back. */
static bool StillOut(long long *result)
{
  CallTraceEnter("StillOut");
  bool out = SC_TakeResult(result) == 1;
  if (out && SC_State() == SC_Silent) {
    WriteLogF("FRX: the destination has not answered for %u seconds, transfer terminated.",
              (unsigned)(SC_WaitedTicks() / 100));
    EndTransfer(STEP_DEST_FAILED);
  }
  if (!out) FRXPending = PS_None;
  CallTraceExit(NULL);
  return out;
}

/* The sync's state on the worker: 1 running (or the look still out), 0
 * done, -1 failed with errno. */
static int LookAtSync(void)
{
  CallTraceEnter("LookAtSync");
  int state = SC_SyncPoll(FRXfDest, true);
  if (state < 0 && SC_WasLate()) {
    FRXPending = PS_SyncPoll;
    state = 1;
  }
  CallTraceExit(NULL);
  return state;
}

/* One idle event's look at a move's sync; the transfer ends when it did.
 * A start or a look that outlasts its event is asked about again later. */
static void PollSync(void)
{
  CallTraceEnter("PollSync");
  long long result = 0;
  int state = 1;
  if (FRXPending == PS_SyncStart) {
    if (!StillOut(&result)) state = result == 0 ? LookAtSync() : -1;
  } else if (FRXPending == PS_SyncPoll) {
    if (!StillOut(&result)) state = (int)result;
  } else {
    state = LookAtSync();
  }
  if (state != 1 && FRXfDest != NULL) {
    Transfer.Syncing = false;
    FinishTransfer(state == 0 || CannotSync(errno));
  }
  CallTraceExit(NULL);
}

/* A move's source is deleted once its copy counts as finished, so the copy
 * goes to stable storage first (data and the file's metadata). That sync
 * runs in the background where the system can: the idle events that follow
 * only ask whether it is done (PollSync), instead of one of them waiting
 * for the journal and the disk's cache for hundreds of milliseconds. */
static void StartSync(void)
{
  CallTraceEnter("StartSync");
  int started = SC_SyncStart(FRXfDest, true);
  if (started != 0 && SC_WasLate()) {
    Transfer.Syncing = true; /* the start is still out: looked at again later */
    FRXPending = PS_SyncStart;
  } else if (started == 0) {
    Transfer.Syncing = true;
    PollSync(); /* a sync done at its start ends the transfer in this event */
  } else {
    FinishTransfer(CannotSync(errno));
  }
  CallTraceExit(NULL);
}

/* The source gave no more data: complete, or ended early. A move's copy is
 * synced before it can finish, a copy's is finished at once. */
static void EndOfSource(void)
{
  CallTraceEnter("EndOfSource");
  if (FRXBytesCopied != FRXTotalBytes) {
    WriteLog("FRX: got no data, transfer terminated.");
    EndTransfer(STEP_SOURCE_FAILED);
  } else if (FRXVerify) {
    StartSync();
  } else {
    FinishTransfer(SecureCopy());
  }
  CallTraceExit(NULL);
}

/* The destination differs from the source: it is written again from the
 * start, the source stays until then. False when it cannot be reopened. */
static bool RestartTransfer(qword offset)
{
  CallTraceEnter("RestartTransfer");
  WriteLogF("FRX: the destination differs from the source at '%lld'", (long long)offset);
  SC_Fclose(FRXfDest);
  FRXfDest = SC_Fopen64(FRXDestFileName, "w+");
  Transfer.WriteBackLength = 0; /* a new stream: nothing of it is under way */
  Transfer.Verifying = false;
  FRXBytesCopied = Transfer.ResumeOffset = 0;
  bool ok = FRXfDest != NULL && OS_Fseeko64(FRXfSource, 0, SEEK_SET) == 0;
  if (ok) {
    WriteLog("FRX: restarting due to different contents");
  } else {
    WriteLogF("FRX: failed to open the destination file '%s'", FRXDestFileName);
    EndTransfer(STEP_DEST_FAILED);
  }
  CallTraceExit(NULL);
  return ok;
}

/* All bytes the destination held are the source's: from here on the
 * transfer appends, or finds the end of the source at once. */
static bool EndOfVerify(void)
{
  CallTraceEnter("EndOfVerify");
  Transfer.Verifying = false;
  WriteLogF("FRX: the '%lld' bytes at the destination are identical to the source", (long long)Transfer.VerifyEnd);
  SC_Fclose(FRXfDest);
  FRXfDest = OpenAtEnd(FRXDestFileName, Transfer.VerifyEnd);
  Transfer.WriteBackLength = 0; /* a new stream: nothing of it is under way */
  if (FRXfDest == NULL) {
    WriteLogF("FRX: failed to open the destination file '%s'", FRXDestFileName);
    EndTransfer(STEP_DEST_FAILED);
  }
  CallTraceExit(NULL);
  return FRXfDest != NULL;
}

/* One block of the comparison: the source's next bytes against the
 * destination's at the same offset, in pieces of the compare buffer. */
static bool VerifyBlock(void)
{
  CallTraceEnter("VerifyBlock");
  qword left = Transfer.VerifyEnd - FRXBytesCopied;
  dword want = left < Transfer.BlockSize ? (dword)left : Transfer.BlockSize;
  dword got = (dword)OS_Fread(FRXDataBuffer, 1, want, FRXfSource);
  bool goOn;
  if (got != want) {
    WriteLog("FRX: the source is shorter than its copy now, transfer terminated.");
    EndTransfer(STEP_SOURCE_FAILED);
    goOn = false;
  } else {
    dword same = 0;
    while (same < got) {
      dword piece = got - same < FRX_COMPARE_SIZE ? got - same : FRX_COMPARE_SIZE;
      if (ReadAt(FRXfDest, FRXBytesCopied + same, FRXCompareDest, piece, true) != piece ||
          TAP_MemCmp(FRXDataBuffer + same, FRXCompareDest, piece) != 0)
        break;
      same += piece;
    }
    if (same < got && SC_State() != SC_Idle) {
      /* no answer is no difference: the comparison ends here */
      WriteLog("FRX: the destination does not answer, transfer terminated.");
      EndTransfer(STEP_DEST_FAILED);
      goOn = false;
    } else if (same < got) {
      goOn = RestartTransfer(FRXBytesCopied + same);
    } else {
      FRXBytesCopied += got;
      goOn = FRXBytesCopied < Transfer.VerifyEnd || EndOfVerify();
    }
  }
  CallTraceExit(NULL);
  return goOn;
}

/* The disk gets each block while the copy goes on: the block before is
 * waited for (it had a whole pause to get there), this one is started. So
 * the kernel never holds more than two blocks of the copy unwritten, and the
 * flush before "transfer finished" has at most one left, instead of all of
 * a file's blocks in one idle event. Where the system cannot, the final
 * flush does everything, as before. */
static void WriteBackBlock(qword offset, dword length)
{
  CallTraceEnter("WriteBackBlock");
  if (Transfer.WriteBackLength != 0 &&
      SC_WriteBack(FRXfDest, (off64_t)Transfer.WriteBackOffset, (off64_t)Transfer.WriteBackLength, 1, true) != 0 &&
      SC_WasLate()) {
    /* the wait for the block before goes on: this block's start follows */
    FRXPending = PS_WriteBack;
    FRXPendingOffset = offset;
    FRXPendingLength = length;
  } else {
    SC_WriteBack(FRXfDest, (off64_t)offset, (off64_t)length, 0, false);
    Transfer.WriteBackOffset = offset;
    Transfer.WriteBackLength = length;
  }
  CallTraceExit(NULL);
}

/* errno values that say the kernel cannot copy between these two files
 * (an old kernel, two file systems, a destination opened for appending),
 * not that a write failed. */
static bool CannotCopyInKernel(int error)
{
  CallTraceEnter("CannotCopyInKernel");
  bool cannot = error == ENOSYS || error == EXDEV || error == EINVAL || error == EBADF || error == EOPNOTSUPP ||
                error == ETXTBSY || error == EPERM;
  CallTraceExit(NULL);
  return cannot;
}

/* The next block inside the kernel: no copy through the block buffer, and
 * the source's bytes do not pass the plug-in's memory. It goes in pieces of
 * FRX_KERNEL_PIECE, and each piece's write-back starts as soon as it is
 * copied: so the disk writes while the rest of the block is still being
 * read, instead of getting a large block in one go at its end, with the
 * block's reads queued behind the block before. A short count is taken up
 * again at once, so the block ends where a read of it would: at its size or
 * at the end of the source. *put is what moved; *got what a read would have
 * had, which differs from *put only when a write failed. False where the
 * kernel cannot copy between these files: the transfer goes on with reading
 * and writing from this block on, the streams placed where the block
 * begins. */
static bool CopyBlockInKernel(long *got, long *put)
{
  CallTraceEnter("CopyBlockInKernel");
  long moved = 0, step = 1;
  while (moved < (long)Transfer.BlockSize && step > 0) {
    qword at = FRXBytesCopied + (qword)moved;
    dword want = Transfer.BlockSize - (dword)moved;
    if (want > FRX_KERNEL_PIECE) want = FRX_KERNEL_PIECE;
    step = (long)SC_CopyRange(FRXfSource, (off64_t)at, FRXfDest, (off64_t)at, want);
    if (step > 0) {
      SC_WriteBack(FRXfDest, (off64_t)at, (off64_t)step, 0, false);
      moved += step;
    }
  }
  bool done = true;
  *got = *put = moved;
  if (step < 0 && moved == 0 && CannotCopyInKernel(errno)) {
    Transfer.CopyInKernel = false;
    OS_Fseeko64(FRXfSource, (off64_t)FRXBytesCopied, SEEK_SET);
    SC_Fseeko64(FRXfDest, (off64_t)FRXBytesCopied, SEEK_SET);
    done = false;
  } else if (step < 0) {
    /* a failed write: the block as the source's size has it */
    qword left = FRXTotalBytes > FRXBytesCopied ? FRXTotalBytes - FRXBytesCopied : 0;
    *got = left > (qword)moved && left < (qword)Transfer.BlockSize ? (long)left : (long)Transfer.BlockSize;
  }
  CallTraceExit(NULL);
  return done;
}

/* A call of the last block that outlasted its event without its result
 * being kept (a piece copied in the kernel): once the worker is back the
 * block is made again from where the confirmed bytes end. True while it is
 * still out; a silence too long ends the transfer. */
static bool WorkerStillOut(void)
{
  CallTraceEnter("WorkerStillOut");
  int state = SC_State();
  if (state == SC_Silent) {
    WriteLogF("FRX: the destination has not answered for %u seconds, transfer terminated.",
              (unsigned)(SC_WaitedTicks() / 100));
    EndTransfer(STEP_DEST_FAILED);
  }
  CallTraceExit(NULL);
  return state != SC_Idle;
}

/* A block's write or write-back that outlasted its event, taken up again:
 * true while it is still out (the transfer may have ended meanwhile). */
static bool TakePending(long *got, long *put)
{
  CallTraceEnter("TakePending");
  long long result = 0;
  int step = FRXPending;
  bool out = StillOut(&result);
  if (!out && step == PS_Write) {
    *got = FRXPendingGot;
    *put = (long)result;
  } else if (!out && step == PS_WriteBack) {
    SC_WriteBack(FRXfDest, (off64_t)FRXPendingOffset, (off64_t)FRXPendingLength, 0, false);
    Transfer.WriteBackOffset = FRXPendingOffset;
    Transfer.WriteBackLength = FRXPendingLength;
    out = true; /* this event's work is done; the next block comes next time */
  }
  CallTraceExit(NULL);
  return out;
}

/* Moves one block; false when the transfer reached its outcome. */
static bool CopyBlock(void)
{
  CallTraceEnter("CopyBlock");
  bool goOn = false;
  long got = 0, put = 0;

  if (FRXPending == PS_Redo || (FRXPending == PS_None && SC_State() != SC_Idle)) {
    if (WorkerStillOut()) {
      CallTraceExit(NULL);
      return FRXfDest != NULL;
    }
    FRXPending = PS_None;
  }
  if (FRXPending == PS_Write || FRXPending == PS_WriteBack) {
    if (TakePending(&got, &put)) {
      CallTraceExit(NULL);
      return FRXfDest != NULL;
    }
  } else if (ReserveBuffer() && Transfer.Verifying) {
    CallTraceExit(NULL);
    return VerifyBlock();
  } else if (FRXDataBuffer != NULL) {
    if (Transfer.CopyInKernel && CopyBlockInKernel(&got, &put) && put < got && SC_WasLate()) {
      /* a piece is still out: what it moved is not known yet */
      FRXPending = PS_Redo;
      CallTraceExit(NULL);
      return true;
    }
    if (!Transfer.CopyInKernel) {
      got = (long)OS_Fread(FRXDataBuffer, 1, Transfer.BlockSize, FRXfSource);
      put = got == 0 ? 0 : (long)SC_Fwrite(FRXDataBuffer, 1, (size_t)got, FRXfDest, true);
      if (got != 0 && put == 0 && SC_WasLate()) { /* the write goes on */
        FRXPending = PS_Write;
        FRXPendingGot = got;
        CallTraceExit(NULL);
        return true;
      }
    }
  } else {
    CallTraceExit(NULL);
    return false;
  }
  {
    if (got == 0) {
      EndOfSource();
    } else if (put != got) {
      WriteLogF("FRX: failed to write %d bytes (%d), transfer terminated.", (int)got, (int)put);
      EndTransfer(STEP_DEST_FAILED);
    } else {
      WriteBackBlock(FRXBytesCopied, (dword)got);
      FRXBytesCopied += (qword)got;
      goOn = true;
    }
  }
  CallTraceExit(NULL);
  return goOn;
}

/* One statistics update, once a second. The first after FRX_Init only
 * takes the starting point into the empty ring: what the destination held
 * before this run is no throughput of it. */
static void UpdateStats(void)
{
  CallTraceEnter("UpdateStats");
  Transfer.StatsCurrentBlock = StatsBlocks(FRXBytesCopied);
  if (Transfer.StatsInit) {
    Transfer.StatsInit = false;
  } else {
    Transfer.BlocksPerSecond[Transfer.StatsPointer] = (int)(Transfer.StatsCurrentBlock - Transfer.StatsLastBlock);
    Transfer.StatsPointer = (Transfer.StatsPointer + 1) % FRX_STATS_SLOTS;
    if (Transfer.StatsSlotsSeen < FRX_STATS_SLOTS) Transfer.StatsSlotsSeen++;
  }
  Transfer.StatsLastBlock = Transfer.StatsCurrentBlock;
  CallTraceExit(NULL);
}

int FRX_Process(void)
{
  static dword NextProcess = 0; /* earliest tick of the next block */
  static dword NextStats = 0;   /* earliest tick of the next statistics update */
  CallTraceEnter("FRX_Process");

  if (FRXfSource == NULL || FRXfDest == NULL) {
    CallTraceExit(NULL);
    return Transfer.Outcome;
  }
  if (Transfer.Syncing) { /* every idle event looks, whatever the pace */
    PollSync();
    CallTraceExit(NULL);
    return Transfer.Outcome;
  }
  if (TAP_GetTick() > NextProcess) {
    if (!CopyBlock()) {
      CallTraceExit(NULL);
      return Transfer.Outcome;
    }
    NextProcess = TAP_GetTick() + Transfer.Delay;
  }
  if (TAP_GetTick() > NextStats) {
    UpdateStats();
    NextStats = TAP_GetTick() + FRX_STATS_INTERVAL;
  }
  CallTraceExit(NULL);
  return Transfer.Outcome;
}

/* ---- figures, closing, deleting ---- */

/* Megabytes per minute over the last 60 seconds; while fewer were observed,
 * the rate over those seconds, scaled to a minute. 64-bit arithmetic: a
 * fast disk moves more than 2 GB a minute. */
static int MegabytesPerMinute(void)
{
  CallTraceEnter("MegabytesPerMinute");
  long long blocks = 0;
  for (int i = 0; i < FRX_STATS_SLOTS; i++) blocks += Transfer.BlocksPerSecond[i];
  long long bytes = blocks * FRX_STATS_BLOCK;
  if (Transfer.StatsSlotsSeen == 0) bytes = 0;
  else if (Transfer.StatsSlotsSeen < FRX_STATS_SLOTS) bytes = bytes * FRX_STATS_SLOTS / Transfer.StatsSlotsSeen;
  long long mb = bytes >> 20;
  CallTraceExit(NULL);
  return mb > INT_MAX ? INT_MAX : (int)mb;
}

void FRX_GetStats(qword *totalBytes, qword *bytesCopied, int *percent, int *mbPerMinute)
{
  CallTraceEnter("FRX_GetStats");
  if (totalBytes != NULL) *totalBytes = FRXTotalBytes;
  if (bytesCopied != NULL) *bytesCopied = FRXBytesCopied;
  if (percent != NULL) {
    dword total = StatsBlocks(FRXTotalBytes);
    *percent = total == 0 ? 0 : (int)((qword)StatsBlocks(FRXBytesCopied) * 100 / total);
  }
  if (mbPerMinute != NULL) *mbPerMinute = MegabytesPerMinute();
  CallTraceExit(NULL);
}

void FRX_Close(void)
{
  CallTraceEnter("FRX_Close");
  if (FRXfSource != NULL) OS_Fclose(FRXfSource);
  if (FRXfDest != NULL) SC_Fclose(FRXfDest); /* waits for a sync still running */
  FRXfSource = FRXfDest = NULL;
  Transfer.Syncing = false;
  if (FRXPending != PS_None) SC_DropResult();
  FRXPending = PS_None;
  ReleaseBuffer();
  CallTraceExit(NULL);
}

void FRX_DeleteSource(void)
{
  CallTraceEnter("FRX_DeleteSource");
  if (FRXSourceFileName[0] != '\0') OS_Unlink(FRXSourceFileName);
  CallTraceExit(NULL);
}
