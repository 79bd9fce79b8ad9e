// FontManagerTest.cpp -- ".ufnt" fonts on the simulator's screen: refused
// files, the glyph cache, blending, marks, cuts, clipping, and the standard
// fonts of the build.
#include <algorithm>
#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "Cli.h"
#include "FirmwareBinding.h"
#include "FontManager.h"
#include "MessageWin.h"
#include "SimFixture.h"

namespace {

constexpr const char *kTkLog = "/mnt/hd/ProgramFiles/Settings/TKLib.log";
constexpr const char *kFonts = "/mnt/hd/ProgramFiles/Settings/Fonts/";

struct TestGlyph {
  uint32_t codePoint;
  int width, height;
  std::vector<uint8_t> coverage;  // height rows of width bytes; empty: all 255
};

// A ".ufnt" file of the given glyphs; `count` overrides the glyph count.
std::string Ufnt(const std::vector<TestGlyph> &glyphs, int64_t count = -1)
{
  auto put32 = [](std::string &s, uint32_t v) {
    for (int i = 0; i < 4; i++) s.push_back(static_cast<char>(v >> (8 * i)));
  };
  std::string head = "UFNT", table, bitmaps;
  put32(head, static_cast<uint32_t>(count >= 0 ? count : static_cast<int64_t>(glyphs.size())));
  uint32_t offset = static_cast<uint32_t>(8 + 12 * glyphs.size());
  for (const TestGlyph &g : glyphs) {
    put32(table, g.codePoint);
    put32(table, offset + static_cast<uint32_t>(bitmaps.size()));
    table.push_back(static_cast<char>(g.width)), table.push_back(static_cast<char>(g.width >> 8));
    table.push_back(static_cast<char>(g.height)), table.push_back(static_cast<char>(g.height >> 8));
    if (g.coverage.empty()) bitmaps.append(static_cast<size_t>(g.width) * g.height, '\xFF');
    else bitmaps.append(g.coverage.begin(), g.coverage.end());
  }
  return head + table + bitmaps;
}

int OpenDescriptors()
{
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) n++;
    closedir(d);
  }
  return n;
}

bool Empty(const tFontDataUC &f)
{
  return f.FileHandle == 0 && f.NrGlyphs == 0 && f.FontDef == nullptr && f.GlyphCacheCount == 0 &&
         f.GlyphCache == nullptr;
}

class FontTest : public SimTest {
 protected:
  void Configure(sim::Config &c) override { c.screenshotDir = sandbox / "shots"; }
  void SetUp() override
  {
    SimTest::SetUp();
    FIS_ResetCache();
    WriteFile(kTkLog, "");
    tkl_rgn = 0;
    std::string error;
    ASSERT_EQ(7, sim::InstallFonts(sandbox / "root", sim::StandardFontDir(), &error)) << error;
    region = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
    ASSERT_GE(region, 128);
    TAP_Osd_FillBox(static_cast<word>(region), 0, 0, 720, 576, kBlack);
  }
  void TearDown() override
  {
    for (tFontDataUC *f : {&font, &other}) FMUC_FreeFontFile(f);
    SimTest::TearDown();
  }
  void WriteFont(const std::string &name, const std::string &bytes) { WriteFile(std::string(kFonts) + name, bytes); }
  bool Logged(const std::string &line) const { return ReadFile(kTkLog).find(line) != std::string::npos; }
  uint32_t Px(int x, int y) const { return Rx().RegionPixel(region, x, y); }
  word Rgn() const { return static_cast<word>(region); }
  // Pixels of rows y..y+h, columns x..x+w, as text, for comparing drawings.
  std::vector<uint32_t> Area(int x, int y, int w, int h) const
  {
    std::vector<uint32_t> v;
    for (int r = y; r < y + h; r++)
      for (int c = x; c < x + w; c++) v.push_back(Px(c, r));
    return v;
  }
  // Rightmost column in x0..x1 of rows y..y+h that is not black; -1 for none.
  int RightEdge(int x0, int x1, int y, int h) const
  {
    for (int c = x1; c >= x0; c--)
      for (int r = y; r < y + h; r++)
        if (Px(c, r) != kBlack) return c;
    return -1;
  }
  static constexpr uint32_t kBlack = 0xFF000000, kWhite = 0xFFFFFFFF;
  int region = -1;
  tFontDataUC font = {}, other = {};
};

// ---- loading ----

struct BadFile {
  const char *what;
  std::string bytes;
};

class FontRefused : public FontTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(FontRefused, WithTheInvalidHeaderLineAnEmptyRecordAndTheFileClosed)
{
  WriteFont("Bad.ufnt", GetParam().bytes);
  int fds = OpenDescriptors();
  size_t memory = Rx().MemoryInUse();
  EXPECT_EQ(0, FMUC_LoadFontFile("Bad.ufnt", &font));
  EXPECT_TRUE(Empty(font));
  EXPECT_TRUE(Logged("FontManager UC: 'Bad.ufnt' has invalid header")) << ReadFile(kTkLog);
  EXPECT_EQ(fds, OpenDescriptors()) << "file left open";
  EXPECT_EQ(memory, Rx().MemoryInUse());
}

const TestGlyph kA = {0x41, 3, 2, {0, 128, 255, 255, 0, 128}};

INSTANTIATE_TEST_SUITE_P(Files, FontRefused,
                         ::testing::Values(BadFile{"wrong magic", "UFNX" + Ufnt({kA}).substr(4)}, BadFile{"empty", ""},
                                           BadFile{"shorter than its head", "UFNT\x01"},
                                           BadFile{"no glyphs", Ufnt({}, 0)},
                                           // 12 x 0x15555556 is 8 on 32 bits: the table would be read past its block
                                           BadFile{"count that wraps", Ufnt({kA}, 0x15555556)},
                                           BadFile{"count beyond the file", Ufnt({kA}, 2)}),
                         [](const auto &info) { return CaseName(info.param.what); });

TEST_F(FontTest, MissingFontIsLoggedAndShownForThreeHundredTicks)
{
  dword before = Rx().Ticks();
  EXPECT_EQ(0, FMUC_LoadFontFile("Nope.ufnt", &font));
  EXPECT_TRUE(Empty(font));
  EXPECT_TRUE(Logged("FontManager UC: failed to load Nope.ufnt"));
  EXPECT_EQ(Rx().Ticks() - before, 300u) << "the message window stays 300 ticks";
  EXPECT_EQ(0, tkl_rgn) << "and is gone again";
  EXPECT_EQ(0, FMUC_LoadFontFile(nullptr, &font));
  EXPECT_EQ(0, FMUC_LoadFontFile("", &font));
  EXPECT_EQ(0, FMUC_LoadFontFile("Calibri_20.ufnt", nullptr));
}

TEST_F(FontTest, GlyphRecordsOutsideTheFileOrOfNoUsableSizeAreLeftOutWithALine)
{
  std::string file = Ufnt({kA, {0x42, 2, 2, {}}, {0x43, 0, 5, {}}, {0x44, 800, 1, std::vector<uint8_t>(800, 255)}});
  // B's bitmap offset beyond the end
  file[8 + 12 + 4] = '\x00', file[8 + 12 + 5] = '\x00', file[8 + 12 + 6] = '\x01';
  WriteFont("Odd.ufnt", file);
  ASSERT_EQ(1, FMUC_LoadFontFile("Odd.ufnt", &font));
  EXPECT_TRUE(
      Logged("FontManager UC: 3 glyph records of 'Odd.ufnt' lie outside the file or have no usable size (the first: "
             "42); left out"))
      << ReadFile(kTkLog);
  byte length = 0;
  EXPECT_NE(nullptr, FMUC_GetGlyphData(&font, "A", &length));
  for (const char *text : {"B", "C", "D"}) EXPECT_EQ(nullptr, FMUC_GetGlyphData(&font, text, &length)) << text;
  EXPECT_TRUE(Logged("Glyph 42 not found"));
}

TEST_F(FontTest, LoadingIntoALoadedRecordGivesBackTheFirstFont)
{
  ASSERT_EQ(1, FMUC_LoadFontFile("Calibri_20.ufnt", &font));
  FMUC_GetStringWidth("Ferrox", &font);
  size_t memory = Rx().MemoryInUse();
  int fds = OpenDescriptors();
  ASSERT_EQ(1, FMUC_LoadFontFile("Calibri_20.ufnt", &font));
  EXPECT_EQ(fds, OpenDescriptors());
  EXPECT_LT(Rx().MemoryInUse(), memory) << "the six cached glyphs are gone with the first font";
  FMUC_FreeFontFile(&font);
  EXPECT_TRUE(Empty(font));
  FMUC_FreeFontFile(nullptr);
}

TEST_F(FontTest, EveryGlyphOfAFontFitsTheCache)
{
  // the cache holds pointers: sized by 12 bytes per glyph it would overflow
  // on 64 bits long before the last glyph (the sanitizer build sees it)
  std::vector<TestGlyph> glyphs;
  std::string text;
  for (uint32_t cp = 'a'; cp <= 'z'; cp++) glyphs.push_back({cp, 2, 3, {}}), text.push_back(static_cast<char>(cp));
  WriteFont("Az.ufnt", Ufnt(glyphs));
  ASSERT_EQ(1, FMUC_LoadFontFile("Az.ufnt", &font));
  EXPECT_EQ(52u, FMUC_GetStringWidth(text.c_str(), &font));
  EXPECT_EQ(26, font.GlyphCacheCount);
}

// The table is searched sorted, whatever order the file has: each glyph is
// found with its own width, and of two records of a code point the first
// usable one as the file has them counts.
TEST_F(FontTest, GlyphsAreFoundInAFileOfAnyOrder)
{
  std::vector<TestGlyph> glyphs;
  for (uint32_t cp = 'z'; cp >= 'a'; cp--) glyphs.push_back({cp, static_cast<int>(cp - 'a' + 1), 2, {}});
  glyphs.push_back({'m', 0, 2, {}});   // refused: no width
  glyphs.push_back({'m', 40, 1, {}});  // a second usable 'm': the first one counts
  glyphs.push_back({0x20AC, 7, 3, {}});
  WriteFont("Shuffled.ufnt", Ufnt(glyphs));
  ASSERT_EQ(1, FMUC_LoadFontFile("Shuffled.ufnt", &font));
  byte length = 0;
  for (uint32_t cp = 'a'; cp <= 'z'; cp++) {
    const char text[2] = {static_cast<char>(cp), 0};
    tGlyphCacheUC *g = FMUC_GetGlyphData(&font, text, &length);
    ASSERT_NE(nullptr, g) << text;
    EXPECT_EQ(static_cast<int>(cp - 'a' + 1), g->Width) << text;
  }
  tGlyphCacheUC *euro = FMUC_GetGlyphData(&font, "\xE2\x82\xAC", &length);
  ASSERT_NE(nullptr, euro);
  EXPECT_EQ(7, euro->Width);
  EXPECT_EQ(3, length);
  EXPECT_EQ(nullptr, FMUC_GetGlyphData(&font, "0", &length));
  EXPECT_EQ(27, font.GlyphCacheCount);
  EXPECT_EQ(FMUC_GetGlyphData(&font, "q", &length), FMUC_GetGlyphData(&font, "q", &length)) << "read once, kept";
  EXPECT_EQ(27, font.GlyphCacheCount);
}

TEST_F(FontTest, AGlyphIsReadFromTheFileOnce)
{
  WriteFont("A.ufnt", Ufnt({kA}));
  ASSERT_EQ(1, FMUC_LoadFontFile("A.ufnt", &font));
  Rx().ResetCallCounts();
  FMUC_PutStringAA(Rgn(), 10, 10, 100, "AA", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  FMUC_PutStringAA(Rgn(), 10, 30, 100, "A", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  EXPECT_EQ(1u, Rx().CallCount("OS_Read"));
  EXPECT_EQ(2u, Rx().CallCount("TAP_Osd_SaveBox")) << "one read of the pixels per text";
  EXPECT_EQ(2u, Rx().CallCount("TAP_Osd_RestoreBox"));
}

TEST_F(FontTest, AShortReadIsNoGlyphAndDrawsNothing)
{
  WriteFont("A.ufnt", Ufnt({kA}));
  ASSERT_EQ(1, FMUC_LoadFontFile("A.ufnt", &font));
  fs::resize_file(Host(std::string(kFonts) + "A.ufnt"), 8 + 12 + 2);  // cut after loading
  FMUC_PutStringAA(Rgn(), 10, 10, 100, "A", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  EXPECT_TRUE(Logged("FontManager UC: failed to read the 6 bytes of glyph 41"));
  EXPECT_EQ(0, font.GlyphCacheCount);
  EXPECT_EQ(std::vector<uint32_t>(12 * 6, kBlack), Area(8, 8, 12, 6));
}

// ---- blending (the divisor is 256: full over full at half coverage is 254) ----

struct Blend {
  byte alpha, fore, back;
  word scale;  // 256ths
  byte expected;
};

TEST(FontBlend, OneChannel)
{
  // clang-format off
  const Blend cases[] = {
      {0, 200, 17, FM_AA_ONE, 17},    {255, 200, 17, FM_AA_ONE, 200}, {128, 255, 0, FM_AA_ONE, 127},
      {64, 0, 255, FM_AA_ONE, 190},   {128, 255, 255, 512, 255},      {128, 255, 0, 128, 63},
      {255, 200, 17, 128, 200},
  };
  // clang-format on
  for (const Blend &b : cases)
    EXPECT_EQ(b.expected, FM_AlphaBlend(b.alpha, b.fore, b.back, b.scale))
        << int(b.alpha) << " " << int(b.fore) << " over " << int(b.back) << " x " << b.scale << "/256";
  // the integer scale gives what the channel times the scale as a float,
  // truncated, gave: for every blend and the scales that are whole 256ths
  for (word scale : {FM_AA_ONE, 128, 64, 384, 512, 1})
    for (int alpha = 1; alpha < 255; alpha += 3)
      for (int fore : {0, 1, 99, 200, 255})
        for (int back : {0, 17, 128, 254, 255}) {
          const int v = ((255 - alpha) * back + alpha * fore) >> 8;
          const int asFloat = std::min(255, static_cast<int>(static_cast<float>(v) * (scale / 256.0f)));
          ASSERT_EQ(asFloat, FM_AlphaBlend(byte(alpha), byte(fore), byte(back), scale))
              << alpha << " " << fore << " over " << back << " x " << scale << "/256";
        }
  EXPECT_EQ(0x7F7F7Fu, FM_AlphaBlendRGB(128, 0xFFFFFFFF, 0xFF000000, FM_AA_ONE)) << "no alpha byte";
  EXPECT_EQ(0x00FF00u, FM_AlphaBlendRGB(255, 0x1200FF00, 0xFFFF0000, FM_AA_ONE));
  FM_InitAlphaLUT(0xFFFFFFFF, 0xFF000000, FM_AA_ONE);
  EXPECT_EQ(127, AlphaLUT[3 * 128]);
  EXPECT_EQ(0, AlphaLUT[0]);
}

struct PixelCase {
  const char *what;
  uint32_t fore, back;
  uint32_t expected[3];  // the first row: coverage 0, 128, 255
};

class FontPixels : public FontTest, public ::testing::WithParamInterface<PixelCase> {};

TEST_P(FontPixels, CoverageZeroKeepsHalfBlendsFullIsTheTextColour)
{
  const PixelCase &c = GetParam();
  WriteFont("A.ufnt", Ufnt({kA}));
  ASSERT_EQ(1, FMUC_LoadFontFile("A.ufnt", &font));
  TAP_Osd_FillBox(Rgn(), 0, 0, 100, 50, 0xFF000000);
  FMUC_PutStringAA(Rgn(), 20, 10, 90, "A", c.fore, c.back, &font, 0, 0, FM_AA_ONE);
  for (int k = 0; k < 3; k++) EXPECT_EQ(c.expected[k], Px(20 + k, 10)) << c.what << " column " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Colours, FontPixels,
    ::testing::Values(PixelCase{"white over black", 0xFFFFFFFF, 0, {0xFF000000, 0xFF7F7F7F, 0xFFFFFFFF}},
                      PixelCase{"half-transparent text", 0x80FFFFFF, 0, {0xFF000000, 0x807F7F7F, 0x80FFFFFF}},
                      PixelCase{
                          "opaque blue background", 0xFFFFFFFF, 0xFF0000FF, {0xFF0000FF, 0xFF7F7FFE, 0xFFFFFFFF}}),
    [](const auto &info) { return CaseName(info.param.what); });

// Text over a ground of many colours: every pixel is the blend of its own
// coverage, text colour and ground, whether the pair of colours was met
// before, pushed out of the blend tables by others, or is new. A glyph of
// every coverage over stripes of 160 colours, four text colours, twice each.
TEST_F(FontTest, BlendsOverManyGroundsAreThoseOfEachPixel)
{
  TestGlyph g{'G', 40, 16, {}};
  for (int r = 0; r < g.height; r++)
    for (int k = 0; k < g.width; k++) g.coverage.push_back(static_cast<uint8_t>((r * 40 + k) * 7 % 256));
  WriteFont("G.ufnt", Ufnt({g}));
  ASSERT_EQ(1, FMUC_LoadFontFile("G.ufnt", &font));
  auto ground = [](int x) { return 0xFF000000u | ((static_cast<uint32_t>(x) * 0x010307u) & 0xFFFFFFu); };
  const uint32_t colours[] = {0xFFFFFFFF, 0xFFFFFF00, 0x80FF8000, 0xFFFFFFFF, 0xFF80808C, 0xFFFFFF00, 0x80FF8000};
  for (uint32_t fore : colours) {
    for (int x = 0; x < 200; x++) TAP_Osd_FillBox(Rgn(), static_cast<dword>(x), 0, 1, 40, ground(x));
    FMUC_PutStringAA(Rgn(), 10, 5, 400, "GGGG", fore, 0, &font, FMUC_CutEnd, FMUC_AlignLeft, FM_AA_ONE);
    int wrong = 0;
    for (int x = 10; x < 10 + 4 * g.width; x++)
      for (int r = 0; r < g.height; r++) {
        byte c = g.coverage[static_cast<size_t>(r) * g.width + (x - 10) % g.width];
        uint32_t want = c == 0     ? ground(x)
                        : c == 255 ? fore
                                   : (fore & 0xFF000000u) | FM_AlphaBlendRGB(c, fore, ground(x), FM_AA_ONE);
        wrong += Px(x, 5 + r) != want;
      }
    EXPECT_EQ(0, wrong) << std::hex << "text colour 0x" << fore;
  }
}

// ---- measuring, marks and cuts ----

TEST_F(FontTest, MarksTakeNoRoomAndSitOnTheGlyphBeforeThem)
{
  ASSERT_EQ(1, FMUC_LoadFontFile("Calibri_20.ufnt", &font));
  EXPECT_EQ(FMUC_GetStringWidth("e", &font), FMUC_GetStringWidth("e\xCC\x81", &font));
  EXPECT_GT(FMUC_GetStringWidth("e", &font), 0u);
  EXPECT_EQ(0u, FMUC_GetStringWidth("", &font));
  EXPECT_EQ(0u, FMUC_GetStringWidth("e", nullptr));
  EXPECT_EQ(0, FMUC_GetStringHeight(nullptr, &font));
  for (dword cp : {0x300u, 0x36Fu, 0xE31u, 0xE34u, 0xE3Au, 0xE47u, 0xE4Eu, 0xA8u, 0xB4u, 0xB8u, 0x384u, 0x385u})
    EXPECT_TRUE(FMUC_IsDiacriticalMark(cp)) << std::hex << cp;
  for (dword cp : {0x2FFu, 0x370u, 0xE32u, 0xE3Bu, 0xE46u, 0xE4Fu, 0x41u, 0xE9u})
    EXPECT_FALSE(FMUC_IsDiacriticalMark(cp)) << std::hex << cp;

  // the composed é has its accent above the middle of the e
  FMUC_PutStringAA(Rgn(), 100, 100, 300, "e\xCC\x81", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  int lit = 0, sum = 0;
  for (int r = 100; r < 107; r++)
    for (int c = 95; c < 130; c++)
      if (Px(c, r) != kBlack) lit++, sum += c;
  ASSERT_GT(lit, 0) << "the accent is drawn above the e";
  EXPECT_NEAR(100 + FMUC_GetStringWidth("e", &font) / 2.0, static_cast<double>(sum) / lit, 2.0);
}

TEST_F(FontTest, AMarkWithNothingBeforeItDrawsOnlyWhatFallsInsideTheBox)
{
  WriteFont("M.ufnt", Ufnt({{0x301, 4, 2, {}}, kA}));
  ASSERT_EQ(1, FMUC_LoadFontFile("M.ufnt", &font));
  FMUC_PutStringAA(Rgn(), 50, 10, 90,
                   "\xCC\x81"
                   "A",
                   kWhite, 0, &font, 0, 0, FM_AA_ONE);
  EXPECT_EQ(kWhite, Px(50, 10)) << "the right half of the mark";
  EXPECT_EQ(kWhite, Px(51, 11));
  EXPECT_EQ(kBlack, Px(49, 10)) << "its left half lies outside the box";
  EXPECT_EQ(kBlack, Px(48, 10));
}

// Widest prefix (cut at the end) or suffix of text that fits `room` pixels.
std::string Fitting(const std::string &text, tFontDataUC *font, dword room, bool fromEnd)
{
  for (size_t n = text.size(); n > 0; n--) {
    std::string part = fromEnd ? text.substr(text.size() - n) : text.substr(0, n);
    if (FMUC_GetStringWidth(part.c_str(), font) <= room) return part;
  }
  return "";
}

TEST_F(FontTest, CutModesShortenAsTheirNamesSay)
{
  ASSERT_EQ(1, FMUC_LoadFontFile("Calibri_20.ufnt", &font));
  const std::string text = "Aufnahmen vom Wochenende: Tatort";
  const dword x = 40, maxX = 220, room = maxX - x;
  ASSERT_GT(FMUC_GetStringWidth(text.c_str(), &font), room);
  struct Cut {
    byte mode;
    std::string shown;
    // clang-format off
  } cuts[] = {
      {0, Fitting(text, &font, room, false)},
      {1, Fitting(text, &font, room - FMUC_GetStringWidth("... ", &font), false) + "..."},
      {2, "..." + Fitting(text, &font, room - FMUC_GetStringWidth("...", &font), true)},
  };
  // clang-format on
  for (const Cut &c : cuts) {
    TAP_Osd_FillBox(Rgn(), 0, 0, 720, 200, kBlack);
    FMUC_PutStringAA(Rgn(), x, 20, maxX, text.c_str(), kWhite, 0, &font, c.mode, 0, FM_AA_ONE);
    FMUC_PutStringAA(Rgn(), x, 100, 700, c.shown.c_str(), kWhite, 0, &font, 0, 0, FM_AA_ONE);
    EXPECT_EQ(Area(0, 100, 720, 24), Area(0, 20, 720, 24)) << "mode " << int(c.mode) << " shows \"" << c.shown << "\"";
    EXPECT_LE(RightEdge(0, 719, 20, 24), static_cast<int>(maxX));
  }
  // mode 1 keeps the room of one blank more than it draws
  EXPECT_LE(x + FMUC_GetStringWidth(cuts[1].shown.c_str(), &font) + FMUC_GetStringWidth(" ", &font), maxX);
}

TEST_F(FontTest, ATextThatCannotBeShortenedEnoughIsNotDrawn)
{
  WriteFont("W.ufnt", Ufnt({{0x57, 60, 4, {}}}));
  ASSERT_EQ(1, FMUC_LoadFontFile("W.ufnt", &font));
  Rx().ResetCallCounts();
  for (byte mode : {0, 1, 2, 3}) FMUC_PutStringAA(Rgn(), 10, 10, 50, "W", kWhite, 0, &font, mode, 0, FM_AA_ONE);
  EXPECT_EQ(0u, Rx().CallCount("TAP_Osd_RestoreBox"));
  EXPECT_EQ(-1, RightEdge(0, 100, 10, 5));
}

TEST_F(FontTest, AlignmentPlacesTheTextWithinTheBox)
{
  WriteFont("A.ufnt", Ufnt({{0x41, 10, 2, {}}}));
  ASSERT_EQ(1, FMUC_LoadFontFile("A.ufnt", &font));
  struct {
    byte align;
    int left;
  } cases[] = {{0, 100}, {1, 100 + (200 - 110) / 2}, {2, 190}, {7, 100}};
  for (const auto &c : cases) {
    TAP_Osd_FillBox(Rgn(), 0, 0, 720, 20, kBlack);
    FMUC_PutStringAA(Rgn(), 100, 5, 200, "A", kWhite, 0, &font, 0, c.align, FM_AA_ONE);
    EXPECT_EQ(kBlack, Px(c.left - 1, 5)) << "align " << int(c.align);
    EXPECT_EQ(kWhite, Px(c.left, 5)) << "align " << int(c.align);
    EXPECT_EQ(kWhite, Px(c.left + 9, 6)) << "align " << int(c.align);
    EXPECT_EQ(kBlack, Px(c.left + 10, 5)) << "align " << int(c.align);
  }
}

TEST_F(FontTest, AnOpaqueBackgroundFillsFromXToMaxX)
{
  WriteFont("A.ufnt", Ufnt({kA}));
  ASSERT_EQ(1, FMUC_LoadFontFile("A.ufnt", &font));
  FMUC_PutStringAA(Rgn(), 100, 50, 160, "A", kWhite, 0xFF202080, &font, 0, 1, FM_AA_ONE);
  EXPECT_EQ(0xFF202080u, Px(100, 50));
  EXPECT_EQ(0xFF202080u, Px(159, 52)) << "height + 1 rows";
  EXPECT_EQ(kBlack, Px(100, 53));
}

TEST_F(FontTest, TextAtTheRightAndBottomEdgesDrawsThePartThatFits)
{
  ASSERT_EQ(1, FMUC_LoadFontFile("Calibri_20.ufnt", &font));
  int h = FMUC_GetStringHeight("Hg", &font);
  ASSERT_GT(h, 10);
  FMUC_PutStringAA(Rgn(), 300, 100, 700, "Hg", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  FMUC_PutStringAA(Rgn(), 300, 576 - 8, 700, "Hg", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  EXPECT_EQ(Area(300, 100, 30, 8), Area(300, 576 - 8, 30, 8)) << "the top 8 rows at the bottom edge";
  // maxX beyond the region is the region's last column
  dword w = FMUC_GetStringWidth("Hg", &font);
  FMUC_PutStringAA(Rgn(), 720 - w, 200, 5000, "Hg", kWhite, 0, &font, 3, 0, FM_AA_ONE);
  EXPECT_EQ(-1, RightEdge(0, 719, 200, h)) << "a text that ends at the region's width does not fit below it";
  FMUC_PutStringAA(Rgn(), 719 - w, 200, 5000, "Hg", kWhite, 0, &font, 3, 0, FM_AA_ONE);
  EXPECT_EQ(Area(300, 100, static_cast<int>(w), h), Area(719 - static_cast<int>(w), 200, static_cast<int>(w), h));
}

TEST_F(FontTest, LatinOneTextAndItsUtf8FormDrawTheSamePixels)
{
  ASSERT_EQ(1, FMUC_LoadFontFile("Calibri_20.ufnt", &font));
  FMUC_PutStringAA(Rgn(), 50, 50, 400, "M\xFCller \xC4rger", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  FMUC_PutStringAA(Rgn(), 50, 150, 400, "M\xC3\xBCller \xC3\x84rger", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  EXPECT_EQ(Area(40, 150, 300, 26), Area(40, 50, 300, 26));
  EXPECT_NE(-1, RightEdge(40, 400, 50, 26));
  // line breaks and control characters are cleaned away
  FMUC_PutStringAA(Rgn(), 50, 250, 400, "M\xC3\xBCl\nler \xC3\x84r\tger", kWhite, 0, &font, 0, 0, FM_AA_ONE);
  EXPECT_EQ(Area(40, 150, 300, 26), Area(40, 250, 300, 26));
}

TEST_F(FontTest, AGlyphTheFontLacksTakesNoRoomAndIsLogged)
{
  ASSERT_EQ(1, FMUC_LoadFontFile("Calibri_14.ufnt", &font));
  EXPECT_EQ(FMUC_GetStringWidth("ab", &font), FMUC_GetStringWidth("a\xE4\xB8\xAD"
                                                                  "b",
                                                                  &font));
  EXPECT_TRUE(Logged("Glyph 4e2d not found"));
  byte length = 0;
  EXPECT_EQ(nullptr, FMUC_GetGlyphData(&font, "\x85", &length));
  EXPECT_EQ(1, length) << "bytes 0x80..0x9F are stepped over";
}

TEST(FontUtf8, FindNextAndStart)
{
  const char text[] =
      "a\xC3\xBC\xE2\x82\xAC"
      "b";
  EXPECT_EQ(text + 1, FMUC_FindNextUTF8(text));
  EXPECT_EQ(text + 3, FMUC_FindNextUTF8(text + 1));
  EXPECT_EQ(text + 6, FMUC_FindNextUTF8(text + 3));
  EXPECT_EQ(text + 3, FMUC_FindUTF8Start(text + 5));
  EXPECT_EQ(text + 1, FMUC_FindUTF8Start(text + 2));
  EXPECT_EQ(nullptr, FMUC_FindNextUTF8(nullptr));
  EXPECT_EQ(nullptr, FMUC_FindUTF8Start(nullptr));
}

// Every standard font, with umlauts, Greek and Cyrillic, in one picture.
TEST_F(FontTest, StandardFontsDrawEveryScriptTheyCarry)
{
  const char *names[] = {"Calibri_10.ufnt", "Calibri_12.ufnt", "Calibri_14.ufnt", "Calibri_16.ufnt",
                         "Calibri_18.ufnt", "Calibri_20.ufnt", "Calibri_20B.ufnt"};
  const char *line =
      "%s \xC3\x84rger \xC3\xBC"
      "ber M\xC3\xBCller \xC3\x9F \xE2\x80\x93 \xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC "
      "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9 \xC5\x81\xC3\xB3\xC4\x91\xC5\xBA 0123";
  TAP_Osd_FillBox(Rgn(), 0, 0, 720, 576, 0xFF101010);
  int y = 40, previous = 0;
  for (const char *name : names) {
    tFontDataUC f = {};
    ASSERT_EQ(1, FMUC_LoadFontFile(name, &f)) << name;
    char text[300];
    snprintf(text, sizeof text, line, name);
    int h = FMUC_GetStringHeight(text, &f);
    EXPECT_GE(h, previous) << name << ": larger fonts have taller lines";
    previous = h;
    FMUC_PutStringAA(Rgn(), 40, static_cast<dword>(y), 700, text, 0xFFFFFFFF, 0, &f, 1, 0, FM_AA_ONE);
    EXPECT_NE(-1, RightEdge(40, 700, y, h)) << name;
    y += h + 12;
    FMUC_FreeFontFile(&f);
  }
  EXPECT_FALSE(Logged("not found")) << ReadFile(kTkLog);
  TAP_Osd_Sync();
  std::string png = Rx().WriteScreenshot();
  ASSERT_FALSE(png.empty());
  if (const char *keep = std::getenv("FERROX_KEEP_SCREENSHOTS"))
    fs::copy_file(png, fs::path(keep) / "standard-fonts.png", fs::copy_options::overwrite_existing);
}

}  // namespace
