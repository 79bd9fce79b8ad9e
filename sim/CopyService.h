// CopyService.h -- what the simulator knows of the copy service: its id,
// its files and the lines of its log that tell where a run starts and how
// it ended. The `receiver` program's report and the web view take them
// from here; the status request is StatusRequester's.
#pragma once

#include <string>

#include "FerroxFiles.h"
#include "tap_types.h"

namespace sim {

inline constexpr dword kFerroxId = FERROX_ID;
inline constexpr const char *kServiceTap = TAPFS_ROOT PROGRAM_FILES_DIR "/" SERVICE_TAP_FILE;
inline constexpr const char *kSetupTap = TAPFS_ROOT PROGRAM_FILES_DIR "/" SETUP_TAP_FILE;
inline constexpr const char *kServiceLog = TAPFS_ROOT SETTINGS_FOLDER "/" LOG_FILE;

// The line that opens a run ("... Ferrox 1.2.3 started").
bool IsRunStartLine(const std::string &line);
// What follows "Summary: " in a line, or "" when the line holds none.
std::string SummaryOfLine(const std::string &line);
// The last summary line in a terminal's output, without its time stamp, or "".
std::string LastSummaryLine(const std::string &output);

}  // namespace sim
