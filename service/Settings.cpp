/* Settings.cpp -- load and save "Ferrox.ini", the settings both plug-ins share.
 *
 * The same functions serve the copy service and the setup plug-in: each
 * plug-in defines the fourteen setting globals with its own starting values
 * and its SettingsOwn profile (application name, folder defaults, the source
 * root to reset). The INI text itself is the toolkit's INI store.
 * Owns nothing: the globals belong to the plug-in that links this.
 */
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "IniStore.h"
#include "LogTrace.h"
#include "PathTypes.h"
#include "Settings.h"
#include "TextEncoding.h"

#define FOLDER_SIZE 512
#define DISK_ROOT_SLASH "/mnt/hd/" /* folders below the internal disk start so */
#define DISK_ROOT_SLASH_LEN 8

/* A flag key: any non-zero number counts as set. */
static int ReadFlag(const char *key, int defaultValue)
{
  CallTraceEnter("ReadFlag");
  int value = INIGetInt(key, defaultValue, INT_MIN, INT_MAX) != 0 ? 1 : 0;
  CallTraceExit(nullptr);
  return value;
}

/* Reads the fourteen keys from the open store, in the order they are written. */
static void ReadSettings(void)
{
  CallTraceEnter("ReadSettings");
  CopySpeed = INIGetInt("CopySpeed", 4, 1, 4);
  MountType = INIGetInt("MountType", 0, 0, 2);
  INIGetString("MoveDir", MoveDir, SettingsOwn.DefaultMoveDir, FOLDER_SIZE);
  INIGetString("DestDir", ShareDir, SettingsOwn.DefaultShareDir, FOLDER_SIZE);
  move = ReadFlag("Move", 0);
  NASBootTime = INIGetInt("NASBootTime", 90, 1, 300);
  SpecChar = ReadFlag("SpecChar", 0);
  DelDEC = ReadFlag("DelDEC", 1);
  MountedDirSource = ReadFlag("MountedDirSource", 0);
  MountedDirDest = ReadFlag("MountedDirDest", 0);
  StopMountTAP = ReadFlag("StopMountTAP", 0);
  SetTSLink = ReadFlag("SetTSLink", 0);
  LogLength = ReadFlag("LogLenth", 0);
  CopyAllFiles = ReadFlag("CopyAllFiles", 0);
  CallTraceExit(nullptr);
}

/* Folders are kept as absolute paths below "/mnt/hd/": a bare name is a
 * folder of the recordings area. A value too long to take the prefix is
 * dropped rather than cut, since a cut path names some other folder. */
static void NormaliseFolder(char *folder, const char *key)
{
  CallTraceEnter("NormaliseFolder");
  if (strncmp(folder, DISK_ROOT_SLASH, DISK_ROOT_SLASH_LEN) != 0) {
    if (strlen(folder) + DATAFILES_PREFIX_LEN >= FOLDER_SIZE) {
      LogEntryTKLibPrintf(true, "Settings: %s is too long for a folder and is ignored", key);
      folder[0] = '\0';
    } else {
      InsertAt(folder, 0, DATAFILES_PREFIX, FOLDER_SIZE);
    }
  }
  CallTraceExit(nullptr);
}

void LoadINI(void)
{
  CallTraceEnter("LoadINI");
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  bool inFolder = HDD_ChangeDir(SETTINGS_FOLDER);
  IniPlace place = inFolder ? INIOpenFile(SETTINGS_FILE, nullptr) : IniPlaceNone;

  if (place == IniPlaceNew) {
    /* no file yet: it is written from what the globals hold */
    INICloseFile();
    SaveINI();
  } else {
    /* An unreadable file reads as an empty one: every key its default. */
    ReadSettings();
    INICloseFile();
    NormaliseFolder(ShareDir, "DestDir");
    NormaliseFolder(MoveDir, "MoveDir");
    /* Writing back over a file that could not be read would replace the
     * user's settings (and whatever else the file holds) with defaults. */
    if (place != IniPlaceNone)
      SaveINI();
    else
      LogEntryTKLibPrintf(true, "Settings: %s/%s cannot be read, defaults in use", SETTINGS_FOLDER,
                          SETTINGS_FILE);
  }
  if (SettingsOwn.TapfsRoot != nullptr && SettingsOwn.TapfsRootSize > 0)
    snprintf(SettingsOwn.TapfsRoot, SettingsOwn.TapfsRootSize, "%s", TAPFS_ROOT);
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
}

/* Sets the fourteen keys in the open store, in table order. */
static void WriteSettings(void)
{
  CallTraceEnter("WriteSettings");
  INISetInt("CopySpeed", CopySpeed);
  INISetInt("MountType", MountType);
  INISetString("MoveDir", MoveDir);
  INISetString("DestDir", ShareDir);
  INISetInt("Move", move);
  INISetInt("NASBootTime", NASBootTime);
  INISetInt("SpecChar", SpecChar);
  INISetInt("DelDEC", DelDEC);
  INISetInt("MountedDirSource", MountedDirSource);
  INISetInt("MountedDirDest", MountedDirDest);
  INISetInt("StopMountTAP", StopMountTAP);
  INISetInt("SetTSLink", SetTSLink);
  INISetInt("LogLenth", LogLength);
  INISetInt("CopyAllFiles", CopyAllFiles);
  CallTraceExit(nullptr);
}

bool SaveINI(void)
{
  CallTraceEnter("SaveINI");
  bool saved = false;
  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  if (HDD_ChangeDir(SETTINGS_FOLDER)) {
    /* The existing text is read first, so comments and foreign keys stay. */
    IniPlace place = INIOpenFile(SETTINGS_FILE, SettingsOwn.AppName);
    if (place != IniPlaceNone) {
      WriteSettings();
      saved = INISaveFile(SETTINGS_FILE, IniPlaceHere, nullptr);
    }
    INICloseFile();
  }
  if (!saved)
    LogEntryTKLibPrintf(true, "Settings: %s/%s not saved", SETTINGS_FOLDER, SETTINGS_FILE);
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
  if (HDD_ChangeDir("/ProgramFiles")) {
    CreateFolderHere("Settings");
    if (HDD_ChangeDir("/ProgramFiles/Settings")) CreateFolderHere("Ferrox");
  }
  HDD_TAP_RestoreDir(pushed, keptDir);
  CallTraceExit(nullptr);
}
