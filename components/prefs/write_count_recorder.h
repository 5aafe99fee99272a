#ifndef COMPONENTS_PREFS_WRITE_COUNT_RECORDER_H_
#define COMPONENTS_PREFS_WRITE_COUNT_RECORDER_H_

#include <memory>

#include "base/files/file_path.h"
#include "base/time/clock.h"
#include "base/time/time.h"
#include "base/time/time_delta.h"

namespace base {

class HistogramBase;

// Counts the writes of one preferences file and records, once per report
// interval, how many there were in "Settings.JsonDataWriteCount." + the
// file's suffix; an interval without writes records 0. Lives on the store's
// thread.
class WriteCountRecorder {
 public:
  static constexpr TimeDelta kReportInterval = TimeDelta::FromSeconds(300);

  WriteCountRecorder(TimeDelta commit_interval, const FilePath& path,
                     std::unique_ptr<Clock> clock);
  WriteCountRecorder(const WriteCountRecorder&) = delete;
  WriteCountRecorder& operator=(const WriteCountRecorder&) = delete;
  // Reports what is outstanding.
  ~WriteCountRecorder();

  void RecordWriteOccurred();
  // Records the counts of the report intervals that ended since the last
  // report.
  void ReportOutstandingWrites();

 private:
  // Made on the first report and kept; null when refused.
  HistogramBase* GetHistogram();

  const TimeDelta commit_interval_;
  const FilePath path_;
  const std::unique_ptr<Clock> clock_;
  Time last_report_time_;
  int writes_since_last_report_ = 0;
  bool histogram_made_ = false;
  HistogramBase* histogram_ = nullptr;
};

}  // namespace base

#endif  // COMPONENTS_PREFS_WRITE_COUNT_RECORDER_H_
