/* TickWaiter.cpp -- the simplest resident plug-in: it starts, looks at the
 * time and its current folder, waits a number of ticks on idle events and
 * ends itself with TAP_Exit. The wait is read from "TickWaiter.cfg" in its
 * folder (decimal ticks; 100 without it; 0: TAP_Main returns 0, no stay).
 * What it sees goes to TAP_Print and to "TickWaiter.log" beside it.
 * Owns: the start tick, the wait, the idle-event count. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "FirmwareBinding.h"
#include "PathTypes.h"
#include "tap_api.h"

#define DEFAULT_WAIT 100

static dword StartTick = 0;
static dword WaitTicks = DEFAULT_WAIT;
static dword IdleEvents = 0;
static char LogText[1024];

/* Reads the wait from "TickWaiter.cfg" in the current folder. */
static dword ReadWait(void)
{
  char text[32];
  FwFileRecord *f = TAP_Hdd_Fopen("TickWaiter.cfg");
  if (f == nullptr) return DEFAULT_WAIT;
  dword n = TAP_Hdd_Fread(text, 1, sizeof(text) - 1, f);
  TAP_Hdd_Fclose(f);
  text[n] = '\0';
  return (dword)strtoul(text, nullptr, 10);
}

/* Appends a line to the report and prints it. */
static void Report(const char *line)
{
  size_t used = strlen(LogText);
  snprintf(LogText + used, sizeof(LogText) - used, "%s\n", line);
  TAP_Print("TickWaiter: %s\n", line);
}

/* Writes the report to "TickWaiter.log" in the current folder. */
static void WriteReport(void)
{
  if (!TAP_Hdd_Exist("TickWaiter.log")) TAP_Hdd_Create("TickWaiter.log", ATTR_NORMAL);
  FwFileRecord *f = TAP_Hdd_Fopen("TickWaiter.log");
  if (f == nullptr) return;
  TAP_Hdd_Fwrite(LogText, 1, (dword)strlen(LogText), f);
  TAP_Hdd_Fclose(f);
}

int TAP_Main(void)
{
  char line[600], stamp[32], folder[PATH_BUFFER];
  byte sec = 0;
  dword now = Now(&sec);

  folder[0] = '\0';
  HDD_TAP_GetCurrentDir(folder);
  StartTick = TAP_GetTick();
  WaitTicks = ReadWait();
  snprintf(line, sizeof(line), "started at %s in %s", TimeFormat(now, sec, 5, stamp), folder);
  Report(line);
  snprintf(line, sizeof(line), "waiting %u ticks from tick %u", (unsigned)WaitTicks, (unsigned)StartTick);
  Report(line);
  if (WaitTicks == 0) {
    Report("nothing to wait for, not staying");
    WriteReport();
    return 0;
  }
  return 1;
}

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2)
{
  char line[128];
  if (event == EVT_STOP) {
    Report("stop event, ending");
    WriteReport();
    TAP_Exit();
    return 0;
  }
  if (event == EVT_KEY) {
    snprintf(line, sizeof(line), "key 0x%X at tick %u", (unsigned)param1, (unsigned)TAP_GetTick());
    Report(line);
  }
  if (event != EVT_IDLE) return param1;
  IdleEvents++;
  dword waited = TAP_GetTick() - StartTick;
  if (waited >= WaitTicks && StartTick + WaitTicks != 0xFFFFFFFFu) {
    snprintf(line, sizeof(line), "waited %u ticks over %u idle events, ending", (unsigned)waited, (unsigned)IdleEvents);
    Report(line);
    WriteReport();
    WaitTicks = 0xFFFFFFFFu - StartTick; /* report once */
    TAP_Exit();
  }
  return param1;
}
