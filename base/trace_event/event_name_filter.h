#ifndef BASE_TRACE_EVENT_EVENT_NAME_FILTER_H_
#define BASE_TRACE_EVENT_EVENT_NAME_FILTER_H_

#include <cstddef>
#include <string>
#include <unordered_set>

#include "base/trace_event/trace_event_filter.h"

namespace base {

// Keeps the events whose name is on its list.
class EventNameFilter : public TraceEventFilter {
 public:
  struct NameHash {
    // 64-bit FNV-1a.
    size_t operator()(const std::string& name) const;
  };
  using EventNamesWhitelist = std::unordered_set<std::string, NameHash>;

  explicit EventNameFilter(EventNamesWhitelist whitelist);
  ~EventNameFilter() override;

  bool FilterTraceEvent(const TraceEvent& event) const override;

 private:
  const EventNamesWhitelist whitelist_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_EVENT_NAME_FILTER_H_
