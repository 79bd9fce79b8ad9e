/* TextEncoding.h -- character tables, UTF-8 and file-name text.
 *
 * Skips DVB table selectors, counts and edits UTF-8 characters, converts
 * 8-bit text to UTF-8 and back to Latin-1, cleans file names and searches
 * without case. Strings are zero-terminated; buffers belong to the caller.
 * Functions that grow text take an optional buffer size (0: the caller
 * vouches for the room). Owns: the cached answer of isUTFFirmware.
 */
#ifndef FERROX_TOOLKIT_TEXTENCODING_H
#define FERROX_TOOLKIT_TEXTENCODING_H

#include "tap_api.h"

/* Code points of the bytes 0xA0 to 0xFF; 0 marks an unassigned position */
extern const word UTFLookupISO8859_1[96];
extern const word UTFLookupISO8859_2[96];
extern const word UTFLookupISO8859_3[96];
extern const word UTFLookupISO8859_4[96];
extern const word UTFLookupISO8859_5[96];
extern const word UTFLookupISO8859_6[96];
extern const word UTFLookupISO8859_7[96];
extern const word UTFLookupISO8859_8[96];
extern const word UTFLookupISO8859_9[96];
extern const word UTFLookupISO8859_10[96];
extern const word UTFLookupISO8859_11[96];
extern const word UTFLookupISO8859_13[96];
extern const word UTFLookupISO8859_14[96];
extern const word UTFLookupISO8859_15[96];
extern const word UTFLookupISO8859_16[96];
extern const word UTFLookupISO6937[96];

/* isLegalChar mode bits */
#define LC_CONTROL 1  /* control characters */
#define LC_NEWLINE 2  /* 0x0A and 0x8A */
#define LC_RESERVED 4 /* " * / : < > ? \ | */
#define LC_ASCII 8    /* everything outside 0x20..0x7E */

const char *SkipCharTableBytes(const char *text);
char *SkipCharTableBytes(char *text);
bool isUTF8Char(const char *p, byte *length);
dword UTF8ToUTF32(const char *p, byte *length);
void UTF32ToUTF8(dword codePoint, char *out, byte *length);
int strlenUC(const char *text);
char *GetUCPos(const char *text, int index);
/* textSize > 0: when the result would not fit, the text stays unchanged */
void InsertAt(char *text, int index, const char *insert, int textSize = 0);
void DeleteAt(char *text, int index, int count);
char *strncpyUC(char *dest, const char *src, size_t n);
/* destSize / textSize > 0: the result is cut after the last whole character
 * that fits (and the cut is logged) */
bool StrToUTF8(const char *src, char *dest, byte defaultTable, int destSize = 0);
bool StrMkUTF8(char *text, byte defaultTable, int textSize = 0);
void StrToISO(const char *src, char *dest);
void StrToISOAlloc(const char *src, char **dest);
void GetStringEncoding(const char *text, bool *has8Bit, bool *hasUTF8);
bool isUTFFirmware(void);
extern int UTFFirmwareCached; /* -1 until isUTFFirmware asked the firmware */
bool isLegalChar(const char *p, int mode);
char *ValidFileName(const char *src, int mode, char *dest, int destSize);
char *MakeValidFileName(char *name, int mode);
bool StringEndsWith(const char *text, const char *suffix);
char *stricstr(const char *text, const char *pattern);
/* textSize > 0: when the result would not fit, the text stays unchanged */
bool StrReplace(char *text, const char *pattern, const char *replacement, int textSize = 0);

#endif
