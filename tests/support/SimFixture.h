// SimFixture.h -- what every test suite shares: a fresh receiver sandbox per
// test, direct toolkit calls as a plug-in, and runs of the receiver program.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Receiver.h"

namespace fs = std::filesystem;

// A test with its own sandbox and a live Receiver. SetUp creates a temporary
// folder, starts a receiver (virtual clock, terminal 0 open) whose root is
// <sandbox>/root, and attaches a host task whose current folder is "/mnt/hd"
// (TAPFS "/"), so the test body can call toolkit functions as a plug-in does.
// TearDown destroys the receiver, detaches what the test mounted inside the
// sandbox and removes the sandbox.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Override to change the configuration before the receiver starts.
  virtual void Configure(sim::Config &config) {}

  sim::Receiver &Rx() { return *receiver_; }
  const sim::Receiver &Rx() const { return *receiver_; }
  fs::path Host(std::string_view receiverPath) const;
  void WriteFile(std::string_view receiverPath, std::string_view bytes);  // creates parents
  std::string ReadFile(std::string_view receiverPath) const;              // "" when missing
  bool Exists(std::string_view receiverPath) const;
  void MakeDir(std::string_view receiverPath);  // with parents
  std::string Console() const;                  // raw output of terminal 0

  fs::path sandbox;   // temporary folder of this test; the receiver root is sandbox / "root"
  int hostSlot = -1;  // slot of the host task

 private:
  std::unique_ptr<sim::Receiver> receiver_;
};

// A temporary folder removed when the object goes away.
struct TempDir {
  TempDir();
  ~TempDir();
  fs::path path;
};

// A plug-in file built for the simulator, by file name ("Ferrox.tap").
fs::path TapFile(const std::string &name);
// The same plug-in built for the receiver (cross build only; "" otherwise):
// the product in tap/, stand-ins in tap-standin/.
fs::path ReceiverTapFile(const std::string &name);

// Runs the receiver program (under the emulator in a cross build).
struct RunResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};
RunResult RunReceiver(const std::vector<std::string> &args);
// The same with another copy of the program (an installed simulator).
RunResult RunReceiverAt(const fs::path &program, const std::vector<std::string> &args);
// The words that start the receiver program with these arguments (the
// emulator's first in a cross build).
std::vector<std::string> ReceiverCommandLine(const std::vector<std::string> &args);
std::vector<std::string> ReceiverCommandLineAt(const fs::path &program, const std::vector<std::string> &args);

// Regular files below a host folder, relative and sorted ("Series/Ep1.rec");
// none when the folder is missing.
std::vector<std::string> HostTree(const fs::path &folder);

// A host file's bytes, whole; "" when it cannot be read.
std::string ReadHostFile(const fs::path &file);

// Deterministic bytes that differ between seeds and between offsets, for
// file contents whose copies are compared.
std::string Pattern(size_t size, unsigned seed);

// A test name for the ctest list from a description: letters and digits
// stay, every run of other characters becomes one "_".
std::string CaseName(std::string_view what);

// How many random trials a tier makes: n, or the share of n in percent
// that FERROX_TRIAL_SHARE asks for, never fewer than `least`. The
// sanitizer leg runs a quarter of them: it looks for memory faults on every
// path, the plain leg for the moments that lose data.
int TrialCount(int n, int least = 1);
