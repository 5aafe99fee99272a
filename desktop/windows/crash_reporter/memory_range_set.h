#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_MEMORY_RANGE_SET_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_MEMORY_RANGE_SET_H_

#include <cstdint>
#include <map>

namespace installer {

// The memory a crash log dumps: disjoint, non-adjacent ranges [start, end)
// in increasing order, and the number of bytes they cover. Adding a range
// joins it with every range it overlaps or touches.
class MemoryRangeSet {
 public:
  using Ranges = std::map<uint64_t, uint64_t>;  // start -> end

  MemoryRangeSet();
  MemoryRangeSet(const MemoryRangeSet&) = delete;
  MemoryRangeSet& operator=(const MemoryRangeSet&) = delete;
  ~MemoryRangeSet();

  // Returns the bytes the set covers now that it did not before. An empty
  // or reversed range adds nothing.
  uint64_t Add(uint64_t start, uint64_t end);
  void Clear();

  uint64_t covered_bytes() const { return covered_bytes_; }
  const Ranges& ranges() const { return ranges_; }

 private:
  Ranges ranges_;
  uint64_t covered_bytes_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_MEMORY_RANGE_SET_H_
