/* BlockCompare.h -- the engine's looks at a file: reads at an offset,
 * byte comparisons, status stamps, and the probe of a destination.
 *
 * Used by the engine's transfer (BlockCopy.cpp) and by the callers' probe
 * (FRX_GetDestinationStatus, FRX_DestinationFitsSource in Ferrox.h). A
 * destination's stream and status are read on the worker (ShareCalls).
 */
#ifndef FERROX_SERVICE_BLOCKCOMPARE_H
#define FERROX_SERVICE_BLOCKCOMPARE_H

#include <stdio.h>
#include <sys/stat.h>

#include "tap_api.h"

#define FRX_PATH_SIZE 512
#define FRX_COMPARE_SIZE 8192 /* bytes compared at each end of a destination */

/* destination bytes being compared (the engine's verify shares them) */
extern byte FRXCompareDest[FRX_COMPARE_SIZE];

/* folder + "/" (unless it ends in one) + name into dest (FRX_PATH_SIZE);
 * false, with its line and dest empty, when it does not fit. */
bool MakeTransferPath(const char *folder, const char *name, char *dest);
/* Up to len bytes at an offset; the count read. dest: on the worker. */
dword ReadAt(FILE *f, qword offset, byte *buffer, dword len, bool dest);
/* The destination's first dstSize bytes are the source's (both ends and,
 * for a short file, all of it). */
bool SameContents(FILE *src, FILE *dst, qword dstSize);
/* stat64 of a source, or of a destination on the worker (dest). */
int StatTarget(const char *path, struct stat64 *st, bool dest);
/* The two paths name one file (device and inode). */
bool IsSameFile(const char *a, const char *b);

#endif
