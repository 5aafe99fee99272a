#include "components/prefs/write_count_recorder.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "base/metrics/histogram.h"
#include "components/prefs/prefs_histogram_suffix.h"

namespace base {

namespace {

constexpr char kWriteCountHistogramPrefix[] = "Settings.JsonDataWriteCount.";
// A clock set years ahead must not stall the store's thread recording
// zeros one by one: a year of empty intervals is recorded at most.
constexpr int64_t kMaxEmptyIntervalSamples = 365 * 24 * 12;

}  // namespace

WriteCountRecorder::WriteCountRecorder(TimeDelta commit_interval,
                                       const FilePath& path,
                                       std::unique_ptr<Clock> clock)
    : commit_interval_(commit_interval),
      path_(path),
      clock_(std::move(clock)),
      last_report_time_(clock_->Now()) {}

WriteCountRecorder::~WriteCountRecorder() {
  ReportOutstandingWrites();
}

void WriteCountRecorder::RecordWriteOccurred() {
  ReportOutstandingWrites();
  ++writes_since_last_report_;
}

void WriteCountRecorder::ReportOutstandingWrites() {
  const TimeDelta elapsed = clock_->Now() - last_report_time_;
  if (elapsed <= kReportInterval)
    return;
  const int64_t intervals =
      elapsed.InMicroseconds() / kReportInterval.InMicroseconds();
  // Null for a commit interval so long that at most one write fits.
  if (HistogramBase* histogram = GetHistogram()) {
    histogram->Add(writes_since_last_report_);
    // Each further interval that passed without a report had no writes.
    const int64_t empty_intervals =
        std::min(intervals - 1, kMaxEmptyIntervalSamples);
    for (int64_t i = 0; i < empty_intervals; ++i)
      histogram->Add(0);
  }
  writes_since_last_report_ = 0;
  last_report_time_ += kReportInterval * intervals;
}

HistogramBase* WriteCountRecorder::GetHistogram() {
  if (histogram_made_)
    return histogram_;
  histogram_made_ = true;
  // One bucket per possible count: at most one write per commit interval.
  const int64_t commit_us = std::max<int64_t>(commit_interval_.InMicroseconds(), 1);
  const int32_t max_writes = static_cast<int32_t>(std::min<int64_t>(
      kReportInterval.InMicroseconds() / commit_us,
      std::numeric_limits<int32_t>::max() - 1));
  histogram_ = GetExponentialHistogram(
      kWriteCountHistogramPrefix + GetPrefsHistogramSuffix(path_), 1,
      max_writes, max_writes + 1, HistogramBase::MetricsTargeted);
  return histogram_;
}

}  // namespace base
