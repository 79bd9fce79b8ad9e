// SimClock.cpp -- ticks, receiver time and the calendar.
//
// The day counting is the well-known era-based civil calendar computation
// (400-year eras of 146097 days), exact for the proleptic Gregorian calendar.
#include "SimClock.h"

#include <cmath>

#include <algorithm>
#include <thread>

namespace sim {

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day)
{
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t days, int64_t *year, unsigned *month, unsigned *day)
{
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

static bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool MakeMjd(int year, int month, int day, uint16_t *mjd)
{
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const int last = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  if (day > last) return false;
  const int64_t value = DaysFromCivil(year, month, day) + kMjdOf1970;
  if (value < 0 || value > 0xFFFF) return false;
  *mjd = static_cast<uint16_t>(value);
  return true;
}

void ExtractMjd(uint16_t mjd, int *year, int *month, int *day, int *weekDay)
{
  int64_t y;
  unsigned m, d;
  const int64_t days = static_cast<int64_t>(mjd) - kMjdOf1970;
  CivilFromDays(days, &y, &m, &d);
  *year = static_cast<int>(y);
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
  // MJD 0 (1858-11-17) was a Wednesday: (mjd + 2) % 7 counts from Monday.
  *weekDay = static_cast<int>((mjd + 2) % 7) + 1;
}

uint32_t PackedTimeOf(int64_t unixSeconds)
{
  int64_t days = unixSeconds >= 0 ? unixSeconds / 86400 : -((-unixSeconds + 86399) / 86400);
  int64_t rest = unixSeconds - days * 86400;
  int64_t mjd = days + kMjdOf1970;
  if (mjd < 0) return 0;
  if (mjd > 0xFFFF) return 0xFFFF173Bu;  // the last minute the format can hold
  return static_cast<uint32_t>(mjd) << 16 | static_cast<uint32_t>(rest / 3600) << 8 |
         static_cast<uint32_t>(rest % 3600 / 60);
}

SimClock::SimClock(ClockMode mode, int64_t startUnixSeconds, double uptimeAtStart)
    : mode_(mode), start_(std::chrono::steady_clock::now()), startUnix_(startUnixSeconds), uptime0_(uptimeAtStart)
{
}

uint32_t SimClock::Ticks() const
{
  if (mode_ == ClockMode::Virtual) return virtualTicks_;
  auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 10);
}

int64_t SimClock::LocalUnixSeconds() const { return startUnix_ + Ticks() / 100; }

void SimClock::Tick()
{
  if (mode_ == ClockMode::Virtual) {
    ++virtualTicks_;
    return;
  }
  // Real mode: rounds come at a steady 10-ms rate, aligned to tick boundaries.
  const uint32_t next = Ticks() + 1;
  std::this_thread::sleep_until(start_ + std::chrono::milliseconds(10ll * next));
}

void SimClock::Advance(uint32_t ticks)
{
  if (mode_ == ClockMode::Virtual) {
    virtualTicks_ += ticks;
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(10ll * ticks));
}

int64_t FirstTickAt(double seconds)
{
  if (!(seconds > 0)) return 0;
  if (seconds >= 4294967296.0 / 100) return INT64_MAX;
  auto t = static_cast<int64_t>(std::ceil(seconds * 100));
  while (t > 0 && static_cast<double>(t - 1) / 100.0 >= seconds) --t;
  while (static_cast<double>(t) / 100.0 < seconds) ++t;
  return t;
}

}  // namespace sim
