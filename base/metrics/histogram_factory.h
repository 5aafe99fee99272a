#ifndef BASE_METRICS_HISTOGRAM_FACTORY_H_
#define BASE_METRICS_HISTOGRAM_FACTORY_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/strings/string_slice.h"

namespace base {

class BucketRanges;

// One get-or-create request of a bucketed histogram: finds the histogram
// registered under the name, or builds one (in the installed persistent
// allocator when it can, else on the heap) and registers it.
class HistogramFactory {
 public:
  HistogramFactory(HistogramType type, StringSlice name,
                   HistogramBase::Sample minimum, HistogramBase::Sample maximum,
                   uint32_t bucket_count, int32_t flags);
  virtual ~HistogramFactory();

  // Null for fewer than 3 buckets or a maximum not above the minimum, and
  // for a registered histogram of another shape.
  HistogramBase* Build();

 protected:
  // Bucket count + 1 boundaries, filled by the kind's rule.
  virtual std::unique_ptr<BucketRanges> CreateRanges() = 0;
  virtual std::unique_ptr<HistogramBase> HeapAlloc(
      const BucketRanges* ranges) = 0;
  virtual void FillHistogram(HistogramBase* histogram);

  HistogramBase::Sample minimum() const { return minimum_; }
  HistogramBase::Sample maximum() const { return maximum_; }
  uint32_t bucket_count() const { return bucket_count_; }
  const std::string& name() const { return name_; }

 private:
  HistogramBase* BuildAndRegister();

  const HistogramType type_;
  const std::string name_;
  const HistogramBase::Sample minimum_;
  const HistogramBase::Sample maximum_;
  const uint32_t bucket_count_;
  const int32_t flags_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_FACTORY_H_
