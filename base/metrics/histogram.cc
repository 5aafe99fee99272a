#include "base/metrics/histogram.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "base/binary_writer.h"
#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/sample_vector.h"
#include "base/strings/string_format.h"
#include "base/values.h"

namespace base {

namespace {

// A difference between the redundant count and the counts up to this is
// what unsynchronised readers see of samples being recorded.
constexpr HistogramBase::Count kTolerableCountMismatch = 5;
constexpr int32_t kInconsistentCountMaximum = 1000000;

HistogramBase* InconsistentCountHistogram(std::atomic<HistogramBase*>* cache,
                                          const char* name) {
  HistogramBase* histogram = cache->load(std::memory_order_acquire);
  if (!histogram) {
    histogram = GetCountsHistogram(name, kInconsistentCountMaximum);
    cache->store(histogram, std::memory_order_release);
  }
  return histogram;
}

void ReportInconsistentCount(const char* name,
                             std::atomic<HistogramBase*>* cache,
                             HistogramBase::Count difference) {
  if (HistogramBase* histogram = InconsistentCountHistogram(cache, name))
    histogram->Add(difference);
}

}  // namespace

Histogram::Histogram(StringSlice name, Sample minimum, Sample maximum,
                     const BucketRanges* ranges)
    : HistogramBase(name),
      ranges_(ranges),
      declared_min_(minimum),
      declared_max_(maximum) {
  if (ranges)
    samples_ = std::make_unique<SampleVector>(HashHistogramName(name), ranges);
}

Histogram::Histogram(StringSlice name, Sample minimum, Sample maximum,
                     const BucketRanges* ranges, int32_t* counts,
                     int32_t* logged_counts, HistogramSampleMetadata* meta,
                     HistogramSampleMetadata* logged_meta)
    : HistogramBase(name),
      ranges_(ranges),
      declared_min_(minimum),
      declared_max_(maximum) {
  const uint64_t id = HashHistogramName(name);
  samples_ = std::make_unique<PersistentSampleVector>(id, counts, meta, ranges);
  logged_samples_ = std::make_unique<PersistentSampleVector>(
      id, logged_counts, logged_meta, ranges);
}

Histogram::~Histogram() = default;

// static
void Histogram::InitializeBucketRanges(Sample minimum, Sample maximum,
                                       BucketRanges* ranges) {
  const size_t bucket_count = ranges->bucket_count();
  ranges->set_range(0, 0);
  ranges->set_range(1, minimum);
  ranges->set_range(bucket_count, kSampleMax);
  const double log_max = std::log(static_cast<double>(maximum));
  int64_t current = minimum;
  for (size_t i = 2; i < bucket_count; ++i) {
    const double log_current = std::log(static_cast<double>(current));
    const double log_next =
        log_current + (log_max - log_current) / (bucket_count - i);
    const int64_t next =
        static_cast<int64_t>(std::floor(std::exp(log_next) + 0.5));
    current = next > current ? next : current + 1;
    CHECK(current < kSampleMax) << "Bucket boundary out of range";
    ranges->set_range(i, static_cast<Sample>(current));
  }
  ranges->ResetChecksum();
}

uint64_t Histogram::NameHash() const {
  return samples_->id();
}

HistogramType Histogram::GetHistogramType() const {
  return HISTOGRAM;
}

bool Histogram::HasConstructionArguments(Sample minimum, Sample maximum,
                                         uint32_t bucket_count) const {
  return minimum == declared_min_ && maximum == declared_max_ &&
         bucket_count == GetBucketCount();
}

void Histogram::Add(Sample value) {
  Histogram::AddCount(value, 1);
}

void Histogram::AddCount(Sample value, int count) {
  if (count <= 0)
    return;
  value = std::clamp(value, 0, kSampleMax - 1);
  samples_->Accumulate(value, count);
  RunSampleCallback(value);
}

void Histogram::AddSamples(const HistogramSamples& samples) {
  samples_->Add(samples);
}

bool Histogram::AddSamplesFromPickle(BinaryReader* reader) {
  return samples_->AddFromPickle(reader);
}

uint32_t Histogram::FindCorruption(const HistogramSamples& samples) const {
  uint32_t inconsistencies = 0;
  Sample previous = -1;
  for (uint32_t i = 0; i < GetBucketCount(); ++i) {
    if (GetRange(i) <= previous)
      inconsistencies |= kBoundariesOutOfOrder;
    previous = GetRange(i);
  }
  if (!ranges_->HasValidChecksum())
    inconsistencies |= kRangesChecksumWrong;

  static std::atomic<HistogramBase*> high{nullptr};
  static std::atomic<HistogramBase*> low{nullptr};
  const int64_t difference =
      int64_t{samples.redundant_count()} - samples.TotalCount();
  if (difference > 0) {
    ReportInconsistentCount("Histogram.InconsistentCountHigh", &high,
                            static_cast<Count>(difference));
    if (difference > kTolerableCountMismatch)
      inconsistencies |= kCountTooHigh;
  } else if (difference < 0) {
    ReportInconsistentCount("Histogram.InconsistentCountLow", &low,
                            static_cast<Count>(-difference));
    if (-difference > kTolerableCountMismatch)
      inconsistencies |= kCountTooLow;
  }
  return inconsistencies;
}

std::unique_ptr<SampleVector> Histogram::CopySamples() const {
  auto snapshot = std::make_unique<SampleVector>(samples_->id(), ranges_);
  snapshot->Add(*samples_);
  return snapshot;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotSamples() const {
  return CopySamples();
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotDelta() {
  std::unique_ptr<SampleVector> snapshot = CopySamples();
  if (!logged_samples_) {
    // What is returned must be exactly what became logged: a second read of
    // the live samples could hold samples the next delta reports again.
    logged_samples_ = std::move(snapshot);
    snapshot = std::make_unique<SampleVector>(samples_->id(), ranges_);
    snapshot->Add(*logged_samples_);
    return snapshot;
  }
  snapshot->Subtract(*logged_samples_);
  logged_samples_->Add(*snapshot);
  return snapshot;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotFinalDelta() {
  final_delta_created_ = true;
  std::unique_ptr<SampleVector> snapshot = CopySamples();
  if (logged_samples_)
    snapshot->Subtract(*logged_samples_);
  return snapshot;
}

void Histogram::WriteHTML(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl("<br>", output);
  output->append("</PRE>");
}

void Histogram::WriteAscii(std::string* output) const {
  WriteAsciiImpl("\n", output);
}

void Histogram::WriteAsciiImpl(const char* newline, std::string* output) const {
  std::unique_ptr<SampleVector> snapshot = CopySamples();
  const Count total = snapshot->TotalCount();
  const double mean =
      total != 0 ? static_cast<double>(snapshot->sum()) / total : 0.0;
  WriteAsciiHeader(total, &mean, output);
  output->append(newline);
  // Without samples there is no peak to scale bars by, nor a share of them.
  if (total == 0)
    return;

  const uint32_t bucket_count = GetBucketCount();
  double peak = 0;
  size_t label_width = 0;
  for (uint32_t i = 0; i < bucket_count; ++i) {
    const Count count = snapshot->GetCountAtIndex(i);
    peak = std::max(peak, GetBucketSize(count, i));
    if (count != 0)
      label_width = std::max(label_width, GetAsciiBucketRange(i).size());
  }
  label_width += 2;

  int64_t earlier = 0;
  for (uint32_t i = 0; i < bucket_count; ++i) {
    const Count count = snapshot->GetCountAtIndex(i);
    if (count == 0 && !PrintEmptyBucket(i))
      continue;
    const std::string label = GetAsciiBucketRange(i);
    output->append(label);
    if (label.size() < label_width)
      output->append(label_width - label.size(), ' ');
    if (count == 0 && i + 1 < bucket_count &&
        snapshot->GetCountAtIndex(i + 1) == 0) {
      while (i + 1 < bucket_count && snapshot->GetCountAtIndex(i + 1) == 0)
        ++i;
      output->append("... ");
      output->append(newline);
      continue;
    }
    WriteAsciiBar(GetBucketSize(count, i), peak, output);
    AppendFormat(output, " (%d = %3.1f%%)", count, 100.0 * count / total);
    if (i != 0)
      AppendFormat(output, " {%3.1f%%}", 100.0 * earlier / total);
    output->append(newline);
    earlier += count;
  }
}

void Histogram::SerializeInfo(BinaryWriter* writer) const {
  writer->WriteString(histogram_name());
  writer->WriteUint32(static_cast<uint32_t>(flags()));
  writer->WriteUint32(static_cast<uint32_t>(declared_min_));
  writer->WriteUint32(static_cast<uint32_t>(declared_max_));
  writer->WriteUint32(GetBucketCount());
  writer->WriteUint32(ranges_->checksum());
}

void Histogram::GetParameters(DictionaryValue* parameters) const {
  parameters->SetString("type", HistogramTypeToString(GetHistogramType()));
  parameters->SetInteger("min", declared_min_);
  parameters->SetInteger("max", declared_max_);
  parameters->SetInteger("bucket_count",
                         static_cast<int32_t>(GetBucketCount()));
}

void Histogram::GetCountAndBucketData(Count* count, int64_t* sum,
                                      ListValue* buckets) const {
  std::unique_ptr<SampleVector> snapshot = CopySamples();
  *count = snapshot->TotalCount();
  *sum = snapshot->sum();
  const uint32_t bucket_count = GetBucketCount();
  for (uint32_t i = 0; i < bucket_count; ++i) {
    const Count bucket = snapshot->GetCountAtIndex(i);
    if (bucket <= 0)
      continue;
    auto entry = MakeValue<DictionaryValue>();
    entry->SetInteger("low", GetRange(i));
    if (i + 1 != bucket_count)
      entry->SetInteger("high", GetRange(i + 1));
    entry->SetInteger("count", bucket);
    buckets->Append(std::move(entry));
  }
}

HistogramBase::Sample Histogram::GetRange(size_t i) const {
  return ranges_->range(i);
}

uint32_t Histogram::GetBucketCount() const {
  return static_cast<uint32_t>(ranges_->bucket_count());
}

bool Histogram::PrintEmptyBucket(uint32_t) const {
  return true;
}

double Histogram::GetBucketSize(Count current, uint32_t index) const {
  constexpr double kWidestCountedWidth = 5;
  const double width =
      static_cast<double>(GetRange(index + 1)) - GetRange(index);
  return current / std::min(width, kWidestCountedWidth);
}

std::string Histogram::GetAsciiBucketRange(uint32_t index) const {
  return FormatString("%d", GetRange(index));
}

}  // namespace base
