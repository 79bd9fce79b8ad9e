// FirmwareModule.cpp -- the firmware functions that plug-ins find by name.
//
// Built as a module the simulator loads with global scope, so that the
// toolkit's run-time look-up of "_Z22ApplHdd_SaveWorkFolderv" and the others
// finds them, and kept out of the executables, whose statically linked
// toolkit wrappers carry the very same mangled names. Everything but the time
// conversion is forwarded to the simulator. The variant built with
// FERROX_FW_WITHOUT_EXEC plays a firmware that lacks the program starter.
// The UTF-8 name cleaner, whose presence marks a firmware that keeps names
// in UTF-8, is a module of its own (Utf8Module.cpp): a plug-in that looks
// symbols up with libc's own dlsym (the receiver flavour) must not find it
// in a firmware that has none.
#include "FirmwareCallbacks.h"

#define FW_EXPORT __attribute__((visibility("default")))

FW_EXPORT dword ApplHdd_SaveWorkFolder() { return SimFw_SaveWorkFolder(); }
FW_EXPORT dword ApplHdd_RestoreWorkFolder() { return SimFw_RestoreWorkFolder(); }
FW_EXPORT dword ApplHdd_SelectFolder(void *folderRecord, const char *path)
{
  return SimFw_SelectFolder(folderRecord, path);
}
FW_EXPORT dword ApplHdd_SetWorkFolder(void *folderRecord) { return SimFw_SetWorkFolder(folderRecord); }

#ifndef FERROX_FW_WITHOUT_EXEC
FW_EXPORT dword Appl_ExecProgram(char *fileName) { return SimFw_ExecProgram(fileName); }
#endif

// Packed receiver time (MJD << 16 | hour << 8 | minute), local time taken as
// UTC, to seconds since 1970.
extern "C" FW_EXPORT dword PvrTimeToLinux(dword packedTime)
{
  const dword mjd = packedTime >> 16, hour = (packedTime >> 8) & 0xFF, minute = packedTime & 0xFF;
  const long long days = static_cast<long long>(mjd) - 40587;
  return static_cast<dword>(days * 86400 + hour * 3600 + minute * 60);
}
