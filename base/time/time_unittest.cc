#include "base/time/time.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <tuple>

#include "base/time/default_clock.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr int64_t kMax = INT64_MAX;
constexpr int64_t kUnixEpoch = Time::kUnixEpochOffset;

Time T(int64_t us) {
  return Time::FromInternalValue(us);
}

auto Fields(const Time::Exploded& e) {
  return std::make_tuple(e.year, e.month, e.day_of_week, e.day_of_month,
                         e.hour, e.minute, e.second, e.millisecond);
}

Time SystemNow() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return Time::FromFileTime(now);
}

TEST(TimeTest, FromFileTime) {
  struct Case {
    DWORD high;
    DWORD low;
    int64_t expected_us;
  };
  const Case kCases[] = {
      {0, 0, 0},
      {0, 9, 0},
      {0, 19, 1},
      {1, 0, 429496729},
      {0x7FFFFFFF, 0xFFFFFFFF, kMax / 10},
      // Above 2^63 the count still divides as unsigned.
      {0xFFFFFFFF, 0xFFFFFFFE, 1844674407370955161},
      {0xFFFFFFFF, 0xFFFFFFFF, kMax},
  };
  for (const Case& c : kCases) {
    FILETIME file_time{c.low, c.high};
    EXPECT_EQ(c.expected_us, Time::FromFileTime(file_time).ToInternalValue())
        << std::hex << c.high << ":" << c.low;
  }
  EXPECT_TRUE(Time::FromFileTime(FILETIME{0xFFFFFFFF, 0xFFFFFFFF}).is_max());
}

TEST(TimeTest, UnixConversionBoundaries) {
  struct Case {
    int64_t us;
    int64_t time_t_value;
    int64_t unix_ms;
  };
  const Case kCases[] = {
      {0, 0, 0},
      {kUnixEpoch, 0, 0},
      {kUnixEpoch + 1999999, 1, 1999},
      {kUnixEpoch - 1500000, -1, -1500},
      {kUnixEpoch - 999, 0, 0},
      {1, -11644473599, -11644473599999},
      {kMax - kUnixEpoch - 1, (kMax - kUnixEpoch - 1 - kUnixEpoch) / 1000000,
       (kMax - kUnixEpoch - 1 - kUnixEpoch) / 1000},
      {kMax - kUnixEpoch, kMax, (kMax - 2 * kUnixEpoch) / 1000},
      {kMax - 1, kMax, (kMax - 1 - kUnixEpoch) / 1000},
      {kMax, kMax, kMax},
      // The earliest time saturates instead of overflowing.
      {-kMax, -kMax / 1000000, -kMax / 1000},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.time_t_value, T(c.us).ToTimeT()) << c.us;
    EXPECT_EQ(c.unix_ms, T(c.us).ToUnixMilliseconds()) << c.us;
  }
}

TEST(TimeTest, UnixConversionsAgreeWithTheRuntime) {
  // Each reading is bracketed by the runtime's, so a pause between them
  // cannot fail the test; the slack covers the clocks' granularity.
  const int64_t seconds_before = static_cast<int64_t>(std::time(nullptr));
  const int64_t seconds = Time::Now().ToTimeT();
  const int64_t seconds_after = static_cast<int64_t>(std::time(nullptr));
  EXPECT_GE(seconds, seconds_before - 1);
  EXPECT_LE(seconds, seconds_after + 1);

  const auto runtime_ms = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const int64_t ms_before = runtime_ms();
  const int64_t ms = Time::Now().ToUnixMilliseconds();
  const int64_t ms_after = runtime_ms();
  EXPECT_GE(ms, ms_before - 100);
  EXPECT_LE(ms, ms_after + 100);
}

// Calendar facts, not Windows output: 1601-01-01 was a Monday, 1970-01-01 a
// Thursday, 2000-02-29 and 2038-01-19 Tuesdays, 9999-12-31 a Friday.
TEST(TimeTest, ExplodeUtcGivesTheCalendarDate) {
  struct Case {
    int64_t us;
    Time::Exploded expected;
  };
  const Case kCases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {kUnixEpoch, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {12596301296789000, {2000, 2, 2, 29, 12, 34, 56, 789}},
      {12596301296789999, {2000, 2, 2, 29, 12, 34, 56, 789}},
      {13791957248000000, {2038, 1, 2, 19, 3, 14, 8, 0}},
      {265046774399999000, {9999, 12, 5, 31, 23, 59, 59, 999}},
      // The latest time FILETIME can hold.
      {kMax / 10, {30828, 9, 4, 14, 2, 48, 5, 477}},
  };
  for (const Case& c : kCases) {
    Time::Exploded exploded;
    ASSERT_TRUE(T(c.us).Explode(false, &exploded)) << c.us;
    EXPECT_EQ(Fields(c.expected), Fields(exploded)) << c.us;
  }
}

TEST(TimeTest, ExplodeFailsCleanlyOutsideTheFileTimeRange) {
  const int64_t kUnrepresentable[] = {-1, -kMax, kMax / 10 + 1, kMax - 1,
                                      kMax};
  for (int64_t us : kUnrepresentable) {
    for (bool local : {false, true}) {
      Time::Exploded exploded{1, 2, 3, 4, 5, 6, 7, 8};
      EXPECT_FALSE(T(us).Explode(local, &exploded)) << us;
      EXPECT_EQ(Fields(Time::Exploded()), Fields(exploded)) << us;
    }
  }
}

// Windows' own path from a FILETIME to local fields.
Time::Exploded WindowsLocalExplode(Time time) {
  const uint64_t hundreds_of_ns = static_cast<uint64_t>(time.ToInternalValue()) * 10;
  FILETIME utc{static_cast<DWORD>(hundreds_of_ns),
               static_cast<DWORD>(hundreds_of_ns >> 32)};
  FILETIME local;
  SYSTEMTIME fields;
  EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_TRUE(FileTimeToSystemTime(&local, &fields));
  return Time::Exploded{fields.wYear,   fields.wMonth,  fields.wDayOfWeek,
                        fields.wDay,    fields.wHour,   fields.wMinute,
                        fields.wSecond, fields.wMilliseconds};
}

TEST(TimeTest, LocalExplodeMatchesWindowsNearNow) {
  // FileTimeToLocalFileTime applies today's bias, so compare only with times
  // close to now, where the bias is the same.
  const Time now = Time::Now();
  const Time kTimes[] = {now, now - TimeDelta::FromSeconds(3600),
                         now + TimeDelta::FromMilliseconds(123456)};
  for (Time time : kTimes) {
    Time::Exploded exploded;
    ASSERT_TRUE(time.Explode(true, &exploded));
    EXPECT_EQ(Fields(WindowsLocalExplode(time)), Fields(exploded));
  }
}

TEST(TimeTest, LocalExplodeAndFromExplodedRoundTrip) {
  // Winter and summer noons (UTC), so that any daylight-saving rule of the
  // local zone is exercised without landing in a repeated hour.
  const Time kTimes[] = {
      Time::Now(),
      T(13358260800123000),  // 2024-04-22 12:00:00.123
      T(13366209600000000),  // 2024-07-23 12:00:00
      T(13350398400999000),  // 2024-01-22 12:00:00.999
      T(kUnixEpoch),
  };
  for (Time time : kTimes) {
    Time::Exploded exploded;
    ASSERT_TRUE(time.Explode(true, &exploded));
    Time round_trip;
    ASSERT_TRUE(Time::FromExploded(exploded, &round_trip));
    EXPECT_EQ(time.ToInternalValue() / 1000 * 1000,
              round_trip.ToInternalValue());
  }
}

TEST(TimeTest, FromExplodedRejectsOutOfRangeFields) {
  const Time::Exploded kValid{2001, 7, 0, 15, 10, 20, 30, 400};
  Time time;
  ASSERT_TRUE(Time::FromExploded(kValid, &time));
  int32_t Time::Exploded::*const kFields[] = {
      &Time::Exploded::year,   &Time::Exploded::month,
      &Time::Exploded::day_of_week, &Time::Exploded::day_of_month,
      &Time::Exploded::hour,   &Time::Exploded::minute,
      &Time::Exploded::second, &Time::Exploded::millisecond};
  for (auto field : kFields) {
    for (int32_t bad : {70000, -1, 65536}) {
      Time::Exploded exploded = kValid;
      exploded.*field = bad;
      time = T(1);
      EXPECT_FALSE(Time::FromExploded(exploded, &time)) << bad;
      EXPECT_TRUE(time.is_null());
    }
  }
  // Fields that fit 16 bits but name no date are refused by Windows.
  const Time::Exploded kNoDate[] = {
      {2001, 13, 0, 1, 0, 0, 0, 0},
      {2001, 2, 0, 30, 0, 0, 0, 0},
      {2001, 1, 0, 1, 24, 0, 0, 0},
      {2001, 1, 0, 1, 0, 0, 0, 1000},
  };
  for (const Time::Exploded& exploded : kNoDate) {
    time = T(1);
    EXPECT_FALSE(Time::FromExploded(exploded, &time)) << exploded.month;
    EXPECT_TRUE(time.is_null());
  }
}

TEST(TimeTest, NowFollowsTheSystemClock) {
  const Time before = SystemNow();
  const Time now = Time::Now();
  const Time after = SystemNow();
  const TimeDelta tolerance = TimeDelta::FromMilliseconds(500);
  EXPECT_GE(now, before - tolerance);
  EXPECT_LE(now, after + tolerance);

  const Time synced = Time::NowFromSystemClock();
  EXPECT_GE(synced, before - tolerance);
  EXPECT_LE(synced, SystemNow() + tolerance);

  DefaultClock clock;
  EXPECT_LE((clock.Now() - SystemNow()).InMilliseconds(), 500);
}

}  // namespace
}  // namespace base
