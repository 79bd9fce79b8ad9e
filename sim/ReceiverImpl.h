// ReceiverImpl.h -- the state behind sim::Receiver, shared by the files that
// implement the API calls, the OS facade and the firmware symbols.
//
// Internal to sim/: never included by plug-in code. One Impl belongs to the
// live Receiver; LiveImpl() is how the extern "C" calls find it. Slots hold
// the host side of the firmware's plug-in table (_tapTask), whose records
// point into them, so slots never move.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "FirmwareState.h"
#include "HostFs.h"
#include "HostLoader.h"
#include "receiver_paths.h"
#include "Osd.h"
#include "PowerCut.h"
#include "Receiver.h"
#include "SimClock.h"

namespace sim {

// A firmware file record together with the path record and text it points to.
struct FileRecord {
  FwFileRecord rec{};           // what plug-ins get and read
  FwFilePathRecord pathInfo{};  // rec.PathInfo points here
  std::string absPath;          // pathInfo.AbsPath points here

  FileRecord() = default;
  FileRecord(const FileRecord &) = delete;
  FileRecord &operator=(const FileRecord &) = delete;
  void SetPath(const std::string &path)
  {
    absPath = path;
    pathInfo.AbsPath = absPath.data();
    rec.PathInfo = &pathInfo;
  }
};

// One listed folder entry for TAP_Hdd_FindFirst / FindNext.
struct DirItem {
  std::string name;  // file or folder name
  bool folder;       // 224 when true, else 208
  uint32_t stamp;    // packed modification time
};

// A file opened with TAP_Hdd_Fopen.
struct DiskHandle {
  FileRecord file;         // the handle itself is &file.rec
  FILE *stream = nullptr;  // host stream
  int mount = -1;          // mount it was opened on, -1 for none
};

// A stream opened with OS_Fopen64.
struct StreamInfo {
  std::string receiverPath;        // normalised receiver path
  int mount = -1;                  // mount it was opened on
  bool append = false;             // opened for appending: writes go to the end
  std::unique_ptr<char[]> memory;  // backing text of a virtual file
  std::future<int> sync;           // OS_SyncStart's fsync: 0 or its errno
  uint32_t syncUntil = 0;          // virtual clock: the tick its polls see it done
};

struct ShmSegment {
  int id;                                 // identifier handed out
  key_t key;                              // key it was created with
  std::unique_ptr<unsigned char[]> data;  // the segment's bytes
  size_t size;                            // bytes
  int attached = 0;                       // current attachments
  bool removed = false;                   // IPC_RMID seen; gone once detached
};

struct WriteFault {
  std::string path;      // receiver file or folder the limit applies to
  uint64_t limit;        // bytes that may be written in total
  uint64_t written = 0;  // bytes written so far
};

struct Slot {
  bool used = false;                          // occupied
  bool hostTask = false;                      // a test's host task (no plug-in file loaded)
  LoadedTap tap;                              // the loaded private copy
  TapEntryRecord entry{};                     // what __TAP_Init_ filled
  FileRecord file;                            // the plug-in's file record
  FwTapFolderRecord folder{};                 // the current-folder record
  char folderPath[512] = {};                  // current folder as an OS path ("/mnt/hd/...")
  int active = 0;                             // frames of this plug-in on the call stack
  bool exitRequested = false;                 // TAP_Exit or kill bit seen: unload when possible
  const char *ending = nullptr;               // how it asked to go, for the end of the run
  std::vector<DirItem> find;                  // the current folder listing
  size_t findPos = 0;                         // next entry for FindNext
  uint64_t loadId = 0;                        // this occupation's number: owner of its heap blocks
  std::string tapPath;                        // receiver path of the plug-in file
  const volatile dword *callLevel = nullptr;  // the toolkit's call-trace depth, when the file names it
};

struct Receiver::Impl {
  // ---- the receiver as a whole ----
  Receiver *self = nullptr;                              // the Receiver this is the inside of
  Config config;                                         // what the run was set up with
  HostFs fs;                                             // receiver paths to host paths, mounts, devices
  SimClock clock;                                        // ticks, the date and time, the uptime
  std::filesystem::path privateDir;                      // private copies of loaded plug-ins
  bool shutDown = false;                                 // Shutdown ran: nothing loads or runs any more
  std::vector<std::function<void(Receiver &)>> drivers;  // asked every round (keys, requests, the web view)

  // ---- plug-ins and their rounds ----
  Slot slots[TAP_TABLE_SLOTS];                        // the plug-in table, by slot
  int depth = 0;                                      // handler calls on the stack
  std::vector<LoadedTap> toClose;                     // unloaded, closed when depth is 0
  std::vector<PhaseEvent> trace;                      // load, phase and unload lines of the run
  bool idleLoopSeen = false;                          // a top-level round has run
  std::chrono::steady_clock::time_point lastRound{};  // start of the last top-level round
  double longestRoundGapMs = 0;                       // the longest wall time between two of them
  Slot fallback;                                      // folder and listing when no task is current
  std::vector<std::string> stops;                     // the stop calls plug-ins made ("StopRecord 1", "StopTs", ...)
  std::string printed;                                // all that TAP_Print printed

  // ---- files ----
  std::unordered_map<FwFileRecord *, std::unique_ptr<DiskHandle>> handles;  // the disk API's open files
  std::unordered_map<FILE *, StreamInfo> streams;                           // the OS facade's open streams
  std::vector<WriteFault> faults;                         // --fail-writes: where writes fail after how many bytes
  std::unique_ptr<PowerModel> power;                      // the power-cut model, when the run has one
  uint64_t changesSeen = 0;                               // changes to files and folders so far
  std::string workFolder = TAPFS_ROOT PROGRAM_FILES_DIR;  // the firmware's work folder
  std::vector<std::string> workStack;                     // work folders pushed, innermost last
  std::vector<std::string> selectedFolders;               // folders handed out as selection records, by index
  FwWorkFolderRecord tapFolderRecord{};                   // the record the work folder call hands out

  // ---- terminals and shared memory ----
  std::map<int, std::string> termOut;  // pts -> bytes written
  std::map<int, int> termFds;          // fake fd -> pts
  int nextTermFd = 100000;             // the next fake fd (far above any real one)
  std::vector<ShmSegment> shm;         // shared memory segments plug-ins made
  int nextShmId = 0x5100;              // the next segment's id

  // ---- firmware symbols ----
  std::set<std::string> missing;  // firmware symbols reported missing
  std::string dlError;            // pending error of a refused look-up
  std::string dlErrorReturned;    // storage of the last returned error

  // ---- screen ----
  Osd osd;                    // the on-screen display
  std::string lastShot;       // name of the last screenshot written
  bool shotPending = false;   // the screen changed since the last screenshot
  uint64_t shotsWritten = 0;  // screenshots of the run
  double shotMs = 0;          // wall time they took to write

  // ---- figures and errors of the run ----
  std::unordered_map<std::string, uint64_t> calls;  // API call name -> times called
  std::unordered_map<std::string, double> callMs;   // sync call name -> wall time in it
  std::vector<HandlerTimes> handlerTimes;           // by plug-in file, in load order
  std::vector<PluginRun> pluginRuns;                // every load, in order
  int errors = 0;                                   // plug-in errors of the run
  double blockedMs = 0;                             // virtual time the firmware's thread waited on a silent share
  double silentMs = 0;                              // all time it waited on one, on either clock

  // ---- playback and recording ----
  FileRecord playFile;                        // the file being played back (--play)
  bool playing = false;                       // a playback runs
  byte playMode = 0;                          // its play mode
  FileRecord recFiles[FW_REC_SLOT_TABLE][3];  // each recording slot's .rec, .inf and .nav (--record)

  Impl(Receiver *owner, Config cfg);

  // ---- plug-in table ----
  Slot *CurrentSlot();  // slot of _curTapTask, or null
  Slot &CurrentOrFallback();
  int FreeSlot() const;
  TapParam Dispatch(int slot, word event, TapParam p1, TapParam p2);
  void NoteHandlerTime(const std::string &plugin, word event, double ms, double silentMs);
  void AfterCall(int slot);
  void Unload(int slot);
  void ProcessPending(bool killedToo);
  void CloseDeferred();
  void Round(bool topLevel);
  int LoadPlugin(const std::string &receiverPath, std::string *error);
  void Phase(sim::Phase phase, int slot);
  void InitSlotFolder(Slot &s, const std::string &osFolder);

  // ---- files ----
  HostFs::Resolved Resolve(std::string_view receiverPath) const;
  bool MountGone(int mount) const;
  bool IsMountPoint(std::string_view receiverPath) const;        // a present mount's own folder
  std::string TapfsToOs(const Slot &s, const char *name) const;  // "" when too long
  uint64_t WriteAllowance(const std::string &receiverPath, uint64_t want);
  void CountWritten(const std::string &receiverPath, uint64_t bytes);
  void Echo(int pts, const void *buf, size_t count);
  // A change to a file or folder is about to be made: the cut comes first
  // when it is the one the run is cut at. Null when no model runs.
  PowerModel *ChangeComing();
  [[noreturn]] void PowerCut(const std::string &when);

  // ---- screen ----
  void SyncScreen();         // compose; a screenshot when it changed (or one pending)
  void ShotIfPending();      // the pending screenshot, at the end of a handler call
  std::string Screenshot();  // "" when not written
};

Receiver::Impl *LiveImpl();
// Frees the TAP_MemAlloc blocks that the occupation `owner` still holds, as a
// firmware does when it unloads a plug-in; their count and bytes.
std::pair<size_t, size_t> FreeBlocksOf(uint64_t owner);
// The live Impl, or null after a warning naming the call.
Receiver::Impl *LiveOrWarn(const char *call);

}  // namespace sim
