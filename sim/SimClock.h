// SimClock.h -- the receiver's one clock: 10-ms ticks, local date and time,
// uptime, and the Modified Julian Date conversions.
//
// Virtual mode: ticks advance only when the simulator says so (one per round,
// n for a sleep), so runs are exact and never wait. Real mode: ticks follow
// the host's steady clock. Local time is the start date plus the ticks, kept
// as seconds since 1970 (local time treated as UTC), for every MJD 0..65535.
#pragma once

#include <chrono>
#include <cstdint>

#include "Receiver.h"

namespace sim {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int64_t *year, unsigned *month, unsigned *day);

constexpr int64_t kMjdOf1970 = 40587;  // MJD of 1970-01-01

// MJD of a date; false when the date is no calendar date or outside 0..65535.
bool MakeMjd(int year, int month, int day, uint16_t *mjd);
// Date of an MJD, with the weekday 1 (Monday) .. 7 (Sunday).
void ExtractMjd(uint16_t mjd, int *year, int *month, int *day, int *weekDay);
// Packed receiver time (MJD << 16 | hour << 8 | minute) of seconds since 1970;
// clamped to MJD 0..65535.
uint32_t PackedTimeOf(int64_t unixSeconds);

// The first tick t whose time t / 100 s is at or after `seconds` (0 for
// none after 0), exactly as comparing the clock's seconds would say; what
// is asked every round or at every file call then compares integers.
int64_t FirstTickAt(double seconds);

class SimClock {
 public:
  SimClock(ClockMode mode, int64_t startUnixSeconds, double uptimeAtStart);

  ClockMode mode() const { return mode_; }
  uint32_t Ticks() const;  // 10-ms ticks since start
  double Seconds() const { return Ticks() / 100.0; }
  int64_t LocalUnixSeconds() const;  // receiver local time, as UTC
  double Uptime() const { return uptime0_ + Seconds(); }

  void Tick();                   // one firmware round: +1 tick / wait for the next tick
  void Advance(uint32_t ticks);  // a sleep: virtual jump / real sleep

 private:
  ClockMode mode_;
  uint32_t virtualTicks_ = 0;
  std::chrono::steady_clock::time_point start_;
  int64_t startUnix_;
  double uptime0_;
};

}  // namespace sim
