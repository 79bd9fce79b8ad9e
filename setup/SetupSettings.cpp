/* SetupSettings.cpp -- the setup plug-in's own set of settings: the fourteen
 * setting globals with the values they hold when the plug-in is loaded (the
 * default folders and a copy speed of 4), and the profile under which the
 * shared settings functions load and save them.
 * Owns: the setting globals, SettingsOwn.
 */
#include "FerroxSetup.h"

int CopySpeed = 4;
int MountType = 0;
char MoveDir[512] = DATAFILES_PREFIX "MoveToNAS";
char ShareDir[512] = DATAFILES_PREFIX "NAS-Share";
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

const SettingsProfile SettingsOwn = {PROGRAM_NAME, DATAFILES_PREFIX "MoveToNAS", DATAFILES_PREFIX "NAS-Share",
                                     nullptr, 0};
