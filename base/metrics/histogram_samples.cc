#include "base/metrics/histogram_samples.h"

#include <atomic>
#include <climits>
#include <cstring>

#include "base/binary_reader.h"
#include "base/binary_writer.h"

namespace base {

namespace {

// No entry can end at INT32_MIN, so that bit pattern, read as a maximum, is
// the 2^31 that a sparse entry of INT32_MAX ends at.
int64_t DecodeMaximum(uint32_t bits) {
  const int32_t maximum = static_cast<int32_t>(bits);
  return maximum == INT32_MIN ? int64_t{1} << 31 : maximum;
}

bool ReadInt64(BinaryReader* reader, int64_t* value) {
  uint32_t low = 0;
  uint32_t high = 0;
  if (!reader->ReadUint32(&low) || !reader->ReadUint32(&high))
    return false;
  *value = static_cast<int64_t>((uint64_t{high} << 32) | low);
  return true;
}

// Triples read from a serialised set; the first one at once, each further
// one on `Next`. A triple with a field missing ends the walk.
class PickleSampleIterator : public SampleCountIterator {
 public:
  explicit PickleSampleIterator(BinaryReader* reader) : reader_(reader) {
    Next();
  }

  bool Done() const override { return done_; }

  void Next() override {
    uint32_t minimum = 0;
    uint32_t maximum = 0;
    uint32_t count = 0;
    done_ = !reader_->ReadUint32(&minimum) || !reader_->ReadUint32(&maximum) ||
            !reader_->ReadUint32(&count);
    minimum_ = static_cast<int32_t>(minimum);
    maximum_ = DecodeMaximum(maximum);
    count_ = static_cast<int32_t>(count);
  }

  void Get(HistogramBase::Sample* minimum, int64_t* maximum,
           HistogramBase::Count* count) const override {
    if (minimum)
      *minimum = minimum_;
    if (maximum)
      *maximum = maximum_;
    if (count)
      *count = count_;
  }

 private:
  BinaryReader* reader_;
  bool done_ = false;
  HistogramBase::Sample minimum_ = 0;
  int64_t maximum_ = 0;
  HistogramBase::Count count_ = 0;
};

}  // namespace

SampleCountIterator::~SampleCountIterator() = default;

bool SampleCountIterator::GetBucketIndex(size_t*) const {
  return false;
}

HistogramSamples::HistogramSamples(uint64_t id,
                                   HistogramSampleMetadata* external)
    : meta_(external ? external : &local_meta_) {
  std::atomic_ref<uint64_t> stored_id(meta_->id);
  uint64_t expected = 0;
  stored_id.compare_exchange_strong(expected, id);
}

HistogramSamples::~HistogramSamples() = default;

uint64_t HistogramSamples::id() const {
  return std::atomic_ref<uint64_t>(meta_->id).load(std::memory_order_relaxed);
}

int64_t HistogramSamples::sum() const {
  return std::atomic_ref<int64_t>(meta_->sum).load(std::memory_order_relaxed);
}

HistogramBase::Count HistogramSamples::redundant_count() const {
  return std::atomic_ref<int32_t>(meta_->redundant_count)
      .load(std::memory_order_relaxed);
}

void HistogramSamples::Add(const HistogramSamples& other) {
  IncreaseSumAndCount(other.sum(), other.redundant_count());
  std::unique_ptr<SampleCountIterator> iterator = other.Iterator();
  AddSubtractImpl(iterator.get(), ADD);
}

bool HistogramSamples::AddFromPickle(BinaryReader* reader) {
  int64_t sum = 0;
  uint32_t redundant_count = 0;
  if (!ReadInt64(reader, &sum) || !reader->ReadUint32(&redundant_count))
    return false;
  IncreaseSumAndCount(sum, static_cast<int32_t>(redundant_count));
  PickleSampleIterator iterator(reader);
  return AddSubtractImpl(&iterator, ADD);
}

void HistogramSamples::Subtract(const HistogramSamples& other) {
  IncreaseSumAndCount(-other.sum(), -other.redundant_count());
  std::unique_ptr<SampleCountIterator> iterator = other.Iterator();
  AddSubtractImpl(iterator.get(), SUBTRACT);
}

bool HistogramSamples::Serialize(BinaryWriter* writer) const {
  const uint64_t sum_bits = static_cast<uint64_t>(sum());
  writer->WriteUint32(static_cast<uint32_t>(sum_bits));
  writer->WriteUint32(static_cast<uint32_t>(sum_bits >> 32));
  writer->WriteUint32(static_cast<uint32_t>(redundant_count()));
  for (std::unique_ptr<SampleCountIterator> it = Iterator(); !it->Done();
       it->Next()) {
    HistogramBase::Sample minimum = 0;
    int64_t maximum = 0;
    HistogramBase::Count count = 0;
    it->Get(&minimum, &maximum, &count);
    writer->WriteUint32(static_cast<uint32_t>(minimum));
    writer->WriteUint32(static_cast<uint32_t>(maximum));
    writer->WriteUint32(static_cast<uint32_t>(count));
  }
  return true;
}

}  // namespace base
