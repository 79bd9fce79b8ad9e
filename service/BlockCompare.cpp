/* BlockCompare.cpp -- comparing a destination with its source.
 *
 * Reads at an offset, compares the ends (or all) of two files, takes and
 * compares status stamps, and probes a destination: missing, the source's
 * very bytes, or different. Owns: the comparison buffers.
 */
#include "BlockCompare.h"

#include <errno.h>
#include <string.h>

#include "Ferrox.h"
#include "LogTrace.h"
#include "os_facade.h"

static byte FRXCompareSource[FRX_COMPARE_SIZE]; /* source bytes being compared */
byte FRXCompareDest[FRX_COMPARE_SIZE];          /* destination bytes being compared */

/* Reads up to len bytes at an offset; the count read. A destination's
 * stream is read on the worker (dest). */
dword ReadAt(FILE *f, qword offset, byte *buffer, dword len, bool dest)
{
  CallTraceEnter("ReadAt");
  dword got = 0;
  if (!dest && OS_Fseeko64(f, (off64_t)offset, SEEK_SET) == 0) got = (dword)OS_Fread(buffer, 1, len, f);
  if (dest && SC_Fseeko64(f, (off64_t)offset, SEEK_SET) == 0) got = (dword)SC_Fread(buffer, 1, len, f, false);
  CallTraceExit(nullptr);
  return got;
}

static bool SameBytesAt(FILE *src, FILE *dst, qword offset, dword len)
{
  CallTraceEnter("SameBytesAt");
  bool same = ReadAt(dst, offset, FRXCompareDest, len, true) == len &&
              ReadAt(src, offset, FRXCompareSource, len, false) == len &&
              TAP_MemCmp(FRXCompareSource, FRXCompareDest, len) == 0;
  CallTraceExit(nullptr);
  return same;
}

/* The one test of the probe and the resume rule: the destination's first and
 * last up-to-8 KiB equal the source at the same offsets. Bytes the source
 * lacks count as different, so a destination longer than its source never
 * passes, and a different recording that merely starts alike is caught by
 * its tail. */
bool SameContents(FILE *src, FILE *dst, qword dstSize)
{
  CallTraceEnter("SameContents");
  dword len = dstSize < FRX_COMPARE_SIZE ? (dword)dstSize : FRX_COMPARE_SIZE;
  bool same = SameBytesAt(src, dst, 0, len);
  if (same && dstSize > len) same = SameBytesAt(src, dst, dstSize - len, len);
  CallTraceExit(nullptr);
  return same;
}

/* Status of a file as the streams see it: a symbolic link stands for the
 * file it points to, so that sizes and times are those of the bytes read or
 * appended to, not of the link itself. A dangling link keeps its own status
 * (its open fails later, as for any unreadable file). 0 on success. */
int StatTarget(const char *path, struct stat64 *st, bool dest)
{
  CallTraceEnter("StatTarget");
  int result = dest ? SC_Lstat64(path, st) : OS_Lstat64(path, st);
  if (result == 0 && S_ISLNK(st->st_mode)) {
    struct stat64 target;
    if ((dest ? SC_Stat64(path, &target) : OS_Stat64(path, &target)) == 0) *st = target;
  }
  CallTraceExit(nullptr);
  return result;
}

/* Same device and inode, also through a hard link, a symbolic link or a
 * second mount of the same file system. */
bool IsSameFile(const char *a, const char *b)
{
  CallTraceEnter("IsSameFile");
  struct stat64 sa, sb;
  bool same = OS_Stat64(a, &sa) == 0 && SC_Stat64(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  CallTraceExit(nullptr);
  return same;
}

/* ---- status stamps ---- */

bool FRX_TakeStamp(const char *path, tFRXStamp *stamp)
{
  CallTraceEnter("FRX_TakeStamp");
  struct stat64 st;
  memset(stamp, 0, sizeof *stamp);
  stamp->Valid = path != nullptr && path[0] != '\0' && StatTarget(path, &st, false) == 0;
  if (stamp->Valid) {
    stamp->Size = (qword)st.st_size;
    stamp->Dev = (qword)st.st_dev;
    stamp->Ino = (qword)st.st_ino;
    stamp->MTime = (long long)st.st_mtim.tv_sec;
    stamp->MTimeNs = (long)st.st_mtim.tv_nsec;
    stamp->CTime = (long long)st.st_ctim.tv_sec;
    stamp->CTimeNs = (long)st.st_ctim.tv_nsec;
  }
  CallTraceExit(nullptr);
  return stamp->Valid;
}

/* Size, inode and both times: a file written to, truncated, replaced or
 * renamed over since the first stamp differs in one of them. */
bool FRX_SameStamp(const tFRXStamp *a, const tFRXStamp *b)
{
  CallTraceEnter("FRX_SameStamp");
  bool same = a->Valid && b->Valid && a->Size == b->Size && a->Dev == b->Dev && a->Ino == b->Ino &&
              a->MTime == b->MTime && a->MTimeNs == b->MTimeNs && a->CTime == b->CTime && a->CTimeNs == b->CTimeNs;
  CallTraceExit(nullptr);
  return same;
}

/* Could dst be what a transfer from src left or made: missing, empty, or
 * no longer than src with the same first and last bytes? A companion at the
 * destination that is none of these belongs to some other recording. */
bool FRX_DestinationFitsSource(const char *srcPath, const char *dstPath)
{
  CallTraceEnter("FRX_DestinationFitsSource");
  struct stat64 st, sst;
  bool fits;
  if (SC_Lstat64(dstPath, &st) != 0) {
    fits = SC_State() == SC_Idle; /* no answer is no proof */
  } else if (!S_ISREG(st.st_mode)) {
    fits = false; /* a link or a folder in the way is never written through */
  } else if (st.st_size == 0) {
    fits = true;
  } else if (StatTarget(srcPath, &sst, false) != 0 || st.st_size > sst.st_size) {
    fits = false;
  } else {
    FILE *src = OS_Fopen64(srcPath, "r");
    FILE *dst = SC_Fopen64(dstPath, "r");
    fits = src != nullptr && dst != nullptr && SameContents(src, dst, (qword)st.st_size);
    if (src != nullptr) OS_Fclose(src);
    if (dst != nullptr) SC_Fclose(dst);
  }
  CallTraceExit(nullptr);
  return fits;
}

/* ---- probe ---- */

int FRX_GetDestinationStatus(const char *srcName, const char *dstName, const char *srcDir, const char *dstDir)
{
  CallTraceEnter("FRX_GetDestinationStatus");
  struct stat64 st;
  FILE *src = nullptr, *dst = nullptr;
  int result = DEST_NONE;

  /* Only reads: whatever the answer, nothing at the destination changes. */
  if (dstDir == nullptr || SC_Lstat64(dstDir, &st) != 0) result = DEST_NO_FOLDER;
  else if (!MakeTransferPath(srcDir, srcName, FRXSourceFileName) || StatTarget(FRXSourceFileName, &st, false) != 0 ||
           (src = OS_Fopen64(FRXSourceFileName, "r")) == nullptr)
    result = DEST_NONE;
  else if (!MakeTransferPath(dstDir, dstName, FRXDestFileName) || (dst = SC_Fopen64(FRXDestFileName, "r")) == nullptr)
    result = DEST_NONE;
  else if (StatTarget(FRXDestFileName, &st, true) != 0 || st.st_size <= 0) result = DEST_DIFFERS;
  else result = SameContents(src, dst, (qword)st.st_size) ? DEST_SAME : DEST_DIFFERS;

  if (src != nullptr) OS_Fclose(src);
  if (dst != nullptr) SC_Fclose(dst);
  CallTraceExit(nullptr);
  return result;
}
