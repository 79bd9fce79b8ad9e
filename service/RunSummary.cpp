/* RunSummary.cpp -- the one line that tells how a run went.
 *
 * The copy cycle reports every recording it finished with (copied, moved,
 * already complete at the destination, or failed with a reason in a word),
 * the bytes each transfer moved in this run and, where a run ends early, why.
 * EndRun writes the line before "Ferrox end", e.g.
 *   "Summary: 7 copied, 0 moved, 0 already complete, 1 failed (share not
 *    mounted), 0 skipped, 312.4 MB in 58 s".
 * At the end of a run that copied, moved or failed anything, the outcome is
 * also shown on the TV in a message window for RESULT_TICKS (unless
 * ShowResult is 0 or the setup's menu is on the screen); the plug-in stays
 * loaded meanwhile, and OK or Exit closes the window earlier.
 * Owns: the counters, the reasons, the tick of the plug-in's start, the
 * result window's end.
 */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "LogTrace.h"
#include "MessageWin.h"
#include "TapManagement.h"

#define REASON_SIZE 96   /* distinct failure reasons, ", "-separated */
#define RESULT_TICKS 800 /* the result window stays 8 s */
#define RESULT_LINE_SIZE 160

dword RunStartTick = 0;
static int Outcomes[SO_Count];
static int Skipped = 0;
static qword BytesMoved = 0;
static char FailReasons[REASON_SIZE];
static char EndReason[48];
static dword ResultUntil = 0; /* tick the result window goes; 0: none shown */

void SummaryReset(void)
{
  CallTraceEnter("SummaryReset");
  memset(Outcomes, 0, sizeof Outcomes);
  Skipped = 0;
  BytesMoved = 0;
  FailReasons[0] = '\0';
  EndReason[0] = '\0';
  RunStartTick = TAP_GetTick();
  CallTraceExit(nullptr);
}

/* Adds reason to the list unless it is there already or does not fit. */
static void AddFailReason(const char *reason)
{
  CallTraceEnter("AddFailReason");
  size_t have = strlen(FailReasons), len = strlen(reason);
  bool known = false;
  for (const char *p = strstr(FailReasons, reason); p != nullptr && !known; p = strstr(p + 1, reason))
    known = (p == FailReasons || p[-1] == ' ') && (p[len] == '\0' || p[len] == ',');
  if (!known && len > 0 && have + len + 3 <= sizeof FailReasons) {
    if (have != 0) strcat(FailReasons, ", ");
    strcat(FailReasons, reason);
  }
  CallTraceExit(nullptr);
}

void SummaryFile(int outcome, const char *reason)
{
  CallTraceEnter("SummaryFile");
  if (outcome >= 0 && outcome < SO_Count) Outcomes[outcome]++;
  if (outcome == SO_Failed && reason != nullptr) AddFailReason(reason);
  CallTraceExit(nullptr);
}

void SummarySkipped(int count)
{
  CallTraceEnter("SummarySkipped");
  if (count > 0) Skipped += count;
  CallTraceExit(nullptr);
}

void SummaryTransferBytes(void)
{
  CallTraceEnter("SummaryTransferBytes");
  qword copied = 0, from = FRX_GetResumeOffset();
  FRX_GetStats(nullptr, &copied, nullptr, nullptr);
  if (copied > from) BytesMoved += copied - from;
  CallTraceExit(nullptr);
}

void SummaryEndReason(const char *reason)
{
  CallTraceEnter("SummaryEndReason");
  if (EndReason[0] == '\0') snprintf(EndReason, sizeof EndReason, "%s", reason);
  CallTraceExit(nullptr);
}

void WriteSummary(void)
{
  CallTraceEnter("WriteSummary");
  char failed[REASON_SIZE + 4] = "", skipped[sizeof EndReason + 4] = "";
  if (Outcomes[SO_Failed] > 0 && FailReasons[0] != '\0') snprintf(failed, sizeof failed, " (%s)", FailReasons);
  if (EndReason[0] != '\0') snprintf(skipped, sizeof skipped, " (%s)", EndReason);
  qword tenths = BytesMoved * 10 / (1024 * 1024);
  dword seconds = (TAP_GetTick() - RunStartTick) / 100;
  WriteLogF("Summary: %d copied, %d moved, %d already complete, %d failed%s, %d skipped%s, %llu.%llu MB in %u s",
            Outcomes[SO_Copied], Outcomes[SO_Moved], Outcomes[SO_Complete], Outcomes[SO_Failed], failed, Skipped,
            skipped, (unsigned long long)(tenths / 10), (unsigned long long)(tenths % 10), (unsigned)seconds);
  CallTraceExit(nullptr);
}

/* "7 recordings copied", "1 recording moved": the first count of a line
 * names what is counted, the next ones just add to it. */
static void AddCount(char *line, size_t size, int count, const char *what)
{
  CallTraceEnter("AddCount");
  size_t used = strlen(line);
  if (count > 0 && used < size) {
    if (used == 0) snprintf(line, size, "%d recording%s %s", count, count == 1 ? "" : "s", what);
    else snprintf(line + used, size - used, ", %d %s", count, what);
  }
  CallTraceExit(nullptr);
}

bool ResultLines(char *done, size_t doneSize, char *failed, size_t failedSize)
{
  CallTraceEnter("ResultLines");
  done[0] = '\0';
  failed[0] = '\0';
  /* a run that ended before any work for a reason of its own (the share
   * never came) says so too */
  bool early = EndReason[0] != '\0' && Skipped == 0;
  bool any = Outcomes[SO_Copied] + Outcomes[SO_Moved] + Outcomes[SO_Failed] > 0 || early;
  if (any) {
    AddCount(done, doneSize, Outcomes[SO_Copied], "copied");
    AddCount(done, doneSize, Outcomes[SO_Moved], "moved");
    AddCount(done, doneSize, Outcomes[SO_Complete], "already complete");
    if (Outcomes[SO_Failed] > 0)
      snprintf(failed, failedSize, "%d failed%s%s", Outcomes[SO_Failed], FailReasons[0] != '\0' ? ": " : "",
               FailReasons);
    if (Skipped > 0) {
      size_t used = strlen(failed);
      snprintf(failed + used, failedSize - used, "%s%d left for the next run%s%s", used != 0 ? ", " : "", Skipped,
               EndReason[0] != '\0' ? ": " : "", EndReason);
    }
    if (done[0] == '\0' && failed[0] == '\0') snprintf(done, doneSize, "Nothing copied: %s", EndReason);
  }
  CallTraceExit(nullptr);
  return any;
}

bool ShowRunResult(void)
{
  CallTraceEnter("ShowRunResult");
  char done[RESULT_LINE_SIZE], failed[RESULT_LINE_SIZE];
  bool shown = false;
  if (ShowResult != 0 && ResultLines(done, sizeof done, failed, sizeof failed)) {
    if (HDD_TAP_isRunning(FERROXSETUP_ID)) {
      WriteLog("Result not shown: the setup menu is on the screen");
    } else {
      const char *lines[4] = {"Ferrox", done[0] != '\0' ? done : failed, done[0] != '\0' ? failed : nullptr, nullptr};
      if (lines[2] != nullptr && lines[2][0] == '\0') lines[2] = nullptr;
      ShowMessageWindow(lines, TAP_SCREEN_W, TAP_SCREEN_H, 2, 1, MW_COLOURS, 0);
      ResultUntil = TAP_GetTick() + RESULT_TICKS;
      if (ResultUntil == 0) ResultUntil = 1;
      shown = true;
    }
  }
  CallTraceExit(nullptr);
  return shown;
}

bool ResultShowing(void)
{
  CallTraceEnter("ResultShowing");
  bool showing = ResultUntil != 0;
  CallTraceExit(nullptr);
  return showing;
}

bool ResultOver(word event, TapParam key)
{
  CallTraceEnter("ResultOver");
  bool over = ResultUntil != 0 && ((event == EVT_IDLE && (int32_t)(TAP_GetTick() - ResultUntil) >= 0) ||
                                   event == EVT_STOP || (event == EVT_KEY && (key == RKEY_Ok || key == RKEY_Exit)));
  if (over) {
    EndMessageWin();
    ResultUntil = 0;
  }
  CallTraceExit(nullptr);
  return over;
}
