// MoveSyncBench.cpp -- what a power cut's safety costs a move run: whole
// move runs of Ferrox.tap (virtual clock, so no pace waits) onto a folder of
// this disk, with the wall time spent in the syncs that keep a recording
// when the power goes (each copy and its folders synced before its source
// is deleted, the settings' folder after a save) and the run without them.
// Figures only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Receiver.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Round {
  double runMs;       // the whole run
  double syncMs;      // of it in OS_Fsync and OS_SyncDir
  uint64_t fsyncs;    // file syncs
  uint64_t dirSyncs;  // folder syncs
};

void WriteBytes(const fs::path &p, size_t size, unsigned seed)
{
  fs::create_directories(p.parent_path());
  std::vector<char> block(1 << 20);
  std::mt19937 rng(seed);
  for (char &c : block) c = static_cast<char>(rng());
  std::ofstream out(p, std::ios::binary);
  for (size_t done = 0; done < size; done += block.size())
    out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
}

// A fresh receiver root with `count` recordings of `mib` MiB to move.
void Prepare(const fs::path &dir, int count, size_t mib)
{
  fs::remove_all(dir);
  const fs::path moveTo = dir / "root/mnt/hd/DataFiles/MoveToNAS";
  for (int i = 0; i < count; i++) {
    const fs::path rec = moveTo / (i % 2 ? "Serie" : "") / ("Film" + std::to_string(i) + ".rec");
    WriteBytes(rec, mib << 20, static_cast<unsigned>(i + 1));
    std::string inf(376, '\0');
    std::ofstream(rec.string() + ".inf", std::ios::binary) << inf;
    WriteBytes(rec.string() + ".nav", 200'000, static_cast<unsigned>(i + 100));
  }
  fs::create_directories(dir / "share");
  fs::create_directories(dir / "root/mnt/hd/ProgramFiles/Settings/Ferrox");
  std::ofstream(dir / "root/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini")
      << "MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\nDestDir=/mnt/hd/DataFiles/NAS-Share\r\nMountedDirDest=1\r\n"
         "Move=1\r\nMountType=2\r\nCopySpeed=4\r\n";
  std::system("sync");
}

Round MoveRun(const fs::path &dir)
{
  sim::Config c;
  c.root = dir / "root";
  c.mounts.push_back({"/mnt/hd/DataFiles/NAS-Share", dir / "share", 0, -1});
  sim::Receiver rx(c);
  std::string tap = rx.Install(FERROX_TAP_FILE);
  const auto start = Clock::now();
  rx.Load(tap);
  rx.RunUntilUnloaded(3000);
  Round r{};
  r.runMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  r.syncMs = rx.CallMilliseconds("OS_Fsync") + rx.CallMilliseconds("OS_SyncDir");
  r.fsyncs = rx.CallCount("OS_Fsync");
  r.dirSyncs = rx.CallCount("OS_SyncDir");
  if (!fs::is_empty(dir / "root/mnt/hd/DataFiles/MoveToNAS/Serie") ||
      fs::exists(dir / "root/mnt/hd/DataFiles/MoveToNAS/Film0.rec"))
    std::fprintf(stderr, "bench_moves: the run did not move everything\n");
  return r;
}

double Median(std::vector<double> v)
{
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
  fs::path dir = fs::temp_directory_path() / "ferrox-bench-moves";
  int count = 8, rounds = 5;
  size_t mib = 32;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--dir") dir = argv[i + 1];
    else if (a == "--recordings") count = std::atoi(argv[i + 1]);
    else if (a == "--size-mib") mib = static_cast<size_t>(std::atol(argv[i + 1]));
    else if (a == "--rounds") rounds = std::atoi(argv[i + 1]);
  }
  std::printf(
      "Move runs of Ferrox.tap: %d recordings of %zu MiB with companions onto a folder of this disk\n"
      "(virtual clock: no pace waits), %d rounds\n",
      count, mib, rounds);
  std::vector<double> runs, syncs, without;
  Round last{};
  for (int i = 0; i < rounds; i++) {
    Prepare(dir, count, mib);
    last = MoveRun(dir);
    runs.push_back(last.runMs);
    syncs.push_back(last.syncMs);
    without.push_back(last.runMs - last.syncMs);
    std::printf("  round %d: run %.0f ms, of it %.0f ms in %llu file and %llu folder syncs\n", i + 1, last.runMs,
                last.syncMs, static_cast<unsigned long long>(last.fsyncs),
                static_cast<unsigned long long>(last.dirSyncs));
    std::fflush(stdout);
  }
  fs::remove_all(dir);
  const double run = Median(runs), sync = Median(syncs), before = Median(without);
  std::printf(
      "median: a move run takes %.0f ms with the syncs a power cut needs, %.0f ms without them;\n"
      "the syncs cost %.0f ms (%.1f %% of the run, %.1f ms a recording)\n",
      run, before, sync, run > 0 ? 100.0 * sync / run : 0.0, count > 0 ? sync / count : 0.0);
  return 0;
}
