// Receiver.h -- the receiver simulator as the tests and `receiver` drive it.
//
// One Receiver plays the firmware: sandboxed file system with mounts, clock,
// the 16-slot plug-in table, recorder state, console terminals and fault
// injection. The plug-in API, the OS facade and the firmware symbols act on
// the live Receiver (at most one at a time); plug-ins see only platform/.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ConsoleText.h"
#include "tap_api.h"

namespace sim {

enum class ClockMode { Virtual, Real };

// A receiver path served by a host folder (a network share, a USB drive).
struct MountConfig {
  std::string receiverPath;        // "/mnt/sdb1", "/mnt/hd/DataFiles/NAS-Share"
  std::filesystem::path hostPath;  // the folder that backs it
  double appearAt = 0;             // run time (seconds) at which it appears
  double vanishAt = -1;            // run time at which it vanishes; < 0: never
  // run time from which it stops answering, for silentFor seconds: every
  // call on it waits meanwhile, as a kernel's SMB client does for a server
  // that went away; < 0: never
  double silentAt = -1;
  double silentFor = 0;
};

struct Config {
  std::filesystem::path root;  // host folder that is the receiver's "/"
  ClockMode clock = ClockMode::Virtual;
  // receiver local date and time at start
  int year = 2015, month = 12, day = 20, hour = 21, minute = 5, second = 9;
  double uptimeAtStart = 300.0;  // seconds the receiver has been running
  std::vector<MountConfig> mounts;
  std::vector<int> openTerminals;       // pseudo-terminal numbers that open
  std::ostream *consoleEcho = nullptr;  // terminal output is echoed here too,
  bool consoleRaw = false;              // as the receiver's ISO 8859-1 bytes (else as UTF-8)
  size_t memTotalLimit = 0;             // TAP_MemAlloc limits, 0 = none
  size_t memBlockLimit = 0;
  dword systemId = 22010;                   // TAP_GetSystemId
  dword firmwareVersion = 0x1A07;           // TAP_GetVersion
  bool utf8Firmware = false;                // firmware keeps file names in UTF-8
  std::vector<std::string> missingSymbols;  // firmware symbols this firmware lacks
  std::string firmwareModule;               // module with the firmware functions ("" = default,
                                            // "noexec" = one without the program starter, or a path)
  std::ostream *printSink = nullptr;        // TAP_Print output; null = standard output
  std::ostream *phaseLog = nullptr;         // a line per lifecycle phase, when set
  // PNGs of the visible screen after every sync that changed it, and those
  // asked for; empty: none after syncs, and asked-for shots go beside the root
  std::filesystem::path screenshotDir;
  // With screenshots: one after every sync that changed the screen, also in
  // the middle of a handler's drawing (for those who debug drawing), instead
  // of one at the end of each event handler call that changed it.
  bool screenshotsEverySync = false;
  // A line on standard error for every event handler call that takes longer
  // than this many milliseconds of wall time; 0: none.
  double warnEventMs = 0;
  bool lenient = false;  // plug-in errors are warnings and do not fail the run
  // On the virtual clock a sync started with OS_SyncStart is done at once,
  // and its polls say it still runs for this many ticks: a disk whose sync
  // takes that long, the same in every run.
  uint32_t syncTicks = 0;
  // Power cuts (PowerCut.h): at the first firmware round from powerCutAt
  // seconds on, or just before the powerCutAtChange-th change to a file or
  // folder, the run stops dead, the files are left as the power-cut model
  // allows (chosen by powerSeed) and the process exits with status 3.
  // powerModel alone keeps the journal (and counts the changes) without a cut.
  double powerCutAt = -1;         // < 0: no cut at a moment
  uint64_t powerCutAtChange = 0;  // 0: no cut at a change
  uint64_t powerSeed = 0;         // what survives a cut
  bool powerModel = false;        // keep the journal even without a cut
};

// Wall time plug-ins spent in their event handlers: what would stall the
// receiver's picture and remote control.
struct HandlerTimes {
  std::string plugin;        // receiver path of the plug-in file
  uint64_t calls = 0;        // handler calls
  double totalMs = 0;        // wall time in them
  double longestMs = 0;      // the longest call
  word longestEvent = 0;     // its event
  dword longestTick = 0;     // and the tick it came at
  double silentShareMs = 0;  // time its events were held by a share that did not answer
};

// One plug-in's stay in the table: from its load to its unload.
struct PluginRun {
  std::string plugin;  // receiver path of the plug-in file
  dword loadedAt = 0;  // tick of the load
  dword endedAt = 0;   // tick of the unload
  std::string ending;  // "" while loaded, else how it went
};

// The lifecycle of a run, in order.
enum class Phase { SandboxReady, PluginLoaded, TapMain, IdleLoop, Unload, Exit };
const char *PhaseName(Phase phase);

struct PhaseEvent {
  Phase phase;  // what happened
  int slot;     // plug-in slot it concerns, -1 for the whole receiver
  dword tick;   // TAP_GetTick when it happened
};

class Receiver {
 public:
  explicit Receiver(Config config);  // prepares the sandbox; "/mnt/hd/ProgramFiles" and
                                     // "/mnt/hd/DataFiles" always exist
  ~Receiver();                       // unloads every plug-in
  Receiver(const Receiver &) = delete;
  Receiver &operator=(const Receiver &) = delete;

  static Receiver *Live();  // the receiver the API calls act on, or null

  const Config &config() const;

  // ---- file system ----
  // Host path of a receiver path (mounts honoured). A path on a mount that is
  // not present now is the sandbox's own folder underneath the mount point.
  std::filesystem::path HostPath(std::string_view receiverPath) const;
  // Mounts can be added and made to appear or vanish while running.
  void AddMount(const MountConfig &mount);
  void SetMountTimes(const std::string &receiverPath, double appearAt, double vanishAt);
  // The mount stops answering at run time `at` for `seconds` (--share-silent).
  void SetMountSilence(const std::string &receiverPath, double at, double seconds);
  bool MountPresent(const std::string &receiverPath) const;

  // ---- plug-ins ----
  // Copies a host plug-in file into the receiver (default folder
  // "/mnt/hd/ProgramFiles") and returns its receiver path.
  std::string Install(const std::filesystem::path &hostTap, const std::string &receiverFolder = "/mnt/hd/ProgramFiles");
  // Loads a plug-in file of the receiver: free slot, __TAP_Init_, TAP_Main.
  // Returns the slot, or -1 with a reason in *error (not a plug-in, no free
  // slot, ...). A TAP_Main that returns 0 unloads it again at once.
  int Load(const std::string &receiverPath, std::string *error = nullptr);
  // Occupies a slot and makes it the current task, so that tests can call
  // toolkit functions directly as a plug-in would. With a handler the task
  // also receives events like a loaded plug-in (TAP_Exit, kill bit, ...).
  int AttachHostTask(const std::string &currentFolder = "/mnt/hd", TapEventHandlerFn handler = nullptr);
  bool IsLoaded(int slot) const;
  int LoadedCount() const;  // plug-ins with a handler
  dword CurrentTask() const;
  std::string CurrentFolder(int slot) const;

  // ---- running ----
  void Step();                               // one tick: idle event to every plug-in, unloads, clock
  bool RunUntilUnloaded(double maxSeconds);  // true when every plug-in unloaded in time
  void RunFor(double seconds);
  TapParam SendEvent(int slot, word event, TapParam param1, TapParam param2);
  void PressKey(dword key);       // EVT_KEY to every plug-in until one consumes it
  void SendStop();                // EVT_STOP to every plug-in
  void SetCurrentTask(int slot);  // _curTapTask, e.g. back to the host task
  // Called at every top-level firmware round (keys at given seconds, status
  // requests at intervals, ...).
  void AddDriver(std::function<void(Receiver &)> driver);
  // Unloads every plug-in and records the exit phase; the destructor calls it.
  void Shutdown();
  const std::vector<PhaseEvent> &Trace() const;
  // Per plug-in file loaded in this run (unloaded ones too), in load order.
  std::vector<HandlerTimes> EventHandlerTimes() const;
  std::vector<PluginRun> PluginRuns() const;
  // Plug-in errors of the run so far (see PluginError); TakeErrors also
  // forgets them, for tests that commit one on purpose.
  int ErrorCount() const;
  int TakeErrors();
  std::string PrintOutput() const;  // everything TAP_Print wrote

  // ---- clock ----
  dword Ticks() const;        // TAP_GetTick
  double RunSeconds() const;  // run time since start
  // The longest wall time between the starts of two firmware rounds so far,
  // in milliseconds: how late an idle event came at worst.
  double LongestRoundGapMs() const;

  double Uptime() const;  // seconds, as /proc/uptime reports it

  // ---- recorder ----
  void SetPlayback(const std::string &receiverPath, byte playMode = 1);
  void StopPlayback();
  void SetRecording(int slot, const std::string &receiverPath);
  void StopRecording(int slot);
  // What plug-ins stopped: "StopTs", "StopMp3", "StopRecord <slot>".
  std::vector<std::string> StopLog() const;

  // ---- screen ----
  // The visible screen (ARGB) as the last TAP_Osd_Sync composed it.
  uint32_t ScreenPixel(int x, int y) const;
  // The whole visible screen, kScreenW x kScreenH ARGB words row by row.
  const std::vector<uint32_t> &Screen() const;
  // A pixel of a region as drawn (ARGB); 0 when there is no such pixel.
  uint32_t RegionPixel(int region, int x, int y) const;
  int OsdRegionCount() const;  // regions that exist, shown or in memory
  uint64_t ScreenSyncs() const;
  bool NormalPicture() const;  // false between TAP_ExitNormal and TAP_EnterNormal
  // Writes a PNG of the visible screen into the screenshot folder; its path,
  // "" when it could not be written.
  std::string WriteScreenshot();
  uint64_t ScreenshotCount() const;       // screenshots written in the run
  double ScreenshotMilliseconds() const;  // wall time they took

  // ---- platform calls ----
  // How often plug-ins made the call ("TAP_Osd_SaveBox", "OS_Read", ...) since
  // the start or the last reset.
  uint64_t CallCount(const std::string &call) const;
  // Wall time in milliseconds spent in the calls that wait for the disk
  // (OS_Fsync, OS_SyncDir) since the start or the last reset.
  double CallMilliseconds(const std::string &call) const;
  void ResetCallCounts();
  // ---- console ----
  std::string TerminalOutput(int pts) const;  // raw bytes written to /dev/pts/<pts>
  void ClearTerminalOutput();                 // forgets what every terminal received
  // Bytes that arrived on /dev/pts/<pts> from outside the simulator's own
  // console (a real pseudo-terminal): kept and echoed as the console's.
  void TerminalWrite(int pts, const void *buf, size_t count);

  // ---- faults ----
  // Writes to the file fail once <bytes> bytes were written to it in total.
  void FailWritesAfter(const std::string &receiverPath, uint64_t bytes);
  void SetMemoryLimit(size_t total, size_t largestBlock);  // 0 = no limit
  size_t MemoryInUse() const;                              // bytes of TAP_MemAlloc blocks not freed
  size_t SharedMemorySegments() const;                     // segments that exist now
  // Changes to files and folders so far, when the power-cut model runs.
  uint64_t FileChanges() const;

  struct Impl;
  Impl &impl() { return *impl_; }  // the simulator's own files only

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
