// Cli.h -- the `receiver` program's options and run, kept in the library so
// that later options and drivers can be added in one place.
//
// ParseOptions turns the command line into RunOptions (no side effects);
// RunProgram sets up a Receiver from them, installs and loads the plug-ins,
// runs the firmware rounds with the drivers (keys at given seconds, stop
// events, ...) and returns the exit status.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "Fatal.h"
#include "FontInstall.h"
#include "KeyNames.h"
#include "Receiver.h"

namespace sim {

struct KeyPress {
  double at;  // run time in seconds
  dword key;  // key code as delivered with EVT_KEY
};

struct RunOptions {
  Config config;
  std::vector<std::string> hostTaps;      // host files, installed into /mnt/hd/ProgramFiles
  std::vector<std::string> receiverTaps;  // plug-ins already inside the receiver
  std::vector<KeyPress> keys;
  std::vector<double> stopEvents;  // seconds at which EVT_STOP goes to every plug-in
  bool untilUnloaded = true;       // else run for `seconds`
  double seconds = 600;            // run time, or the limit when waiting for unloads
  std::string console = "-";       // terminal output: "-" stdout, "none", or a file
  bool quiet = false;              // no phase lines
  std::vector<std::pair<std::string, uint64_t>> writeFaults;
  std::string playPath;  // receiver path being played back, or ""
  int playMode = 1;
  std::vector<std::pair<int, std::string>> recordings;  // slot, receiver path
  double statusEvery = 0;                               // seconds between status requests, 0 = none
  std::vector<double> screenshotsAt;                    // seconds at which a PNG of the screen is written
  bool traceKeys = false;                               // print what each handler returned for a key
  std::string fonts;                                    // "" standard fonts into a root without any,
                                                        // "none", or a host folder of .ufnt files
  std::string web;                                      // --web [ADDR:]PORT, "" for none
  bool secondsGiven = false;                            // --seconds was on the command line
  bool clockGiven = false;                              // --clock was on the command line
  bool seedGiven = false;                               // --seed was on the command line
  bool help = false;
  bool version = false;
};

// True when this build has the web view (receiver --web).
bool HasWebView();

// The longest run: the receiver's 32-bit counter of 10-ms ticks.
inline constexpr double kMaxRunSeconds = 42949672.0;

// 0 when parsed; otherwise a message in *error.
int ParseOptions(const std::vector<std::string> &args, RunOptions *out, std::string *error);
std::string UsageText();
// Every option the parser takes ("--root", "--help", ...), for checking the help.
std::vector<std::string> KnownOptions();
int RunProgram(const RunOptions &options);

int ReceiverMain(int argc, char **argv);

}  // namespace sim
