/* PathTypes.h -- path forms, the plug-in's current folder and the folder stack.
 *
 * The disk API works in TAPFS ("/" is the internal disk, every plug-in has a
 * current folder), the operating system below "/mnt/hd". Paths are classified
 * and converted between the five kinds here; OS queries go through the OS
 * facade; paths are at most 511 characters. Owns: the folder stack, the
 * plug-in's table index, the learnt success value of the change-folder call.
 */
#ifndef FERROX_TOOLKIT_PATHTYPES_H
#define FERROX_TOOLKIT_PATHTYPES_H

#include "receiver_paths.h"
#include "tap_api.h"

typedef enum PathKind {
  PathKindName = 0,        /* a bare file name, no "/" */
  PathKindTapFolder = 1,   /* TAPFS folder, ends in "/" */
  PathKindLinuxFolder = 2, /* OS folder under "/mnt/hd", ends in "/" */
  PathKindTapFile = 3,     /* TAPFS folder and file name */
  PathKindLinuxFile = 4    /* OS folder and file name */
} PathKind;

#define PATH_BUFFER 512     /* working buffers for paths */
#define DIR_STACK_DEPTH 16  /* entries of the folder stack */
#define DIR_STACK_ENTRY 200 /* bytes of one stack entry */

/* Folder stack: absolute TAPFS folders; depth -1 when empty */
extern char TAPDirStack[DIR_STACK_DEPTH][DIR_STACK_ENTRY];
extern int TAPDirStackDepth;
/* Firmware access: the plug-in's table slot (-1 until read) and the learnt
 * success value of TAP_Hdd_ChangeDir (learnt while ReturnTypeToBeChecked;
 * 0 while none is learnt: then any non-zero result counts) */
extern int TAP_TableIndex;
extern dword ChDirSuccessful;
extern bool ReturnTypeToBeChecked;

PathKind GetPathType(const char *path);
void ConvertPathType(const char *src, char *dest, PathKind wanted);
bool HDD_ChangeDir(const char *path);
int HDD_TAP_GetCurrentDir(char *dest);
bool HDD_TAP_PushDir(void);
bool HDD_TAP_PopDir(void);
/* Save and restore the caller's folder around folder changes: on the stack
 * when it can take the folder, else in keptDir (PATH_BUFFER bytes), so that
 * a refused push never makes the matching pop take someone else's entry. */
bool HDD_TAP_KeepDir(char *keptDir);
void HDD_TAP_RestoreDir(bool pushed, const char *keptDir);
bool HDD_Exist(const char *path);
/* Is something mounted at path: does it exist on another device than the
 * internal disk? An unmounted mount point is a folder of the internal disk. */
bool HDD_IsMounted(const char *path);
/* Whether the entry at path (absolute) is a symbolic link, whatever it points
 * to: walks and pickers do not go through links (a link to "." is a loop). */
bool HDD_IsLink(const char *path);
bool HDD_GetAbsolutePathByTypeFile(const FwFileRecord *file, char *dest);

#endif
