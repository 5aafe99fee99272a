#include "base/metrics/histogram_base.h"

#include <iterator>

#include "base/closure.h"
#include "base/hash/md5.h"
#include "base/metrics/histogram_registry.h"
#include "base/strings/string_format.h"

namespace base {

namespace {

constexpr const char* kTypeNames[] = {
    "HISTOGRAM",        "LINEAR_HISTOGRAM", "BOOLEAN_HISTOGRAM",
    "CUSTOM_HISTOGRAM", "SPARSE_HISTOGRAM",
};

constexpr int kBarWidth = 72;

}  // namespace

const char* HistogramTypeToString(uint32_t type) {
  return type < std::size(kTypeNames) ? kTypeNames[type] : "UNKNOWN";
}

uint64_t HashHistogramName(StringSlice name) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, name);
  uint8_t digest[kMd5DigestSize];
  Md5Final(digest, &context);
  uint64_t hash = 0;
  for (int i = 0; i < 8; ++i)
    hash = (hash << 8) | digest[i];
  return hash;
}

HistogramBase::HistogramBase(StringSlice name) : name_(name.AsString()) {}

HistogramBase::~HistogramBase() = default;

void HistogramBase::SetFlags(int32_t flags) {
  flags_.fetch_or(flags, std::memory_order_relaxed);
}

void HistogramBase::ClearFlags(int32_t flags) {
  flags_.fetch_and(~flags, std::memory_order_relaxed);
}

void HistogramBase::Add(Sample value) {
  AddCount(value, 1);
}

uint32_t HistogramBase::FindCorruption(const HistogramSamples&) const {
  return 0;
}

void HistogramBase::RunRegisteredCallback(Sample value) const {
  // The copy holds a reference, so the callback may run outside the
  // registry's lock.
  HistogramRegistry::SampleCallback callback =
      HistogramRegistry::FindSampleCallback(name_);
  if (callback)
    callback.Run(value);
}

void HistogramBase::WriteAsciiHeader(Count count, const double* mean,
                                     std::string* output) const {
  AppendFormat(output, "Histogram: %s recorded %d samples", name_.c_str(),
               count);
  if (mean && count != 0)
    AppendFormat(output, ", mean = %.1f", *mean);
  if (flags() != 0)
    AppendFormat(output, " (flags = 0x%x)", static_cast<unsigned>(flags()));
}

// static
void HistogramBase::WriteAsciiBar(double size, double peak,
                                  std::string* output) {
  const int dashes = static_cast<int>(kBarWidth * size / peak + 0.5);
  output->append(dashes, '-');
  output->push_back('O');
  output->append(kBarWidth - dashes, ' ');
}

}  // namespace base
