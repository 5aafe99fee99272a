#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/strings/string_slice.h"

namespace base {

// The flags of the base library's linear and time histograms.
inline constexpr int32_t kBaseHistogramFlags = 1;

// Each getter returns the process-wide histogram of `name`, made and
// registered on first use and never null. Parameters are clamped into a valid
// layout (minimum at least 1, maximum above it and at most 0x7FFFFFFE, at
// most 16383 buckets and no more than the values between them allow); a name
// already registered returns the existing histogram whatever its layout.
HistogramBase* GetLinearHistogram(StringSlice name, int32_t maximum,
                                  int32_t bucket_count);
HistogramBase* GetExponentialHistogram(StringSlice name, int32_t minimum,
                                       int32_t maximum, int32_t bucket_count,
                                       int32_t flags);
// Bounds and samples in milliseconds; 50 exponential buckets.
HistogramBase* GetTimeHistogram(StringSlice name, int64_t minimum_ms,
                                int64_t maximum_ms);

// A histogram of fixed buckets. Bucket i counts the samples in
// [ranges[i], ranges[i + 1]): bucket 0 those below the minimum (negative ones
// too), the last those from the maximum on.
class Histogram : public HistogramBase {
 public:
  Histogram(std::string name, std::vector<int32_t> ranges, int32_t flags);

  void AddSample(int32_t value) override;
  int64_t GetCount(int32_t value) const override;
  int64_t TotalCount() const override;

  const std::vector<int32_t>& ranges() const { return ranges_; }
  int32_t minimum() const { return ranges_[1]; }
  int32_t maximum() const { return ranges_[ranges_.size() - 2]; }
  size_t bucket_count() const { return ranges_.size() - 1; }
  int32_t flags() const { return flags_; }

 private:
  size_t BucketIndex(int32_t value) const;

  // bucket_count() + 1 boundaries: 0, minimum, ..., maximum, INT32_MAX.
  const std::vector<int32_t> ranges_;
  const int32_t flags_;
  const std::unique_ptr<std::atomic<int64_t>[]> counts_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_
