/* Triage.cpp -- gathers the unencrypted recordings of "/DataFiles".
 *
 * Every ".rec" and ".mpg" directly in "/DataFiles" whose ".inf" marks it
 * free-to-air or decrypted, and that is neither recorded nor played, moves
 * with its companions into the source folder before a normal work list is
 * built. Moves and the in-use test are the recording file operations'.
 * Owns no globals; GetCryptFlag formats into LogString.
 */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "RecordingFiles.h"
#include "os_facade.h"

#define DATAFILES_LINUX_DIR TAPFS_ROOT DATA_FILES_DIR
#define CRYPT_FLAG_OFFSET 16 /* byte of the ".inf" that holds the encryption state */

enum { CF_FTA = 0, CF_Crypted = 1, CF_Uncrypted = 2, CF_PartlyCrypted = 3 };

const char *GetCryptFlagString(int flag)
{
  const char *text;

  CallTraceEnter("GetCryptFlagString");
  switch (flag & 0xFF) {
    case CF_FTA: text = "FTA"; break;
    case CF_Crypted: text = "crypted"; break;
    case CF_Uncrypted: text = "uncrypted"; break;
    case CF_PartlyCrypted: text = "partly crypted"; break;
    default: text = "???"; break;
  }
  CallTraceExit(nullptr);
  return text;
}

int GetCryptFlag(const char *fileName)
{
  byte flag = CF_Crypted; /* stays so when the ".inf" can't be read */

  CallTraceEnter("GetCryptFlag");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (fileName != nullptr && HDD_ChangeDir(DATA_FILES_DIR)) {
    /* a name cut to fit would open some other file's ".inf" */
    int len = snprintf(LogString, sizeof LogString, "%s.inf", fileName);
    FwFileRecord *inf = len < (int)sizeof LogString ? TAP_Hdd_Fopen(LogString) : nullptr;
    if (inf != nullptr) {
      TAP_Hdd_Fseek(inf, CRYPT_FLAG_OFFSET, 0);
      if (TAP_Hdd_Fread(&flag, 1, 1, inf) != 1) flag = CF_Crypted;
      TAP_Hdd_Fclose(inf);
    }
  }
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
  return flag;
}

/* The source folder is "/DataFiles" itself: moving a recording onto its
 * own folder would only rename it to a free name, at every run. */
static bool TriageIntoDataFiles(void)
{
  CallTraceEnter("TriageIntoDataFiles");
  size_t len = strlen(DATAFILES_LINUX_DIR);
  bool same =
      strncmp(MoveDir, DATAFILES_LINUX_DIR, len) == 0 && (MoveDir[len] == '\0' || strcmp(MoveDir + len, "/") == 0);
  CallTraceExit(nullptr);
  return same;
}

/* One listed recording: keep it when encrypted or in use, else move it. */
static void TriageOne(const char *fileName)
{
  char shortName[sizeof((TapDirEntry *)nullptr)->Name];
  char path[PATH_BUFFER];

  CallTraceEnter("TriageOne");
  size_t len = strlen(fileName);
  snprintf(shortName, sizeof shortName, "%.*s", (int)(len >= 4 ? len - 4 : 0), fileName);
  int flag = GetCryptFlag(fileName);
  snprintf(path, sizeof path, "%s/%s", DATAFILES_LINUX_DIR, fileName);
  if (flag == CF_Crypted || flag == CF_PartlyCrypted) {
    WriteLogF("  Do not move %s because it is %s", shortName, GetCryptFlagString(flag));
  } else if (HDD_isFileInUse(path) != INUSE_NONE) {
    WriteLogF("  Do not move %s because it is in use", shortName);
  } else {
    /* A recording left behind is found again at the next triage; its line
     * says so, as a rename cannot cross to a source folder on another
     * device and the move line alone would report it gathered. */
    bool moved = HDD_Move(fileName, DATAFILES_LINUX_DIR, MoveDir);
    WriteLogF("  Move %s CryptFlag = %s", shortName, GetCryptFlagString(flag));
    if (!moved) WriteLogF("  Move %s failed, it stays in DataFiles", shortName);
  }
  CallTraceExit(nullptr);
}

/* A companion left in "/DataFiles" by a gathering that was cut short (the
 * receiver switched off between the moves of a recording and of its
 * companions) follows its recording into the source folder, where nothing
 * of that name is in its way. */
static void TriageStrayCompanions(void)
{
  TapDirEntry entry;
  char name[sizeof entry.Name], from[PATH_BUFFER], to[PATH_BUFFER], main[PATH_BUFFER];

  CallTraceEnter("TriageStrayCompanions");
  dword count = TAP_Hdd_FindFirst(&entry, "inf|nav");
  for (dword i = 0; i < count; i++) {
    if (i > 0 && !TAP_Hdd_FindNext(&entry)) break;
    if (entry.Attr != ATTR_NORMAL) continue;
    snprintf(name, sizeof name, "%s", entry.Name);
    size_t len = strlen(name);
    int fromLen = snprintf(from, sizeof from, "%s/%s", DATAFILES_LINUX_DIR, name);
    int toLen = snprintf(to, sizeof to, "%s/%s", MoveDir, name);
    int mainLen = snprintf(main, sizeof main, "%s/%.*s", MoveDir, (int)(len > 4 ? len - 4 : 0), name);
    if (len <= 4 || fromLen >= (int)sizeof from || toLen >= (int)sizeof to || mainLen >= (int)sizeof main) continue;
    from[fromLen - 4] = '\0'; /* the recording in "/DataFiles" */
    bool stray = !HDD_Exist(from) && HDD_Exist(main) && !HDD_Exist(to);
    from[fromLen - 4] = '.';
    if (stray && OS_Rename(from, to) == 0) WriteLogF("  Move %s after its recording", name);
  }
  CallTraceExit(nullptr);
}

void MoveAllFilesToMoveToNAS(void)
{
  TapDirEntry entry;

  CallTraceEnter("MoveAllFilesToMoveToNAS");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (TriageIntoDataFiles()) {
    WriteLogF("Move Files from DataFiles to %s: not done, it is DataFiles itself", MoveDir);
  } else if (HDD_ChangeDir(DATA_FILES_DIR "/")) {
    /* ".ts" files are not gathered, sub-folders are not entered */
    dword count = TAP_Hdd_FindFirst(&entry, "rec|mpg");
    WriteLogF("Move Files from DataFiles to %s:", MoveDir);
    for (dword i = 0; i < count; i++) {
      if (i > 0 && !TAP_Hdd_FindNext(&entry)) break;
      entry.Name[sizeof entry.Name - 1] = '\0';
      if (entry.Attr == ATTR_NORMAL) TriageOne(entry.Name);
    }
    TriageStrayCompanions();
    /* the gathered names on the disk before the run deletes any of them */
    OS_SyncDir(MoveDir);
    OS_SyncDir(DATAFILES_LINUX_DIR);
  }
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
}
