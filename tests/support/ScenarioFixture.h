// ScenarioFixture.h -- end-to-end runs of the copy service: a receiver root
// prepared with a settings file and recordings, the `receiver` program run
// on it with Ferrox.tap, and the service log read back without its stamps.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "CopyService.h"
#include "SimFixture.h"

inline constexpr const char *kFerroxFolder = TAPFS_ROOT SETTINGS_FOLDER;
inline constexpr const char *kMoveToNAS = DATAFILES_PREFIX "MoveToNAS";
inline constexpr const char *kNASShare = DATAFILES_PREFIX "NAS-Share";

// The fourteen settings a file gives the copy service, by key (a missing key
// with the value it is loaded as); none at all for a file that lost the
// line "; my settings, with a note" that the power-cut tiers put first.
std::map<std::string, std::string> SettingsAsLoaded(const std::string &text);

// Seconds since 1970 of a local date and time (the receiver's clock zone).
time_t LocalTime(int year, int month, int day, int hour = 12, int minute = 0);

class ScenarioTest : public ::testing::Test {
 public:  // open to the table-driven cases that prepare a run
  void SetUp() override;
  void TearDown() override;

  fs::path root;   // the receiver's "/"
  fs::path share;  // host folder of the simulated network share

  // Host path of a receiver path inside the root (mounts not honoured).
  fs::path Host(std::string_view receiverPath) const;
  void WriteFile(std::string_view receiverPath, std::string_view bytes, time_t mtime = 0);
  std::string ReadFile(std::string_view receiverPath) const;  // "" when missing
  bool Exists(std::string_view receiverPath) const;
  // Settings file text: "Key=Value" lines, written with CR LF.
  void WriteSettings(std::initializer_list<std::string> lines);
  // The usual settings of a run to a network share mounted late.
  void WriteShareSettings(std::initializer_list<std::string> extra = {});
  // A recording with its companions (".inf" of 376 bytes with the FTA byte,
  // ".nav"), all with the modification time given.
  void WriteRecording(std::string_view mainPath, size_t size, unsigned seed, time_t mtime, bool inf = true,
                      bool nav = true);
  // A job file in the job folder, as another program drops it.
  void WriteJob(const std::string &name, const std::string &fileName, const std::string &sdir, const std::string &ddir,
                int com);
  // Behaviour file of an outside plug-in's stand-in (id as 8 hex digits).
  void WriteStandInBehaviour(dword id, std::initializer_list<std::string> lines);
  // The setup stand-in, as /mnt/hd/ProgramFiles/FerroxSetup.tap.
  void InstallSetupStandIn();
  // Copies a stand-in plug-in file into /mnt/hd/ProgramFiles under its name.
  std::string InstallTap(const std::string &tapName, const std::string &asName = "");

  // Runs the receiver with Ferrox.tap (virtual clock, console off, quiet),
  // the share mounted at `shareAt` seconds (< 0: never) and extra options.
  RunResult Run(std::vector<std::string> extra = {}, double shareAt = 0);

  // The service log with stamps stripped, one entry per line (CR LF gone).
  std::vector<std::string> LogLines() const;
  std::string Log() const;                   // the same, joined with "\n"
  bool LogHas(std::string_view line) const;  // a whole line
  size_t LogCount(std::string_view line) const;
  // Whether the lines occur in this order (not necessarily adjacent).
  ::testing::AssertionResult LogInOrder(std::initializer_list<std::string> lines) const;
  // The toolkit's log (it exists from SetUp on, so the toolkit writes it).
  std::string ToolkitLog() const;
  // Whole seconds of the run between two log lines (first occurrences).
  int SecondsBetween(std::string_view first, std::string_view second) const;
  // Files below a host folder, relative, sorted ("Series/Ep1.rec").
  static std::vector<std::string> Tree(const fs::path &folder);

 private:
  TempDir dir_;
};
