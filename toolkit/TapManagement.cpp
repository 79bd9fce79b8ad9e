/* TapManagement.cpp -- other plug-ins: ids, events, stop, start, file
 * headers, and the receiving side of the inter-plug-in channel.
 *
 * Running plug-ins are found in the firmware's plug-in table, identified by
 * the id in their file (read anew at every query, by ElfReader). Starting
 * goes through the firmware's work-folder functions and program starter with
 * the start parameters in two shared-memory segments. Owns:
 * tkl_parametered_tap, set only while a start runs. */
#include "TapManagement.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "ElfReader.h"
#include "FirmwareBinding.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "os_facade.h"
#include "tap_header.h"

TapStartParams *tkl_parametered_tap = nullptr;

#define TAP_FILE_PATH 104 /* buffer for a running plug-in's file path */

/* The firmware's table; null on a firmware that does not export it, which
 * makes every plug-in look not running. */
static FwTapTableEntry *TapTable(void) { return (FwTapTableEntry *)FIS_vTAPTable(); }

/* The path of the plug-in file in a table entry, into a TAP_FILE_PATH
 * buffer; false for a free slot or a path that does not fit. */
static bool TapFilePath(const FwTapTableEntry *entry, char *dest)
{
  const FwFileRecord *file = entry->File;
  dest[0] = '\0';
  if (file == nullptr || file->PathInfo == nullptr || file->PathInfo->AbsPath == nullptr) return false;
  const char *path = file->PathInfo->AbsPath;
  size_t len = strnlen(path, TAP_FILE_PATH);
  if (len == 0 || len >= TAP_FILE_PATH) return false;
  memcpy(dest, path, len + 1);
  return true;
}

dword HDD_TAP_GetIDByIndex(int slot)
{
  FwTapTableEntry *table = TapTable();
  char path[TAP_FILE_PATH];
  TapFileInfo info;

  if (slot < 0 || slot >= TAP_TABLE_SLOTS || table == nullptr) return 0;
  if (!TapFilePath(&table[slot], path)) return 0;
  return HDD_TAP_GetInfo(path, &info) ? info.ID : 0;
}

int HDD_TAP_GetIndexByID(dword id)
{
  /* Free slots and unreadable files report 0: that id names no plug-in. */
  if (id == 0) return -1;
  for (int slot = 0; slot < TAP_TABLE_SLOTS; slot++)
    if (HDD_TAP_GetIDByIndex(slot) == id) return slot;
  return -1;
}

bool HDD_TAP_isRunning(dword id) { return HDD_TAP_GetIndexByID(id) >= 0; }

/* Calls the handler of slot as that plug-in: the firmware's current-task
 * variable names it for the duration of the call. */
static TapParam CallHandler(FwTapTableEntry *table, dword *curTask, int slot, word event, TapParam param1,
                            TapParam param2)
{
  dword saved = *curTask;
  *curTask = (dword)slot;
  TapParam result = table[slot].Handler(event, param1, param2);
  *curTask = saved;
  return result;
}

TapParam HDD_TAP_SendEvent(dword id, bool stopWhenConsumed, word event, TapParam param1, TapParam param2)
{
  FwTapTableEntry *table = TapTable();
  dword *curTask = (dword *)FIS_vCurTapTask();
  TapParam result = 0;

  if (table == nullptr || curTask == nullptr) return 0;
  if (id != 0) {
    int slot = HDD_TAP_GetIndexByID(id);
    if (slot < 0 || table[slot].Handler == nullptr) return 0;
    return CallHandler(table, curTask, slot, event, param1, param2);
  }
  for (int slot = 0; slot < TAP_TABLE_SLOTS; slot++) {
    if (table[slot].Handler == nullptr) continue;
    result = CallHandler(table, curTask, slot, event, param1, param2);
    if (stopWhenConsumed && result == 0) return 0;
  }
  return result;
}

int HDD_TAP_Terminate(dword id)
{
  int slot = HDD_TAP_GetIndexByID(id);
  FwTapTableEntry *table = TapTable();

  if (slot < 0) return -1;
  if (table == nullptr) return 0;
  /* The stop event first, so a plug-in that can end in order does so; the
   * kill bit makes the firmware end it after its current event anyway. */
  HDD_TAP_SendEvent(id, false, EVT_STOP, 1, 0);
  table[slot].RunState = TAP_RUNSTATE_KILL;
  return 2;
}

/* Month 1..12 of a three-letter English name; 0 for anything else. */
static byte MonthNumber(const char *text)
{
  static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  for (int m = 0; m < 12; m++)
    if (strncmp(text, months + 3 * m, 3) == 0) return (byte)(m + 1);
  return 0;
}

/* The build date from the "Mmm dd yyyy" text of the etcinfo section. */
static dword BuildDate(int section)
{
  char text[65];
  char day[3];

  /* The compiler's date text, "Mmm dd yyyy"; a short text reads as zeros
   * because the buffer is zeroed one byte beyond the section's field. */
  memset(text, 0, sizeof(text));
  if (!ELFReadData(section, text, 64)) return 0;
  memcpy(day, text + 4, 2);
  day[2] = '\0';
  /* strtol, not atoi: a run of digits too long for an int stays defined */
  return TAP_MakeMjd((word)strtol(text + 7, nullptr, 10), MonthNumber(text), (byte)strtol(day, nullptr, 10));
}

/* A text section into a field of size bytes, always terminated. */
static void ReadText(const char *name, char *field, dword size)
{
  int section = ELFGetSectionIndex(name);
  if (section > 0) ELFReadData(section, field, size - 1);
  field[size - 1] = '\0';
}

/* The header data of the open plug-in file; false without a usable id. */
static bool ReadTapInfo(TapFileInfo *info)
{
  if (!ELFReadELFHeader() || !ELFReadSectionHeaders() || !ELFReadShstrtabSection()) return false;
  if (!ELFReadDWORD(ELFGetSectionIndex("._tap_id"), &info->ID)) return false;
  int etcinfo = ELFGetSectionIndex("._tap_etcinfo");
  if (etcinfo > 0) info->Date = BuildDate(etcinfo);
  ReadText("._tap_program_name", info->TAPName, sizeof(info->TAPName));
  ReadText("._tap_author_name", info->Author, sizeof(info->Author));
  ReadText("._tap_description", info->Description, sizeof(info->Description));
  ReadText("._tap_program_version", info->Version, sizeof(info->Version));
  return true;
}

/* Reports a file that exists but is no plug-in file. Running plug-ins are
 * read at every query, so the same file is reported once, not every tick. */
static void ReportMalformed(const char *linuxPath)
{
  static char lastReported[PATH_BUFFER];
  if (strcmp(lastReported, linuxPath) == 0) return;
  snprintf(lastReported, sizeof(lastReported), "%s", linuxPath);
  LogEntryTKLibPrintf(true, "HDD_TAP_GetInfo: %.400s is no readable plug-in file", linuxPath);
}

bool HDD_TAP_GetInfo(const char *path, TapFileInfo *info)
{
  char linuxPath[PATH_BUFFER];

  if (info == nullptr) return false;
  memset(info, 0, sizeof(*info));
  if (path == nullptr || path[0] == '\0') return false;
  ConvertPathType(path, linuxPath, PathKindLinuxFile);
  if (!ELFOpenFile(linuxPath)) return false;
  bool ok = ReadTapInfo(info);
  ELFCleanup();
  if (!ok) {
    memset(info, 0, sizeof(*info));
    ReportMalformed(linuxPath);
  }
  return ok;
}

/* The firmware pieces a start needs; a firmware without one starts nothing. */
static bool StartSupported(void)
{
  return FIS_fwApplHdd_SaveWorkFolder() != nullptr && FIS_fwApplHdd_RestoreWorkFolder() != nullptr &&
         FIS_fwApplHdd_SelectFolder() != nullptr && FIS_fwApplHdd_SetWorkFolder() != nullptr &&
         FIS_fwAppl_ExecProgram() != nullptr && FIS_vHddTapFolder() != nullptr;
}

/* Creates and attaches a shared-memory segment; null when that fails, in
 * which case nothing is left behind. */
static void *CreateSegment(key_t key, size_t size, int *id)
{
  *id = OS_Shmget(key, size, IPC_CREAT | 0666);
  if (*id < 0) return nullptr;
  void *at = OS_Shmat(*id, nullptr, 0);
  if (at != (void *)-1) return at;
  OS_Shmctl(*id, IPC_RMID, nullptr);
  *id = -1;
  return nullptr;
}

static void RemoveSegment(void *at, int id)
{
  if (at != nullptr) OS_Shmdt(at);
  if (id >= 0) OS_Shmctl(id, IPC_RMID, nullptr);
}

/* Selects the file's folder as the firmware's work folder and runs it. */
static bool ExecInFolder(const char *path)
{
  char folder[PATH_BUFFER];
  char name[PATH_BUFFER];
  FwWorkFolderRecord record;

  ConvertPathType(path, folder, PathKindLinuxFolder);
  ConvertPathType(path, name, PathKindName);
  size_t len = strlen(folder);
  if (len < 2 || name[0] == '\0') return false;
  if (folder[len - 1] == '/') folder[len - 1] = '\0';
  memset(&record, 0, sizeof(record));
  record.Magic = FW_WORKFOLDER_MAGIC;
  /* The firmware takes the folder relative to the root, without its "/". */
  if (ApplHdd_SelectFolder(&record, folder + 1) != 0) return false;
  ApplHdd_SetWorkFolder(&record);
  FwWorkFolderRecord **tapFolder = (FwWorkFolderRecord **)FIS_vHddTapFolder();
  if (*tapFolder != nullptr) memcpy(*tapFolder, &record, sizeof(record));
  Appl_ExecProgram(name);
  return true;
}

bool HDD_TAP_Start(const char *path, bool createStartMarker, dword parameter, dword *startedId)
{
  TapFileInfo info;
  void *marker = nullptr;
  int markerId = -1;
  int paramsId = -1;

  if (!HDD_TAP_GetInfo(path, &info)) return false;
  if (startedId != nullptr) *startedId = info.ID;
  /* Checked before any segment exists, so a refused start leaves nothing. */
  if (!StartSupported()) return false;
  /* The marker's mere existence tells the started plug-in who started it. */
  if (createStartMarker) marker = CreateSegment(TAPSTART_MARKER_KEY, 1, &markerId);
  TapStartParams *params = (TapStartParams *)CreateSegment(TAPSTART_PARAM_KEY, sizeof(TapStartParams), &paramsId);
  if (params != nullptr) {
    params->Magic = TAPSTART_PARAM_MAGIC;
    params->ID = info.ID;
    params->Parameter = parameter;
    tkl_parametered_tap = params;
  }
  ApplHdd_SaveWorkFolder();
  bool started = ExecInFolder(path);
  /* The segments live only while the started plug-in runs its start. */
  RemoveSegment(params, paramsId);
  RemoveSegment(marker, markerId);
  tkl_parametered_tap = nullptr;
  ApplHdd_RestoreWorkFolder();
  return started;
}

bool HDD_TAP_GetStartParameter(dword ownId, dword *parameter)
{
  /* the starter's segment exists only while it starts a plug-in: found,
   * it is read without being made */
  int id = OS_Shmget(TAPSTART_PARAM_KEY, sizeof(TapStartParams), 0);
  if (id < 0 || parameter == nullptr) return false;
  void *at = OS_Shmat(id, nullptr, 0);
  if (at == (void *)-1) return false;
  const TapStartParams *params = (const TapStartParams *)at;
  bool ours = params->Magic == TAPSTART_PARAM_MAGIC && params->ID == ownId;
  if (ours) *parameter = params->Parameter;
  OS_Shmdt(at);
  return ours;
}

/* Below this no process has memory: a parameter there is a number that
 * another plug-in sent with the message event, not a record. */
#define TAPCOM_LOWEST_RECORD 0x1000u

bool isValidChannel(TapParam channel)
{
  /* The parameter comes from any plug-in: a small number or an address that
   * no record of 32-bit fields can have is refused before it is read. */
  if (channel < TAPCOM_LOWEST_RECORD || channel % sizeof(dword) != 0) return false;
  return ((const TapComChannel *)channel)->Magic == TAPCOM_MAGIC;
}

/* Records an answer: the new status and the tick of the change. */
static void SetStatus(TapComChannel *channel, dword status)
{
  channel->Status = status;
  channel->LastStatusChange = TAP_GetTick();
}

TapComChannel *TAPCOM_GetChannel(TapParam param1, dword *callerId, dword *serviceId, dword *paramBlockVersion,
                                 void **paramBlock)
{
  if (!isValidChannel(param1)) {
    LogEntryTKLibPrintf(true, "TAPCOM: message without a channel record ignored");
    return nullptr;
  }
  TapComChannel *channel = (TapComChannel *)param1;
  /* An older requester would misread a newer record: it is told which
   * version is needed, whoever it addressed. */
  if (channel->Version < TAPCOM_VERSION) {
    channel->ReturnValue = TAPCOM_VERSION;
    SetStatus(channel, TAPCOM_STATUS_VERSIONMISMATCH);
    return channel;
  }
  if (channel->ServerID != 0 && channel->ServerID != __tap_ud__) return nullptr;
  /* A request without a block has nowhere to take its answer. */
  if (channel->ParamBlock == nullptr) {
    LogEntryTKLibPrintf(true, "TAPCOM: request of 0x%8.8x for service %u without a parameter block rejected",
                        (unsigned)channel->CallerID, (unsigned)channel->ServiceID);
    SetStatus(channel, TAPCOM_STATUS_REJECTED);
    return nullptr;
  }
  if (callerId != nullptr) *callerId = channel->CallerID;
  if (serviceId != nullptr) *serviceId = channel->ServiceID;
  if (paramBlockVersion != nullptr) *paramBlockVersion = channel->ParamBlockVersion;
  if (paramBlock != nullptr) *paramBlock = channel->ParamBlock;
  if (channel->ServerID == __tap_ud__) channel->Status = TAPCOM_STATUS_ACCEPTED;
  channel->LastStatusChange = TAP_GetTick();
  return channel;
}

void TAPCOM_Reject(TapComChannel *channel)
{
  if (isValidChannel((TapParam)channel)) SetStatus(channel, TAPCOM_STATUS_REJECTED);
}

void TAPCOM_Finish(TapComChannel *channel, dword returnValue)
{
  if (!isValidChannel((TapParam)channel)) return;
  channel->ReturnValue = returnValue;
  SetStatus(channel, TAPCOM_STATUS_FINISHED);
}
