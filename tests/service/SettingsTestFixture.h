// SettingsTestFixture.h -- the fixture of the settings, work list, file
// preparation and copy cycle tests: the engine fixture plus every global of
// those modules back at the value it has when the plug-in is loaded.
#pragma once

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "BlockCopyTestFixture.h"
#include "PathTypes.h"
#include "Ferrox.h"

inline constexpr const char *kIniPath = TAPFS_ROOT SETTINGS_FOLDER "/" SETTINGS_FILE;
inline constexpr const char *kTkLog = TAPFS_ROOT SETTINGS_DIR "/" TKLIB_LOG_NAME;

class CycleTest : public ServiceTest {
 protected:
  void SetUp() override
  {
    ServiceTest::SetUp();
    SettingsStart(&ServiceSettingsProfile);  // the settings as the plug-in starts with them
    std::strcpy(STapfsRoot, "/mnt/hd");
    CleanupMemory();
    CurrentFileToProcess = 0;
    ResetCopyCycle();
    ResetWorkListChecks();
    RememberSettingsShare();
    FileName[0] = DestFileNameClean[0] = DestDirPath[0] = '\0';
    WriteFile(kTkLog, "");  // the toolkit writes its warnings only into an existing file
    MakeDir("/mnt/hd/ProgramFiles/Settings/Ferrox");
  }
  void TearDown() override
  {
    // every function of the service left the call trace on every path
    EXPECT_EQ(CallLevel, 0u);
    CleanupMemory();
    ServiceTest::TearDown();
  }
  // The usual folders of a run from MoveToNAS to NAS-Share, here both
  // folders of the internal disk (a mounted share is a test of its own).
  void UseShareFolders()
  {
    std::strcpy(MoveDir, "/mnt/hd/DataFiles/MoveToNAS");
    std::strcpy(ShareDir, "/mnt/hd/DataFiles/NAS-Share");
    MountedDirDest = 0;
  }
  std::string ToolkitLog() const { return ReadFile(kTkLog); }
  // The service log without stamps and line ends.
  std::vector<std::string> LogLines() const
  {
    std::vector<std::string> lines;
    std::istringstream in(Log());
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() >= 20 && line[19] == ' ') line.erase(0, 20);
      lines.push_back(line);
    }
    return lines;
  }
  size_t LogCount(const std::string &line) const
  {
    std::vector<std::string> lines = LogLines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
  }
};
