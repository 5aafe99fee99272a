#include "base/metrics/sample_record_directory.h"

#include <atomic>

#include "base/metrics/persistent_histogram_allocator.h"

namespace base {

namespace {

constexpr size_t kFewestRecordsPerLoad = 10;

}  // namespace

SampleRecordDirectory::SampleRecordDirectory(PersistentMemoryAllocator* memory)
    : memory_(memory), iterator_(memory) {}

SampleRecordDirectory::~SampleRecordDirectory() = default;

SampleRecordList* SampleRecordDirectory::Acquire(uint64_t id,
                                                 PersistentSampleMap* user) {
  AutoLock hold(lock_);
  std::unique_ptr<SampleRecordList>& list = lists_[id];
  if (!list)
    list = std::make_unique<SampleRecordList>();
  list->user = user;
  return list.get();
}

bool SampleRecordDirectory::Load(uint64_t id, SampleRecordList* list) {
  AutoLock hold(lock_);
  const size_t before = list->taken.size();
  list->taken.insert(list->taken.end(), list->found.begin(), list->found.end());
  list->found.clear();
  bool found_own = list->taken.size() > before;
  for (size_t read = 0; !found_own || read < kFewestRecordsPerLoad; ++read) {
    const PersistentMemoryAllocator::Reference ref = iterator_.GetNextOfType(
        PersistentHistogramAllocator::kTypeIdSampleRecord);
    if (!ref)
      break;
    auto* record = memory_->GetPayload<SampleRecord>(
        ref, PersistentHistogramAllocator::kTypeIdSampleRecord);
    if (!record)
      continue;
    const uint64_t record_id =
        std::atomic_ref<uint64_t>(record->id).load(std::memory_order_relaxed);
    if (record_id == id) {
      list->taken.push_back(ref);
      found_own = true;
      continue;
    }
    std::unique_ptr<SampleRecordList>& other = lists_[record_id];
    if (!other)
      other = std::make_unique<SampleRecordList>();
    other->found.push_back(ref);
  }
  return list->taken.size() > before;
}

}  // namespace base
