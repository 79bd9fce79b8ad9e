// FirmwareState.h -- the firmware variables the simulator exports (top side).
//
// The toolkit finds these by name through the dynamic loader, exactly as on
// the receiver, so they are extern "C" with default visibility in every
// executable that hosts plug-ins. The SimFw_* calls are the way back from the
// firmware functions module into the simulator.
#pragma once

#include "tap_records.h"

extern "C" {
extern FwTapTableEntry _tapTask[TAP_TABLE_SLOTS];         // the plug-in table
extern dword _curTapTask;                                 // slot whose code runs
extern FwRecSlotFiles _hddRecordFile[FW_REC_SLOT_TABLE];  // recording slots
extern FwWorkFolderRecord *_hddTapFolder;                 // the plug-in folder record
extern FwOsdRegion _osdInfo[FW_OSD_REGIONS];              // screen-region table
}

#include "firmware/FirmwareCallbacks.h"
