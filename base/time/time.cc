#include "base/time/time.h"

#include <windows.h>

#include <limits>

#include "base/time/wall_clock.h"

namespace base {

namespace {

constexpr int64_t kMaxInt64 = std::numeric_limits<int64_t>::max();
// At or above this a time maps to INT64_MAX seconds rather than converting.
constexpr int64_t kLatestConvertibleToTimeT = kMaxInt64 - Time::kUnixEpochOffset;

// Each field must fit the 16-bit field of a SYSTEMTIME.
bool ToSystemTimeField(int32_t value, WORD* field) {
  if (value < 0 || value > 0xFFFF)
    return false;
  *field = static_cast<WORD>(value);
  return true;
}

bool ToSystemTime(const Time::Exploded& exploded, SYSTEMTIME* system_time) {
  return ToSystemTimeField(exploded.year, &system_time->wYear) &&
         ToSystemTimeField(exploded.month, &system_time->wMonth) &&
         ToSystemTimeField(exploded.day_of_week, &system_time->wDayOfWeek) &&
         ToSystemTimeField(exploded.day_of_month, &system_time->wDay) &&
         ToSystemTimeField(exploded.hour, &system_time->wHour) &&
         ToSystemTimeField(exploded.minute, &system_time->wMinute) &&
         ToSystemTimeField(exploded.second, &system_time->wSecond) &&
         ToSystemTimeField(exploded.millisecond, &system_time->wMilliseconds);
}

Time::Exploded FromSystemTime(const SYSTEMTIME& system_time) {
  return Time::Exploded{system_time.wYear,   system_time.wMonth,
                        system_time.wDayOfWeek, system_time.wDay,
                        system_time.wHour,   system_time.wMinute,
                        system_time.wSecond, system_time.wMilliseconds};
}

}  // namespace

// static
Time Time::Now() {
  return WallClock::Now();
}

// static
Time Time::NowFromSystemClock() {
  return WallClock::Rebase();
}

// static
Time Time::FromFileTime(const FILETIME& file_time) {
  if (file_time.dwLowDateTime == 0xFFFFFFFF &&
      file_time.dwHighDateTime == 0xFFFFFFFF) {
    return Max();
  }
  uint64_t hundreds_of_ns =
      (static_cast<uint64_t>(file_time.dwHighDateTime) << 32) |
      file_time.dwLowDateTime;
  return FromInternalValue(static_cast<int64_t>(hundreds_of_ns / 10));
}

// static
bool Time::FromExploded(const Exploded& exploded, Time* time) {
  *time = Time();
  SYSTEMTIME local_time;
  SYSTEMTIME utc_time;
  FILETIME file_time;
  if (!ToSystemTime(exploded, &local_time) ||
      !TzSpecificLocalTimeToSystemTime(nullptr, &local_time, &utc_time) ||
      !SystemTimeToFileTime(&utc_time, &file_time)) {
    return false;
  }
  *time = FromFileTime(file_time);
  return true;
}

bool Time::Explode(bool local, Exploded* exploded) const {
  *exploded = Exploded();
  int64_t us = ToInternalValue();
  // FILETIME counts 100 ns units: beyond this the conversion would overflow.
  if (us < 0 || us > kMaxInt64 / 10)
    return false;
  uint64_t hundreds_of_ns = static_cast<uint64_t>(us) * 10;
  FILETIME file_time{static_cast<DWORD>(hundreds_of_ns),
                     static_cast<DWORD>(hundreds_of_ns >> 32)};
  SYSTEMTIME utc_time;
  if (!FileTimeToSystemTime(&file_time, &utc_time))
    return false;
  SYSTEMTIME result = utc_time;
  if (local && !SystemTimeToTzSpecificLocalTime(nullptr, &utc_time, &result))
    return false;
  *exploded = FromSystemTime(result);
  return true;
}

int64_t Time::ToTimeT() const {
  if (is_null())
    return 0;
  if (ToInternalValue() >= kLatestConvertibleToTimeT)
    return kMaxInt64;
  // Saturating, so the earliest representable times cannot overflow.
  TimeDelta since_unix_epoch =
      us_ - TimeDelta::FromMicroseconds(kUnixEpochOffset);
  return since_unix_epoch.InMicroseconds() / 1000000;
}

int64_t Time::ToUnixMilliseconds() const {
  if (is_null())
    return 0;
  if (is_max())
    return kMaxInt64;
  TimeDelta since_unix_epoch =
      us_ - TimeDelta::FromMicroseconds(kUnixEpochOffset);
  return since_unix_epoch.InMicroseconds() / 1000;
}

}  // namespace base
