/* Settings.h -- the settings that the copy service and the setup plug-in share.
 *
 * Both plug-ins keep their fifteen settings in "Ferrox.ini" in
 * "/ProgramFiles/Settings/Ferrox" and hold them in globals of the same names.
 * Each setting is described once, in SettingsTable (SettingsTable.cpp): key,
 * global, kind, bounds, the value when missing, the values at load and how
 * the setup's menu shows and steps it. Loading, writing back, the typo lines
 * and the menu walk that table. Each plug-in links its own copy and starts it
 * with its SettingsProfile (the application name it saves under, whose
 * starting values).
 */
#ifndef FERROX_SETTINGS_SETTINGS_H
#define FERROX_SETTINGS_SETTINGS_H

#include "FerroxFiles.h"
#include "tap_api.h"

/* The start parameter with which the copy service starts the setup on
 * settings it cannot use: this mark and the FolderVerdict (below) in the
 * low byte. Any other parameter is no reason to show. */
#define SETUP_REASON_MARK 0x46520000u
#define SETUP_REASON_MASK 0xFFFFFF00u

/* The settings, as held in memory (keys in the order they are written) */
extern int CopySpeed;        /* "CopySpeed" 1..4: block size multiplier */
extern int MountType;        /* "MountType" 0 NAS, 1 NTFS, 2 Linux */
extern char MoveDir[512];    /* "MoveDir": source folder (SETTINGS_FOLDER_SIZE) */
extern char ShareDir[512];   /* "DestDir": destination folder (SETTINGS_FOLDER_SIZE) */
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
extern int ShowResult;       /* "ShowResult": the run's outcome in a window on the TV */

/* How a setting is held: a number with bounds, a flag (any number read as
 * 0 or 1), or a folder of SETTINGS_FOLDER_SIZE bytes. */
typedef enum SettingKind { SettingNumber, SettingFlag, SettingFolder } SettingKind;

/* Which plug-in holds the settings: each starts from its own values. */
typedef enum SettingsPlugin { SettingsForService = 0, SettingsForSetup = 1 } SettingsPlugin;

/* The setup's menu items, in their order on the screen. */
typedef enum SetupItem {
  ItemSpeed,
  ItemMountType,
  ItemMoveDir,
  ItemDestDir,
  ItemMove,
  ItemBootTime,
  ItemSpecChar,
  ItemDelDEC,
  ItemStopMountTAP,
  ItemTSLink,
  ItemCopyAllFiles,
  ItemLogLength,
  ItemShowResult,
  SETUP_ITEMS /* how many */
} SetupItem;

#define SETTINGS_FOLDER_SIZE 512
#define SETTINGS_COUNT 15
#define SETTING_NO_ITEM (-1)

/* One setting: where it lives in the file, in memory and in the setup's
 * menu. The table holds them in the order they are written. */
typedef struct tSetting {
  const char *Key;               /* key in "Ferrox.ini" */
  SettingKind Kind;              /* number, flag or folder */
  int *Number;                   /* the global of a number or flag, else null */
  char *Folder;                  /* the global of a folder, else null */
  int Min, Max;                  /* a number's bounds: a value beyond is brought to the nearer */
  int Missing;                   /* a number's or flag's value when its key is missing */
  const char *MissingFolder;     /* a folder's value when its key is missing */
  int FirstRun[2];               /* a number's or flag's value at load, by SettingsPlugin */
  const char *FirstRunFolder[2]; /* a folder's value at load, by SettingsPlugin */
  int MenuItem;                  /* its item in the setup's menu, SETTING_NO_ITEM for none */
  const char *Label;             /* the menu's label */
  const char *Format;            /* a number's value text ("%d sec"), or null */
  const char *const *Names;      /* a value's text by the value (flags: 0, 1), or null */
  int Step;                      /* a number's step on Left and Right */
  int BelowMin, AboveMax;        /* where a step beyond the bounds lands */
  int *Mounted;                  /* a folder's flag "is a mount point" (shown yellow) */
} tSetting;

extern const tSetting SettingsTable[SETTINGS_COUNT];

/* What differs between the two plug-ins */
typedef struct SettingsProfile {
  const char *AppName;   /* application name for the settings save */
  SettingsPlugin Plugin; /* whose starting values */
  char *TapfsRoot;       /* copy service: LoadINI sets it to "/mnt/hd"; else null */
  dword TapfsRootSize;   /* size of that buffer */
  bool WriteBack;        /* LoadINI writes what it read back (the copy service);
                                 the setup writes only when the user saves */
} SettingsProfile;

/* Sets every setting to the plug-in's value at load and remembers the
 * profile under which LoadINI and SaveINI work; each plug-in calls it first
 * in TAP_Main. */
void SettingsStart(const SettingsProfile *own);
/* The row of a menu item, or null. */
const tSetting *SettingOfMenuItem(int item);

/* Why the last LoadINI or SaveINI left the file unwritten, as a line for
 * the user ("" when it was written, or needed no writing): a save that could
 * not be done ("... not saved: ..."), a file that is no plain text. */
#define SETTINGS_PROBLEM_SIZE 256
extern char SettingsProblem[SETTINGS_PROBLEM_SIZE];
/* Why the last SaveINI did not save, in words ("its folder cannot be
 * reached", ...), as SettingsProblem ends; "" after a save that worked. */
extern const char *SettingsSaveError;

/* Whether the two folders of the settings make a run: the copy service
 * refuses a run (and opens the setup) on every answer but FolderUsable, and
 * the setup shows the same answer when it opens. */
typedef enum FolderVerdict {
  FolderUsable = 0,
  FolderNotChosen,     /* a folder is empty: not chosen yet */
  FolderSame,          /* source and destination are one folder */
  FolderDestInSource,  /* the destination lies inside the source */
  FolderBothInternal,  /* neither is a mount point */
  FolderSourceOffDisk, /* the source is not on the internal disk, which is all the receiver can list */
  FolderMissing        /* a folder does not exist and cannot be made (the copy service's check) */
} FolderVerdict;

FolderVerdict SettingsFolderVerdict(void);

void LoadINI(void);
bool SaveINI(void);
void CreateSettingsDir(void);

#endif
