#include "base/metrics/sparse_histogram.h"

#include <algorithm>

#include "base/binary_writer.h"
#include "base/logging.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sample_map.h"
#include "base/strings/string_format.h"
#include "base/values.h"

namespace base {

// static
HistogramBase* SparseHistogram::GetOrCreate(StringSlice name, int32_t flags) {
  HistogramBase* histogram = HistogramRegistry::Find(name);
  if (!histogram) {
    PersistentHistogramAllocator* allocator =
        PersistentHistogramAllocator::GetGlobal();
    PersistentMemoryAllocator::Reference record = 0;
    std::unique_ptr<HistogramBase> built;
    if (allocator) {
      built = allocator->AllocateHistogram(SPARSE_HISTOGRAM, name, 0, 0,
                                           nullptr, flags, &record);
    }
    if (!built) {
      built = std::make_unique<SparseHistogram>(name);
      built->SetFlags(flags);
    }
    const HistogramBase* candidate = built.get();
    histogram = HistogramRegistry::RegisterOrDeleteDuplicate(std::move(built));
    if (record)
      allocator->FinishHistogram(record, histogram == candidate);
  }
  CHECK(histogram->GetHistogramType() == SPARSE_HISTOGRAM)
      << "Histogram " << name.AsString() << " exists with another type";
  return histogram;
}

SparseHistogram::SparseHistogram(StringSlice name)
    : HistogramBase(name),
      samples_(std::make_unique<SampleMap>(HashHistogramName(name))),
      logged_samples_(std::make_unique<SampleMap>(samples_->id())) {}

SparseHistogram::SparseHistogram(PersistentHistogramAllocator* allocator,
                                 StringSlice name,
                                 HistogramSampleMetadata* meta,
                                 HistogramSampleMetadata* logged_meta)
    : HistogramBase(name) {
  const uint64_t id = HashHistogramName(name);
  samples_ = std::make_unique<PersistentSampleMap>(id, allocator, meta);
  // A separate id keeps the records of the two maps apart in the segment.
  logged_samples_ = std::make_unique<PersistentSampleMap>(
      samples_->id() + 1, allocator, logged_meta);
}

SparseHistogram::~SparseHistogram() {
  logged_samples_.reset();
  samples_.reset();
}

uint64_t SparseHistogram::NameHash() const {
  return samples_->id();
}

HistogramType SparseHistogram::GetHistogramType() const {
  return SPARSE_HISTOGRAM;
}

bool SparseHistogram::HasConstructionArguments(Sample, Sample, uint32_t) const {
  return false;
}

void SparseHistogram::AddCount(Sample value, int count) {
  if (count <= 0)
    return;
  {
    AutoLock hold(lock_);
    samples_->Accumulate(value, count);
  }
  RunSampleCallback(value);
}

void SparseHistogram::AddSamples(const HistogramSamples& samples) {
  AutoLock hold(lock_);
  samples_->Add(samples);
}

bool SparseHistogram::AddSamplesFromPickle(BinaryReader* reader) {
  AutoLock hold(lock_);
  return samples_->AddFromPickle(reader);
}

std::unique_ptr<HistogramSamples> SparseHistogram::CopySamplesLocked() const {
  auto copy = std::make_unique<SampleMap>(samples_->id());
  copy->Add(*samples_);
  return copy;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotSamples() const {
  AutoLock hold(lock_);
  return CopySamplesLocked();
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotDelta() {
  AutoLock hold(lock_);
  std::unique_ptr<HistogramSamples> snapshot = CopySamplesLocked();
  snapshot->Subtract(*logged_samples_);
  logged_samples_->Add(*snapshot);
  return snapshot;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotFinalDelta() {
  final_delta_created_ = true;
  AutoLock hold(lock_);
  std::unique_ptr<HistogramSamples> snapshot = CopySamplesLocked();
  snapshot->Subtract(*logged_samples_);
  return snapshot;
}

void SparseHistogram::WriteHTML(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl("<br>", output);
  output->append("</PRE>");
}

void SparseHistogram::WriteAscii(std::string* output) const {
  WriteAsciiImpl("\n", output);
}

void SparseHistogram::WriteAsciiImpl(const char* newline,
                                     std::string* output) const {
  std::unique_ptr<HistogramSamples> snapshot = SnapshotSamples();
  const Count total = snapshot->TotalCount();
  WriteAsciiHeader(total, nullptr, output);
  output->append(newline);

  Count peak = 0;
  size_t label_width = 0;
  for (auto it = snapshot->Iterator(); !it->Done(); it->Next()) {
    Sample value = 0;
    Count count = 0;
    it->Get(&value, nullptr, &count);
    peak = std::max(peak, count);
    label_width = std::max(label_width, FormatString("%d", value).size());
  }
  for (auto it = snapshot->Iterator(); !it->Done(); it->Next()) {
    Sample value = 0;
    Count count = 0;
    it->Get(&value, nullptr, &count);
    const std::string label = FormatString("%d", value);
    output->append(label);
    output->append(label_width - label.size(), ' ');
    WriteAsciiBar(count, peak, output);
    AppendFormat(output, " (%d = %3.1f%%)", count, 100.0 * count / total);
    output->append(newline);
  }
}

void SparseHistogram::SerializeInfo(BinaryWriter* writer) const {
  writer->WriteString(histogram_name());
  writer->WriteUint32(static_cast<uint32_t>(flags()));
}

void SparseHistogram::GetParameters(DictionaryValue* parameters) const {
  parameters->SetString("type", HistogramTypeToString(SPARSE_HISTOGRAM));
}

void SparseHistogram::GetCountAndBucketData(Count*, int64_t*,
                                            ListValue*) const {}

}  // namespace base
