#ifndef BASE_METRICS_SAMPLE_MAP_H_
#define BASE_METRICS_SAMPLE_MAP_H_

#include <cstdint>
#include <map>
#include <memory>

#include "base/metrics/histogram_samples.h"

namespace base {

// One count per distinct value, for sparse histograms. The map is not
// thread-safe: its owner serialises calls (sum and redundant count are
// atomic regardless).
class SampleMap : public HistogramSamples {
 public:
  explicit SampleMap(uint64_t id);
  ~SampleMap() override;

  void Accumulate(HistogramBase::Sample value,
                  HistogramBase::Count count) override;
  HistogramBase::Count GetCount(HistogramBase::Sample value) const override;
  HistogramBase::Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  bool AddSubtractImpl(SampleCountIterator* iterator,
                       Operation operation) override;

 private:
  std::map<HistogramBase::Sample, HistogramBase::Count> counts_;
};

// Walks (value, value + 1, count) triples in value order, skipping zero
// counts, over any map from value to count or to a pointer at the count.
template <class Map>
class SampleMapIterator : public SampleCountIterator {
 public:
  explicit SampleMapIterator(const Map& counts)
      : iterator_(counts.begin()), end_(counts.end()) {
    SkipEmpty();
  }

  bool Done() const override { return iterator_ == end_; }
  void Next() override {
    ++iterator_;
    SkipEmpty();
  }
  void Get(HistogramBase::Sample* minimum, int64_t* maximum,
           HistogramBase::Count* count) const override {
    if (minimum)
      *minimum = iterator_->first;
    if (maximum)
      *maximum = int64_t{iterator_->first} + 1;
    if (count)
      *count = CountOf(iterator_->second);
  }

 private:
  static HistogramBase::Count CountOf(HistogramBase::Count count) {
    return count;
  }
  static HistogramBase::Count CountOf(const HistogramBase::Count* count) {
    return *count;
  }

  void SkipEmpty() {
    while (iterator_ != end_ && CountOf(iterator_->second) == 0)
      ++iterator_;
  }

  typename Map::const_iterator iterator_;
  typename Map::const_iterator end_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_MAP_H_
