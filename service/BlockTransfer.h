/* BlockTransfer.h -- the state of the engine's transfer, shared by its two
 * halves: opening a transfer (BlockOpen.cpp) and copying it a block at a
 * time (BlockCopy.cpp). Nothing outside the engine includes it.
 */
#ifndef FERROX_SERVICE_BLOCKTRANSFER_H
#define FERROX_SERVICE_BLOCKTRANSFER_H

#include <stdio.h>

#include "BlockCompare.h"
#include "Ferrox.h"

#define FRX_DEFAULT_BLOCK 0xA00000u /* 10,485,760 bytes, no pause */
#define FRX_STATS_SLOTS 60          /* one-second slots of the throughput ring */
#define FRX_MIN_BLOCK 0x10000u      /* 64 KiB: the smallest block worth copying with */

/* What one transfer knows of itself; every transfer opens with NewTransfer. */
typedef struct tFRXTransfer {
  dword BlockSize;                      /* bytes per block */
  dword Delay;                          /* ticks to pause after each block */
  int Outcome;                          /* what FRX_Process gives: STEP_... */
  int BlocksPerSecond[FRX_STATS_SLOTS]; /* the throughput ring, statistics blocks a second */
  dword StatsPointer;                   /* next ring slot */
  dword StatsSlotsSeen;                 /* ring slots filled since the transfer opened */
  bool StatsInit;                       /* the next statistics update only takes its starting point */
  dword StatsCurrentBlock;              /* statistics blocks at this update */
  dword StatsLastBlock;                 /* statistics blocks at the previous update */
  bool Verifying;                       /* the destination's first VerifyEnd bytes are being compared */
  qword VerifyEnd;                      /* bytes the destination held when the transfer opened */
  qword ResumeOffset;                   /* where this transfer began to write */
  tFRXStamp SourceStamp;                /* the source's status when the transfer opened */
  bool CopyInKernel;                    /* blocks move inside the kernel until the system says it cannot */
  qword WriteBackOffset;                /* the block whose write-back runs, not yet waited for */
  qword WriteBackLength;
  bool Syncing; /* a move's copy is on its way to stable storage */
} tFRXTransfer;

extern const tFRXTransfer NewTransfer;
extern tFRXTransfer Transfer;             /* the transfer open, or the last one */
extern FILE *FRXfSource;                  /* open source, null when closed */
extern FILE *FRXfDest;                    /* open destination, null when closed */
extern dword FRXSourceTime;               /* source modification time, seconds since 1970 */
extern bool FRXVerify;                    /* compare what the next transfers do not copy themselves */
extern char FRXMountPoint[FRX_PATH_SIZE]; /* no folder is made on the internal disk below it */

/* The block buffer goes back to the heap. */
void ReleaseBuffer(void);
/* The destination opened read-write at its byte `end` (the client of a
 * share may refuse append mode); null when it cannot be. */
FILE *OpenAtEnd(const char *path, long long end);

#endif
