// ClockTest.cpp -- the receiver's clock: calendar conversions against the
// standard library's calendar, receiver time, virtual and real ticks.
#include <chrono>
#include <cmath>

#include "SimFixture.h"
#include "tap_api.h"

namespace {

namespace chr = std::chrono;

// Every MJD the API can carry, against std::chrono's proleptic calendar.
TEST(MjdCalendar, EveryMjdAgreesWithStdChrono)
{
  const chr::sys_days mjdZero = chr::year{1858} / chr::November / 17;
  int mismatches = 0;
  for (unsigned mjd = 0; mjd <= 0xFFFF; ++mjd) {
    const chr::sys_days day = mjdZero + chr::days{mjd};
    const chr::year_month_day ymd{day};
    word y = 0;
    byte m = 0, d = 0, wd = 0;
    TAP_ExtractMjd(static_cast<word>(mjd), &y, &m, &d, &wd);
    const unsigned isoWeekday = chr::weekday{day}.iso_encoding();  // 1 Monday .. 7 Sunday
    const bool same = y == static_cast<int>(ymd.year()) && m == static_cast<unsigned>(ymd.month()) &&
                      d == static_cast<unsigned>(ymd.day()) && wd == isoWeekday;
    const word back = TAP_MakeMjd(static_cast<word>(static_cast<int>(ymd.year())),
                                  static_cast<byte>(static_cast<unsigned>(ymd.month())),
                                  static_cast<byte>(static_cast<unsigned>(ymd.day())));
    if ((!same || back != mjd) && ++mismatches <= 5)
      ADD_FAILURE() << "MJD " << mjd << ": got " << y << "-" << int(m) << "-" << int(d) << " weekday " << int(wd)
                    << ", back " << back << "; expected " << static_cast<int>(ymd.year()) << "-"
                    << static_cast<unsigned>(ymd.month()) << "-" << static_cast<unsigned>(ymd.day()) << " weekday "
                    << isoWeekday;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(MjdCalendar, NoCalendarDateGivesZero)
{
  struct Case {
    int y, m, d;
  } cases[] = {{2015, 0, 20}, {2015, 13, 1}, {2015, 2, 29},  {2016, 2, 30},
               {2015, 4, 31}, {2015, 1, 0},  {1858, 11, 16}, {2038, 4, 23}};
  for (const Case &c : cases) EXPECT_EQ(TAP_MakeMjd(c.y, c.m, c.d), 0) << c.y << "-" << c.m << "-" << c.d;
  EXPECT_EQ(TAP_MakeMjd(2016, 2, 29), 57447);
  EXPECT_EQ(TAP_MakeMjd(2038, 4, 22), 65535);
}

class ClockTest : public SimTest {};

TEST_F(ClockTest, ReceiverTimeStartsAsConfiguredAndFollowsTheTicks)
{
  word mjd;
  byte h, m, s;
  TAP_GetTime(&mjd, &h, &m, &s);
  EXPECT_EQ(mjd, 57376);
  EXPECT_EQ(h, 21);
  EXPECT_EQ(m, 5);
  EXPECT_EQ(s, 9);
  TAP_Delay(6000 + 51 * 100);  // one minute and 51 seconds
  TAP_GetTime(&mjd, &h, &m, &s);
  EXPECT_EQ(h * 3600 + m * 60 + s, 21 * 3600 + 7 * 60 + 0);
  EXPECT_EQ(Rx().Ticks(), 11100u);
  TAP_Sleep(3 * 3600 * 100);  // past midnight
  TAP_GetTime(&mjd, &h, &m, &s);
  EXPECT_EQ(mjd, 57377);
  EXPECT_EQ(h, 0);
}

TEST_F(ClockTest, VirtualRoundsAreExactlyOneTickAndDoNotWait)
{
  const auto wall = chr::steady_clock::now();
  for (int i = 0; i < 18000; ++i) Rx().Step();
  EXPECT_EQ(Rx().Ticks(), 18000u);
  EXPECT_EQ(TAP_GetTick(), 18000u);
  EXPECT_DOUBLE_EQ(Rx().RunSeconds(), 180.0);
  EXPECT_DOUBLE_EQ(Rx().Uptime(), 480.0);
  EXPECT_LT(chr::steady_clock::now() - wall, chr::seconds(5)) << "a virtual clock never sleeps";
  // no time is no round, also for what is no number
  for (double none : {0.0, -3.0, std::nan("")}) Rx().RunFor(none);
  EXPECT_EQ(Rx().Ticks(), 18000u);
}

TEST_F(ClockTest, SystemProcIsOneRoundAndSleepAdvancesWithoutEvents)
{
  static int idles;
  idles = 0;
  int slot = Rx().AttachHostTask("/mnt/hd", [](word ev, TapParam p1, TapParam) -> TapParam {
    if (ev == EVT_IDLE) ++idles;
    return p1;
  });
  ASSERT_GE(slot, 0);
  Rx().SetCurrentTask(hostSlot);
  TAP_SystemProc();
  EXPECT_EQ(idles, 1);
  EXPECT_EQ(TAP_GetTick(), 1u);
  TAP_Sleep(250);
  TAP_Delay(250);
  EXPECT_EQ(idles, 1) << "sleeping sends no events";
  EXPECT_EQ(TAP_GetTick(), 501u);
}

class RealClockTest : public SimTest {
  void Configure(sim::Config &c) override { c.clock = sim::ClockMode::Real; }
};

TEST_F(RealClockTest, TicksFollowTheWallClock)
{
  const auto wall = chr::steady_clock::now();
  Rx().RunFor(0.3);
  const double elapsed = chr::duration<double>(chr::steady_clock::now() - wall).count();
  EXPECT_GE(elapsed, 0.29);
  EXPECT_LT(elapsed, 3.0);
  // the ticks are the wall time since the receiver started, in 10 ms
  EXPECT_GE(Rx().Ticks(), 30u);
  EXPECT_LE(Rx().Ticks(), 30u + static_cast<unsigned>(elapsed * 100));
}

}  // namespace
