/* tap_entry.cpp -- the entry point that the firmware calls after loading.
 *
 * Compiled into every plug-in file; the only symbol a plug-in exports. The
 * plug-in itself defines TAP_Main and TAP_EventHandler.
 */
#include "tap_api.h"

extern "C" __attribute__((visibility("default"))) int __TAP_Init_(TapEntryRecord *entry)
{
  if (entry == nullptr) return 0;
  entry->Main = TAP_Main;
  entry->EventHandler = TAP_EventHandler;
  return 1;
}
