/* StandIn.cpp -- plays an outside plug-in known only by its id (the index
 * plug-in, the two mount plug-ins; one source, built once per id).
 *
 * "/ProgramFiles/Settings/StandIns/<ID>.ini", read in TAP_Main: Mode 0 runs
 * RunTicks ticks then ends (or on the stop event), 1 ends on the stop event,
 * 2 ignores it until the kill bit, 3 never ends (clears its kill bit);
 * Consume=1 consumes every event, Answer=1 answers channel requests. Events
 * but idle go to the console. Owns: the behaviour globals. */
#include <stdio.h>
#include <string.h>
#include <sys/shm.h>

#include "FirmwareBinding.h"
#include "IniStore.h"
#include "TapManagement.h"
#include "os_facade.h"
#include "tap_api.h"
#include "tap_header.h"

#define MODE_RUN_FOR_A_WHILE 0
#define MODE_END_ON_STOP 1
#define MODE_IGNORE_STOP 2
#define MODE_NEVER_END 3

static int StandInMode = MODE_END_ON_STOP;
static int RunTicks = 500;
static bool ConsumeEvents = false;
static bool AnswerRequests = false;
static dword StartTick = 0;

static void ReadBehaviour(void)
{
  char fileName[32];

  snprintf(fileName, sizeof(fileName), "%08X.ini", (unsigned)__tap_ud__);
  if (INIOpenFile(fileName, "StandIns") >= IniPlaceHere) {
    StandInMode = INIGetInt("Mode", MODE_END_ON_STOP, MODE_RUN_FOR_A_WHILE, MODE_NEVER_END);
    RunTicks = INIGetInt("RunTicks", 500, 0, 0x7FFFFFFF);
    ConsumeEvents = INIGetInt("Consume", 0, 0, 1) != 0;
    AnswerRequests = INIGetInt("Answer", 0, 0, 1) != 0;
  }
  INICloseFile();
}

/* Reports the start parameters another plug-in left in shared memory. */
static void ReportStartParameters(void)
{
  int id = OS_Shmget(TAPSTART_PARAM_KEY, 0, 0);
  if (id >= 0) {
    void *at = OS_Shmat(id, nullptr, SHM_RDONLY);
    if (at != (void *)-1) {
      const TapStartParams *params = (const TapStartParams *)at;
      TAP_Print("StandIn %08X: start parameters magic %08X id %08X parameter %08X\n", (unsigned)__tap_ud__,
                (unsigned)params->Magic, (unsigned)params->ID, (unsigned)params->Parameter);
      OS_Shmdt(at);
    }
  }
  if (OS_Shmget(TAPSTART_MARKER_KEY, 0, 0) >= 0)
    TAP_Print("StandIn %08X: started by another plug-in\n", (unsigned)__tap_ud__);
}

int TAP_Main(void)
{
  ReadBehaviour();
  StartTick = TAP_GetTick();
  TAP_Print("StandIn %08X: started, mode %d\n", (unsigned)__tap_ud__, StandInMode);
  ReportStartParameters();
  return 1;
}

/* A plug-in that will not end: it takes back the kill bit wherever it finds
 * it, so the firmware keeps it. */
static void ClearKillBit(void)
{
  FwTapTableEntry *table = (FwTapTableEntry *)FIS_vTAPTable();
  dword *curTask = (dword *)FIS_vCurTapTask();
  if (table == nullptr || curTask == nullptr || *curTask >= TAP_TABLE_SLOTS) return;
  if (table[*curTask].RunState != TAP_RUNSTATE_KILL) return;
  table[*curTask].RunState = 1;
  TAP_Print("StandIn %08X: kill bit cleared\n", (unsigned)__tap_ud__);
}

/* Answers a request: the block gets a greeting, the return value is the
 * service id + 1. */
static void AnswerRequest(TapParam param1)
{
  dword caller = 0;
  dword service = 0;
  void *block = nullptr;
  TapComChannel *channel = TAPCOM_GetChannel(param1, &caller, &service, nullptr, &block);
  if (channel == nullptr || block == nullptr) return;
  memcpy(block, "standin", 8);
  TAPCOM_Finish(channel, service + 1);
  TAP_Print("StandIn %08X: answered service %u of %08X\n", (unsigned)__tap_ud__, (unsigned)service, (unsigned)caller);
}

static void OnStop(void)
{
  if (StandInMode == MODE_RUN_FOR_A_WHILE || StandInMode == MODE_END_ON_STOP) {
    TAP_Print("StandIn %08X: ending on the stop event\n", (unsigned)__tap_ud__);
    TAP_Exit();
  }
}

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2)
{
  if (StandInMode == MODE_NEVER_END) ClearKillBit();
  if (event == EVT_IDLE) {
    if (StandInMode == MODE_RUN_FOR_A_WHILE && TAP_GetTick() - StartTick >= (dword)RunTicks) {
      TAP_Print("StandIn %08X: run over, ending\n", (unsigned)__tap_ud__);
      StandInMode = MODE_IGNORE_STOP; /* ends once */
      TAP_Exit();
    }
    return param1;
  }
  dword *curTask = (dword *)FIS_vCurTapTask();
  TAP_Print("StandIn %08X: event 0x%04X in slot %d\n", (unsigned)__tap_ud__, (unsigned)event,
            curTask != nullptr ? (int)*curTask : -1);
  if (event == EVT_STOP) OnStop();
  if (event == EVT_TAPCOM && AnswerRequests) AnswerRequest(param1);
  return ConsumeEvents ? 0 : param1;
}
