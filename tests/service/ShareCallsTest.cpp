// ShareCallsTest.cpp -- the copy engine against a share that stops
// answering: its calls on the destination go to the worker, an engine step
// whose call outlasts the event is taken up on later events, a silence
// longer than the engine waits ends the transfer, and no answer is ever
// taken for an outcome (a missing file, a difference) that would let a
// destination be rewritten.
#include <cerrno>
#include <chrono>
#include <thread>

#include "BlockCopyTestFixture.h"

namespace {

class SilentShareTest : public ServiceTest {
 protected:
  void Configure(sim::Config &config) override
  {
    fs::create_directories(sandbox / "share");
    config.mounts.push_back({kDstDir, sandbox / "share", 0, -1});
  }
  void TearDown() override
  {
    // the share answers again and the worker comes back before the
    // receiver it waits in goes
    Rx().SetMountSilence(kDstDir, -1, 0);
    EXPECT_TRUE(WorkerBack());
    ServiceTest::TearDown();
  }
  // The worker is a thread: it needs real time to come back, however fast
  // the rounds run on the virtual clock.
  bool WorkerBack()
  {
    for (int i = 0; i < 5000 && SC_State() != SC_Idle; i++) {
      Rx().Step();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return SC_State() == SC_Idle;
  }
  // The share silent from now on for `seconds`.
  void Silence(double seconds) { Rx().SetMountSilence(kDstDir, Rx().RunSeconds(), seconds); }
};

TEST_F(SilentShareTest, ATransferWaitsForAShortSilenceAndCompletesIdentical)
{
  struct Case {
    const char *what;
    bool move;  // a move's copy is synced before it finishes
    qword silentFrom;
    double seconds;
    // clang-format off
  } cases[] = {
      {"copy, in the middle", false, 300'000, 3},
      {"move, in the middle", true, 300'000, 5},
      {"move, before its sync", true, 1'000'000, 2},
  };
  // clang-format on
  for (const Case &c : cases) {
    const std::string bytes = Pattern(1'000'000, 3);
    WriteFile(Src("film.rec"), bytes);
    fs::remove(Host(Dst("film.rec")));
    FRX_SetVerify(c.move);
    ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir)) << c.what;
    FRX_SetSpeed(0, 0x10000);
    ASSERT_TRUE(PumpUntil(c.silentFrom)) << c.what;
    Silence(c.seconds);
    EXPECT_EQ(1, Pump()) << c.what << "\n" << Log();
    EXPECT_TRUE(ReadFile(Dst("film.rec")) == bytes) << c.what;
    FRX_SetVerify(false);
  }
  EXPECT_TRUE(LogHas("FRX: the destination did not answer within 300 ms")) << Log();
}

TEST_F(SilentShareTest, ASilenceLongerThanTheEngineWaitsEndsTheTransferAndTheNextOneContinues)
{
  const std::string bytes = Pattern(1'000'000, 4);
  WriteFile(Src("film.rec"), bytes);
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  FRX_SetSpeed(0, 0x10000);
  ASSERT_TRUE(PumpUntil(400'000));
  Silence(70);
  EXPECT_EQ(-3, Pump());
  EXPECT_TRUE(LogHas("FRX: the destination has not answered for 60 seconds, transfer terminated.")) << Log();
  EXPECT_EQ(SC_Silent, SC_State());
  // while the call is out, every call fails at once instead of waiting
  struct stat64 st;
  errno = 0;
  EXPECT_EQ(-1, SC_Lstat64(Dst("film.rec").c_str(), &st));
  EXPECT_EQ(ETIMEDOUT, errno);
  EXPECT_EQ(nullptr, SC_Fopen64(Dst("other.rec").c_str(), "w+"));
  EXPECT_FALSE(fs::exists(Host(Dst("other.rec"))));
  // the share answers again: the partial copy is continued, not rewritten
  Rx().SetMountSilence(kDstDir, -1, 0);
  ASSERT_TRUE(WorkerBack());
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  EXPECT_TRUE(LogHas("FRX: continuing at '" + std::to_string(fs::file_size(Host(Dst("film.rec")))) + "'") ||
              fs::file_size(Host(Dst("film.rec"))) == 0)
      << Log();
  EXPECT_EQ(1, Pump());
  EXPECT_TRUE(ReadFile(Dst("film.rec")) == bytes);
}

// A destination that does not answer is neither missing nor different: the
// resume rule would rewrite it from the start for either.
TEST_F(SilentShareTest, NoAnswerIsNeverTakenForAMissingOrDifferentDestination)
{
  const std::string bytes = Pattern(600'000, 5);
  WriteFile(Src("film.rec"), bytes);
  WriteFile(Dst("film.rec"), bytes.substr(0, 300'000));
  Silence(100);
  EXPECT_EQ(-3, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir));
  EXPECT_NE(SC_Idle, SC_State());
  Rx().SetMountSilence(kDstDir, -1, 0);
  ASSERT_TRUE(WorkerBack());
  // the partial copy is as it was, and is continued once the share answers
  EXPECT_EQ(300'000u, fs::file_size(Host(Dst("film.rec"))));
  ASSERT_EQ(0, FRX_Init("film.rec", "film.rec", kSrcDir, kDstDir)) << Log();
  EXPECT_TRUE(LogHas("FRX: continuing at '300000'")) << Log();
  EXPECT_EQ(1, Pump());
  EXPECT_TRUE(ReadFile(Dst("film.rec")) == bytes);
}

}  // namespace
