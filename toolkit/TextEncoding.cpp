/* TextEncoding.cpp -- DVB character-table selectors, UTF-8 characters,
 * 8-bit to UTF-8 and UTF-8 to Latin-1, file-name cleaning, text search.
 *
 * The code tables live in TextTables.cpp; warnings go to the toolkit log
 * (LogTrace.cpp); whether the firmware keeps names in UTF-8 is asked of the
 * firmware binding. Work buffers come from TAP_MemAlloc.
 * Owns: UTFFirmwareCached, the cached answer of isUTFFirmware.
 */
#include "TextEncoding.h"

#include <limits.h>
#include <string.h>

#include "FirmwareBinding.h"
#include "LogTrace.h"

#define MAX_NAME_BYTES 126 /* longest file name ValidFileName hands out */
#define NAME_WORK_SIZE 512 /* MakeValidFileName's work buffer */

int UTFFirmwareCached = -1;

/* Tables by the number a selector or caller gives; 0, 12 and every number
 * above 16 fall back to the DVB Latin table */
// clang-format off
static const word *const CodeTables[17] = {
    UTFLookupISO6937,    UTFLookupISO8859_1,  UTFLookupISO8859_2,  UTFLookupISO8859_3,
    UTFLookupISO8859_4,  UTFLookupISO8859_5,  UTFLookupISO8859_6,  UTFLookupISO8859_7,
    UTFLookupISO8859_8,  UTFLookupISO8859_9,  UTFLookupISO8859_10, UTFLookupISO8859_11,
    UTFLookupISO6937,    UTFLookupISO8859_13, UTFLookupISO8859_14, UTFLookupISO8859_15,
    UTFLookupISO8859_16};
// clang-format on

/* An ISO 6937 diacritic byte followed by a base letter, and the precomposed
 * Latin-1 letter the two stand for */
typedef struct Iso6937Pair {
  byte Diacritic; /* 0xC1 .. 0xCB */
  char Letter;    /* ASCII base letter */
  word Composed;  /* U+00C0 .. U+00FF */
} Iso6937Pair;

// clang-format off
static const Iso6937Pair Iso6937Pairs[53] = {
    {0xC1, 'A', 0xC0}, {0xC1, 'E', 0xC8}, {0xC1, 'I', 0xCC}, {0xC1, 'O', 0xD2},
    {0xC1, 'U', 0xD9}, {0xC1, 'a', 0xE0}, {0xC1, 'e', 0xE8}, {0xC1, 'i', 0xEC},
    {0xC1, 'o', 0xF2}, {0xC1, 'u', 0xF9},                                         /* grave */
    {0xC2, 'A', 0xC1}, {0xC2, 'E', 0xC9}, {0xC2, 'I', 0xCD}, {0xC2, 'O', 0xD3},
    {0xC2, 'U', 0xDA}, {0xC2, 'Y', 0xDD}, {0xC2, 'a', 0xE1}, {0xC2, 'e', 0xE9},
    {0xC2, 'i', 0xED}, {0xC2, 'o', 0xF3}, {0xC2, 'u', 0xFA}, {0xC2, 'y', 0xFD}, /* acute */
    {0xC3, 'A', 0xC2}, {0xC3, 'E', 0xCA}, {0xC3, 'I', 0xCE}, {0xC3, 'O', 0xD4},
    {0xC3, 'U', 0xDB}, {0xC3, 'a', 0xE2}, {0xC3, 'e', 0xEA}, {0xC3, 'i', 0xEE},
    {0xC3, 'o', 0xF4}, {0xC3, 'u', 0xFB},                                         /* circumflex */
    {0xC4, 'A', 0xC3}, {0xC4, 'N', 0xD1}, {0xC4, 'O', 0xD5}, {0xC4, 'a', 0xE3},
    {0xC4, 'n', 0xF1}, {0xC4, 'o', 0xF5},                                         /* tilde */
    {0xC8, 'A', 0xC4}, {0xC8, 'E', 0xCB}, {0xC8, 'I', 0xCF}, {0xC8, 'O', 0xD6},
    {0xC8, 'U', 0xDC}, {0xC8, 'a', 0xE4}, {0xC8, 'e', 0xEB}, {0xC8, 'i', 0xEF},
    {0xC8, 'o', 0xF6}, {0xC8, 'u', 0xFC}, {0xC8, 'y', 0xFF},                   /* diaeresis */
    {0xCA, 'A', 0xC5}, {0xCA, 'a', 0xE5},                                         /* ring */
    {0xCB, 'C', 0xC7}, {0xCB, 'c', 0xE7}};                                        /* cedilla */
// clang-format on

/* ---- selectors and single characters ---- */

/* Length of the selector prefix. The 0x10 selector carries a zero byte of
 * its own (0x10 0x00 n), so its third byte is read even behind that zero;
 * otherwise a prefix never reaches past the terminator. */
static int SelectorLength(const char *text)
{
  byte first = (byte)text[0];

  if (first == 0 || first >= 0x20) return 0;
  if (first == 0x10) return text[2] == 0 ? 2 : 3;
  if (first == 0x1F) return text[1] == 0 ? 1 : 2;
  return 1;
}

const char *SkipCharTableBytes(const char *text)
{
  if (!text) return nullptr;
  return text + SelectorLength(text);
}

char *SkipCharTableBytes(char *text)
{
  if (!text) return nullptr;
  return text + SelectorLength(text);
}

/* Bytes of a text, its selector prefix included */
static size_t TextBytes(const char *text)
{
  const char *body = SkipCharTableBytes(text);

  return (size_t)(body - text) + strlen(body);
}

bool isUTF8Char(const char *p, byte *length)
{
  byte lead, n, i;

  if (length) *length = 1;
  if (!p) return false;
  lead = (byte)p[0];
  if ((lead & 0xE0) == 0xC0) n = 2;
  else if ((lead & 0xF0) == 0xE0) n = 3;
  else if ((lead & 0xF8) == 0xF0) n = 4;
  else return false;

  /* a terminator is no continuation byte, so this never reads past it */
  for (i = 1; i < n; i++)
    if (((byte)p[i] & 0xC0) != 0x80) return false;
  if (length) *length = n;
  return true;
}

dword UTF8ToUTF32(const char *p, byte *length)
{
  byte n, i;
  dword codePoint;

  if (length) *length = 1;
  if (!p) return 0;
  if (!isUTF8Char(p, &n)) return (byte)p[0];

  codePoint = (byte)p[0] & (0x7F >> n); /* the lead byte's payload bits */
  for (i = 1; i < n; i++) codePoint = (codePoint << 6) | ((byte)p[i] & 0x3F);
  if (length) *length = n;
  return codePoint;
}

void UTF32ToUTF8(dword codePoint, char *out, byte *length)
{
  byte bytes[4], n;

  if (codePoint < 0x80) {
    bytes[0] = (byte)codePoint;
    n = 1;
  } else if (codePoint < 0x800) {
    bytes[0] = (byte)(0xC0 | (codePoint >> 6));
    n = 2;
  } else if (codePoint < 0x10000) {
    bytes[0] = (byte)(0xE0 | (codePoint >> 12));
    n = 3;
  } else {
    bytes[0] = (byte)(0xF0 | ((codePoint >> 18) & 0x07));
    n = 4;
  }
  /* continuation bytes, six bits each, lowest last */
  for (byte i = n - 1; i >= 1; i--) {
    bytes[i] = (byte)(0x80 | (codePoint & 0x3F));
    codePoint >>= 6;
  }
  if (out) memcpy(out, bytes, n);
  if (length) *length = n;
}

/* ---- character positions ---- */

/* Steps over count characters; stops at the terminator */
static const char *StepChars(const char *p, int count)
{
  byte length;

  while (count > 0 && *p) {
    UTF8ToUTF32(p, &length);
    p += length;
    count--;
  }
  return p;
}

int strlenUC(const char *text)
{
  const char *p;
  int count = 0;

  if (!text) return 0;
  for (p = SkipCharTableBytes(text); *p; count++) p = StepChars(p, 1);
  return count;
}

char *GetUCPos(const char *text, int index)
{
  if (!text) return nullptr;
  if (index < 0) index = 0;
  return (char *)StepChars(SkipCharTableBytes(text), index);
}

void InsertAt(char *text, int index, const char *insert, int textSize)
{
  char *pos;
  size_t insertLen, tailLen;

  if (!text || !insert) return;
  insertLen = strlen(insert);
  if (insertLen == 0) return;
  pos = GetUCPos(text, index);
  tailLen = strlen(pos);

  if (textSize > 0 && (size_t)(pos - text) + tailLen + insertLen >= (size_t)textSize) {
    LogEntryTKLibPrintf(true, "InsertAt: %d bytes do not fit, text left unchanged",
                        (int)((size_t)(pos - text) + tailLen + insertLen + 1));
    return;
  }
  memmove(pos + insertLen, pos, tailLen + 1);
  memcpy(pos, insert, insertLen);
}

void DeleteAt(char *text, int index, int count)
{
  char *start;
  const char *end;

  if (!text || count <= 0) return;
  start = GetUCPos(text, index);
  if (*start == 0) return; /* empty text, or the index at or past its end */

  /* counted from start without a selector: a control byte inside the text
   * is one character, not a prefix */
  end = StepChars(start, count);
  memmove(start, end, strlen(end) + 1);
}

char *strncpyUC(char *dest, const char *src, size_t n)
{
  size_t prefix;

  if (!dest || !src || n == 0) return dest;
  prefix = (size_t)SelectorLength(src);
  if (prefix > n) prefix = n;
  memcpy(dest, src, prefix);
  strncpy(dest + prefix, src + prefix, n - prefix);
  return dest;
}

/* ---- 8-bit text to UTF-8 ---- */

/* Output cursor of a conversion: room is the number of bytes that may be
 * written before the terminator */
typedef struct TextOut {
  char *Dest;  /* start of the destination */
  size_t Used; /* bytes written so far */
  size_t Room; /* bytes available before the terminator */
  bool Cut;    /* set once something did not fit */
} TextOut;

/* Appends bytes as a whole or not at all, so no character is ever split */
static bool PutBytes(TextOut *out, const char *bytes, size_t n)
{
  if (out->Cut || n > out->Room - out->Used) {
    out->Cut = true;
    return false;
  }
  memcpy(out->Dest + out->Used, bytes, n);
  out->Used += n;
  return true;
}

static bool PutCodePoint(TextOut *out, dword codePoint)
{
  char bytes[4];
  byte n;

  UTF32ToUTF8(codePoint, bytes, &n);
  return PutBytes(out, bytes, n);
}

static word Iso6937PairLetter(byte diacritic, char letter)
{
  int i;

  for (i = 0; i < (int)(sizeof(Iso6937Pairs) / sizeof(Iso6937Pairs[0])); i++)
    if (Iso6937Pairs[i].Diacritic == diacritic && Iso6937Pairs[i].Letter == letter) return Iso6937Pairs[i].Composed;
  return 0;
}

/* Table number a selector asks for, or the caller's default */
static int SelectedTable(const char *src, byte defaultTable)
{
  byte first = (byte)src[0];

  if (first >= 0x01 && first <= 0x0B) return first + 4;
  if (first == 0x10) return SelectorLength(src) == 3 ? (byte)src[2] : 0;
  return defaultTable;
}

/* Copies UTF-8 text as it is, whole characters only */
static void CopyUTF8(const char *p, TextOut *out)
{
  byte length;

  while (*p) {
    UTF8ToUTF32(p, &length);
    if (!PutBytes(out, p, length)) break;
    p += length;
  }
}

/* One ISO 6937 diacritic with its letter; returns the bytes consumed */
static int ConvertPair(const char *p, TextOut *out, bool *converted)
{
  word letter;

  if (p[1] == 0) return 1; /* a diacritic without a letter is dropped */
  letter = Iso6937PairLetter((byte)p[0], p[1]);
  if (letter) {
    if (PutCodePoint(out, letter)) *converted = true;
  } else {
    LogEntryTKLibPrintf(true, "StrToUTF8: ISO6937 diacritical char %2.2x %2.2x has been ignored", (byte)p[0],
                        (byte)p[1]);
  }
  return 2;
}

/* One byte through the code table. An unassigned position is dropped on
 * its own: writing code point 0 would end the text, and with it a file
 * name's tail. */
static void ConvertByte(byte b, int table, TextOut *out, bool *converted)
{
  const word *lookup = CodeTables[table >= 0 && table <= 16 ? table : 0];
  dword codePoint = b < 0xA0 ? b : lookup[b - 0xA0];

  if (codePoint == 0) {
    LogEntryTKLibPrintf(true, "StrToUTF8: char %2.2x is not assigned in table %d and has been ignored", b, table);
    return;
  }
  if (PutCodePoint(out, codePoint)) *converted = true;
}

static bool ConvertToUTF8(const char *p, int table, TextOut *out)
{
  bool converted = false;
  byte length;

  while (*p && !out->Cut) {
    byte b = (byte)*p;
    if (b < 0x80) {
      PutBytes(out, p, 1);
      p++;
    } else if (isUTF8Char(p, &length)) {
      PutBytes(out, p, length); /* UTF-8 already: kept as it is */
      p += length;
    } else if (table == 0 && b >= 0xC0 && b <= 0xCF) {
      p += ConvertPair(p, out, &converted);
    } else {
      ConvertByte(b, table, out, &converted);
      p++;
    }
  }
  return converted;
}

bool StrToUTF8(const char *src, char *dest, byte defaultTable, int destSize)
{
  TextOut out;
  bool converted = false;

  if (!src || !dest) return false;
  if (destSize < 0) return false;
  out.Dest = dest;
  out.Used = 0;
  out.Room = destSize > 0 ? (size_t)destSize - 1 : (size_t)INT_MAX;
  out.Cut = false;

  if ((byte)src[0] == 0x15) CopyUTF8(src + 1, &out); /* marked as UTF-8: only the marker goes */
  else converted = ConvertToUTF8(SkipCharTableBytes(src), SelectedTable(src, defaultTable), &out);
  dest[out.Used] = 0;
  if (out.Cut) LogEntryTKLibPrintf(true, "StrToUTF8: text cut to %d bytes", (int)out.Used);
  return converted;
}

bool StrMkUTF8(char *text, byte defaultTable, int textSize)
{
  size_t n, workSize;
  char *work;

  if (!text) return false;
  n = strlen(SkipCharTableBytes(text));
  if (n == 0) {
    text[0] = 0;
    return true;
  }
  workSize = 4 * n;
  if (textSize > 0 && workSize > (size_t)textSize) workSize = (size_t)textSize;
  work = (char *)TAP_MemAlloc((dword)workSize);
  if (!work) return false;

  StrToUTF8(text, work, defaultTable, (int)workSize);
  strcpy(text, work); /* fits: at most workSize bytes with the terminator */
  TAP_MemFree(work);
  return true;
}

/* ---- UTF-8 to Latin-1 ---- */

void GetStringEncoding(const char *text, bool *has8Bit, bool *hasUTF8)
{
  const char *p;
  byte length;

  if (has8Bit) *has8Bit = false;
  if (hasUTF8) *hasUTF8 = false;
  if (!text) return;
  for (p = SkipCharTableBytes(text); *p; p += length) {
    if (isUTF8Char(p, &length)) {
      if (hasUTF8) *hasUTF8 = true;
    } else if ((byte)*p >= 0xA0) {
      if (has8Bit) *has8Bit = true;
    }
  }
}

void StrToISO(const char *src, char *dest)
{
  bool has8Bit, hasUTF8;
  const char *p;
  byte length;

  if (!src || !dest) return;
  GetStringEncoding(src, &has8Bit, &hasUTF8);
  if (has8Bit || !hasUTF8) {
    memmove(dest, src, TextBytes(src) + 1); /* not UTF-8: an exact copy */
    return;
  }

  /* never longer than the source, so src and dest may be the same buffer */
  for (p = SkipCharTableBytes(src); *p; p += length) {
    dword codePoint = UTF8ToUTF32(p, &length);
    /* an overlong 0 would end the text, so it goes with the rest */
    if (codePoint > 0 && codePoint < 256) *dest++ = (char)codePoint;
    else LogEntryTKLibPrintf(true, "StrToISO: character 0x%4.4x ignored", (unsigned)codePoint);
  }
  *dest = 0;
}

void StrToISOAlloc(const char *src, char **dest)
{
  char *buffer;

  if (!dest) return;
  *dest = nullptr;
  if (!src) return;
  buffer = (char *)TAP_MemAlloc((dword)(TextBytes(src) + 1));
  if (!buffer) return;
  StrToISO(src, buffer);
  *dest = buffer;
}

bool isUTFFirmware(void)
{
  /* a firmware that cleans UTF-8 names itself keeps names in UTF-8 */
  if (UTFFirmwareCached < 0) UTFFirmwareCached = FIS_fwAppl_ConvertToValidUTF8Str() != nullptr;
  return UTFFirmwareCached != 0;
}

/* ---- file names ---- */

bool isLegalChar(const char *p, int mode)
{
  byte b, length;
  bool sequence;

  if (!p) return false;
  b = (byte)*p;
  sequence = isUTF8Char(p, &length);

  if ((mode & LC_CONTROL) && b < 0x20 && b != 0x0A) return false;
  /* stray high control bytes; 0x80, 0x8A and the quotes 0x91/0x92 that
   * 8-bit names commonly carry stay */
  if ((mode & LC_CONTROL) && !sequence &&
      (b == 0x7F || (b >= 0x81 && b <= 0x9F && b != 0x8A && b != 0x91 && b != 0x92)))
    return false;
  if ((mode & LC_NEWLINE) && (b == 0x0A || b == 0x8A)) return false;
  if ((mode & LC_RESERVED) && b != 0 && strchr("\"*/:<>?\\|", b)) return false;
  if ((mode & LC_ASCII) && (b < 0x20 || b > 0x7E)) return false;
  return true;
}

/* Copies the legal characters of src, whole UTF-8 sequences only, and stops
 * before the first one that would pass MAX_NAME_BYTES */
static void FilterName(const char *src, int mode, char *dest)
{
  size_t used = 0;
  byte length;

  while (*src) {
    isUTF8Char(src, &length);
    if (isLegalChar(src, mode)) {
      if (used + length > MAX_NAME_BYTES) break;
      memcpy(dest + used, src, length);
      used += length;
    }
    src += length;
  }
  dest[used] = 0;
}

char *ValidFileName(const char *src, int mode, char *dest, int destSize)
{
  size_t srcLen;

  if (!dest || destSize <= 0) return dest; /* not even a terminator fits */
  dest[0] = 0;
  if (!src || !*src) return dest;
  srcLen = strlen(src);
  if (srcLen >= (size_t)destSize) {
    LogEntryTKLibPrintf(true, "ValidFileName: name of %d bytes refused, room for %d", (int)srcLen, destSize - 1);
    return dest;
  }
  /* the result is never longer than src, so it fits as src would */
  FilterName(src, mode, dest);
  return dest;
}

char *MakeValidFileName(char *name, int mode)
{
  char work[NAME_WORK_SIZE];
  size_t nameLen;

  if (!name) return name;
  nameLen = strlen(name);
  /* The result keeps at most 126 bytes whatever the length of the name,
   * so a name too long for the work buffer is cut like any long name
   * instead of being emptied. */
  if (nameLen >= NAME_WORK_SIZE)
    LogEntryTKLibPrintf(true, "MakeValidFileName: name of %d bytes cut to %d", (int)nameLen, MAX_NAME_BYTES);
  FilterName(name, mode, work);
  strcpy(name, work); /* never longer than the name was */
  return name;
}

/* ---- search and replace ---- */

bool StringEndsWith(const char *text, const char *suffix)
{
  size_t textLen, suffixLen;

  if (!text || !suffix || !*text || !*suffix) return false;
  textLen = strlen(text);
  suffixLen = strlen(suffix);
  if (suffixLen > textLen) return false;
  return memcmp(text + textLen - suffixLen, suffix, suffixLen) == 0;
}

/* ASCII letters only: 8-bit and UTF-8 bytes compare as they are */
static char LowerASCII(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

char *stricstr(const char *text, const char *pattern)
{
  const char *t;
  size_t i;

  if (!text || !pattern) return nullptr;
  text = SkipCharTableBytes(text);
  pattern = SkipCharTableBytes(pattern);
  if (!*pattern) return nullptr;

  for (t = text; *t; t++) {
    if (LowerASCII(*t) != LowerASCII(pattern[0])) continue;
    /* the text's terminator mismatches any pattern byte, so this stops there */
    for (i = 1; pattern[i] && LowerASCII(t[i]) == LowerASCII(pattern[i]); i++) {}
    if (!pattern[i]) return (char *)t;
  }
  return nullptr;
}

static int CountOccurrences(const char *text, const char *pattern, size_t patternLen)
{
  int count = 0;

  for (text = strstr(text, pattern); text; text = strstr(text + patternLen, pattern)) count++;
  return count;
}

/* Replacement not longer than the pattern: the text only shrinks */
static void ReplaceInPlace(char *text, const char *pattern, size_t patternLen, const char *replacement,
                           size_t replacementLen)
{
  char *p = strstr(text, pattern);

  while (p) {
    memmove(p + replacementLen, p + patternLen, strlen(p + patternLen) + 1);
    memcpy(p, replacement, replacementLen);
    p = strstr(p + replacementLen, pattern); /* replaced text is not scanned again */
  }
}

/* Builds the grown text in a work buffer; false when there is no memory */
static bool ReplaceGrowing(char *text, const char *pattern, size_t patternLen, const char *replacement,
                           size_t replacementLen, size_t newLen)
{
  char *work = (char *)TAP_MemAlloc((dword)(newLen + 2));
  char *out = work;
  const char *p = text, *hit;

  if (!work) return false;
  while ((hit = strstr(p, pattern)) != nullptr) {
    memcpy(out, p, (size_t)(hit - p));
    out += hit - p;
    memcpy(out, replacement, replacementLen);
    out += replacementLen;
    p = hit + patternLen;
  }
  strcpy(out, p);
  strcpy(text, work);
  TAP_MemFree(work);
  return true;
}

bool StrReplace(char *text, const char *pattern, const char *replacement, int textSize)
{
  size_t patternLen, replacementLen, newLen;
  int count;

  if (!text || !pattern || !replacement || !*text || !*pattern) return false;
  patternLen = strlen(pattern);
  replacementLen = strlen(replacement);
  count = CountOccurrences(text, pattern, patternLen);
  if (count == 0) return false;

  if (replacementLen <= patternLen) {
    ReplaceInPlace(text, pattern, patternLen, replacement, replacementLen);
    return true;
  }
  newLen = strlen(text) + (replacementLen - patternLen) * (size_t)count;
  if (textSize > 0 && newLen >= (size_t)textSize) {
    LogEntryTKLibPrintf(true, "StrReplace: %d bytes do not fit, text left unchanged", (int)newLen + 1);
    return false;
  }
  return ReplaceGrowing(text, pattern, patternLen, replacement, replacementLen, newLen);
}
