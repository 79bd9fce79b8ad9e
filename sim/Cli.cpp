// Cli.cpp -- the run of the `receiver` program: the receiver set up from
// the options (CliOptions.cpp), the plug-ins installed and loaded, the
// drivers, the rounds and the report; the exit status is an ExitStatus.
#include "Cli.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

#include "FirmwareState.h"
#include "HostFs.h"
#include "HostTerminals.h"
#include "SimClock.h"
#include "StatusRequester.h"
#include "TapFlavour.h"
#ifdef FERROX_WEB_VIEW
#include "WebView.h"
#endif

namespace sim {

namespace fs = std::filesystem;

// A key to every plug-in until one consumes it, as PressKey does, printing
// what each handler returned.
static void PressKeyTraced(Receiver &rx, dword key)
{
  for (int slot = 0; slot < TAP_TABLE_SLOTS; ++slot) {
    if (!rx.IsLoaded(slot) || !_tapTask[slot].Handler) continue;
    TapParam r = rx.SendEvent(slot, EVT_KEY, key, 0);
    std::cout << "receiver: [" << rx.Ticks() << "] key 0x" << std::hex << std::uppercase << key << ": slot " << std::dec
              << slot << " returned 0x" << std::hex << r << std::dec << std::nouppercase << std::endl;
    if (r == 0) break;
  }
}

// Runs `what` once at each of the given seconds of the run.
// (The moments are kept as ticks: a driver is asked every round, and on a
// receiver CPU without an FPU every floating-point compare is emulated.)
static void AtSeconds(Receiver &rx, const std::vector<double> &seconds, void (*what)(Receiver &))
{
  auto ticks = std::make_shared<std::vector<int64_t>>();
  for (double at : seconds) ticks->push_back(at >= 0 ? FirstTickAt(at) : -1);
  rx.AddDriver([ticks, what](Receiver &r) {
    for (int64_t &at : *ticks)
      if (at >= 0 && r.Ticks() >= at) {
        at = -1;
        what(r);
      }
  });
}

// The drivers of a run: whatever happens at given seconds of it. Further
// drivers (a status requester sending requests at intervals, ...) are added
// here.
static void AddDrivers(Receiver &rx, const RunOptions &o)
{
  auto keys = std::make_shared<std::vector<std::pair<int64_t, KeyPress>>>();
  for (const KeyPress &k : o.keys) keys->push_back({k.at >= 0 ? FirstTickAt(k.at) : -1, k});
  bool trace = o.traceKeys;
  rx.AddDriver([keys, trace](Receiver &r) {
    for (auto &[at, k] : *keys)
      if (at >= 0 && r.Ticks() >= at) {
        at = -1;  // delivered
        if (trace) PressKeyTraced(r, k.key);
        else r.PressKey(k.key);
      }
  });
  if (o.statusEvery > 0) AddStatusRequester(rx, o.statusEvery, std::cout);
  AtSeconds(rx, o.stopEvents, [](Receiver &r) { r.SendStop(); });
  AtSeconds(rx, o.screenshotsAt, [](Receiver &r) {
    std::string file = r.WriteScreenshot();
    if (file.empty()) std::cerr << "receiver: the screenshot could not be written" << std::endl;
  });
}

// The fonts the run asked for; false after a message when they cannot be put in.
static bool SetUpFonts(const RunOptions &o)
{
  if (o.fonts == "none") return true;
  fs::path root = o.config.root;
  std::error_code ec;
  if (o.fonts.empty() && fs::exists(root / std::string(kFontFolder).substr(1), ec)) return true;
  fs::path from = o.fonts.empty() ? StandardFontDir() : fs::path(o.fonts);
  std::string error;
  int n = InstallFonts(root, from, &error);
  if (n < 0) {
    // without an explicit folder a missing font set is only a warning: the
    // plug-ins say themselves which font they miss
    std::cerr << "receiver: " << (o.fonts.empty() ? "warning: " : "") << error << "\n";
    return o.fonts.empty();
  }
  if (!o.quiet) std::cout << "receiver: " << n << " fonts put into " << kFontFolder << "\n";
  return true;
}

static void SetUpReceiver(Receiver &rx, const RunOptions &o)
{
  for (const auto &f : o.writeFaults) rx.FailWritesAfter(f.first, f.second);
  if (!o.playPath.empty()) rx.SetPlayback(o.playPath, static_cast<byte>(o.playMode));
  for (const auto &r : o.recordings) rx.SetRecording(r.first, r.second);
  AddDrivers(rx, o);
}

// Installs and loads every plug-in; false after a message when one fails.
static bool LoadAll(Receiver &rx, const RunOptions &o)
{
  std::vector<std::string> paths;
  for (const std::string &tap : o.hostTaps) paths.push_back(rx.Install(tap));
  paths.insert(paths.end(), o.receiverTaps.begin(), o.receiverTaps.end());
  for (const std::string &path : paths) {
    std::string error;
    if (rx.Load(path, &error) < 0) {
      std::cerr << "receiver: cannot load " << path << ": " << error << "\n";
      return false;
    }
  }
  return true;
}

// The last "Summary: " line a plug-in printed on a terminal of the run,
// without its time stamp, or "".
static std::string LastSummaryOfRun(const Receiver &rx, const RunOptions &o)
{
  std::string found;
  for (int pts : o.config.openTerminals) {
    std::string out = rx.TerminalOutput(pts);
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());  // as the echo shows it
    const std::string line = LastSummaryLine(out);
    if (!line.empty()) found = o.config.consoleRaw ? line : TerminalTextAsUtf8(line);
  }
  return found;
}

// Which plug-ins ran and how each ended, then the copy service's summary.
static void ReportPluginRuns(const Receiver &rx, const RunOptions &o)
{
  for (const PluginRun &r : rx.PluginRuns()) {
    std::cout << "receiver: " << r.plugin << ": loaded at tick " << r.loadedAt << ", ";
    if (r.ending.empty()) std::cout << "still loaded at the end of the run";
    else std::cout << r.ending << " at tick " << r.endedAt;
    std::cout << std::endl;
  }
  std::string summary = LastSummaryOfRun(rx, o);
  if (!summary.empty()) std::cout << "receiver: " << summary << std::endl;
}

bool HasWebView()
{
#ifdef FERROX_WEB_VIEW
  return true;
#else
  return false;
#endif
}

// The end of every run: its length, the handler times, the plug-ins and the
// plug-in errors; the exit status so far comes in and goes out.
static int ReportRun(Receiver &rx, const RunOptions &o, int status)
{
  std::cout << "receiver: run ended after " << rx.Ticks() << " ticks (" << rx.RunSeconds() << " s), "
            << rx.LoadedCount() << " plug-in(s) loaded" << std::endl;
  if (o.config.powerCutAt >= 0 || o.config.powerCutAtChange > 0)
    std::cout << "receiver: no power cut: the run made " << rx.FileChanges() << " changes to files and folders"
              << std::endl;
  if (o.config.clock == ClockMode::Real) {
    char line[200];
    std::snprintf(line, sizeof line, "receiver: longest gap between two idle rounds: %.1f ms (a round is 10 ms)",
                  rx.LongestRoundGapMs());
    std::cout << line << std::endl;
  }
  if (rx.ScreenshotCount() > 0)
    std::cout << "receiver: " << rx.ScreenshotCount() << " screenshots written in "
              << static_cast<long long>(rx.ScreenshotMilliseconds() + 0.5) << " ms (not counted in the plug-ins' times)"
              << std::endl;
  for (const HandlerTimes &h : rx.EventHandlerTimes()) {
    char line[700];
    std::snprintf(line, sizeof line,
                  "receiver: %s: %llu event handler calls, %.1f ms in all, longest %.1f ms (event 0x%04X at tick %u)",
                  h.plugin.c_str(), static_cast<unsigned long long>(h.calls), h.totalMs, h.longestMs,
                  static_cast<unsigned>(h.longestEvent), static_cast<unsigned>(h.longestTick));
    std::cout << line << std::endl;
    // a share that stopped answering held the firmware's own thread
    if (h.silentShareMs > 0)
      std::cout << "receiver: " << h.plugin << ": its events waited " << static_cast<long long>(h.silentShareMs + 0.5)
                << " ms in all for a share that did not answer" << std::endl;
  }
  ReportPluginRuns(rx, o);
  if (rx.ErrorCount() > 0) {
    std::cerr << "receiver: " << rx.ErrorCount()
              << " plug-in error(s) in this run; it fails (--lenient makes them warnings)\n";
    status = kExitRunFailed;
  }
  rx.Shutdown();
  return status;
}

#ifdef FERROX_WEB_VIEW
// Ctrl-C or a termination request ends a web run between two rounds.
static std::atomic<bool> g_interrupted{false};
static void OnInterrupt(int) { g_interrupted = true; }

// The virtual receiver in a browser: the page drives the run until Ctrl-C
// (or --seconds); the plug-ins of the command line load at its start.
static int RunWebView(RunOptions o)
{
  WebAddress at;
  ParseWebAddress(o.web, &at);
  WebControls controls;
  std::vector<std::string> startable = {kServiceTap, kSetupTap};
  for (const std::string &tap : o.hostTaps) {
    std::string path = TAPFS_ROOT PROGRAM_FILES_DIR "/" + fs::path(tap).filename().string();
    if (std::find(startable.begin(), startable.end(), path) == startable.end()) startable.push_back(path);
  }
  controls.startable = startable;
  for (const MountConfig &m : o.config.mounts) controls.mounts.push_back(m.receiverPath);
  if (o.statusEvery > 0) controls.statusEvery = o.statusEvery;
  // what the page shows of the copy service: its log and its status reply
  controls.logPath = kServiceLog;
  controls.status = [](Receiver &r) { return SlotOfTap(r, kFerroxId) >= 0 ? RequestStatus(r) : StatusAnswer{}; };
  WebView web(controls);
  o.config.consoleEcho = web.Console(o.config.consoleEcho);
  o.statusEvery = 0;  // the page asks; the console stays free of status lines
  Receiver rx(o.config);
  if (!SetUpFonts(o)) return kExitCommandLine;
  SetUpReceiver(rx, o);
  rx.AddDriver([&web](Receiver &r) { web.Pump(r); });
  std::string error;
  if (!web.Start(at, &error)) {
    std::cerr << "receiver: " << error << "\n";
    return kExitCommandLine;
  }
  const std::string host = at.host.find(':') != std::string::npos ? "[" + at.host + "]" : at.host;
  std::cout << "receiver: web view at http://" << host << ":" << web.Port() << "/ (Ctrl-C ends the run)" << std::endl;
  if (!LoadAll(rx, o)) {
    web.Stop();
    return ReportRun(rx, o, 1);
  }
  auto oldInt = std::signal(SIGINT, OnInterrupt);
  auto oldTerm = std::signal(SIGTERM, OnInterrupt);
  while (!g_interrupted && (!o.secondsGiven || rx.RunSeconds() < o.seconds)) rx.Step();
  std::signal(SIGINT, oldInt);
  std::signal(SIGTERM, oldTerm);
  web.Stop();
  std::cout << "receiver: web view closed after " << web.Requests() << " requests" << std::endl;
  return ReportRun(rx, o, 0);
}
#endif

int RunProgram(const RunOptions &options)
{
  RunOptions o = options;
  std::unique_ptr<std::ofstream> consoleFile;
  if (o.console == "-") o.config.consoleEcho = &std::cout;
  else if (o.console != "none") {
    consoleFile = std::make_unique<std::ofstream>(o.console, std::ios::binary);
    if (!*consoleFile) {
      std::cerr << "receiver: cannot write the console file " << o.console << "\n";
      return kExitCommandLine;
    }
    o.config.consoleEcho = consoleFile.get();
  }
  if (!o.quiet) o.config.phaseLog = &std::cout;
#ifdef FERROX_WEB_VIEW
  if (!o.web.empty()) return RunWebView(o);
#endif
  Receiver rx(o.config);
  if (!SetUpFonts(o)) return kExitCommandLine;
  SetUpReceiver(rx, o);
  // on a machine laid out like the receiver the plug-ins' own libc calls
  // open the terminals: real ones, whose lines join the console
  std::unique_ptr<HostTerminals> terminals;
  if (o.config.root.lexically_normal() == "/" && !o.config.openTerminals.empty()) {
    std::string warning;
    terminals = std::make_unique<HostTerminals>(o.config.openTerminals, &warning);
    if (!warning.empty()) std::cerr << "receiver: warning: " << warning << "\n";
    rx.AddDriver([t = terminals.get()](Receiver &r) { t->Pump(r); });
  }
  if (!LoadAll(rx, o)) return kExitRunFailed;
  int status = kExitAsAsked;
  if (o.untilUnloaded) {
    if (!rx.RunUntilUnloaded(o.seconds)) {
      std::cerr << "receiver: " << rx.LoadedCount() << " plug-in(s) still loaded after " << o.seconds << " s\n";
      status = kExitRunFailed;
    }
  } else {
    rx.RunFor(o.seconds);
  }
  if (terminals) terminals->Drain(rx);
  return ReportRun(rx, o, status);
}

int ReceiverMain(int argc, char **argv)
{
  std::vector<std::string> args(argv + 1, argv + argc);
  RunOptions o;
  std::string error;
  if (ParseOptions(args, &o, &error) != 0) {
    std::cerr << "receiver: " << error << "\n";
    return kExitCommandLine;
  }
  if (o.help) {
    std::cout << UsageText();
    return kExitAsAsked;
  }
  if (o.version) {
    std::cout << "receiver " << FERROX_VERSION << " (Ferrox receiver simulator)\n";
    return kExitAsAsked;
  }
  return RunProgram(o);
}

}  // namespace sim
