/* SetupMain.cpp -- entry points and the main settings menu.
 *
 * The menu shows the settings of the table's menu items with their values
 * (SettingsTable); Left and Right step
 * the value under the cursor, OK on the two folders opens their picker,
 * Green saves every setting and ends, Yellow saves, starts the copy service
 * at once and ends, Exit and Red end without saving. While the menu runs no
 * key reaches the firmware.
 * Owns: DisplayMode, s, the main menu's State and LastSelectedItem, and the
 * reason the copy service gave when it started the setup.
 */
#include <stdio.h>
#include <string.h>

#include "FerroxSetup.h"
#include "LogTrace.h"
#include "MessageWin.h"
#include "OSDMenu.h"
#include "PathTypes.h"
#include "TapManagement.h"
#include "TextEncoding.h"

enum { MS_BUILD = 0, MS_RUNNING = 1, MS_SAVE = 2, MS_QUIT = 3, MS_START = 4 };

#define REASON_TICKS 800  /* 8 s, or until a key: why the settings make no run */
#define STARTED_TICKS 300 /* 3 s: the copy service has started */

int DisplayMode = DM_MAIN;
char s[256];

static int State = MS_BUILD;
static int LastSelectedItem = 0;
static dword StartReason = 0; /* the copy service's start parameter, until the menu showed it */
static dword ReasonUntil = 0; /* the tick at which the reason's window goes; 0: none shown */

/* the setup reads the file and writes it only when the user saves: leaving
 * with Exit or Red leaves it as it was */
static const SettingsProfile SetupSettingsProfile = {PROGRAM_NAME, SettingsForSetup, nullptr, 0, false};

void ResetSetupState(void)
{
  DisplayMode = DM_MAIN;
  State = MS_BUILD;
  LastSelectedItem = 0;
  StartReason = 0;
  ReasonUntil = 0;
  ResetPickers();
}

int TAP_Main(void)
{
  /* the settings functions enter the call trace; its listing is not for the console */
  CallTraceInit();
  CallTraceEnable(false);
  SettingsStart(&SetupSettingsProfile);
  CreateSettingsDir();
  KeyTranslate(true, TAP_EventHandler);
  LoadINI();
  if (!HDD_TAP_GetStartParameter(FERROXSETUP_ID, &StartReason)) StartReason = 0;
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

/* The text of a number or flag: its name, or its number in the format. */
static void ValueText(const tSetting *set)
{
  int value = *set->Number;
  int names = set->Kind == SettingFlag ? 2 : set->Max + 1;
  if (set->Names != nullptr) snprintf(s, sizeof s, "%s", set->Names[value >= 0 && value < names ? value : 0]);
  else snprintf(s, sizeof s, set->Format != nullptr ? set->Format : "%d", value);
}

void UpdateOSD(int item)
{
  const tSetting *set = SettingOfMenuItem(item);
  if (set == nullptr) return;
  if (set->Kind == SettingFolder) {
    FolderShown(set->Folder, s, sizeof s);
    OSDMenuItemModifyTextColor(item, *set->Mounted ? YELLOW : WHITE);
  } else {
    ValueText(set);
  }
  OSDMenuItemModifyValue(item, s);
  OSDMenuUpdate(false);
}

void UpdateLegend(void)
{
  int item = OSDMenuGetCurrentItem();
  OSDMenuButtonsClear();
  OSDMenuButtonAdd(1, BI_red, nullptr, "Abbrechen");
  OSDMenuButtonAdd(1, BI_green, nullptr, "Speichern");
  OSDMenuButtonAdd(1, BI_yellow, nullptr, "Jetzt kopieren");
  OSDMenuButtonAdd(2, BI_exit, nullptr, "Abbrechen");
  const tSetting *set = SettingOfMenuItem(item);
  if (set != nullptr && set->Kind == SettingFolder) OSDMenuButtonAdd(1, BI_ok, nullptr, "Auswahl");
}

/* One step of the value of an item, down (Left) or up (Right): a flag
 * toggles, a number steps and wraps as its row says; the folders change
 * only through their pickers. */
static void StepValue(int item, bool up)
{
  const tSetting *set = SettingOfMenuItem(item);
  if (set == nullptr || set->Kind == SettingFolder) return;
  int *value = set->Number;
  if (set->Kind == SettingFlag) {
    *value = *value ? 0 : 1;
    return;
  }
  *value += up ? set->Step : -set->Step;
  if (*value < set->Min) *value = set->BelowMin;
  if (*value > set->Max) *value = set->AboveMax;
}

/* Why the copy service refused the settings, in two lines: it starts the
 * setup with the reason as the start parameter. False when the setup was
 * started otherwise. */
static bool UnusableReason(const char **line1, const char **line2)
{
  static const struct {
    FolderVerdict Verdict;
    const char *Line1, *Line2;
    // clang-format off
  } reasons[] = {
      {FolderNotChosen, "No folders are chosen yet:", "choose MoveDir and DestDir, then save (Green)."},
      {FolderSame, "MoveDir and DestDir are the same folder:", "choose another DestDir."},
      {FolderDestInSource, "DestDir lies inside MoveDir:", "choose a DestDir outside MoveDir."},
      {FolderBothInternal, "No folder is a mount point:", "choose the share or drive while it is mounted (yellow)."},
      {FolderSourceOffDisk, "MoveDir is not on the internal disk:", "choose it among the recordings."},
      {FolderMissing, "A folder does not exist and cannot be made:", "choose MoveDir and DestDir again."},
  };
  // clang-format on
  if ((StartReason & SETUP_REASON_MASK) != SETUP_REASON_MARK) return false;
  for (size_t i = 0; i < sizeof reasons / sizeof reasons[0]; i++) {
    if ((dword)reasons[i].Verdict == (StartReason & ~SETUP_REASON_MASK)) {
      *line1 = reasons[i].Line1;
      *line2 = reasons[i].Line2;
      return true;
    }
  }
  return false;
}

/* Once, when the menu first shows: why the copy service cannot use the
 * settings, in a window over the menu. It does not hold the event: it goes
 * after a few seconds or at the first key (ReasonWindowDone). */
static void ShowWhyUnusable(void)
{
  const char *line1 = nullptr, *line2 = nullptr;
  if (UnusableReason(&line1, &line2)) {
    LogEntryTKLibPrintf(true, "FerroxSetup: the copy service cannot use the settings: %s %s", line1, line2);
    ShowMessageWin("Ferrox Setup", line1, line2, 0);
    ReasonUntil = TAP_GetTick() + REASON_TICKS;
  }
  StartReason = 0;
}

/* The reason's window on this event: gone once its time is up, and a key
 * while it shows only closes it (the menu under it was not to be seen).
 * True when the event is the window's. */
static bool ReasonWindowDone(word event)
{
  if (ReasonUntil == 0) return false;
  bool key = event == EVT_KEY;
  if (key || TAP_GetTick() >= ReasonUntil) {
    EndMessageWin();
    ReasonUntil = 0;
  }
  return key;
}

static void BuildMainMenu(void)
{
  OSDMenuInitialize(true, false, true, MENU_TITLE, MENU_SUBTITLE);
  for (int i = 0; i < SETUP_ITEMS; i++) {
    const tSetting *set = SettingOfMenuItem(i);
    OSDMenuItemAdd(set->Label, "", nullptr, nullptr, true, set->Kind != SettingFolder, 0);
  }
  for (int i = 0; i < OSDMenuItemGetNrOfItems(); i++) UpdateOSD(i);
  /* the cursor first: back from a picker it is on a folder, and the
   * legend's "Auswahl" belongs to it */
  OSDMenuSelectItem(LastSelectedItem);
  UpdateLegend();
  OSDMenuUpdate(false);
}

/* A key of the remote in the running menu: the menu's own keys move the
 * cursor; Left and Right step a value, OK opens a folder picker, Green
 * saves, Yellow saves and starts the copy service, Exit and Red leave. */
static void MenuKey(dword key)
{
  int item = OSDMenuGetCurrentItem();
  switch (key) {
    case RKEY_Left:
    case RKEY_Right:
      StepValue(item, key == RKEY_Right);
      UpdateOSD(item);
      break;
    case RKEY_Ok:
      if (item == ItemMoveDir || item == ItemDestDir) {
        State = MS_BUILD;
        DisplayMode = item == ItemMoveDir ? DM_MOVEDIR : DM_SHAREDIR;
      }
      break;
    case RKEY_Green: State = MS_SAVE; break;
    case RKEY_Yellow:
      /* copy now: unless the service runs already, which is said */
      if (HDD_TAP_isRunning(FERROX_ID)) {
        ShowMessageWin("Ferrox Setup", "The copy service is running already", "", 300);
        EndMessageWin();
      } else {
        State = MS_START;
      }
      break;
    case RKEY_Exit:
    case RKEY_Red: State = MS_QUIT; break;
    default: break;
  }
}

/* Green or Yellow: the settings saved and, for Yellow, the copy service
 * started. A save that failed left the old file as it was: the user is
 * told, and the copy service is not started on settings it would not read. */
static void SaveAndStart(bool start)
{
  bool saved = SaveINI();
  if (!saved) {
    ShowMessageWin("Ferrox Setup", "The settings were not saved:", SettingsSaveError, 500);
    EndMessageWin();
  }
  OSDMenuDestroy();
  if (start && saved) {
    HDD_ChangeDir(PROGRAM_FILES_DIR);
    if (!HDD_TAP_Start(SERVICE_TAP_FILE, false, 0, nullptr)) {
      ShowMessageWin("Ferrox Setup", SERVICE_TAP_FILE " could not be started:", "is it in /ProgramFiles?", 500);
    } else {
      /* the run goes on in the background: say so, and where its result shows */
      ShowMessageWin("Ferrox Setup", "The copy service has started.",
                     ShowResult != 0 ? "Its result comes on the TV when the run ends."
                                     : "Its result goes into Ferrox.log when the run ends.",
                     STARTED_TICKS);
    }
    EndMessageWin();
  }
}

/* The main menu's screen, by its State: built on its first event, then
 * keys until it is left, saved or started; the plug-in ends after. */
TapParam EventHandlerMain(word event, TapParam param1, TapParam param2)
{
  switch (State) {
    case MS_BUILD:
      BuildMainMenu();
      ShowWhyUnusable();
      State = MS_RUNNING;
      return param1;

    case MS_RUNNING: {
      if (ReasonWindowDone(event)) return 0;
      if (event != EVT_KEY) return param1;
      word ev = event;
      dword key = (dword)param1, p2 = (dword)param2;
      if (OSDMenuEvent(&ev, &key, &p2)) {
        LastSelectedItem = OSDMenuGetCurrentItem();
        UpdateLegend();
        OSDMenuUpdate(false);
      } else {
        MenuKey((dword)param1);
      }
      return 0;
    }

    case MS_SAVE:
    case MS_START:
      SaveAndStart(State == MS_START);
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
