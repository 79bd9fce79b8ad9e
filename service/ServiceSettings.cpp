/* ServiceSettings.cpp -- the copy service's own set of settings.
 *
 * The fourteen setting globals with the values they hold when the plug-in is
 * loaded, the mount root of the current source, and the profile under which
 * the shared settings functions (Settings.cpp) load and save them. A job may
 * change folders, move flag and root in memory; LoadDefaultStrings undoes it.
 * Owns: the setting globals, STapfsRoot, SettingsOwn.
 */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "LogTrace.h"
#include "PathTypes.h"

/* Starting values: CopySpeed starts outside its range and MountedDirDest at
 * 1; the first load replaces both. */
int CopySpeed = 10;
int MountType = 0;
char MoveDir[512] = "";
char ShareDir[512] = "";
int move = 0;
int NASBootTime = 90;
int SpecChar = 0;
int DelDEC = 1;
int MountedDirSource = 0;
int MountedDirDest = 1;
int StopMountTAP = 0;
int SetTSLink = 0;
int LogLength = 0;
int CopyAllFiles = 0;

char STapfsRoot[255] = TAPFS_ROOT;

const SettingsProfile SettingsOwn = {PROGRAM_NAME, "MoveToNAS", "NAS-Share", STapfsRoot,
                                     sizeof STapfsRoot};

/* A settings problem of the last load goes into the service log as well,
 * once per run of the service. */
void LoadSettings(void)
{
  CallTraceEnter("LoadSettings");
  static char logged[SETTINGS_PROBLEM_SIZE] = "";
  LoadINI();
  if (SettingsProblem[0] != '\0' && strcmp(logged, SettingsProblem) != 0) {
    snprintf(logged, sizeof logged, "%s", SettingsProblem);
    snprintf(LogString, sizeof LogString, "%s", SettingsProblem);
    WriteLog(LogString);
  }
  CallTraceExit(nullptr);
}

void LoadDefaultStrings(void)
{
  CallTraceEnter("LoadDefaultStrings");
  snprintf(STapfsRoot, sizeof STapfsRoot, "%s/", TAPFS_ROOT);
  /* A job's folders and move flag end here: should the file be gone, the
   * load writes a new one from these, never from the job's values. */
  MoveDir[0] = '\0';
  ShareDir[0] = '\0';
  move = 0;
  LoadSettings();
  CallTraceExit(nullptr);
}
