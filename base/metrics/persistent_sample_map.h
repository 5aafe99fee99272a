#ifndef BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
#define BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "base/metrics/histogram_samples.h"

namespace base {

class PersistentHistogramAllocator;
struct SampleRecordList;

// A sample map whose counts live in sample records of a persistent segment,
// one per value, so that other processes see them. Values recorded
// elsewhere are imported on demand. When no record can be made a value
// counts in a heap cell instead. Its owner serialises calls.
class PersistentSampleMap : public HistogramSamples {
 public:
  // Takes `id` when the metadata's is 0.
  PersistentSampleMap(uint64_t id, PersistentHistogramAllocator* allocator,
                      HistogramSampleMetadata* meta);
  ~PersistentSampleMap() override;

  void Accumulate(HistogramBase::Sample value,
                  HistogramBase::Count count) override;
  HistogramBase::Count GetCount(HistogramBase::Sample value) const override;
  HistogramBase::Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  bool AddSubtractImpl(SampleCountIterator* iterator,
                       Operation operation) override;

 private:
  // The count of `value` after importing as far as needed, or null.
  HistogramBase::Count* FindCount(HistogramBase::Sample value) const;
  // Makes a record when there is none.
  HistogramBase::Count* FindOrMakeCount(HistogramBase::Sample value);
  // Imports records up to `value` (returning its count) or, with
  // `everything`, all of them (returning null).
  HistogramBase::Count* ImportSamples(HistogramBase::Sample value,
                                      bool everything) const;

  PersistentHistogramAllocator* const allocator_;
  mutable std::map<HistogramBase::Sample, HistogramBase::Count*> counts_;
  std::deque<HistogramBase::Count> heap_cells_;
  mutable SampleRecordList* records_ = nullptr;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
