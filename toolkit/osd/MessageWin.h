/* MessageWin.h -- the message window and the checked drawing calls.
 *
 * A self-contained message window drawn with the receiver's own text (it
 * needs no font file), checked wrappers of three drawing calls that report
 * every out-of-range argument to the toolkit log before making the call,
 * and the sizes of screen regions from the firmware's region table.
 * Owns: tkl_rgn, the region of the window shown. */
#ifndef FERROX_TOOLKIT_OSD_MESSAGEWIN_H
#define FERROX_TOOLKIT_OSD_MESSAGEWIN_H

#include "tap_api.h"

extern int tkl_rgn; /* region of the message window shown, 0 for none */

/* The message window's colours, as every caller shows it */
#define MW_BORDER_COLOUR 0xFF9C9C9C
#define MW_TITLE_COLOUR 0xFFFFFF52
#define MW_TEXT_COLOUR 0xFFE6FFE6
#define MW_BACK_COLOUR 0xFF192952
#define MW_COLOURS MW_BORDER_COLOUR, MW_TITLE_COLOUR, MW_TEXT_COLOUR, MW_BACK_COLOUR

void ShowMessageWin(const char *title, const char *line1, const char *line2, dword delay);
/* lines: title (may be null), then the text lines, ended by a null entry */
void ShowMessageWindow(const char **lines, dword x, dword y, byte fontSize, byte align, dword borderColour,
                       dword titleColour, dword textColour, dword backColour, dword delay);
void EndMessageWin(void);

int TAP_Osd_Create_Chk(const char *tag, dword x, dword y, dword w, dword h, byte plane, int flags);
int TAP_Osd_FillBox_Chk(const char *tag, word region, dword x, dword y, dword w, dword h, dword colour);
int TAP_Osd_Copy_Chk(const char *tag, word srcRegion, word dstRegion, dword srcX, dword srcY, dword w, dword h,
                     dword dstX, dword dstY, bool sprite);

word GetOSDRegionWidth(word region);
word GetOSDRegionHeight(word region);
bool isOSDRegionAlive(word region);

#endif
