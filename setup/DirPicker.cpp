/* DirPicker.cpp -- the two folder pickers: the sub-folders of "/DataFiles"
 * in the order the firmware lists them, those on another drive in yellow;
 * OK stores "/mnt/hd/DataFiles/<name>" and whether it is mounted, Exit keeps
 * both.
 *
 * A name that does not fit an item (127 bytes) is not offered: the item
 * would hold a cut name, and storing it would point the copy service at
 * another folder. Nor is a link to a folder, which the copy service does
 * not follow. Owns: the pickers' states.
 */
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "FerroxSetup.h"
#include "LogTrace.h"
#include "OSDMenu.h"
#include "PathTypes.h"
#include "TextEncoding.h"
#include "os_facade.h"

#define FOLDER_SIZE 512

enum { PS_BUILD = 0, PS_RUNNING = 1, PS_CLOSING = 2 };

static int PickerState[3] = {PS_BUILD, PS_BUILD, PS_BUILD}; /* by DisplayMode */

void ResetPickers(void)
{
  for (int i = 0; i < 3; i++) PickerState[i] = PS_BUILD;
}

int isMountedDir(const char *name)
{
  char path[PATH_BUFFER];
  if (name == nullptr) return 0;
  snprintf(path, sizeof path, "%s/DataFiles/%s", TAPFS_ROOT, name);
  return HDD_IsMounted(path) ? 1 : 0;
}

void UpdateLegendDirSelection(void)
{
  OSDMenuButtonsClear();
  OSDMenuButtonAdd(1, BI_ok, nullptr,
                   "\xDC"
                   "bernehmen");
  OSDMenuButtonAdd(1, BI_exit, nullptr, "Abbrechen");
}

/* Lists the folders of "/DataFiles"; the index of the one the setting names */
static int ListFolders(const char *folder)
{
  char current[FOLDER_SIZE];
  TapDirEntry entry;
  int preselect = 0;

  FolderShown(folder, current, sizeof current);
  HDD_ChangeDir(DATA_FILES_DIR);
  dword count = TAP_Hdd_FindFirst(&entry, "");
  for (dword i = 0; i < count; i++) {
    if (entry.Attr == ATTR_FOLDER) {
      entry.Name[sizeof entry.Name - 1] = '\0';
      char path[PATH_BUFFER];
      snprintf(path, sizeof path, "%s/DataFiles/%s", TAPFS_ROOT, entry.Name);
      if (strlen(entry.Name) >= OSDMENU_ITEM_TEXT) {
        LogEntryTKLibPrintf(true, "FerroxSetup: the folder name '%s' is too long to be offered", entry.Name);
      } else if (HDD_IsLink(path)) {
        /* the copy service does not follow links: a link is no folder to copy from or to */
        LogEntryTKLibPrintf(true, "FerroxSetup: '%s' is a link to a folder and is not offered", entry.Name);
      } else if (OSDMenuItemAdd(entry.Name, "", nullptr, nullptr, true, true, 0)) {
        int index = OSDMenuItemGetNrOfItems() - 1;
        if (strcmp(entry.Name, current) == 0) preselect = index;
        if (isMountedDir(entry.Name)) OSDMenuItemModifyTextColor(index, YELLOW);
      }
    }
    if (i + 1 < count && TAP_Hdd_FindNext(&entry) == 0) break;
  }
  return preselect;
}

/* The chosen folder into the setting, with its mounted flag; a path that
 * would not fit the setting leaves both as they were. */
static void Choose(char *folder, int *mounted)
{
  const char *name = OSDMenuItemGetCurrentName();
  if (name == nullptr) return; /* an empty list */
  char path[FOLDER_SIZE];
  if (strlen(name) + DATAFILES_PREFIX_LEN >= sizeof path) {
    LogEntryTKLibPrintf(true, "FerroxSetup: the path of '%s' is too long for the setting; not taken", name);
    return;
  }
  snprintf(path, sizeof path, "%s", name);
  InsertAt(path, 0, DATAFILES_PREFIX, sizeof path);
  snprintf(folder, FOLDER_SIZE, "%s", path);
  *mounted = isMountedDir(name);
}

static TapParam Picker(int mode, const char *subtitle, char *folder, int *mounted, word event, TapParam param1,
                       TapParam param2)
{
  int *state = &PickerState[mode];
  switch (*state) {
    case PS_BUILD: {
      OSDMenuInitialize(false, false, true, MENU_TITLE, subtitle);
      int preselect = ListFolders(folder);
      UpdateLegendDirSelection();
      OSDMenuSelectItem(preselect);
      OSDMenuUpdate(false);
      *state = PS_RUNNING;
      return param1;
    }
    case PS_RUNNING: {
      if (event != EVT_KEY) return param1;
      word ev = event;
      dword key = (dword)param1, p2 = (dword)param2;
      if (OSDMenuEvent(&ev, &key, &p2)) return 0;
      if ((dword)param1 == RKEY_Ok) {
        Choose(folder, mounted);
        *state = PS_CLOSING;
      } else if ((dword)param1 == RKEY_Exit) {
        *state = PS_CLOSING;
      }
      return 0;
    }
    default:
      *state = PS_BUILD;
      DisplayMode = DM_MAIN;
      return param1;
  }
}

TapParam EventHandlerMoveDir(word event, TapParam param1, TapParam param2)
{
  return Picker(DM_MOVEDIR, "Move Directory", MoveDir, &MountedDirSource, event, param1, param2);
}

TapParam EventHandlerShareDir(word event, TapParam param1, TapParam param2)
{
  return Picker(DM_SHAREDIR, "NAS Directory", ShareDir, &MountedDirDest, event, param1, param2);
}
