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

#define NUMBER(key, var) key, SettingNumber, &var, nullptr
#define FLAG(key, var) key, SettingFlag, &var, nullptr
#define FOLDER(key, var) key, SettingFolder, nullptr, var
#define NO_MENU SETTING_NO_ITEM, nullptr, nullptr, nullptr, 0, 0, 0, nullptr

/* The copy service starts without folders and at a speed beyond the bounds
 * (its first load brings it to 4), the setup from the default folders; a
 * missing "MountedDirDest" reads as 0 although both start at 1. */
// clang-format off
const tSetting SettingsTable[SETTINGS_COUNT] = {
    {NUMBER("CopySpeed", CopySpeed), 1, 4, 4, nullptr, {10, 4}, {nullptr, nullptr},
     ItemSpeed, "  Speed", "Faktor %d", nullptr, 1, 4, 1, nullptr},
    {NUMBER("MountType", MountType), 0, 2, 0, nullptr, {0, 0}, {nullptr, nullptr},
     ItemMountType, "  Mount Type", nullptr, MountTypes, 1, 2, 0, nullptr},
    {FOLDER("MoveDir", MoveDir), 0, 0, 0, DATAFILES_PREFIX "MoveToNAS", {0, 0}, {"", DATAFILES_PREFIX "MoveToNAS"},
     ItemMoveDir, "  MoveDir", nullptr, nullptr, 0, 0, 0, &MountedDirSource},
    {FOLDER("DestDir", ShareDir), 0, 0, 0, DATAFILES_PREFIX "NAS-Share", {0, 0}, {"", DATAFILES_PREFIX "NAS-Share"},
     ItemDestDir, "  DestDir", nullptr, nullptr, 0, 0, 0, &MountedDirDest},
    {FLAG("Move", move), 0, 1, 0, nullptr, {0, 0}, {nullptr, nullptr},
     ItemMove, "  File move or copy", nullptr, MoveOrCopy, 0, 0, 0, nullptr},
    {NUMBER("NASBootTime", NASBootTime), 1, 300, 90, nullptr, {90, 90}, {nullptr, nullptr},
     ItemBootTime, "  NASBootTime", "%d sec", nullptr, 10, 300, 10, nullptr},
    {FLAG("SpecChar", SpecChar), 0, 1, 0, nullptr, {0, 0}, {nullptr, nullptr},
     ItemSpecChar, "  replace Special Char", nullptr, YesNo, 0, 0, 0, nullptr},
    {FLAG("DelDEC", DelDEC), 0, 1, 1, nullptr, {1, 1}, {nullptr, nullptr},
     ItemDelDEC, "  erase (DEC) in Filename", nullptr, YesNo, 0, 0, 0, nullptr},
    {FLAG("MountedDirSource", MountedDirSource), 0, 1, 0, nullptr, {0, 0}, {nullptr, nullptr}, NO_MENU},
    {FLAG("MountedDirDest", MountedDirDest), 0, 1, 0, nullptr, {1, 1}, {nullptr, nullptr}, NO_MENU},
    {FLAG("StopMountTAP", StopMountTAP), 0, 1, 0, nullptr, {0, 0}, {nullptr, nullptr},
     ItemStopMountTAP, "  Stop Mount TAP", nullptr, YesNo, 0, 0, 0, nullptr},
    {FLAG("SetTSLink", SetTSLink), 0, 1, 0, nullptr, {0, 0}, {nullptr, nullptr},
     ItemTSLink, "  Set TS Hardlink", nullptr, YesNo, 0, 0, 0, nullptr},
    {FLAG("LogLenth", LogLength), 0, 1, 0, nullptr, {0, 0}, {nullptr, nullptr},
     ItemLogLength, "  Log lengh", nullptr, LogLengths, 0, 0, 0, nullptr},
    {FLAG("CopyAllFiles", CopyAllFiles), 0, 1, 0, nullptr, {0, 0}, {nullptr, nullptr},
     ItemCopyAllFiles, "  Move all files from DataFiles", nullptr, YesNo, 0, 0, 0, nullptr},
    {FLAG("ShowResult", ShowResult), 0, 1, 1, nullptr, {1, 1}, {nullptr, nullptr},
     ItemShowResult, "  Show result on TV", nullptr, YesNo, 0, 0, 0, nullptr},
};
// clang-format on

const tSetting *SettingOfMenuItem(int item)
{
  CallTraceEnter("SettingOfMenuItem");
  const tSetting *found = nullptr;
  for (int i = 0; i < SETTINGS_COUNT && found == nullptr; i++)
    if (SettingsTable[i].MenuItem == item && item != SETTING_NO_ITEM) found = &SettingsTable[i];
  CallTraceExit(nullptr);
  return found;
}
