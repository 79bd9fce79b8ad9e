// TextEncodingTest.cpp -- the toolkit's text encodings and file names.
//
// Code tables and UTF-8 are checked against the system's own iconv, which is
// an independent implementation; the rest against hand-picked texts. Pure
// functions run as plain tests, those that log or allocate in a SimTest.
#include <errno.h>
#include <iconv.h>

#include <optional>
#include <string>
#include <vector>

#include "FirmwareBinding.h"
#include "LogTrace.h"
#include "SimFixture.h"
#include "TextEncoding.h"

namespace {

using Bytes = std::string;

// Converts bytes with iconv; nullopt when the character set is not
// available or the input has a byte the character set leaves unassigned.
std::optional<Bytes> Iconv(const char *to, const char *from, const Bytes &in)
{
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return std::nullopt;
  Bytes out(in.size() * 4 + 16, '\0');
  char *ip = const_cast<char *>(in.data());
  char *op = out.data();
  size_t il = in.size(), ol = out.size();
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == (size_t)-1) return std::nullopt;
  out.resize(out.size() - ol);
  return out;
}

bool IconvHas(const char *charset)
{
  iconv_t cd = iconv_open("UCS-4LE", charset);
  if (cd == (iconv_t)-1) return false;
  iconv_close(cd);
  return true;
}

uint32_t Le32(const Bytes &b, size_t at)
{
  return (uint8_t)b[at] | (uint8_t)b[at + 1] << 8 | (uint8_t)b[at + 2] << 16 | (uint32_t)(uint8_t)b[at + 3] << 24;
}

std::string ToUTF8(const Bytes &src, byte table)
{
  std::vector<char> out(src.size() * 3 + 1, '\x7F');
  StrToUTF8(src.data(), out.data(), table);
  return out.data();
}

struct IsoTable {
  int number;
  const word *table;
};

// clang-format off
const IsoTable kIsoTables[] = {
    {1, UTFLookupISO8859_1},   {2, UTFLookupISO8859_2},   {3, UTFLookupISO8859_3},
    {4, UTFLookupISO8859_4},   {5, UTFLookupISO8859_5},   {6, UTFLookupISO8859_6},
    {7, UTFLookupISO8859_7},   {8, UTFLookupISO8859_8},   {9, UTFLookupISO8859_9},
    {10, UTFLookupISO8859_10}, {11, UTFLookupISO8859_11}, {13, UTFLookupISO8859_13},
    {14, UTFLookupISO8859_14}, {15, UTFLookupISO8859_15}, {16, UTFLookupISO8859_16}};
// clang-format on

// The three positions the 1987 Greek table leaves open and later editions fill
bool Greek1987Gap(int table, int b) { return table == 7 && (b == 0xA4 || b == 0xA5 || b == 0xAA); }

#define SKIP_WITHOUT_ICONV(charset)                  \
  if (!IconvHas(charset))                            \
  GTEST_SKIP() << "iconv cannot convert " << charset \
               << " here (no gconv modules, e.g. under qemu without a full sysroot)"

// ---- code tables and UTF-8 against iconv ----

TEST(TextTables, EveryIsoTableAgreesWithIconv)
{
  SKIP_WITHOUT_ICONV("ISO-8859-2");
  for (const IsoTable &t : kIsoTables) {
    std::string charset = "ISO-8859-" + std::to_string(t.number);
    for (int b = 0xA0; b <= 0xFF; b++) {
      if (Greek1987Gap(t.number, b)) {
        EXPECT_EQ(t.table[b - 0xA0], 0) << charset << " 1987 position " << std::hex << b;
        continue;
      }
      auto ref = Iconv("UCS-4LE", charset.c_str(), Bytes(1, (char)b));
      uint32_t expected = ref ? Le32(*ref, 0) : 0;
      EXPECT_EQ(t.table[b - 0xA0], expected) << charset << " byte 0x" << std::hex << b;
    }
  }
}

// The conversion itself, through the default table and both selector forms
TEST(TextTables, StrToUTF8AgreesWithIconvForEveryTable)
{
  SKIP_WITHOUT_ICONV("ISO-8859-2");
  for (const IsoTable &t : kIsoTables) {
    std::string charset = "ISO-8859-" + std::to_string(t.number);
    Bytes text;
    for (int b = 0x20; b <= 0xFF; b++) {
      if (b == 0x7F || Greek1987Gap(t.number, b)) continue;
      if (b >= 0xA0 && !Iconv("UTF-8", charset.c_str(), Bytes(1, (char)b))) continue;
      text += (char)b;
      text += ' ';  // keeps two high bytes from ever forming a UTF-8 sequence
    }
    auto expected = Iconv("UTF-8", charset.c_str(), text);
    ASSERT_TRUE(expected) << charset;
    EXPECT_EQ(ToUTF8(text, (byte)t.number), *expected) << charset << " as default table";
    EXPECT_EQ(ToUTF8(Bytes("\x10\x00", 2) + (char)t.number + text, 0), *expected) << charset << " by selector 0x10";
    if (t.number >= 5 && t.number <= 15) {
      EXPECT_EQ(ToUTF8(Bytes(1, (char)(t.number - 4)) + text, 9), *expected) << charset << " by one-byte selector";
    }
  }
}

// The DVB Latin table is iconv's ISO 6937 apart from the positions where
// the broadcast table differs: the euro sign at 0xA4, the horizontal bar at
// 0xD0 and D with stroke at 0xE2. The diacritics 0xC1 to 0xCF need a letter
// behind them in iconv and are checked with the letter pairs.
TEST(TextTables, DvbLatinTableAgreesWithIconvIso6937)
{
  SKIP_WITHOUT_ICONV("ISO_6937");
  const struct {
    int byte;
    word codePoint;
  } own[] = {{0xA4, 0x20AC}, {0xD0, 0x2015}, {0xE2, 0x0110}};
  for (int b = 0xA0; b <= 0xFF; b++) {
    if (b >= 0xC0 && b <= 0xCF) continue;
    auto ref = Iconv("UCS-4LE", "ISO_6937", Bytes(1, (char)b));
    uint32_t expected = ref && ref->size() == 4 ? Le32(*ref, 0) : 0;
    for (const auto &o : own)
      if (o.byte == b) expected = o.codePoint;
    EXPECT_EQ(UTFLookupISO6937[b - 0xA0], expected) << "byte 0x" << std::hex << b;
  }
  const word diacritics[16] = {0,      0x0300, 0x0301, 0x0302, 0x0303, 0x0304, 0x0306, 0x0307,
                               0x0308, 0,      0x030A, 0x0327, 0,      0x030B, 0x0328, 0x030C};
  for (int b = 0xC0; b <= 0xCF; b++)
    EXPECT_EQ(UTFLookupISO6937[b - 0xA0], diacritics[b - 0xC0]) << "byte 0x" << std::hex << b;
}

TEST(TextUTF8, EncodingAndDecodingAgreeWithIconvOverAllCodePoints)
{
  Bytes utf32;
  std::vector<uint32_t> codePoints;
  for (uint32_t cp = 1; cp <= 0x10FFFF; cp++) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    codePoints.push_back(cp);
    for (int i = 0; i < 4; i++) utf32 += (char)(cp >> (8 * i));
  }
  auto reference = Iconv("UTF-8", "UCS-4LE", utf32);
  if (!reference) GTEST_SKIP() << "iconv cannot convert UCS-4LE to UTF-8 here (no gconv support)";

  Bytes encoded;
  for (uint32_t cp : codePoints) {
    char buf[4];
    byte n = 0;
    UTF32ToUTF8(cp, buf, &n);
    encoded.append(buf, n);
  }
  ASSERT_EQ(encoded.size(), reference->size());
  EXPECT_TRUE(encoded == *reference) << "UTF32ToUTF8 differs from iconv";

  size_t at = 0, bad = 0;
  for (uint32_t cp : codePoints) {
    byte n = 0, m = 0;
    uint32_t got = UTF8ToUTF32(reference->data() + at, &n);
    bool multi = isUTF8Char(reference->data() + at, &m);
    if (got != cp || multi != (cp >= 0x80) || m != n) {
      if (++bad < 5) ADD_FAILURE() << "decoding U+" << std::hex << cp << " gave " << got;
    }
    at += n;
  }
  EXPECT_EQ(bad, 0u);
}

// ---- selectors and characters ----

TEST(TextSelector, PrefixLengths)
{
  struct Case {
    Bytes text;
    int prefix;
    // clang-format off
  } cases[] = {
      {"abc", 0},          {"", 0},
      {"\x05x", 1},        {"\x0Bx", 1},
      {"\x0Cx", 1},        {"\x15x", 1},
      {Bytes("\x10\x00\x02x", 4), 3},
      {Bytes("\x10\x00\x00", 3), 2}, // no table byte: stops on the terminator
      {"\x10" "Ax", 3},    {"\x10" "A", 2},
      {"\x1F\x01x", 2},    {"\x1F", 1},   // 0x1F never skips its terminator
      {"\x1Ex", 1},        {"\xC3\xA4", 0}};
  // clang-format on
  for (const Case &c : cases) {
    Bytes buf = c.text + Bytes(4, '\0');
    EXPECT_EQ(SkipCharTableBytes(buf.data()) - buf.data(), c.prefix)
        << "first byte 0x" << std::hex << (int)(byte)c.text[0];
  }
  EXPECT_EQ(SkipCharTableBytes((const char *)nullptr), nullptr);
}

TEST(TextUTF8, CharactersAndPositions)
{
  char out[4];
  byte n = 0;
  UTF32ToUTF8(0x20AC, out, &n);
  EXPECT_EQ(Bytes(out, n), "\xE2\x82\xAC");
  UTF32ToUTF8(0x1F600, nullptr, &n);
  EXPECT_EQ(n, 4);
  // a broken sequence: each byte a character of its own
  EXPECT_EQ(UTF8ToUTF32("\xE2\x82x", &n), 0xE2u);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(UTF8ToUTF32(nullptr, &n), 0u);

  Bytes sel = Bytes("\x10\x00\x05", 3) + "abc";
  EXPECT_EQ(strlenUC(sel.data()), 3);
  const char *mixed = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xFFz";  // a ä € 😀 0xFF z
  EXPECT_EQ(strlenUC(mixed), 6);
  EXPECT_EQ(GetUCPos(mixed, 3) - mixed, 6);
  EXPECT_EQ(GetUCPos(mixed, 5) - mixed, 11);
  EXPECT_EQ(*GetUCPos(mixed, 99), 0);
  EXPECT_EQ(GetUCPos(mixed, -2), mixed);
  EXPECT_EQ(strlenUC(nullptr), 0);
}

TEST(TextUTF8, InsertAndDeleteOnMultiByteText)
{
  char text[64] = "\xC3\xA4\xC3\xB6\xC3\xBC";  // ä ö ü
  InsertAt(text, 1, "\xE2\x82\xAC");
  EXPECT_STREQ(text, "\xC3\xA4\xE2\x82\xAC\xC3\xB6\xC3\xBC");
  InsertAt(text, -5, "<");
  InsertAt(text, 99, ">");
  EXPECT_STREQ(text, "<\xC3\xA4\xE2\x82\xAC\xC3\xB6\xC3\xBC>");

  DeleteAt(text, 2, 2);  // € and ö
  EXPECT_STREQ(text, "<\xC3\xA4\xC3\xBC>");
  DeleteAt(text, 1, 100);  // runs past the end: cut at the index
  EXPECT_STREQ(text, "<");
  DeleteAt(text, 1, 1);
  DeleteAt(text, 0, 0);
  EXPECT_STREQ(text, "<");

  // a control byte inside the text is a character, not a selector
  char ctl[16] =
      "ab\x05"
      "cd";
  DeleteAt(ctl, 2, 1);
  EXPECT_STREQ(ctl, "abcd");
}

TEST(TextUTF8, StrncpyUCKeepsTheSelector)
{
  Bytes src = Bytes("\x10\x00\x02", 3) + "Name";
  char dest[16];
  memset(dest, '#', sizeof(dest));
  strncpyUC(dest, src.data(), 6);
  EXPECT_EQ(Bytes(dest, 7), Bytes("\x10\x00\x02Nam#", 7));
}

TEST(TextEncodingKind, EightBitAndUTF8)
{
  struct Case {
    const char *text;
    bool has8Bit, hasUTF8;
  } cases[] = {{"plain", false, false},
               {"K\xE4se", true, false},
               {"K\xC3\xA4se", false, true},
               {"\xC3\xA4 \xE4", true, true},
               {"\x85 control only", false, false},
               {"\x15\xE4", true, false},
               {"", false, false}};
  for (const Case &c : cases) {
    bool e8 = !c.has8Bit, eu = !c.hasUTF8;
    GetStringEncoding(c.text, &e8, &eu);
    EXPECT_EQ(e8, c.has8Bit) << c.text;
    EXPECT_EQ(eu, c.hasUTF8) << c.text;
  }
}

// ---- file names ----

TEST(TextFileName, LegalCharactersByMode)
{
  struct Case {
    const char *src;
    int mode;
    const char *expected;
    // clang-format off
  } cases[] = {
      {"Film: Teil 2?", 4, "Film Teil 2"},
      {"a\"b*c/d:e<f>g?h\\i|j", 4, "abcdefghij"},
      {"Caf\xC3\xA9 & \xE2\x82\xAC:5", 12, "Caf & 5"},     // UTF-8 letters go whole
      {"a\x01" "b\nc\x7F" "d\x85" "e\x8A\x91\x92", 1, "ab\ncde\x8A\x91\x92"},
      {"a\nb\x8A" "c\x01", 3, "abc"},
      {"K\xC3\xA4se", 1, "K\xC3\xA4se"},
  };
  // clang-format on
  for (const Case &c : cases) {
    char dest[128];
    EXPECT_STREQ(ValidFileName(c.src, c.mode, dest, sizeof(dest)), c.expected) << c.src << " mode " << c.mode;
  }
  EXPECT_FALSE(isLegalChar(nullptr, 0));
}

TEST(TextFileName, OutputStopsAt126BytesWithoutSplittingASequence)
{
  Bytes src(125, 'x');
  src +=
      "\xE2\x82\xAC"
      "tail";
  char dest[512];
  ValidFileName(src.c_str(), 1, dest, sizeof(dest));
  EXPECT_EQ(Bytes(dest), Bytes(125, 'x'));

  Bytes exact(127, 'y');  // fits a 128-byte buffer, gives 126 bytes
  char name[128];
  ValidFileName(exact.c_str(), 1, name, sizeof(name));
  EXPECT_EQ(strlen(name), 126u);
}

// ---- search ----

TEST(TextSearch, StricstrAndStringEndsWith)
{
  const char *text = "Der Tatort: TATORT im Ersten";
  EXPECT_EQ(stricstr(text, "tatort"), text + 4);
  EXPECT_EQ(stricstr(text, "ERSTEN"), text + 22);
  EXPECT_EQ(stricstr(text, "ersten!"), nullptr);
  EXPECT_EQ(stricstr(text, ""), nullptr);
  const char *aab = "aab";  // a false start does not hide the match behind it
  EXPECT_EQ(stricstr(aab, "AB"), aab + 1);
  const char *sel = "\x05Krimi";
  EXPECT_EQ(stricstr(sel, "\x05kri"), sel + 1);

  EXPECT_TRUE(StringEndsWith("Film.rec", ".rec"));
  EXPECT_FALSE(StringEndsWith("Film.rec", ".REC"));
  EXPECT_FALSE(StringEndsWith(".rec", "x.rec"));
  EXPECT_FALSE(StringEndsWith("Film.rec", ""));
  EXPECT_FALSE(StringEndsWith(nullptr, ".rec"));
}

// ---- what logs, allocates or asks the firmware: with a receiver ----

class TextEncodingSim : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    WriteFile(TKLIB_LOG, "");  // the toolkit log is written only when it exists
  }
  std::string Log() const { return ReadFile(TKLIB_LOG); }
};

TEST_F(TextEncodingSim, SelectorsChooseTheTable)
{
  EXPECT_EQ(ToUTF8("Caf\xE9", 9), "Caf\xC3\xA9");
  EXPECT_EQ(ToUTF8("\x05"
                   "Caf\xE9",
                   2),
            "Caf\xC3\xA9");                                        // 0x05: 8859-9
  EXPECT_EQ(ToUTF8(Bytes("\x10\x00\x02\xB1", 4), 9), "\xC4\x85");  // 8859-2: U+0105
  EXPECT_EQ(ToUTF8("\xB1", 9), "\xC2\xB1");                        // 8859-9: U+00B1

  char out[32];
  EXPECT_FALSE(
      StrToUTF8("\x15"
                "K\xC3\xA4se",
                out, 9));
  EXPECT_STREQ(out, "K\xC3\xA4se");
  EXPECT_TRUE(StrToUTF8("\xA4", out, 0));
  EXPECT_STREQ(out, "\xE2\x82\xAC");
  EXPECT_FALSE(StrToUTF8("K\xC3\xA4se", out, 9)) << "UTF-8 inside 8-bit text is kept";
  EXPECT_STREQ(out, "K\xC3\xA4se");
}

// The 53 pairs are exactly those iconv's ISO 6937 turns into a Latin-1 letter
TEST_F(TextEncodingSim, Iso6937PairsAgreeWithIconv)
{
  SKIP_WITHOUT_ICONV("ISO_6937");
  int known = 0;
  for (int d = 0xC1; d <= 0xCF; d++) {
    for (int c = 'A'; c <= 'z'; c++) {
      if (c > 'Z' && c < 'a') continue;
      Bytes pair = {(char)d, (char)c};
      auto ref = Iconv("UCS-4LE", "ISO_6937", pair);
      bool latin1 = ref && ref->size() == 4 && Le32(*ref, 0) >= 0xC0 && Le32(*ref, 0) <= 0xFF;
      std::string expected;
      if (latin1) {
        char buf[4];
        byte n;
        UTF32ToUTF8(Le32(*ref, 0), buf, &n);
        expected.assign(buf, n);
        known++;
      }
      EXPECT_EQ(ToUTF8("<" + pair + ">", 0), "<" + expected + ">") << std::hex << d << " " << (char)c;
    }
  }
  EXPECT_EQ(known, 53);
}

TEST_F(TextEncodingSim, UnknownPairIsDroppedAndLogged)
{
  EXPECT_EQ(ToUTF8("x\xC2"
                   "ey",
                   0),
            "x\xC3\xA9y");
  EXPECT_EQ(ToUTF8("x\xC5"
                   "ay",
                   0),
            "xy");
  EXPECT_EQ(ToUTF8("x\xC2", 0), "x");
  const char *line = "StrToUTF8: ISO6937 diacritical char c5 61 has been ignored";
  EXPECT_NE(Log().find(line), std::string::npos) << Log();
  EXPECT_NE(Console().find(std::string(" TKLIB - ") + line + "\n"), std::string::npos);
  EXPECT_EQ(Log().find("c2"), std::string::npos) << "a lone diacritic is dropped quietly";
}

// An unassigned position used to end the text there; now only that byte goes
TEST_F(TextEncodingSim, UnassignedByteKeepsTheTail)
{
  EXPECT_EQ(ToUTF8("Tag\xA5"
                   "Ende.rec",
                   3),
            "TagEnde.rec");
  EXPECT_EQ(ToUTF8("\xA6!", 0), "!");
  EXPECT_EQ(ToUTF8("a\xA4z", 7), "az") << "1987 Greek has no euro";
  EXPECT_NE(Log().find("ignored"), std::string::npos);
}

TEST_F(TextEncodingSim, BoundedConversionsCutWholeCharacters)
{
  std::vector<char> out(16 + 8, '#');
  StrToUTF8("\xE4\xE4\xE4\xE4\xE4\xE4\xE4\xE4\xE4\xE4", out.data(), 9, 16);  // 20 bytes
  std::string seven;
  for (int i = 0; i < 7; i++) seven += "\xC3\xA4";  // 14 bytes: the 8th would need 16
  EXPECT_EQ(Bytes(out.data()), seven);
  EXPECT_EQ(Bytes(out.data() + 16, 8), Bytes(8, '#'));

  char text[8 + 8];
  memset(text, '#', sizeof(text));
  strcpy(text, "\xA4\xA4\xA4x");  // three euro signs need 10 bytes
  EXPECT_TRUE(StrMkUTF8(text, 0, 8));
  EXPECT_STREQ(text, "\xE2\x82\xAC\xE2\x82\xAC");
  EXPECT_EQ(Bytes(text + 8, 8), Bytes(8, '#'));
  EXPECT_NE(Log().find("cut"), std::string::npos);
}

TEST_F(TextEncodingSim, StrMkUTF8InPlace)
{
  char text[64];
  memcpy(text,
         "\x10\x00\x02\xB1"
         "b",
         6);
  EXPECT_TRUE(StrMkUTF8(text, 9));
  EXPECT_STREQ(text,
               "\xC4\x85"
               "b");
  strcpy(text, "\x05");
  EXPECT_TRUE(StrMkUTF8(text, 9));
  EXPECT_STREQ(text, "");
  EXPECT_FALSE(StrMkUTF8(nullptr, 9));

  strcpy(text, "K\xE4se");
  Rx().SetMemoryLimit(1, 1);
  EXPECT_FALSE(StrMkUTF8(text, 9));
  EXPECT_STREQ(text, "K\xE4se");
}

TEST_F(TextEncodingSim, StrToISO)
{
  char out[64];
  StrToISO("\xC3\xA4", out);
  EXPECT_STREQ(out, "\xE4");
  StrToISO("K\xE4se", out);
  EXPECT_STREQ(out, "K\xE4se");
  StrToISO("5 \xE2\x82\xAC, \xC3\xA4", out);
  EXPECT_STREQ(out, "5 , \xE4");
  EXPECT_NE(Log().find("StrToISO: character 0x20ac ignored"), std::string::npos) << Log();
  StrToISO(
      "a\xC0\x80"
      "b\xC3\xA4",
      out);  // an overlong zero must not end the text
  EXPECT_STREQ(out, "ab\xE4");

  char *alloc = nullptr;
  StrToISOAlloc(
      "\xC3\xBC"
      "ber",
      &alloc);
  ASSERT_NE(alloc, nullptr);
  EXPECT_STREQ(alloc,
               "\xFC"
               "ber");
  TAP_MemFree(alloc);
  StrToISOAlloc(nullptr, &alloc);
  EXPECT_EQ(alloc, nullptr);
}

TEST_F(TextEncodingSim, StrReplaceShrinksAndGrows)
{
  struct Case {
    const char *text, *pattern, *replacement, *expected;
    bool replaced;
    // clang-format off
  } cases[] = {
      {"a.b.c.rec", ".", "_", "a_b_c_rec", true},
      {"Film (1).rec", " ", "\\ ", "Film\\ (1).rec", true},
      {"aaa", "a", "aa", "aaaaaa", true}, // replaced text is not scanned again
      {"abab", "ab", "", "", true},
      {"name", "x", "y", "name", false},
      {"", "x", "y", "", false},
  };
  // clang-format on
  for (const Case &c : cases) {
    char text[64];
    strcpy(text, c.text);
    EXPECT_EQ(StrReplace(text, c.pattern, c.replacement), c.replaced) << c.text;
    EXPECT_STREQ(text, c.expected);
  }
  char text[32] = "a b";
  EXPECT_FALSE(StrReplace(text, "", "x"));
  EXPECT_FALSE(StrReplace(text, " ", nullptr));
}

TEST_F(TextEncodingSim, GrowingPastTheBufferChangesNothing)
{
  char text[12 + 8];
  memset(text, '#', sizeof(text));
  strcpy(text, "a b c d e");  // 9 bytes, 13 with the backslashes
  EXPECT_FALSE(StrReplace(text, " ", "\\ ", 12));
  EXPECT_STREQ(text, "a b c d e");
  EXPECT_TRUE(StrReplace(text, " ", "\\ ", 14));
  EXPECT_STREQ(text, "a\\ b\\ c\\ d\\ e");

  char path[16 + 8];
  memset(path, '#', sizeof(path));
  strcpy(path, "NAS-Share");
  InsertAt(path, 0, "/mnt/hd/DataFiles/", 16);
  EXPECT_STREQ(path, "NAS-Share");
  EXPECT_EQ(Bytes(path + 16, 8), Bytes(8, '#'));
  EXPECT_NE(Log().find("InsertAt"), std::string::npos);

  strcpy(text, "a b");
  Rx().SetMemoryLimit(1, 1);
  EXPECT_FALSE(StrReplace(text, " ", "__"));
  EXPECT_STREQ(text, "a b");
}

// Buffers of 128, 16 and 0 bytes, fed names longer than they are
TEST_F(TextEncodingSim, FileNameDestinationSizeIsHonoured)
{
  Bytes longName(200, 'n');
  std::vector<char> guarded(128 + 16, '#');
  ValidFileName(longName.c_str(), 1, guarded.data(), 128);
  EXPECT_EQ(guarded[0], 0) << "a name not shorter than the buffer is refused";
  EXPECT_EQ(Bytes(guarded.data() + 128, 16), Bytes(16, '#'));

  ValidFileName("fifteen chars..", 1, guarded.data(), 16);
  EXPECT_STREQ(guarded.data(), "fifteen chars..");
  ValidFileName("sixteen chars...", 1, guarded.data(), 16);
  EXPECT_STREQ(guarded.data(), "");

  guarded.assign(guarded.size(), '#');
  ValidFileName("abc", 1, guarded.data(), 0);
  EXPECT_EQ(guarded[0], '#');
  EXPECT_EQ(ValidFileName("abc", 1, nullptr, 10), nullptr);
  EXPECT_NE(Log().find("ValidFileName: name of 200 bytes refused"), std::string::npos) << Log();
}

// A name longer than the 512-byte work buffer is cut like any long name
TEST_F(TextEncodingSim, MakeValidFileNameOfAnOverlongName)
{
  std::vector<char> name(700, '\0');
  Bytes src = "Film?" + Bytes(595, 'z');
  strcpy(name.data(), src.c_str());
  MakeValidFileName(name.data(), 5);
  EXPECT_EQ(Bytes(name.data()), "Film" + Bytes(122, 'z'));

  char small[32] =
      "a:b\x01"
      "c";
  EXPECT_STREQ(MakeValidFileName(small, 5), "abc");
  EXPECT_EQ(MakeValidFileName(nullptr, 5), nullptr);
}

class TextEncodingFirmware : public SimTest, public ::testing::WithParamInterface<bool> {
 protected:
  void Configure(sim::Config &config) override { config.utf8Firmware = GetParam(); }
};

TEST_P(TextEncodingFirmware, IsUTFFirmwareFollowsTheFirmware)
{
  FIS_ResetCache();
  UTFFirmwareCached = -1;
  EXPECT_EQ(isUTFFirmware(), GetParam());
  EXPECT_EQ(isUTFFirmware(), GetParam());
  FIS_ResetCache();
  UTFFirmwareCached = -1;
}

INSTANTIATE_TEST_SUITE_P(Firmware, TextEncodingFirmware, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "Utf8Names" : "EightBitNames";
                         });

}  // namespace
