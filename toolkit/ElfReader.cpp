/* ElfReader.cpp -- the section table and sections of one plug-in file.
 *
 * Reads ELF32 (receiver) and ELF64 (simulator host) files, little-endian,
 * through the OS facade. Every position and size taken from the file is
 * checked against the file's length and the reader's limits before use.
 * What the sections mean is HDD_TAP_GetInfo's (TapManagement.cpp).
 * Owns: fTAP, ELFHeader, ELFIs64, SectionHeaders, ELFSectionCount, shstrtab.
 */
#include "ElfReader.h"

#include <string.h>

#include "os_facade.h"

FILE *fTAP = nullptr;
byte ELFHeader[64];
bool ELFIs64 = false;
ElfSection *SectionHeaders = nullptr;
dword ELFSectionCount = 0;
char *shstrtab = nullptr;
dword shstrtabSize = 0;

/* Length of the open file: the bound for every offset the file names. */
static qword ELFFileSize = 0;

static word LE16(const byte *p) { return (word)(p[0] | p[1] << 8); }
static dword LE32(const byte *p) { return (dword)LE16(p) | (dword)LE16(p + 2) << 16; }
static qword LE64(const byte *p) { return (qword)LE32(p) | (qword)LE32(p + 4) << 32; }

/* Reads size bytes at offset; false unless they lie wholly inside the file. */
static bool ELFReadAt(qword offset, void *dest, qword size)
{
  if (fTAP == nullptr || offset > ELFFileSize || size > ELFFileSize - offset) return false;
  if (size == 0) return true;
  if (OS_Fseeko64(fTAP, (off64_t)offset, SEEK_SET) != 0) return false;
  return OS_Fread(dest, (size_t)size, 1, fTAP) == 1;
}

bool ELFOpenFile(const char *linuxPath)
{
  ELFCleanup();
  if (linuxPath == nullptr || linuxPath[0] == '\0') return false;
  fTAP = OS_Fopen64(linuxPath, "rb");
  if (fTAP == nullptr) return false;
  off64_t size = -1;
  if (OS_Fseeko64(fTAP, 0, SEEK_END) == 0) size = OS_Ftello64(fTAP);
  if (size < 0) {
    ELFCleanup();
    return false;
  }
  ELFFileSize = (qword)size;
  return true;
}

bool ELFReadELFHeader(void)
{
  memset(ELFHeader, 0, sizeof(ELFHeader));
  if (!ELFReadAt(0, ELFHeader, 52)) return false;
  if (memcmp(ELFHeader, "\177ELF", 4) != 0) return false;
  /* byte 4: class (1 ELF32, 2 ELF64); byte 5: data (1 little-endian) */
  if (ELFHeader[5] != 1 || (ELFHeader[4] != 1 && ELFHeader[4] != 2)) return false;
  /* The simulator host builds 64-bit plug-in files with a longer header;
   * their section offsets are 64-bit and sit at other places. */
  ELFIs64 = ELFHeader[4] == 2;
  return !ELFIs64 || ELFReadAt(0, ELFHeader, 64);
}

/* One section header entry from its raw bytes. */
static void ELFDecodeSection(const byte *raw, ElfSection *section)
{
  section->Name = LE32(raw);
  section->Type = LE32(raw + 4);
  section->Offset = ELFIs64 ? LE64(raw + 24) : LE32(raw + 16);
  section->Size = ELFIs64 ? LE64(raw + 32) : LE32(raw + 20);
}

bool ELFReadSectionHeaders(void)
{
  qword tableOffset = ELFIs64 ? LE64(ELFHeader + 40) : LE32(ELFHeader + 32);
  dword entrySize = ELFIs64 ? LE16(ELFHeader + 58) : LE16(ELFHeader + 46);
  dword count = ELFIs64 ? LE16(ELFHeader + 60) : LE16(ELFHeader + 48);
  dword wanted = ELFIs64 ? 64 : 40;
  byte raw[64];

  /* Every real file has entries of exactly the class's size; another size
   * means the header is damaged, and stepping by it would misread fields. */
  if (count == 0 || count > ELF_MAX_SECTIONS || entrySize != wanted) return false;
  if (tableOffset > ELFFileSize || (qword)count * entrySize > ELFFileSize - tableOffset) return false;
  SectionHeaders = (ElfSection *)TAP_MemAlloc(count * (dword)sizeof(ElfSection));
  if (SectionHeaders == nullptr) return false;
  ELFSectionCount = count;
  for (dword i = 0; i < count; i++) {
    if (!ELFReadAt(tableOffset + (qword)i * entrySize, raw, entrySize)) return false;
    ELFDecodeSection(raw, &SectionHeaders[i]);
  }
  return true;
}

bool ELFReadShstrtabSection(void)
{
  dword index = ELFIs64 ? LE16(ELFHeader + 62) : LE16(ELFHeader + 50);

  if (SectionHeaders == nullptr || index >= ELFSectionCount) return false;
  const ElfSection *names = &SectionHeaders[index];
  if (names->Type != 3 || names->Size == 0 || names->Size > ELF_MAX_NAMES) return false;
  /* One zero byte more than the file holds ends an unterminated last name. */
  shstrtab = (char *)TAP_MemAlloc((dword)names->Size + 1);
  if (shstrtab == nullptr) return false;
  shstrtabSize = (dword)names->Size;
  shstrtab[shstrtabSize] = '\0';
  return ELFReadAt(names->Offset, shstrtab, names->Size);
}

int ELFGetSectionIndex(const char *name)
{
  if (name == nullptr || shstrtab == nullptr || SectionHeaders == nullptr) return -1;
  /* Entry 0 is the null section and never matches. */
  for (dword i = 1; i < ELFSectionCount; i++) {
    dword at = SectionHeaders[i].Name;
    if (at < shstrtabSize && strcmp(shstrtab + at, name) == 0) return (int)i;
  }
  return -1;
}

bool ELFReadDWORD(int index, dword *value)
{
  byte raw[4];

  if (value == nullptr || index <= 0 || (dword)index >= ELFSectionCount) return false;
  const ElfSection *section = &SectionHeaders[index];
  if (section->Size != 4 || !ELFReadAt(section->Offset, raw, 4)) return false;
  *value = LE32(raw);
  return true;
}

bool ELFReadData(int index, void *dest, dword destSize)
{
  if (dest == nullptr || index <= 0 || (dword)index >= ELFSectionCount) return false;
  const ElfSection *section = &SectionHeaders[index];
  qword size = section->Size < destSize ? section->Size : destSize;
  return ELFReadAt(section->Offset, dest, size);
}

void ELFCleanup(void)
{
  if (fTAP != nullptr) OS_Fclose(fTAP);
  if (SectionHeaders != nullptr) TAP_MemFree(SectionHeaders);
  if (shstrtab != nullptr) TAP_MemFree(shstrtab);
  fTAP = nullptr;
  SectionHeaders = nullptr;
  ELFSectionCount = 0;
  shstrtab = nullptr;
  shstrtabSize = 0;
  ELFFileSize = 0;
}
