/* RecordingFiles.h -- recordings and their companions as one unit.
 *
 * A recording (".rec", ".mpg" or ".ts") has ".inf" and ".nav" companions; a deleted one
 * carries ".del" on all three. Names are split, free names found, files
 * deleted, renamed and moved with their companions; a file being played or
 * recorded is recognised (and stopped before a delete); names the firmware
 * cannot hold are repaired. Owns: the cached number of recording slots.
 */
#ifndef FERROX_TOOLKIT_RECORDINGFILES_H
#define FERROX_TOOLKIT_RECORDINGFILES_H

#include "tap_api.h"

/* HDD_isFileInUse results: 3 + s is "recorded in slot s" */
#define INUSE_NONE 0
#define INUSE_PLAYBACK 1
#define INUSE_PLAYBACK_MODE5 2
#define INUSE_RECORDING 3

/* number of recording slots, 0 until HDD_NumberOfRECSlots first asked */
extern int MaxRecStreams;

void HDD_Delete(const char *path);
bool HDD_Rename(const char *oldPath, const char *newPath);
bool HDD_Move(const char *fileName, const char *fromDir, const char *toDir);
void MakeUniqueFileName(char *path); /* 512-byte buffer */
/* folder, name (the base name) and ext: buffers of PATH_BUFFER (512) bytes */
void SeparateFileNameComponents(const char *path, char *folder, char *name, char *ext, int *index, bool *isRec,
                                bool *isDel);
bool FixInvalidFileName(char *fileName); /* folder + name of at most 127 characters */
int HDD_isFileInUse(const char *path);
bool HDD_isRecFileName(const char *name);
int HDD_NumberOfRECSlots(void);
bool HDD_GetRecSlotFiles(byte slot, FwFileRecord **recFile, FwFileRecord **infFile, FwFileRecord **navFile);

#endif
