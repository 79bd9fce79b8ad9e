/* FirmwareBinding.cpp -- firmware symbols by name, model data, receiver time.
 *
 * Symbols are looked up in the running program's global scope through the
 * OS facade's loader calls; each look-up keeps its address once found and
 * tries again after a failure. The wrappers degrade to 0 on a firmware that
 * lacks a function. The packed time helpers and the uptime reader live here.
 * Owns: the cached symbol addresses, the loaded "FirmwareModel.dat" block.
 */
#include "FirmwareBinding.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "PathTypes.h"
#include "os_facade.h"

#define FIRMWAREDAT_NAME "FirmwareModel.dat"
#define FIRMWAREDAT_MAXSIZE (16u * 1024u * 1024u) /* the real file is a few KiB */
#define UPTIME_LINE 4096

/* One cached look-up per symbol, in the order of FirmwareSymbolNames. */
enum {
  FIS_TimeToLinux,
  FIS_SaveWorkFolder,
  FIS_RestoreWorkFolder,
  FIS_SelectFolder,
  FIS_SetWorkFolder,
  FIS_ExecProgram,
  FIS_ConvertToValidUTF8Str,
  FIS_TAPTable,
  FIS_CurTapTask,
  FIS_hddRecordFile,
  FIS_HddTapFolder,
  FIS_OsdMap,
  FIS_Count
};

// clang-format off
static const char *const FirmwareSymbolNames[FIS_Count] = {
    "PvrTimeToLinux",
    "_Z22ApplHdd_SaveWorkFolderv",
    "_Z25ApplHdd_RestoreWorkFolderv",
    "_Z20ApplHdd_SelectFolderPvPKc",
    "_Z21ApplHdd_SetWorkFolderPv",
    "_Z16Appl_ExecProgramPc",
    "_Z26Appl_ConvertToValidUTF8StrPhi",
    "_tapTask",
    "_curTapTask",
    "_hddRecordFile",
    "_hddTapFolder",
    "_osdInfo",
};
// clang-format on

static void *FirmwareSymbols[FIS_Count];  /* cached addresses, null until found */
static byte *FirmwareDatBuffer = nullptr; /* whole "FirmwareModel.dat", TAP_MemAlloc'ed */
static dword FirmwareDatSize = 0;         /* bytes in FirmwareDatBuffer */
static bool FirmwareDatReadOK = false;    /* the one read delivered the whole file */

void *TryResolve(const char *symbolName)
{
  if (symbolName == nullptr || symbolName[0] == '\0') return nullptr;

  void *handle = OS_Dlopen(nullptr, RTLD_LAZY | RTLD_GLOBAL);
  if (handle == nullptr) return nullptr;

  /* A symbol may legitimately sit at address 0, so only the loader's own
   * error report tells a failed look-up apart; clear any stale one first. */
  OS_Dlerror();
  void *address = OS_Dlsym(handle, symbolName);
  if (OS_Dlerror() != nullptr) address = nullptr;
  OS_Dlclose(handle);
  return address;
}

/* A found address is kept for the plug-in's life; a miss is not cached, so
 * it costs another look-up next time rather than a wrong null for good. */
static void *CachedSymbol(int which)
{
  if (FirmwareSymbols[which] == nullptr) FirmwareSymbols[which] = TryResolve(FirmwareSymbolNames[which]);
  return FirmwareSymbols[which];
}

void FIS_ResetCache(void) { memset(FirmwareSymbols, 0, sizeof(FirmwareSymbols)); }

void *FIS_fwTimeToLinux(void) { return CachedSymbol(FIS_TimeToLinux); }
void *FIS_fwApplHdd_SaveWorkFolder(void) { return CachedSymbol(FIS_SaveWorkFolder); }
void *FIS_fwApplHdd_RestoreWorkFolder(void) { return CachedSymbol(FIS_RestoreWorkFolder); }
void *FIS_fwApplHdd_SelectFolder(void) { return CachedSymbol(FIS_SelectFolder); }
void *FIS_fwApplHdd_SetWorkFolder(void) { return CachedSymbol(FIS_SetWorkFolder); }
void *FIS_fwAppl_ExecProgram(void) { return CachedSymbol(FIS_ExecProgram); }
void *FIS_fwAppl_ConvertToValidUTF8Str(void) { return CachedSymbol(FIS_ConvertToValidUTF8Str); }
void *FIS_vTAPTable(void) { return CachedSymbol(FIS_TAPTable); }
void *FIS_vCurTapTask(void) { return CachedSymbol(FIS_CurTapTask); }
void *FIS_vhddRecordFile(void) { return CachedSymbol(FIS_hddRecordFile); }
void *FIS_vHddTapFolder(void) { return CachedSymbol(FIS_HddTapFolder); }
void *FIS_vOsdMap(void) { return CachedSymbol(FIS_OsdMap); }

/* ---- wrappers: the firmware function, or 0 when this firmware lacks it ---- */

typedef dword (*FwVoidFn)(void);
typedef dword (*FwSelectFolderFn)(void *folderRecord, const char *path);
typedef dword (*FwRecordFn)(void *folderRecord);
typedef dword (*FwExecProgramFn)(char *fileName);
typedef dword (*FwTimeToLinuxFn)(dword packedTime);

dword ApplHdd_SaveWorkFolder(void)
{
  FwVoidFn fn = (FwVoidFn)FIS_fwApplHdd_SaveWorkFolder();
  return fn ? fn() : 0;
}

dword ApplHdd_RestoreWorkFolder(void)
{
  FwVoidFn fn = (FwVoidFn)FIS_fwApplHdd_RestoreWorkFolder();
  return fn ? fn() : 0;
}

dword ApplHdd_SelectFolder(void *folderRecord, const char *path)
{
  FwSelectFolderFn fn = (FwSelectFolderFn)FIS_fwApplHdd_SelectFolder();
  return fn ? fn(folderRecord, path) : 0;
}

dword ApplHdd_SetWorkFolder(void *folderRecord)
{
  FwRecordFn fn = (FwRecordFn)FIS_fwApplHdd_SetWorkFolder();
  return fn ? fn(folderRecord) : 0;
}

dword Appl_ExecProgram(char *fileName)
{
  FwExecProgramFn fn = (FwExecProgramFn)FIS_fwAppl_ExecProgram();
  return fn ? fn(fileName) : 0;
}

dword PvrTimeToLinux(dword packedTime)
{
  /* 0xFE00 is what callers have always received on firmware without the
   * conversion; keep it so file times stay recognisable as "unknown". */
  FwTimeToLinuxFn fn = (FwTimeToLinuxFn)FIS_fwTimeToLinux();
  return fn ? fn(packedTime) : 0xFE00;
}

/* The receiver model is named by the low 16 bits of the system id alone. */
word GetSysID(void) { return (word)(TAP_GetSystemId() & 0xFFFF); }

/* ---- receiver-model data ---- */

void ReleaseFirmwareDat(void)
{
  if (FirmwareDatBuffer != nullptr) TAP_MemFree(FirmwareDatBuffer);
  FirmwareDatBuffer = nullptr;
  FirmwareDatSize = 0;
  FirmwareDatReadOK = false;
}

/* The data file's operating-system path: the Settings copy wins over the one
 * in ProgramFiles. False when neither exists. */
static bool FindFirmwareDat(char *path, size_t size)
{
  struct stat64 st;

  snprintf(path, size, "%s/ProgramFiles/Settings/%s", TAPFS_ROOT, FIRMWAREDAT_NAME);
  if (OS_Lstat64(path, &st) == 0) return true;
  snprintf(path, size, "%s/ProgramFiles/%s", TAPFS_ROOT, FIRMWAREDAT_NAME);
  return OS_Lstat64(path, &st) == 0;
}

/* Reads the whole file into one block. A read that comes up short is kept
 * but marked, so that the validity check releases it. */
static bool ReadFirmwareDat(void)
{
  char path[PATH_BUFFER];
  if (!FindFirmwareDat(path, sizeof(path))) return false;

  FILE *f = OS_Fopen64(path, "rb");
  if (f == nullptr) return false;

  /* The size comes from the open stream: the status query above does not
   * follow links and would give a link's own size. */
  off64_t size = -1;
  if (OS_Fseeko64(f, 0, SEEK_END) == 0) size = OS_Ftello64(f);
  if (size <= 0 || size > (off64_t)FIRMWAREDAT_MAXSIZE || OS_Fseeko64(f, 0, SEEK_SET) != 0) {
    OS_Fclose(f);
    return false;
  }

  FirmwareDatBuffer = (byte *)TAP_MemAlloc((dword)size);
  if (FirmwareDatBuffer == nullptr) {
    OS_Fclose(f);
    return false;
  }
  FirmwareDatSize = (dword)size;
  FirmwareDatReadOK = OS_Fread(FirmwareDatBuffer, FirmwareDatSize, 1, f) == 1;
  OS_Fclose(f);
  return true;
}

/* A loaded block is valid when it was read whole, carries the magic and the
 * zero word, and really holds the model records its header announces. */
static bool FirmwareDatValid(void)
{
  if (!FirmwareDatReadOK || FirmwareDatSize < sizeof(FirmwareDatHeader)) return false;

  const FirmwareDatHeader *header = (const FirmwareDatHeader *)FirmwareDatBuffer;
  if (header->Magic != FIRMWAREDAT_MAGIC || header->Zero != 0) return false;

  dword room = (FirmwareDatSize - sizeof(FirmwareDatHeader)) / sizeof(FirmwareDatModel);
  return header->NrOfModels <= room;
}

bool LoadFirmwareDat(FirmwareDatHeader **header, FirmwareDatModel **models, byte **rest)
{
  if (header) *header = nullptr;
  if (models) *models = nullptr;
  if (rest) *rest = nullptr;

  if (FirmwareDatBuffer == nullptr && !ReadFirmwareDat()) return false;

  /* Checked on every call; an invalid file is dropped and read again next
   * time, so a corrected file is picked up without a restart. */
  if (!FirmwareDatValid()) {
    ReleaseFirmwareDat();
    return false;
  }

  FirmwareDatHeader *h = (FirmwareDatHeader *)FirmwareDatBuffer;
  FirmwareDatModel *m = (FirmwareDatModel *)(FirmwareDatBuffer + sizeof(FirmwareDatHeader));
  if (header) *header = h;
  if (models) *models = m;
  if (rest) *rest = (byte *)(m + h->NrOfModels);
  return true;
}

/* ---- packed receiver time ---- */

/* Seconds stay outside the packed word so that packed times compare as
 * plain numbers and fit the firmware's own 32-bit time stamps. */
dword Now(byte *sec)
{
  word mjd = 0;
  byte hour = 0, min = 0, s = 0;

  TAP_GetTime(&mjd, &hour, &min, &s);
  if (sec) *sec = s;
  return ((dword)mjd << 16) | ((dword)hour << 8) | min;
}

/* Field by field with borrows, so that no calendar is needed: a packed time
 * already counts whole days in its MJD. */
int TimeDiff(dword from, dword to)
{
  dword later = from > to ? from : to;
  dword earlier = from > to ? to : from;

  int minutes = (int)(later & 0xFF) - (int)(earlier & 0xFF);
  int hours = (int)((later >> 8) & 0xFF) - (int)((earlier >> 8) & 0xFF);
  int days = (int)(later >> 16) - (int)(earlier >> 16);

  if (minutes < 0) {
    minutes += 60;
    hours--;
  }
  if (hours < 0) {
    hours += 24;
    days--;
  }

  int diff = days * 1440 + hours * 60 + minutes;
  return to < from ? -diff : diff;
}

char *TimeFormat(dword packedTime, byte sec, int format, char *dest)
{
  if (dest == nullptr) return nullptr;

  word year = 0;
  byte month = 0, day = 0, weekDay = 0;
  int hour = (packedTime >> 8) & 0xFF, min = packedTime & 0xFF;

  if (packedTime >= 0x10000) TAP_ExtractMjd((word)(packedTime >> 16), &year, &month, &day, &weekDay);

  /* Valid times fill at most 19 characters; a garbled packed time (hour
   * 255, say) is cut there rather than running past the caller's buffer. */
  char text[32];
  switch (format) {
    case 1: snprintf(text, sizeof(text), "%02d:%02d", hour, min); break;
    case 2: snprintf(text, sizeof(text), "%02d:%02d:%02d", hour, min, sec); break;
    case 3: snprintf(text, sizeof(text), "%02d-%02d-%02d", year, month, day); break;
    case 4: snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d", year, month, day, hour, min); break;
    case 5: snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, min, sec); break;
    case 6: snprintf(text, sizeof(text), "%04d%02d%02d_%02d%02d", year, month, day, hour, min); break;
    default: text[0] = '\0'; break;
  }
  size_t len = strnlen(text, TIMEFORMAT_SIZE - 1);
  memcpy(dest, text, len);
  dest[len] = '\0';
  return dest;
}

/* ---- uptime ---- */

dword GetUptime(void)
{
  char line[UPTIME_LINE];
  FILE *f = OS_Fopen64("/proc/uptime", "r");
  if (f == nullptr) return 0;

  char *got = OS_Fgets(line, sizeof(line), f);
  OS_Fclose(f);
  if (got == nullptr) return 0;

  /* "SECONDS.HH IDLE": whole seconds and hundredths, read as integers (the
   * kernel's decimal point is no locale's, and no floating point is needed:
   * a receiver CPU without an FPU would emulate it). */
  const char *p = line;
  while (*p == ' ' || *p == '\t') p++;
  qword ticks = 0;
  const char *digits = p;
  for (; *p >= '0' && *p <= '9'; p++) {
    /* beyond 64 bits of ticks the uptime is not a receiver's */
    if (ticks > (0xFFFFFFFFFFFFFFFFull - 9) / 1000) return 0;
    ticks = ticks * 10 + (qword)(*p - '0');
  }
  if (p == digits) return 0;
  ticks *= 100;
  if (*p == '.') {
    p++;
    if (*p >= '0' && *p <= '9') ticks += (qword)(*p++ - '0') * 10;
    if (*p >= '0' && *p <= '9') ticks += (qword)(*p - '0');
  }
  if (ticks == 0) return 0;
  /* anything beyond 32 bits wraps as the 10-ms counter itself would */
  return (dword)ticks;
}
