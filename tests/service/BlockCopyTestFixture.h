// BlockCopyTestFixture.h -- the fixture of the engine, log and entry tests:
// a SimTest whose service state starts clean, plus the log and file helpers.
//
// The service's globals live as long as the test process, and the engine's
// pacing ticks are private to FRX_Process. Each test therefore starts its
// receiver's virtual clock above every tick an earlier test in this process
// reached, so stale pacing values never hold a block back.
#pragma once

#include <sys/stat.h>
#include <utime.h>

#include <cstdint>
#include <algorithm>
#include <string>
#include <vector>

#include "Ferrox.h"
#include "LogTrace.h"
#include "SimFixture.h"

inline constexpr const char *kLogPath = TAPFS_ROOT SETTINGS_FOLDER "/" LOG_FILE;
inline constexpr const char *kSrcDir = DATAFILES_PREFIX "MoveToNAS";
inline constexpr const char *kDstDir = DATAFILES_PREFIX "NAS";

class ServiceTest : public SimTest {
 protected:
  void SetUp() override
  {
    SimTest::SetUp();
    TAP_Sleep(tickFloor_);
    CallTraceInit();
    CallTraceEnable(false);
    // an open transfer, the outcome and the move settings of an earlier
    // test are forgotten
    FRX_SetVerify(false);
    FRX_SetMountPoint("");
    FRX_Init(nullptr, nullptr, nullptr, nullptr);
    fs::remove_all(Host("/mnt/hd/ProgramFiles/Settings"));
    WriteLogFirstCall = true;
  }
  void TearDown() override
  {
    // whatever ran, every function it entered has left the call trace
    EXPECT_EQ(0u, CallLevel) << "a function of the service missed CallTraceExit";
    FRX_Close();
    tickFloor_ = Rx().Ticks() + 1000;
    SimTest::TearDown();
  }

  std::string Log() const { return ReadFile(kLogPath); }
  // A whole log line with this text (after the stamp), CR LF included.
  bool LogHas(const std::string &text) const { return Log().find(" " + text + "\r\n") != std::string::npos; }
  // The log's texts without their stamps, one per line.
  std::vector<std::string> LogLines() const
  {
    std::vector<std::string> lines;
    const std::string log = Log();
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(log.substr(at, end - at).substr(std::min<size_t>(20, end - at)));
    return lines;
  }
  std::string Src(const std::string &name) const { return std::string(kSrcDir) + "/" + name; }
  std::string Dst(const std::string &name) const { return std::string(kDstDir) + "/" + name; }

  // Steps the engine, one firmware round between calls, until an outcome.
  int Pump(int maxRounds = 100000)
  {
    for (int i = 0; i < maxRounds; ++i) {
      int r = FRX_Process();
      if (r != 0) return r;
      Rx().Step();
    }
    return 0;
  }
  // Steps until the destination holds at least <bytes>; false on an outcome.
  bool PumpUntil(qword bytes, int maxRounds = 100000)
  {
    for (int i = 0; i < maxRounds && FRXBytesCopied < bytes; ++i) {
      if (FRX_Process() != 0) return false;
      Rx().Step();
    }
    return FRXBytesCopied >= bytes;
  }
  time_t MTime(const std::string &receiverPath) const
  {
    struct stat st {};
    stat(Host(receiverPath).c_str(), &st);
    return st.st_mtime;
  }

 private:
  static inline dword tickFloor_ = 100;  // tick 0 would hold back the first block
};
