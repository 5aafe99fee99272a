#ifndef BASE_METRICS_BUCKET_RANGES_H_
#define BASE_METRICS_BUCKET_RANGES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace base {

// The boundaries of a bucketed histogram: bucket i counts the values from
// boundary i (inclusive) to boundary i + 1 (exclusive). Histograms of one
// shape share one set; the checksum identifies the shape when sets are
// registered and proves the boundaries intact when a histogram is checked.
class BucketRanges {
 public:
  // `boundary_count` zero boundaries, checksum 0.
  explicit BucketRanges(size_t boundary_count);
  BucketRanges(const BucketRanges&) = delete;
  BucketRanges& operator=(const BucketRanges&) = delete;

  int32_t range(size_t i) const { return ranges_[i]; }
  void set_range(size_t i, int32_t value) { ranges_[i] = value; }
  size_t size() const { return ranges_.size(); }
  size_t bucket_count() const { return ranges_.size() - 1; }
  const int32_t* data() const { return ranges_.data(); }

  uint32_t checksum() const { return checksum_; }
  void set_checksum(uint32_t checksum) { checksum_ = checksum; }
  // CRC-32 of the boundaries (reflected, polynomial 0xEDB88320) started from
  // the boundary count, each boundary fed low byte first, not inverted.
  uint32_t CalculateChecksum() const;
  void ResetChecksum() { checksum_ = CalculateChecksum(); }
  bool HasValidChecksum() const { return checksum_ == CalculateChecksum(); }

  // Same checksum, count and boundaries.
  bool Equals(const BucketRanges& other) const;

 private:
  std::vector<int32_t> ranges_;
  uint32_t checksum_ = 0;
};

}  // namespace base

#endif  // BASE_METRICS_BUCKET_RANGES_H_
