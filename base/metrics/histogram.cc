#include "base/metrics/histogram.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/metrics/histogram_registry.h"

namespace base {

namespace {

constexpr int64_t kLargestMaximum = 0x7FFFFFFE;
constexpr int64_t kMostBuckets = 16383;
constexpr int32_t kTimeBuckets = 50;

struct Layout {
  int64_t minimum;
  int64_t maximum;
  int64_t bucket_count;
};

// Besides the clamps callers rely on, keeps the layout buildable: the
// boundaries from minimum to maximum must be distinct, and there are at least
// the underflow, one regular and the overflow bucket.
Layout ClampLayout(int64_t minimum, int64_t maximum, int64_t bucket_count) {
  Layout layout;
  layout.maximum = std::clamp<int64_t>(maximum, 2, kLargestMaximum);
  layout.minimum = std::clamp<int64_t>(minimum, 1, layout.maximum - 1);
  layout.bucket_count = std::clamp<int64_t>(
      bucket_count, 3,
      std::min(kMostBuckets, layout.maximum - layout.minimum + 2));
  return layout;
}

// Boundaries 0, then bucket_count - 1 values from minimum to maximum, then
// INT32_MAX.
std::vector<int32_t> LinearRanges(const Layout& layout) {
  const int64_t steps = layout.bucket_count - 2;
  const int64_t span = layout.maximum - layout.minimum;
  std::vector<int32_t> ranges = {0};
  for (int64_t i = 0; i <= steps; ++i)
    ranges.push_back(static_cast<int32_t>(layout.minimum + i * span / steps));
  ranges.push_back(std::numeric_limits<int32_t>::max());
  return ranges;
}

// Like LinearRanges, with boundaries spaced evenly on a logarithmic scale;
// where rounding would repeat a boundary, it moves up by one, as far as the
// boundaries still to come leave room.
std::vector<int32_t> ExponentialRanges(const Layout& layout) {
  const int64_t steps = layout.bucket_count - 2;
  const double log_minimum = std::log(static_cast<double>(layout.minimum));
  const double log_span =
      std::log(static_cast<double>(layout.maximum)) - log_minimum;
  std::vector<int32_t> ranges = {0, static_cast<int32_t>(layout.minimum)};
  for (int64_t i = 1; i < steps; ++i) {
    const int64_t ideal =
        std::llround(std::exp(log_minimum + log_span * i / steps));
    const int64_t highest = layout.maximum - (steps - i);
    const int64_t boundary =
        std::clamp<int64_t>(ideal, int64_t{ranges.back()} + 1, highest);
    ranges.push_back(static_cast<int32_t>(boundary));
  }
  ranges.push_back(static_cast<int32_t>(layout.maximum));
  ranges.push_back(std::numeric_limits<int32_t>::max());
  return ranges;
}

using RangesMaker = std::vector<int32_t> (*)(const Layout& layout);

HistogramBase* GetOrCreate(StringSlice name, RangesMaker make,
                           const Layout& layout, int32_t flags) {
  if (HistogramBase* existing = HistogramRegistry::Find(name))
    return existing;
  return HistogramRegistry::Register(
      std::make_unique<Histogram>(name.AsString(), make(layout), flags));
}

}  // namespace

HistogramBase* GetLinearHistogram(StringSlice name, int32_t maximum,
                                  int32_t bucket_count) {
  return GetOrCreate(name, &LinearRanges, ClampLayout(1, maximum, bucket_count),
                     kBaseHistogramFlags);
}

HistogramBase* GetExponentialHistogram(StringSlice name, int32_t minimum,
                                       int32_t maximum, int32_t bucket_count,
                                       int32_t flags) {
  return GetOrCreate(name, &ExponentialRanges,
                     ClampLayout(minimum, maximum, bucket_count), flags);
}

HistogramBase* GetTimeHistogram(StringSlice name, int64_t minimum_ms,
                                int64_t maximum_ms) {
  return GetOrCreate(name, &ExponentialRanges,
                     ClampLayout(minimum_ms, maximum_ms, kTimeBuckets),
                     kBaseHistogramFlags);
}

Histogram::Histogram(std::string name, std::vector<int32_t> ranges,
                     int32_t flags)
    : HistogramBase(std::move(name)),
      ranges_(std::move(ranges)),
      flags_(flags),
      counts_(std::make_unique<std::atomic<int64_t>[]>(ranges_.size() - 1)) {}

void Histogram::AddSample(int32_t value) {
  counts_[BucketIndex(value)].fetch_add(1, std::memory_order_relaxed);
}

int64_t Histogram::GetCount(int32_t value) const {
  return counts_[BucketIndex(value)].load(std::memory_order_relaxed);
}

int64_t Histogram::TotalCount() const {
  int64_t total = 0;
  for (size_t i = 0; i < bucket_count(); ++i)
    total += counts_[i].load(std::memory_order_relaxed);
  return total;
}

size_t Histogram::BucketIndex(int32_t value) const {
  // Negative samples go with the underflow, INT32_MAX with the overflow.
  const auto above = std::upper_bound(ranges_.begin(), ranges_.end(), value);
  const size_t index =
      above == ranges_.begin() ? 0 : above - ranges_.begin() - 1;
  return std::min(index, bucket_count() - 1);
}

}  // namespace base
