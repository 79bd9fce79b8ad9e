/* KeyTranslate.cpp -- the key translation hook: remote controls of other
 * receiver models send other codes for some keys; the hook sits in the
 * plug-in's table entry in front of its event handler and hands the
 * handler the standard codes, while the firmware gets the key back as the
 * remote sent it. */
#include <stddef.h>

#include "FirmwareBinding.h"
#include "OSDMenu.h"
#include "PathTypes.h"

#define KEY_CODE_MASK 0x1FFFF /* low 17 bits; the bits above are kept */

int RemoteType = 1;
TapEventHandlerFn Original_TAP_EventHandler = nullptr;

/* The remote type of this receiver model from the model data file; kept
 * when the file has no record of the model. */
static void ReadRemoteType(void)
{
  FirmwareDatHeader *header = nullptr;
  FirmwareDatModel *models = nullptr;
  if (!LoadFirmwareDat(&header, &models, nullptr) || header == nullptr || models == nullptr) return;
  word sysId = (word)TAP_GetSystemId();
  for (dword i = 0; i < header->NrOfModels; i++)
    if (models[i].SysID == sysId) {
      RemoteType = (int)models[i].RemoteType;
      return;
    }
}

int KeyTranslate(bool Enable, TapEventHandlerFn EventHandler)
{
  ReadRemoteType();
  FwTapTableEntry *table = (FwTapTableEntry *)FIS_vTAPTable();
  if (table == nullptr) return 0;
  if (TAP_TableIndex == -1) {
    const dword *current = (const dword *)FIS_vCurTapTask();
    if (current == nullptr) return -3;
    TAP_TableIndex = (int)*current;
  }
  if (TAP_TableIndex < 0 || TAP_TableIndex >= TAP_TABLE_SLOTS) return 0;
  FwTapTableEntry *entry = &table[TAP_TableIndex];
  if (Enable) {
    if (EventHandler == nullptr || entry->Handler != EventHandler) return 0;
    Original_TAP_EventHandler = EventHandler;
    entry->Handler = KeyTranslateHook;
    return 1;
  }
  if (entry->Handler != KeyTranslateHook || Original_TAP_EventHandler == nullptr) return 0;
  entry->Handler = Original_TAP_EventHandler;
  Original_TAP_EventHandler = nullptr;
  return 1;
}

static dword Translate(dword code)
{
  /* codes the API has no name for are written as numbers */
  // clang-format off
  static const dword Type2[][2] = {
      {RKEY_Green, RKEY_PageDown2}, {RKEY_Yellow, RKEY_PageUp},  {RKEY_Blue, RKEY_PageDown},
      {0x1003E, 0x10049},           {RKEY_Red, RKEY_PageUp2},    {RKEY_PageUp, 0x10044},
      {RKEY_PageUp2, RKEY_Red},     {RKEY_PageDown2, RKEY_Green}, {0x10049, RKEY_Yellow},
      {0x1004A, RKEY_Blue},
  };
  // clang-format on
  if (RemoteType == 2) {
    for (size_t i = 0; i < sizeof Type2 / sizeof Type2[0]; i++)
      if (Type2[i][0] == code) return Type2[i][1];
  } else if (RemoteType == 3 && code == 0x10023) {
    return RKEY_Red;
  }
  return code;
}

TapParam KeyTranslateHook(word event, TapParam param1, TapParam param2)
{
  TapEventHandlerFn handler = Original_TAP_EventHandler;
  /* without a saved handler (removed, never installed) the event goes back */
  if (handler == nullptr) return param1;
  if (event != EVT_KEY) return handler(event, param1, param2);
  dword code = (dword)param1 & KEY_CODE_MASK;
  TapParam translated = (param1 & ~(TapParam)KEY_CODE_MASK) | Translate(code);
  return handler(EVT_KEY, translated, param2) != 0 ? param1 : 0;
}
