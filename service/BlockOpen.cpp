/* BlockOpen.cpp -- opening a transfer of the block copy engine.
 *
 * Opens the source, makes the destination's folders (never on the internal
 * disk below a mount point that is gone), and opens the destination anew
 * or continues a partial copy at its end, for a move after comparing what
 * the transfer will not copy itself. FRX_Init and FRX_SetSpeed.
 */
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

static void ResetTransfer(void)
{
  CallTraceEnter("ResetTransfer");
  ReleaseBuffer();
  /* the figures of the last transfer are not this one's, also for a query
   * that comes before the first statistics update */
  Transfer = NewTransfer;
  FRXMemoryShort = false;
  CallTraceExit(nullptr);
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
    if (FRXfSource == nullptr) {
      WriteLogF("FRX: failed to open the source file '%s'", FRXSourceFileName);
      result = START_SOURCE_FAILED;
    }
  }
  CallTraceExit(nullptr);
  return result;
}

bool FRX_MountPointGone(void)
{
  CallTraceEnter("FRX_MountPointGone");
  bool gone = FRXMountPoint[0] != '\0' && !SC_IsMounted(FRXMountPoint);
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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

  if (folder == nullptr || folder[0] == '\0' || strlen(folder) >= sizeof(path)) {
    CallTraceExit(nullptr);
    return true;
  }
  if (SC_Stat64(folder, &st) == 0) {
    CallTraceExit(nullptr);
    return true;
  }
  if (BelowUnmountedMountPoint(folder)) {
    CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
  return 0;
}

/* The destination opened for writing from `end` on, which is its length:
 * read-write and positioned rather than in append mode, which some network
 * file system clients (FUSE SMB clients) refuse; the engine is its only
 * writer, so the bytes land where appending would put them. */
FILE *OpenAtEnd(const char *path, long long end)
{
  CallTraceEnter("OpenAtEnd");
  FILE *f = SC_Fopen64(path, "r+");
  if (f != nullptr && SC_Fseeko64(f, (off64_t)end, SEEK_SET) != 0) {
    SC_Fclose(f);
    f = nullptr;
  }
  CallTraceExit(nullptr);
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
    FRXfDest = SC_State() != SC_Idle ? nullptr : SC_Fopen64(FRXDestFileName, "w+");
  } else if (st.st_size <= 0) {
    FRXfDest = SC_Fopen64(FRXDestFileName, "w+");
  } else {
    FRXfDest = SC_Fopen64(FRXDestFileName, "r");
    FRXBytesCopied = (qword)st.st_size;
    if (FRXfDest != nullptr && !SameContents(FRXfSource, FRXfDest, FRXBytesCopied)) {
      SC_Fclose(FRXfDest);
      /* different, or it stopped answering: only an answer rewrites it */
      FRXfDest = SC_State() == SC_Idle ? SC_Fopen64(FRXDestFileName, "w+") : nullptr;
      FRXBytesCopied = 0;
      if (FRXfDest != nullptr) WriteLog("FRX: restarting due to different contents");
    } else if (FRXfDest != nullptr && FRXBytesCopied == FRXTotalBytes) {
      WriteLogF("FRX: already ok '%s'", FRXDestFileName);
      Transfer.ResumeOffset = FRXBytesCopied;
      int result = FRXVerify ? StartVerify() : START_COMPLETE;
      CallTraceExit(nullptr);
      return result;
    }
  }

  Transfer.ResumeOffset = FRXfDest != nullptr ? FRXBytesCopied : 0;
  if (FRXfDest != nullptr && FRXBytesCopied != 0 && FRXVerify) {
    WriteLogF("FRX: continuing at '%lld'", (long long)FRXBytesCopied);
    int result = StartVerify();
    CallTraceExit(nullptr);
    return result;
  }
  if (FRXfDest != nullptr && FRXBytesCopied != 0) {
    SC_Fclose(FRXfDest);
    FRXfDest = OpenAtEnd(FRXDestFileName, FRXBytesCopied);
    if (FRXfDest != nullptr) WriteLogF("FRX: continuing at '%lld'", (long long)FRXBytesCopied);
  }
  if (FRXfDest == nullptr) {
    WriteLogF("FRX: failed to open the destination file '%s'", FRXDestFileName);
    CallTraceExit(nullptr);
    return START_DEST_FAILED;
  }
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
    CallTraceExit(nullptr);
    return START_SOURCE_FAILED;
  }
  WriteLogF("FRX: init successful '%s'", FRXDestFileName);
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
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
  CallTraceExit(nullptr);
}
