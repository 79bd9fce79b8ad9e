/* RunSummary.cpp -- the one line that tells how a run went.
 *
 * The copy cycle reports every recording it finished with (copied, moved,
 * already complete at the destination, or failed with a reason in a word),
 * the bytes each transfer moved in this run and, where a run ends early, why.
 * EndRun writes the line before "Ferrox end", e.g.
 *   "Summary: 7 copied, 0 moved, 0 already complete, 1 failed (share not
 *    mounted), 0 skipped, 312.4 MB in 58 s".
 * Owns: the counters, the reasons, the tick of the plug-in's start.
 */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "LogTrace.h"

#define REASON_SIZE 96 /* distinct failure reasons, ", "-separated */

dword RunStartTick = 0;
static int Outcomes[SO_Count];
static int Skipped = 0;
static qword BytesMoved = 0;
static char FailReasons[REASON_SIZE];
static char EndReason[48];

void SummaryReset(void)
{
  CallTraceEnter("SummaryReset");
  memset(Outcomes, 0, sizeof Outcomes);
  Skipped = 0;
  BytesMoved = 0;
  FailReasons[0] = '\0';
  EndReason[0] = '\0';
  RunStartTick = TAP_GetTick();
  CallTraceExit(NULL);
}

/* Adds reason to the list unless it is there already or does not fit. */
static void AddFailReason(const char *reason)
{
  CallTraceEnter("AddFailReason");
  size_t have = strlen(FailReasons), len = strlen(reason);
  bool known = false;
  for (const char *p = strstr(FailReasons, reason); p != NULL && !known; p = strstr(p + 1, reason))
    known = (p == FailReasons || p[-1] == ' ') && (p[len] == '\0' || p[len] == ',');
  if (!known && len > 0 && have + len + 3 <= sizeof FailReasons) {
    if (have != 0) strcat(FailReasons, ", ");
    strcat(FailReasons, reason);
  }
  CallTraceExit(NULL);
}

void SummaryFile(int outcome, const char *reason)
{
  CallTraceEnter("SummaryFile");
  if (outcome >= 0 && outcome < SO_Count) Outcomes[outcome]++;
  if (outcome == SO_Failed && reason != NULL) AddFailReason(reason);
  CallTraceExit(NULL);
}

void SummarySkipped(int count)
{
  CallTraceEnter("SummarySkipped");
  if (count > 0) Skipped += count;
  CallTraceExit(NULL);
}

void SummaryTransferBytes(void)
{
  CallTraceEnter("SummaryTransferBytes");
  qword copied = 0, from = FRX_GetResumeOffset();
  FRX_GetStats(NULL, &copied, NULL, NULL);
  if (copied > from) BytesMoved += copied - from;
  CallTraceExit(NULL);
}

void SummaryEndReason(const char *reason)
{
  CallTraceEnter("SummaryEndReason");
  if (EndReason[0] == '\0') snprintf(EndReason, sizeof EndReason, "%s", reason);
  CallTraceExit(NULL);
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
            Outcomes[SO_Copied], Outcomes[SO_Moved], Outcomes[SO_Complete], Outcomes[SO_Failed], failed,
            Skipped, skipped, (unsigned long long)(tenths / 10), (unsigned long long)(tenths % 10),
            (unsigned)seconds);
  CallTraceExit(NULL);
}
