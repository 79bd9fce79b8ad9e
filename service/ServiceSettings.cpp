/* ServiceSettings.cpp -- the copy service's side of the settings.
 *
 * The mount root of the current source and the profile under which the
 * settings module loads and saves the copy service's settings. A job may
 * change folders, move flag and root in memory; LoadDefaultStrings undoes it.
 * Owns: STapfsRoot, ServiceSettingsProfile.
 */
#include <stdio.h>
#include <string.h>

#include "Ferrox.h"
#include "LogTrace.h"
#include "PathTypes.h"

char STapfsRoot[255] = TAPFS_ROOT;

const SettingsProfile ServiceSettingsProfile = {PROGRAM_NAME, SettingsForService, STapfsRoot, sizeof STapfsRoot, true};

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
