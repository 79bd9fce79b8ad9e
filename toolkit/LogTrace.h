/* LogTrace.h -- log files, the toolkit log, the console and the call trace.
 *
 * LogEntry appends stamped lines to a log file and echoes them to the first
 * open pseudo-terminal; LogEntryTKLibPrintf writes the toolkit's warnings to
 * TKLib.log (only when it exists) and the terminal; the call trace keeps the
 * entered functions with timing statistics per function.
 * Owns: the call-trace stack and statistics, the 1024-byte console buffer.
 */
#ifndef FERROX_TOOLKIT_LOGTRACE_H
#define FERROX_TOOLKIT_LOGTRACE_H

#include "receiver_paths.h"
#include "tap_api.h"

#define TKLIB_LOG TAPFS_ROOT SETTINGS_DIR "/" TKLIB_LOG_NAME
#define CALLTRACE_DEPTH 50
#define CALLTRACE_STATS_MAX 5000

typedef struct CallTraceStackEntry {
  const char *ProcName; /* the entered function's name */
  dword EnterTick;      /* tick at entry */
} CallTraceStackEntry;

typedef struct CallTraceStat {
  const char *ProcName; /* key, compared as a pointer */
  dword MinTime;        /* shortest duration, ticks */
  dword MaxTime;        /* longest duration, ticks */
  dword NrOfCalls;      /* number of calls */
  dword TotalTime;      /* sum of all durations, ticks */
} CallTraceStat;

extern CallTraceStackEntry CallTraceStack[CALLTRACE_DEPTH];
extern dword CallLevel;
extern bool CallTraceEnabled;
extern bool CallTraceInitialized;
extern bool CallTraceDoNotReenter;
extern CallTraceStat *CallTraceStats;
extern dword CallTraceStatsEntries;

/* the console buffer all terminal output of the toolkit is formatted in */
#define CONSOLE_BUFFER 1024
extern char puffer[CONSOLE_BUFFER];

void LogEntry(const char *fileName, const char *programName, bool console, int timeFormat, const char *text);
void LogEntryTKLibPrintf(bool console, const char *format, ...) __attribute__((format(printf, 2, 3)));
void PrintNet(const char *text);

void CallTraceInit(void);
void CallTraceEnable(bool enable);
/* Frees the statistics block; a plug-in calls it on its way out, so that
 * nothing of its heap is left for the firmware to reclaim. The trace goes on
 * without statistics. */
void CallTraceRelease(void);
void CallTraceResetStats(void);
void CallTraceEnter(const char *procName);
void CallTraceExit(dword *unused);

#endif
