#ifndef BASE_TIME_TIME_H_
#define BASE_TIME_TIME_H_

#include <compare>
#include <cstdint>

#include "base/time/time_delta.h"

typedef struct _FILETIME FILETIME;

namespace base {

// Wall-clock time in microseconds since 1601-01-01 00:00 UTC (the FILETIME
// epoch). 0 is the null time and INT64_MAX the maximum.
class Time {
 public:
  // A calendar breakdown in the field order of SYSTEMTIME.
  struct Exploded {
    int32_t year = 0;
    int32_t month = 0;        // 1-12
    int32_t day_of_week = 0;  // 0 is Sunday
    int32_t day_of_month = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t millisecond = 0;
  };

  // Microseconds from the FILETIME epoch to the Unix epoch.
  static constexpr int64_t kUnixEpochOffset = 11644473600000000;

  constexpr Time() = default;

  // The tick clock's reading laid over a system-clock base that is renewed
  // after 60 s of use, so it is cheap and as fine as the tick clock.
  static Time Now();
  // Renews the base from the system clock and returns its time.
  static Time NowFromSystemClock();
  static Time FromFileTime(const FILETIME& file_time);
  // Converts local-time fields. False, with `time` null, when a field lies
  // outside 0..65535 or Windows rejects the date.
  static bool FromExploded(const Exploded& exploded, Time* time);

  static constexpr Time Max() { return Time(TimeDelta::Max()); }
  static constexpr Time FromInternalValue(int64_t us) {
    return Time(TimeDelta::FromMicroseconds(us));
  }
  constexpr int64_t ToInternalValue() const { return us_.InMicroseconds(); }
  constexpr bool is_null() const { return us_.is_zero(); }
  constexpr bool is_max() const { return us_.is_max(); }

  // Breaks the time down in UTC or, when `local`, in the local time zone.
  // False, with every field 0, for a negative time or one Windows cannot
  // represent.
  bool Explode(bool local, Exploded* exploded) const;
  // Seconds since the Unix epoch; INT64_MAX for times too late to convert.
  int64_t ToTimeT() const;
  // Milliseconds since the Unix epoch; INT64_MAX for the maximum time.
  int64_t ToUnixMilliseconds() const;

  constexpr Time operator+(TimeDelta delta) const { return Time(us_ + delta); }
  constexpr Time operator-(TimeDelta delta) const { return Time(us_ - delta); }
  constexpr TimeDelta operator-(Time other) const { return us_ - other.us_; }
  constexpr Time& operator+=(TimeDelta delta) { return *this = *this + delta; }
  constexpr Time& operator-=(TimeDelta delta) { return *this = *this - delta; }

  friend constexpr auto operator<=>(const Time&, const Time&) = default;

 private:
  explicit constexpr Time(TimeDelta us) : us_(us) {}

  TimeDelta us_;
};

}  // namespace base

#endif  // BASE_TIME_TIME_H_
