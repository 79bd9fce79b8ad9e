/* OSDMenu.h -- full-screen menus: a title, ten visible lines of items with
 * optional values, a scroll bar and a legend of remote-control keys.
 *
 * A client builds the menu, offers every key to OSDMenuEvent first and calls
 * OSDMenuUpdate to redraw. The framework owns the menu's region (the screen)
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
#define OSDMENU_ITEM_TEXT 128 /* bytes of an item's name and value */
#define OSDMENU_TEXT 256      /* bytes of a title, subtitle or button text */
#define OSDMENU_ITEM_STEP 30  /* the item table grows by this many */
#define OSDMENU_MAX_BUTTONS 20
#define OSDMENU_LINES 10 /* visible lines */
#define OSDMENU_BUTTON_COLOUR 0xFFE6E6FA

/* The menu's layout on the 720 x 576 screen, in pixels. */
#define OSDMENU_TITLE_X 53        /* left edge of the title */
#define OSDMENU_TITLE_Y 37        /* top of the title */
#define OSDMENU_SUBTITLE_GAP 5    /* between the title and the subtitle */
#define OSDMENU_SUBTITLE_Y 49     /* top of the subtitle, on the title's baseline */
#define OSDMENU_TITLE_MAX_X 658   /* right end of title and subtitle */
#define OSDMENU_LIST_X 60         /* left edge of the list box, its bar and separators */
#define OSDMENU_LIST_Y 96         /* top of the list box */
#define OSDMENU_LIST_W 600        /* width of the list box and of the cursor bar */
#define OSDMENU_LIST_H 367        /* height of the list box */
#define OSDMENU_LINE_Y 95         /* top of the first line's cursor bar */
#define OSDMENU_LINE_PITCH 37     /* from one line to the next */
#define OSDMENU_SEPARATOR_Y 130   /* top of the first line's separator */
#define OSDMENU_TEXT_Y 101        /* top of the first line's text */
#define OSDMENU_NAME_X 76         /* left edge of an item's name */
#define OSDMENU_VALUE_X 350       /* left edge of the value column */
#define OSDMENU_VALUE_TEXT_DX 45  /* from the value column to the value's text */
#define OSDMENU_TEXT_MAX_X 645    /* right end of an item's text */
#define OSDMENU_ARROW_LEFT_DX 20  /* from the value column to the left arrow */
#define OSDMENU_ARROW_RIGHT_X 640 /* left edge of the right arrow */
#define OSDMENU_ARROW_Y 105       /* top of the first line's arrows */
#define OSDMENU_SCROLL_X 662      /* left edge of the scroll bar */
#define OSDMENU_SCROLL_Y 95       /* top of the scroll bar */
#define OSDMENU_KNOB_X 663        /* left edge of the scroll bar's knob */
#define OSDMENU_KNOB_Y 108        /* top of the knob on the first item */
#define OSDMENU_KNOB_TRAVEL 321   /* from the knob's top on the first item to the last's */
#define OSDMENU_LEGEND_LINE_X 50  /* left edge of the line above the legend */
#define OSDMENU_LEGEND_LINE_Y 479 /* and its top */
#define OSDMENU_LEGEND_LINE_W 614 /* and its width */
#define OSDMENU_LEGEND_LINE_H 2   /* and its height */
#define OSDMENU_LEGEND_X 55       /* left edge of each legend line's first button */
#define OSDMENU_LEGEND_Y1 487     /* top of legend line 1 */
#define OSDMENU_LEGEND_Y2 511     /* of line 2 */
#define OSDMENU_LEGEND_Y3 535     /* of line 3 */
#define OSDMENU_LEGEND_ICON_GAP 2 /* between a button's icon and its text */
#define OSDMENU_LEGEND_GAP 8      /* between one button's text and the next icon */
#define OSDMENU_LEGEND_MAX_X 670  /* right end of a legend text */
#define OSDMENU_BAR_W 100         /* width of the cursor bar's image, copied along the line */
#define OSDMENU_BAR_H 34          /* its height */

/* icon numbers of OSDMenuButtonAdd (0 none, 1..10 digits 0..9) */
#define BI_none 0
#define BI_exit 17
#define BI_green 21
#define BI_ok 31
#define BI_red 39
#define BI_yellow 55
#define BI_UserDefined 57

typedef struct {
  char Name[OSDMENU_ITEM_TEXT];  /* the item's text on the left */
  char Value[OSDMENU_ITEM_TEXT]; /* its value in the value column */
  const TapGrData *pNameIconGd;  /* an icon before the name, or null */
  const TapGrData *pValueIconGd; /* an icon before the value, or null */
  dword ColorPatch;              /* a colour patch shown with the item, 0 for none */
  dword TextColor;               /* colour of name and value (white unless changed) */
  int Selectable;                /* the cursor may rest on it; else drawn grey */
  int ValueArrows;               /* the cursor shows left and right arrows at its value */
  int ID;                        /* the client's own number for it */
  int ItemNr;                    /* its place in the menu, from 0 */
} tItem;

typedef struct {
  int X, Y;                   /* top left of its icon */
  const TapGrData *pButtonGd; /* the key's icon */
  dword Color;                /* colour of its text */
  char Text[OSDMENU_TEXT];    /* what the key does */
} tButton;

typedef struct {
  tItem *Item;                          /* the items (TAP_MemAlloc, grows by OSDMENU_ITEM_STEP) */
  int NrItems;                          /* items in it */
  int MaxItems;                         /* items the block holds */
  int CurrentSelection;                 /* the item under the cursor */
  int CurrentTopIndex;                  /* the item on the first visible line */
  int hasValueColumn;                   /* items show a value on the right */
  int ValueXPos;                        /* left edge of the value column */
  int ScrollLoop;                       /* down on the last item goes to the first, and back */
  int NumberedItems;                    /* items are shown with their numbers */
  int hasValueArrows;                   /* some item shows value arrows */
  tButton Buttons[OSDMENU_MAX_BUTTONS]; /* the legend's keys */
  dword NrButtons;                      /* keys in the legend */
  int ButtonXStart[3];                  /* next free x of legend lines 1..3 */
  char TitleLeft[OSDMENU_TEXT];         /* the title */
  char TitleRight[OSDMENU_TEXT];        /* the subtitle beside it */
  tFontDataUC *FontTitle;               /* font of the title */
  tFontDataUC *FontSubtitle;            /* of the subtitle */
  tFontDataUC *FontLineNumber;          /* of item numbers */
  tFontDataUC *FontName;                /* of item names */
  tFontDataUC *FontValue;               /* of values */
  tFontDataUC *FontMemo;                /* of memo texts */
  tFontDataUC *FontButtons;             /* of the legend */
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
void OSDMenuInitialize(bool HasValueColumn, bool NumberedItems, bool ScrollLoop, const char *TitleLeft,
                       const char *TitleRight);
bool OSDMenuItemAdd(const char *Name, const char *Value, const TapGrData *pNameIconGd, const TapGrData *pValueIconGd,
                    bool Selectable, bool ValueArrows, int ID);
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
