/* ServiceLog.cpp -- the copy service's log: "Ferrox.log" and the console.
 *
 * Every report of the service ends up in WriteLog: one time-stamped line in
 * ISO 8859-1 with CR LF, appended to "/ProgramFiles/Settings/Ferrox/Ferrox.log"
 * and echoed to the console by the toolkit's LogEntry. Deciding which lines
 * belong to the long log is left to the callers (they test LogLength).
 * Owns: LogString, the converted text AnsiText, the first-call flag.
 */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "TextEncoding.h"

#define ANSI_TEXT_SIZE 1024 /* converted text, terminator included */
#define LOG_TIME_FORMAT 5   /* "%04d-%02d-%02d %02d:%02d:%02d" */

char LogString[512];
bool WriteLogFirstCall = true;
static char AnsiText[ANSI_TEXT_SIZE];

/* The folders every later module relies on: the settings folder of the
 * service and its job folder. Existing folders stay as they are. */
static void CreateLogFolders(void)
{
  CallTraceEnter("CreateLogFolders");
  HDD_ChangeDir(PROGRAM_FILES_DIR);
  TAP_Hdd_Create("Settings", ATTR_FOLDER);
  HDD_ChangeDir("Settings");
  TAP_Hdd_Create(PROGRAM_NAME, ATTR_FOLDER);
  HDD_ChangeDir(PROGRAM_NAME);
  TAP_Hdd_Create(JOB_FOLDER, ATTR_FOLDER);
  CallTraceExit(nullptr);
}

void WriteLog(const char *text)
{
  CallTraceEnter("WriteLog");
  if (text == nullptr) {
    CallTraceExit(nullptr);
    return;
  }

  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (WriteLogFirstCall) {
    CreateLogFolders();
    WriteLogFirstCall = false;
  }
  HDD_ChangeDir(SETTINGS_FOLDER);
  LogEntry(LOG_FILE, PROGRAM_NAME, true, LOG_TIME_FORMAT, UTFtoANSI((char *)text));
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
}

void WriteLogF(const char *format, ...)
{
  CallTraceEnter("WriteLogF");
  if (format == nullptr) {
    CallTraceExit(nullptr);
    return;
  }

  /* A line longer than LogString is cut there rather than overflowing it. */
  va_list args;
  va_start(args, format);
  vsnprintf(LogString, sizeof(LogString), format, args);
  va_end(args);
  WriteLog(LogString);
  CallTraceExit(nullptr);
}

char *UTFtoANSI(char *text)
{
  CallTraceEnter("UTFtoANSI");
  if (text == nullptr) {
    CallTraceExit(nullptr);
    return nullptr;
  }

  /* Only the first 1023 bytes are converted, so the result always fits
   * AnsiText. They are taken from a copy: the caller's text may be a
   * constant, and it must come back unchanged in any case. */
  char head[ANSI_TEXT_SIZE];
  size_t len = strnlen(text, ANSI_TEXT_SIZE - 1);
  memcpy(head, text, len);
  head[len] = '\0';

  StrToISO(head, AnsiText);
  AnsiText[ANSI_TEXT_SIZE - 1] = '\0';
  CallTraceExit(nullptr);
  return AnsiText;
}
