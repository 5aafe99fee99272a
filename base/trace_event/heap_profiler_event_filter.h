#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_

#include "base/trace_event/trace_event_filter.h"

namespace base {

// Keeps the calling thread's pseudo stack of trace events for the heap
// profiler: a begin pushes a frame, its end pops it. Keeps every event.
// Acts only while allocation contexts are captured as a pseudo stack.
class HeapProfilerEventFilter : public TraceEventFilter {
 public:
  HeapProfilerEventFilter();
  ~HeapProfilerEventFilter() override;

  bool FilterTraceEvent(const TraceEvent& event) const override;
  void EndEvent(const char* category_group_name,
                const char* event_name) const override;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_
