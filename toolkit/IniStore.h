/* IniStore.h -- one small key=value text file, held in memory.
 *
 * The store locates a file in a fixed set of folders, holds its bytes,
 * answers integer and string look-ups, changes or appends entries in place
 * (every other byte, comments included, stays as it was) and writes it back
 * where it was found. No sections; keys match without regard to ASCII case.
 * Owns: the one held text (INIBuffer, BufferSize).
 */
#ifndef FERROX_TOOLKIT_INISTORE_H
#define FERROX_TOOLKIT_INISTORE_H

#include "tap_api.h"

typedef enum IniPlace {
  IniPlaceNone = 0,        /* not found / failure */
  IniPlaceNew = 1,         /* found nowhere; an empty text was started */
  IniPlaceHere = 2,        /* the caller's current folder */
  IniPlaceAppFolder = 3,   /* "/ProgramFiles/Settings/<application>" */
  IniPlaceSettings = 4,    /* "/ProgramFiles/Settings" */
  IniPlaceProgramFiles = 5 /* "/ProgramFiles" */
} IniPlace;

#define INI_MAX_KEY 78 /* longer keys are cut before any search */

extern char *INIBuffer;
extern dword BufferSize;
extern bool INIMemoryShort; /* the last INIOpenFile failed for want of memory */
/* Why the held text is not the file's bytes ("" when it is): a file with NUL
 * bytes or saved as UTF-16 is read as far as it goes, but never written
 * back, so the user's bytes stay as they are. */
extern const char *INITextProblem;
/* Why the last INISaveFile failed ("" after a save that worked). */
extern const char *INISaveError;

IniPlace INIOpenFile(const char *fileName, const char *appName);
IniPlace INILocateFile(const char *fileName, const char *appName);
int INIGetInt(const char *key, int defaultValue, int minValue, int maxValue);
bool INIGetString(const char *key, char *dest, const char *defaultValue, dword destSize);
/* Whether the held text has an entry for key, with a value or an empty one. */
bool INIHasKey(const char *key);
void INISetString(const char *key, const char *value);
void INISetInt(const char *key, int value);
bool INISaveFile(const char *fileName, IniPlace place, const char *appName);
void INICloseFile(void);
void INIFindStartEnd(const char *pattern, char **start, char **end, dword longest);

#endif
