/* ShareCalls.cpp -- the copy service's calls on the destination, made on a
 * worker thread of its own.
 *
 * A share whose server stopped answering (a NAS switched off, its cable
 * pulled, asleep) holds every call on it inside the kernel, for as long as
 * the kernel's client waits: a status query, an open, a write, a sync, a
 * rename. Made on the firmware's event thread, that is as long a frozen
 * picture, remote and recording. So these calls go to the worker, and the
 * event waits for the answer SC_ANSWER_MS at most. A call that answers in
 * time returns as if it had been made here. One that does not stays with
 * the worker: the caller gets EINPROGRESS, and every further call fails at
 * once with ETIMEDOUT until the late one came back. The caller either takes
 * the late result on a later idle event (SC_TakeResult: a block's write, a
 * write-back, a sync) or has given the step up (its result is dropped, a
 * stream it opened is closed). After SC_GIVE_UP_TICKS without an answer
 * the share counts as silent: the run gives it up and leaves the rest for
 * the next one.
 *
 * The two threads hand over through pipes: a byte to the worker says a job
 * is there, a byte back says it is done. The job's inputs are copies (paths,
 * a write's bytes in the hand-over buffer): a call given up must not leave
 * the worker reading the caller's memory. The worker's two functions do not
 * enter the call trace: it is the event thread's, and the worker would
 * interleave with it.
 * Owns: the worker, its job, the hand-over buffer. */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <utime.h>

#include "Ferrox.h"
#include "LogTrace.h"
#include "os_facade.h"

typedef enum {
  SCO_None = 0,
  SCO_Lstat,
  SCO_Stat,
  SCO_Fopen,
  SCO_Fclose,
  SCO_Fread,
  SCO_Fwrite,
  SCO_Fseek,
  SCO_Fflush,
  SCO_Fsync,
  SCO_SyncStart,
  SCO_SyncPoll,
  SCO_WriteBack,
  SCO_CopyRange,
  SCO_Mkdir,
  SCO_Link,
  SCO_Unlink,
  SCO_Utime,
  SCO_SyncDir
} tSCOp;

typedef struct tSCJob {
  tSCOp Op;
  char Path[512], Path2[512];
  char Mode[8];
  FILE *File, *File2;
  long long A, B; /* offsets, lengths */
  size_t Size, Count;
  int Flag;
  struct stat64 St;
  struct utimbuf Times;
  long long Result; /* the call's return value (a FILE * for SCO_Fopen) */
  int Error;        /* its errno */
} tSCJob;

static tSCJob SCJob;            /* the one job; the worker's while SCInFlight */
static bool SCStarted = false;  /* the worker runs */
static bool SCNoWorker = false; /* no thread could be had: calls are made here */
static tOS_Thread SCThread;
static int SCToWorker[2] = {-1, -1};   /* job there */
static int SCFromWorker[2] = {-1, -1}; /* job done */
static bool SCInFlight = false;        /* a job is with the worker */
static bool SCKeep = false;            /* its late result is waited for by its caller */
static bool SCLate = false;            /* it did not answer within SC_ANSWER_MS */
static dword SCSince = 0;              /* tick it was handed over */
static byte *SCBuffer = nullptr;       /* the hand-over buffer of reads and writes */
static size_t SCBufferSize = 0;
static void *SCReadTo = nullptr; /* where a kept read's bytes go when it is taken */
#define SC_CLOSE_SLOTS 8
static FILE *SCCloseLater[SC_CLOSE_SLOTS]; /* streams to close once the worker is free */
static bool SCLastLate = false;            /* the last call did not answer in time */
static volatile unsigned SCGeneration = 0; /* the current worker's; a new one for each worker */

static void SC_NewJob(tSCJob *job, tSCOp op, FILE *f);

/* ---- the worker ---- */

static void SC_Do(tSCJob *j)
{
  errno = 0;
  switch (j->Op) {
    case SCO_Lstat: j->Result = OS_Lstat64(j->Path, &j->St); break;
    case SCO_Stat: j->Result = OS_Stat64(j->Path, &j->St); break;
    case SCO_Fopen: j->Result = (long long)(size_t)OS_Fopen64(j->Path, j->Mode); break;
    case SCO_Fclose: j->Result = OS_Fclose(j->File); break;
    case SCO_Fread: j->Result = (long long)OS_Fread(SCBuffer, j->Size, j->Count, j->File); break;
    case SCO_Fwrite: j->Result = (long long)OS_Fwrite(SCBuffer, j->Size, j->Count, j->File); break;
    case SCO_Fseek: j->Result = OS_Fseeko64(j->File, (off64_t)j->A, j->Flag); break;
    case SCO_Fflush: j->Result = OS_Fflush(j->File); break;
    case SCO_Fsync: j->Result = OS_Fsync(j->File); break;
    case SCO_SyncStart: j->Result = OS_SyncStart(j->File); break;
    case SCO_SyncPoll: j->Result = OS_SyncPoll(j->File); break;
    case SCO_WriteBack: j->Result = OS_WriteBack(j->File, (off64_t)j->A, (off64_t)j->B, j->Flag); break;
    case SCO_CopyRange:
      j->Result = (long long)OS_CopyRange(j->File, (off64_t)j->A, j->File2, (off64_t)j->B, j->Size);
      break;
    case SCO_Mkdir: j->Result = OS_Mkdir(j->Path, (mode_t)j->Flag); break;
    case SCO_Link: j->Result = OS_Link(j->Path, j->Path2); break;
    case SCO_Unlink: j->Result = OS_Unlink(j->Path); break;
    case SCO_Utime: j->Result = OS_Utime(j->Path, &j->Times); break;
    case SCO_SyncDir: j->Result = OS_SyncDir(j->Path); break;
    default: j->Result = -1; break;
  }
  j->Error = errno;
}

/* Works on a copy of the job, and gives the result back only while its
 * generation is the plug-in's: a worker left behind in a call that never
 * came back touches nothing of a later one when it finally does. */
static void *SC_WorkerMain(void *arg)
{
  const unsigned generation = (unsigned)(size_t)arg;
  const int in = SCToWorker[0], out = SCFromWorker[1];
  char c;
  while (OS_Read(in, &c, 1) == 1 && c == 'j' && SCGeneration == generation) {
    tSCJob job = SCJob;
    SC_Do(&job);
    if (SCGeneration != generation) break;
    SCJob = job;
    c = 'd';
    if (OS_Write(out, &c, 1) != 1) break;
  }
  return nullptr;
}

/* ---- the event thread's side ---- */

static bool SC_Start(void)
{
  CallTraceEnter("SC_Start");
  if (!SCStarted && !SCNoWorker) {
    const unsigned generation = SCGeneration + 1;
    SCGeneration = generation;
    if (OS_Pipe(SCToWorker) != 0) {
      SCNoWorker = true;
    } else if (OS_Pipe(SCFromWorker) != 0) {
      OS_Close(SCToWorker[0]);
      OS_Close(SCToWorker[1]);
      SCNoWorker = true;
    } else if (OS_ThreadStart(&SCThread, SC_WorkerMain, (void *)(size_t)generation) != 0) {
      OS_Close(SCToWorker[0]);
      OS_Close(SCToWorker[1]);
      OS_Close(SCFromWorker[0]);
      OS_Close(SCFromWorker[1]);
      SCNoWorker = true;
    } else {
      SCStarted = true;
    }
    if (SCNoWorker) WriteLog("FRX: no worker thread; calls on the destination are made by the event itself");
  }
  CallTraceExit(nullptr);
  return SCStarted;
}

/* A late result nobody waits for: a stream it opened is closed. */
static void SC_DropLate(void)
{
  CallTraceEnter("SC_DropLate");
  if (SCJob.Op == SCO_Fopen && SCJob.Result != 0) {
    for (int i = 0; i < SC_CLOSE_SLOTS; i++)
      if (SCCloseLater[i] == nullptr) {
        SCCloseLater[i] = (FILE *)(size_t)SCJob.Result;
        break;
      }
  }
  SCJob.Op = SCO_None;
  CallTraceExit(nullptr);
}

/* Has the worker answered? Waits up to ms (0: only looks). */
static bool SC_Collect(int ms)
{
  CallTraceEnter("SC_Collect");
  bool done = !SCInFlight;
  if (!done && OS_Poll(SCFromWorker[0], ms) == 1) {
    char c;
    OS_Read(SCFromWorker[0], &c, 1);
    SCInFlight = false;
    done = true;
    if (SCLate)
      WriteLogF("FRX: the destination answered again after %u ms", (unsigned)((TAP_GetTick() - SCSince) * 10));
    if (SCLate && !SCKeep) SC_DropLate();
    SCLate = false;
  }
  CallTraceExit(nullptr);
  return done;
}

static int SC_Run(tSCJob *job, bool keep);

/* The streams whose close waited for a free worker are closed first, each
 * as a job of its own; false when one of those did not answer. */
static bool SC_ClosePending(void)
{
  CallTraceEnter("SC_ClosePending");
  bool done = true;
  for (int i = 0; i < SC_CLOSE_SLOTS && done; i++)
    if (SCCloseLater[i] != nullptr) {
      tSCJob job;
      SC_NewJob(&job, SCO_Fclose, SCCloseLater[i]);
      SCCloseLater[i] = nullptr;
      done = SC_Run(&job, false) == 0;
    }
  CallTraceExit(nullptr);
  return done;
}

/* Hands the job over and waits for it within the event's time. 0 done,
 * -1 with errno: ETIMEDOUT (the worker is still with a late call),
 * EINPROGRESS (this call is late; kept says whether its caller takes the
 * result later). */
static int SC_Run(tSCJob *job, bool keep)
{
  CallTraceEnter("SC_Run");
  int rc = 0;
  SCLastLate = false;
  if (!SC_Start()) {
    SC_Do(job);
  } else if (!SC_Collect(0)) {
    rc = -1;
    errno = ETIMEDOUT;
  } else if (!SC_ClosePending()) {
    rc = -1;
    errno = ETIMEDOUT;
  } else {
    char c = 'j';
    SCJob = *job;
    SCInFlight = true;
    SCKeep = keep;
    SCSince = TAP_GetTick();
    if (OS_Write(SCToWorker[1], &c, 1) != 1) { /* the worker is gone: made here */
      SCInFlight = false;
      SC_Do(&SCJob);
      *job = SCJob;
    } else if (SC_Collect(SC_ANSWER_MS)) {
      *job = SCJob;
      SCKeep = false; /* answered in time: nothing is taken later */
    } else {
      SCLate = SCLastLate = true;
      WriteLogF("FRX: the destination did not answer within %d ms", SC_ANSWER_MS);
      rc = -1;
      errno = EINPROGRESS;
    }
  }
  if (rc == 0) errno = job->Error;
  CallTraceExit(nullptr);
  return rc;
}

bool SC_WasLate(void)
{
  CallTraceEnter("SC_WasLate");
  bool late = SCLastLate;
  CallTraceExit(nullptr);
  return late;
}

int SC_TakeResult(long long *result)
{
  CallTraceEnter("SC_TakeResult");
  int state = -1;
  if (SCInFlight && SCKeep) {
    state = 1;
  } else if (SCKeep && SCJob.Op != SCO_None) {
    if (SCJob.Op == SCO_Fread && SCReadTo != nullptr && SCJob.Result > 0)
      memcpy(SCReadTo, SCBuffer, (size_t)SCJob.Result * SCJob.Size);
    *result = SCJob.Result;
    errno = SCJob.Error;
    SCJob.Op = SCO_None;
    SCKeep = false;
    state = 0;
  }
  if (state == 1 && SC_Collect(0)) state = SC_TakeResult(result);
  CallTraceExit(nullptr);
  return state;
}

void SC_DropResult(void)
{
  CallTraceEnter("SC_DropResult");
  if (SCKeep && !SCInFlight) SC_DropLate();
  SCKeep = false;
  CallTraceExit(nullptr);
}

int SC_State(void)
{
  CallTraceEnter("SC_State");
  int state = SC_Idle;
  if (SCInFlight && !SC_Collect(0)) state = TAP_GetTick() - SCSince > SC_GIVE_UP_TICKS ? SC_Silent : SC_Waiting;
  CallTraceExit(nullptr);
  return state;
}

dword SC_WaitedTicks(void)
{
  CallTraceEnter("SC_WaitedTicks");
  dword ticks = SCInFlight ? TAP_GetTick() - SCSince : 0;
  CallTraceExit(nullptr);
  return ticks;
}

static bool SC_Buffer(size_t bytes)
{
  CallTraceEnter("SC_Buffer");
  if (bytes > SCBufferSize) {
    if (SCBuffer != nullptr) TAP_MemFree(SCBuffer);
    SCBuffer = (byte *)TAP_MemAlloc((dword)bytes);
    SCBufferSize = SCBuffer != nullptr ? bytes : 0;
  }
  bool ok = SCBuffer != nullptr;
  CallTraceExit(nullptr);
  return ok;
}

static bool SC_Path(char *to, const char *path)
{
  CallTraceEnter("SC_Path");
  bool ok = path != nullptr && strlen(path) < sizeof SCJob.Path;
  if (ok) strcpy(to, path);
  CallTraceExit(nullptr);
  return ok;
}

/* ---- the calls ---- */

/* A job for op on the stream f (null for a call on paths). */
static void SC_NewJob(tSCJob *job, tSCOp op, FILE *f)
{
  CallTraceEnter("SC_NewJob");
  memset(job, 0, sizeof *job);
  job->Op = op;
  job->File = f;
  CallTraceExit(nullptr);
}

static int SC_PathCall(tSCOp op, const char *path, const char *path2, struct stat64 *st)
{
  CallTraceEnter("SC_PathCall");
  tSCJob job;
  SC_NewJob(&job, op, nullptr);
  job.Flag = 0777;
  int rc = -1;
  if (!SC_Path(job.Path, path) || (path2 != nullptr && !SC_Path(job.Path2, path2))) {
    errno = ENAMETOOLONG;
  } else if (SC_Run(&job, false) == 0) {
    rc = (int)job.Result;
    if (st != nullptr) *st = job.St;
  }
  CallTraceExit(nullptr);
  return rc;
}

int SC_Lstat64(const char *path, struct stat64 *st)
{
  CallTraceEnter("SC_Lstat64");
  int rc = SC_PathCall(SCO_Lstat, path, nullptr, st);
  CallTraceExit(nullptr);
  return rc;
}

int SC_Stat64(const char *path, struct stat64 *st)
{
  CallTraceEnter("SC_Stat64");
  int rc = SC_PathCall(SCO_Stat, path, nullptr, st);
  CallTraceExit(nullptr);
  return rc;
}

int SC_Mkdir(const char *path)
{
  CallTraceEnter("SC_Mkdir");
  int rc = SC_PathCall(SCO_Mkdir, path, nullptr, nullptr);
  CallTraceExit(nullptr);
  return rc;
}

int SC_Link(const char *existing, const char *link)
{
  CallTraceEnter("SC_Link");
  int rc = SC_PathCall(SCO_Link, existing, link, nullptr);
  CallTraceExit(nullptr);
  return rc;
}

int SC_Unlink(const char *path)
{
  CallTraceEnter("SC_Unlink");
  int rc = SC_PathCall(SCO_Unlink, path, nullptr, nullptr);
  CallTraceExit(nullptr);
  return rc;
}

int SC_SyncDir(const char *path)
{
  CallTraceEnter("SC_SyncDir");
  int rc = SC_PathCall(SCO_SyncDir, path, nullptr, nullptr);
  CallTraceExit(nullptr);
  return rc;
}

int SC_Utime(const char *path, const struct utimbuf *times)
{
  CallTraceEnter("SC_Utime");
  tSCJob job;
  SC_NewJob(&job, SCO_Utime, nullptr);
  job.Times = *times;
  int rc = -1;
  if (!SC_Path(job.Path, path)) errno = ENAMETOOLONG;
  else if (SC_Run(&job, false) == 0) rc = (int)job.Result;
  CallTraceExit(nullptr);
  return rc;
}

bool SC_IsMounted(const char *path)
{
  CallTraceEnter("SC_IsMounted");
  struct stat64 st;
  bool mounted = path != nullptr && SC_Lstat64(path, &st) == 0 && st.st_dev != TAP_INTERNAL_DISK_DEV;
  CallTraceExit(nullptr);
  return mounted;
}

FILE *SC_Fopen64(const char *path, const char *mode)
{
  CallTraceEnter("SC_Fopen64");
  tSCJob job;
  SC_NewJob(&job, SCO_Fopen, nullptr);
  FILE *f = nullptr;
  if (!SC_Path(job.Path, path) || strlen(mode) >= sizeof job.Mode) {
    errno = ENAMETOOLONG;
  } else {
    strcpy(job.Mode, mode);
    if (SC_Run(&job, false) == 0) f = (FILE *)(size_t)job.Result;
  }
  CallTraceExit(nullptr);
  return f;
}

/* A stream closed while the worker is still with a late call is closed
 * once it is free: the late call may be on this very stream. */
int SC_Fclose(FILE *f)
{
  CallTraceEnter("SC_Fclose");
  tSCJob job;
  SC_NewJob(&job, SCO_Fclose, f);
  int rc = EOF;
  if (SCInFlight && !SC_Collect(0)) {
    int i = 0;
    while (i < SC_CLOSE_SLOTS && SCCloseLater[i] != nullptr) i++;
    if (i < SC_CLOSE_SLOTS) SCCloseLater[i] = f;
    errno = ETIMEDOUT;
  } else if (SC_Run(&job, false) == 0) {
    rc = (int)job.Result;
  }
  CallTraceExit(nullptr);
  return rc;
}

static long long SC_StreamCall(tSCJob *job, bool keep, long long failed)
{
  CallTraceEnter("SC_StreamCall");
  long long rc = SC_Run(job, keep) == 0 ? job->Result : failed;
  CallTraceExit(nullptr);
  return rc;
}

size_t SC_Fread(void *buf, size_t size, size_t count, FILE *f, bool keep)
{
  CallTraceEnter("SC_Fread");
  tSCJob job;
  SC_NewJob(&job, SCO_Fread, f);
  job.Size = size;
  job.Count = count;
  size_t got = 0;
  if (SCInFlight && !SC_Collect(0)) {
    errno = ETIMEDOUT;
  } else if (!SC_Buffer(size * count)) {
    errno = ENOMEM;
  } else {
    SCReadTo = buf;
    got = (size_t)SC_StreamCall(&job, keep, 0);
    if (got > 0) memcpy(buf, SCBuffer, got * size);
  }
  CallTraceExit(nullptr);
  return got;
}

size_t SC_Fwrite(const void *buf, size_t size, size_t count, FILE *f, bool keep)
{
  CallTraceEnter("SC_Fwrite");
  tSCJob job;
  SC_NewJob(&job, SCO_Fwrite, f);
  job.Size = size;
  job.Count = count;
  size_t put = 0;
  if (SCInFlight && !SC_Collect(0)) {
    errno = ETIMEDOUT;
  } else if (!SC_Buffer(size * count)) {
    errno = ENOMEM;
  } else {
    memcpy(SCBuffer, buf, size * count);
    put = (size_t)SC_StreamCall(&job, keep, 0);
  }
  CallTraceExit(nullptr);
  return put;
}

int SC_Fseeko64(FILE *f, off64_t offset, int whence)
{
  CallTraceEnter("SC_Fseeko64");
  tSCJob job;
  SC_NewJob(&job, SCO_Fseek, f);
  job.A = (long long)offset;
  job.Flag = whence;
  int rc = (int)SC_StreamCall(&job, false, -1);
  CallTraceExit(nullptr);
  return rc;
}

int SC_Fflush(FILE *f)
{
  CallTraceEnter("SC_Fflush");
  tSCJob job;
  SC_NewJob(&job, SCO_Fflush, f);
  int rc = (int)SC_StreamCall(&job, false, EOF);
  CallTraceExit(nullptr);
  return rc;
}

int SC_Fsync(FILE *f)
{
  CallTraceEnter("SC_Fsync");
  tSCJob job;
  SC_NewJob(&job, SCO_Fsync, f);
  int rc = (int)SC_StreamCall(&job, false, -1);
  CallTraceExit(nullptr);
  return rc;
}

int SC_SyncStart(FILE *f, bool keep)
{
  CallTraceEnter("SC_SyncStart");
  tSCJob job;
  SC_NewJob(&job, SCO_SyncStart, f);
  int rc = (int)SC_StreamCall(&job, keep, -1);
  CallTraceExit(nullptr);
  return rc;
}

int SC_SyncPoll(FILE *f, bool keep)
{
  CallTraceEnter("SC_SyncPoll");
  tSCJob job;
  SC_NewJob(&job, SCO_SyncPoll, f);
  int rc = (int)SC_StreamCall(&job, keep, -1);
  CallTraceExit(nullptr);
  return rc;
}

int SC_WriteBack(FILE *f, off64_t offset, off64_t length, int wait, bool keep)
{
  CallTraceEnter("SC_WriteBack");
  tSCJob job;
  SC_NewJob(&job, SCO_WriteBack, f);
  job.A = (long long)offset;
  job.B = (long long)length;
  job.Flag = wait;
  int rc = (int)SC_StreamCall(&job, keep, -1);
  CallTraceExit(nullptr);
  return rc;
}

ssize_t SC_CopyRange(FILE *in, off64_t inOffset, FILE *out, off64_t outOffset, size_t length)
{
  CallTraceEnter("SC_CopyRange");
  tSCJob job;
  SC_NewJob(&job, SCO_CopyRange, in);
  job.File2 = out;
  job.A = (long long)inOffset;
  job.B = (long long)outOffset;
  job.Size = length;
  ssize_t rc = (ssize_t)SC_StreamCall(&job, false, -1);
  CallTraceExit(nullptr);
  return rc;
}

/* ---- the end ---- */

/* The worker ends with the plug-in. One still in a call that has not come
 * back cannot be ended: the plug-in's code is pinned in memory for it, so
 * that it returns into code that is still there, and it ends by itself
 * then. False while such a worker holds the plug-in. */
bool SC_End(bool mustEnd)
{
  CallTraceEnter("SC_End");
  bool ended = true;
  if (SCStarted && !SC_Collect(0) && !mustEnd) {
    ended = false;
  } else if (SCStarted && SCInFlight) {
    /* left behind: its generation is over, its buffer and pipes stay its */
    OS_PinModule((const void *)SC_WorkerMain);
    WriteLog("FRX: a call on the destination has not come back; the plug-in's code stays loaded for it");
    SCGeneration = SCGeneration + 1;
    SCStarted = SCInFlight = SCKeep = SCLate = false;
    SCBuffer = nullptr;
    SCBufferSize = 0;
    for (int i = 0; i < SC_CLOSE_SLOTS; i++) SCCloseLater[i] = nullptr;
  } else if (SCStarted && !SC_ClosePending() && !mustEnd) {
    ended = false; /* a close it still had to make did not answer */
  } else if (SCStarted && SCInFlight) {
    ended = SC_End(true);
  } else if (SCStarted) {
    char c = 'q';
    OS_Write(SCToWorker[1], &c, 1);
    OS_ThreadJoin(SCThread);
    OS_Close(SCToWorker[0]);
    OS_Close(SCToWorker[1]);
    OS_Close(SCFromWorker[0]);
    OS_Close(SCFromWorker[1]);
    SCStarted = false;
  }
  if (ended && !SCStarted && SCBuffer != nullptr) {
    TAP_MemFree(SCBuffer);
    SCBuffer = nullptr;
    SCBufferSize = 0;
  }
  if (ended) SCNoWorker = false;
  CallTraceExit(nullptr);
  return ended;
}
