#include "base/trace_event/event_name_filter.h"

#include <utility>

#include "base/trace_event/trace_event.h"

namespace base {

size_t EventNameFilter::NameHash::operator()(const std::string& name) const {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : name) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  return static_cast<size_t>(hash);
}

EventNameFilter::EventNameFilter(EventNamesWhitelist whitelist)
    : whitelist_(std::move(whitelist)) {}

EventNameFilter::~EventNameFilter() = default;

bool EventNameFilter::FilterTraceEvent(const TraceEvent& event) const {
  return event.name() && whitelist_.count(event.name()) != 0;
}

}  // namespace base
