/* LogTrace.cpp -- log lines, the toolkit log, the terminal and the call trace.
 *
 * Log files are appended through the OS facade with the receiver's time; the
 * terminal is the first pseudo-terminal that opens. Path forms come from
 * PathTypes, Latin-1 copies from TextEncoding. Owns: CallTraceStack,
 * CallLevel, the CallTrace flags, CallTraceStats and its count, the console
 * buffer puffer.
 */
#include "LogTrace.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "FirmwareBinding.h"
#include "PathTypes.h"
#include "TextEncoding.h"
#include "os_facade.h"
#include "tap_header.h"

#define TKLIB_FOLDER TAPFS_ROOT SETTINGS_DIR
#define CONSOLE_PIECE 510 /* console writes of long texts, in bytes */
#define TERMINALS 20      /* "/dev/pts/0" to "/dev/pts/19" */
#define TRACE_INDENT_MAX 100
#define STAMP_BUFFER (TIMEFORMAT_SIZE + 2)

CallTraceStackEntry CallTraceStack[CALLTRACE_DEPTH];
dword CallLevel = 0;
bool CallTraceEnabled = false;
bool CallTraceInitialized = false;
bool CallTraceDoNotReenter = false;
CallTraceStat *CallTraceStats = nullptr;
dword CallTraceStatsEntries = 0;

char puffer[CONSOLE_BUFFER];

/* ---- terminal ---- */

void PrintNet(const char *text)
{
  if (text == nullptr) return;

  char name[32];
  for (int pts = 0; pts < TERMINALS; pts++) {
    snprintf(name, sizeof(name), "/dev/pts/%d", pts);
    int fd = OS_Open(name, O_RDWR);
    if (fd < 0) continue;
    /* the terminating zero goes out too, as it always has */
    OS_Write(fd, text, strlen(text) + 1);
    OS_Close(fd);
    return;
  }
}

/* Writes a text to the terminal in pieces of CONSOLE_PIECE bytes. */
static void PrintNetPieces(const char *text)
{
  size_t len = strlen(text);
  if (len < CONSOLE_PIECE) {
    PrintNet(text);
    return;
  }
  for (size_t done = 0; done < len; done += CONSOLE_PIECE) {
    size_t piece = len - done < CONSOLE_PIECE ? len - done : CONSOLE_PIECE;
    memcpy(puffer, text + done, piece);
    puffer[piece] = '\0';
    PrintNet(puffer);
  }
}

/* ---- log files ---- */

/* The stamp of the receiver's current time in the given format, followed by
 * a blank unless the format gives no stamp at all. */
static void MakeStamp(int format, char *stamp)
{
  byte sec = 0;
  dword now = Now(&sec);

  TimeFormat(now, sec, format, stamp);
  if (stamp[0] != '\0') strcat(stamp, " ");
}

/* Writes one line to an open log and gives the file the receiver's time. */
static void WriteLogLine(FILE *f, const char *path, const char *stamp, const char *text)
{
  OS_Fwrite(stamp, 1, strlen(stamp), f);
  if (text[0] != '\0') OS_Fwrite(text, 1, strlen(text), f);
  OS_Fwrite("\r\n", 1, 2, f);
  OS_Fclose(f);

  struct utimbuf times;
  times.actime = times.modtime = (time_t)PvrTimeToLinux(Now(nullptr));
  OS_Utime(path, &times);
}

/* The file gets the text as the caller wrote it; only the terminal copy is
 * made Latin-1, for the terminals the receiver is used with. */
void LogEntry(const char *fileName, const char *programName, bool console, int timeFormat, const char *text)
{
  if (text == nullptr) return;

  char stamp[STAMP_BUFFER];
  MakeStamp(timeFormat, stamp);

  /* Opened and closed per line, so that the log is complete on disk whenever
   * the receiver is switched off. A file that cannot be opened is skipped. */
  if (fileName != nullptr && fileName[0] != '\0') {
    char path[PATH_BUFFER];
    ConvertPathType(fileName, path, PathKindLinuxFile);
    FILE *f = path[0] ? OS_Fopen64(path, "a") : nullptr;
    if (f != nullptr) WriteLogLine(f, path, stamp, text);
  }

  if (!console) return;
  if (timeFormat != 0) PrintNet(stamp);
  if (programName != nullptr && programName[0] != '\0') {
    snprintf(puffer, sizeof(puffer), "%s: ", programName);
    PrintNet(puffer);
  }

  /* The terminal shows Latin-1; without memory for the copy the text goes
   * out as it is rather than not at all. */
  char *iso = nullptr;
  StrToISOAlloc(text, &iso);
  PrintNetPieces(iso ? iso : text);
  if (iso) TAP_MemFree(iso);
  PrintNet("\n");
}

void LogEntryTKLibPrintf(bool console, const char *format, ...)
{
  if (format == nullptr) return;

  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);

  /* The folder is made so that a user can drop an empty TKLib.log there to
   * switch the toolkit log on. */
  struct stat64 st;
  if (OS_Stat64(TKLIB_FOLDER, &st) != 0) OS_Mkdir(TKLIB_FOLDER, 0777);

  char stamp[STAMP_BUFFER];
  MakeStamp(5, stamp);

  /* "r+" never creates: the log is kept only where someone made the file */
  FILE *f = OS_Fopen64(TKLIB_LOG, "r+");
  if (f != nullptr) {
    OS_Fseeko64(f, 0, SEEK_END);
    WriteLogLine(f, TKLIB_LOG, stamp, text);
  }

  if (console) {
    snprintf(puffer, sizeof(puffer), "%s TKLIB - %s\n", stamp, text);
    PrintNet(puffer);
  }
}

/* ---- call trace ---- */

/* Also called implicitly by the first enter or exit; the listing starts
 * enabled, and the copy service switches it off right after. */
void CallTraceInit(void)
{
  CallTraceInitialized = true;
  CallTraceDoNotReenter = false;
  CallLevel = 0;
  CallTraceEnabled = true;
  CallTraceResetStats();
  memset(CallTraceStack, 0, sizeof(CallTraceStack));
}

void CallTraceEnable(bool enable)
{
  if (!CallTraceInitialized) CallTraceInit();
  CallTraceEnabled = enable;
}

void CallTraceResetStats(void)
{
  if (!CallTraceInitialized) CallTraceInit();

  if (CallTraceStats != nullptr) TAP_MemFree(CallTraceStats);
  CallTraceStatsEntries = 0;
  /* 100000 bytes on the receiver; without them no statistics are kept */
  dword size = CALLTRACE_STATS_MAX * sizeof(CallTraceStat);
  CallTraceStats = (CallTraceStat *)TAP_MemAlloc(size);
  if (CallTraceStats != nullptr) memset(CallTraceStats, 0, size);
}

void CallTraceRelease(void)
{
  if (CallTraceStats != nullptr) TAP_MemFree(CallTraceStats);
  CallTraceStats = nullptr;
  CallTraceStatsEntries = 0;
}

/* Lists an entered function on the terminal, indented by its level. */
static void CallTraceList(const char *procName)
{
  int indent = (int)(CallLevel < TRACE_INDENT_MAX / 2 ? CallLevel * 2 : TRACE_INDENT_MAX);
  char *iso = nullptr;

  StrToISOAlloc(procName, &iso);
  snprintf(puffer, sizeof(puffer), "%*s%s\n", indent, "", iso ? iso : procName);
  if (iso) TAP_MemFree(iso);
  PrintNet(puffer);
}

/* The re-entry flag keeps the trace out of itself: the overflow line and the
 * Latin-1 copy go through toolkit code that might be traced one day. Init
 * clears the flag, so it is set again after an implicit initialisation. */
void CallTraceEnter(const char *procName)
{
  if (CallTraceDoNotReenter) return;
  CallTraceDoNotReenter = true;
  if (!CallTraceInitialized) {
    CallTraceInit();
    CallTraceDoNotReenter = true;
  }

  if (CallLevel >= CALLTRACE_DEPTH) LogEntryTKLibPrintf(true, "CallLevel Overflow! (TAPID 0x%8.8x)", __tap_ud__);

  /* Past the 50 stack entries the level still counts, so that the matching
   * exits find their way back to 0, but nothing is stored. */
  if (procName != nullptr) {
    if (CallTraceEnabled) CallTraceList(procName);
    if (CallLevel < CALLTRACE_DEPTH) {
      CallTraceStack[CallLevel].ProcName = procName;
      CallTraceStack[CallLevel].EnterTick = TAP_GetTick();
    }
  }

  CallLevel++;
  CallTraceDoNotReenter = false;
}

/* The statistics record of a name: its own, else the next free one; null
 * when the table is full. */
static CallTraceStat *CallTraceFindStat(const char *procName)
{
  dword i = 0;
  while (i < CallTraceStatsEntries && CallTraceStats[i].ProcName != procName) i++;
  return i < CALLTRACE_STATS_MAX ? &CallTraceStats[i] : nullptr;
}

/* Durations are unsigned tick differences, so a wrap of the tick counter
 * between enter and exit still gives the right duration. */
static void CallTraceRecord(const CallTraceStackEntry *entry, dword now)
{
  CallTraceStat *stat = CallTraceFindStat(entry->ProcName);
  if (stat == nullptr) return;

  dword duration = now - entry->EnterTick;
  if (stat->NrOfCalls == 0) {
    stat->ProcName = entry->ProcName;
    stat->MinTime = stat->MaxTime = stat->TotalTime = duration;
    stat->NrOfCalls = 1;
    CallTraceStatsEntries++;
    return;
  }
  if (duration < stat->MinTime) stat->MinTime = duration;
  if (duration > stat->MaxTime) stat->MaxTime = duration;
  /* a saturated count stays, the time still adds up */
  if (stat->NrOfCalls != 0xFFFFFFFFu) stat->NrOfCalls++;
  stat->TotalTime += duration;
}

void CallTraceExit(dword *unused)
{
  if (CallTraceDoNotReenter) return;
  CallTraceDoNotReenter = true;
  /* read first, so that the trace's own work is not charged to the caller */
  dword now = TAP_GetTick();
  if (!CallTraceInitialized) {
    CallTraceInit();
    CallTraceDoNotReenter = true;
  }

  if (CallLevel == 0) {
    LogEntryTKLibPrintf(true, "CallLevel Underflow! (TAPID 0x%8.8x)", __tap_ud__);
  } else {
    CallLevel--;
    if (CallTraceStats != nullptr && CallLevel < CALLTRACE_DEPTH) CallTraceRecord(&CallTraceStack[CallLevel], now);
  }

  CallTraceDoNotReenter = false;
}
