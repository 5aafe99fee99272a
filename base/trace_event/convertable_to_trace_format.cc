#include "base/trace_event/convertable_to_trace_format.h"

#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {

void ConvertableToTraceFormat::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  overhead->Add(kOverheadUnknownConvertable, 1, sizeof(*this), sizeof(*this));
}

}  // namespace base
