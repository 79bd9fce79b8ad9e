/* FirmwareCallbacks.h -- what the firmware functions module calls back into.
 *
 * The simulator executable exports these; the module (FirmwareModule.cpp)
 * wraps them under the firmware's own mangled names. Plain C so the module
 * can be built without any simulator header.
 */
#ifndef FERROX_SIM_FIRMWARECALLBACKS_H
#define FERROX_SIM_FIRMWARECALLBACKS_H

#include "tap_types.h"

#ifdef __cplusplus
extern "C" {
#endif

dword SimFw_SaveWorkFolder(void);
dword SimFw_RestoreWorkFolder(void);
dword SimFw_SelectFolder(void *folderRecord, const char *path);
dword SimFw_SetWorkFolder(void *folderRecord);
dword SimFw_ExecProgram(const char *fileName);

#ifdef __cplusplus
}
#endif

#endif
