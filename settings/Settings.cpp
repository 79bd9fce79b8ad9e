/* Settings.cpp -- load and save "Ferrox.ini", the settings both plug-ins share.
 *
 * The same functions serve the copy service and the setup plug-in, each
 * started with its profile (application name, whose starting values, the
 * source root to reset). Reading, writing and the typo check walk
 * SettingsTable. The INI text itself is the toolkit's INI store.
 * Owns: SettingsProblem and the profile in use.
 */
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "IniStore.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "Settings.h"
#include "TextEncoding.h"

char SettingsProblem[SETTINGS_PROBLEM_SIZE] = "";
const char *SettingsSaveError = "";

/* the copy service's, until a plug-in starts the settings with its own */
static const SettingsProfile DefaultProfile = {"Ferrox", SettingsForService, nullptr, 0, true};
static const SettingsProfile *Own = &DefaultProfile;
#define DISK_ROOT_SLASH TAPFS_ROOT "/" /* folders below the internal disk start so */
#define DISK_ROOT_SLASH_LEN (sizeof DISK_ROOT_SLASH - 1)

void SettingsStart(const SettingsProfile *own)
{
  CallTraceEnter("SettingsStart");
  Own = own != nullptr ? own : &DefaultProfile;
  for (int i = 0; i < SETTINGS_COUNT; i++) {
    const tSetting *set = &SettingsTable[i];
    if (set->Kind == SettingFolder) snprintf(set->Folder, SETTINGS_FOLDER_SIZE, "%s", set->FirstRunFolder[Own->Plugin]);
    else *set->Number = set->FirstRun[Own->Plugin];
  }
  CallTraceExit(nullptr);
}

/* Reads every setting from the open store, in the order they are written:
 * numbers within their bounds, flags as 0 or 1 (any non-zero number counts
 * as set), folders up to their size. */
static void ReadSettings(void)
{
  CallTraceEnter("ReadSettings");
  for (int i = 0; i < SETTINGS_COUNT; i++) {
    const tSetting *set = &SettingsTable[i];
    if (set->Kind == SettingFolder)
      /* an empty folder is one not chosen yet, as the copy service writes
       * it at its first start: it stays empty, and the run asks for it */
      INIGetString(set->Key, set->Folder, INIHasKey(set->Key) ? "" : set->MissingFolder, SETTINGS_FOLDER_SIZE);
    else if (set->Kind == SettingFlag) *set->Number = INIGetInt(set->Key, set->Missing, INT_MIN, INT_MAX) != 0 ? 1 : 0;
    else *set->Number = INIGetInt(set->Key, set->Missing, set->Min, set->Max);
  }
  CallTraceExit(nullptr);
}

#define CHECK_KEY_MAX 32 /* longer keys are nobody's typo of ours */

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

/* Edits (insert, delete, change, swap of two neighbours) that turn a into
 * b without regard to ASCII case; both at most CHECK_KEY_MAX long. */
static int KeyDistance(const char *a, int la, const char *b, int lb)
{
  CallTraceEnter("KeyDistance");
  int d[CHECK_KEY_MAX + 1][CHECK_KEY_MAX + 1];
  for (int i = 0; i <= la; i++) d[i][0] = i;
  for (int j = 0; j <= lb; j++) d[0][j] = j;
  for (int i = 1; i <= la; i++)
    for (int j = 1; j <= lb; j++) {
      int cost = LowerAscii(a[i - 1]) == LowerAscii(b[j - 1]) ? 0 : 1;
      int best = d[i - 1][j] + 1;
      if (d[i][j - 1] + 1 < best) best = d[i][j - 1] + 1;
      if (d[i - 1][j - 1] + cost < best) best = d[i - 1][j - 1] + cost;
      if (i > 1 && j > 1 && LowerAscii(a[i - 1]) == LowerAscii(b[j - 2]) &&
          LowerAscii(a[i - 2]) == LowerAscii(b[j - 1]) && d[i - 2][j - 2] + 1 < best)
        best = d[i - 2][j - 2] + 1;
      d[i][j] = best;
    }
  CallTraceExit(nullptr);
  return d[la][lb];
}

/* One "key=value" line of the file: a key that is none of ours but differs
 * from one by a letter or two, and a number key whose value is no number,
 * are pointed out with the line's number (the value is read as before). */
static void CheckSettingsLine(int lineNo, const char *line, int len)
{
  CallTraceEnter("CheckSettingsLine");
  const char *eq = (const char *)memchr(line, '=', (size_t)len);
  int keyLen = eq != nullptr ? (int)(eq - line) : 0;
  if (keyLen > 0 && keyLen <= CHECK_KEY_MAX && line[0] != ';' && line[0] != '#') {
    const char *value = eq + 1;
    int valueLen = len - keyLen - 1;
    int near = -1, nearDistance = 3;
    bool known = false;
    for (int k = 0; k < SETTINGS_COUNT && !known; k++) {
      int kl = (int)strlen(SettingsTable[k].Key);
      int dist = KeyDistance(line, keyLen, SettingsTable[k].Key, kl);
      if (dist == 0) {
        known = true;
        bool number = valueLen > 0;
        for (int i = 0; i < valueLen; i++)
          if (!((value[i] >= '0' && value[i] <= '9') || (i == 0 && value[i] == '-' && valueLen > 1))) number = false;
        if (SettingsTable[k].Kind != SettingFolder && !number)
          LogEntryTKLibPrintf(true, "Settings: line %d of %s: the value of %s is no number: '%.*s'", lineNo,
                              SETTINGS_FILE, SettingsTable[k].Key, valueLen < 60 ? valueLen : 60, value);
      } else if (dist < nearDistance) {
        near = k;
        nearDistance = dist;
      }
    }
    if (!known && near >= 0)
      LogEntryTKLibPrintf(true, "Settings: line %d of %s: unknown key '%.*s' is ignored; %s meant?", lineNo,
                          SETTINGS_FILE, keyLen, line, SettingsTable[near].Key);
  }
  CallTraceExit(nullptr);
}

/* Walks the held text line by line. */
static void CheckSettingsText(void)
{
  CallTraceEnter("CheckSettingsText");
  const char *p = INIBuffer;
  const char *end = INIBuffer != nullptr ? INIBuffer + strnlen(INIBuffer, BufferSize) : nullptr;
  int lineNo = 1;
  while (p != nullptr && p < end) {
    const char *eol = p;
    while (eol < end && *eol != '\r' && *eol != '\n') eol++;
    CheckSettingsLine(lineNo, p, (int)(eol - p));
    if (eol < end && *eol == '\r' && eol + 1 < end && eol[1] == '\n') eol++;
    p = eol + 1;
    lineNo++;
  }
  CallTraceExit(nullptr);
}

/* Whether folder is in the firmware's form of a folder of the internal disk:
 * the firmware's disk begins with these two folders at its root. */
static bool FirmwareForm(const char *folder)
{
  CallTraceEnter("FirmwareForm");
  static const char *const tops[] = {DATA_FILES_DIR, PROGRAM_FILES_DIR};
  bool firmware = false;
  for (size_t i = 0; i < sizeof tops / sizeof tops[0] && !firmware; i++) {
    size_t len = strlen(tops[i]);
    firmware = strncmp(folder, tops[i], len) == 0 && (folder[len] == '\0' || folder[len] == '/');
  }
  CallTraceExit(nullptr);
  return firmware;
}

/* Folders are kept as absolute paths: a bare name (no leading "/") is a
 * folder of the recordings area, a folder in the firmware's form
 * ("/DataFiles/Archive") is taken below "/mnt/hd", and any other absolute
 * folder ("/mnt/sdb1/Backup") stays as it is. A value too long to take its
 * prefix is dropped rather than cut, since a cut path names some other
 * folder. */
static void NormaliseFolder(char *folder, const char *key)
{
  CallTraceEnter("NormaliseFolder");
  const char *prefix = folder[0] == '\0' || strncmp(folder, DISK_ROOT_SLASH, DISK_ROOT_SLASH_LEN) == 0 ? nullptr
                       : folder[0] != '/'     ? DATAFILES_PREFIX
                       : FirmwareForm(folder) ? TAPFS_ROOT
                                              : nullptr;
  if (prefix != nullptr) {
    if (strlen(folder) + strlen(prefix) >= SETTINGS_FOLDER_SIZE) {
      LogEntryTKLibPrintf(true, "Settings: %s is too long for a folder and is ignored", key);
      folder[0] = '\0';
    } else {
      InsertAt(folder, 0, prefix, SETTINGS_FOLDER_SIZE);
    }
  }
  CallTraceExit(nullptr);
}

/* Writes the folder path in a canonical form: one "/" between components,
 * none at the end, "." dropped and ".." taking back its parent. */
static void CanonicalFolder(const char *path, char *out, size_t outSize)
{
  CallTraceEnter("CanonicalFolder");
  size_t used = 0;
  out[0] = '\0';
  while (*path != '\0') {
    while (*path == '/') path++;
    size_t len = strcspn(path, "/");
    if (len == 0) break;
    if (len == 2 && strncmp(path, "..", 2) == 0) {
      char *slash = strrchr(out, '/');
      used = slash != nullptr ? (size_t)(slash - out) : 0;
      out[used] = '\0';
    } else if (!(len == 1 && path[0] == '.') && used + 1 + len < outSize) {
      out[used++] = '/';
      memcpy(out + used, path, len);
      used += len;
      out[used] = '\0';
    }
    path += len;
  }
  CallTraceExit(nullptr);
}

/* The destination is the source itself written differently, or a folder
 * inside it: a move would delete what it just copied, and every run would
 * copy its own copies again. Whole components count, so "MoveToNAS-Archive"
 * is not inside "MoveToNAS". */
static bool DestinationInsideSource(void)
{
  CallTraceEnter("DestinationInsideSource");
  char source[512], dest[512];
  CanonicalFolder(MoveDir, source, sizeof source);
  CanonicalFolder(ShareDir, dest, sizeof dest);
  size_t len = strlen(source);
  bool inside = len > 0 && strncmp(dest, source, len) == 0 && (dest[len] == '\0' || dest[len] == '/');
  CallTraceExit(nullptr);
  return inside;
}

FolderVerdict SettingsFolderVerdict(void)
{
  CallTraceEnter("SettingsFolderVerdict");
  FolderVerdict verdict = FolderUsable;
  if (MoveDir[0] == '\0' || ShareDir[0] == '\0') verdict = FolderNotChosen;
  else if (strcmp(MoveDir, ShareDir) == 0) verdict = FolderSame;
  else if (DestinationInsideSource()) verdict = FolderDestInSource;
  else if (MountedDirSource == 0 && MountedDirDest == 0) verdict = FolderBothInternal;
  else if (strncmp(MoveDir, DISK_ROOT_SLASH, DISK_ROOT_SLASH_LEN) != 0) verdict = FolderSourceOffDisk;
  CallTraceExit(nullptr);
  return verdict;
}

void LoadINI(void)
{
  CallTraceEnter("LoadINI");
  SettingsProblem[0] = '\0';
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  bool inFolder = HDD_ChangeDir(SETTINGS_FOLDER);
  IniPlace place = inFolder ? INIOpenFile(SETTINGS_FILE, nullptr) : IniPlaceNone;

  if (place == IniPlaceNew) {
    /* no file yet: it is written from what the globals hold */
    INICloseFile();
    if (Own->WriteBack) SaveINI();
  } else {
    /* An unreadable file reads as an empty one: every key its default. */
    if (place != IniPlaceNone) CheckSettingsText();
    ReadSettings();
    INICloseFile();
    /* the destination first, then the source, as their lines always came */
    for (int i = SETTINGS_COUNT - 1; i >= 0; i--)
      if (SettingsTable[i].Kind == SettingFolder) NormaliseFolder(SettingsTable[i].Folder, SettingsTable[i].Key);
    /* Writing back over a file that could not be read would replace the
     * user's settings (and whatever else the file holds) with defaults; a
     * file that is no plain text would lose what the store cannot hold. */
    if (place != IniPlaceNone && INITextProblem[0] == '\0') {
      if (Own->WriteBack) SaveINI();
    } else if (place != IniPlaceNone) {
      snprintf(SettingsProblem, sizeof SettingsProblem,
               "Settings: %s/%s %s: read as far as it goes and not written back; save it as plain text",
               SETTINGS_FOLDER, SETTINGS_FILE, INITextProblem);
      LogEntryTKLibPrintf(true, "%s", SettingsProblem);
    } else {
      LogEntryTKLibPrintf(true, "Settings: %s/%s cannot be read, defaults in use", SETTINGS_FOLDER, SETTINGS_FILE);
    }
  }
  if (Own->TapfsRoot != nullptr && Own->TapfsRootSize > 0)
    snprintf(Own->TapfsRoot, Own->TapfsRootSize, "%s", TAPFS_ROOT);
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
}

/* Sets every key in the open store, in table order. */
static void WriteSettings(void)
{
  CallTraceEnter("WriteSettings");
  for (int i = 0; i < SETTINGS_COUNT; i++) {
    const tSetting *set = &SettingsTable[i];
    if (set->Kind == SettingFolder) INISetString(set->Key, set->Folder);
    else INISetInt(set->Key, *set->Number);
  }
  CallTraceExit(nullptr);
}

bool SaveINI(void)
{
  CallTraceEnter("SaveINI");
  bool saved = false;
  const char *why = "its folder cannot be reached";
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (HDD_ChangeDir(SETTINGS_FOLDER)) {
    /* The existing text is read first, so comments and foreign keys stay. */
    IniPlace place = INIOpenFile(SETTINGS_FILE, Own->AppName);
    why = "it cannot be read";
    if (place != IniPlaceNone) {
      WriteSettings();
      saved = INISaveFile(SETTINGS_FILE, IniPlaceHere, nullptr);
      why = INISaveError;
    }
    INICloseFile();
  }
  SettingsProblem[0] = '\0';
  SettingsSaveError = saved ? "" : why;
  if (!saved) {
    snprintf(SettingsProblem, sizeof SettingsProblem, "Settings: %s/%s not saved: %s", SETTINGS_FOLDER, SETTINGS_FILE,
             why);
    LogEntryTKLibPrintf(true, "%s", SettingsProblem);
  }
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
  return saved;
}

/* Creates the folder name in the current folder unless it is there. */
static void CreateFolderHere(const char *name)
{
  CallTraceEnter("CreateFolderHere");
  if (!TAP_Hdd_Exist(name)) TAP_Hdd_Create(name, ATTR_FOLDER);
  CallTraceExit(nullptr);
}

void CreateSettingsDir(void)
{
  CallTraceEnter("CreateSettingsDir");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (HDD_ChangeDir(PROGRAM_FILES_DIR)) {
    CreateFolderHere("Settings");
    if (HDD_ChangeDir(SETTINGS_DIR)) CreateFolderHere(FERROX_NAME);
  }
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
}
