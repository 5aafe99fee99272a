#include "base/metrics/persistent_histogram_allocator.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/custom_histogram.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/linear_histogram.h"
#include "base/metrics/sample_record_directory.h"
#include "base/metrics/sparse_histogram.h"

namespace base {

namespace {

using Reference = PersistentMemoryAllocator::Reference;

// The payload of a histogram record. A sparse histogram's keeps offsets 8
// to 31 at 0.
struct HistogramRecord {
  uint32_t type;
  uint32_t flags;
  int32_t minimum;
  int32_t maximum;
  uint32_t bucket_count;
  Reference ranges_ref;
  uint32_t ranges_checksum;
  Reference counts_ref;
  HistogramSampleMetadata samples_meta;
  HistogramSampleMetadata logged_meta;
  // NUL-terminated, running on to the end of the block.
  char name[8];
};
static_assert(offsetof(HistogramRecord, samples_meta) == 32);
static_assert(offsetof(HistogramRecord, logged_meta) == 56);
static_assert(offsetof(HistogramRecord, name) == 80);
static_assert(sizeof(HistogramRecord) == 88);

constexpr uint32_t kNameOffset = offsetof(HistogramRecord, name);
// Bucket counts from 2 up to this fit every size computed from them.
constexpr uint32_t kLargestBucketCount = 0x3FFFFFFE;

using Result = PersistentHistogramAllocator::RecordResult;

std::atomic<PersistentHistogramAllocator*> g_global{nullptr};

void CountRecordResult(Result result) {
  static std::atomic<HistogramBase*> cache{nullptr};
  // Making the histogram may come back here (through the installed
  // allocator): results of that are dropped.
  static std::atomic<bool> creating{false};
  HistogramBase* histogram = cache.load(std::memory_order_acquire);
  if (!histogram) {
    if (creating.exchange(true, std::memory_order_acq_rel))
      return;
    histogram =
        GetLinearHistogram("Metrics.CreatePersistentHistogram.Result", 10, 11);
    cache.store(histogram, std::memory_order_release);
    creating.store(false, std::memory_order_release);
  }
  if (histogram)
    histogram->Add(result);
}

}  // namespace

PersistentHistogramAllocator::PersistentHistogramAllocator(
    std::unique_ptr<PersistentMemoryAllocator> memory)
    : memory_(std::move(memory)),
      import_iterator_(memory_.get()),
      records_(std::make_unique<SampleRecordDirectory>(memory_.get())) {}

PersistentHistogramAllocator::~PersistentHistogramAllocator() = default;

// static
PersistentHistogramAllocator* PersistentHistogramAllocator::GetGlobal() {
  return g_global.load(std::memory_order_acquire);
}

// static
PersistentHistogramAllocator* PersistentHistogramAllocator::SetGlobalForTesting(
    PersistentHistogramAllocator* allocator) {
  return g_global.exchange(allocator, std::memory_order_acq_rel);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::AllocateHistogram(
    HistogramType type, StringSlice name, HistogramBase::Sample minimum,
    HistogramBase::Sample maximum, const BucketRanges* ranges, int32_t flags,
    Reference* record_out) {
  if (memory_->IsCorrupt()) {
    memory_->SetCorrupt();
    CountRecordResult(kAllocatorCorrupt);
    return nullptr;
  }
  const uint64_t record_size = std::max<uint64_t>(
      uint64_t{name.size()} + kNameOffset + 1, sizeof(HistogramRecord));
  const Reference ref =
      record_size > UINT32_MAX
          ? 0
          : memory_->Allocate(static_cast<uint32_t>(record_size),
                              kTypeIdHistogram);
  // Checked before anything is written: reference 0 is the segment header.
  auto* record = memory_->GetPayload<HistogramRecord>(ref, kTypeIdHistogram);
  if (record) {
    memset(record, 0, sizeof(HistogramRecord));
    memcpy(record->name, name.data(), name.size());
    record->name[name.size()] = '\0';
    record->type = type;
    record->flags = static_cast<uint32_t>(flags | HistogramBase::Persistent);
  }
  if (record && type != SPARSE_HISTOGRAM) {
    const uint32_t bucket_count = static_cast<uint32_t>(ranges->bucket_count());
    if (bucket_count == 0)
      return nullptr;
    const Reference counts_ref =
        memory_->Allocate(bucket_count * 8, kTypeIdCounts);
    const Reference ranges_ref =
        memory_->Allocate(bucket_count * 4 + 4, kTypeIdRanges);
    auto* boundaries = static_cast<int32_t*>(
        memory_->GetBlockData(ranges_ref, kTypeIdRanges, bucket_count * 4 + 4));
    if (counts_ref && boundaries) {
      memcpy(boundaries, ranges->data(), ranges->size() * sizeof(int32_t));
      record->minimum = minimum;
      record->maximum = maximum;
      record->bucket_count = bucket_count;
      record->ranges_ref = ranges_ref;
      record->ranges_checksum = ranges->checksum();
      record->counts_ref = counts_ref;
    } else {
      record = nullptr;
    }
  }
  if (record) {
    std::unique_ptr<HistogramBase> histogram = CreateHistogram(ref);
    if (histogram) {
      *record_out = ref;
      last_created_.store(ref, std::memory_order_relaxed);
    }
    return histogram;
  }
  if (!memory_->IsCorrupt()) {
    CountRecordResult(memory_->IsFull() ? kAllocatorFull : kAllocationFailed);
  } else {
    memory_->SetCorrupt();
    CountRecordResult(kNewlyCorrupt);
    CountRecordResult(kAllocatorCorrupt);
  }
  return nullptr;
}

void PersistentHistogramAllocator::FinishHistogram(Reference record,
                                                   bool registered) {
  if (registered)
    memory_->MakeIterable(record);
  else
    memory_->ChangeType(record, kTypeIdUnused, kTypeIdHistogram, false);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::GetHistogram(
    Reference ref) {
  if (!ref) {
    CountRecordResult(kNoRecord);
    return nullptr;
  }
  const auto* record =
      memory_->GetPayload<HistogramRecord>(ref, kTypeIdHistogram);
  const uint32_t size = memory_->GetAllocSize(ref);
  if (!record || reinterpret_cast<const char*>(record)[size - 1] != '\0' ||
      record->name[0] == '\0' || record->samples_meta.id == 0 ||
      record->logged_meta.id == 0) {
    CountRecordResult(kBadRecord);
    return nullptr;
  }
  return CreateHistogram(ref);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::CreateHistogram(
    Reference ref) {
  auto* record = memory_->GetPayload<HistogramRecord>(ref, kTypeIdHistogram);
  const uint32_t size = memory_->GetAllocSize(ref);
  if (!record || size < sizeof(HistogramRecord)) {
    CountRecordResult(kBadRecord);
    return nullptr;
  }
  // Another process may change the record meanwhile: read each field once.
  const std::string name(record->name,
                         strnlen(record->name, size - kNameOffset));
  const uint32_t type = record->type;
  const int32_t flags = static_cast<int32_t>(record->flags);
  if (type == SPARSE_HISTOGRAM) {
    auto histogram = std::make_unique<SparseHistogram>(
        this, name, &record->samples_meta, &record->logged_meta);
    histogram->SetFlags(flags);
    CountRecordResult(kBuilt);
    return histogram;
  }

  const uint32_t bucket_count = record->bucket_count;
  const int32_t* stored = nullptr;
  if (bucket_count - 2 < kLargestBucketCount - 1) {
    stored = static_cast<const int32_t*>(memory_->GetBlockData(
        record->ranges_ref, kTypeIdRanges, (bucket_count + 1) * 4));
  }
  auto ranges = std::make_unique<BucketRanges>(stored ? bucket_count + 1 : 0);
  for (uint32_t i = 0; stored && i <= bucket_count; ++i) {
    const int32_t boundary =
        std::atomic_ref<int32_t>(const_cast<int32_t&>(stored[i]))
            .load(std::memory_order_relaxed);
    // Samples are clamped to 0..INT32_MAX - 1 and must find a bucket, so
    // the boundaries must span exactly that.
    const bool fits = i == 0 ? boundary == 0 : boundary > ranges->range(i - 1);
    if (!fits || (i == bucket_count && boundary != INT32_MAX))
      stored = nullptr;
    else
      ranges->set_range(i, boundary);
  }
  if (!stored || ranges->CalculateChecksum() != record->ranges_checksum) {
    CountRecordResult(kBadBoundaries);
    return nullptr;
  }
  ranges->ResetChecksum();
  const BucketRanges* registered_ranges =
      HistogramRegistry::RegisterOrDeleteDuplicateRanges(std::move(ranges));

  // 64-bit: a foreign bucket count may be near 2^30.
  const uint64_t counts_size = uint64_t{bucket_count} * 8;
  auto* counts = static_cast<int32_t*>(memory_->GetBlockData(
      record->counts_ref, kTypeIdCounts,
      counts_size > UINT32_MAX ? UINT32_MAX
                               : static_cast<uint32_t>(counts_size)));
  if (!counts || counts_size > UINT32_MAX) {
    CountRecordResult(kBadCounts);
    return nullptr;
  }
  int32_t* logged_counts = counts + bucket_count;

  std::unique_ptr<Histogram> histogram;
  switch (type) {
    case HISTOGRAM:
      histogram = std::make_unique<Histogram>(
          name, record->minimum, record->maximum, registered_ranges, counts,
          logged_counts, &record->samples_meta, &record->logged_meta);
      break;
    case LINEAR_HISTOGRAM:
      histogram = std::make_unique<LinearHistogram>(
          name, record->minimum, record->maximum, registered_ranges, counts,
          logged_counts, &record->samples_meta, &record->logged_meta);
      break;
    case BOOLEAN_HISTOGRAM:
      histogram = std::make_unique<BooleanHistogram>(
          name, 1, 2, registered_ranges, counts, logged_counts,
          &record->samples_meta, &record->logged_meta);
      break;
    case CUSTOM_HISTOGRAM:
      histogram = std::make_unique<CustomHistogram>(
          name, registered_ranges->range(1),
          registered_ranges->range(bucket_count - 1), registered_ranges, counts,
          logged_counts, &record->samples_meta, &record->logged_meta);
      break;
    default:
      CountRecordResult(kUnknownType);
      return nullptr;
  }
  histogram->SetFlags(flags);
  CountRecordResult(kBuilt);
  return histogram;
}

void PersistentHistogramAllocator::ImportHistograms() {
  while (const Reference ref =
             import_iterator_.GetNextOfType(kTypeIdHistogram)) {
    if (ref == last_created_.load(std::memory_order_relaxed))
      continue;
    std::unique_ptr<HistogramBase> histogram = GetHistogram(ref);
    if (!histogram)
      return;
    HistogramRegistry::RegisterOrDeleteDuplicate(std::move(histogram));
  }
}

}  // namespace base
