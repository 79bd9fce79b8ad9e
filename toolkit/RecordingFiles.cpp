/* RecordingFiles.cpp -- recordings and their ".inf"/".nav" companions as one unit.
 *
 * Splits names into folder, base name, index and extension, finds free names,
 * renames, moves and deletes so that companions follow the main file, tells
 * whether a file is played back or recorded, and repairs names the firmware
 * cannot hold. Path forms are PathTypes'; renames and removals go through the
 * OS facade. Owns: MaxRecStreams, the cached number of recording slots.
 */
#include "RecordingFiles.h"

#include <stdio.h>
#include <string.h>

#include "FirmwareBinding.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "TextEncoding.h"
#include "os_facade.h"

#define FIXNAME_BUFFER 128  /* folder part plus repaired name, terminator included */
#define UNIQUE_TRIES 100000 /* numbered names tried before giving up */

int MaxRecStreams = 0;

/* The components of one path; every text holds a path of PATH_BUFFER bytes. */
typedef struct RecName {
  char Folder[PATH_BUFFER]; /* up to and including the last "/" */
  char Base[PATH_BUFFER];   /* name without extension, "-" and index */
  char Ext[PATH_BUFFER];    /* from the last "." on, dot included */
  int Index;                /* final "-N" with N 1..9, else 0 */
  bool IsRec;               /* a recording: HDD_isRecFileName */
  bool IsDel;               /* the name carried ".del" */
} RecName;

/* Cuts the last n characters of text. */
static void CutTail(char *text, size_t n)
{
  size_t len = strlen(text);
  text[len >= n ? len - n : 0] = '\0';
}

/* The main files that are recordings, each with an ".inf" and a ".nav"
 * companion: the copy service carries all three together, and renames,
 * moves and deletions here keep them together alike. */
static const char *const RecordingEndings[] = {".rec", ".mpg", ".ts"};
#define RECORDING_ENDINGS (sizeof RecordingEndings / sizeof RecordingEndings[0])

bool HDD_isRecFileName(const char *name)
{
  bool rec = false;
  for (size_t i = 0; name != nullptr && name[0] != '\0' && i < RECORDING_ENDINGS && !rec; i++)
    rec = StringEndsWith(name, RecordingEndings[i]);
  return rec;
}

/* A recording's ".inf" or ".nav": the name without its last 4 characters
 * is a recording. */
static bool EndsWithCompanion(const char *name)
{
  char main[PATH_BUFFER];
  size_t len = strlen(name);
  if (!(StringEndsWith(name, ".inf") || StringEndsWith(name, ".nav")) || len - 4 >= sizeof main) return false;
  snprintf(main, sizeof main, "%.*s", (int)(len - 4), name);
  return HDD_isRecFileName(main);
}

/* Splits the name part (no folder) into base, extension and index. */
static void SplitName(char *name, RecName *rn)
{
  if (StringEndsWith(name, ".del")) {
    rn->IsDel = true;
    CutTail(name, 4);
  }
  if (EndsWithCompanion(name)) CutTail(name, 4);
  rn->IsRec = HDD_isRecFileName(name);
  char *dot = strrchr(name, '.');
  if (dot != nullptr) {
    snprintf(rn->Ext, sizeof(rn->Ext), "%s", dot);
    *dot = '\0';
  }
  /* Only a single digit 1..9 after a "-" is an index: Film-10 is a name. */
  size_t len = strlen(name);
  if (len >= 3 && name[len - 2] == '-' && name[len - 1] >= '1' && name[len - 1] <= '9') {
    rn->Index = name[len - 1] - '0';
    name[len - 2] = '\0';
  }
  snprintf(rn->Base, sizeof(rn->Base), "%s", name);
}

static void SplitPath(const char *path, RecName *rn)
{
  char work[PATH_BUFFER];

  memset(rn, 0, sizeof(*rn));
  snprintf(work, sizeof(work), "%s", path);
  char *slash = strrchr(work, '/');
  char *name = work;
  if (slash != nullptr) {
    name = slash + 1;
    snprintf(rn->Folder, sizeof(rn->Folder), "%.*s", (int)(name - work), work);
  }
  SplitName(name, rn);
}

void SeparateFileNameComponents(const char *path, char *folder, char *name, char *ext, int *index, bool *isRec,
                                bool *isDel)
{
  RecName rn;

  if (path == nullptr || path[0] == '\0' || name == nullptr) return;
  SplitPath(path, &rn);
  if (folder != nullptr) memcpy(folder, rn.Folder, strlen(rn.Folder) + 1);
  memcpy(name, rn.Base, strlen(rn.Base) + 1);
  if (ext != nullptr) memcpy(ext, rn.Ext, strlen(rn.Ext) + 1);
  if (index != nullptr) *index = rn.Index;
  if (isRec != nullptr) *isRec = rn.IsRec;
  if (isDel != nullptr) *isDel = rn.IsDel;
}

/* The companion of a recording with the suffix ".inf" or ".nav"; false when
 * the name does not fit a path buffer. */
static bool CompanionName(const RecName *rn, const char *suffix, char *dest)
{
  const char *del = rn->IsDel ? ".del" : "";
  int n;
  if (rn->Index != 0)
    n = snprintf(dest, PATH_BUFFER, "%s%s-%d%s%s%s", rn->Folder, rn->Base, rn->Index, rn->Ext, suffix, del);
  else n = snprintf(dest, PATH_BUFFER, "%s%s%s%s%s", rn->Folder, rn->Base, rn->Ext, suffix, del);
  return n > 0 && n < PATH_BUFFER;
}

/* Renames the ".inf" and then the ".nav" companion; best effort. */
static void RenameCompanions(const RecName *from, const RecName *to)
{
  static const char *const suffixes[2] = {".inf", ".nav"};
  char oldName[PATH_BUFFER];
  char newName[PATH_BUFFER];

  struct stat64 st;
  for (int i = 0; i < 2; i++) {
    if (!CompanionName(from, suffixes[i], oldName) || !CompanionName(to, suffixes[i], newName)) continue;
    /* a rename would replace whatever lies there, and its bytes were gone */
    if (OS_Lstat64(newName, &st) == 0) {
      LogEntryTKLibPrintf(true, "HDD_Rename: %.200s is in the way, %.200s stays", newName, oldName);
      continue;
    }
    OS_Rename(oldName, newName);
  }
}

/* Is the name taken? For a recording also when one of its companions' names
 * is: a companion moved there would take the place of a stray file. */
static bool NameTaken(const char *path)
{
  static const char *const suffixes[2] = {".inf", ".nav"};
  char companion[PATH_BUFFER];
  RecName rn;
  if (HDD_Exist(path)) return true;
  SplitPath(path, &rn);
  if (!rn.IsRec) return false;
  for (int i = 0; i < 2; i++)
    if (CompanionName(&rn, suffixes[i], companion) && HDD_Exist(companion)) return true;
  return false;
}

/* Makes path (PATH_BUFFER bytes) a name that does not exist yet; false when
 * no free name fits the buffer, the path is then unchanged. */
static bool MakeUnique(char *path)
{
  char candidate[PATH_BUFFER];
  RecName rn;

  SplitPath(path, &rn);
  const char *del = rn.IsDel ? ".del" : "";
  /* The plain name first, then numbered ones from the name's own index on,
   * so Film-2.rec becomes Film.rec when that is free. */
  int i = rn.Index != 0 ? rn.Index : 2;
  int n = snprintf(candidate, sizeof(candidate), "%s%s%s%s", rn.Folder, rn.Base, rn.Ext, del);
  for (int tries = 0; n > 0 && n < PATH_BUFFER && NameTaken(candidate); tries++, i++) {
    if (tries == UNIQUE_TRIES) return false;
    n = snprintf(candidate, sizeof(candidate), "%s%s-%d%s%s", rn.Folder, rn.Base, i, rn.Ext, del);
  }
  if (n <= 0 || n >= PATH_BUFFER) return false;
  memcpy(path, candidate, (size_t)n + 1);
  return true;
}

void MakeUniqueFileName(char *path)
{
  if (path == nullptr || path[0] == '\0') return;
  if (!MakeUnique(path)) LogEntryTKLibPrintf(true, "MakeUniqueFileName: no free name for '%s'", path);
}

bool HDD_Rename(const char *oldPath, const char *newPath)
{
  char from[PATH_BUFFER];
  char to[PATH_BUFFER];
  RecName oldName;
  RecName newName;

  if (oldPath == nullptr || oldPath[0] == '\0' || newPath == nullptr || newPath[0] == '\0' || !HDD_Exist(oldPath))
    return false;
  ConvertPathType(oldPath, from, PathKindLinuxFile);
  ConvertPathType(newPath, to, PathKindLinuxFile);
  /* Without a free name the rename would replace another file. */
  if (from[0] == '\0' || to[0] == '\0' || !MakeUnique(to)) return false;
  bool renamed = OS_Rename(from, to) == 0;
  SplitPath(from, &oldName);
  /* Companions follow a main file that moved; renamed alone they would be
   * parted from a recording that kept its name. */
  if (renamed && oldName.IsRec) {
    SplitPath(to, &newName);
    RenameCompanions(&oldName, &newName);
  }
  return renamed;
}

/* folder (any form) as an OS folder followed by name; false when it does
 * not convert or does not fit. */
static bool JoinLinuxPath(const char *folder, const char *name, char *dest)
{
  char linuxFolder[PATH_BUFFER];
  ConvertPathType(folder, linuxFolder, PathKindLinuxFolder);
  if (linuxFolder[0] == '\0') return false;
  int n = snprintf(dest, PATH_BUFFER, "%s%s", linuxFolder, name);
  return n > 0 && n < PATH_BUFFER;
}

/* A move is a rename across folders. The result tells whether a recording
 * moved with its companions: a file that is not a recording moves alone and
 * gives false. */
bool HDD_Move(const char *fileName, const char *fromDir, const char *toDir)
{
  char from[PATH_BUFFER];
  char to[PATH_BUFFER];
  RecName fromName;
  RecName toName;

  if (fileName == nullptr || fileName[0] == '\0' || fromDir == nullptr || toDir == nullptr) return false;
  if (!JoinLinuxPath(fromDir, fileName, from) || !HDD_Exist(from)) return false;
  if (!JoinLinuxPath(toDir, fileName, to) || !MakeUnique(to)) return false;
  if (OS_Rename(from, to) != 0) return false;
  SplitPath(from, &fromName);
  if (!fromName.IsRec) return false;
  SplitPath(to, &toName);
  RenameCompanions(&fromName, &toName);
  return true;
}

/* Stops whatever plays or records the file, without waiting for it. */
static void StopUse(int inUse)
{
  if (inUse == INUSE_PLAYBACK || inUse == INUSE_PLAYBACK_MODE5) {
    TAP_Hdd_StopTs();
    TAP_Hdd_StopMp3();
  } else if (inUse >= INUSE_RECORDING && inUse <= INUSE_RECORDING + 3) {
    TAP_Hdd_StopRecord((byte)(inUse - INUSE_RECORDING));
  }
}

void HDD_Delete(const char *path)
{
  char target[PATH_BUFFER];
  char companion[PATH_BUFFER];
  RecName rn;

  if (path == nullptr || path[0] == '\0') return;
  ConvertPathType(path, target, PathKindLinuxFile);
  if (target[0] == '\0') return;
  /* Naming a companion means the recording; the cut comes before the use
   * test so that a recording named by its ".nav" is stopped too. */
  if (EndsWithCompanion(target)) CutTail(target, 4);
  StopUse(HDD_isFileInUse(target));
  OS_Remove(target);
  SplitPath(target, &rn);
  if (!rn.IsRec) return;
  if (CompanionName(&rn, ".inf", companion)) OS_Remove(companion);
  if (CompanionName(&rn, ".nav", companion)) OS_Remove(companion);
}

/* Path of a firmware file record, or false when it has none. */
static bool RecordPath(const FwFileRecord *file, char *dest)
{
  return file != nullptr && HDD_GetAbsolutePathByTypeFile(file, dest) && dest[0] != '\0';
}

/* 1 or 2 when the file plays back, else 0. */
static int PlaybackUse(const char *target)
{
  FwPlayInfo info;
  char playing[PATH_BUFFER];

  memset(&info, 0, sizeof(info));
  if (!TAP_Hdd_GetPlayInfo(&info) || info.PlayMode == 0 || info.PlayActive == 0) return 0;
  if (!RecordPath(info.File, playing)) return 0;
  if (StringEndsWith(playing, ".inf") || StringEndsWith(playing, ".nav")) CutTail(playing, 4);
  if (strcmp(playing, target) != 0) return 0;
  return info.PlayMode == 5 ? INUSE_PLAYBACK_MODE5 : INUSE_PLAYBACK;
}

int HDD_isFileInUse(const char *path)
{
  char target[PATH_BUFFER];
  char recording[PATH_BUFFER];
  FwFileRecord *recFile;

  if (path == nullptr || path[0] == '\0') return INUSE_NONE;
  ConvertPathType(path, target, PathKindLinuxFile);
  if (target[0] == '\0') return INUSE_NONE;
  if (StringEndsWith(target, ".inf")) CutTail(target, 4);
  int inUse = PlaybackUse(target);
  if (inUse != INUSE_NONE) return inUse;
  int slots = HDD_NumberOfRECSlots();
  for (int s = 0; s < slots; s++)
    if (HDD_GetRecSlotFiles((byte)s, &recFile, nullptr, nullptr) && RecordPath(recFile, recording) &&
        strcmp(recording, target) == 0)
      return INUSE_RECORDING + s;
  return INUSE_NONE;
}

/* Record streams of this model from the model data file; 0 when unknown. */
static int ModelRecStreams(void)
{
  FirmwareDatHeader *header;
  FirmwareDatModel *models;

  if (!LoadFirmwareDat(&header, &models, nullptr) || header == nullptr || models == nullptr) return 0;
  word sysId = GetSysID();
  for (dword i = 0; i < header->NrOfModels; i++)
    if (models[i].SysID == sysId) return (int)models[i].MaxRecStreams;
  return 0;
}

int HDD_NumberOfRECSlots(void)
{
  if (MaxRecStreams != 0) return MaxRecStreams;
  int streams = ModelRecStreams();
  /* The firmware's slot table is what can be read, whatever the data says. */
  if (streams < 0 || streams > FW_REC_SLOT_TABLE) {
    LogEntryTKLibPrintf(true, "HDD_NumberOfRECSlots: model data claims %d slots, using %d", streams, FW_REC_SLOT_TABLE);
    streams = FW_REC_SLOT_TABLE;
  }
  MaxRecStreams = streams != 0 ? streams : 2;
  return MaxRecStreams;
}

bool HDD_GetRecSlotFiles(byte slot, FwFileRecord **recFile, FwFileRecord **infFile, FwFileRecord **navFile)
{
  FwRecSlotFiles *table = (FwRecSlotFiles *)FIS_vhddRecordFile();
  bool exists = table != nullptr && slot < HDD_NumberOfRECSlots();

  if (recFile != nullptr) *recFile = exists ? table[slot].File[0] : nullptr;
  if (infFile != nullptr) *infFile = exists ? table[slot].File[1] : nullptr;
  if (navFile != nullptr) *navFile = exists ? table[slot].File[2] : nullptr;
  return exists;
}

/* The name made valid for the firmware's file system, in place in a
 * buffer of PATH_BUFFER bytes. */
static void RepairName(char *name)
{
  if (isUTFFirmware()) StrMkUTF8(name, 9, PATH_BUFFER);
  else MakeValidFileName(name, LC_CONTROL);
}

/* fileName with its name part repaired, into fixed (FIXNAME_BUFFER bytes);
 * false when folder part and repaired name do not fit it, or nothing of the
 * name is left. */
static bool BuildFixedName(const char *fileName, char *fixed)
{
  char name[PATH_BUFFER]; /* room for a name three times as long in UTF-8 */
  const char *slash = strrchr(fileName, '/');
  size_t folderLen = slash != nullptr ? (size_t)(slash - fileName) + 1 : 0;

  if (strlen(fileName) >= FIXNAME_BUFFER) return false;
  snprintf(name, sizeof(name), "%s", fileName + folderLen);
  RepairName(name);
  size_t nameLen = strlen(name);
  if (nameLen == 0 || folderLen + nameLen >= FIXNAME_BUFFER) return false;
  memcpy(fixed, fileName, folderLen);
  memcpy(fixed + folderLen, name, nameLen + 1);
  return true;
}

bool FixInvalidFileName(char *fileName)
{
  char fixed[FIXNAME_BUFFER];
  char unique[PATH_BUFFER];

  if (fileName == nullptr || fileName[0] == '\0' || !HDD_Exist(fileName) || HDD_isFileInUse(fileName) != INUSE_NONE)
    return false;
  if (!BuildFixedName(fileName, fixed)) {
    LogEntryTKLibPrintf(true, "FixInvalidFileName: '%.200s' is too long or cannot be repaired", fileName);
    return false;
  }
  if (strcmp(fixed, fileName) == 0) return true;
  /* The caller's buffer holds a file name: the unique name must fit it. */
  snprintf(unique, sizeof(unique), "%s", fixed);
  if (!MakeUnique(unique) || strlen(unique) >= FIXNAME_BUFFER) {
    LogEntryTKLibPrintf(true, "FixInvalidFileName: no free name for '%.200s'", fixed);
    return false;
  }
  bool renamed = HDD_Rename(fileName, unique);
  if (renamed) memcpy(fileName, unique, strlen(unique) + 1);
  return renamed;
}
