/* BlockCopy.cpp -- the block copy engine: one file, one block per call.
 *
 * Copies a file one FRX_Process block at a time, so the receiver keeps
 * running while gigabytes move; for a move first compares what it did not
 * copy itself, syncs the copy, and keeps a one-minute throughput ring.
 * Opening a transfer is BlockOpen's, the looks at a destination (probe,
 * comparisons, stamps) BlockCompare's; the state they share is
 * BlockTransfer.h's. Absolute OS paths, OS facade, 64-bit offsets; names
 * and pace are the callers' choice.
 * Owns: the transfer state (paths, streams, buffer, tFRXTransfer). */
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <utime.h>

#include "BlockCompare.h"
#include "BlockTransfer.h"
#include "Ferrox.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "os_facade.h"

#define FRX_KERNEL_PIECE 0x200000u /* 2 MiB: the piece of a block copied in the kernel at a time */
#define FRX_STATS_INTERVAL 100     /* ticks between two statistics updates */

char FRXSourceFileName[FRX_PATH_SIZE];
char FRXDestFileName[FRX_PATH_SIZE];
qword FRXTotalBytes = 0;
qword FRXBytesCopied = 0;

FILE *FRXfSource = nullptr;           /* open source, null when closed */
FILE *FRXfDest = nullptr;             /* open destination, null when closed */
dword FRXSourceTime = 0;              /* source modification time, seconds since 1970 */
static byte *FRXDataBuffer = nullptr; /* the block buffer */
static dword LastBufferSize = 0;      /* size FRXDataBuffer was reserved for */
bool FRXVerify = false;               /* compare what the next transfers do not copy themselves */
char FRXMountPoint[FRX_PATH_SIZE];    /* no folder is made on the internal disk below it */
bool FRXMemoryShort = false;          /* the last transfer ended for want of a block buffer */

const tFRXTransfer NewTransfer = {
    FRX_DEFAULT_BLOCK, 0, STEP_RUNNING, {0}, 0, 0, true, 0, 0, false, 0, 0, {}, true, 0, 0, false};
tFRXTransfer Transfer = NewTransfer;

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
  CallTraceExit(nullptr);
  return blocks;
}

/* A path that does not fit, or a missing part, leaves the field empty, so
 * that nothing can ever act on a cut path (FRX_DeleteSource least of all). */
bool MakeTransferPath(const char *folder, const char *name, char *dest)
{
  CallTraceEnter("MakeTransferPath");
  bool ok = false;
  dest[0] = '\0';
  if (folder != nullptr && name != nullptr) {
    size_t len = strlen(folder);
    const char *slash = (len > 0 && folder[len - 1] == '/') ? "" : "/";
    int n = snprintf(dest, FRX_PATH_SIZE, "%s%s%s", folder, slash, name);
    ok = n >= 0 && n < FRX_PATH_SIZE;
    if (!ok) dest[0] = '\0';
  }
  if (!ok) WriteLogF("FRX: path too long or missing: '%s' in '%s'", name ? name : "(null)", folder ? folder : "(null)");
  CallTraceExit(nullptr);
  return ok;
}

void ReleaseBuffer(void)
{
  CallTraceEnter("ReleaseBuffer");
  if (FRXDataBuffer != nullptr) TAP_MemFree(FRXDataBuffer);
  FRXDataBuffer = nullptr;
  LastBufferSize = 0;
  CallTraceExit(nullptr);
}

void FRX_GetSourceStamp(tFRXStamp *stamp)
{
  CallTraceEnter("FRX_GetSourceStamp");
  *stamp = Transfer.SourceStamp;
  CallTraceExit(nullptr);
}

qword FRX_GetResumeOffset(void)
{
  CallTraceEnter("FRX_GetResumeOffset");
  qword offset = Transfer.ResumeOffset;
  CallTraceExit(nullptr);
  return offset;
}

void FRX_SetVerify(bool on)
{
  CallTraceEnter("FRX_SetVerify");
  FRXVerify = on;
  CallTraceExit(nullptr);
}

void FRX_SetMountPoint(const char *folder)
{
  CallTraceEnter("FRX_SetMountPoint");
  if (folder == nullptr || strlen(folder) >= sizeof FRXMountPoint) folder = "";
  strcpy(FRXMountPoint, folder);
  CallTraceExit(nullptr);
}

/* ---- one step ---- */

/* Ends the transfer with an outcome: streams closed, buffer released. */
static void EndTransfer(int outcome)
{
  CallTraceEnter("EndTransfer");
  FRX_Close();
  Transfer.Outcome = outcome;
  CallTraceExit(nullptr);
}

/* The block buffer could not be had at full size: find the largest half
 * that can, and keep only half of that, so the firmware keeps as much again
 * for itself. Halving stops at FRX_MIN_BLOCK; below it the transfer ends
 * rather than crawl or run without a buffer. */
static bool ReserveSmallerBuffer(void)
{
  CallTraceEnter("ReserveSmallerBuffer");
  dword requested = Transfer.BlockSize;
  void *probe = nullptr;

  while (probe == nullptr && (Transfer.BlockSize >> 1) >= 2 * FRX_MIN_BLOCK) {
    Transfer.BlockSize >>= 1;
    probe = TAP_MemAlloc(Transfer.BlockSize);
  }
  if (probe != nullptr) {
    TAP_MemFree(probe);
    Transfer.BlockSize >>= 1;
    FRXDataBuffer = (byte *)TAP_MemAlloc(Transfer.BlockSize);
  }
  if (FRXDataBuffer == nullptr) {
    WriteLogF(
        "FRX: failed to reserve %d bytes for the data buffer, not even %d bytes are free. "
        "Transfer terminated.",
        (int)requested, (int)FRX_MIN_BLOCK);
    EndTransfer(STEP_DEST_FAILED);
    FRXMemoryShort = true;
    CallTraceExit(nullptr);
    return false;
  }
  WriteLogF("FRX: failed to reserve %d bytes for the data buffer. Reduced to %d bytes.", (int)requested,
            (int)Transfer.BlockSize);
  CallTraceExit(nullptr);
  return true;
}

/* The buffer for the current block size; reserved again only when the size
 * changed. False when the transfer had to end. */
static bool ReserveBuffer(void)
{
  CallTraceEnter("ReserveBuffer");
  bool ok = true;
  if (FRXDataBuffer == nullptr || LastBufferSize != Transfer.BlockSize) {
    ReleaseBuffer();
    FRXDataBuffer = (byte *)TAP_MemAlloc(Transfer.BlockSize);
    if (FRXDataBuffer == nullptr) ok = ReserveSmallerBuffer();
    if (ok) LastBufferSize = Transfer.BlockSize;
  }
  CallTraceExit(nullptr);
  return ok;
}

/* errno values of a sync that says the file system cannot sync at all:
 * for such a file system the flush into the kernel is as far as anyone can
 * go. */
static bool CannotSync(int error)
{
  CallTraceEnter("CannotSync");
  bool cannot = error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
  return changed;
}

/* The end of a transfer whose destination is as safe as it gets (secured)
 * or is not: the destination is closed, and only a move whose source is
 * unchanged up to this moment counts as finished. */
static void FinishTransfer(bool secured)
{
  CallTraceEnter("FinishTransfer");
  if (SC_Fclose(FRXfDest) != 0) secured = false;
  FRXfDest = nullptr;
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  if (state != 1 && FRXfDest != nullptr) {
    Transfer.Syncing = false;
    FinishTransfer(state == 0 || CannotSync(errno));
  }
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  bool ok = FRXfDest != nullptr && OS_Fseeko64(FRXfSource, 0, SEEK_SET) == 0;
  if (ok) {
    WriteLog("FRX: restarting due to different contents");
  } else {
    WriteLogF("FRX: failed to open the destination file '%s'", FRXDestFileName);
    EndTransfer(STEP_DEST_FAILED);
  }
  CallTraceExit(nullptr);
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
  if (FRXfDest == nullptr) {
    WriteLogF("FRX: failed to open the destination file '%s'", FRXDestFileName);
    EndTransfer(STEP_DEST_FAILED);
  }
  CallTraceExit(nullptr);
  return FRXfDest != nullptr;
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
}

/* errno values that say the kernel cannot copy between these two files
 * (an old kernel, two file systems, a destination opened for appending),
 * not that a write failed. */
static bool CannotCopyInKernel(int error)
{
  CallTraceEnter("CannotCopyInKernel");
  bool cannot = error == ENOSYS || error == EXDEV || error == EINVAL || error == EBADF || error == EOPNOTSUPP ||
                error == ETXTBSY || error == EPERM;
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
      CallTraceExit(nullptr);
      return FRXfDest != nullptr;
    }
    FRXPending = PS_None;
  }
  if (FRXPending == PS_Write || FRXPending == PS_WriteBack) {
    if (TakePending(&got, &put)) {
      CallTraceExit(nullptr);
      return FRXfDest != nullptr;
    }
  } else if (ReserveBuffer() && Transfer.Verifying) {
    CallTraceExit(nullptr);
    return VerifyBlock();
  } else if (FRXDataBuffer != nullptr) {
    if (Transfer.CopyInKernel && CopyBlockInKernel(&got, &put) && put < got && SC_WasLate()) {
      /* a piece is still out: what it moved is not known yet */
      FRXPending = PS_Redo;
      CallTraceExit(nullptr);
      return true;
    }
    if (!Transfer.CopyInKernel) {
      got = (long)OS_Fread(FRXDataBuffer, 1, Transfer.BlockSize, FRXfSource);
      put = got == 0 ? 0 : (long)SC_Fwrite(FRXDataBuffer, 1, (size_t)got, FRXfDest, true);
      if (got != 0 && put == 0 && SC_WasLate()) { /* the write goes on */
        FRXPending = PS_Write;
        FRXPendingGot = got;
        CallTraceExit(nullptr);
        return true;
      }
    }
  } else {
    CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
}

int FRX_Process(void)
{
  static dword NextProcess = 0; /* earliest tick of the next block */
  static dword NextStats = 0;   /* earliest tick of the next statistics update */
  CallTraceEnter("FRX_Process");

  if (FRXfSource == nullptr || FRXfDest == nullptr) {
    CallTraceExit(nullptr);
    return Transfer.Outcome;
  }
  if (Transfer.Syncing) { /* every idle event looks, whatever the pace */
    PollSync();
    CallTraceExit(nullptr);
    return Transfer.Outcome;
  }
  if (TAP_GetTick() > NextProcess) {
    if (!CopyBlock()) {
      CallTraceExit(nullptr);
      return Transfer.Outcome;
    }
    NextProcess = TAP_GetTick() + Transfer.Delay;
  }
  if (TAP_GetTick() > NextStats) {
    UpdateStats();
    NextStats = TAP_GetTick() + FRX_STATS_INTERVAL;
  }
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
  return mb > INT_MAX ? INT_MAX : (int)mb;
}

void FRX_GetStats(qword *totalBytes, qword *bytesCopied, int *percent, int *mbPerMinute)
{
  CallTraceEnter("FRX_GetStats");
  if (totalBytes != nullptr) *totalBytes = FRXTotalBytes;
  if (bytesCopied != nullptr) *bytesCopied = FRXBytesCopied;
  if (percent != nullptr) {
    dword total = StatsBlocks(FRXTotalBytes);
    *percent = total == 0 ? 0 : (int)((qword)StatsBlocks(FRXBytesCopied) * 100 / total);
  }
  if (mbPerMinute != nullptr) *mbPerMinute = MegabytesPerMinute();
  CallTraceExit(nullptr);
}

void FRX_Close(void)
{
  CallTraceEnter("FRX_Close");
  if (FRXfSource != nullptr) OS_Fclose(FRXfSource);
  if (FRXfDest != nullptr) SC_Fclose(FRXfDest); /* waits for a sync still running */
  FRXfSource = FRXfDest = nullptr;
  Transfer.Syncing = false;
  if (FRXPending != PS_None) SC_DropResult();
  FRXPending = PS_None;
  ReleaseBuffer();
  CallTraceExit(nullptr);
}

void FRX_DeleteSource(void)
{
  CallTraceEnter("FRX_DeleteSource");
  if (FRXSourceFileName[0] != '\0') OS_Unlink(FRXSourceFileName);
  CallTraceExit(nullptr);
}
