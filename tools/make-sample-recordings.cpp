// make-sample-recordings.cpp -- fills a receiver root with sample recordings
// for the demo: a source folder with a sub-folder, names with umlauts and
// " (DEC)", one recording without its ".nav", and a network-share folder that
// already holds a different file under one of the names.
//
// usage: make-sample-recordings RECEIVER_ROOT SHARE_FOLDER [MEGABYTES]
// MEGABYTES (default 300) is spread over the recordings. Every recording has
// an ".inf" whose byte 16 is 0 (free-to-air) and, but for one, a ".nav".
#include <sys/stat.h>
#include <utime.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Sample {
  const char *path;  // below the source folder
  int share;         // parts of the total size
  int day;           // December 2015: the oldest is copied first
  bool nav;          // with a ".nav"
};

// clang-format off
const Sample kSamples[] = {
    {"Tagesschau.rec", 3, 1, true},
    {"Serien/Tatort - Folge 1.rec", 2, 2, true},
    {"Serien/Tatort - Folge 2.rec", 2, 3, true},
    {"Müller & Söhne.rec", 2, 4, true},
    {"Der Film (DEC).rec", 3, 5, true},
    {"Konzert.rec", 2, 6, true},
    {"Nachrichten.mpg", 1, 7, false},
};
// clang-format on

// Bytes that look like a transport stream: 188-byte packets starting with
// the sync byte, the rest pseudo-random.
void WriteStream(const fs::path &path, uint64_t size, uint64_t seed)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> block(188 * 5577);  // about 1 MB
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (uint64_t written = 0; written < size;) {
    for (size_t i = 0; i < block.size(); i++) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      block[i] = i % 188 == 0 ? 0x47 : static_cast<char>(x);
    }
    uint64_t n = std::min<uint64_t>(block.size(), size - written);
    out.write(block.data(), static_cast<std::streamsize>(n));
    written += n;
  }
  if (!out) {
    std::fprintf(stderr, "make-sample-recordings: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

void SetTime(const fs::path &path, int day)
{
  std::tm t{};
  t.tm_year = 2015 - 1900;
  t.tm_mon = 11;
  t.tm_mday = day;
  t.tm_hour = 20;
  t.tm_min = 15;
  t.tm_isdst = -1;
  time_t when = std::mktime(&t);
  struct utimbuf times = {when, when};
  utime(path.c_str(), &times);
}

// A recording with its companions, all with the same time.
void WriteRecording(const fs::path &main, uint64_t size, uint64_t seed, int day, bool nav)
{
  fs::create_directories(main.parent_path());
  WriteStream(main, size, seed);
  std::string inf(376, '\0');
  for (size_t i = 0; i < inf.size(); i++) inf[i] = static_cast<char>((seed * 31 + i * 7) & 0x7F);
  inf[16] = 0;  // free-to-air
  fs::path infPath = main.string() + ".inf";
  std::ofstream(infPath, std::ios::binary) << inf;
  SetTime(main, day);
  SetTime(infPath, day);
  if (nav) {
    fs::path navPath = main.string() + ".nav";
    WriteStream(navPath, size / 500 + 4096, seed + 99);
    SetTime(navPath, day);
  }
}

// The name padded with blanks to width characters (UTF-8 counted as such,
// so that the sizes line up in the listing).
std::string Padded(const std::string &name, size_t width)
{
  size_t chars = 0;
  for (unsigned char c : name)
    if ((c & 0xC0) != 0x80) chars++;
  return name + std::string(chars < width ? width - chars : 0, ' ');
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc < 3) {
    std::fprintf(stderr, "usage: make-sample-recordings RECEIVER_ROOT SHARE_FOLDER [MEGABYTES]\n");
    return 2;
  }
  const fs::path root = argv[1], share = argv[2];
  const uint64_t megabytes = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 300;
  const fs::path source = root / "mnt/hd/DataFiles/MoveToNAS";
  int parts = 0;
  for (const Sample &s : kSamples) parts += s.share;
  uint64_t seed = 1;
  for (const Sample &s : kSamples) {
    uint64_t size = megabytes * 1000000 / parts * s.share;
    WriteRecording(source / s.path, size, seed++, s.day, s.nav);
    std::printf("  %s %6.1f MB%s\n", Padded(s.path, 32).c_str(), size / 1e6, s.nav ? "" : "  (no .nav)");
  }
  // a different recording of the same name is already on the share
  fs::create_directories(share);
  WriteStream(share / "Konzert.rec", 2000000, 4242);
  std::printf("  share already holds a different Konzert.rec\n");
  return 0;
}
