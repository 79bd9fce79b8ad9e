// BlockCopyBench.cpp -- the block copy engine's throughput against cp and
// rsync, and the time one paced engine step takes. Figures only.
//
// One source file (1 GiB by default) is copied on one file system by the
// engine (10 MiB blocks, no pause), `cp` and `rsync --inplace`, each followed
// by a flush to disk, as the engine flushes before it reports success. Then
// the engine copies at the service's pace (10 ticks between 2 MiB blocks,
// real clock), timing every step: on the receiver it runs in the idle event.
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
#include <iostream>
#include <string>
#include <vector>

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
  uint64_t sizeMiB = 1024;                     // source size
  uint64_t pacedMiB = 0;                       // paced copy size, 0 = the whole source
  bool keep = false;                           // keep the work folder
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

// Runs a command; its exit status, or -1 when it could not be started.
int Run(std::vector<std::string> words)
{
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
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
  struct statfs s{};
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

void PrintRate(const char *what, uint64_t bytes, double seconds)
{
  std::printf("  %-34s %9.1f MiB/s  (%.2f s)\n", what, bytes / double(kMiB) / seconds, seconds);
}

// The engine continuing a destination that holds the first half of the
// source, without pause; with `verify` as a move does it, comparing that
// half before it appends. Seconds up to the flushed copy, or < 0.
double EngineResume(const fs::path &root, const fs::path &src, bool verify)
{
  const fs::path dst = root / "mnt/hd/DataFiles/NAS/resume.rec";
  std::error_code ec;
  fs::remove(dst, ec);
  fs::copy_file(src, dst, ec);
  fs::resize_file(dst, fs::file_size(src) / 2, ec);
  Run({"sync", dst.string()});
  auto rx = StartReceiver(root, sim::ClockMode::Virtual);
  FRX_SetVerify(verify);
  Clock::time_point t0 = Clock::now();
  int r = FRX_Init("bench.rec", "resume.rec", kSrcDir, kDstDir);
  FRX_SetSpeed(0, 10 * kMiB);
  if (r == 0)
    while ((r = FRX_Process()) == 0) rx->Step();
  double s = Seconds(Clock::now() - t0);
  FRX_SetVerify(false);
  return r == 1 ? s : -1;
}

// The engine without pause; seconds taken, or < 0 when it failed.
double EngineUnpaced(const fs::path &root)
{
  auto rx = StartReceiver(root, sim::ClockMode::Virtual);
  Clock::time_point t0 = Clock::now();
  if (FRX_Init("bench.rec", "engine.rec", kSrcDir, kDstDir) != 0) return -1;
  FRX_SetSpeed(0, 10 * kMiB);
  int r;
  while ((r = FRX_Process()) == 0) rx->Step();
  double s = Seconds(Clock::now() - t0);
  return r == 1 ? s : -1;
}

// A command copying src to dst, then `sync dst`; seconds, or < 0.
double External(std::vector<std::string> words, const fs::path &dst)
{
  Clock::time_point t0 = Clock::now();
  if (Run(words) != 0) return -1;
  if (Run({"sync", dst.string()}) != 0) return -1;
  return Seconds(Clock::now() - t0);
}

struct Steps {
  std::vector<double> block;  // seconds of every step that moved a block
  double last = 0;            // the step that found the end and flushed
  int outcome = 0;
};

// The engine at the service's pace, on the real clock, timing each step.
Steps EnginePaced(const fs::path &root)
{
  Steps steps;
  auto rx = StartReceiver(root, sim::ClockMode::Real);
  if (FRX_Init("paced.rec", "paced.rec", kSrcDir, kDstDir) != 0) return steps;
  FRX_SetSpeed(10, 2 * kMiB);
  for (;;) {
    qword before = FRXBytesCopied;
    Clock::time_point t0 = Clock::now();
    int r = FRX_Process();
    double s = Seconds(Clock::now() - t0);
    if (r != 0) {
      steps.last = s;
      steps.outcome = r;
      break;
    }
    if (FRXBytesCopied != before) steps.block.push_back(s);
    rx->Step();
  }
  return steps;
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
    else if (a == "--paced-mib") o->pacedMiB = std::strtoull(value("--paced-mib"), nullptr, 10);
    else if (a == "--keep") o->keep = true;
    else {
      std::fprintf(stderr,
                   "usage: bench_copy [--dir DIR] [--size-mib N] [--paced-mib N] [--keep]\n"
                   "  --dir DIR        file system to measure on (default: the temporary folder)\n"
                   "  --size-mib N     source size in MiB (default 1024)\n"
                   "  --paced-mib N    size of the paced copy (default: the whole source)\n"
                   "  --keep           keep the work folder\n");
      return false;
    }
  }
  return o->sizeMiB > 0;
}

}  // namespace

int main(int argc, char **argv)
{
  Options o;
  if (!ParseOptions(argc, argv, &o)) return 2;
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

  double engine = EngineUnpaced(root);
  double cp = External({"cp", src.string(), (work / "cp.rec").string()}, work / "cp.rec");
  double rsync = External({"rsync", "--inplace", src.string(), (work / "rsync.rec").string()}, work / "rsync.rec");
  std::printf("Throughput (each copy flushed to disk):\n");
  if (engine > 0) PrintRate("engine, no pause, 10 MiB blocks", size, engine);
  else std::printf("  engine: the copy failed\n");
  if (cp > 0) PrintRate("cp", size, cp);
  else std::printf("  cp: failed or not installed\n");
  if (rsync > 0) PrintRate("rsync --inplace", size, rsync);
  else std::printf("  rsync --inplace: failed or not installed\n");
  if (engine > 0 && cp > 0) std::printf("  engine / cp: %.2f\n", cp / engine);
  std::printf("  engine copy identical to the source: %s\n",
              SameContents(src, dstDir / "engine.rec") ? "yes" : "NO");
  fs::remove(dstDir / "engine.rec", ec);

  // continuing a half-copied file: a move compares the half it did not copy
  std::vector<double> copyRuns, moveRuns, ratios;
  for (int round = 0; round < 3; ++round) {
    double c = EngineResume(root, src, false), m = EngineResume(root, src, true);
    if (c > 0 && m > 0) {
      copyRuns.push_back(c);
      moveRuns.push_back(m);
      ratios.push_back(m / c);
    }
  }
  std::printf("Continuing a half-copied file, 3 interleaved rounds (each copy flushed):\n");
  if (ratios.empty()) {
    std::printf("  the resumed copies failed\n");
  } else {
    auto figures = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return std::vector<double>{v.front(), v[v.size() / 2], v.back()};
    };
    std::vector<double> c = figures(copyRuns), m = figures(moveRuns), q = figures(ratios);
    std::printf("  copy run (appends only):             min %.2f s, median %.2f s, max %.2f s\n", c[0], c[1], c[2]);
    std::printf("  move run (compares the half first):  min %.2f s, median %.2f s, max %.2f s\n", m[0], m[1], m[2]);
    std::printf("  move / copy: min %.2f, median %.2f, max %.2f\n", q[0], q[1], q[2]);
  }
  fs::remove(dstDir / "resume.rec", ec);
  fs::remove(work / "cp.rec", ec);
  fs::remove(work / "rsync.rec", ec);

  // the paced copy: the whole source, or its first pacedMiB as a file of its own
  uint64_t pacedBytes = o.pacedMiB && o.pacedMiB < o.sizeMiB ? o.pacedMiB * kMiB : size;
  if (pacedBytes == size) fs::rename(src, srcDir / "paced.rec", ec);
  else {
    fs::copy_file(src, srcDir / "paced.rec", ec);
    fs::resize_file(srcDir / "paced.rec", pacedBytes, ec);
  }
  Steps steps = EnginePaced(root);
  std::sort(steps.block.begin(), steps.block.end());
  std::printf("Engine steps at the service's pace (10 ticks between 2 MiB blocks, %llu MiB):\n",
              static_cast<unsigned long long>(pacedBytes / kMiB));
  if (steps.outcome != 1 || steps.block.empty()) {
    std::printf("  the paced copy failed (outcome %d)\n", steps.outcome);
  } else {
    size_t p99 = std::min(steps.block.size() - 1, (steps.block.size() * 99 + 99) / 100 - 1);
    std::printf("  %zu block steps: longest %.1f ms, 99th percentile %.1f ms, median %.1f ms\n",
                steps.block.size(), steps.block.back() * 1e3, steps.block[p99] * 1e3,
                steps.block[steps.block.size() / 2] * 1e3);
    std::printf("  final step (end found, flushed to disk): %.1f ms\n", steps.last * 1e3);
  }
  if (!o.keep) fs::remove_all(work, ec);
  return 0;
}
