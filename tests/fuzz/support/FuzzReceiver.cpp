// FuzzReceiver.cpp -- the receiver behind every fuzz target, and the
// plug-in id the fuzz executables carry (tests/support has its own).
#include "FuzzReceiver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "tap_header.h"

// the fuzz executables act as a plug-in of their own
extern "C" const dword __tap_ud__ = 0x8E0A42F3;
extern "C" const char __tap_program_name[64] = "Ferrox Fuzz";

namespace {

namespace fs = std::filesystem;

// Owns the sandbox folder and the receiver living in it; destroyed at exit.
struct FuzzHost {
  fs::path sandbox;
  std::unique_ptr<sim::Receiver> receiver;

  FuzzHost()
  {
    std::string pattern = (fs::temp_directory_path() / "ferrox-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      perror("FuzzReceiver: no temporary folder");
      std::abort();
    }
    sandbox = pattern;
    sim::Config config;
    config.root = sandbox / "root";
    // One terminal that opens: every log line then costs one open instead
    // of twenty failed ones, which made logging inputs several times slower.
    config.openTerminals = {0};
    fs::create_directories(config.root);
    receiver = std::make_unique<sim::Receiver>(config);
    receiver->AttachHostTask();
  }

  ~FuzzHost()
  {
    receiver.reset();
    std::error_code ignored;
    fs::remove_all(sandbox, ignored);
  }
};

}  // namespace

sim::Receiver &FuzzReceiver()
{
  static FuzzHost host;
  // what the previous input wrote to the terminal is not kept
  host.receiver->ClearTerminalOutput();
  return *host.receiver;
}

std::unique_ptr<char[]> FuzzText(const uint8_t *data, size_t size)
{
  std::unique_ptr<char[]> text(new char[size + 3]());
  if (size > 0) memcpy(text.get(), data, size);
  return text;
}
