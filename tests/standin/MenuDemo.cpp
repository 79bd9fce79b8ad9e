/* MenuDemo.cpp -- the menu framework on its own: a settings-like menu of
 * twelve items with values, one that cannot be chosen, and a legend.
 * Up/Down/PageUp/PageDown move the cursor (the framework), Left/Right step
 * the value of an item with arrows, OK marks an item yellow, Exit ends.
 * Every key is reported with TAP_Print so runs can be followed.
 * Owns: the value steps of the items. */
#include <stdio.h>

#include "OSDMenu.h"
#include "tap_api.h"

#define ITEMS 12
#define STEPS 3

// clang-format off
static const char *const Names[ITEMS] = {
    "Quellverzeichnis",  "Zielverzeichnis", "Modus",           "Geschwindigkeit",
    "Startzeit",         "Wartezeit",       "Nur Aufnahmen",   "Doppelte Namen",
    "Protokoll",         "Herunterfahren",  "Auftragsdateien", "Version",
};
// clang-format on
// clang-format off
static const char *const Values[ITEMS][STEPS] = {
    {"MoveToNAS", "MoveToNAS", "MoveToNAS"}, {"NAS-Share", "NAS-Share", "NAS-Share"},
    {"Verschieben", "Kopieren", "Pr\xC3\xBC" "fen"}, {"4", "8", "1"},
    {"03:00", "04:00", "sofort"},            {"5 min", "10 min", "1 min"},
    {"ja", "nein", "ja"},                    {"umbenennen", "\xC3\xBC" "berschreiben", "auslassen"},
    {"normal", "ausf\xC3\xBChrlich", "aus"}, {"nein", "ja", "nein"},
    {"ja", "nein", "ja"},                    {"V1.17", "V1.17", "V1.17"},
};
// clang-format on
static int Step[ITEMS];

/* items 0, 1 and 11 have no steps; the last one cannot be chosen */
static bool HasArrows(int i) { return i >= 2 && i <= 10; }

static void BuildMenu(void)
{
  OSDMenuInitialize(true, false, true, "Ferrox", "Menu framework demo");
  for (int i = 0; i < ITEMS; i++)
    OSDMenuItemAdd(Names[i], Values[i][Step[i]], nullptr, nullptr, i != ITEMS - 1, HasArrows(i), i);
  OSDMenuButtonAdd(1, BI_ok, nullptr, "Markieren");
  OSDMenuButtonAdd(1, BI_exit, nullptr, "Beenden");
  OSDMenuButtonAdd(1, BI_green, nullptr, "Speichern");
  OSDMenuButtonAdd(1, BI_red, nullptr, "Abbrechen");
  OSDMenuButtonAdd(2, 26, nullptr, "");
  OSDMenuButtonAdd(2, 40, nullptr, "Wert \xC3\xA4ndern");
  OSDMenuButtonAdd(2, 16, nullptr, "");
  OSDMenuButtonAdd(2, 50, nullptr, "Eintrag w\xC3\xA4hlen");
  OSDMenuUpdate(false);
}

static void End(void)
{
  OSDMenuDestroy();
  KeyTranslate(false, TAP_EventHandler);
  TAP_Exit();
}

int TAP_Main(void)
{
  KeyTranslate(true, TAP_EventHandler);
  BuildMenu();
  TAP_Print("MenuDemo: menu of %d items shown\n", OSDMenuItemGetNrOfItems());
  return 1;
}

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2)
{
  if (event == EVT_STOP) {
    End();
    return 0;
  }
  if (event != EVT_KEY) return param1;
  dword key = (dword)param1, p2 = (dword)param2;
  if (OSDMenuEvent(&event, &key, &p2)) {
    TAP_Print("MenuDemo: key 0x%X moved the cursor to item %d\n", (unsigned)param1, OSDMenuGetCurrentItem());
    return 0;
  }
  int item = OSDMenuGetCurrentItem();
  switch (key) {
    case RKEY_Left:
    case RKEY_Right:
      if (HasArrows(item)) {
        Step[item] = (Step[item] + (key == RKEY_Right ? 1 : STEPS - 1)) % STEPS;
        OSDMenuItemModifyValue(item, Values[item][Step[item]]);
        OSDMenuUpdate(false);
      }
      TAP_Print("MenuDemo: item %d value \"%s\"\n", item, Values[item][Step[item]]);
      return 0;
    case RKEY_Ok:
      OSDMenuItemModifyTextColor(item, 0xFFFFFF00);
      OSDMenuUpdate(false);
      TAP_Print("MenuDemo: item %d marked\n", item);
      return 0;
    case RKEY_Exit:
      TAP_Print("MenuDemo: ending\n");
      End();
      return 0;
    default: return param1;
  }
}
