#include "base/metrics/sample_map.h"

namespace base {

SampleMap::SampleMap(uint64_t id) : HistogramSamples(id, nullptr) {}

SampleMap::~SampleMap() = default;

void SampleMap::Accumulate(HistogramBase::Sample value,
                           HistogramBase::Count count) {
  counts_[value] += count;
  IncreaseSumAndCount(int64_t{value} * count, count);
}

HistogramBase::Count SampleMap::GetCount(HistogramBase::Sample value) const {
  auto found = counts_.find(value);
  return found == counts_.end() ? 0 : found->second;
}

HistogramBase::Count SampleMap::TotalCount() const {
  HistogramBase::Count total = 0;
  for (const auto& [value, count] : counts_)
    total += count;
  return total;
}

std::unique_ptr<SampleCountIterator> SampleMap::Iterator() const {
  return std::make_unique<SampleMapIterator<decltype(counts_)>>(counts_);
}

bool SampleMap::AddSubtractImpl(SampleCountIterator* iterator,
                                Operation operation) {
  for (; !iterator->Done(); iterator->Next()) {
    HistogramBase::Sample minimum = 0;
    int64_t maximum = 0;
    HistogramBase::Count count = 0;
    iterator->Get(&minimum, &maximum, &count);
    // 64-bit: the entry of INT32_MAX ends at 2^31.
    if (maximum != int64_t{minimum} + 1)
      return false;
    counts_[minimum] += operation == ADD ? count : -count;
  }
  return true;
}

}  // namespace base
