/* SettingsTable.cpp -- every setting described once, and the globals.
 *
 * One row per key of "Ferrox.ini", in the order the file has them: where the
 * value lives, its bounds, the value when the key is missing, the values the
 * two plug-ins start from, and how the setup's menu shows and steps it.
 * Settings.cpp loads, writes and checks by this table; the setup's menu
 * builds its items from it. Owns: the fifteen setting globals, the table.
 */
#include <stddef.h>

#include "LogTrace.h"
#include "Settings.h"

int CopySpeed;
int MountType;
char MoveDir[SETTINGS_FOLDER_SIZE];
char ShareDir[SETTINGS_FOLDER_SIZE];
int move;
int NASBootTime;
int SpecChar;
int DelDEC;
int MountedDirSource;
int MountedDirDest;
int StopMountTAP;
int SetTSLink;
int LogLength;
int CopyAllFiles;
int ShowResult;

static const char *const YesNo[] = {"No", "Yes"};
static const char *const MountTypes[] = {"NAS", "NTFS", "Linux (Ext2/3, JFS)"};
static const char *const MoveOrCopy[] = {"Copy", "Move"};
static const char *const LogLengths[] = {"short", "long"};

#define NUMBER(key, var) key, SettingNumber, &var, NULL
#define FLAG(key, var) key, SettingFlag, &var, NULL
#define FOLDER(key, var) key, SettingFolder, NULL, var
#define NO_MENU SETTING_NO_ITEM, NULL, NULL, NULL, 0, 0, 0, NULL

/* The copy service starts without folders and at a speed beyond the bounds
 * (its first load brings it to 4), the setup from the default folders; a
 * missing "MountedDirDest" reads as 0 although both start at 1. */
// clang-format off
const tSetting SettingsTable[SETTINGS_COUNT] = {
    {NUMBER("CopySpeed", CopySpeed), 1, 4, 4, NULL, {10, 4}, {NULL, NULL},
     ItemSpeed, "  Speed", "Faktor %d", NULL, 1, 4, 1, NULL},
    {NUMBER("MountType", MountType), 0, 2, 0, NULL, {0, 0}, {NULL, NULL},
     ItemMountType, "  Mount Type", NULL, MountTypes, 1, 2, 0, NULL},
    {FOLDER("MoveDir", MoveDir), 0, 0, 0, DATAFILES_PREFIX "MoveToNAS", {0, 0}, {"", DATAFILES_PREFIX "MoveToNAS"},
     ItemMoveDir, "  MoveDir", NULL, NULL, 0, 0, 0, &MountedDirSource},
    {FOLDER("DestDir", ShareDir), 0, 0, 0, DATAFILES_PREFIX "NAS-Share", {0, 0}, {"", DATAFILES_PREFIX "NAS-Share"},
     ItemDestDir, "  DestDir", NULL, NULL, 0, 0, 0, &MountedDirDest},
    {FLAG("Move", move), 0, 1, 0, NULL, {0, 0}, {NULL, NULL},
     ItemMove, "  File move or copy", NULL, MoveOrCopy, 0, 0, 0, NULL},
    {NUMBER("NASBootTime", NASBootTime), 1, 300, 90, NULL, {90, 90}, {NULL, NULL},
     ItemBootTime, "  NASBootTime", "%d sec", NULL, 10, 300, 10, NULL},
    {FLAG("SpecChar", SpecChar), 0, 1, 0, NULL, {0, 0}, {NULL, NULL},
     ItemSpecChar, "  replace Special Char", NULL, YesNo, 0, 0, 0, NULL},
    {FLAG("DelDEC", DelDEC), 0, 1, 1, NULL, {1, 1}, {NULL, NULL},
     ItemDelDEC, "  erase (DEC) in Filename", NULL, YesNo, 0, 0, 0, NULL},
    {FLAG("MountedDirSource", MountedDirSource), 0, 1, 0, NULL, {0, 0}, {NULL, NULL}, NO_MENU},
    {FLAG("MountedDirDest", MountedDirDest), 0, 1, 0, NULL, {1, 1}, {NULL, NULL}, NO_MENU},
    {FLAG("StopMountTAP", StopMountTAP), 0, 1, 0, NULL, {0, 0}, {NULL, NULL},
     ItemStopMountTAP, "  Stop Mount TAP", NULL, YesNo, 0, 0, 0, NULL},
    {FLAG("SetTSLink", SetTSLink), 0, 1, 0, NULL, {0, 0}, {NULL, NULL},
     ItemTSLink, "  Set TS Hardlink", NULL, YesNo, 0, 0, 0, NULL},
    {FLAG("LogLenth", LogLength), 0, 1, 0, NULL, {0, 0}, {NULL, NULL},
     ItemLogLength, "  Log lengh", NULL, LogLengths, 0, 0, 0, NULL},
    {FLAG("CopyAllFiles", CopyAllFiles), 0, 1, 0, NULL, {0, 0}, {NULL, NULL},
     ItemCopyAllFiles, "  Move all files from DataFiles", NULL, YesNo, 0, 0, 0, NULL},
    {FLAG("ShowResult", ShowResult), 0, 1, 1, NULL, {1, 1}, {NULL, NULL},
     ItemShowResult, "  Show result on TV", NULL, YesNo, 0, 0, 0, NULL},
};
// clang-format on

const tSetting *SettingOfMenuItem(int item)
{
  CallTraceEnter("SettingOfMenuItem");
  const tSetting *found = NULL;
  for (int i = 0; i < SETTINGS_COUNT && found == NULL; i++)
    if (SettingsTable[i].MenuItem == item && item != SETTING_NO_ITEM) found = &SettingsTable[i];
  CallTraceExit(NULL);
  return found;
}
