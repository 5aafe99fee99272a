#include "base/metrics/persistent_sample_map.h"

#include <atomic>

#include "base/metrics/histogram.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/sample_record_directory.h"

namespace base {

namespace {

// Why a subtraction found too little to take away.
enum NegativeSampleReason {
  kNoCountToSubtractFrom = 0,
  kCountBelowSubtrahend = 1,
};

void RecordNegativeSample(NegativeSampleReason reason) {
  static std::atomic<HistogramBase*> cache{nullptr};
  HistogramBase* histogram = cache.load(std::memory_order_acquire);
  if (!histogram) {
    histogram = GetLinearHistogram("Metrics.NegativeSamples.Reason", 2, 3);
    cache.store(histogram, std::memory_order_release);
  }
  if (histogram)
    histogram->Add(reason);
}

// Other processes may record into the same records.
void AddToCount(HistogramBase::Count* count, HistogramBase::Count delta) {
  std::atomic_ref<int32_t>(*count).fetch_add(delta, std::memory_order_relaxed);
}

}  // namespace

PersistentSampleMap::PersistentSampleMap(
    uint64_t id, PersistentHistogramAllocator* allocator,
    HistogramSampleMetadata* meta)
    : HistogramSamples(id, meta), allocator_(allocator) {}

PersistentSampleMap::~PersistentSampleMap() = default;

void PersistentSampleMap::Accumulate(HistogramBase::Sample value,
                                     HistogramBase::Count count) {
  AddToCount(FindOrMakeCount(value), count);
  IncreaseSumAndCount(int64_t{value} * count, count);
}

HistogramBase::Count PersistentSampleMap::GetCount(
    HistogramBase::Sample value) const {
  const HistogramBase::Count* count = FindCount(value);
  return count ? *count : 0;
}

HistogramBase::Count PersistentSampleMap::TotalCount() const {
  ImportSamples(0, true);
  HistogramBase::Count total = 0;
  for (const auto& [value, count] : counts_)
    total += *count;
  return total;
}

std::unique_ptr<SampleCountIterator> PersistentSampleMap::Iterator() const {
  ImportSamples(0, true);
  return std::make_unique<SampleMapIterator<decltype(counts_)>>(counts_);
}

bool PersistentSampleMap::AddSubtractImpl(SampleCountIterator* iterator,
                                          Operation operation) {
  for (; !iterator->Done(); iterator->Next()) {
    HistogramBase::Sample minimum = 0;
    int64_t maximum = 0;
    HistogramBase::Count count = 0;
    iterator->Get(&minimum, &maximum, &count);
    if (count == 0)
      continue;
    if (maximum != int64_t{minimum} + 1)
      return false;
    if (operation == ADD) {
      AddToCount(FindOrMakeCount(minimum), count);
      continue;
    }
    HistogramBase::Count* stored = FindCount(minimum);
    if (!stored) {
      RecordNegativeSample(kNoCountToSubtractFrom);
    } else if (*stored < count) {
      *stored = 0;
      RecordNegativeSample(kCountBelowSubtrahend);
    } else {
      AddToCount(stored, -count);
    }
  }
  return true;
}

HistogramBase::Count* PersistentSampleMap::FindCount(
    HistogramBase::Sample value) const {
  auto found = counts_.find(value);
  if (found != counts_.end())
    return found->second;
  return ImportSamples(value, false);
}

HistogramBase::Count* PersistentSampleMap::FindOrMakeCount(
    HistogramBase::Sample value) {
  if (HistogramBase::Count* count = FindCount(value))
    return count;
  PersistentMemoryAllocator* memory = allocator_->memory_allocator();
  const PersistentMemoryAllocator::Reference ref = memory->Allocate(
      sizeof(SampleRecord), PersistentHistogramAllocator::kTypeIdSampleRecord);
  if (auto* record = memory->GetPayload<SampleRecord>(
          ref, PersistentHistogramAllocator::kTypeIdSampleRecord)) {
    record->id = id();
    record->value = value;
    record->count = 0;
    memory->MakeIterable(ref);
    if (HistogramBase::Count* count = ImportSamples(value, false))
      return count;
  }
  heap_cells_.push_back(0);
  counts_[value] = &heap_cells_.back();
  return &heap_cells_.back();
}

HistogramBase::Count* PersistentSampleMap::ImportSamples(
    HistogramBase::Sample value, bool everything) const {
  SampleRecordDirectory* directory = allocator_->record_directory();
  if (!records_)
    records_ = directory->Acquire(id(), const_cast<PersistentSampleMap*>(this));
  PersistentMemoryAllocator* memory = allocator_->memory_allocator();
  do {
    while (records_->seen < records_->taken.size()) {
      const PersistentMemoryAllocator::Reference ref =
          records_->taken[records_->seen++];
      auto* record = memory->GetPayload<SampleRecord>(
          ref, PersistentHistogramAllocator::kTypeIdSampleRecord);
      if (!record || record->id != id())
        continue;
      const HistogramBase::Sample found = record->value;
      if (!counts_.emplace(found, &record->count).second)
        continue;
      if (!everything && found == value)
        return &record->count;
    }
  } while (directory->Load(id(), records_));
  return nullptr;
}

}  // namespace base
