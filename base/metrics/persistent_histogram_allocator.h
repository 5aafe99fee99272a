#ifndef BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_

#include <cstdint>
#include <memory>

#include "base/metrics/histogram_base.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/strings/string_slice.h"

namespace base {

class BucketRanges;
class SampleRecordDirectory;

// Keeps histograms in a persistent segment instead of on the heap: the
// description, boundaries and counts become typed blocks, from which
// another process (or a later one) rebuilds the same histograms. The process
// never installs one; tests do (`SetGlobalForTesting`).
class PersistentHistogramAllocator {
 public:
  // Block types.
  static constexpr uint32_t kTypeIdHistogram = 0xF1645913;
  static constexpr uint32_t kTypeIdCounts = 0x53215531;
  static constexpr uint32_t kTypeIdRanges = 0xBCEA225B;
  static constexpr uint32_t kTypeIdSampleRecord = 0x8FE6A6A0;
  // What a histogram record becomes when it lost its registration.
  static constexpr uint32_t kTypeIdUnused = 0;

  // What building a histogram came to, counted in
  // "Metrics.CreatePersistentHistogram.Result".
  enum RecordResult {
    kBuilt = 0,
    kNoRecord = 1,
    kBadRecord = 2,
    kBadBoundaries = 3,
    kBadCounts = 4,
    kAllocatorCorrupt = 5,
    kAllocatorFull = 6,
    kAllocationFailed = 7,
    kUnknownType = 8,
    kNewlyCorrupt = 9,
  };

  explicit PersistentHistogramAllocator(
      std::unique_ptr<PersistentMemoryAllocator> memory);
  PersistentHistogramAllocator(const PersistentHistogramAllocator&) = delete;
  PersistentHistogramAllocator& operator=(const PersistentHistogramAllocator&) =
      delete;
  ~PersistentHistogramAllocator();

  // The installed allocator, or null (always, outside tests).
  static PersistentHistogramAllocator* GetGlobal();
  // Installs `allocator` (which must outlive its use, also by the
  // histograms it made) and returns the one it replaces.
  static PersistentHistogramAllocator* SetGlobalForTesting(
      PersistentHistogramAllocator* allocator);

  // A histogram over new records (`ranges` is null for the sparse type),
  // or null. The record is made iterable by `FinishHistogram`, once its
  // registration is decided.
  std::unique_ptr<HistogramBase> AllocateHistogram(
      HistogramType type, StringSlice name, HistogramBase::Sample minimum,
      HistogramBase::Sample maximum, const BucketRanges* ranges, int32_t flags,
      PersistentMemoryAllocator::Reference* record_out);
  // Publishes the record when its histogram won the registration, else
  // retires it.
  void FinishHistogram(PersistentMemoryAllocator::Reference record,
                       bool registered);
  // A histogram rebuilt from a record, or null.
  std::unique_ptr<HistogramBase> GetHistogram(
      PersistentMemoryAllocator::Reference record);
  // Registers every histogram record not seen yet; stops at the first that
  // yields no histogram.
  void ImportHistograms();

  PersistentMemoryAllocator* memory_allocator() { return memory_.get(); }
  SampleRecordDirectory* record_directory() { return records_.get(); }

 private:
  std::unique_ptr<HistogramBase> CreateHistogram(
      PersistentMemoryAllocator::Reference record);

  std::unique_ptr<PersistentMemoryAllocator> memory_;
  std::atomic<PersistentMemoryAllocator::Reference> last_created_{0};
  PersistentMemoryAllocator::Iterator import_iterator_;
  std::unique_ptr<SampleRecordDirectory> records_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
