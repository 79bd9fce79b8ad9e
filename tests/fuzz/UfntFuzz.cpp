// UfntFuzz.cpp -- fuzz target over ".ufnt" font files: any bytes as a font
// file in the receiver's font folder, loaded, measured and drawn with
// fuzzer-made text into a region, then freed.
//
// AddressSanitizer reports every read past the file's glyph table or a
// glyph's bitmap, and every write outside the box the text is drawn into;
// the check below proves the font's memory is all given back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FontManager.h"
#include "FuzzReceiver.h"

namespace {

void Check(bool ok, const char *what)
{
  if (ok) return;
  fprintf(stderr, "UfntFuzz: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  sim::Receiver &rx = FuzzReceiver();
  FuzzedDataProvider fdp(data, size);
  std::string text = fdp.ConsumeRandomLengthString(200);
  int x = fdp.ConsumeIntegralInRange(-20, 740), y = fdp.ConsumeIntegralInRange(-20, 600);
  int maxX = fdp.ConsumeIntegralInRange(-20, 800);
  byte cut = fdp.ConsumeIntegralInRange<byte>(0, 3), align = fdp.ConsumeIntegralInRange<byte>(0, 3);
  dword back = fdp.ConsumeBool() ? 0 : 0xFF203040;
  std::string file = fdp.ConsumeRemainingBytesAsString();

  static bool prepared = false;
  if (!prepared) {
    std::filesystem::create_directories(rx.HostPath("/mnt/hd/ProgramFiles/Settings/Fonts"));
    prepared = true;
  }
  std::filesystem::remove(rx.HostPath("/mnt/hd/ProgramFiles/Settings/TKLib.log"));  // one input's lines at most
  std::ofstream(rx.HostPath("/mnt/hd/ProgramFiles/Settings/Fonts/Fuzz.ufnt"), std::ios::binary | std::ios::trunc)
      << file;
  static int region = -1;
  if (region < 0) region = TAP_Osd_Create(0, 0, 720, 576, 0, 0);

  size_t before = rx.MemoryInUse();
  tFontDataUC font = {};
  if (FMUC_LoadFontFile("Fuzz.ufnt", &font)) {
    FMUC_GetStringWidth(text.c_str(), &font);
    FMUC_GetStringHeight(text.c_str(), &font);
    FMUC_PutStringAA((word)region, (dword)x, (dword)y, (dword)maxX, text.c_str(), 0xFFFFFFFF, back, &font, cut, align,
                     FM_AA_ONE);
    FMUC_FreeFontFile(&font);
  }
  Check(font.FileHandle == 0 && font.FontDef == nullptr && font.GlyphCache == nullptr, "record not cleared");
  Check(rx.MemoryInUse() == before, "font memory not given back");
  return 0;
}
