#ifndef BASE_METRICS_CUSTOM_HISTOGRAM_H_
#define BASE_METRICS_CUSTOM_HISTOGRAM_H_

#include "base/metrics/histogram.h"

namespace base {

// A histogram of boundaries chosen one by one; only rebuilt from persistent
// records. Its minimum and maximum are boundaries 1 and bucket count - 1.
class CustomHistogram : public Histogram {
 public:
  using Histogram::Histogram;

  HistogramType GetHistogramType() const override;
  // Appends boundaries 1 to bucket count - 1.
  void SerializeInfo(BinaryWriter* writer) const override;
  // The count itself: the widths are arbitrary.
  double GetBucketSize(Count current, uint32_t index) const override;
};

}  // namespace base

#endif  // BASE_METRICS_CUSTOM_HISTOGRAM_H_
