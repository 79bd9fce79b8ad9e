// WebLoadBench.cpp -- the web view under load: a copy run of Ferrox.tap in
// `receiver --web` while 20 clients poll the page's state and screen and
// 10 keys a second arrive, for a minute (--seconds). Prints the requests
// answered, the longest gap between two idle rounds the receiver measured,
// the service's longest event, and whether every copied byte is identical.
// Figures only; it fails only when the run cannot be made at all.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "SimFixture.h"
#include "WebRun.h"

namespace {

void WriteBytes(const fs::path &file, size_t size, unsigned seed)
{
  fs::create_directories(file.parent_path());
  std::mt19937 gen(seed);
  std::vector<uint32_t> block(1 << 18);
  std::ofstream out(file, std::ios::binary);
  for (size_t done = 0; done < size;) {
    for (uint32_t &w : block) w = gen();
    size_t n = std::min(size - done, block.size() * 4);
    out.write(reinterpret_cast<const char *>(block.data()), static_cast<std::streamsize>(n));
    done += n;
  }
}

std::string Figure(const std::string &out, const std::string &pattern)
{
  std::smatch m;
  return std::regex_search(out, m, std::regex(pattern)) ? std::string(m[1]) : "?";
}

}  // namespace

int main(int argc, char **argv)
{
  double seconds = 60;
  int clients = 20, keysPerSecond = 10, megabytes = 240;
  fs::path dir = fs::temp_directory_path() / "ferrox-web-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--seconds") seconds = std::atof(argv[i + 1]);
    else if (a == "--clients") clients = std::atoi(argv[i + 1]);
    else if (a == "--size-mb") megabytes = std::atoi(argv[i + 1]);
    else if (a == "--dir") dir = argv[i + 1];
  }
  fs::remove_all(dir);
  const fs::path root = dir / "root", share = dir / "share";
  const fs::path source = root / "mnt/hd/DataFiles/MoveToNAS";
  const std::vector<std::string> names = {"Tatort.rec", "Serie/Folge 1.rec", "Serie/Folge 2.rec", "Konzert.rec"};
  for (size_t i = 0; i < names.size(); ++i) {
    WriteBytes(source / names[i], static_cast<size_t>(megabytes) * 1000000 / names.size(), 11 + i);
    std::ofstream(source / (names[i] + ".inf"), std::ios::binary) << std::string(376, '\0');
  }
  fs::create_directories(share);
  fs::create_directories(root / "mnt/hd/ProgramFiles/Settings/Ferrox");
  std::ofstream(root / "mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini", std::ios::binary)
      << "MoveDir=/mnt/hd/DataFiles/MoveToNAS\r\nDestDir=/mnt/hd/DataFiles/NAS-Share\r\nMountedDirDest=1\r\n"
         "NASBootTime=0\r\nCopySpeed=2\r\nMove=0\r\n";
  fs::copy_file(TapFile("Ferrox.tap"), root / "mnt/hd/ProgramFiles/Ferrox.tap");

  WebRun web;
  std::string why;
  if (!web.Start({"--root", root.string(), "--quiet", "--console", "none", "--mount",
                  "/mnt/hd/DataFiles/NAS-Share=" + share.string(), "--load", "/mnt/hd/ProgramFiles/Ferrox.tap"},
                 dir, &why)) {
    std::fprintf(stderr, "bench_web: %s\n", why.c_str());
    return 2;
  }
  std::printf(
      "web view under load: %d clients polling (state 5/s, screen 1/s each), %d keys/s, %.0f s, "
      "copying %d MB at CopySpeed=2\n",
      clients, keysPerSecond, seconds, megabytes);
  std::atomic<bool> done{false};
  std::atomic<uint64_t> answered{0}, refused{0}, failed{0}, bytes{0};
  std::vector<std::thread> crowd;
  for (int c = 0; c < clients; ++c)
    crowd.emplace_back([&, c] {
      httplib::Client client = web.Client();
      for (int n = c; !done; ++n) {
        auto r = client.Get(n % 5 == 0 ? "/screen.png" : "/state");
        if (!r) ++failed;
        else if (r->status != 200) ++refused;
        else {
          ++answered;
          bytes += r->body.size();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
    });
  crowd.emplace_back([&] {
    httplib::Client client = web.Client();
    const char *keys[] = {"Up", "Down", "Left", "Right", "1", "Menu", "Exit"};
    for (int n = 0; !done; ++n) {
      int status = Post(client, std::string("/key?name=") + keys[n % 7]);
      if (status < 0) ++failed;
      else if (status != 202) ++refused;
      else ++answered;
      std::this_thread::sleep_for(std::chrono::milliseconds(1000 / keysPerSecond));
    }
  });
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  done = true;
  for (std::thread &t : crowd) t.join();
  // the copy goes on to its end without the crowd
  httplib::Client client = web.Client();
  WaitUntil(
      [&] {
        auto r = client.Get("/state");
        return r && r->body.find("\"plugins\":[]") != std::string::npos;
      },
      600);
  const int status = web.Stop();
  const std::string out = web.Output();
  int identical = 0;
  for (const std::string &n : names)
    identical += ReadHostFile(source / n) == ReadHostFile(share / n) && fs::exists(share / n);
  std::printf("  requests answered            %llu (%.1f MB), refused %llu, failed %llu\n",
              static_cast<unsigned long long>(answered.load()), bytes / 1e6,
              static_cast<unsigned long long>(refused.load()), static_cast<unsigned long long>(failed.load()));
  std::printf("  longest gap between two idle rounds  %s ms (a round is 10 ms)\n",
              Figure(out, "longest gap between two idle rounds: ([0-9.]+) ms").c_str());
  std::printf("  Ferrox.tap's longest event   %s ms\n",
              Figure(out, "Ferrox.tap: [0-9]+ event handler calls, [0-9.]+ ms in all, longest ([0-9.]+) ms").c_str());
  std::printf("  recordings identical         %d of %zu; receiver exit status %d\n", identical, names.size(), status);
  std::printf("  %s\n", Figure(out, "(Summary: [^\\n]*)").c_str());
  fs::remove_all(dir);
  return 0;
}
