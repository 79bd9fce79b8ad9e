// OsdBench.cpp -- what on-screen text costs: the twelve lines of a settings
// menu drawn with the standard font, load excluded and every glyph cached,
// and a whole menu's redraw and cursor move, timed on the host, with the
// platform calls each makes. Figures only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Cli.h"
#include "FontManager.h"
#include "OSDMenu.h"
#include "Receiver.h"
#include "tap_header.h"

extern "C" const dword __tap_ud__ = 0x8E0A4F21;  // the benchmark acts as a plug-in
extern "C" const char __tap_program_name[64] = "Ferrox Bench";

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A settings menu's lines: label on the left, value on the right.
// clang-format off
const char *const kLines[12][2] = {
    {"Quellverzeichnis", "/mnt/hd/DataFiles/MoveToNAS"}, {"Zielverzeichnis", "/mnt/hd/DataFiles/NAS-Share"},
    {"Modus", "Verschieben"},                            {"Geschwindigkeit", "4"},
    {"Startzeit", "03:00"},                              {"Wartezeit nach Start", "5 min"},
    {"Nur Aufnahmen", "ja"},                             {"Doppelte Namen", "umbenennen"},
    {"Protokoll", "ausf\xC3\xBChrlich"},                 {"Herunterfahren danach", "nein"},
    {"Auftragsdateien", "ja"},                           {"Version", "V1.17"},
};
// clang-format on

void DrawMenuText(word region, tFontDataUC *font)
{
  for (int i = 0; i < 12; i++) {
    dword y = 96 + 37 * i;
    FMUC_PutStringAA(region, 71, y, 360, kLines[i][0], 0xFFFFFFFF, 0, font, 1, 0, FM_AA_ONE);
    FMUC_PutStringAA(region, 390, y, 630, kLines[i][1], 0xFFFFFFFF, 0, font, 2, 1, FM_AA_ONE);
  }
}

struct Figures {
  double minMs, medianMs, maxMs;
};

template <class F>
Figures Time(int rounds, F &&f)
{
  std::vector<double> ms;
  for (int round = 0; round < rounds; round++) {
    auto t0 = Clock::now();
    f();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms.front(), ms[ms.size() / 2], ms.back()};
}

void PrintCalls(sim::Receiver &rx, int per)
{
  const char *calls[] = {"TAP_Osd_Sync",          "TAP_Osd_PutGd",         "TAP_Osd_Copy",    "TAP_Osd_FillBox",
                         "TAP_Osd_DrawRectangle", "TAP_Osd_Draw3dBoxFill", "TAP_Osd_SaveBox", "TAP_Osd_RestoreBox",
                         "TAP_Osd_Create",        "TAP_MemAlloc",          "OS_Read"};
  std::printf("  platform calls each:");
  for (const char *c : calls)
    if (uint64_t n = rx.CallCount(c)) std::printf(" %s %llu", c, static_cast<unsigned long long>(n / per));
  std::printf("\n");
}

// A twelve-item menu with values and a legend: one full redraw and one
// cursor move (which draws the two lines and the scroll bar), timed.
void MenuFigures(sim::Receiver &rx)
{
  OSDMenuInitialize(true, false, true, "Ferrox", "Einstellungen");
  for (int i = 0; i < 12; i++) OSDMenuItemAdd(kLines[i][0], kLines[i][1], nullptr, nullptr, true, i >= 2, i);
  OSDMenuButtonAdd(1, BI_ok, nullptr, "Auswahl");
  OSDMenuButtonAdd(1, BI_exit, nullptr, "Beenden");
  OSDMenuButtonAdd(1, BI_green, nullptr, "Speichern");
  OSDMenuButtonAdd(1, BI_red, nullptr, "Abbrechen");
  OSDMenuUpdate(false);  // region, bar and glyphs made once
  const int rounds = 200;
  rx.ResetCallCounts();
  Figures redraw = Time(rounds, [] {
    OSDDirty = 1;
    OSDMenuUpdate(false);
  });
  std::printf("Menu of twelve items, one full redraw, %d rounds: min %.3f ms, median %.3f ms, max %.3f ms\n", rounds,
              redraw.minMs, redraw.medianMs, redraw.maxMs);
  PrintCalls(rx, rounds);
  rx.ResetCallCounts();
  Figures move = Time(rounds, [] {
    word event = EVT_KEY;
    dword key = RKEY_Down, p2 = 0;
    OSDMenuEvent(&event, &key, &p2);
  });
  std::printf("Menu of twelve items, one cursor move (Down), %d rounds: min %.3f ms, median %.3f ms, max %.3f ms\n",
              rounds, move.minMs, move.medianMs, move.maxMs);
  PrintCalls(rx, rounds);
  OSDMenuDestroy();
}

}  // namespace

int main()
{
  fs::path root = fs::temp_directory_path() / ("ferrox-osd-bench-" + std::to_string(getpid()));
  sim::Config config;
  config.root = root;
  int status = 0;
  {
    sim::Receiver rx(config);
    rx.AttachHostTask();
    std::string error;
    if (sim::InstallFonts(root, sim::StandardFontDir(), &error) < 0) {
      std::fprintf(stderr, "bench_osd: %s\n", error.c_str());
      status = 2;
    } else {
      tFontDataUC font = {};
      FMUC_LoadFontFile("Calibri_20.ufnt", &font);
      word region = static_cast<word>(TAP_Osd_Create(0, 0, 720, 576, 0, 0));
      TAP_Osd_FillBox(region, 0, 0, 720, 576, 0xFF101010);
      DrawMenuText(region, &font);  // every glyph read once, then cached
      rx.ResetCallCounts();
      DrawMenuText(region, &font);
      std::printf("Twelve menu lines (label and value, Calibri_20, glyphs cached)\n");
      std::printf(
          "  platform calls per drawing: TAP_Osd_SaveBox %llu, TAP_Osd_RestoreBox %llu, "
          "TAP_Osd_FillBox %llu, OS_Read %llu, TAP_MemAlloc %llu\n",
          static_cast<unsigned long long>(rx.CallCount("TAP_Osd_SaveBox")),
          static_cast<unsigned long long>(rx.CallCount("TAP_Osd_RestoreBox")),
          static_cast<unsigned long long>(rx.CallCount("TAP_Osd_FillBox")),
          static_cast<unsigned long long>(rx.CallCount("OS_Read")),
          static_cast<unsigned long long>(rx.CallCount("TAP_MemAlloc")));
      std::vector<double> ms;
      for (int round = 0; round < 200; round++) {
        auto t0 = Clock::now();
        DrawMenuText(region, &font);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      }
      std::sort(ms.begin(), ms.end());
      std::printf("  host time per drawing, 200 rounds: min %.3f ms, median %.3f ms, max %.3f ms\n", ms.front(),
                  ms[ms.size() / 2], ms.back());
      std::printf("  glyphs in the cache: %d of %d\n", font.GlyphCacheCount, font.NrGlyphs);
      // the glyph look-up alone: the width of the twelve lines, every glyph
      // cached, which is what drawing and cutting ask three to four times a
      // character
      size_t characters = 0;
      for (const auto &line : kLines) characters += std::strlen(line[0]) + std::strlen(line[1]);
      Figures lookup = Time(2000, [&] {
        for (const auto &line : kLines) FMUC_GetStringWidth(line[0], &font), FMUC_GetStringWidth(line[1], &font);
      });
      std::printf(
          "  glyph look-ups, the twelve lines' widths (%zu characters), 2000 rounds: median %.1f us, "
          "%.0f ns a character\n",
          characters, lookup.medianMs * 1000, lookup.medianMs * 1e6 / static_cast<double>(characters));
      FMUC_FreeFontFile(&font);
      TAP_Osd_Delete(region);
      std::printf("\n");
      MenuFigures(rx);
    }
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return status;
}
