/* ElfReader.h -- reads the section table and sections of one plug-in file.
 *
 * Used by HDD_TAP_GetInfo only. Plug-in files are ELF shared objects, 32-bit
 * on the receiver and 64-bit for the simulator host, both little-endian;
 * every offset and size is checked against the file before it is used, so a
 * malformed file is refused, never read outside a buffer. Owns: the state of
 * the one open file (fTAP, ELFHeader, SectionHeaders, shstrtab).
 */
#ifndef FERROX_TOOLKIT_ELFREADER_H
#define FERROX_TOOLKIT_ELFREADER_H

#include <stdio.h>

#include "tap_api.h"

#define ELF_MAX_SECTIONS 4096         /* more is no plug-in file */
#define ELF_MAX_NAMES (1024u * 1024u) /* largest section-name table read */

/* One section header, the fields used, whatever the file's class. */
typedef struct ElfSection {
  dword Name;   /* offset of the name in the section-name table */
  dword Type;   /* 3: string table */
  qword Offset; /* position of the section's bytes in the file */
  qword Size;   /* bytes */
} ElfSection;

extern FILE *fTAP;                 /* the open plug-in file, or null */
extern byte ELFHeader[64];         /* file header as read (52 bytes for ELF32) */
extern bool ELFIs64;               /* the file is ELF64 */
extern ElfSection *SectionHeaders; /* e_shnum entries, or null */
extern dword ELFSectionCount;      /* e_shnum */
extern char *shstrtab;             /* section-name table, zero-terminated, or null */
extern dword shstrtabSize;         /* bytes of the table as in the file */

bool ELFOpenFile(const char *linuxPath);
bool ELFReadELFHeader(void);
bool ELFReadSectionHeaders(void);
bool ELFReadShstrtabSection(void);
int ELFGetSectionIndex(const char *name);                /* -1 when missing */
bool ELFReadDWORD(int index, dword *value);              /* a section of exactly 4 bytes */
bool ELFReadData(int index, void *dest, dword destSize); /* at most destSize bytes */
void ELFCleanup(void);

#endif
