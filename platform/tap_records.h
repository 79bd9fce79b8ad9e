/* tap_records.h -- firmware records that plug-in code reads or hands over.
 *
 * Each record is declared with the fields that Ferrox uses at the byte offsets
 * the receiver firmware gives them when pointers are 4 bytes; the gaps are
 * firmware-private. Code reads fields by name, so the same source is right on
 * the 64-bit simulator host, where the gaps merely widen. Every offset is
 * checked by a static_assert on 32-bit builds. No behaviour lives here.
 */
#ifndef FERROX_PLATFORM_TAP_RECORDS_H
#define FERROX_PLATFORM_TAP_RECORDS_H

#include "tap_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The event handler as the firmware calls it. */
typedef TapParam (*TapEventHandlerFn)(word event, TapParam param1, TapParam param2);

/* Entry record that __TAP_Init_ fills: the two entry points of a plug-in. */
typedef struct TapEntryRecord {
  int (*Main)(void);              /* TAP_Main: returns 1 to stay resident */
  TapEventHandlerFn EventHandler; /* TAP_EventHandler */
} TapEntryRecord;

/* Inner path record of a firmware file record. */
typedef struct FwFilePathRecord {
  dword fwPrivate[2]; /* firmware-private */
  char *AbsPath;      /* zero-terminated absolute operating-system path */
} FwFilePathRecord;

/* Firmware file record: what TAP_Hdd_Fopen hands out, what the plug-in table,
 * the play-info record and the recording slots point to. */
typedef struct FwFileRecord {
  dword fwPrivate[36];        /* firmware-private */
  FwFilePathRecord *PathInfo; /* record holding the absolute path */
} FwFileRecord;

/* Record holding a plug-in's current folder. */
typedef struct FwTapFolderRecord {
  dword fwPrivate; /* firmware-private */
  char *Path;      /* current folder as an operating-system path ("/mnt/hd/...") */
} FwTapFolderRecord;

/* One entry of the firmware's table of running plug-ins (16 entries). */
typedef struct FwTapTableEntry {
  dword RunState;            /* run state; 2 asks the firmware to end the plug-in */
  dword fwPrivate0;          /* firmware-private */
  FwFileRecord *File;        /* the plug-in's file; null for a free slot */
  dword fwPrivate1[2];       /* firmware-private */
  TapEventHandlerFn Handler; /* event handler; null for a free slot */
  dword fwPrivate2[4];       /* firmware-private */
  FwTapFolderRecord *Folder; /* the plug-in's current folder */
} FwTapTableEntry;

#define TAP_TABLE_SLOTS 16
#define TAP_RUNSTATE_KILL 2

/* Work-folder record handed to the firmware's folder selection. */
typedef struct FwWorkFolderRecord {
  dword Magic;        /* 0xBACAED31, set by the caller */
  dword fwPrivate[3]; /* filled by the firmware */
} FwWorkFolderRecord;

#define FW_WORKFOLDER_MAGIC 0xBACAED31u

/* Play-info record filled by TAP_Hdd_GetPlayInfo. */
typedef struct FwPlayInfo {
  byte PlayMode;       /* 0 nothing plays; 5 a special play mode */
  byte fwPrivate0[15]; /* firmware-private */
  dword PlayActive;    /* non-zero while the play info is valid */
  FwFileRecord *File;  /* the playing file */
  dword fwPrivate1[8]; /* firmware-private */
} FwPlayInfo;

/* The three file records of one recording slot (main file, .inf, .nav). */
typedef struct FwRecSlotFiles {
  FwFileRecord *File[3]; /* main file record first; null when the slot is idle */
} FwRecSlotFiles;

#define FW_REC_SLOT_TABLE 16 /* slots held by the firmware's table */

/* One record of the firmware's screen-region table, indexed by region. */
typedef struct FwOsdRegion {
  word x;             /* left edge */
  word y;             /* top edge */
  word Width;         /* 0: region does not exist */
  word Height;        /* 0: region does not exist */
  dword fwPrivate[2]; /* firmware-private */
} FwOsdRegion;

#define FW_OSD_REGIONS 256 /* entries in the region table */

/* Graphic descriptor drawn with TAP_Osd_PutGd. */
typedef struct TapGrData {
  dword Format;     /* 0x02010001 for compressed ARGB */
  const byte *Data; /* compressed pixel data */
  dword Size;       /* uncompressed size: width x height x 4 */
  word Width;       /* pixels */
  word Height;      /* pixels */
} TapGrData;

/* Directory entry filled by TAP_Hdd_FindFirst / TAP_Hdd_FindNext. */
typedef struct TapDirEntry {
  dword Attr;           /* 224 folder, 208 file */
  dword fwPrivate0;     /* firmware-private */
  dword DateStamp;      /* modification time, packed receiver time */
  dword fwPrivate1[3];  /* firmware-private */
  char Name[256];       /* zero-terminated name */
  dword fwPrivate2[56]; /* room for what the firmware keeps behind the name */
} TapDirEntry;

#define ATTR_FOLDER 224
#define ATTR_NORMAL 208

/* Inter-plug-in channel record, owned by the requesting plug-in. */
typedef struct TapComChannel {
  dword Magic;             /* 0x14011965 */
  dword Version;           /* channel version */
  dword LastStatusChange;  /* tick of the last status change */
  dword CallerID;          /* requesting plug-in's id */
  dword ServerID;          /* addressed plug-in's id, 0 = any */
  dword Status;            /* 2 accepted, 3 rejected, 4 finished, 5 too old */
  dword ServiceID;         /* service asked for */
  dword ParamBlockVersion; /* version of the parameter block */
  void *ParamBlock;        /* parameter block, answered in place */
  dword ReturnValue;       /* set by finish */
} TapComChannel;

#define TAPCOM_MAGIC 0x14011965u
#define TAPCOM_VERSION 14
#define TAPCOM_STATUS_ACCEPTED 2
#define TAPCOM_STATUS_REJECTED 3
#define TAPCOM_STATUS_FINISHED 4
#define TAPCOM_STATUS_VERSIONMISMATCH 5

/* Reply block of the copy service's status request (service id 0, parameter
 * block version 2), 160 bytes, little-endian. */
typedef struct FerroxStatusReply {
  char DestFileName[128]; /* current destination file name */
  qword TotalBytes;       /* size of the file being transferred */
  qword BytesPerMinute;   /* throughput of this transfer */
  int Percent;            /* percent done */
  int CurrentEntry;       /* current entry, counted from 1 */
  int NrOfEntries;        /* entries of the work list (or job files) */
  int State;              /* 0 mount wait, 1 index plug-in, 2 working, 3 job */
} FerroxStatusReply;

#ifdef __cplusplus
}

/* Layout checks: the receiver's offsets, when pointers are 4 bytes. The
 * reply block is pointer free and has its layout on every platform. */
static_assert(offsetof(FerroxStatusReply, TotalBytes) == 128, "reply size field");
static_assert(offsetof(FerroxStatusReply, BytesPerMinute) == 136, "reply rate field");
static_assert(offsetof(FerroxStatusReply, Percent) == 144, "reply percent field");
static_assert(offsetof(FerroxStatusReply, CurrentEntry) == 148, "reply entry field");
static_assert(offsetof(FerroxStatusReply, NrOfEntries) == 152, "reply entries field");
static_assert(offsetof(FerroxStatusReply, State) == 156, "reply state field");
static_assert(sizeof(FerroxStatusReply) == 160, "reply block size");
static_assert(offsetof(TapDirEntry, DateStamp) == 8, "dir entry date stamp");
static_assert(offsetof(TapDirEntry, Name) == 24, "dir entry name");
static_assert(offsetof(FwOsdRegion, Height) == 6 && sizeof(FwOsdRegion) == 16, "region record");

#if TAP_POINTERS_ARE_32BIT
static_assert(sizeof(TapEntryRecord) == 8, "entry record");
static_assert(offsetof(FwFilePathRecord, AbsPath) == 8, "path record");
static_assert(offsetof(FwFileRecord, PathInfo) == 144, "file record");
static_assert(offsetof(FwTapFolderRecord, Path) == 4, "folder record");
static_assert(offsetof(FwTapTableEntry, RunState) == 0, "table entry run state");
static_assert(offsetof(FwTapTableEntry, File) == 8, "table entry file");
static_assert(offsetof(FwTapTableEntry, Handler) == 20, "table entry handler");
static_assert(offsetof(FwTapTableEntry, Folder) == 40, "table entry folder");
static_assert(sizeof(FwTapTableEntry) == 44, "table entry size");
static_assert(sizeof(FwWorkFolderRecord) == 16, "work folder record");
static_assert(offsetof(FwPlayInfo, PlayActive) == 16, "play info active word");
static_assert(offsetof(FwPlayInfo, File) == 20, "play info file");
static_assert(sizeof(FwRecSlotFiles) == 12, "recording slot files");
static_assert(offsetof(TapGrData, Size) == 8 && offsetof(TapGrData, Width) == 12 && sizeof(TapGrData) == 16,
              "graphic descriptor");
static_assert(offsetof(TapComChannel, Status) == 20, "channel status");
static_assert(offsetof(TapComChannel, ParamBlock) == 32, "channel parameter block");
static_assert(offsetof(TapComChannel, ReturnValue) == 36 && sizeof(TapComChannel) == 40, "channel record");
#endif
#endif

#endif
