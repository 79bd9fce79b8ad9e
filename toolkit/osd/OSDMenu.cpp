/* OSDMenu.cpp -- the menu level, its items and legend, cursor movement,
 * paging and drawing.
 *
 * Every index that reaches the item table is checked against the count
 * first, and the searches stay inside 0..count-1 whatever the client or a
 * short list gives them (the page arithmetic with fewer than ten items goes
 * negative). Every redraw ends in at most one TAP_Osd_Sync; the cursor bar is
 * decoded once per menu into its own region and then only copied.
 *
 * An update draws only what differs from what the screen shows: a cursor
 * move the line it left, the line it entered and the scroll bar; a new
 * value its line; the legend only when its keys changed. Each part is put
 * back to what lay under it first, so the screen is the same pixel for
 * pixel as after drawing the whole menu. */
#include "OSDMenu.h"

#include <string.h>

#include "OsdImages.h"

#define SCREEN_W TAP_SCREEN_W
#define SCREEN_H TAP_SCREEN_H
#define MEMORY_REGION TAP_OSD_MEMORY_REGION
#define BACKGROUND 0xFF101010
#define LIST_BACKGROUND 0xFF1E1E1E
#define LEGEND_LINE 0xFF808080
#define TITLE_COLOUR 0xFFE6E6FA
#define SUBTITLE_COLOUR 0xFF666666
#define UNSELECTABLE_COLOUR 0xFF80808C

tMenu Menu[OSDMENU_LEVELS];
int CurrentMenuLevel = 0;
word OSDRgn = 0;
word OSDMenuSelectionBarRgn = 0;
int OSDMenuLastCursor = 2;
int MenuCursorType = 0;
dword ButtonColor = OSDMENU_BUTTON_COLOUR;
int OSDDirty = 0, TitleDirty = 0, LogoDirty = 0, ButtonsDirty = 0, ListDirty = 0;
int LastUnprocessedOSDMenuKey = 0;
tFontDataUC OSDMenuFont_10, OSDMenuFont_12, OSDMenuFont_14, OSDMenuFont_16, OSDMenuFont_18, OSDMenuFont_20,
    OSDMenuFont_20B;

/* What the screen shows of the menu, as of the last update */
#define NO_ITEM (-1)
#define MANY_ITEMS (-2)
static int DrawnLevel = -1;       /* the level drawn; another one is drawn whole */
static int DrawnTop = -1;         /* its first visible item */
static int DrawnSelection = -1;   /* the item the cursor was drawn on */
static int DrawnCount = -1;       /* its number of items */
static int ChangedItem = NO_ITEM; /* the item whose text or colour changed since, or MANY_ITEMS */
static bool LegendShown = false;  /* the legend below is drawn, with these keys: */
static dword DrawnNrButtons = 0;
static tButton DrawnButtons[OSDMENU_MAX_BUTTONS];

static tMenu *Level(void)
{
  return &Menu[CurrentMenuLevel >= 0 && CurrentMenuLevel < OSDMENU_LEVELS ? CurrentMenuLevel : 0];
}

static bool ValidIndex(const tMenu *m, int index) { return m->Item != nullptr && index >= 0 && index < m->NrItems; }

/* At most size - 1 bytes of src, always terminated; null gives "". */
static void CopyText(char *dest, const char *src, size_t size)
{
  if (src == nullptr) src = "";
  size_t n = strlen(src);
  if (n > size - 1) n = size - 1;
  memcpy(dest, src, n);
  dest[n] = '\0';
}

/* One more item to draw again at the next update */
static void ItemChanged(int index)
{
  ChangedItem = ChangedItem == NO_ITEM || ChangedItem == index ? index : MANY_ITEMS;
}

/* ---- fonts ---- */

static tFontDataUC *const StdFonts[7] = {&OSDMenuFont_10, &OSDMenuFont_12, &OSDMenuFont_14, &OSDMenuFont_16,
                                         &OSDMenuFont_18, &OSDMenuFont_20, &OSDMenuFont_20B};
static const char *const StdFontNames[7] = {"Calibri_10.ufnt", "Calibri_12.ufnt", "Calibri_14.ufnt", "Calibri_16.ufnt",
                                            "Calibri_18.ufnt", "Calibri_20.ufnt", "Calibri_20B.ufnt"};

/* The fonts not loaded yet; those missing are named in one window (each
 * its own would hold the menu for three seconds apiece). */
void OSDMenuLoadStdFonts(void)
{
  const char *missing[7];
  int count = 0;
  for (int i = 0; i < 7; i++) {
    bool gone = false;
    if (StdFonts[i]->FileHandle == 0) FMUC_LoadFontFileQuietly(StdFontNames[i], StdFonts[i], &gone);
    if (gone) missing[count++] = StdFontNames[i];
  }
  FMUC_ShowMissingFonts(missing, count);
}

void OSDMenuFreeStdFonts(void)
{
  if (OSDRgn != 0) return; /* the menu still draws with them */
  for (int i = 0; i < 7; i++) FMUC_FreeFontFile(StdFonts[i]);
}

int OSDMenuGetW(const char *Text, byte FontSize)
{
  tFontDataUC *font;
  switch (FontSize) {
    case 10: font = &OSDMenuFont_10; break;
    case 12: font = &OSDMenuFont_12; break;
    case 14: font = &OSDMenuFont_14; break;
    case 16: font = &OSDMenuFont_16; break;
    case 20: font = &OSDMenuFont_20; break;
    default: return 0;
  }
  return (int)FMUC_GetStringWidth(Text, font);
}

/* ---- building ---- */

void OSDMenuInitialize(bool HasValueColumn, bool NumberedItems, bool ScrollLoop, const char *TitleLeft,
                       const char *TitleRight)
{
  tMenu *m = Level();
  if (m->Item != nullptr) TAP_MemFree(m->Item);
  memset(m, 0, sizeof(*m));
  for (int line = 0; line < 3; line++) m->ButtonXStart[line] = OSDMENU_LEGEND_X;

  if (OSDRgn != 0) TAP_Osd_Delete(OSDRgn);
  OSDRgn = 0;

  OSDMenuLoadStdFonts();

  m->hasValueColumn = HasValueColumn;
  m->NumberedItems = NumberedItems;
  m->ScrollLoop = ScrollLoop;
  m->ValueXPos = OSDMENU_VALUE_X;
  m->hasValueArrows = 0;

  m->Item = (tItem *)TAP_MemAlloc(OSDMENU_ITEM_STEP * sizeof(tItem));
  if (m->Item != nullptr) {
    memset(m->Item, 0, OSDMENU_ITEM_STEP * sizeof(tItem));
    m->MaxItems = OSDMENU_ITEM_STEP;
  }

  m->FontTitle = &OSDMenuFont_20;
  m->FontSubtitle = &OSDMenuFont_16;
  m->FontLineNumber = &OSDMenuFont_14;
  m->FontName = &OSDMenuFont_14;
  m->FontValue = &OSDMenuFont_14;
  m->FontMemo = &OSDMenuFont_14;
  m->FontButtons = &OSDMenuFont_12;

  CopyText(m->TitleLeft, TitleLeft, sizeof m->TitleLeft);
  CopyText(m->TitleRight, TitleRight, sizeof m->TitleRight);

  ButtonColor = OSDMENU_BUTTON_COLOUR;
  MenuCursorType = 0;
}

bool OSDMenuItemAdd(const char *Name, const char *Value, const TapGrData *pNameIconGd, const TapGrData *pValueIconGd,
                    bool Selectable, bool ValueArrows, int ID)
{
  tMenu *m = Level();
  if (m->NrItems >= m->MaxItems) {
    int capacity = m->MaxItems + OSDMENU_ITEM_STEP;
    tItem *grown = (tItem *)TAP_MemAlloc((dword)capacity * sizeof(tItem));
    if (grown == nullptr) return false;
    memset(grown, 0, (size_t)capacity * sizeof(tItem));
    if (m->Item != nullptr) {
      memcpy(grown, m->Item, (size_t)m->NrItems * sizeof(tItem));
      TAP_MemFree(m->Item);
    }
    m->Item = grown;
    m->MaxItems = capacity;
  }
  if (Name == nullptr || Name[0] == '\0') return false;

  tItem *item = &m->Item[m->NrItems];
  CopyText(item->Name, Name, sizeof item->Name);
  CopyText(item->Value, Value, sizeof item->Value);
  item->pNameIconGd = pNameIconGd;
  item->pValueIconGd = pValueIconGd;
  item->ColorPatch = 0;
  item->TextColor = 0xFFFFFFFF;
  item->Selectable = Selectable;
  item->ValueArrows = ValueArrows;
  item->ID = ID;
  item->ItemNr = -1;
  if (ValueArrows) m->hasValueArrows = 1;
  m->NrItems++;
  ListDirty = 1;
  return true;
}

bool OSDMenuItemModifyValue(int ItemIndex, const char *Text)
{
  tMenu *m = Level();
  if (!ValidIndex(m, ItemIndex) || Text == nullptr) return false;
  char *value = m->Item[ItemIndex].Value;
  if (strncmp(value, Text, sizeof m->Item[ItemIndex].Value - 1) == 0) return true; /* as shown */
  CopyText(value, Text, sizeof m->Item[ItemIndex].Value);
  ItemChanged(ItemIndex);
  return true;
}

bool OSDMenuItemModifyTextColor(int ItemIndex, dword TextColor)
{
  tMenu *m = Level();
  if (!ValidIndex(m, ItemIndex)) return false;
  if (m->Item[ItemIndex].TextColor == TextColor) return true;
  m->Item[ItemIndex].TextColor = TextColor;
  ItemChanged(ItemIndex);
  return true;
}

int OSDMenuItemGetNrOfItems(void) { return Level()->NrItems; }

int OSDMenuGetCurrentItem(void) { return Level()->CurrentSelection; }

const char *OSDMenuItemGetName(int ItemIndex)
{
  tMenu *m = Level();
  return ValidIndex(m, ItemIndex) ? m->Item[ItemIndex].Name : nullptr;
}

const char *OSDMenuItemGetCurrentName(void) { return OSDMenuItemGetName(Level()->CurrentSelection); }

bool OSDMenuSelectItem(int ItemIndex)
{
  tMenu *m = Level();
  if (m->NrItems == 0 || m->Item == nullptr) return false;
  if (ItemIndex < 0) ItemIndex = 0;
  if (ItemIndex > m->NrItems - 1) ItemIndex = m->NrItems - 1;
  if (ItemIndex == m->CurrentSelection) return true;
  if (!m->Item[ItemIndex].Selectable) return false;
  m->CurrentSelection = ItemIndex; /* the update moves the cursor on the screen */
  return true;
}

/* ---- legend ---- */

void OSDMenuButtonsClear(void)
{
  tMenu *m = Level();
  m->NrButtons = 0;
  for (int line = 0; line < 3; line++) m->ButtonXStart[line] = OSDMENU_LEGEND_X;
  ButtonColor = OSDMENU_BUTTON_COLOUR;
  ButtonsDirty = 1;
}

const TapGrData *OSDMenuGetIconPointer(int ButtonIcon, const TapGrData *UserDefinedButton)
{
  // clang-format off
  static const TapGrData *const Icons[] = {
      nullptr,           &_Button_0_Gd,        &_Button_1_Gd,      &_Button_2_Gd,        &_Button_3_Gd,
      &_Button_4_Gd,     &_Button_5_Gd,        &_Button_6_Gd,      &_Button_7_Gd,        &_Button_8_Gd,
      &_Button_9_Gd,     &_Button_ar_Gd,       &_Button_audio_Gd,  &_Button_aux_Gd,      &_Button_blue_Gd,
      &_Button_cut_Gd,   &_Button_down_Gd,     &_Button_exit_Gd,   &_Button_fav_Gd,      &_Button_ffwd_Gd,
      &_Button_filelist_Gd, &_Button_green_Gd, &_Button_guide_Gd,  &_Button_info_Gd,     &_Button_jumpend_Gd,
      &_Button_jumpstart_Gd, &_Button_left_Gd, &_Button_list_Gd,   &_Button_m_Gd,        &_Button_menu_Gd,
      &_Button_mute_Gd,  &_Button_ok_Gd,       &_Button_option_Gd, &_Button_pause_Gd,    &_Button_play_Gd,
      &_Button_progminus_Gd, &_Button_progplus_Gd, &_Button_recall_Gd, &_Button_record_Gd, &_Button_red_Gd,
      &_Button_right_Gd, &_Button_rwd_Gd,      &_Button_sat_Gd,    &_Button_select_Gd,   &_Button_sleep_Gd,
      &_Button_step_Gd,  &_Button_stop_Gd,     &_Button_subtitle_Gd, &_Button_ttx_Gd,    &_Button_tv_radio_Gd,
      &_Button_up_Gd,    &_Button_vf_Gd,       &_Button_volminus_Gd, &_Button_volplus_Gd, &_Button_white_Gd,
      &_Button_yellow_Gd, &_Button_nouse_Gd,
  };
  // clang-format on
  if (ButtonIcon == BI_UserDefined) return UserDefinedButton;
  if (ButtonIcon < 0 || ButtonIcon >= (int)(sizeof Icons / sizeof Icons[0])) return nullptr;
  return Icons[ButtonIcon];
}

bool OSDMenuButtonAdd(dword Line, int ButtonIcon, const TapGrData *pButtonGd, const char *Text)
{
  static const int LineY[3] = {OSDMENU_LEGEND_Y1, OSDMENU_LEGEND_Y2, OSDMENU_LEGEND_Y3};
  tMenu *m = Level();
  const TapGrData *icon = OSDMenuGetIconPointer(ButtonIcon, pButtonGd);
  if (Line < 1 || Line > 3 || icon == nullptr || Text == nullptr || m->NrButtons >= OSDMENU_MAX_BUTTONS) return false;
  tButton *b = &m->Buttons[m->NrButtons];
  b->X = m->ButtonXStart[Line - 1];
  b->Y = LineY[Line - 1];
  b->pButtonGd = icon;
  b->Color = ButtonColor;
  CopyText(b->Text, Text, sizeof b->Text);
  m->NrButtons++;
  ButtonsDirty = 1;
  m->ButtonXStart[Line - 1] += icon->Width + OSDMenuGetW(Text, 12) + OSDMENU_LEGEND_GAP;
  return true;
}

/* ---- cursor movement ---- */

static bool AnySelectable(const tMenu *m, int from, int to) /* in from..to */
{
  for (int i = from < 0 ? 0 : from; i <= to && i < m->NrItems; i++)
    if (m->Item[i].Selectable) return true;
  return false;
}

int OSDMenuFindNextSelectableEntry(int CurrentSelection)
{
  tMenu *m = Level();
  int last = m->NrItems - 1;
  if (CurrentSelection >= last && !m->ScrollLoop) return CurrentSelection;
  if (m->Item == nullptr || !AnySelectable(m, 0, last)) return -1;
  int i = CurrentSelection < -1 ? -1 : CurrentSelection > last ? last : CurrentSelection;
  for (int tries = 0; tries <= m->NrItems; tries++) {
    i++;
    if (i > last) {
      if (!m->ScrollLoop) return -1;
      i = 0;
    }
    if (m->Item[i].Selectable) return i;
  }
  return -1;
}

int OSDMenuFindPreviousSelectableEntry(int CurrentSelection)
{
  tMenu *m = Level();
  int last = m->NrItems - 1;
  if (CurrentSelection < 0 && !m->ScrollLoop) return -1;
  if (m->Item == nullptr || !AnySelectable(m, 0, last)) return -1;
  int i = CurrentSelection > last + 1 ? last + 1 : CurrentSelection < 0 ? 0 : CurrentSelection;
  for (int tries = 0; tries <= m->NrItems; tries++) {
    i--;
    if (i < 0) {
      if (!m->ScrollLoop) return -1;
      i = last;
    }
    if (m->Item[i].Selectable) return i;
  }
  return -1;
}

/* Moves the cursor to a search result; the new index, or -1 when it stays */
static int MoveCursor(tMenu *m, int target)
{
  if (!ValidIndex(m, target) || target == m->CurrentSelection) return -1;
  if (!m->Item[target].Selectable) {
    /* "the last item" of a page may be one the cursor must not rest on */
    target = OSDMenuFindPreviousSelectableEntry(target);
    if (!ValidIndex(m, target) || target == m->CurrentSelection) return -1;
  }
  m->CurrentSelection = target;
  return target;
}

int OSDMenuScrollUp(void)
{
  tMenu *m = Level();
  return MoveCursor(m, OSDMenuFindPreviousSelectableEntry(m->CurrentSelection));
}

int OSDMenuScrollDown(void)
{
  tMenu *m = Level();
  return MoveCursor(m, OSDMenuFindNextSelectableEntry(m->CurrentSelection));
}

int OSDMenuScrollPageDown(void)
{
  tMenu *m = Level();
  int count = m->NrItems, cursor = m->CurrentSelection, top = m->CurrentTopIndex, target;
  if (count == 0) return -1;
  if (cursor == count - 1 && m->ScrollLoop) {
    target = OSDMenuFindNextSelectableEntry(-1);
  } else if (cursor == top + OSDMENU_LINES - 1) {
    int t = top + 2 * OSDMENU_LINES - 2 < count ? top + 2 * OSDMENU_LINES - 2 : count - 2;
    target = t >= count - 1 ? t : OSDMenuFindNextSelectableEntry(t);
  } else {
    int bottom = top + OSDMENU_LINES - 2 < count - 2 ? top + OSDMENU_LINES - 2 : count - 2;
    target = OSDMenuFindNextSelectableEntry(bottom);
  }
  return MoveCursor(m, target);
}

int OSDMenuScrollPageUp(void)
{
  tMenu *m = Level();
  int count = m->NrItems, cursor = m->CurrentSelection, top = m->CurrentTopIndex, target;
  if (count == 0) return -1;
  if (cursor == 0 && m->ScrollLoop) target = OSDMenuFindPreviousSelectableEntry(count);
  else if (cursor == top)
    target = OSDMenuFindPreviousSelectableEntry((cursor - OSDMENU_LINES > 0 ? cursor - OSDMENU_LINES : 0) + 1);
  else target = OSDMenuFindPreviousSelectableEntry(top + 1);
  return MoveCursor(m, target);
}

void OSDCalcIndices(void)
{
  tMenu *m = Level();
  int count = m->NrItems;
  if (count == 0) {
    m->CurrentSelection = 0;
    m->CurrentTopIndex = 0;
    return;
  }
  if (m->CurrentSelection < 0) m->CurrentSelection = 0;
  if (m->CurrentSelection > count - 1) m->CurrentSelection = count - 1;
  int cursor = m->CurrentSelection;
  if (cursor < m->CurrentTopIndex) m->CurrentTopIndex = cursor == 0 || AnySelectable(m, 0, cursor - 1) ? cursor : 0;
  if (m->CurrentTopIndex + OSDMENU_LINES - 1 < cursor) {
    if (cursor == count - 1 || AnySelectable(m, cursor + 1, count - 1))
      m->CurrentTopIndex = cursor - (OSDMENU_LINES - 1);
    else m->CurrentTopIndex = count - OSDMENU_LINES > 0 ? count - OSDMENU_LINES : 0;
  }
}

/* ---- drawing ---- */

void OSDMenuDrawCursor(dword x, dword y, dword w)
{
  if (OSDMenuLastCursor != 0 || OSDMenuSelectionBarRgn == 0) {
    if (OSDMenuSelectionBarRgn != 0) TAP_Osd_Delete(OSDMenuSelectionBarRgn);
    OSDMenuSelectionBarRgn = 0;
    int region = TAP_Osd_Create(0, 0, OSDMENU_BAR_W, OSDMENU_BAR_H, 0, MEMORY_REGION);
    if (region <= 0) return;
    OSDMenuSelectionBarRgn = (word)region;
    TAP_Osd_PutGd(OSDMenuSelectionBarRgn, 0, 0, &_SelectionBar_Blue_100x34_Gd, false);
    OSDMenuLastCursor = 0;
  }
  dword k;
  for (k = 0; k < w / OSDMENU_BAR_W; k++)
    TAP_Osd_Copy(OSDMenuSelectionBarRgn, OSDRgn, 0, 0, OSDMENU_BAR_W, OSDMENU_BAR_H, x + OSDMENU_BAR_W * k, y, false);
  if (w % OSDMENU_BAR_W != 0)
    TAP_Osd_Copy(OSDMenuSelectionBarRgn, OSDRgn, 0, 0, w % OSDMENU_BAR_W, OSDMENU_BAR_H, x + OSDMENU_BAR_W * k, y,
                 false);
}

static void DrawBackground(void)
{
  TAP_Osd_Draw3dBoxFill(OSDRgn, 0, 0, SCREEN_W, SCREEN_H, BACKGROUND, BACKGROUND, BACKGROUND);
  TAP_Osd_FillBox(OSDRgn, OSDMENU_LEGEND_LINE_X, OSDMENU_LEGEND_LINE_Y, OSDMENU_LEGEND_LINE_W, OSDMENU_LEGEND_LINE_H,
                  LEGEND_LINE);
}

static void DrawTitle(const tMenu *m)
{
  FMUC_PutStringAA(OSDRgn, OSDMENU_TITLE_X, OSDMENU_TITLE_Y, OSDMENU_TITLE_MAX_X, m->TitleLeft, TITLE_COLOUR, 0,
                   m->FontTitle, FMUC_CutEnd, FMUC_AlignLeft, FM_AA_ONE);
  dword x = OSDMENU_TITLE_X + OSDMENU_SUBTITLE_GAP + FMUC_GetStringWidth(m->TitleLeft, m->FontTitle);
  FMUC_PutStringAA(OSDRgn, x, OSDMENU_SUBTITLE_Y, OSDMENU_TITLE_MAX_X, m->TitleRight, SUBTITLE_COLOUR, 0,
                   m->FontSubtitle, FMUC_CutEndDots, FMUC_AlignRight, FM_AA_ONE);
}

static void DrawLegend(const tMenu *m)
{
  for (dword i = 0; i < m->NrButtons && i < OSDMENU_MAX_BUTTONS; i++) {
    const tButton *b = &m->Buttons[i];
    if (b->pButtonGd == nullptr) continue;
    TAP_Osd_PutGd(OSDRgn, b->X, b->Y, b->pButtonGd, true);
    FMUC_PutStringAA(OSDRgn, b->X + b->pButtonGd->Width + OSDMENU_LEGEND_ICON_GAP, b->Y, OSDMENU_LEGEND_MAX_X, b->Text,
                     b->Color, 0, m->FontButtons, FMUC_CutEnd, FMUC_AlignLeft, FM_AA_ONE);
  }
}

static void DrawScrollBar(const tMenu *m)
{
  if (m->NrItems <= OSDMENU_LINES) {
    TAP_Osd_PutGd(OSDRgn, OSDMENU_SCROLL_X, OSDMENU_SCROLL_Y, &_ScrollBarInvisible_Gd, false);
    return;
  }
  TAP_Osd_PutGd(OSDRgn, OSDMENU_SCROLL_X, OSDMENU_SCROLL_Y, &_ScrollBarVisible_Gd, false);
  int knob = OSDMENU_KNOB_Y + m->CurrentSelection * OSDMENU_KNOB_TRAVEL / (m->NrItems - 1); /* NrItems > 10 here */
  TAP_Osd_PutGd(OSDRgn, OSDMENU_KNOB_X, knob, &_ScrollBarKnob_Gd, true);
}

/* One visible line (0..9) as the list shows it: the cursor bar or the
 * separator below, the value arrows, the name and the value. */
static void DrawLine(const tMenu *m, int i)
{
  int index = m->CurrentTopIndex + i;
  dword lineY = OSDMENU_LINE_Y + OSDMENU_LINE_PITCH * i;
  bool cursor = ValidIndex(m, index) && index == m->CurrentSelection;
  if (cursor) OSDMenuDrawCursor(OSDMENU_LIST_X, lineY, OSDMENU_LIST_W);
  else
    TAP_Osd_DrawRectangle(OSDRgn, OSDMENU_LIST_X, OSDMENU_SEPARATOR_Y + OSDMENU_LINE_PITCH * i, OSDMENU_LIST_W, 2, 1,
                          BACKGROUND);
  if (!ValidIndex(m, index)) return;

  const tItem *item = &m->Item[index];
  if (cursor && m->hasValueColumn && item->ValueArrows) {
    dword arrowY = OSDMENU_ARROW_Y + OSDMENU_LINE_PITCH * i;
    TAP_Osd_PutGd(OSDRgn, m->ValueXPos + OSDMENU_ARROW_LEFT_DX, arrowY, &_pfeil_l_Gd, true);
    TAP_Osd_PutGd(OSDRgn, OSDMENU_ARROW_RIGHT_X, arrowY, &_pfeil_r_Gd, true);
  }
  dword colour = item->Selectable ? item->TextColor : UNSELECTABLE_COLOUR;
  dword textY = OSDMENU_TEXT_Y + OSDMENU_LINE_PITCH * i;
  FMUC_PutStringAA(OSDRgn, OSDMENU_NAME_X, textY, m->hasValueColumn ? m->ValueXPos : OSDMENU_TEXT_MAX_X, item->Name,
                   colour, 0, m->FontName, FMUC_CutEndDots, FMUC_AlignLeft, FM_AA_ONE);
  if (m->hasValueColumn)
    FMUC_PutStringAA(OSDRgn, m->ValueXPos + OSDMENU_VALUE_TEXT_DX, textY, OSDMENU_TEXT_MAX_X, item->Value, colour, 0,
                     m->FontValue, FMUC_CutEndDots, FMUC_AlignLeft, FM_AA_ONE);
}

static void DrawList(const tMenu *m)
{
  TAP_Osd_FillBox(OSDRgn, OSDMENU_LIST_X, OSDMENU_LIST_Y, OSDMENU_LIST_W, OSDMENU_LIST_H, LIST_BACKGROUND);
  for (int i = 0; i < OSDMENU_LINES; i++) DrawLine(m, i);
}

/* A line drawn again by itself: its band of the list (from the top of its
 * cursor bar to the next line's) is first given back what lies under the
 * lines, the list box and, where the band leaves it, the background. */
static void RedrawLine(const tMenu *m, int i)
{
  if (i < 0 || i >= OSDMENU_LINES) return;
  int top = OSDMENU_LINE_Y + OSDMENU_LINE_PITCH * i, bottom = top + OSDMENU_LINE_PITCH;
  int boxTop = top > OSDMENU_LIST_Y ? top : OSDMENU_LIST_Y;
  int boxBottom = bottom < OSDMENU_LIST_Y + OSDMENU_LIST_H ? bottom : OSDMENU_LIST_Y + OSDMENU_LIST_H;
  if (top < boxTop) TAP_Osd_FillBox(OSDRgn, OSDMENU_LIST_X, top, OSDMENU_LIST_W, boxTop - top, BACKGROUND);
  TAP_Osd_FillBox(OSDRgn, OSDMENU_LIST_X, boxTop, OSDMENU_LIST_W, boxBottom - boxTop, LIST_BACKGROUND);
  if (bottom > boxBottom)
    TAP_Osd_FillBox(OSDRgn, OSDMENU_LIST_X, boxBottom, OSDMENU_LIST_W, bottom - boxBottom, BACKGROUND);
  DrawLine(m, i);
}

/* True when the legend on the screen has the menu's keys */
static bool LegendAsDrawn(const tMenu *m)
{
  if (!LegendShown || DrawnNrButtons != m->NrButtons) return false;
  for (dword i = 0; i < m->NrButtons && i < OSDMENU_MAX_BUTTONS; i++) {
    const tButton *a = &m->Buttons[i], *b = &DrawnButtons[i];
    if (a->X != b->X || a->Y != b->Y || a->pButtonGd != b->pButtonGd || a->Color != b->Color ||
        strcmp(a->Text, b->Text) != 0)
      return false;
  }
  return true;
}

static void KeepLegend(const tMenu *m)
{
  DrawnNrButtons = m->NrButtons < OSDMENU_MAX_BUTTONS ? m->NrButtons : OSDMENU_MAX_BUTTONS;
  memcpy(DrawnButtons, m->Buttons, sizeof(tButton) * DrawnNrButtons);
  LegendShown = true;
}

/* The list: whole when its items or its first line changed, else the lines
 * whose cursor or item changed, and the scroll bar with the cursor. */
static void UpdateList(const tMenu *m)
{
  bool whole = ListDirty || m->CurrentTopIndex != DrawnTop || m->NrItems != DrawnCount || ChangedItem == MANY_ITEMS;
  if (whole) {
    /* the first line's bar starts a row above the list box, the last
     * line's separator ends two below it */
    int listBottom = OSDMENU_LIST_Y + OSDMENU_LIST_H, linesBottom = OSDMENU_LINE_Y + OSDMENU_LINE_PITCH * OSDMENU_LINES;
    TAP_Osd_FillBox(OSDRgn, OSDMENU_LIST_X, OSDMENU_LINE_Y, OSDMENU_LIST_W, OSDMENU_LIST_Y - OSDMENU_LINE_Y,
                    BACKGROUND);
    TAP_Osd_FillBox(OSDRgn, OSDMENU_LIST_X, listBottom, OSDMENU_LIST_W, linesBottom - listBottom, BACKGROUND);
    DrawScrollBar(m);
    DrawList(m);
    return;
  }
  int left = DrawnSelection - m->CurrentTopIndex, entered = m->CurrentSelection - m->CurrentTopIndex;
  int changed = ChangedItem == NO_ITEM ? -1 : ChangedItem - m->CurrentTopIndex;
  if (m->CurrentSelection != DrawnSelection) {
    DrawScrollBar(m);
    RedrawLine(m, left);
    RedrawLine(m, entered);
  }
  bool drawnNow = m->CurrentSelection != DrawnSelection && (changed == left || changed == entered);
  if (changed >= 0 && changed < OSDMENU_LINES && !drawnNow) RedrawLine(m, changed);
}

int OSDMenuUpdate(bool SuppressOSDSync)
{
  tMenu *m = Level();
  if (OSDRgn == 0) {
    int region = TAP_Osd_Create(0, 0, SCREEN_W, SCREEN_H, 0, 0);
    if (region <= 0) return 0;
    OSDRgn = (word)region;
    OSDDirty = 1;
    TAP_ExitNormal();
  }
  if (DrawnLevel != CurrentMenuLevel) OSDDirty = 1;
  if (OSDDirty) {
    DrawBackground();
    TitleDirty = ButtonsDirty = ListDirty = 1;
    LegendShown = false;
  } else if (TitleDirty) {
    TAP_Osd_FillBox(OSDRgn, 0, 0, SCREEN_W, OSDMENU_LINE_Y, BACKGROUND);
  }
  if (TitleDirty) DrawTitle(m);
  /* LogoDirty: this system has no logo */
  if (ButtonsDirty && !LegendAsDrawn(m)) {
    if (LegendShown) {
      dword top = OSDMENU_LEGEND_LINE_Y + OSDMENU_LEGEND_LINE_H;
      TAP_Osd_FillBox(OSDRgn, 0, top, SCREEN_W, SCREEN_H - top, BACKGROUND);
    }
    DrawLegend(m);
    KeepLegend(m);
  }
  OSDCalcIndices();
  UpdateList(m);
  DrawnLevel = CurrentMenuLevel;
  DrawnTop = m->CurrentTopIndex;
  DrawnSelection = m->CurrentSelection;
  DrawnCount = m->NrItems;
  ChangedItem = NO_ITEM;
  OSDDirty = TitleDirty = LogoDirty = ButtonsDirty = ListDirty = 0;
  if (!SuppressOSDSync) TAP_Osd_Sync();
  return 1;
}

/* ---- events ---- */

bool OSDMenuEvent(word *event, dword *param1, dword *param2)
{
  if (OSDRgn == 0 || event == nullptr || param1 == nullptr || param2 == nullptr || *event != EVT_KEY) return false;
  tMenu *m = Level();
  LastUnprocessedOSDMenuKey = 0;
  switch (*param1) {
    case RKEY_Up: OSDMenuScrollUp(); break;
    case RKEY_Down: OSDMenuScrollDown(); break;
    case RKEY_Left:
    case RKEY_Right:
      if (m->hasValueArrows) {
        LastUnprocessedOSDMenuKey = (int)*param1;
        return false;
      }
      if (*param1 == RKEY_Left) OSDMenuScrollPageUp();
      else OSDMenuScrollPageDown();
      break;
    case RKEY_PageUp:
    case RKEY_PageUp2: OSDMenuScrollPageUp(); break;
    case RKEY_PageDown:
    case RKEY_PageDown2: OSDMenuScrollPageDown(); break;
    default: LastUnprocessedOSDMenuKey = (int)*param1; return false;
  }
  OSDMenuUpdate(false);
  *param1 = 0;
  return true;
}

void OSDMenuDestroy(void)
{
  tMenu *m = Level();
  if (OSDRgn != 0) {
    TAP_Osd_Delete(OSDRgn);
    TAP_Osd_Sync();
    OSDRgn = 0;
    if (OSDMenuSelectionBarRgn != 0) TAP_Osd_Delete(OSDMenuSelectionBarRgn);
    OSDMenuSelectionBarRgn = 0;
    OSDMenuLastCursor = 2;
  }
  TAP_EnterNormal();
  if (m->Item != nullptr) TAP_MemFree(m->Item);
  m->Item = nullptr;
  m->NrItems = 0;
  m->MaxItems = 0;
  OSDMenuFreeStdFonts();
}
