// MenuReset.h -- puts the menu framework's globals back to their state when
// a plug-in is loaded, for suites that drive toolkit or plug-in code in one
// process with a fresh receiver per test. Header-only: the support library
// itself does not link the toolkit.
#pragma once

#include <cstring>

#include "OSDMenu.h"
#include "PathTypes.h"

inline void ResetMenuFramework()
{
  std::memset(Menu, 0, sizeof Menu);
  OSDRgn = 0;
  OSDMenuSelectionBarRgn = 0;
  OSDMenuLastCursor = 2;
  LastUnprocessedOSDMenuKey = 0;
  for (tFontDataUC *f : {&OSDMenuFont_10, &OSDMenuFont_12, &OSDMenuFont_14, &OSDMenuFont_16, &OSDMenuFont_18,
                         &OSDMenuFont_20, &OSDMenuFont_20B})
    std::memset(f, 0, sizeof *f);
  RemoteType = 1;
  Original_TAP_EventHandler = nullptr;
  TAP_TableIndex = -1;
}
