#include "base/metrics/sparse_histogram.h"

#include <memory>

#include "base/metrics/histogram_registry.h"

namespace base {

HistogramBase* SparseHistogram::GetOrCreate(StringSlice name) {
  if (HistogramBase* existing = HistogramRegistry::Find(name))
    return existing;
  return HistogramRegistry::Register(
      std::make_unique<SparseHistogram>(name.AsString()));
}

SparseHistogram::SparseHistogram(std::string name)
    : HistogramBase(std::move(name)) {}

void SparseHistogram::AddSample(int32_t value) {
  std::lock_guard<std::mutex> hold(lock_);
  ++counts_[value];
}

int64_t SparseHistogram::GetCount(int32_t value) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = counts_.find(value);
  return found == counts_.end() ? 0 : found->second;
}

int64_t SparseHistogram::TotalCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  int64_t total = 0;
  for (const auto& [value, count] : counts_)
    total += count;
  return total;
}

}  // namespace base
