// WorkListBench.cpp -- the longest event of the copy service while it lists
// many recordings: a copy run of Ferrox.tap (virtual clock) over 1,000
// recordings in a few folders, with the wall time of its longest event
// handler call and of the events of the run in all. On the receiver's CPU
// every millisecond here is several: an event that grows with the number of
// recordings freezes the picture. Figures only.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Receiver.h"

namespace fs = std::filesystem;

namespace {

void Prepare(const fs::path &dir, int count)
{
  fs::remove_all(dir);
  const fs::path moveTo = dir / "root/mnt/hd/DataFiles/MoveToNAS";
  const char *folders[] = {"", "Serie", "Filme", "Serie/Staffel 2"};
  for (int i = 0; i < count; i++) {
    const fs::path rec = moveTo / folders[i % 4] / ("Aufnahme " + std::to_string(i) + ".rec");
    fs::create_directories(rec.parent_path());
    std::ofstream(rec, std::ios::binary) << std::string(512, char('a' + i % 26));
    std::ofstream(rec.string() + ".inf", std::ios::binary) << std::string(376, '\0');
    // stamps in no order: the sort has work to do
    fs::last_write_time(rec, fs::file_time_type::clock::now() - std::chrono::minutes((i * 7919) % 100000));
  }
  fs::create_directories(dir / "share");
  fs::create_directories(dir / "root/mnt/hd/ProgramFiles/Settings/Ferrox");
  std::ofstream(dir / "root/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini")
      << "MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\nDestDir=/mnt/hd/DataFiles/NAS-Share\r\nMountedDirDest=1\r\n"
         "Move=0\r\nMountType=2\r\nCopySpeed=4\r\nNASBootTime=0\r\nShowResult=0\r\n";
}

}  // namespace

int main(int argc, char **argv)
{
  fs::path dir = fs::temp_directory_path() / "ferrox-bench-worklist";
  int count = 1000, rounds = 3;
  std::string tapFile = FERROX_TAP_FILE;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--dir") dir = argv[i + 1];
    else if (a == "--recordings") count = std::atoi(argv[i + 1]);
    else if (a == "--rounds") rounds = std::atoi(argv[i + 1]);
    else if (a == "--tap") tapFile = argv[i + 1];
  }
  std::vector<double> longest, total;
  std::vector<uint64_t> calls;
  for (int r = 0; r < rounds; r++) {
    Prepare(dir, count);
    sim::Config c;
    c.root = dir / "root";
    c.mounts.push_back({"/mnt/hd/DataFiles/NAS-Share", dir / "share", 0, -1});
    sim::Receiver rx(c);
    rx.Load(rx.Install(tapFile));
    rx.RunUntilUnloaded(200000);
    for (const sim::HandlerTimes &h : rx.EventHandlerTimes()) {
      longest.push_back(h.longestMs);
      total.push_back(h.totalMs);
      calls.push_back(h.calls);
    }
    size_t copied = 0;
    for (const auto &e : fs::recursive_directory_iterator(dir / "share")) copied += e.path().extension() == ".rec";
    if (copied < static_cast<size_t>(std::min(count, 1000)))
      std::fprintf(stderr, "bench_worklist: the run copied %zu of %d recordings\n", copied, count);
  }
  std::sort(longest.begin(), longest.end());
  std::sort(total.begin(), total.end());
  if (longest.empty()) {
    std::fprintf(stderr, "bench_worklist: the plug-in ran no event\n");
    return 1;
  }
  std::printf(
      "work list of %d recordings (copy run, virtual clock, %d rounds): longest event of Ferrox.tap "
      "%.1f ms (median; %.1f to %.1f), %llu events %.0f ms in all\n",
      count, rounds, longest[longest.size() / 2], longest.front(), longest.back(),
      static_cast<unsigned long long>(calls.front()), total[total.size() / 2]);
  fs::remove_all(dir);
  return 0;
}
