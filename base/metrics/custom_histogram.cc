#include "base/metrics/custom_histogram.h"

#include "base/binary_writer.h"

namespace base {

HistogramType CustomHistogram::GetHistogramType() const {
  return CUSTOM_HISTOGRAM;
}

void CustomHistogram::SerializeInfo(BinaryWriter* writer) const {
  Histogram::SerializeInfo(writer);
  for (uint32_t i = 1; i < GetBucketCount(); ++i)
    writer->WriteUint32(static_cast<uint32_t>(GetRange(i)));
}

double CustomHistogram::GetBucketSize(Count current, uint32_t) const {
  return current;
}

}  // namespace base
