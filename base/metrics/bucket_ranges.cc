#include "base/metrics/bucket_ranges.h"

#include <array>

namespace base {

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table = {};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

BucketRanges::BucketRanges(size_t boundary_count)
    : ranges_(boundary_count, 0) {}

uint32_t BucketRanges::CalculateChecksum() const {
  // Seeded with the count rather than all ones and never inverted: stored
  // segments and peers compare this exact value.
  uint32_t crc = static_cast<uint32_t>(ranges_.size());
  for (int32_t boundary : ranges_) {
    const uint32_t bytes = static_cast<uint32_t>(boundary);
    for (int shift = 0; shift < 32; shift += 8)
      crc = kCrcTable[(crc ^ (bytes >> shift)) & 0xFF] ^ (crc >> 8);
  }
  return crc;
}

bool BucketRanges::Equals(const BucketRanges& other) const {
  return checksum_ == other.checksum_ && ranges_ == other.ranges_;
}

}  // namespace base
