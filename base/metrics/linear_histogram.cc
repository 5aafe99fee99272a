#include "base/metrics/linear_histogram.h"

#include "base/metrics/bucket_ranges.h"

namespace base {

LinearHistogram::~LinearHistogram() = default;

// static
void LinearHistogram::InitializeBucketRanges(Sample minimum, Sample maximum,
                                             BucketRanges* ranges) {
  const size_t bucket_count = ranges->bucket_count();
  ranges->set_range(0, 0);
  ranges->set_range(bucket_count, kSampleMax);
  for (size_t i = 1; i < bucket_count; ++i) {
    const double boundary =
        (static_cast<double>(bucket_count - 1 - i) * minimum +
         static_cast<double>(i - 1) * maximum) /
        static_cast<double>(bucket_count - 2);
    ranges->set_range(i, static_cast<Sample>(boundary + 0.5));
  }
  ranges->ResetChecksum();
}

void LinearHistogram::SetBucketLabels(const BucketLabel* labels) {
  for (; labels && labels->label; ++labels)
    labels_[labels->value] = labels->label;
}

HistogramType LinearHistogram::GetHistogramType() const {
  return LINEAR_HISTOGRAM;
}

bool LinearHistogram::PrintEmptyBucket(uint32_t index) const {
  return labels_.find(GetRange(index)) == labels_.end();
}

double LinearHistogram::GetBucketSize(Count current, uint32_t index) const {
  const double width =
      static_cast<double>(GetRange(index + 1)) - GetRange(index);
  return current / width;
}

std::string LinearHistogram::GetAsciiBucketRange(uint32_t index) const {
  auto found = labels_.find(GetRange(index));
  if (found != labels_.end())
    return found->second;
  return Histogram::GetAsciiBucketRange(index);
}

HistogramType BooleanHistogram::GetHistogramType() const {
  return BOOLEAN_HISTOGRAM;
}

}  // namespace base
