/* IniStore.cpp -- one key=value text file held in memory, changed in place.
 *
 * Locates a file in the caller's folder or below "/ProgramFiles", holds its
 * raw bytes, answers look-ups and rewrites single entries so that every other
 * byte (comments, blank lines, bracketed lines) stays as it was. Folder
 * changes and path forms are PathTypes'; the disk is the platform's.
 * Owns: INIBuffer (the held text, zero-filled behind it) and BufferSize.
 */
#include "IniStore.h"

#include <stdio.h>
#include <string.h>

#include "LogTrace.h"
#include "PathTypes.h"
#include "TextEncoding.h"
#include "os_facade.h"

char *INIBuffer = nullptr;
dword BufferSize = 0;
bool INIMemoryShort = false;
const char *INITextProblem = "";
const char *INISaveError = "";

#define INI_GROWTH 1024                    /* one growth step of the held text */
#define INI_NEW_TEXT 512                   /* size of a text started from nothing */
#define INI_MAX_FILE (16u * 1024u * 1024u) /* larger files are not settings files */

/* The search pattern: the key cut to INI_MAX_KEY characters, then "=". */
static void INIMakePattern(const char *key, char *pattern)
{
  size_t len = strnlen(key, INI_MAX_KEY);
  memcpy(pattern, key, len);
  pattern[len] = '=';
  pattern[len + 1] = '\0';
}

/* A key must name one entry on one line: no line break, no "=". */
static bool INIKeyUsable(const char *key) { return key[0] != '\0' && strpbrk(key, "\r\n=") == nullptr; }

/* Changes back to a remembered TAPFS folder; the disk's root reads as "". */
static bool INIReturnTo(const char *folder) { return HDD_ChangeDir(folder[0] != '\0' ? folder : "/"); }

IniPlace INILocateFile(const char *fileName, const char *appName)
{
  char returnDir[PATH_BUFFER] = "";
  int result = IniPlaceNone;

  if (fileName == nullptr) return IniPlaceNone;
  if (TAP_Hdd_Exist(fileName)) return IniPlaceHere;

  HDD_TAP_GetCurrentDir(returnDir);
  if (!HDD_ChangeDir(PROGRAM_FILES_DIR)) {
    INIReturnTo(returnDir);
    return IniPlaceNone;
  }
  if (TAP_Hdd_Exist(fileName)) {
    result = IniPlaceProgramFiles;
    snprintf(returnDir, sizeof(returnDir), "%s", PROGRAM_FILES_DIR);
  }
  if (!HDD_ChangeDir("Settings")) {
    INIReturnTo(returnDir);
    return (IniPlace)result;
  }
  if (TAP_Hdd_Exist(fileName)) {
    result = IniPlaceSettings;
    snprintf(returnDir, sizeof(returnDir), "%s", SETTINGS_DIR);
  }
  /* The application folder is more specific than the shared ones. */
  if (appName != nullptr && appName[0] != '\0' && appName[0] != '/' && HDD_ChangeDir(appName) &&
      TAP_Hdd_Exist(fileName))
    return IniPlaceAppFolder;
  INIReturnTo(returnDir);
  return (IniPlace)result;
}

/* Takes a fresh zero-filled block of the given size as the held text. */
static bool INIAllocate(dword size)
{
  char *block = (char *)TAP_MemAlloc(size);
  INIMemoryShort = block == nullptr;
  if (block == nullptr) return false;
  memset(block, 0, size);
  INIBuffer = block;
  BufferSize = size;
  return true;
}

/* A text saved as UTF-16 (a PC editor's "Unicode") becomes the 8-bit text it
 * holds, each character above 255 a "?"; len bytes, a byte-order mark first. */
static void INIFromUtf16(dword len, bool bigEndian)
{
  dword out = 0;
  for (dword i = 2; i + 1 < len; i += 2) {
    unsigned char lo = (unsigned char)INIBuffer[i + (bigEndian ? 1 : 0)];
    unsigned char hi = (unsigned char)INIBuffer[i + (bigEndian ? 0 : 1)];
    INIBuffer[out++] = hi != 0 ? '?' : lo == 0 ? ' ' : (char)lo;
  }
  memset(INIBuffer + out, 0, BufferSize - out);
}

/* The held text must be the file's text: a NUL byte ends it there, and a
 * save would drop everything behind it. Such a file is read as far as it
 * can be and marked, so that it is never written back (INITextProblem). */
static void INIMakeText(dword len)
{
  const unsigned char *b = (const unsigned char *)INIBuffer;
  if (len >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    INIFromUtf16(len, b[0] == 0xFE);
    INITextProblem = "is saved as UTF-16 (\"Unicode\"), not as plain text";
    LogEntryTKLibPrintf(true, "INIOpenFile: the file %s; read as far as it goes", INITextProblem);
    return;
  }
  /* the text ends at the first NUL for every look-up, as it always did */
  if (memchr(INIBuffer, '\0', len) == nullptr) return;
  INITextProblem = "holds a NUL byte, which no text file has";
  LogEntryTKLibPrintf(true, "INIOpenFile: the file %s; read up to it", INITextProblem);
}

/* Reads the open file whole into a new held text; false on any failure.
 * The allocation leaves at least 513 zero bytes behind the content, room for
 * the line end that may be appended. */
static bool INIReadWhole(FwFileRecord *file)
{
  dword len = TAP_Hdd_Flen(file);
  if (len > INI_MAX_FILE) {
    LogEntryTKLibPrintf(true, "INIOpenFile: file of %u bytes is too large, not read", (unsigned)len);
    return false;
  }
  if (!INIAllocate((len / 512 + 2) * 512)) return false;
  bool ok = len == 0 || TAP_Hdd_Fread(INIBuffer, len, 1, file) == 1;
  if (!ok) {
    /* A failed read must not look like an empty file: a save would then
     * replace the settings with nothing. */
    memset(INIBuffer, 0, BufferSize);
    return false;
  }
  INIMakeText(len);
  size_t textLen = strlen(INIBuffer);
  if (textLen == 0 || (INIBuffer[textLen - 1] != '\r' && INIBuffer[textLen - 1] != '\n'))
    memcpy(INIBuffer + textLen, "\r\n", 3);
  return true;
}

IniPlace INIOpenFile(const char *fileName, const char *appName)
{
  char keptDir[PATH_BUFFER];

  /* A text still held would be lost to the plug-in's heap for good. */
  INICloseFile();
  INIMemoryShort = false;
  INITextProblem = "";
  bool pushed = HDD_TAP_KeepDir(keptDir);
  IniPlace place = INILocateFile(fileName, appName);

  if (place == IniPlaceNone) {
    HDD_TAP_RestoreDir(pushed, keptDir);
    return INIAllocate(INI_NEW_TEXT) ? IniPlaceNew : IniPlaceNone;
  }
  FwFileRecord *file = TAP_Hdd_Fopen(fileName);
  if (file == nullptr) {
    HDD_TAP_RestoreDir(pushed, keptDir);
    return IniPlaceNone;
  }
  bool ok = INIReadWhole(file);
  TAP_Hdd_Fclose(file);
  HDD_TAP_RestoreDir(pushed, keptDir);
  return ok ? place : IniPlaceNone;
}

/* The end of the entry that starts at start: the character before the first
 * line end ("\r\n", "\r" or "\n"), or null when the text has none. */
static char *INIEntryEnd(char *start)
{
  char *cr = strchr(start, '\r');
  char *lf = strchr(start, '\n');
  if (cr == nullptr && lf == nullptr) return nullptr;
  if (cr == nullptr) return lf - 1;
  if (lf == nullptr) return cr - 1;
  /* Whichever comes first ends the line: "\r\n" ends before its CR, a bare
   * CR ends its line as a bare LF does. */
  return (cr < lf ? cr : lf) - 1;
}

/* Whether the text in front of a match makes it no entry of its own: a
 * comment mark, or a key character of a longer key ("Speed" in "CopySpeed"). */
static bool INIPassOver(const char *match)
{
  if (match == INIBuffer) return false;
  char c = match[-1];
  if (c == '#' || c == ';') return true;
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

void INIFindStartEnd(const char *pattern, char **start, char **end, dword longest)
{
  *start = nullptr;
  if (INIBuffer == nullptr || pattern == nullptr || pattern[0] == '\0') {
    *end = nullptr;
    return;
  }
  /* A match that is no entry of its own is passed over and the search goes
   * on one character behind it. */
  char *match = stricstr(INIBuffer, pattern);
  while (match != nullptr && INIPassOver(match)) {
    if (match[1] == '\0') match = nullptr;
    else match = stricstr(match + 1, pattern);
  }
  *start = match;
  *end = match != nullptr ? INIEntryEnd(match) : nullptr;
  if (*end != nullptr && longest > 0 && (size_t)(*end - match) >= longest) *end = match + longest - 1;
}

/* Finds the value of key: its first character and length; false when the
 * entry is missing, has no line end or its value is empty. */
static bool INIFindValue(const char *key, dword valueMax, const char **value, size_t *len)
{
  char pattern[INI_MAX_KEY + 2];
  char *start;
  char *end;

  if (INIBuffer == nullptr) return false;
  INIMakePattern(key, pattern);
  size_t patLen = strlen(pattern);
  qword longest = (qword)patLen + valueMax;
  if (longest > BufferSize) longest = BufferSize;
  INIFindStartEnd(pattern, &start, &end, (dword)longest);
  if (start == nullptr || end == nullptr || end < start + patLen) return false;
  *value = start + patLen;
  *len = (size_t)(end - *value) + 1;
  return true;
}

bool INIHasKey(const char *key)
{
  char pattern[INI_MAX_KEY + 2];
  char *start;
  char *end;

  if (key == nullptr || INIBuffer == nullptr) return false;
  INIMakePattern(key, pattern);
  INIFindStartEnd(pattern, &start, &end, 0);
  return start != nullptr;
}

/* Decimal text as a signed 32-bit number, saturating at the limits so that
 * an over-long number reads as the nearest limit on every CPU. */
static int INIParseDecimal(const char *text)
{
  bool negative = *text == '-';
  qword magnitude = 0;
  if (negative) text++;
  for (; *text >= '0' && *text <= '9'; text++) {
    magnitude = magnitude * 10 + (qword)(*text - '0');
    if (magnitude > 0x80000000ull) magnitude = 0x80000000ull;
  }
  if (negative) return magnitude >= 0x80000000ull ? INT32_MIN : -(int)magnitude;
  return magnitude >= 0x7FFFFFFFull ? INT32_MAX : (int)magnitude;
}

int INIGetInt(const char *key, int defaultValue, int minValue, int maxValue)
{
  const char *value;
  size_t len;

  if (key == nullptr) return 0;
  if (!INIFindValue(key, 11, &value, &len)) return defaultValue;
  /* Only a plain decimal number counts: digits, one leading "-" before at
   * least one digit; blanks or a "+" make the value unreadable. */
  for (size_t i = 0; i < len; i++) {
    bool minus = i == 0 && value[0] == '-' && len > 1;
    if (!minus && (value[i] < '0' || value[i] > '9')) {
      LogEntryTKLibPrintf(true, "INIGetInt: value '%.*s' of %.78s is no number, %d used", (int)len, value, key,
                          defaultValue);
      return defaultValue;
    }
  }
  int number = INIParseDecimal(value);
  if (number < minValue) number = minValue;
  if (number > maxValue) number = maxValue;
  return number;
}

bool INIGetString(const char *key, char *dest, const char *defaultValue, dword destSize)
{
  const char *value;
  size_t len;

  if (key == nullptr || dest == nullptr || defaultValue == nullptr || destSize == 0) return false;
  if (INIFindValue(key, destSize - 1, &value, &len)) {
    if (len > destSize - 1) len = destSize - 1;
    memcpy(dest, value, len);
    dest[len] = '\0';
  } else {
    snprintf(dest, destSize, "%s", defaultValue);
  }
  return true;
}

/* Size for a text that needs `needed` bytes: the current one, or one growth
 * step more; 0 when even that is too small. */
static dword INIGrownSize(qword needed)
{
  /* One step at most: a value that is far too long (a stray file name, a
   * runaway string) must not take the plug-in's small heap. */
  if (needed <= BufferSize) return BufferSize;
  qword grown = ((qword)BufferSize / INI_GROWTH + 1) * INI_GROWTH;
  return grown >= needed ? (dword)grown : 0;
}

/* Rebuilds the text with the entry start..end replaced by pattern + value. */
static void INIReplaceEntry(char *start, char *end, const char *pattern, const char *value)
{
  size_t textLen = strlen(INIBuffer);
  qword needed = (qword)textLen - (qword)(end - start) + strlen(pattern) + strlen(value) + 1;
  dword newSize = INIGrownSize(needed);
  if (newSize == 0) return;
  char *block = (char *)TAP_MemAlloc(newSize);
  if (block == nullptr) return;
  memset(block, 0, newSize);
  size_t head = (size_t)(start - INIBuffer);
  memcpy(block, INIBuffer, head);
  snprintf(block + head, newSize - head, "%s%s%s", pattern, value, end + 1);
  TAP_MemFree(INIBuffer);
  INIBuffer = block;
  BufferSize = newSize;
}

/* Appends a new entry pattern + value + "\r\n" at the end of the text. */
static void INIAppendEntry(const char *pattern, const char *value)
{
  size_t textLen = strlen(INIBuffer);
  qword needed = (qword)textLen + strlen(pattern) + strlen(value) + 3;
  dword newSize = INIGrownSize(needed);
  if (newSize == 0) return;
  if (newSize != BufferSize) {
    char *block = (char *)TAP_MemAlloc(newSize);
    if (block == nullptr) return;
    memset(block, 0, newSize);
    memcpy(block, INIBuffer, BufferSize);
    TAP_MemFree(INIBuffer);
    INIBuffer = block;
    BufferSize = newSize;
  }
  snprintf(INIBuffer + textLen, BufferSize - textLen, "%s%s\r\n", pattern, value);
}

void INISetString(const char *key, const char *value)
{
  char pattern[INI_MAX_KEY + 2];
  char *start;
  char *end;

  if (key == nullptr || value == nullptr || INIBuffer == nullptr) return;
  /* A line break would split the entry and plant a second one in the file. */
  if (!INIKeyUsable(key) || strpbrk(value, "\r\n") != nullptr) {
    LogEntryTKLibPrintf(true, "INISetString: entry '%.78s' with a line break or without a key not stored", key);
    return;
  }
  INIMakePattern(key, pattern);
  INIFindStartEnd(pattern, &start, &end, BufferSize);
  if (start != nullptr && end != nullptr) INIReplaceEntry(start, end, pattern, value);
  else INIAppendEntry(pattern, value);
}

void INISetInt(const char *key, int value)
{
  char text[16];
  snprintf(text, sizeof(text), "%d", value);
  INISetString(key, text);
}

/* Creates the folder name below the current one if needed and enters it. */
static bool INIEnterFolder(const char *name)
{
  if (!TAP_Hdd_Exist(name)) TAP_Hdd_Create(name, ATTR_FOLDER);
  return HDD_ChangeDir(name);
}

/* Changes to the folder that a location code names, creating what is missing. */
static bool INIEnterPlace(IniPlace place, const char *appName)
{
  if (place == IniPlaceHere) return true;
  if (!HDD_ChangeDir(PROGRAM_FILES_DIR)) return false;
  if (place == IniPlaceProgramFiles) return true;
  if (!INIEnterFolder("Settings")) return false;
  if (place == IniPlaceSettings) return true;
  return INIEnterFolder(appName);
}

/* Writes the held text into a new file of the current folder; a stale file
 * of that name (left by a save that was cut short) goes first, since an
 * existing file would keep its bytes behind a shorter text. */
static bool INIWriteFile(const char *fileName, char *absPath)
{
  if (TAP_Hdd_Exist(fileName) && !TAP_Hdd_Delete(fileName)) {
    INISaveError = "a file of the same name cannot be replaced";
    return false;
  }
  if (!TAP_Hdd_Create(fileName, ATTR_NORMAL)) {
    INISaveError = "the folder takes no new file (read-only?)";
    return false;
  }
  FwFileRecord *file = TAP_Hdd_Fopen(fileName);
  if (file == nullptr) {
    INISaveError = "the new file cannot be opened";
    TAP_Hdd_Delete(fileName);
    return false;
  }
  if (!HDD_GetAbsolutePathByTypeFile(file, absPath)) absPath[0] = '\0';
  size_t len = strlen(INIBuffer);
  /* Only the text goes out, never the zero bytes behind it; an empty text
   * leaves an empty file, which is what was asked for. */
  bool ok = len == 0 || TAP_Hdd_Fwrite(INIBuffer, (dword)len, 1, file) == 1;
  ok = ok && TAP_Hdd_Flen(file) == (dword)len;
  TAP_Hdd_Fclose(file);
  if (!ok) {
    INISaveError = "the disk is full";
    TAP_Hdd_Delete(fileName);
  }
  return ok;
}

/* The new text goes into a spare file beside the old one ("<name>.new"),
 * which the firmware has on the disk once it is closed; the spare then takes
 * the old file's place in one rename, and the folder is synced so that the
 * rename is on the disk too. A receiver switched off at any moment finds the
 * old file or the new one, never a cut one. Nothing is ever written over the
 * old file: a save that cannot be done this way leaves it as it was, and no
 * spare behind. */
static bool INIWriteText(const char *fileName)
{
  char spare[160], spareAbs[PATH_BUFFER], finalAbs[PATH_BUFFER];
  int n = snprintf(spare, sizeof spare, "%s.new", fileName);
  if (n <= 0 || (size_t)n >= sizeof spare) {
    INISaveError = "the file name is too long";
    return false;
  }
  if (!INIWriteFile(spare, spareAbs)) return false;
  char *slash = strrchr(spareAbs, '/');
  int m = slash == nullptr
              ? -1
              : snprintf(finalAbs, sizeof finalAbs, "%.*s/%s", (int)(slash - spareAbs), spareAbs, fileName);
  if (m <= 0 || (size_t)m >= sizeof finalAbs || OS_Rename(spareAbs, finalAbs) != 0) {
    INISaveError = "the new file cannot take the old one's place";
    TAP_Hdd_Delete(spare);
    return false;
  }
  *slash = '\0';
  if (OS_SyncDir(spareAbs) != 0)
    LogEntryTKLibPrintf(true, "INISaveFile: %s saved, but its folder could not be synced", fileName);
  return true;
}

bool INISaveFile(const char *fileName, IniPlace place, const char *appName)
{
  INISaveError = "nothing to save";
  if (INIBuffer == nullptr || fileName == nullptr || fileName[0] == '\0' || (int)place >= 6) return false;
  if (INITextProblem[0] != '\0') {
    /* what is held is not what the file holds: writing it would lose bytes */
    INISaveError = "the file is no plain text and is left as it is";
    return false;
  }
  if (place == IniPlaceAppFolder && (appName == nullptr || appName[0] == '\0' || appName[0] == '/')) return false;
  /* A text that was found nowhere is written to the most general place. */
  if (place == IniPlaceNone || place == IniPlaceNew) place = IniPlaceProgramFiles;

  char keptDir[PATH_BUFFER];
  bool pushed = HDD_TAP_KeepDir(keptDir);
  /* A save that could not come back would leave the caller elsewhere. */
  if (!pushed && keptDir[0] == '\0') return false;
  INISaveError = "its folder cannot be reached";
  bool ok = INIEnterPlace(place, appName) && INIWriteText(fileName);
  if (ok) INISaveError = "";
  HDD_TAP_RestoreDir(pushed, keptDir);
  return ok;
}

void INICloseFile(void)
{
  if (INIBuffer != nullptr) TAP_MemFree(INIBuffer);
  INIBuffer = nullptr;
  BufferSize = 0;
}
