#include "desktop/windows/crash_reporter/memory_range_set.h"

#include <algorithm>

namespace installer {

MemoryRangeSet::MemoryRangeSet() = default;

MemoryRangeSet::~MemoryRangeSet() = default;

uint64_t MemoryRangeSet::Add(uint64_t start, uint64_t end) {
  if (start >= end)
    return 0;
  // The first range that ends at or after the new start may overlap or
  // touch it; so may every following one that starts at or before its end.
  auto first = ranges_.upper_bound(start);
  if (first != ranges_.begin() && std::prev(first)->second >= start)
    --first;
  uint64_t merged_start = start;
  uint64_t merged_end = end;
  uint64_t replaced_bytes = 0;
  auto last = first;
  while (last != ranges_.end() && last->first <= end) {
    merged_start = std::min(merged_start, last->first);
    merged_end = std::max(merged_end, last->second);
    replaced_bytes += last->second - last->first;
    ++last;
  }
  ranges_.erase(first, last);
  ranges_.emplace(merged_start, merged_end);
  const uint64_t added = (merged_end - merged_start) - replaced_bytes;
  covered_bytes_ += added;
  return added;
}

void MemoryRangeSet::Clear() {
  ranges_.clear();
  covered_bytes_ = 0;
}

}  // namespace installer
