#ifndef BASE_TRACE_EVENT_CONVERTABLE_TO_TRACE_FORMAT_H_
#define BASE_TRACE_EVENT_CONVERTABLE_TO_TRACE_FORMAT_H_

#include <string>

namespace base {

class TraceEventMemoryOverhead;

// A structured trace-event argument that writes itself as JSON only when the
// trace is written out.
class ConvertableToTraceFormat {
 public:
  ConvertableToTraceFormat() = default;
  ConvertableToTraceFormat(const ConvertableToTraceFormat&) = delete;
  ConvertableToTraceFormat& operator=(const ConvertableToTraceFormat&) = delete;
  virtual ~ConvertableToTraceFormat() = default;

  // Appends one JSON value.
  virtual void AppendAsTraceFormat(std::string* out) const = 0;
  // By default one object of unknown type, of this base's size.
  virtual void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_CONVERTABLE_TO_TRACE_FORMAT_H_
