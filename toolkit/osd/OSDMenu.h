/* OSDMenu.h -- full-screen menus: a title, ten visible lines of items with
 * optional values, a scroll bar and a legend of remote-control keys.
 *
 * A client builds the menu, offers every key to OSDMenuEvent first and calls
 * OSDMenuUpdate to redraw. The framework owns the menu's region (720 x 576)
 * and an off-screen region holding the decoded cursor bar, and draws all
 * text with the standard fonts of the font manager. Also here: the key
 * translation hook that makes other remote controls send the standard codes.
 * Owns: Menu, CurrentMenuLevel, OSDRgn, the bar region, the dirty flags,
 * the seven standard fonts, and the hook's state. */
#ifndef FERROX_TOOLKIT_OSD_OSDMENU_H
#define FERROX_TOOLKIT_OSD_OSDMENU_H

#include "FontManager.h"
#include "tap_api.h"

#define OSDMENU_LEVELS 5
#define OSDMENU_ITEM_TEXT 128     /* bytes of an item's name and value */
#define OSDMENU_TEXT 256          /* bytes of a title, subtitle or button text */
#define OSDMENU_ITEM_STEP 30      /* the item table grows by this many */
#define OSDMENU_MAX_BUTTONS 20
#define OSDMENU_LINES 10          /* visible lines */
#define OSDMENU_BUTTON_COLOUR 0xFFE6E6FA

/* icon numbers of OSDMenuButtonAdd (0 none, 1..10 digits 0..9) */
#define BI_none 0
#define BI_exit 17
#define BI_green 21
#define BI_ok 31
#define BI_red 39
#define BI_UserDefined 57

typedef struct {
  char Name[OSDMENU_ITEM_TEXT];
  char Value[OSDMENU_ITEM_TEXT];
  const TapGrData *pNameIconGd;
  const TapGrData *pValueIconGd;
  dword ColorPatch;
  dword TextColor;
  int Selectable;
  int ValueArrows;
  int ID;
  int ItemNr;
} tItem;

typedef struct {
  int X, Y;
  const TapGrData *pButtonGd;
  dword Color;
  char Text[OSDMENU_TEXT];
} tButton;

typedef struct {
  tItem *Item;
  int NrItems;
  int MaxItems;
  int CurrentSelection;
  int CurrentTopIndex;
  int hasValueColumn;
  int ValueXPos;
  int ScrollLoop;
  int NumberedItems;
  int hasValueArrows;
  tButton Buttons[OSDMENU_MAX_BUTTONS];
  dword NrButtons;
  int ButtonXStart[3]; /* next free x of legend lines 1..3 */
  char TitleLeft[OSDMENU_TEXT];
  char TitleRight[OSDMENU_TEXT];
  tFontDataUC *FontTitle;
  tFontDataUC *FontSubtitle;
  tFontDataUC *FontLineNumber;
  tFontDataUC *FontName;
  tFontDataUC *FontValue;
  tFontDataUC *FontMemo;
  tFontDataUC *FontButtons;
} tMenu;

extern tMenu Menu[OSDMENU_LEVELS];
extern int CurrentMenuLevel;
extern word OSDRgn;
extern word OSDMenuSelectionBarRgn;
extern int OSDMenuLastCursor; /* what the bar region holds: 0 the bar, 2 nothing */
extern int MenuCursorType;
extern dword ButtonColor;
extern int OSDDirty, TitleDirty, LogoDirty, ButtonsDirty, ListDirty;
extern int LastUnprocessedOSDMenuKey;
extern tFontDataUC OSDMenuFont_10, OSDMenuFont_12, OSDMenuFont_14, OSDMenuFont_16, OSDMenuFont_18, OSDMenuFont_20,
    OSDMenuFont_20B;

/* building and queries */
void OSDMenuInitialize(bool HasValueColumn, bool NumberedItems, bool ScrollLoop,
                       const char *TitleLeft, const char *TitleRight);
bool OSDMenuItemAdd(const char *Name, const char *Value, const TapGrData *pNameIconGd,
                    const TapGrData *pValueIconGd, bool Selectable, bool ValueArrows, int ID);
bool OSDMenuItemModifyValue(int ItemIndex, const char *Text);
bool OSDMenuItemModifyTextColor(int ItemIndex, dword TextColor);
int OSDMenuItemGetNrOfItems(void);
int OSDMenuGetCurrentItem(void);
const char *OSDMenuItemGetName(int ItemIndex);
const char *OSDMenuItemGetCurrentName(void);
bool OSDMenuSelectItem(int ItemIndex);
void OSDMenuButtonsClear(void);
bool OSDMenuButtonAdd(dword Line, int ButtonIcon, const TapGrData *pButtonGd, const char *Text);
const TapGrData *OSDMenuGetIconPointer(int ButtonIcon, const TapGrData *UserDefinedButton);
int OSDMenuGetW(const char *Text, byte FontSize);

/* screen and events */
int OSDMenuUpdate(bool SuppressOSDSync);
bool OSDMenuEvent(word *event, dword *param1, dword *param2);
int OSDMenuScrollUp(void);
int OSDMenuScrollDown(void);
int OSDMenuScrollPageUp(void);
int OSDMenuScrollPageDown(void);
int OSDMenuFindNextSelectableEntry(int CurrentSelection);
int OSDMenuFindPreviousSelectableEntry(int CurrentSelection);
void OSDCalcIndices(void);
void OSDMenuDrawCursor(dword x, dword y, dword w);
void OSDMenuDestroy(void);
void OSDMenuLoadStdFonts(void);
void OSDMenuFreeStdFonts(void);

/* key translation */
extern int RemoteType;
extern TapEventHandlerFn Original_TAP_EventHandler;
int KeyTranslate(bool Enable, TapEventHandlerFn EventHandler);
TapParam KeyTranslateHook(word event, TapParam param1, TapParam param2);

#endif
