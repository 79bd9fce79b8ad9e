/* tap_api.h -- the receiver's plug-in API as Ferrox's plug-ins call it.
 *
 * Entry protocol, disk, memory, time, system and screen calls, with the event
 * and key codes. On the receiver the firmware binds these calls when it loads
 * a plug-in; on a PC the receiver simulator (sim/) provides them. Nothing here
 * has behaviour of its own.
 */
#ifndef FERROX_PLATFORM_TAP_API_H
#define FERROX_PLATFORM_TAP_API_H

#include "tap_records.h"

/* Events (low 16 bits of the event code) */
#define EVT_IDLE 0x0000   /* every firmware cycle */
#define EVT_KEY 0x0100    /* remote-control key, param1 = key code */
#define EVT_STOP 0x0900   /* the firmware asks the plug-in to end */
#define EVT_TAPCOM 0x0FFF /* inter-plug-in message, param1 = channel record */

/* Key codes as delivered with EVT_KEY */
#define RKEY_Left 0x1000F
#define RKEY_Up 0x10012
#define RKEY_Right 0x10015
#define RKEY_Exit 0x10017
#define RKEY_Down 0x1001D
#define RKEY_Ok 0x1001E
#define RKEY_Green 0x10024
#define RKEY_Yellow 0x10025
#define RKEY_Blue 0x10026
#define RKEY_Red 0x1003F
#define RKEY_PageUp 0x10045
#define RKEY_PageDown 0x10046
#define RKEY_PageUp2 0x10047
#define RKEY_PageDown2 0x10048
/* The digit keys and Menu: no plug-in here uses them, the simulator's
 * remote control sends them */
#define RKEY_1 0x10001
#define RKEY_2 0x10002
#define RKEY_3 0x10003
#define RKEY_4 0x10004
#define RKEY_5 0x10005
#define RKEY_6 0x10006
#define RKEY_7 0x10007
#define RKEY_8 0x10008
#define RKEY_9 0x10009
#define RKEY_0 0x1000A
#define RKEY_Menu 0x1000B

#ifdef __cplusplus
extern "C" {
#endif

/* ---- entry protocol: defined by each plug-in ---- */
int __TAP_Init_(TapEntryRecord *entry);
int TAP_Main(void);
TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2);

/* ---- disk (names relative to the plug-in's current folder) ---- */
dword TAP_Hdd_ChangeDir(const char *folder); /* non-zero on success */
bool TAP_Hdd_Exist(const char *name);
dword TAP_Hdd_Create(const char *name, byte attr); /* ATTR_FOLDER or ATTR_NORMAL */
bool TAP_Hdd_Delete(const char *name);
FwFileRecord *TAP_Hdd_Fopen(const char *name);
dword TAP_Hdd_Fread(void *buf, dword blockSize, dword blocks, FwFileRecord *file);
dword TAP_Hdd_Fwrite(const void *buf, dword blockSize, dword blocks, FwFileRecord *file);
dword TAP_Hdd_Fseek(FwFileRecord *file, long pos, long where); /* where: 0 start, 1 current, 2 end */
dword TAP_Hdd_Flen(FwFileRecord *file);
void TAP_Hdd_Fclose(FwFileRecord *file);
dword TAP_Hdd_FindFirst(TapDirEntry *entry, const char *extFilter); /* entries listed */
dword TAP_Hdd_FindNext(TapDirEntry *entry);                         /* non-zero: next entry */
bool TAP_Hdd_GetPlayInfo(FwPlayInfo *info);
bool TAP_Hdd_StopRecord(byte slot);
bool TAP_Hdd_StopTs(void);
bool TAP_Hdd_StopMp3(void);

/* ---- memory ---- */
void *TAP_MemAlloc(dword size); /* null on failure */
int TAP_MemFree(void *block);
void TAP_MemSet(void *dest, byte value, dword size);
void TAP_MemCpy(void *dest, const void *src, dword size);
int TAP_MemCmp(const void *a, const void *b, dword size); /* 0 when equal */

/* ---- time ---- */
dword TAP_GetTick(void); /* 10-ms ticks since start */
int TAP_GetTime(word *mjd, byte *hour, byte *min, byte *sec);
word TAP_MakeMjd(word year, byte month, byte day);
int TAP_ExtractMjd(word mjd, word *year, byte *month, byte *day, byte *weekDay);
void TAP_Sleep(dword ticks);
void TAP_Delay(dword ticks);
void TAP_SystemProc(void); /* let the firmware run during a busy wait */

/* ---- system ---- */
void TAP_Exit(void); /* unload the calling plug-in after the current event */
dword TAP_GetVersion(void);
dword TAP_GetSystemId(void);
void TAP_Print(const char *format, ...) __attribute__((format(printf, 1, 2)));
int TAP_SPrint(char *dest, const char *format, ...) __attribute__((format(printf, 2, 3)));
void TAP_EnterNormal(void);
void TAP_ExitNormal(void);

/* ---- facts of the receiver, named once ---- */
#define TAP_SCREEN_W 720             /* the OSD's width in pixels */
#define TAP_SCREEN_H 576             /* and its height */
#define TAP_OSD_MEMORY_REGION 0x8000 /* TAP_Osd_Create flag: a region in memory, never shown */
#define TAP_FIRST_REGION 128         /* the first region number the firmware hands out */
#define TAP_REGION_SLOTS 128         /* how many regions there can be (128..255) */
#define TAP_INTERNAL_DISK_DEV 0x802  /* st_dev of everything on the internal disk, /mnt/hd */
/* line heights of the firmware's own font (TAP_Osd_PutS) by font size 0..2 */
#define TAP_FONT_LINE_HEIGHTS \
  {                           \
    19, 22, 26                \
  }

/* ---- screen: TAP_SCREEN_W x TAP_SCREEN_H ARGB ---- */
int TAP_Osd_Create(dword x, dword y, dword w, dword h, byte plane, int flags);
int TAP_Osd_Delete(word region);
int TAP_Osd_FillBox(word region, dword x, dword y, dword w, dword h, dword colour);
int TAP_Osd_PutGd(word region, int x, int y, const TapGrData *gd, bool sprite);
int TAP_Osd_Copy(word srcRegion, word dstRegion, dword srcX, dword srcY, dword w, dword h, dword dstX, dword dstY,
                 bool sprite);
byte *TAP_Osd_SaveBox(word region, dword x, dword y, dword w, dword h);
void TAP_Osd_RestoreBox(word region, dword x, dword y, dword w, dword h, const void *data);
void TAP_Osd_Sync(void);
void TAP_Osd_Draw3dBoxFill(word region, dword x, dword y, dword w, dword h, dword c1, dword c2, dword fill);
void TAP_Osd_DrawRectangle(word region, dword x, dword y, dword w, dword h, dword thickness, dword colour);
int TAP_Osd_GetW(const char *text, byte fontType, byte fontSize);
int TAP_Osd_PutS(word region, dword x, dword y, dword maxX, const char *text, dword fgColour, dword bgColour,
                 byte fontType, byte fontSize, byte dotted, byte align);

#ifdef __cplusplus
}
#endif

#endif
