/* FerroxMain.cpp -- the copy service's face toward the firmware and other
 * plug-ins: TAP_Main, TAP_EventHandler, the stop sequence and the status reply.
 *
 * Idle events go to the copy cycle (CopyCycle.cpp), which does the work; the
 * stop event and the end of a run share one shutdown (EndRun), which can stop
 * the mount plug-in; status requests are answered from the engine's counters
 * in every state. No screen, no keys. Owns: the handler's re-entry flag. */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "FirmwareBinding.h"
#include "LogTrace.h"
#include "TapManagement.h"

#define STOP_WAIT_TICKS 300 /* 3 s for each of the two ways of stopping a plug-in */
#define STATUS_SERVICE 0    /* the one service the channel offers */
#define STATUS_BLOCK_VERSION 2
#define SEPARATOR_STOP "--------------------------------------------------------------" /* 62 */
#define SEPARATOR_END "-----------------------------------------------------------"     /* 59 */

/* Service states of the status reply */
#define STATUS_WAIT_MOUNT 0
#define STATUS_WAIT_NAVMENDER 1
#define STATUS_WORKING 2
#define STATUS_JOB 3

static bool DoNotReenter = false; /* set while TAP_EventHandler runs */

static bool Lingering = false;   /* the run is over; the worker is still out */
static bool StopArrived = false; /* the firmware asked the plug-in to end */

int TAP_Main(void)
{
  CallTraceInit();
  CallTraceEnable(false);
  CallTraceEnter("TAP_Main");
  /* as at load: the code of a run whose worker was left in a call stays
   * loaded (ShareCalls), and a firmware that loads the same file again
   * would start that copy with the last run's state */
  ResetCopyCycle();
  ResetWorkListChecks();
  NrOfJobFilesSkipped = 0;
  JobFilesSkippedFull = false;
  Lingering = StopArrived = false;
  SettingsStart(&ServiceSettingsProfile);
  SummaryReset();
  WriteLog(PROGRAM_VERSION " started");
  CallTraceExit(nullptr);
  return 1; /* stay resident; the work starts with the first idle event */
}

/* ---- stopping another plug-in ---- */

/* Lets the firmware run until the plug-in has gone or 3 s have passed. */
static bool WaitForTapEnd(dword tapId)
{
  CallTraceEnter("WaitForTapEnd");
  dword deadline = TAP_GetTick() + STOP_WAIT_TICKS;
  bool ended = false;
  do {
    TAP_SystemProc();
    ended = !HDD_TAP_isRunning(tapId);
  } while (!ended && TAP_GetTick() < deadline);
  CallTraceExit(nullptr);
  return ended;
}

int StopTAP(dword tapId)
{
  CallTraceEnter("StopTAP");
  if (!HDD_TAP_isRunning(tapId)) {
    WriteLogF("TAP 0x%8.8x is not running", (unsigned)tapId);
    CallTraceExit(nullptr);
    return 1;
  }

  WriteLogF("Trying to stop 0x%8.8x", (unsigned)tapId);
  HDD_TAP_SendEvent(tapId, false, EVT_STOP, 1, 0);
  if (WaitForTapEnd(tapId)) {
    WriteLog("Successful via EVT_STOP");
    CallTraceExit(nullptr);
    return 1;
  }

  WriteLog("TAP is still running, trying to set kill bit");
  HDD_TAP_Terminate(tapId);
  if (WaitForTapEnd(tapId)) {
    WriteLog("Successful via kill bit");
    CallTraceExit(nullptr);
    return 1;
  }
  WriteLog("TAP is still running :-(");
  CallTraceExit(nullptr);
  return 0;
}

/* ---- ending a run ---- */

void EndRun(bool stopEvent)
{
  CallTraceEnter("EndRun");
  if (stopEvent) WriteLog("Stop event");
  if (stopEvent) SummaryEndReason("stopped");
  if (CopyState == CS_Copy) SummaryTransferBytes();
  /* entries of a normal run's list that were never finished */
  if (JobState == JS_Normal && NrOfFilesToProcess > CurrentFileToProcess)
    SummarySkipped(NrOfFilesToProcess - CurrentFileToProcess);

  /* a partly written destination stays: the next run continues it */
  FRX_Close();
  CleanupMemory();
  RemoveFolderMarker();

  if (StopMountTAP != 0) StopTAP(MountType == 0 ? MOUNT_TAP_NAS_ID : MOUNT_TAP_OTHER_ID);
  else if (LogLength != 0) WriteLog("StopMount is set to FALSE");

  WriteSummary();
  WriteLog("Ferrox end");
  WriteLog(stopEvent ? SEPARATOR_STOP : SEPARATOR_END);
  CopyState = CS_Exit;
  /* after a run of its own, the outcome stays on the TV a few seconds and
   * the plug-in with it; a stop event ends it at once */
  if (stopEvent || !ShowRunResult()) LeaveRun();
  CallTraceExit(nullptr);
}

/* The plug-in ends once its worker is free. One still in a call on the
 * destination that has not come back keeps the plug-in for it, answering
 * its events at once, until the call is back; a stop event ends it anyway
 * (SC_End keeps the code loaded for the worker then). */

void LeaveRun(void)
{
  CallTraceEnter("LeaveRun");
  if (!SC_End(StopArrived)) {
    if (!Lingering) WriteLog("Waiting for the last call on the destination before the plug-in ends");
    Lingering = true;
  } else {
    Lingering = false;
    CallTraceRelease();
    TAP_Exit();
  }
  CallTraceExit(nullptr);
}

/* ---- status reply ---- */

/* Bytes a minute of the current transfer since it was opened: only what
 * moved in this run counts, never the resume offset. */
static qword TransferRate(qword bytesCopied)
{
  CallTraceEnter("TransferRate");
  byte sec = 0;
  dword now = Now(&sec);
  long long elapsed = 60LL * TimeDiff(StartTime, now) + ((int)sec - (int)StartSec);
  qword moved = bytesCopied > BytesCopiedLastTime ? bytesCopied - BytesCopiedLastTime : 0;
  qword rate = 0;

  if (elapsed >= 1) {
    dword perSecond = (dword)((qword)(dword)(moved >> 8) / (qword)elapsed);
    rate = (qword)(dword)(perSecond * 60) << 8;
  }
  CallTraceExit(nullptr);
  return rate;
}

static int ServiceState(void)
{
  CallTraceEnter("ServiceState");
  int state = STATUS_WORKING;
  if (NVMFirstCheck == 0 && FirstTryWaitForStart != 0) state = STATUS_WAIT_NAVMENDER;
  else if (CopyState == CS_WaitMount) state = STATUS_WAIT_MOUNT;
  else if (CopyState == CS_Job) state = STATUS_JOB;
  CallTraceExit(nullptr);
  return state;
}

/* Fills the requester's block. Built aside and copied in whole: the block
 * is the other plug-in's memory, with no promise about its alignment. */
static void FillStatusReply(void *block)
{
  CallTraceEnter("FillStatusReply");
  FerroxStatusReply reply;
  qword bytesCopied = 0;

  /* zeroed first: the name is cut to fit and always terminated */
  memset(&reply, 0, sizeof(reply));
  memcpy(reply.DestFileName, DestFileNameClean, strnlen(DestFileNameClean, sizeof(reply.DestFileName) - 1));
  FRX_GetStats(&reply.TotalBytes, &bytesCopied, &reply.Percent, nullptr);
  reply.BytesPerMinute = TransferRate(bytesCopied);
  reply.CurrentEntry = CurrentFileToProcess + 1;
  reply.NrOfEntries = JobState == JS_Job ? NrOfJobFilesToProcess : NrOfFilesToProcess;
  reply.State = ServiceState();
  memcpy(block, &reply, sizeof(reply));
  CallTraceExit(nullptr);
}

static void AnswerStatusRequest(TapParam param1)
{
  CallTraceEnter("AnswerStatusRequest");
  dword callerId = 0, serviceId = 0, blockVersion = 0;
  void *block = nullptr;
  TapComChannel *channel = TAPCOM_GetChannel(param1, &callerId, &serviceId, &blockVersion, &block);

  /* no channel for us, or one too old to carry a request (already answered) */
  if (channel == nullptr || channel->Version < TAPCOM_VERSION) {
    CallTraceExit(nullptr);
    return;
  }
  if (serviceId != STATUS_SERVICE || blockVersion != STATUS_BLOCK_VERSION || block == nullptr) {
    TAPCOM_Reject(channel);
    CallTraceExit(nullptr);
    return;
  }
  FillStatusReply(block);
  TAPCOM_Finish(channel, 0);
  CallTraceExit(nullptr);
}

/* ---- events ---- */

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2)
{
  /* A nested call (the firmware runs while StopTAP waits) passes through. */
  if (DoNotReenter) return param1;
  DoNotReenter = true;
  CallTraceEnter("TAP_EventHandler");

  TapParam result = param1;
  if (Lingering) {
    if (event == EVT_STOP) StopArrived = true;
    if (event == EVT_IDLE || event == EVT_STOP) LeaveRun();
    if (event == EVT_TAPCOM) AnswerStatusRequest(param1);
    CallTraceExit(nullptr);
    DoNotReenter = false;
    return result;
  }
  if (ResultShowing()) {
    /* the run is over; its result window takes OK and Exit */
    if (ResultOver(event, param1)) {
      if (event == EVT_KEY) result = 0;
      LeaveRun();
    }
    if (event == EVT_TAPCOM) AnswerStatusRequest(param1);
    CallTraceExit(nullptr);
    DoNotReenter = false;
    return result;
  }
  switch (event) {
    case EVT_IDLE:
      if (!CopyCycleStep()) result = 0;
      break;
    case EVT_STOP:
      StopArrived = true;
      EndRun(true);
      break;
    case EVT_TAPCOM: AnswerStatusRequest(param1); break;
    default: /* keys and everything else are not ours */ break;
  }

  CallTraceExit(nullptr);
  DoNotReenter = false;
  return result;
}
