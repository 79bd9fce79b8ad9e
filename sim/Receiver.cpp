// Receiver.cpp -- the receiver's life: sandbox, plug-in table, loading,
// events, firmware rounds and unloading.
//
// A plug-in is unloaded only when none of its frames is on the stack and
// dlclose()d only when no handler runs at all, so nothing returns into freed
// code. _curTapTask names the slot of every handler call, also when nested.
// Owns: the pointer to the live Receiver.
#include "ReceiverImpl.h"
#include "ReceiverLock.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

#include "Fatal.h"

namespace sim {

namespace fs = std::filesystem;

static Receiver *g_live = nullptr;

// clang-format off
static const char *const kFirmwareFunctions[] = {
    "PvrTimeToLinux", "_Z22ApplHdd_SaveWorkFolderv", "_Z25ApplHdd_RestoreWorkFolderv",
    "_Z20ApplHdd_SelectFolderPvPKc", "_Z21ApplHdd_SetWorkFolderPv", "_Z16Appl_ExecProgramPc",
    "_Z26Appl_ConvertToValidUTF8StrPhi"};
// clang-format on
static const char kUtf8Function[] = "_Z26Appl_ConvertToValidUTF8StrPhi";

const char *PhaseName(Phase phase)
{
  switch (phase) {
    case Phase::SandboxReady: return "sandbox ready";
    case Phase::PluginLoaded: return "plug-in loaded";
    case Phase::TapMain: return "TAP_Main";
    case Phase::IdleLoop: return "idle loop";
    case Phase::Unload: return "unload";
    case Phase::Exit: return "exit";
  }
  return "?";
}

Receiver::Impl *LiveImpl() { return g_live ? &g_live->impl() : nullptr; }

void PluginError(std::string_view call, std::string_view message)
{
  Receiver::Impl *im = LiveImpl();
  if (im == nullptr || im->config.lenient) {
    SimWarn(call, message);
    return;
  }
  Slot *s = im->CurrentSlot();
  std::string who = s && !s->hostTask ? s->tapPath : s ? "the test's host task" : "no plug-in";
  std::string line = "receiver: error: " + who + ": " + std::string(call) + ": " + std::string(message) + "\n";
  std::fputs(line.c_str(), stderr);
  ++im->errors;
}

Receiver::Impl *LiveOrWarn(const char *call)
{
  Receiver::Impl *im = LiveImpl();
  if (im == nullptr) SimWarn(call, "called while no receiver runs; ignored");
  else ++im->calls[call];
  return im;
}

static int64_t StartSeconds(const Config &c)
{
  return DaysFromCivil(c.year, c.month, c.day) * 86400 + c.hour * 3600 + c.minute * 60 + c.second;
}

static fs::path MakePrivateDir()
{
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / "ferrox-sim-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    SimFatal("sandbox", "cannot create a private folder: " + std::string(std::strerror(errno)));
  return pattern;
}

static fs::path PrepareRoot(const Config &c)
{
  if (c.root.empty()) SimFatal("sandbox", "no receiver root folder given");
  std::error_code ec;
  for (const char *sub : {"mnt/hd/ProgramFiles", "mnt/hd/DataFiles"}) {
    fs::create_directories(c.root / sub, ec);
    if (ec) SimFatal("sandbox", "cannot create " + (c.root / sub).string() + ": " + ec.message());
  }
  return c.root;
}

Receiver::Impl::Impl(Receiver *owner, Config cfg)
    : self(owner),
      config(std::move(cfg)),
      fs(PrepareRoot(config), config.mounts),
      clock(config.clock, StartSeconds(config), config.uptimeAtStart),
      privateDir(MakePrivateDir())
{
  InitSlotFolder(fallback, "/mnt/hd");
  if (config.powerModel || config.powerCutAt >= 0 || config.powerCutAtChange > 0) {
    std::vector<fs::path> homes = {config.root};
    for (const MountConfig &m : config.mounts) homes.push_back(m.hostPath);
    power = std::make_unique<PowerModel>(config.powerSeed, homes);
  }
}

PowerModel *Receiver::Impl::ChangeComing()
{
  if (!power) return nullptr;
  ++changesSeen;
  if (config.powerCutAtChange > 0 && changesSeen >= config.powerCutAtChange)
    PowerCut("before change " + std::to_string(changesSeen));
  return power.get();
}

// The power goes: nothing of the run is finished, closed or flushed. The
// files are left as the model allows, one line says what happened, and the
// process ends at once with status 3.
void Receiver::Impl::PowerCut(const std::string &when)
{
  const std::string what = power->Cut();
  char line[400];
  std::snprintf(line, sizeof line, "receiver: power cut at %.2f s (tick %u), %s, seed %llu: %s\n", clock.Seconds(),
                static_cast<unsigned>(clock.Ticks()), when.c_str(), static_cast<unsigned long long>(config.powerSeed),
                what.c_str());
  std::fflush(stdout);
  std::cout.flush();
  if (config.consoleEcho) config.consoleEcho->flush();
  std::fputs(line, stdout);
  std::fflush(stdout);
  _exit(kExitPowerCut);
}

uint64_t Receiver::FileChanges() const { return impl_->changesSeen; }

void Receiver::Impl::Phase(sim::Phase phase, int slot)
{
  trace.push_back({phase, slot, clock.Ticks()});
  if (config.phaseLog) {
    *config.phaseLog << "receiver: [" << clock.Ticks() << "] phase: " << PhaseName(phase);
    if (slot >= 0) *config.phaseLog << " (slot " << slot << ")";
    *config.phaseLog << std::endl;
  }
}

// Firmware state of a fresh receiver: empty table, no recordings, the
// firmware's own plug-in folder record, and the symbols this firmware lacks.
static void ResetFirmware(Receiver::Impl &im)
{
  std::memset(_tapTask, 0, sizeof(FwTapTableEntry) * TAP_TABLE_SLOTS);
  std::memset(_hddRecordFile, 0, sizeof(FwRecSlotFiles) * FW_REC_SLOT_TABLE);
  std::memset(_osdInfo, 0, sizeof(FwOsdRegion) * FW_OSD_REGIONS);
  _curTapTask = 0;
  _hddTapFolder = &im.tapFolderRecord;
  void *module = FirmwareModule(im.config.firmwareModule);
  im.missing.insert(im.config.missingSymbols.begin(), im.config.missingSymbols.end());
  // the UTF-8 marker has a module of its own, loaded only for a firmware
  // that has it (once loaded it stays for the process: later receivers of
  // the same process hide it from the simulator's look-ups alone)
  void *utf8 = im.config.utf8Firmware ? FirmwareModule("utf8") : nullptr;
  if (!im.config.utf8Firmware) im.missing.insert(kUtf8Function);
  for (const char *name : kFirmwareFunctions)
    if (!ModuleHas(module, name) && !(utf8 != nullptr && ModuleHas(utf8, name))) im.missing.insert(name);
}

Receiver::Receiver(Config config)
{
  if (g_live) SimFatal("receiver", "a second receiver was started while one is alive");
  // A firmware module that cannot be loaded ends the run before anything
  // (the private folder of plug-in copies) was created that it would leave.
  FirmwareModule(config.firmwareModule);
  impl_ = std::make_unique<Impl>(this, std::move(config));
  g_live = this;
  ResetFirmware(*impl_);
  impl_->Phase(Phase::SandboxReady, -1);
}

Receiver::~Receiver()
{
  Shutdown();
  std::error_code ec;
  fs::remove_all(impl_->privateDir, ec);
  g_live = nullptr;
}

Receiver *Receiver::Live() { return g_live; }
const Config &Receiver::config() const { return impl_->config; }

void Receiver::Shutdown()
{
  Impl &im = *impl_;
  if (im.shutDown) return;
  im.shutDown = true;
  for (int i = 0; i < TAP_TABLE_SLOTS; ++i)
    if (im.slots[i].used) im.Unload(i);
  if (im.depth == 0) im.CloseDeferred();
  for (auto &h : im.handles)
    if (h.second->stream) std::fclose(h.second->stream);
  im.handles.clear();
  for (auto &s : im.streams) {
    if (s.second.sync.valid()) s.second.sync.wait();
    std::fclose(s.first);
  }
  im.streams.clear();
  im.shm.clear();
  im.Phase(Phase::Exit, -1);
}

const std::vector<PhaseEvent> &Receiver::Trace() const { return impl_->trace; }

// ---------------------------------------------------------------- slots

void Receiver::Impl::InitSlotFolder(Slot &s, const std::string &osFolder)
{
  std::string folder = NormalizeReceiverPath(osFolder);
  if (!PathHasPrefix(folder, "/mnt/hd") || folder.size() >= sizeof(s.folderPath)) folder = "/mnt/hd";
  std::snprintf(s.folderPath, sizeof(s.folderPath), "%s", folder.c_str());
  s.folder.Path = s.folderPath;
}

Slot *Receiver::Impl::CurrentSlot()
{
  if (_curTapTask >= TAP_TABLE_SLOTS || !slots[_curTapTask].used) return nullptr;
  return &slots[_curTapTask];
}

Slot &Receiver::Impl::CurrentOrFallback()
{
  Slot *s = CurrentSlot();
  return s ? *s : fallback;
}

int Receiver::Impl::FreeSlot() const
{
  for (int i = 0; i < TAP_TABLE_SLOTS; ++i)
    if (!slots[i].used) return i;
  return -1;
}

// Fills a slot and its table entry; the handler is set by the caller.
static void OccupySlot(Receiver::Impl &im, int slot, const std::string &file, const std::string &folder)
{
  static uint64_t nextLoadId = 0;
  Slot &s = im.slots[slot];
  s.used = true;
  s.loadId = ++nextLoadId;
  s.tapPath = file;
  s.active = 0;
  s.exitRequested = false;
  s.find.clear();
  s.findPos = 0;
  s.file.SetPath(file);
  im.InitSlotFolder(s, folder);
  FwTapTableEntry &e = _tapTask[slot];
  std::memset(&e, 0, sizeof e);
  e.RunState = 1;
  e.File = &s.file.rec;
  e.Folder = &s.folder;
}

int Receiver::AttachHostTask(const std::string &currentFolder, TapEventHandlerFn handler)
{
  Impl &im = *impl_;
  int slot = im.FreeSlot();
  if (slot < 0) return -1;
  OccupySlot(im, slot, "/mnt/hd/ProgramFiles/HostTask.tap", currentFolder);
  im.slots[slot].hostTask = handler == nullptr;
  _tapTask[slot].Handler = handler;
  _curTapTask = static_cast<dword>(slot);
  return slot;
}

void Receiver::SetCurrentTask(int slot) { _curTapTask = static_cast<dword>(slot); }

bool Receiver::IsLoaded(int slot) const { return slot >= 0 && slot < TAP_TABLE_SLOTS && impl_->slots[slot].used; }

int Receiver::LoadedCount() const
{
  int n = 0;
  for (int i = 0; i < TAP_TABLE_SLOTS; ++i)
    if (impl_->slots[i].used && _tapTask[i].Handler) ++n;
  return n;
}

dword Receiver::CurrentTask() const { return _curTapTask; }

std::string Receiver::CurrentFolder(int slot) const
{
  if (!IsLoaded(slot)) return "";
  return impl_->slots[slot].folderPath;
}

// ---------------------------------------------------------------- events

// Marks a handler frame on the stack: the current task is the slot for the
// duration and the previous value comes back afterwards. A plug-in built with
// the toolkit must leave its call trace as deep as it found it: a function
// that entered the trace and returned without leaving it is an error of the
// run, named with the call (TAP_Main or the event) while the plug-in is still
// the current task.
namespace {
struct CallScope {
  Receiver::Impl &im;
  int slot;
  dword saved;
  const char *call;
  int event;
  dword levelBefore = 0;
  CallScope(Receiver::Impl &impl, int s, const char *what = nullptr, int ev = -1)
      : im(impl), slot(s), saved(_curTapTask), call(what), event(ev)
  {
    _curTapTask = static_cast<dword>(slot);
    ++im.slots[slot].active;
    ++im.depth;
    if (call && im.slots[slot].callLevel) levelBefore = *im.slots[slot].callLevel;
  }
  ~CallScope()
  {
    const Slot &s = im.slots[slot];
    if (call && s.used && s.callLevel && *s.callLevel != levelBefore) {
      const dword after = *s.callLevel;
      char where[24] = "";
      if (event >= 0) std::snprintf(where, sizeof where, "event 0x%04X ", static_cast<unsigned>(event));
      char text[240];
      std::snprintf(text, sizeof text, "%sreturned with the call trace at level %u; it was %u when the call began (%s)",
                    where, static_cast<unsigned>(after), static_cast<unsigned>(levelBefore),
                    after > levelBefore ? "a function entered the trace without leaving it"
                                        : "the trace was left more often than entered");
      std::string message = text;
      PluginError(call, message);
    }
    --im.slots[slot].active;
    --im.depth;
    _curTapTask = saved;
  }
};
}  // namespace

TapParam Receiver::Impl::Dispatch(int slot, word event, TapParam p1, TapParam p2)
{
  if (slot < 0 || slot >= TAP_TABLE_SLOTS || !slots[slot].used) return 0;
  TapEventHandlerFn handler = _tapTask[slot].Handler;
  if (handler == nullptr) return 0;
  FirmwareHold hold;
  TapParam result;
  auto started = std::chrono::steady_clock::now();
  const double shotsBefore = shotMs, blockedBefore = blockedMs, silentBefore = silentMs;
  {
    CallScope scope(*this, slot, "TAP_EventHandler", event);
    result = handler(event, p1, p2);
  }
  // the plug-in's own time: what the simulator spent on screenshots is not its
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count() -
              (shotMs - shotsBefore) + (blockedMs - blockedBefore);
  if (depth == 0) ShotIfPending();
  if (!slots[slot].hostTask) NoteHandlerTime(slots[slot].tapPath, event, ms, silentMs - silentBefore);
  AfterCall(slot);
  return result;
}

void Receiver::Impl::NoteHandlerTime(const std::string &plugin, word event, double ms, double silentMs)
{
  auto it =
      std::find_if(handlerTimes.begin(), handlerTimes.end(), [&](const HandlerTimes &h) { return h.plugin == plugin; });
  if (it == handlerTimes.end()) {
    handlerTimes.push_back(HandlerTimes{plugin});
    it = handlerTimes.end() - 1;
  }
  it->calls++;
  it->totalMs += ms;
  it->silentShareMs += silentMs;
  if (ms > it->longestMs) {
    it->longestMs = ms;
    it->longestEvent = event;
    it->longestTick = clock.Ticks();
  }
  if (config.warnEventMs > 0 && ms > config.warnEventMs) {
    char line[600];
    std::snprintf(line, sizeof line, "receiver: [%u] %s: event 0x%04X took %.1f ms (more than %g)\n",
                  static_cast<unsigned>(clock.Ticks()), plugin.c_str(), static_cast<unsigned>(event), ms,
                  config.warnEventMs);
    std::fputs(line, stderr);
  }
}

std::vector<HandlerTimes> Receiver::EventHandlerTimes() const { return impl_->handlerTimes; }
std::vector<PluginRun> Receiver::PluginRuns() const { return impl_->pluginRuns; }
int Receiver::ErrorCount() const { return impl_->errors; }
int Receiver::TakeErrors()
{
  int n = impl_->errors;
  impl_->errors = 0;
  return n;
}

// After a plug-in's code returned: a kill bit still set, or TAP_Exit during
// the call, unloads it once none of its frames is left on the stack.
void Receiver::Impl::AfterCall(int slot)
{
  Slot &s = slots[slot];
  if (!s.used) return;
  if (_tapTask[slot].RunState == TAP_RUNSTATE_KILL) {
    s.exitRequested = true;
    if (!s.ending) s.ending = "stopped (its kill bit was set)";
  }
  if (s.exitRequested && s.active == 0) Unload(slot);
  if (depth == 0) CloseDeferred();
}

void Receiver::Impl::Unload(int slot)
{
  Slot &s = slots[slot];
  if (!s.used) return;
  // Only what was announced as loaded is announced as unloaded (not a test's
  // host task, nor a file whose __TAP_Init_ failed).
  const bool plugin = !s.hostTask && _tapTask[slot].Handler != nullptr;
  // What the plug-in never freed goes back to the heap with it. A test's
  // host task keeps its blocks: the toolkit in the test binary lives on.
  if (s.tap.handle) {
    auto [count, bytes] = FreeBlocksOf(s.loadId);
    if (count > 0 && config.phaseLog)
      *config.phaseLog << "receiver: [" << clock.Ticks() << "] " << s.tapPath << " left " << count
                       << (count == 1 ? " heap block" : " heap blocks") << " (" << bytes
                       << " bytes) allocated; freed at unload" << std::endl;
  }
  if (s.tap.handle) toClose.push_back(s.tap);
  s.tap = LoadedTap{};
  s.used = false;
  s.hostTask = false;
  s.exitRequested = false;
  if (plugin) {
    for (auto r = pluginRuns.rbegin(); r != pluginRuns.rend(); ++r)
      if (r->plugin == s.tapPath && r->ending.empty()) {
        r->ending = s.ending ? s.ending : "unloaded by the receiver";
        r->endedAt = clock.Ticks();
        break;
      }
  }
  s.ending = nullptr;
  s.entry = TapEntryRecord{};
  s.callLevel = nullptr;
  s.find.clear();
  std::memset(&_tapTask[slot], 0, sizeof(FwTapTableEntry));
  if (plugin) Phase(sim::Phase::Unload, slot);
}

void Receiver::Impl::CloseDeferred()
{
  std::vector<LoadedTap> closing;
  closing.swap(toClose);
  for (LoadedTap &t : closing) UnloadTap(t);
}

// Unloads what asked for it and is not running. With killedToo, also
// plug-ins whose kill bit is set although no event reached them.
void Receiver::Impl::ProcessPending(bool killedToo)
{
  for (int i = 0; i < TAP_TABLE_SLOTS; ++i) {
    Slot &s = slots[i];
    if (!s.used || s.active > 0) continue;
    bool killed = killedToo && _tapTask[i].RunState == TAP_RUNSTATE_KILL && !s.hostTask;
    if (killed && !s.ending) s.ending = "stopped (its kill bit was set)";
    if (s.exitRequested || killed) Unload(i);
  }
  if (depth == 0) CloseDeferred();
}

// One firmware round: pending unloads, the drivers (top level only), an idle
// event to every plug-in (also to one that is waiting in TAP_SystemProc),
// plug-ins killed without an event, one tick.
void Receiver::Impl::Round(bool topLevel)
{
  FirmwareHold hold;
  if (topLevel) LetOthersIn(clock.Seconds());
  if (topLevel) {
    const auto now = std::chrono::steady_clock::now();
    if (idleLoopSeen)
      longestRoundGapMs =
          std::max(longestRoundGapMs, std::chrono::duration<double, std::milli>(now - lastRound).count());
    lastRound = now;
  }
  if (topLevel && power && config.powerCutAt >= 0 && clock.Seconds() >= config.powerCutAt) PowerCut("at its moment");
  if (topLevel && !idleLoopSeen) {
    idleLoopSeen = true;
    Phase(sim::Phase::IdleLoop, -1);
  }
  ProcessPending(false);
  if (topLevel)
    for (auto &driver : drivers) driver(*self);
  for (int i = 0; i < TAP_TABLE_SLOTS; ++i)
    if (slots[i].used && _tapTask[i].Handler) Dispatch(i, EVT_IDLE, 0, 0);
  ProcessPending(true);
  clock.Tick();
}

void Receiver::Step() { impl_->Round(true); }
double Receiver::LongestRoundGapMs() const { return impl_->longestRoundGapMs; }

bool Receiver::RunUntilUnloaded(double maxSeconds)
{
  const double end = RunSeconds() + maxSeconds;
  while (LoadedCount() > 0 && RunSeconds() < end) Step();
  return LoadedCount() == 0;
}

void Receiver::RunFor(double seconds)
{
  // At most what the 32-bit tick counter can count; nothing for no time.
  const double ticks = std::isfinite(seconds) && seconds > 0 ? std::min(seconds * 100 + 0.5, 4294967295.0) : 0;
  const dword end = Ticks() + static_cast<dword>(ticks);
  while (static_cast<int32_t>(end - Ticks()) > 0) Step();
}

TapParam Receiver::SendEvent(int slot, word event, TapParam param1, TapParam param2)
{
  return impl_->Dispatch(slot, event, param1, param2);
}

void Receiver::PressKey(dword key)
{
  for (int i = 0; i < TAP_TABLE_SLOTS; ++i)
    if (impl_->slots[i].used && _tapTask[i].Handler && impl_->Dispatch(i, EVT_KEY, key, 0) == 0) break;
}

void Receiver::SendStop()
{
  for (int i = 0; i < TAP_TABLE_SLOTS; ++i)
    if (impl_->slots[i].used && _tapTask[i].Handler) impl_->Dispatch(i, EVT_STOP, 0, 0);
}

void Receiver::AddDriver(std::function<void(Receiver &)> driver) { impl_->drivers.push_back(std::move(driver)); }

// ---------------------------------------------------------------- loading

std::string Receiver::Install(const fs::path &hostTap, const std::string &receiverFolder)
{
  std::string folder = NormalizeReceiverPath(receiverFolder);
  fs::path dir = HostPath(folder);
  std::error_code ec;
  fs::create_directories(dir, ec);
  fs::copy_file(hostTap, dir / hostTap.filename(), fs::copy_options::overwrite_existing, ec);
  if (ec) SimWarn("install", "cannot copy " + hostTap.string() + ": " + ec.message());
  return (folder == "/" ? "" : folder) + "/" + hostTap.filename().string();
}

int Receiver::Impl::LoadPlugin(const std::string &receiverPath, std::string *error)
{
  std::string why;
  HostFs::Resolved where = Resolve(receiverPath);
  int slot = FreeSlot();
  LoadedTap tap;
  if (slot < 0) why = "no free slot in the plug-in table";
  else if (LoadTapCopy(where.host, privateDir, &tap, &why)) {
    auto init = reinterpret_cast<int (*)(TapEntryRecord *)>(TapSymbol(tap, "__TAP_Init_"));
    if (init == nullptr) why = "not a plug-in file (no __TAP_Init_): " + receiverPath;
    else {
      std::string folder = where.receiverPath.substr(0, where.receiverPath.rfind('/'));
      OccupySlot(*this, slot, where.receiverPath, folder);
      Slot &s = slots[slot];
      s.tap = tap;
      s.callLevel = static_cast<const volatile dword *>(TapLocalSymbol(tap, "CallLevel"));
      int ok;
      {
        CallScope scope(*this, slot);
        ok = init(&s.entry);
      }
      if (ok && s.entry.Main && s.entry.EventHandler) {
        _tapTask[slot].Handler = s.entry.EventHandler;
        pluginRuns.push_back(PluginRun{s.tapPath, clock.Ticks(), 0, ""});
        Phase(sim::Phase::PluginLoaded, slot);
        return slot;
      }
      why = "the plug-in's __TAP_Init_ failed: " + receiverPath;
      Unload(slot);
      tap = LoadedTap{};
    }
    if (tap.handle) UnloadTap(tap);
  }
  if (error) *error = why;
  return -1;
}

int Receiver::Load(const std::string &receiverPath, std::string *error)
{
  Impl &im = *impl_;
  int slot = im.LoadPlugin(receiverPath, error);
  if (slot < 0) return -1;
  im.Phase(Phase::TapMain, slot);
  int stay;
  {
    CallScope scope(im, slot, "TAP_Main");
    stay = im.slots[slot].entry.Main();
  }
  if (stay == 0) {
    im.slots[slot].exitRequested = true;
    im.slots[slot].ending = "TAP_Main returned 0";
  }
  im.AfterCall(slot);
  return slot;
}

// ---------------------------------------------------------------- files

HostFs::Resolved Receiver::Impl::Resolve(std::string_view receiverPath) const
{
  return fs.Resolve(receiverPath, clock.Ticks());
}

bool Receiver::Impl::MountGone(int mount) const { return mount >= 0 && !fs.MountPresent(mount, clock.Ticks()); }

bool Receiver::Impl::IsMountPoint(std::string_view receiverPath) const
{
  return fs.IsMountPoint(receiverPath, clock.Ticks());
}

fs::path Receiver::HostPath(std::string_view receiverPath) const { return impl_->Resolve(receiverPath).host; }

void Receiver::AddMount(const MountConfig &mount) { impl_->fs.AddMount(mount); }

void Receiver::SetMountTimes(const std::string &receiverPath, double appearAt, double vanishAt)
{
  int i = impl_->fs.FindMount(receiverPath);
  if (i < 0) return;
  impl_->fs.SetAppearAt(i, appearAt);
  impl_->fs.SetVanishAt(i, vanishAt);
}

void Receiver::SetMountSilence(const std::string &receiverPath, double at, double seconds)
{
  FirmwareHold hold;  // a worker of a plug-in may be looking at it
  int i = impl_->fs.FindMount(receiverPath);
  if (i >= 0) impl_->fs.SetSilence(i, at, seconds);
}

bool Receiver::MountPresent(const std::string &receiverPath) const
{
  int i = impl_->fs.FindMount(receiverPath);
  return i >= 0 && impl_->fs.MountPresent(i, impl_->clock.Ticks());
}

void Receiver::FailWritesAfter(const std::string &receiverPath, uint64_t bytes)
{
  impl_->faults.push_back({NormalizeReceiverPath(receiverPath), bytes, 0});
}

uint64_t Receiver::Impl::WriteAllowance(const std::string &receiverPath, uint64_t want)
{
  for (const WriteFault &f : faults)
    if (PathHasPrefix(receiverPath, f.path)) want = std::min<uint64_t>(want, f.limit - std::min(f.limit, f.written));
  return want;
}

void Receiver::Impl::CountWritten(const std::string &receiverPath, uint64_t bytes)
{
  for (WriteFault &f : faults)
    if (PathHasPrefix(receiverPath, f.path)) f.written += bytes;
}

// ---------------------------------------------------------------- clock, recorder, console

dword Receiver::Ticks() const { return impl_->clock.Ticks(); }
double Receiver::RunSeconds() const { return impl_->clock.Seconds(); }
double Receiver::Uptime() const { return impl_->clock.Uptime(); }

void Receiver::SetPlayback(const std::string &receiverPath, byte playMode)
{
  impl_->playFile.SetPath(NormalizeReceiverPath(receiverPath));
  impl_->playing = true;
  impl_->playMode = playMode;
}

void Receiver::StopPlayback() { impl_->playing = false; }

void Receiver::SetRecording(int slot, const std::string &receiverPath)
{
  if (slot < 0 || slot >= FW_REC_SLOT_TABLE) return;
  std::string main = NormalizeReceiverPath(receiverPath);
  const char *suffix[3] = {"", ".inf", ".nav"};
  for (int i = 0; i < 3; ++i) {
    impl_->recFiles[slot][i].SetPath(main + suffix[i]);
    _hddRecordFile[slot].File[i] = &impl_->recFiles[slot][i].rec;
  }
}

void Receiver::StopRecording(int slot)
{
  if (slot < 0 || slot >= FW_REC_SLOT_TABLE) return;
  for (auto &f : _hddRecordFile[slot].File) f = nullptr;
}

std::vector<std::string> Receiver::StopLog() const { return impl_->stops; }

std::string Receiver::TerminalOutput(int pts) const
{
  auto it = impl_->termOut.find(pts);
  return it == impl_->termOut.end() ? "" : it->second;
}

void Receiver::ClearTerminalOutput() { impl_->termOut.clear(); }

void Receiver::TerminalWrite(int pts, const void *buf, size_t count) { impl_->Echo(pts, buf, count); }

std::string Receiver::PrintOutput() const { return impl_->printed; }

void Receiver::Impl::Echo(int pts, const void *buf, size_t count)
{
  std::string &out = termOut[pts];
  out.append(static_cast<const char *>(buf), count);
  if (config.consoleEcho == nullptr) return;
  std::string shown;
  shown.reserve(count);
  for (size_t i = 0; i < count; ++i)
    if (static_cast<const char *>(buf)[i] != '\0') shown += static_cast<const char *>(buf)[i];
  if (!config.consoleRaw) shown = TerminalTextAsUtf8(shown);
  config.consoleEcho->write(shown.data(), static_cast<std::streamsize>(shown.size()));
  config.consoleEcho->flush();
}

size_t Receiver::SharedMemorySegments() const { return impl_->shm.size(); }

uint64_t Receiver::CallCount(const std::string &call) const
{
  auto it = impl_->calls.find(call);
  return it == impl_->calls.end() ? 0 : it->second;
}

double Receiver::CallMilliseconds(const std::string &call) const
{
  auto it = impl_->callMs.find(call);
  return it == impl_->callMs.end() ? 0 : it->second;
}

void Receiver::ResetCallCounts()
{
  impl_->calls.clear();
  impl_->callMs.clear();
}

}  // namespace sim
