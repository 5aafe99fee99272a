#include "components/prefs/write_count_recorder.h"

#include <memory>
#include <string>

#include "base/metrics/histogram.h"
#include "base/test/histogram_counts.h"
#include "base/time/clock.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class FakeClock : public Clock {
 public:
  explicit FakeClock(Time* now) : now_(now) {}
  Time Now() override { return *now_; }

 private:
  Time* now_;
};

constexpr TimeDelta kMinute = TimeDelta::FromSeconds(60);

TEST(WriteCountRecorderTest, ReportsOncePerIntervalWithZerosForQuietOnes) {
  struct Case {
    const char* name;
    int writes;             // before the clock moves
    TimeDelta quiet;        // then one more write
    int64_t count_samples;  // of `writes`
    int64_t zero_samples;
    // Then a report is due only if the last one moved the report time by
    // whole intervals, not to the time of the write.
    TimeDelta next_quiet;
    bool reported_again;
  } const kCases[] = {
      {"sixteen_minutes", 3, kMinute * 16, 1, 2,
       kMinute * 4 + TimeDelta::FromMicroseconds(1), true},
      {"exactly_interval", 2, kMinute * 5, 0, 0, TimeDelta::FromMicroseconds(1),
       true},
      {"just_over", 4, kMinute * 5 + TimeDelta::FromMicroseconds(1), 1, 0,
       kMinute * 5, true},
      {"no_writes", 0, kMinute * 11, 0, 2,
       kMinute * 4 + TimeDelta::FromMicroseconds(1), true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Time now = Time::FromInternalValue(13000000000000000);
    const std::string suffix = std::string("recorder_") + c.name + ".json";
    WriteCountRecorder recorder(TimeDelta::FromSeconds(10),
                                FilePath::FromUTF8(suffix),
                                std::make_unique<FakeClock>(&now));
    HistogramBase* histogram = GetExponentialHistogram(
        "Settings.JsonDataWriteCount." + suffix, 1, 30, 31,
        HistogramBase::MetricsTargeted);
    for (int i = 0; i < c.writes; ++i)
      recorder.RecordWriteOccurred();
    now += c.quiet;
    recorder.RecordWriteOccurred();
    if (c.writes != 0) {
      EXPECT_EQ(c.count_samples, CountOf(histogram, c.writes));
    }
    EXPECT_EQ(c.zero_samples, CountOf(histogram, 0));
    const int64_t total = TotalCountOf(histogram);
    EXPECT_EQ(c.count_samples + c.zero_samples, total);

    // The report time moved by whole intervals only.
    now += c.next_quiet;
    recorder.ReportOutstandingWrites();
    EXPECT_EQ(c.reported_again ? total + 1 : total, TotalCountOf(histogram));
  }
}

TEST(WriteCountRecorderTest, DestructionReportsAndClockJumpStaysBounded) {
  Time now = Time::FromInternalValue(13000000000000000);
  HistogramBase* histogram = GetExponentialHistogram(
      "Settings.JsonDataWriteCount.jump.json", 1, 30, 31, HistogramBase::MetricsTargeted);
  {
    WriteCountRecorder recorder(TimeDelta::FromSeconds(10),
                                FilePath(L"C:\\x\\jump.json"),
                                std::make_unique<FakeClock>(&now));
    recorder.RecordWriteOccurred();
    recorder.RecordWriteOccurred();
    // A clock set to the end of time must not record zeros for ages.
    now = Time::Max();
  }
  EXPECT_EQ(1, CountOf(histogram, 2));
  EXPECT_EQ(365 * 24 * 12, CountOf(histogram, 0));
}

}  // namespace
}  // namespace base
