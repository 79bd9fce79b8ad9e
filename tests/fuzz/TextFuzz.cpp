// TextFuzz.cpp -- fuzz target over the toolkit's text conversions, character
// positions, search and replace, and file-name cleaning.
//
// Every buffer is allocated to the byte the function's contract asks for, so
// AddressSanitizer reports any write or read past it; a few invariants of
// the results are checked on top and abort when broken.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzReceiver.h"
#include "TextEncoding.h"

namespace {

using Buffer = std::unique_ptr<char[]>;

void Check(bool ok, const char *what)
{
  if (ok) return;
  fprintf(stderr, "TextFuzz: %s\n", what);
  abort();
}

// A buffer of exactly size bytes holding a copy of the first bytes of src
Buffer Copy(const char *src, size_t srcBytes, size_t size)
{
  Buffer buffer(new char[size]);
  memset(buffer.get(), 0, size);
  memcpy(buffer.get(), src, srcBytes < size ? srcBytes : size);
  return buffer;
}

// Every byte at or above 0x80 in text made by StrToUTF8 belongs to a sequence
bool AllUTF8(const char *p)
{
  byte n;
  for (; *p; p += n)
    if (!isUTF8Char(p, &n) && (byte)*p >= 0x80) return false;
  return true;
}

void FuzzCharacters(const char *text)
{
  byte n, m;
  char bytes[4];
  for (const char *p = SkipCharTableBytes(text); *p; p += n) {
    dword codePoint = UTF8ToUTF32(p, &n);
    isLegalChar(p, 15);
    if (n == 1) continue;
    UTF32ToUTF8(codePoint, bytes, &m);
    // an overlong form re-encodes shorter; anything else comes back unchanged
    Check(m < n || (m == n && memcmp(bytes, p, n) == 0), "UTF-8 round trip");
  }
  bool has8Bit, hasUTF8;
  GetStringEncoding(text, &has8Bit, &hasUTF8);
}

void FuzzToUTF8(const char *text, size_t bytes, byte table, size_t small)
{
  bool marked = (byte)text[0] == 0x15;  // copied as it is, stray bytes and all
  // The fuzzer picks the default table (every number 0 to 255 over a run);
  // table 0 with its letter pairs runs on every input. Not all 17 tables per
  // input: each dropped byte writes a log line, which the simulator makes
  // costly, and the tables differ only in their data.
  byte tables[2] = {table, 0};
  for (byte t : tables) {
    Buffer dest(new char[3 * bytes + 1]);
    StrToUTF8(text, dest.get(), t);
    Check(marked || AllUTF8(dest.get()), "StrToUTF8 left a byte outside UTF-8");
  }
  Buffer cut(new char[small + 1]);
  StrToUTF8(text, cut.get(), table, (int)small + 1);
  Check(strlen(cut.get()) <= small, "bounded StrToUTF8");

  Buffer inPlace = Copy(text, bytes, 3 * bytes + 1);
  StrMkUTF8(inPlace.get(), table);
  Check(marked || AllUTF8(inPlace.get()), "StrMkUTF8 left a byte outside UTF-8");
  Buffer tight = Copy(text, bytes, bytes);
  StrMkUTF8(tight.get(), table, (int)bytes);
}

void FuzzToISO(const char *text, size_t bytes)
{
  Buffer dest(new char[bytes]);
  StrToISO(text, dest.get());
  char *alloc = nullptr;
  StrToISOAlloc(text, &alloc);
  if (alloc) TAP_MemFree(alloc);
}

void FuzzPositions(const char *text, size_t bytes, int index, int count, const std::string &insert)
{
  int length = strlenUC(text);
  Check(length >= 0 && (size_t)length <= bytes, "strlenUC");
  Check(GetUCPos(text, index) >= text, "GetUCPos");

  Buffer grown = Copy(text, bytes, bytes + strlen(insert.c_str()));
  InsertAt(grown.get(), index, insert.c_str());
  Buffer tight = Copy(text, bytes, bytes);
  InsertAt(tight.get(), index, insert.c_str(), (int)bytes);
  DeleteAt(grown.get(), index, count);

  Buffer prefix(new char[count > 0 ? count : 1]);
  strncpyUC(prefix.get(), text, count > 0 ? (size_t)count : 1);
}

void FuzzSearch(const char *text, size_t bytes, const std::string &pattern, const std::string &replacement)
{
  const char *pat = pattern.c_str(), *rep = replacement.c_str();
  char *hit = stricstr(text, pat);
  Check(hit == nullptr || (hit >= text && hit < text + bytes), "stricstr");
  StringEndsWith(text, pat);

  // the caller's buffer holds the result to the byte, no more
  size_t textLen = strlen(text), patternLen = strlen(pat), replacementLen = strlen(rep);
  size_t count = 0;
  for (const char *p = patternLen ? strstr(text, pat) : nullptr; p; p = strstr(p + patternLen, pat)) count++;
  size_t needed = textLen + 1;
  if (replacementLen > patternLen) needed += (replacementLen - patternLen) * count;
  Buffer room = Copy(text, textLen + 1, needed);
  StrReplace(room.get(), pat, rep);
  Buffer tight = Copy(text, textLen + 1, textLen + 1);
  StrReplace(tight.get(), pat, rep, (int)textLen + 1);
}

void FuzzFileNames(const char *text, size_t bytes, int firstMode, size_t destSize)
{
  // a name too long for the destination is refused whatever the mode, with
  // a log line each time: one mode is enough for that case
  int modes = strlen(text) < destSize ? 16 : 1;
  for (int i = 0; i < modes; i++) {
    int mode = (firstMode + i) & 15;
    Buffer dest(new char[destSize ? destSize : 1]);
    ValidFileName(text, mode, dest.get(), (int)destSize);
    if (destSize > 0) {
      size_t len = strlen(dest.get());
      Check(len < destSize && len <= 126, "ValidFileName length");
    }
  }
  for (int mode = 0; mode < 16; mode++) {
    Buffer name = Copy(text, bytes, bytes);
    MakeValidFileName(name.get(), mode);
    Check(strlen(name.get()) <= 126, "MakeValidFileName length");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  FuzzReceiver();
  FuzzedDataProvider input(data, size);
  byte table = input.ConsumeIntegral<byte>();
  int index = input.ConsumeIntegralInRange<int>(-2, 300);
  int count = input.ConsumeIntegralInRange<int>(-2, 300);
  size_t destSize = input.ConsumeIntegralInRange<size_t>(0, 300);
  std::string pattern = input.ConsumeRandomLengthString(16);
  std::string replacement = input.ConsumeRandomLengthString(16);
  std::string raw = input.ConsumeRemainingBytesAsString();

  // the text with its three trailing zeros, all of it the functions may read
  size_t bytes = raw.size() + 3;
  Buffer text = FuzzText(reinterpret_cast<const uint8_t *>(raw.data()), raw.size());

  FuzzCharacters(text.get());
  FuzzToUTF8(text.get(), bytes, table, destSize);
  FuzzToISO(text.get(), bytes);
  FuzzPositions(text.get(), bytes, index, count, pattern);
  FuzzSearch(text.get(), bytes, pattern, replacement);
  FuzzFileNames(text.get(), bytes, table & 15, destSize);
  return 0;
}
