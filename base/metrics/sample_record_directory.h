#ifndef BASE_METRICS_SAMPLE_RECORD_DIRECTORY_H_
#define BASE_METRICS_SAMPLE_RECORD_DIRECTORY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/threading/lock.h"

namespace base {

class PersistentSampleMap;

// A sparse sample in a segment: one per (sample map, value).
struct SampleRecord {
  uint64_t id;
  HistogramBase::Sample value;
  HistogramBase::Count count;
};
static_assert(sizeof(SampleRecord) == 16);

// The sample records of one sample map.
struct SampleRecordList {
  // Found by other maps' loads and not yet handed over; under the
  // directory's lock.
  std::vector<PersistentMemoryAllocator::Reference> found;
  // Handed over to the map, which reads them in order under its owner's
  // lock; `seen` counts those it has read.
  std::vector<PersistentMemoryAllocator::Reference> taken;
  size_t seen = 0;
  PersistentSampleMap* user = nullptr;
};

// Sorts the sample records of a segment by the sample map they belong to,
// for every sample map of one allocator: one walk of the segment serves
// them all.
class SampleRecordDirectory {
 public:
  explicit SampleRecordDirectory(PersistentMemoryAllocator* memory);
  SampleRecordDirectory(const SampleRecordDirectory&) = delete;
  SampleRecordDirectory& operator=(const SampleRecordDirectory&) = delete;
  ~SampleRecordDirectory();

  // The list of `id`, made when missing, with `user` as its user.
  SampleRecordList* Acquire(uint64_t id, PersistentSampleMap* user);
  // Hands over what was found for `id`, then walks on until at least one
  // more record of it and at least 10 records in all have been read, or the
  // segment has no more. False when nothing new was handed over.
  bool Load(uint64_t id, SampleRecordList* list);

 private:
  PersistentMemoryAllocator* const memory_;
  Lock lock_;
  PersistentMemoryAllocator::Iterator iterator_;
  std::map<uint64_t, std::unique_ptr<SampleRecordList>> lists_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_RECORD_DIRECTORY_H_
