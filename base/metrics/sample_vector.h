#ifndef BASE_METRICS_SAMPLE_VECTOR_H_
#define BASE_METRICS_SAMPLE_VECTOR_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/metrics/histogram_samples.h"

namespace base {

class BucketRanges;

// One 32-bit count per bucket of a `BucketRanges`. Counts, sum and redundant
// count change only by atomic additions, so any thread may record without a
// lock; a reader sees each count whole, the set possibly mid-update.
class SampleVector : public HistogramSamples {
 public:
  // `ranges` must outlive the set and hold at least one bucket.
  SampleVector(uint64_t id, const BucketRanges* ranges);
  ~SampleVector() override;

  // Final: histograms record through it without a virtual call.
  void Accumulate(HistogramBase::Sample value,
                  HistogramBase::Count count) final;
  HistogramBase::Count GetCount(HistogramBase::Sample value) const override;
  HistogramBase::Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

  // The bucket of `value`, which must lie within the boundaries.
  size_t GetBucketIndex(HistogramBase::Sample value) const;
  HistogramBase::Count GetCountAtIndex(size_t index) const;
  const BucketRanges* bucket_ranges() const { return ranges_; }

 protected:
  // Counts and metadata owned by someone else (persistent memory).
  SampleVector(uint64_t id, int32_t* counts, HistogramSampleMetadata* meta,
               const BucketRanges* ranges);

  bool AddSubtractImpl(SampleCountIterator* iterator,
                       Operation operation) override;

 private:
  std::vector<int32_t> local_counts_;
  int32_t* const counts_;
  const size_t counts_size_;
  const BucketRanges* const ranges_;
};

// A `SampleVector` over counts and metadata in a persistent segment, which
// it does not own; the segment must outlive it.
class PersistentSampleVector : public SampleVector {
 public:
  PersistentSampleVector(uint64_t id, int32_t* counts,
                         HistogramSampleMetadata* meta,
                         const BucketRanges* ranges);
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_VECTOR_H_
