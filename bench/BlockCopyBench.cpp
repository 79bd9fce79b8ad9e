// BlockCopyBench.cpp -- the block copy engine's throughput against cp and
// rsync, and the time one paced engine step takes. Figures only.
//
// One source file (1 GiB by default) is copied on one file system, in
// interleaved rounds (A B C, B C A, C A B, ...), by the engine (10 MiB blocks, no
// pause), whole runs of Ferrox.tap in the receiver program (virtual clock;
// the block sizes of a network share and of a Linux drive at speed 4),
// `cp`, `rsync --inplace` and `rsync -W`; a half-copied file is continued by
// the engine (copy and move runs), `rsync --append-verify` and `rsync
// --partial`. Each copy is flushed to disk before its clock stops, and the
// page cache is dropped before each where the benchmark may. Then the engine
// copies at the service's pace for every speed and mount type (real clock),
// timing every step: on the receiver it runs in the idle event.
#include <fcntl.h>
#include <spawn.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "HostPrograms.h"
#include "Ferrox.h"
#include "FirmwareBinding.h"
#include "LogTrace.h"
#include "Receiver.h"
#include "tap_header.h"

extern "C" const dword __tap_ud__ = 0x8E0A4F20;  // the benchmark acts as a plug-in
extern "C" const char __tap_program_name[64] = "Ferrox Bench";
extern char **environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMiB = 1 << 20;
const char *const kSrcDir = "/mnt/hd/DataFiles/MoveToNAS";
const char *const kDstDir = "/mnt/hd/DataFiles/NAS";

struct Options {
  fs::path dir = fs::temp_directory_path();  // where the work folder goes
  uint64_t sizeMiB = 1024;                   // source size
  int rounds = 11;                           // interleaved rounds of every contender
  int pacedBlocks = 40;                      // blocks of each paced copy
  bool keep = false;                         // keep the work folder
  fs::path dest;                             // a network share to copy onto instead
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void WriteSource(const fs::path &file, uint64_t size)
{
  std::ofstream out(file, std::ios::binary);
  std::vector<uint64_t> chunk(kMiB);  // 8 MiB of incompressible bytes at a time
  uint64_t x = 88172645463325252ull;
  for (uint64_t done = 0; done < size;) {
    for (uint64_t &w : chunk) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      w = x;
    }
    uint64_t n = std::min<uint64_t>(size - done, chunk.size() * sizeof(uint64_t));
    out.write(reinterpret_cast<const char *>(chunk.data()), static_cast<std::streamsize>(n));
    done += n;
  }
}

// Runs a command with its standard output going nowhere (the figures are
// this program's); its exit status, or -1 when it could not be started.
int Run(std::vector<std::string> words)
{
  // standard error this program's own, not reopened by name (/dev/stderr
  // need not exist, e.g. for a deleted file)
  pid_t pid = StartProgram(words, {}, "-");
  if (pid < 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SameContents(const fs::path &a, const fs::path &b)
{
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(8 * kMiB), bb(8 * kMiB);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0)
      return false;
  }
  return !fa && !fb;
}

std::string FileSystemName(const fs::path &p)
{
  struct statfs s {};
  if (statfs(p.c_str(), &s) != 0) return "?";
  switch (static_cast<unsigned long>(s.f_type)) {
    case 0xEF53: return "ext2/3/4";
    case 0x01021994: return "tmpfs";
    case 0x58465342: return "xfs";
    case 0x9123683E: return "btrfs";
    case 0x794C7630: return "overlayfs";
  }
  char hex[32];
  std::snprintf(hex, sizeof hex, "type 0x%lx", static_cast<unsigned long>(s.f_type));
  return hex;
}

sim::Config MakeConfig(const fs::path &root, sim::ClockMode clock)
{
  sim::Config c;
  c.root = root;
  c.clock = clock;
  c.openTerminals = {};  // the engine's log lines need no terminal
  return c;
}

// A receiver with a host task, the call trace quiet, as the service runs.
std::unique_ptr<sim::Receiver> StartReceiver(const fs::path &root, sim::ClockMode clock)
{
  FIS_ResetCache();
  auto rx = std::make_unique<sim::Receiver>(MakeConfig(root, clock));
  rx->AttachHostTask("/mnt/hd");
  CallTraceInit();
  CallTraceEnable(false);
  WriteLogFirstCall = true;
  return rx;
}

// Drops the page cache where the benchmark may (root), so that every
// contender starts from the disk; false when it cannot (then every contender
// starts with the source cached by the one before).
bool DropCaches()
{
  sync();
  std::ofstream drop("/proc/sys/vm/drop_caches");
  if (!drop) return false;
  drop << "3\n";
  return static_cast<bool>(drop.flush());
}

// A destination holding the first half of the source, on the disk.
void HalfCopy(const fs::path &src, const fs::path &dst)
{
  std::error_code ec;
  fs::remove(dst, ec);
  fs::copy_file(src, dst, ec);
  fs::resize_file(dst, fs::file_size(src) / 2, ec);
  Run({"sync", dst.string()});
}

// The engine continuing resume.rec, which holds the first half of the
// source, without pause; with `verify` as a move does it, comparing that
// half before it appends. Seconds up to the copy synced to the disk, or < 0.
double EngineResume(const fs::path &root, bool verify)
{
  auto rx = StartReceiver(root, sim::ClockMode::Virtual);
  FRX_SetVerify(verify);
  Clock::time_point t0 = Clock::now();
  int r = FRX_Init("bench.rec", "resume.rec", kSrcDir, kDstDir);
  FRX_SetSpeed(0, 10 * kMiB);
  if (r == 0)
    while ((r = FRX_Process()) == 0) rx->Step();
  FRX_SetVerify(false);
  if (r != 1 || Run({"sync", (root / (kDstDir + 1) / "resume.rec").string()}) != 0) return -1;
  return Seconds(Clock::now() - t0);
}

// The engine without pause, up to its copy synced to the disk as `sync`
// syncs the other contenders' copies; seconds taken, or < 0 when it failed.
double EngineUnpaced(const fs::path &root)
{
  auto rx = StartReceiver(root, sim::ClockMode::Virtual);
  Clock::time_point t0 = Clock::now();
  if (FRX_Init("bench.rec", "engine.rec", kSrcDir, kDstDir) != 0) return -1;
  FRX_SetSpeed(0, 10 * kMiB);
  int r;
  while ((r = FRX_Process()) == 0) rx->Step();
  if (r != 1 || Run({"sync", (root / (kDstDir + 1) / "engine.rec").string()}) != 0) return -1;
  return Seconds(Clock::now() - t0);
}

// A command copying src to dst, then `sync dst`; seconds, or < 0.
double External(std::vector<std::string> words, const fs::path &dst)
{
  Clock::time_point t0 = Clock::now();
  if (Run(words) != 0) return -1;
  if (Run({"sync", dst.string()}) != 0) return -1;
  return Seconds(Clock::now() - t0);
}

// Where the release build keeps the receiver program and the plug-ins:
// beside this program's own folder.
fs::path BuildDir()
{
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path().parent_path();
}

// Settings that copy MoveToNAS to the mounted share at full speed, with the
// block size of mount type `mountType` (0 a network share, 2 a Linux drive).
bool WriteRunSettings(const fs::path &runRoot, int mountType)
{
  std::ofstream ini(runRoot / "mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini", std::ios::binary);
  ini << "MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\nDestDir=/mnt/hd/DataFiles/NAS-Share\r\n"
         "MountedDirDest=1\r\nCopySpeed=4\r\nMountType="
      << mountType << "\r\nMove=0\r\n";
  return static_cast<bool>(ini.flush());
}

// A whole run of Ferrox.tap in the receiver program, virtual clock, copying
// the source recording (with its .inf) to a share with the pace of
// `mountType`: the receiver root is `runRoot`, the share `share`. Seconds of
// the whole program, or < 0.
double WholeRun(const fs::path &runRoot, const fs::path &share, int mountType)
{
  const fs::path build = BuildDir();
  const fs::path receiver = build / "bin/receiver", tap = build / "tap/Ferrox.tap";
  std::error_code ec;
  if (!fs::exists(receiver, ec) || !fs::exists(tap, ec) || !WriteRunSettings(runRoot, mountType)) return -1;
  fs::remove_all(share, ec);
  fs::create_directories(share, ec);
  Clock::time_point t0 = Clock::now();
  if (Run({receiver.string(), "--root", runRoot.string(), "--quiet", "--console", "none", "--mount",
           "/mnt/hd/DataFiles/NAS-Share=" + share.string(), "--tap", tap.string()}) != 0)
    return -1;
  if (Run({"sync", (share / "bench.rec").string()}) != 0) return -1;
  return Seconds(Clock::now() - t0);
}

// A receiver root for WholeRun: the source recording linked in, an .inf.
bool PrepareWholeRun(const fs::path &runRoot, const fs::path &src)
{
  std::error_code ec;
  const fs::path move = runRoot / "mnt/hd/DataFiles/MoveToNAS",
                 settings = runRoot / "mnt/hd/ProgramFiles/Settings/Ferrox";
  fs::create_directories(move, ec);
  fs::create_directories(settings, ec);
  fs::create_directories(runRoot / "mnt/hd/DataFiles/NAS-Share", ec);
  fs::remove(move / "bench.rec", ec);
  fs::create_hard_link(src, move / "bench.rec", ec);
  if (ec) return false;
  std::ofstream(move / "bench.rec.inf", std::ios::binary) << std::string(376, '\0');
  return true;
}

struct Steps {
  std::vector<double> block;  // seconds of every step that moved a block
  double last = 0;            // the longest step from the end found to the outcome
  double ending = 0;          // seconds from the end found to the outcome (a move's sync)
  int endingSteps = 0;        // idle steps over which that went
  double wall = 0;            // the whole paced copy
  int outcome = 0;
};

// The engine at a pace on `rx`, a receiver on the real clock, timing each
// step. All paced copies share that receiver, as the service's transfers
// share one: the engine's next-block tick outlives a transfer, and a new
// receiver's clock would start again at 0 and hold the first block back
// until it reached that tick. The wall time runs from the first block on.
Steps EnginePaced(sim::Receiver &rx, dword delay, dword block, bool move)
{
  Steps steps;
  Clock::time_point start{};
  FRX_SetVerify(move);  // a move syncs its copy before "transfer finished"
  if (FRX_Init("paced.rec", "paced.rec", kSrcDir, kDstDir) != 0) {
    FRX_SetVerify(false);
    return steps;
  }
  FRX_SetSpeed(delay, block);
  qword total = 0;
  FRX_GetStats(&total, nullptr, nullptr, nullptr);
  Clock::time_point endFound{};
  for (;;) {
    qword before = FRXBytesCopied;
    Clock::time_point t0 = Clock::now();
    int r = FRX_Process();
    double s = Seconds(Clock::now() - t0);
    if (FRXBytesCopied != before) {
      if (steps.block.empty()) start = t0;
      steps.block.push_back(s);
    } else if (FRXBytesCopied == total) {  // the end found, and what follows it
      if (steps.endingSteps++ == 0) endFound = t0;
      steps.last = std::max(steps.last, s);
    }
    if (r != 0) {
      steps.outcome = r;
      steps.ending = Seconds(Clock::now() - endFound);
      break;
    }
    rx.Step();
  }
  FRX_SetVerify(false);
  steps.wall = Seconds(Clock::now() - start);
  return steps;
}

// One program or engine run that is timed round after round.
struct Contender {
  const char *name;
  std::function<double()> run;  // seconds, or < 0 when it failed
  fs::path result;              // the copy it makes
  std::vector<double> seconds;  // one figure a round
};

// The contenders in the order of round `round`: each round starts one
// further along, so that every contender takes every place in a round as
// often as the others, and what a place brings (the disk still busy with
// the copy before it, the host's caches) falls on all of them alike.
std::vector<std::reference_wrapper<Contender>> InRoundOrder(std::vector<Contender> &all, int round)
{
  std::vector<std::reference_wrapper<Contender>> order;
  for (size_t i = 0; i < all.size(); ++i) order.push_back(all[(i + static_cast<size_t>(round)) % all.size()]);
  return order;
}

// Minimum, median and maximum.
struct Spread {
  double min = 0, median = 0, max = 0;
};

Spread SpreadOf(std::vector<double> v)
{
  if (v.empty()) return {};
  std::sort(v.begin(), v.end());
  return {v.front(), v[v.size() / 2], v.back()};
}

// The spread of a contender's successful runs (seconds > 0); false after a
// line saying so when none succeeded.
bool SpreadOfRuns(const char *name, const std::vector<double> &seconds, Spread *sp)
{
  std::vector<double> ok;
  for (double t : seconds)
    if (t > 0) ok.push_back(t);
  if (ok.empty()) {
    std::printf("  %-34s failed or not installed\n", name);
    return false;
  }
  *sp = SpreadOf(ok);
  return true;
}

// Every contender once a round, in interleaved order (the page cache
// dropped before each copy when it can be), then each one's median
// throughput and whether the first round's copies were identical.
void WholeCopyRounds(std::vector<Contender> &all, int rounds, const fs::path &src, uint64_t size, bool dropped)
{
  bool identical = true;
  for (int round = 0; round < rounds; ++round) {
    for (Contender &c : InRoundOrder(all, round)) {
      std::error_code e;
      fs::remove(c.result, e);
      if (dropped) DropCaches();
      double t = c.run();
      if (t > 0 && round == 0 && !SameContents(src, c.result)) identical = false;
      c.seconds.push_back(t);
    }
  }
  for (const Contender &c : all) {
    Spread sp;
    if (!SpreadOfRuns(c.name, c.seconds, &sp)) continue;
    std::printf("  %-34s median %7.1f MiB/s  (%.2f s; min %.2f s, max %.2f s)\n", c.name,
                size / double(kMiB) / sp.median, sp.median, sp.min, sp.max);
  }
  std::printf("  every copy identical to the source: %s\n", identical ? "yes" : "NO");
}

// One line of throughput ratios per round (a's throughput over b's is b's
// time over a's) with their minimum, median and maximum.
void RatioLine(const char *label, const std::vector<double> &a, const std::vector<double> &b)
{
  std::vector<double> q;
  std::printf("  %-40s", label);
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] <= 0 || b[i] <= 0) continue;
    q.push_back(b[i] / a[i]);
    std::printf(" %.2f", b[i] / a[i]);
  }
  if (q.empty()) {
    std::printf(" (no figures)\n");
    return;
  }
  Spread sp = SpreadOf(q);
  std::printf("  -> min %.2f, median %.2f, max %.2f\n", sp.min, sp.median, sp.max);
}

// Whole copies onto a network share (--dest): a run of Ferrox.tap at a
// share's pace against cp and rsync --inplace onto the same share, in
// interleaved rounds; the medians and the ratios per round.
void CompareOnShare(const Options &o, const fs::path &src, const fs::path &runRoot, bool wholeRun, bool dropped)
{
  const uint64_t size = o.sizeMiB * kMiB;
  const fs::path onShare = o.dest / "ferrox-run", cpCopy = o.dest / "cp.rec", rsyncCopy = o.dest / "rsync.rec";
  bool rsyncTruncateRefused = false;
  // clang-format off
  std::vector<Contender> all = {
      {"Ferrox.tap run, share pace", [&] { return wholeRun ? WholeRun(runRoot, onShare, 0) : -1; },
       onShare / "bench.rec", {}},
      {"cp", [&] { return External({"cp", src.string(), cpCopy.string()}, cpCopy); }, cpCopy, {}},
      // The FUSE SMB client refuses rsync's final ftruncate (exit 23) after
      // every byte arrived: a copy that is whole counts.
      {"rsync --inplace",
       [&] {
         Clock::time_point t0 = Clock::now();
         int code = Run({"rsync", "--inplace", src.string(), rsyncCopy.string()});
         if ((code != 0 && code != 23) || Run({"sync", rsyncCopy.string()}) != 0) return -1.0;
         double t = Seconds(Clock::now() - t0);
         if (code == 23) rsyncTruncateRefused = true;
         return code == 0 || SameContents(src, rsyncCopy) ? t : -1.0;
       },
       rsyncCopy, {}},
  };
  // clang-format on
  std::printf("Whole copies onto %s, %d interleaved rounds:\n", o.dest.c_str(), o.rounds);
  WholeCopyRounds(all, o.rounds, src, size, dropped);
  if (rsyncTruncateRefused)
    std::printf("  (the share refused rsync's final ftruncate; its copies were whole and count)\n");
  std::printf("Throughput ratios per round:\n");
  RatioLine("Ferrox.tap run / cp", all[0].seconds, all[1].seconds);
  RatioLine("Ferrox.tap run / rsync --inplace", all[0].seconds, all[2].seconds);
  std::error_code e;
  fs::remove_all(onShare, e);
  fs::remove(cpCopy, e);
  fs::remove(rsyncCopy, e);
}

bool ParseOptions(int argc, char **argv, Options *o)
{
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char *name) -> const char * {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "bench_copy: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--dir") o->dir = value("--dir");
    else if (a == "--size-mib") o->sizeMiB = std::strtoull(value("--size-mib"), nullptr, 10);
    else if (a == "--rounds") o->rounds = std::atoi(value("--rounds"));
    else if (a == "--paced-blocks") o->pacedBlocks = std::atoi(value("--paced-blocks"));
    else if (a == "--keep") o->keep = true;
    else if (a == "--dest") o->dest = value("--dest");
    else {
      std::fprintf(stderr,
                   "usage: bench_copy [--dir DIR] [--size-mib N] [--rounds N] [--paced-blocks N] [--keep]\n"
                   "                  [--dest DIR]\n"
                   "  --dir DIR        file system to measure on (default: the temporary folder)\n"
                   "  --size-mib N     source size in MiB (default 1024)\n"
                   "  --rounds N       interleaved rounds of every contender (default 11)\n"
                   "  --paced-blocks N blocks of each paced copy (default 40)\n"
                   "  --keep           keep the work folder\n"
                   "  --dest DIR       copy onto DIR instead (a network share): only a run of\n"
                   "                   Ferrox.tap at a share's pace against cp and rsync --inplace\n");
      return false;
    }
  }
  return o->sizeMiB > 0 && o->rounds > 0 && o->pacedBlocks > 0;
}

}  // namespace

int main(int argc, char **argv)
{
  Options o;
  if (!ParseOptions(argc, argv, &o)) return 2;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as it comes: a run takes minutes
  std::error_code ec;
  fs::create_directories(o.dir, ec);
  std::string pattern = (o.dir / "ferrox-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("bench_copy: work folder");
    return 1;
  }
  const fs::path work = pattern, root = work / "root";
  const fs::path srcDir = root / "mnt/hd/DataFiles/MoveToNAS", dstDir = root / "mnt/hd/DataFiles/NAS";
  fs::create_directories(srcDir);
  fs::create_directories(dstDir);
  const uint64_t size = o.sizeMiB * kMiB;
  const fs::path src = srcDir / "bench.rec";

  std::printf("Ferrox block copy benchmark: %llu MiB on %s (%s)\n", static_cast<unsigned long long>(o.sizeMiB),
              work.c_str(), FileSystemName(work).c_str());
  WriteSource(src, size);
  Run({"sync", src.string()});

  const bool dropped = DropCaches();
  std::printf("Every copy is flushed to disk (sync) before its clock stops; %s.\n",
              dropped ? "the page cache is dropped before each one"
                      : "the page cache cannot be dropped "
                        "(not root): every copy starts warm");

  // ---- whole copies: the contenders interleaved, round after round ----
  const fs::path runRoot = work / "run-root", share = work / "run-share";
  const bool wholeRun = PrepareWholeRun(runRoot, src);
  if (!o.dest.empty()) {
    CompareOnShare(o, src, runRoot, wholeRun, dropped);
    if (!o.keep) fs::remove_all(work, ec);
    return 0;
  }
  // clang-format off
  std::vector<Contender> whole = {
      {"engine, no pause, 10 MiB blocks", [&] { return EngineUnpaced(root); }, dstDir / "engine.rec", {}},
      {"Ferrox.tap run, share, 2 MiB blocks", [&] { return wholeRun ? WholeRun(runRoot, share, 0) : -1; },
       share / "bench.rec", {}},
      {"Ferrox.tap run, Linux, 24 MiB blocks", [&] { return wholeRun ? WholeRun(runRoot, share, 2) : -1; },
       share / "bench.rec", {}},
      {"cp", [&] { return External({"cp", src.string(), (work / "cp.rec").string()}, work / "cp.rec"); },
       work / "cp.rec", {}},
      {"rsync --inplace",
       [&] { return External({"rsync", "--inplace", src.string(), (work / "rsync.rec").string()}, work / "rsync.rec"); },
       work / "rsync.rec", {}},
      {"rsync -W", [&] { return External({"rsync", "-W", src.string(), (work / "rsyncw.rec").string()}, work / "rsyncw.rec"); },
       work / "rsyncw.rec", {}},
  };
  // clang-format on
  std::printf("Whole copies, %d interleaved rounds:\n", o.rounds);
  WholeCopyRounds(whole, o.rounds, src, size, dropped);
  // throughput ratios per round: a's throughput over b's is b's time over a's
  auto ratioLine = RatioLine;
  std::printf("Throughput ratios per round:\n");
  const auto &engine = whole[0].seconds, &runShare = whole[1].seconds, &runLinux = whole[2].seconds,
             &cp = whole[3].seconds, &inplace = whole[4].seconds, &rsyncW = whole[5].seconds;
  ratioLine("engine / cp", engine, cp);
  ratioLine("Ferrox.tap run, share / cp", runShare, cp);
  ratioLine("Ferrox.tap run, Linux / cp", runLinux, cp);
  ratioLine("engine / rsync --inplace", engine, inplace);
  ratioLine("Ferrox.tap run, share / rsync --inplace", runShare, inplace);
  ratioLine("Ferrox.tap run, Linux / rsync --inplace", runLinux, inplace);
  ratioLine("engine / rsync -W", engine, rsyncW);
  for (const Contender &c : whole) {
    std::error_code e;
    fs::remove(c.result, e);
  }
  fs::remove_all(runRoot, ec);
  fs::remove_all(share, ec);

  // ---- continuing a half-copied file ----
  const fs::path half = dstDir / "resume.rec";
  // clang-format off
  std::vector<Contender> resume = {
      {"engine, copy run (appends)", [&] { return EngineResume(root, false); }, half, {}},
      {"engine, move run (compares first)", [&] { return EngineResume(root, true); }, half, {}},
      {"rsync --append-verify",
       [&] { return External({"rsync", "--append-verify", src.string(), half.string()}, half); }, half, {}},
      {"rsync --partial", [&] { return External({"rsync", "--partial", src.string(), half.string()}, half); }, half,
       {}},
  };
  // clang-format on
  std::printf("Continuing a half-copied file, %d interleaved rounds:\n", o.rounds);
  for (int round = 0; round < o.rounds; ++round) {
    for (Contender &c : InRoundOrder(resume, round)) {
      HalfCopy(src, half);
      if (dropped) DropCaches();
      double t = c.run();
      if (t > 0 && !SameContents(src, half)) t = -1;
      c.seconds.push_back(t);
    }
  }
  for (const Contender &c : resume) {
    Spread sp;
    if (!SpreadOfRuns(c.name, c.seconds, &sp)) continue;
    std::printf("  %-34s median %.2f s (min %.2f s, max %.2f s)\n", c.name, sp.median, sp.min, sp.max);
  }
  std::printf("Speed ratios per round (above 1: the engine is faster):\n");
  ratioLine("copy run / rsync --append-verify", resume[0].seconds, resume[2].seconds);
  ratioLine("move run / rsync --append-verify", resume[1].seconds, resume[2].seconds);
  ratioLine("copy run / rsync --partial", resume[0].seconds, resume[3].seconds);
  fs::remove(half, ec);

  // ---- one idle step at each speed and mount type ----
  std::printf(
      "Engine steps at the service's pace (a block on the first tick later than 10 after the last,\n"
      "so every 11 ticks; real clock, %d blocks each):\n",
      o.pacedBlocks);
  auto paced = StartReceiver(root, sim::ClockMode::Real);
  for (int linuxDrive = 0; linuxDrive <= 1; ++linuxDrive) {
    for (int speed = 1; speed <= 4; ++speed) {
      dword block = linuxDrive ? (dword)(speed * 3) << 21 : (dword)speed << 19;
      uint64_t bytes = std::min<uint64_t>(size, uint64_t(block) * o.pacedBlocks);
      Steps steps, moved;
      for (bool move : {false, true}) {
        fs::remove(srcDir / "paced.rec", ec);
        fs::remove(dstDir / "paced.rec", ec);
        fs::copy_file(src, srcDir / "paced.rec", ec);
        fs::resize_file(srcDir / "paced.rec", bytes, ec);
        Run({"sync", (srcDir / "paced.rec").string()});
        (move ? moved : steps) = EnginePaced(*paced, 10, block, move);
      }
      std::printf("  %-22s speed %d (%5.1f MiB blocks): ", linuxDrive ? "Linux drive" : "network share / NTFS", speed,
                  block / double(kMiB));
      if (steps.outcome != 1 || steps.block.empty()) {
        std::printf("the paced copy failed (outcome %d)\n", steps.outcome);
        continue;
      }
      std::vector<double> b = steps.block;
      std::sort(b.begin(), b.end());
      size_t p99 = std::min(b.size() - 1, (b.size() * 99 + 99) / 100 - 1);
      double implied = block / double(kMiB) / 0.11, measured = bytes / double(kMiB) / steps.wall;
      std::printf("median %.1f ms, 99%% %.1f ms, longest %.1f ms, final %.1f ms", b[b.size() / 2] * 1e3, b[p99] * 1e3,
                  b.back() * 1e3, steps.last * 1e3);
      if (moved.outcome == 1)
        std::printf(" (move: longest %.1f ms while its sync took %.1f ms over %d idle steps)", moved.last * 1e3,
                    moved.ending * 1e3, moved.endingSteps);
      else std::printf(" (move failed, outcome %d)", moved.outcome);
      std::printf("; %.1f MiB/s of %.1f the pace implies\n", measured, implied);
    }
  }
  paced.reset();
  fs::remove(srcDir / "paced.rec", ec);
  fs::remove(dstDir / "paced.rec", ec);

  // ---- the receiver plug-in files ----
  const fs::path targetTaps = BuildDir().parent_path() / "target/tap";
  // named as in the source tree, not by this machine's path
  std::printf("Receiver plug-in files (stripped), build/target/tap:\n");
  bool any = false;
  for (const char *name : {"Ferrox.tap", "FerroxSetup.tap"}) {
    std::error_code e;
    uintmax_t n = fs::file_size(targetTaps / name, e);
    if (e) continue;
    any = true;
    std::printf("  %-16s %8.1f KB\n", name, n / 1024.0);
  }
  if (!any) std::printf("  not built (make target)\n");
  if (!o.keep) fs::remove_all(work, ec);
  return 0;
}
