#ifndef BASE_METRICS_LINEAR_HISTOGRAM_H_
#define BASE_METRICS_LINEAR_HISTOGRAM_H_

#include <cstdint>
#include <map>
#include <string>

#include "base/metrics/histogram.h"

namespace base {

// A histogram of evenly spaced buckets, which may carry labels.
class LinearHistogram : public Histogram {
 public:
  // A label for the bucket that starts at `value`; a table of them ends
  // with a null label.
  struct BucketLabel {
    Sample value;
    const char* label;
  };

  using Histogram::Histogram;
  ~LinearHistogram() override;

  // Boundaries 0, evenly spaced values from `minimum` to `maximum`, then
  // INT32_MAX, and the checksum.
  static void InitializeBucketRanges(Sample minimum, Sample maximum,
                                     BucketRanges* ranges);

  void SetBucketLabels(const BucketLabel* labels);

  HistogramType GetHistogramType() const override;
  bool PrintEmptyBucket(uint32_t index) const override;
  double GetBucketSize(Count current, uint32_t index) const override;
  std::string GetAsciiBucketRange(uint32_t index) const override;

 private:
  std::map<Sample, std::string> labels_;
};

// A two-bucket linear histogram (minimum 1, maximum 2); only rebuilt from
// persistent records.
class BooleanHistogram : public LinearHistogram {
 public:
  using LinearHistogram::LinearHistogram;

  HistogramType GetHistogramType() const override;
};

}  // namespace base

#endif  // BASE_METRICS_LINEAR_HISTOGRAM_H_
