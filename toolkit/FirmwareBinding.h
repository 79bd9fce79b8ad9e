/* FirmwareBinding.h -- firmware symbols found by name, receiver time, uptime.
 *
 * What the published API lacks (plug-in table, recording slots, work-folder
 * functions, program starter, time conversion) is looked up by name at run
 * time; a firmware without a symbol degrades to null and 0. Also the model
 * data file and the packed time (MJD bits 31-16, hour 15-8, minute 7-0).
 * Owns: the cached symbol addresses and the loaded model data. */
#ifndef FERROX_TOOLKIT_FIRMWAREBINDING_H
#define FERROX_TOOLKIT_FIRMWAREBINDING_H

#include "tap_api.h"

/* Header of "FirmwareModel.dat" (little-endian) */
typedef struct FirmwareDatHeader {
  dword Magic;      /* 0x12345678 */
  dword Unused1;    /* not used here */
  dword Zero;       /* must be 0 */
  dword NrOfModels; /* model records that follow */
  dword Unused2;    /* not used here */
} FirmwareDatHeader;

/* One model record of "FirmwareModel.dat" (348 bytes) */
typedef struct FirmwareDatModel {
  word SysID;          /* system id of the receiver model */
  byte Unused1[318];   /* not used here */
  dword RemoteType;    /* remote control type (key translation) */
  dword MaxRecStreams; /* number of recording streams */
  byte Unused2[20];    /* not used here */
} FirmwareDatModel;

static_assert(sizeof(FirmwareDatHeader) == 20, "model data header");
static_assert(offsetof(FirmwareDatModel, RemoteType) == 320, "model record remote type");
static_assert(offsetof(FirmwareDatModel, MaxRecStreams) == 324, "model record streams");
static_assert(sizeof(FirmwareDatModel) == 348, "model record size");

#define FIRMWAREDAT_MAGIC 0x12345678u

void *TryResolve(const char *symbolName);

/* Cached look-ups: the symbol's address, or null when the firmware lacks it */
void *FIS_fwTimeToLinux(void);
void *FIS_fwApplHdd_SaveWorkFolder(void);
void *FIS_fwApplHdd_RestoreWorkFolder(void);
void *FIS_fwApplHdd_SelectFolder(void);
void *FIS_fwApplHdd_SetWorkFolder(void);
void *FIS_fwAppl_ExecProgram(void);
void *FIS_fwAppl_ConvertToValidUTF8Str(void);
void *FIS_vTAPTable(void);      /* FwTapTableEntry[16] */
void *FIS_vCurTapTask(void);    /* dword: slot of the running plug-in */
void *FIS_vhddRecordFile(void); /* FwRecSlotFiles[] */
void *FIS_vHddTapFolder(void);  /* FwWorkFolderRecord *: the plug-in folder record */
void *FIS_vOsdMap(void);        /* FwOsdRegion[] */
/* Forgets every cached address, for a host whose firmware was swapped (the
 * simulator between two runs); the receiver's firmware never changes. */
void FIS_ResetCache(void);

/* Wrappers: the firmware function's result, or 0 when it is missing */
dword ApplHdd_SaveWorkFolder(void);
dword ApplHdd_RestoreWorkFolder(void);
dword ApplHdd_SelectFolder(void *folderRecord, const char *path);
dword ApplHdd_SetWorkFolder(void *folderRecord);
dword Appl_ExecProgram(char *fileName);
dword PvrTimeToLinux(dword packedTime); /* 0xFE00 when the firmware lacks it */

word GetSysID(void);
bool LoadFirmwareDat(FirmwareDatHeader **header, FirmwareDatModel **models, byte **rest);
void ReleaseFirmwareDat(void); /* drops the loaded data; the next load reads the file */

dword Now(byte *sec);
int TimeDiff(dword from, dword to);
/* dest holds at least TIMEFORMAT_SIZE bytes; longer output is cut there */
#define TIMEFORMAT_SIZE 20
char *TimeFormat(dword packedTime, byte sec, int format, char *dest);
dword GetUptime(void);

#endif
