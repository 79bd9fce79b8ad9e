/* TapManagement.h -- other plug-ins: ids, events, stop, start, file headers,
 * and the receiving side of the inter-plug-in channel.
 *
 * Running plug-ins are found through the firmware's plug-in table, each
 * identified by the id in its file on disk (read anew at every query, with
 * ElfReader). A start goes through the firmware's work-folder functions and
 * program starter, the start parameters in two shared-memory segments.
 * Owns: tkl_parametered_tap. */
#ifndef FERROX_TOOLKIT_TAPMANAGEMENT_H
#define FERROX_TOOLKIT_TAPMANAGEMENT_H

#include "tap_api.h"

typedef struct TapFileInfo {
  dword ID;              /* "._tap_id" */
  dword Date;            /* build date as MJD, from "._tap_etcinfo"; 0 without it */
  char TAPName[64];      /* "._tap_program_name" */
  char Author[64];       /* "._tap_author_name" */
  char Description[128]; /* "._tap_description" */
  char Version[64];      /* "._tap_program_version" */
} TapFileInfo;

#define TAPSTART_MARKER_KEY 86567 /* 1 byte: started by another plug-in */
#define TAPSTART_PARAM_KEY 86568  /* 12 bytes: magic, id, parameter */
#define TAPSTART_PARAM_MAGIC 0x5C3A9E17u

typedef struct TapStartParams {
  dword Magic;     /* TAPSTART_PARAM_MAGIC */
  dword ID;        /* the started plug-in's id */
  dword Parameter; /* the caller's parameter */
} TapStartParams;

extern TapStartParams *tkl_parametered_tap;

dword HDD_TAP_GetIDByIndex(int slot);
int HDD_TAP_GetIndexByID(dword id);
bool HDD_TAP_isRunning(dword id);
TapParam HDD_TAP_SendEvent(dword id, bool stopWhenConsumed, word event, TapParam param1, TapParam param2);
int HDD_TAP_Terminate(dword id);
bool HDD_TAP_GetInfo(const char *path, TapFileInfo *info);
bool HDD_TAP_Start(const char *path, bool createStartMarker, dword parameter, dword *startedId);
/* In the started plug-in's TAP_Main: the parameter its starter gave
 * HDD_TAP_Start, when the start was for the plug-in with this id; false
 * when it was started otherwise (from the plug-in list). */
bool HDD_TAP_GetStartParameter(dword ownId, dword *parameter);

bool isValidChannel(TapParam channel);
TapComChannel *TAPCOM_GetChannel(TapParam param1, dword *callerId, dword *serviceId, dword *paramBlockVersion,
                                 void **paramBlock);
void TAPCOM_Reject(TapComChannel *channel);
void TAPCOM_Finish(TapComChannel *channel, dword returnValue);

#endif
