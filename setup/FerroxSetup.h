/* FerroxSetup.h -- the setup plug-in: one full-screen settings menu and two
 * folder pickers, all drawn by the menu framework.
 *
 * TAP_EventHandler hands every event to the screen of DisplayMode; each
 * screen builds itself on the first event it gets, so switching screens is
 * setting DisplayMode (and the screen's state) and waiting for the next
 * event. Owns: DisplayMode, the scratch text s.
 */
#ifndef FERROX_SETUP_FERROXSETUP_H
#define FERROX_SETUP_FERROXSETUP_H

#include "Settings.h"
#include "tap_api.h"

#define PROGRAM_NAME "FerroxSetup"
#define MENU_TITLE "Ferrox"
#define MENU_SUBTITLE "Setup V" FERROX_VERSION
#define YELLOW 0xFFFFFF00
#define WHITE 0xFFFFFFFF

enum { DM_MAIN = 0, DM_MOVEDIR = 1, DM_SHAREDIR = 2 };

extern int DisplayMode;
extern char s[256];

/* Every screen back to its state at load: a plug-in image that is started
 * again in the same process (the tests) begins as a loaded one does. */
void ResetSetupState(void);
void ResetPickers(void);

TapParam EventHandlerMain(word event, TapParam param1, TapParam param2);
void UpdateOSD(int item);
void UpdateLegend(void);

TapParam EventHandlerMoveDir(word event, TapParam param1, TapParam param2);
TapParam EventHandlerShareDir(word event, TapParam param1, TapParam param2);
void UpdateLegendDirSelection(void);
int isMountedDir(const char *name);
/* The text shown for a folder setting: without "/mnt/hd/DataFiles/" when it
 * begins with it, else whole. */
void FolderShown(const char *folder, char *dest, int destSize);

#endif
