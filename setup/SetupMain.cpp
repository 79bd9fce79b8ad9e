/* SetupMain.cpp -- entry points and the main settings menu.
 *
 * The menu shows the twelve settings with their values; Left and Right step
 * the value under the cursor, OK on the two folders opens their picker,
 * Green saves every setting and ends, Exit and Red end without saving. While
 * the menu runs no key reaches the firmware.
 * Owns: DisplayMode, s, the main menu's State and LastSelectedItem.
 */
#include <stdio.h>
#include <string.h>

#include "FerroxSetup.h"
#include "LogTrace.h"
#include "MessageWin.h"
#include "OSDMenu.h"
#include "TextEncoding.h"

#define ITEMS 12

enum { MS_BUILD = 0, MS_RUNNING = 1, MS_SAVE = 2, MS_QUIT = 3 };

int DisplayMode = DM_MAIN;
char s[256];

static int State = MS_BUILD;
static int LastSelectedItem = 0;

static const char *const Labels[ITEMS] = {
    "  Speed",         "  Mount Type",           "  MoveDir",         "  DestDir",
    "  File move or copy", "  NASBootTime",      "  replace Special Char", "  erase (DEC) in Filename",
    "  Stop Mount TAP", "  Set TS Hardlink",     "  Move all files from DataFiles", "  Log lengh",
};
static const bool ValueArrows[ITEMS] = {true, true, false, false, true, true, true, true, true, true, true, true};

void ResetSetupState(void)
{
  DisplayMode = DM_MAIN;
  State = MS_BUILD;
  LastSelectedItem = 0;
  ResetPickers();
}

int TAP_Main(void)
{
  /* the settings functions enter the call trace; its listing is not for the console */
  CallTraceInit();
  CallTraceEnable(false);
  CreateSettingsDir();
  KeyTranslate(true, TAP_EventHandler);
  LoadINI();
  return 1;
}

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2)
{
  switch (DisplayMode) {
    case DM_MAIN: return EventHandlerMain(event, param1, param2);
    case DM_MOVEDIR: return EventHandlerMoveDir(event, param1, param2);
    case DM_SHAREDIR: return EventHandlerShareDir(event, param1, param2);
    default: return param1;
  }
}

void FolderShown(const char *folder, char *dest, int destSize)
{
  if (destSize <= 0) return;
  size_t n = strnlen(folder, (size_t)destSize - 1); /* a longer setting is shown cut */
  memcpy(dest, folder, n);
  dest[n] = '\0';
  /* only a folder of the recordings area loses its prefix: a hand-written
   * "/mnt/hd/Archiv" is shown as it is */
  if (strncmp(dest, DATAFILES_PREFIX, DATAFILES_PREFIX_LEN) == 0) DeleteAt(dest, 0, DATAFILES_PREFIX_LEN);
}

static const char *YesNo(int value) { return value ? "Yes" : "No"; }

void UpdateOSD(int item)
{
  switch (item) {
    case 0: snprintf(s, sizeof s, "Faktor %d", CopySpeed); break;
    case 1: snprintf(s, sizeof s, "%s", MountType == 1 ? "NTFS" : MountType == 2 ? "Linux (Ext2/3, JFS)" : "NAS"); break;
    case 2:
      FolderShown(MoveDir, s, sizeof s);
      OSDMenuItemModifyTextColor(2, MountedDirSource ? YELLOW : WHITE);
      break;
    case 3:
      FolderShown(ShareDir, s, sizeof s);
      OSDMenuItemModifyTextColor(3, MountedDirDest ? YELLOW : WHITE);
      break;
    case 4: snprintf(s, sizeof s, "%s", move ? "Move" : "Copy"); break;
    case 5: snprintf(s, sizeof s, "%d sec", NASBootTime); break;
    case 6: snprintf(s, sizeof s, "%s", YesNo(SpecChar)); break;
    case 7: snprintf(s, sizeof s, "%s", YesNo(DelDEC)); break;
    case 8: snprintf(s, sizeof s, "%s", YesNo(StopMountTAP)); break;
    case 9: snprintf(s, sizeof s, "%s", YesNo(SetTSLink)); break;
    case 10: snprintf(s, sizeof s, "%s", YesNo(CopyAllFiles)); break;
    case 11: snprintf(s, sizeof s, "%s", LogLength ? "long" : "short"); break;
    default: break;
  }
  if (item >= 0 && item < ITEMS) OSDMenuItemModifyValue(item, s);
  OSDMenuUpdate(false);
}

void UpdateLegend(void)
{
  int item = OSDMenuGetCurrentItem();
  OSDMenuButtonsClear();
  OSDMenuButtonAdd(1, BI_red, nullptr, "Abbrechen");
  OSDMenuButtonAdd(1, BI_green, nullptr, "Speichern");
  OSDMenuButtonAdd(2, BI_exit, nullptr, "Abbrechen");
  if (item == 2 || item == 3) OSDMenuButtonAdd(1, BI_ok, nullptr, "Auswahl");
}

static void Toggle(int *flag) { *flag = *flag ? 0 : 1; }

/* One step of the value of an item, down (Left) or up (Right) */
static void StepValue(int item, bool up)
{
  switch (item) {
    case 0:
      CopySpeed += up ? 1 : -1;
      if (CopySpeed <= 0) CopySpeed = 4;
      if (CopySpeed >= 5) CopySpeed = 1;
      break;
    case 1:
      if (up) {
        MountType++;
        if (MountType >= 3) MountType = 0;
      } else {
        MountType = MountType == 0 ? 2 : MountType - 1;
      }
      break;
    case 4: Toggle(&move); break;
    case 5:
      NASBootTime += up ? 10 : -10;
      if (NASBootTime <= 0) NASBootTime = 300;
      if (NASBootTime >= 301) NASBootTime = 10;
      break;
    case 6: Toggle(&SpecChar); break;
    case 7: Toggle(&DelDEC); break;
    case 8: Toggle(&StopMountTAP); break;
    case 9: Toggle(&SetTSLink); break;
    case 10: Toggle(&CopyAllFiles); break;
    case 11: Toggle(&LogLength); break;
    default: break; /* the folders change only through their pickers */
  }
}

static void BuildMainMenu(void)
{
  OSDMenuInitialize(true, false, true, MENU_TITLE, MENU_SUBTITLE);
  for (int i = 0; i < ITEMS; i++) OSDMenuItemAdd(Labels[i], "", nullptr, nullptr, true, ValueArrows[i], 0);
  for (int i = 0; i < OSDMenuItemGetNrOfItems(); i++) UpdateOSD(i);
  /* the cursor first: back from a picker it is on a folder, and the
   * legend's "Auswahl" belongs to it */
  OSDMenuSelectItem(LastSelectedItem);
  UpdateLegend();
  OSDMenuUpdate(false);
}

TapParam EventHandlerMain(word event, TapParam param1, TapParam param2)
{
  switch (State) {
    case MS_BUILD:
      BuildMainMenu();
      State = MS_RUNNING;
      return param1;

    case MS_RUNNING: {
      if (event != EVT_KEY) return param1;
      word ev = event;
      dword key = (dword)param1, p2 = (dword)param2;
      if (OSDMenuEvent(&ev, &key, &p2)) {
        LastSelectedItem = OSDMenuGetCurrentItem();
        UpdateLegend();
        OSDMenuUpdate(false);
        return 0;
      }
      int item = OSDMenuGetCurrentItem();
      switch ((dword)param1) {
        case RKEY_Left:
        case RKEY_Right:
          StepValue(item, (dword)param1 == RKEY_Right);
          UpdateOSD(item);
          break;
        case RKEY_Ok:
          if (item == 2 || item == 3) {
            State = MS_BUILD;
            DisplayMode = item == 2 ? DM_MOVEDIR : DM_SHAREDIR;
          }
          break;
        case RKEY_Green: State = MS_SAVE; break;
        case RKEY_Exit:
        case RKEY_Red: State = MS_QUIT; break;
        default: break;
      }
      return 0;
    }

    case MS_SAVE:
      /* a save that failed left the old file as it was: the user is told */
      if (!SaveINI()) {
        const char *why = strstr(SettingsProblem, "not saved: ");
        ShowMessageWin("Ferrox Setup", "The settings were not saved:", why != nullptr ? why + 11 : "", 500);
        EndMessageWin();
      }
      OSDMenuDestroy();
      CallTraceRelease();
      TAP_Exit();
      return param1;

    default:
      OSDMenuDestroy();
      CallTraceRelease();
      TAP_Exit();
      return param1;
  }
}
