#ifndef BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_

namespace base {

class TraceEvent;

// Looks at each event of the categories its configuration names, before it
// is recorded.
class TraceEventFilter {
 public:
  TraceEventFilter() = default;
  TraceEventFilter(const TraceEventFilter&) = delete;
  TraceEventFilter& operator=(const TraceEventFilter&) = delete;
  virtual ~TraceEventFilter() = default;

  // Whether the event is kept.
  virtual bool FilterTraceEvent(const TraceEvent& event) const = 0;
  // A complete event ended.
  virtual void EndEvent(const char* category_group_name,
                        const char* event_name) const {}
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
