/* Settings.h -- the settings that the copy service and the setup plug-in share.
 *
 * Both plug-ins keep their fourteen settings in "Ferrox.ini" in
 * "/ProgramFiles/Settings/Ferrox" and hold them in globals of the same names.
 * The functions (Settings.cpp) are the same for both; each plug-in defines the
 * globals with its own starting values and its SettingsProfile (the
 * application name it saves under, the defaults of the two folders).
 */
#ifndef FERROX_SERVICE_SETTINGS_H
#define FERROX_SERVICE_SETTINGS_H

#include "tap_api.h"

#define SETTINGS_FOLDER "/ProgramFiles/Settings/Ferrox"
#define SETTINGS_FILE "Ferrox.ini"
#define DATAFILES_PREFIX "/mnt/hd/DataFiles/" /* 18 characters */
#define DATAFILES_PREFIX_LEN 18

/* The settings, as held in memory (keys in the order they are written) */
extern int CopySpeed;        /* "CopySpeed" 1..4: block size multiplier */
extern int MountType;        /* "MountType" 0 NAS, 1 NTFS, 2 Linux */
extern char MoveDir[512];    /* "MoveDir": source folder */
extern char ShareDir[512];   /* "DestDir": destination folder */
extern int move;             /* "Move": delete the source after a copy */
extern int NASBootTime;      /* "NASBootTime" 1..300 s: wait for the mount */
extern int SpecChar;         /* "SpecChar": replace special characters */
extern int DelDEC;           /* "DelDEC": remove " (DEC)" from names */
extern int MountedDirSource; /* "MountedDirSource": source is a mount point */
extern int MountedDirDest;   /* "MountedDirDest": destination is a mount point */
extern int StopMountTAP;     /* "StopMountTAP": stop the mount plug-in at the end */
extern int SetTSLink;        /* "SetTSLink": .ts hard link beside copied .rec */
extern int LogLength;        /* "LogLenth": 1 long log, 0 short log */
extern int CopyAllFiles;     /* "CopyAllFiles": gather recordings first */

/* What differs between the two plug-ins */
typedef struct SettingsProfile {
  const char *AppName;        /* application name for the settings save */
  const char *DefaultMoveDir; /* "MoveDir" when the key is missing */
  const char *DefaultShareDir;/* "DestDir" when the key is missing */
  char *TapfsRoot;            /* copy service: LoadINI sets it to "/mnt/hd"; else null */
  dword TapfsRootSize;        /* size of that buffer */
} SettingsProfile;

extern const SettingsProfile SettingsOwn; /* defined by each plug-in */

/* Why the last LoadINI or SaveINI left the file unwritten, as a line for
 * the user ("" when it was written, or needed no writing): a save that could
 * not be done ("... not saved: ..."), a file that is no plain text. */
#define SETTINGS_PROBLEM_SIZE 256
extern char SettingsProblem[SETTINGS_PROBLEM_SIZE];

void LoadINI(void);
bool SaveINI(void);
void CreateSettingsDir(void);

#endif
