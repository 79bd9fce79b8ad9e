/* CopyCycle.cpp -- the copy cycle: one step of the state machine per idle event.
 *
 * Settings, waiting job files first, then the wait for folders, mount and the
 * index-rebuilding plug-in; the work list entry by entry, each part by part
 * (recording, ".inf", ".nav"); deletion of sources and job files; the end of
 * the run. No step waits: waits are states that compare ticks on the next
 * idle event. Owns: CopyState, JobState, FileTyp, FileStatus, the start and
 * wait state of the machine. */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "FirmwareBinding.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "RecordingFiles.h"
#include "TapManagement.h"
#include "TextEncoding.h"

#define SEPARATOR_59 "==========================================================="
#define NO_STATE 999
#define BOOT_UPTIME 23000     /* hundredths of a second: started right after a boot */
#define BOOT_WAIT_TICKS 18000 /* 3 minutes */
#define SETTLE_TICKS 1000     /* 10 s between index plug-in checks */
#define STAT_TICKS 100        /* at most one progress line a second */
#define LIST_SLICE 50         /* entries of the work list walked in one idle event */

int CopyState = CS_FirstCall;
int JobState = JS_Normal;
int FileTyp = FT_Rec;
int FileStatus[4] = {FS_Pending, FS_Pending, FS_Pending, FS_Pending};
dword StartTime = 0;
byte StartSec = 0;
qword BytesCopiedLastTime = 0;
int FirstTryWaitForStart = 1;
int NVMFirstCheck = 1;

/* Kept from event to event; none of the first-time flags is set again
 * while the plug-in stays loaded. */
static int LastCopyState = NO_STATE;
static int LastFileTyp = NO_STATE;
static dword NextStat = 0;
static int LastPercent = -1;
/* A wait that looks once a second until its deadline, set at its first look */
typedef struct tSecondWait {
  byte LastSec;   /* the clock's second at the last look */
  bool Started;   /* the deadline is set */
  dword Deadline; /* tick after which the wait is over */
} tSecondWait;
static const tSecondWait NewWait = {0, false, 0};
static tSecondWait MountWait = NewWait; /* for the folders of the settings */
static tSecondWait BootWait = NewWait;  /* after a start at the receiver's boot */
static dword SettleTimeout = 0;         /* next index plug-in check; its own deadline, not the mount wait's */
static bool RunEnded = false;
static const char *FailReason = nullptr; /* why the current file's last part failed */
static bool MainPartWasComplete = false; /* its main part was found complete at the destination */

void ResetCopyCycle(void)
{
  CallTraceEnter("ResetCopyCycle");
  CopyState = CS_FirstCall;
  JobState = JS_Normal;
  FileTyp = FT_Rec;
  memset(FileStatus, 0, sizeof FileStatus);
  StartTime = 0;
  StartSec = 0;
  BytesCopiedLastTime = 0;
  FirstTryWaitForStart = 1;
  NVMFirstCheck = 1;
  LastCopyState = LastFileTyp = NO_STATE;
  NextStat = 0;
  LastPercent = -1;
  MountWait = BootWait = NewWait;
  SettleTimeout = 0;
  RunEnded = false;
  FailReason = nullptr;
  MainPartWasComplete = false;
  SummaryReset();
  CallTraceExit(nullptr);
}

void CleanupMemory(void)
{
  CallTraceEnter("CleanupMemory");
  for (int i = 0; i < NrOfFilesToProcess && i < MAX_FILES_TO_PROCESS; i++) {
    if (FilesToProcess[i].FileName != nullptr) TAP_MemFree(FilesToProcess[i].FileName);
    if (FilesToProcess[i].Folder != nullptr) TAP_MemFree(FilesToProcess[i].Folder);
    FilesToProcess[i].FileName = nullptr;
    FilesToProcess[i].Folder = nullptr;
  }
  NrOfFilesToProcess = 0;
  EndFileListWalk();
  CallTraceExit(nullptr);
}

int StartReasonManual(int logIt)
{
  CallTraceEnter("StartReasonManual");
  dword uptime = GetUptime();
  if (logIt != 0) WriteLogF("UpTime = %d", (int)uptime);
  CallTraceExit(nullptr);
  return uptime > BOOT_UPTIME ? 1 : 0;
}

/* Word of the state log line for each value; null where there is none. */
static const char *CopyStateName(int state)
{
  CallTraceEnter("CopyStateName");
  static const char *const names[] = {"CS_FirstCall",   "CS_WaitMount", nullptr,        nullptr,
                                      "CS_Job",         "CS_Prepare",   "CS_Copy",      "CS_NextFile",
                                      "CS_NextFileTyp", "CS_Exit",      "CS_WaitShare", "CS_List"};
  const char *name = state >= 0 && state <= CS_List ? names[state] : nullptr;
  CallTraceExit(nullptr);
  return name;
}

/* "New State: JS_Normal - CS_Copy - FT_Inf" when state or part changed;
 * written in the long log only. */
static void LogStateChange(void)
{
  CallTraceEnter("LogStateChange");
  static const char *const jobNames[] = {"JS_Normal", "JS_Job"};
  static const char *const typNames[] = {"FT_Rec", "FT_Inf", "FT_Nav", "FT_Other"};
  if (CopyState != LastCopyState || FileTyp != LastFileTyp) {
    char job[24], state[32], typ[24];
    const char *stateName = CopyStateName(CopyState);
    if (JobState == JS_Normal || JobState == JS_Job) snprintf(job, sizeof job, "%s", jobNames[JobState]);
    else snprintf(job, sizeof job, "JS_unkown(%d)", JobState);
    if (stateName != nullptr) snprintf(state, sizeof state, "%s", stateName);
    else snprintf(state, sizeof state, "CS_unkown(%d)", CopyState);
    if (FileTyp >= FT_Rec && FileTyp <= FT_Other) snprintf(typ, sizeof typ, "%s", typNames[FileTyp]);
    else snprintf(typ, sizeof typ, "FT_unkown(%d)", FileTyp);
    snprintf(LogString, sizeof LogString, "New State: %s - %s - %s", job, state, typ);
    LastCopyState = CopyState;
    LastFileTyp = FileTyp;
    if (LogLength != 0) WriteLog(LogString);
  }
  CallTraceExit(nullptr);
}

/* The settings cannot be used: the setup plug-in is started so that the
 * user can correct them, told why, and this run ends. */
static void StartSetup(FolderVerdict why)
{
  CallTraceEnter("StartSetup");
  HDD_ChangeDir(PROGRAM_FILES_DIR);
  if (HDD_TAP_isRunning(FERROXSETUP_ID)) {
    /* never a second menu over the one the user has open */
    WriteLog("The setup is open already: correct the settings there");
  } else if (!HDD_TAP_Start(SETUP_TAP_FILE, false, SETUP_REASON_MARK | (dword)why, nullptr)) {
    /* where it was looked for, and what the owner can do */
    if (!TAP_Hdd_Exist(SETUP_TAP_FILE))
      WriteLogF(
          "%s could not be started: it is not in /ProgramFiles (/mnt/hd/ProgramFiles); copy it there beside "
          "Ferrox.tap, or correct %s/%s by hand",
          SETUP_TAP_FILE, SETTINGS_FOLDER, SETTINGS_FILE);
    else
      WriteLogF("%s could not be started: /ProgramFiles/%s is no plug-in this receiver can start; copy it there anew",
                SETUP_TAP_FILE, SETUP_TAP_FILE);
  }
  SummaryEndReason("settings unusable");
  CopyState = CS_Exit;
  CallTraceExit(nullptr);
}

static void StateFirstCall(void)
{
  CallTraceEnter("StateFirstCall");
  static const char *const mountNames[] = {"MountType = NAS", "MountType = NTFS", "MountType = Linux"};
  LoadSettings();
  RememberSettingsShare();
  if (isJobAvailable() != 0) {
    JobState = JS_Job;
    CopyState = CS_CheckStartReason;
    CallTraceExit(nullptr);
    return;
  }
  WriteLog("No Job File found, starting normal work...");
  JobState = JS_Normal;
  if (LogLength != 0) {
    WriteLog(SpecChar != 0 ? "SpecChar = True" : "SpecChar = False");
    if (MountType >= 0 && MountType <= 2) WriteLog(mountNames[MountType]);
  }
  /* refused before anything is made: only folders a run will use are
   * created */
  FolderVerdict verdict = SanityCheckPassed() != 0 ? FolderUsable : SettingsFolderVerdict();
  if (verdict == FolderUsable && CreateSubDirs() == 0) verdict = FolderMissing;
  if (verdict == FolderUsable) CopyState = CS_WaitMount;
  else StartSetup(verdict);
  CallTraceExit(nullptr);
}

/* Folders present: has the index-rebuilding plug-in finished, and has the
 * settle time passed? Every 10 s the plug-in table is asked again. The
 * first look is at once: a share that came late has used up part of the
 * mount wait, which is no reason to wait the rest of it. */
static void CheckIndexPlugin(void)
{
  CallTraceEnter("CheckIndexPlugin");
  if (FirstTryWaitForStart != 0 && TAP_GetTick() > SettleTimeout) {
    SettleTimeout = TAP_GetTick() + SETTLE_TICKS;
    if (HDD_TAP_isRunning(NAVMENDER_ID)) {
      if (NVMFirstCheck != 0) {
        WriteLog("NavMender is still running, waiting...");
        NVMFirstCheck = 0;
      }
    } else {
      WriteLog(NVMFirstCheck != 0 ? "Wait 10 seconds to give mount tap enough time to clear screen."
                                  : "NavMender has stopped working, continue my work...");
      FirstTryWaitForStart = 0;
    }
  }
  if (TAP_GetTick() > SettleTimeout && FirstTryWaitForStart == 0) {
    LoadDefaultStrings();
    if (CopyAllFiles != 0) MoveAllFilesToMoveToNAS();
    CopyState = BuildFileListStart(MoveDir) != 0 ? CS_List : CS_Prepare;
  }
  CallTraceExit(nullptr);
}

/* The work list, a slice of entries per idle event. */
static void StateList(void)
{
  CallTraceEnter("StateList");
  if (BuildFileListStep(LIST_SLICE) == 0) CopyState = CS_Prepare;
  CallTraceExit(nullptr);
}

/* Whether the clock's second has turned since the wait's last look; the
 * look is noted. */
static bool NextSecondOf(tSecondWait *wait)
{
  CallTraceEnter("NextSecondOf");
  byte sec = 0;
  Now(&sec);
  bool turned = sec != wait->LastSec;
  wait->LastSec = sec;
  CallTraceExit(nullptr);
  return turned;
}

/* Sets the deadline `ticks` from now at the wait's first call: true then,
 * for the caller's line. */
static bool StartWait(tSecondWait *wait, dword ticks)
{
  CallTraceEnter("StartWait");
  bool first = !wait->Started;
  if (first) {
    wait->Deadline = TAP_GetTick() + ticks;
    wait->Started = true;
  }
  CallTraceExit(nullptr);
  return first;
}

static void StateWaitMount(void)
{
  CallTraceEnter("StateWaitMount");
  if (NextSecondOf(&MountWait)) {
    if (SubDirsExist() == 0) {
      if (StartWait(&MountWait, (dword)NASBootTime * 100))
        WriteLogF("NAS directory not found or not mounted. Waiting for %d seconds.", NASBootTime);
      if (TAP_GetTick() > MountWait.Deadline) {
        WriteLogF("No mount within %d seconds.", NASBootTime);
        SummaryEndReason("share not mounted");
        CopyState = CS_Exit;
      }
    } else {
      CheckIndexPlugin();
    }
  }
  CallTraceExit(nullptr);
}

static void StateCheckStartReason(void)
{
  CallTraceEnter("StateCheckStartReason");
  CopyState = StartReasonManual(0) != 0 ? CS_Job : CS_WaitAfterBoot;
  CallTraceExit(nullptr);
}

static void StateWaitAfterBoot(void)
{
  CallTraceEnter("StateWaitAfterBoot");
  if (NextSecondOf(&BootWait)) {
    if (StartWait(&BootWait, BOOT_WAIT_TICKS))
      WriteLog("Wait 3min, because FRX was start direct after receiver boot and first work will be a JobFile");
    if (TAP_GetTick() > BootWait.Deadline) CopyState = CS_Job;
  }
  CallTraceExit(nullptr);
}

static void StateJob(void)
{
  CallTraceEnter("StateJob");
  if (ScanForNextJobFile() != 0 && LoadJob() != 0) {
    CopyState = CS_Prepare;
  } else {
    LoadDefaultStrings();
    JobState = JS_Normal;
    CopyState = CS_FirstCall;
  }
  CallTraceExit(nullptr);
}

/* Recordings (HDD_isRecFileName) come with their companions; every other
 * file is copied alone. */
static int ClassifyEntry(const char *name)
{
  CallTraceEnter("ClassifyEntry");
  int typ = HDD_isRecFileName(name) ? FT_Rec : FT_Other;
  CallTraceExit(nullptr);
  return typ;
}

/* A failure on the destination's side, in a word or two for the summary */
static const char *DestinationFailReason(void)
{
  CallTraceEnter("DestinationFailReason");
  const char *reason = FRXMemoryShort         ? "not enough memory"
                       : FRX_MountPointGone() ? "share not mounted"
                                              : "destination error";
  CallTraceExit(nullptr);
  return reason;
}

/* The destination stopped answering in the middle of a part: the part is
 * not counted, and the run waits for the call that is out. */
static void WaitForShare(void)
{
  CallTraceEnter("WaitForShare");
  WriteLogF("The destination does not answer. Waiting for it up to %d seconds.", SC_GIVE_UP_TICKS / 100);
  CopyState = CS_WaitShare;
  CallTraceExit(nullptr);
}

/* Back: the part is started again (a partial copy is continued). Silent
 * too long: the run ends, what is left is the next run's, and a job stays
 * for it. */
static void StateWaitShare(void)
{
  CallTraceEnter("StateWaitShare");
  int state = SC_State();
  if (state == SC_Idle) {
    WriteLog("The destination answers again.");
    CopyState = CS_Prepare;
  } else if (state == SC_Silent) {
    WriteLogF("The destination has not answered for %u seconds. The rest is left for the next run.",
              (unsigned)(SC_WaitedTicks() / 100));
    SummaryEndReason("share not answering");
    if (JobState == JS_Job) KeepJobFile("the share does not answer");
    CopyState = CS_Exit;
  }
  CallTraceExit(nullptr);
}

/* A part that could not be started: after the main part the entry is given
 * up, after a companion the next part follows. */
static void PartNotStarted(const char *message, int status)
{
  CallTraceEnter("PartNotStarted");
  WriteLog(message);
  FileStatus[FileTyp] = status;
  CopyState = FileTyp == FT_Rec || FileTyp == FT_Other ? CS_NextFile : CS_NextFileTyp;
  CallTraceExit(nullptr);
}

/* The end of the work list: the run's next list, the next job, or the end
 * of the run. False when the event must be answered with 0. */
static bool EndOfList(void)
{
  CallTraceEnter("EndOfList");
  bool passOn = true;
  WriteLog("reached end of file list");
  int left = JobState == JS_Job ? 0 : FileListLeft();
  if (left > 0) {
    /* the table held the oldest of them: the next list takes the rest */
    WriteLogF("%d more file%s to process: the next list follows.", left, left == 1 ? "" : "s");
    if (BuildFileListNext(MoveDir) != 0) {
      CopyState = CS_List;
      CallTraceExit(nullptr);
      return passOn;
    }
  }
  if (JobState == JS_Job) {
    CleanupMemory();
    CopyState = CS_Job;
  } else {
    WriteLog("No more files to copy");
    WriteLog(SEPARATOR_59);
    CopyState = CS_Exit;
    passOn = false;
  }
  CallTraceExit(nullptr);
  return passOn;
}

static bool StatePrepare(void)
{
  CallTraceEnter("StatePrepare");
  bool passOn = true;
  if (FileTyp == FT_Rec && CurrentFileToProcess < NrOfFilesToProcess)
    FileTyp = ClassifyEntry(FilesToProcess[CurrentFileToProcess].FileName);
  int result = StartCopy();
  if (result < 0 && SC_State() != SC_Idle) result = START_NO_ANSWER; /* no answer is no outcome */
  switch (result) {
    case START_NO_ANSWER: WaitForShare(); break;
    case START_DEST_FAILED:
      FailReason = DestinationFailReason();
      PartNotStarted("Error: Can't open destination file", FS_Failed);
      break;
    case START_SOURCE_FAILED:
      FailReason = "source error";
      PartNotStarted("Error: can't open source file", FS_Failed);
      break;
    case START_SOURCE_MISSING:
      FailReason = "source missing";
      PartNotStarted("Error: File does not exist", FS_Missing);
      break;
    case START_OPENED:
      if (LogLength != 0) WriteLog("init successful");
      FRX_GetStats(nullptr, &BytesCopiedLastTime, nullptr, nullptr);
      CopyState = CS_Copy;
      break;
    case START_COMPLETE:
      WriteLog("source and destination file have still the same size");
      if (FileTyp == FT_Rec || FileTyp == FT_Other) MainPartWasComplete = true;
      RememberPartSource();
      FileStatus[FileTyp] = FS_Done;
      CopyState = CS_NextFileTyp;
      break;
    case START_LIST_END: passOn = EndOfList(); break;
    default: break;
  }
  CallTraceExit(nullptr);
  return passOn;
}

/* Progress: milestones in the log, every other whole percent on the
 * terminal, at most once a second and only when the percentage changed. */
static void ReportProgress(void)
{
  CallTraceEnter("ReportProgress");
  if (TAP_GetTick() > NextStat) {
    int percent = 0, mbPerMinute = 0;
    FRX_GetStats(nullptr, nullptr, &percent, &mbPerMinute);
    if (percent != LastPercent) {
      if (percent == 1 || percent == 25 || percent == 50 || percent == 75 || percent == 99) {
        WriteLogF("%d%% done, %d MB/min", percent, mbPerMinute);
      } else {
        char stamp[TIMEFORMAT_SIZE], line[128];
        byte sec = 0;
        dword now = Now(&sec);
        TimeFormat(now, sec, 5, stamp);
        snprintf(line, sizeof line, "%s%sFerrox: %d%%, %d MB/min", stamp, stamp[0] != '\0' ? " " : "", percent,
                 mbPerMinute);
        PrintNet(line);
        PrintNet("\n");
      }
      LastPercent = percent;
    }
    NextStat = TAP_GetTick() + STAT_TICKS;
  }
  CallTraceExit(nullptr);
}

static void StateCopy(void)
{
  CallTraceEnter("StateCopy");
  int result = FRX_Process();
  ReportProgress();
  if (result < 0 && SC_State() != SC_Idle) {
    SummaryTransferBytes();
    BytesCopiedLastTime = FRX_GetResumeOffset();
    WaitForShare();
  } else if (result != STEP_RUNNING) {
    SummaryTransferBytes();
    if (result < 0) FailReason = result == STEP_SOURCE_FAILED ? "source error" : DestinationFailReason();
    /* a comparison that found a difference started the copy anew */
    BytesCopiedLastTime = FRX_GetResumeOffset();
    if (result == STEP_DONE) RememberPartSource();
    if (result == STEP_DONE && (FileTyp == FT_Rec || FileTyp == FT_Other)) CalculateTransferData();
    FileStatus[FileTyp] = result < 0 ? FS_Failed : FS_Done;
    CopyState = CS_NextFileTyp;
  }
  CallTraceExit(nullptr);
}

/* A job that did not succeed: a shortage of memory passes, so the job
 * stays for the next start; anything else sends it to the fail folder. */
static void JobNotDone(void)
{
  CallTraceEnter("JobNotDone");
  if (FRXMemoryShort) KeepJobFile("not enough memory for the copy");
  else MoveJobFileToFail();
  CallTraceExit(nullptr);
}

static void StateNextFile(void)
{
  CallTraceEnter("StateNextFile");
  SummaryFile(SO_Failed, FailReason);
  MainPartWasComplete = false;
  FailReason = nullptr;
  if (JobState == JS_Job) {
    if (FileStatus[FileTyp] == FS_Failed || FileStatus[FileTyp] == FS_Missing) JobNotDone();
    CleanupMemory();
    FileTyp = FT_Rec;
    CopyState = CS_Job;
  } else {
    FileTyp = FT_Rec;
    CurrentFileToProcess++;
    CopyState = CS_Prepare;
  }
  CallTraceExit(nullptr);
}

/* After the last part of a file: delete the source when it may go, and
 * settle the job file. A missing ".nav" is accepted, a missing ".inf" not. */
static void FinishFile(void)
{
  CallTraceEnter("FinishFile");
  bool complete = FileTyp == FT_Other ? FileStatus[FT_Other] == FS_Done
                                      : FileStatus[FT_Rec] == FS_Done && FileStatus[FT_Inf] == FS_Done &&
                                            FileStatus[FT_Nav] != FS_Failed;
  bool job = JobState == JS_Job;
  int outcome = !complete ? SO_Failed : MainPartWasComplete ? SO_Complete : SO_Copied;
  if (move == 1) {
    if (complete) {
      DeleteCurrentSource();
      /* a job whose source had to stay is not done: it is tried again at
       * the next start, or fails for good when it can never be done */
      if (job && SourceKept == SK_Deleted) DeleteJobFile();
      else if (job && SourceKept == SK_Passing) KeepJobFile("its source has to stay for now");
      else if (job) MoveJobFileToFail();
    } else {
      if (job) JobNotDone();
      WriteLog("SourceFile will be not delete because copyprocess was not completely successful");
    }
  } else if (job) {
    if (complete) DeleteJobFile();
    else JobNotDone();
  }
  if (complete && move == 1 && SourceKept == SK_Deleted) outcome = SO_Moved;
  SummaryFile(outcome, FailReason);
  MainPartWasComplete = false;
  FailReason = nullptr;
  CallTraceExit(nullptr);
}

static void StateNextFileTyp(void)
{
  CallTraceEnter("StateNextFileTyp");
  if (FileTyp == FT_Rec && SetTSLink == 1 && StringEndsWith(DestFileNameClean, ".rec")) CreateTSLink();
  if (FileTyp == FT_Other) WriteLog("File is not an rec file, so no copyjob of nav and inf file.");
  if (FileTyp == FT_Nav || FileTyp == FT_Other) FinishFile();
  if (FileTyp == FT_Rec) {
    FileTyp = FT_Inf;
  } else if (FileTyp == FT_Inf) {
    FileTyp = FT_Nav;
  } else {
    FileTyp = FT_Rec;
    if (JobState == JS_Job) CleanupMemory(); /* a job ends after the first file of its list */
    else CurrentFileToProcess++;
  }
  CopyState = CS_Prepare;
  CallTraceExit(nullptr);
}

static void StateExit(void)
{
  CallTraceEnter("StateExit");
  /* the shutdown runs once; the plug-in unloads after this event */
  if (!RunEnded) {
    RunEnded = true;
    EndRun(false);
  }
  CallTraceExit(nullptr);
}

bool CopyCycleStep(void)
{
  CallTraceEnter("CopyCycleStep");
  bool passOn = true;
  LogStateChange();
  switch (CopyState) {
    case CS_FirstCall: StateFirstCall(); break;
    case CS_WaitMount: StateWaitMount(); break;
    case CS_CheckStartReason: StateCheckStartReason(); break;
    case CS_WaitAfterBoot: StateWaitAfterBoot(); break;
    case CS_Job: StateJob(); break;
    case CS_Prepare: passOn = StatePrepare(); break;
    case CS_Copy: StateCopy(); break;
    case CS_NextFile: StateNextFile(); break;
    case CS_NextFileTyp: StateNextFileTyp(); break;
    case CS_Exit: StateExit(); break;
    case CS_WaitShare: StateWaitShare(); break;
    case CS_List: StateList(); break;
    default: break; /* an unknown state does nothing */
  }
  CallTraceExit(nullptr);
  return passOn;
}
