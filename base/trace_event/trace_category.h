#ifndef BASE_TRACE_EVENT_TRACE_CATEGORY_H_
#define BASE_TRACE_EVENT_TRACE_CATEGORY_H_

#include <cstdint>

namespace base {

// One entry of the trace log's category table: the state byte whose address
// call sites keep, which event filters apply, and the category-group name
// ("a,b" holds two categories).
struct TraceCategory {
  uint8_t state;
  // Bit i: filter i of the event-filter list applies.
  uint32_t filter_bitmap;
  const char* name;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_CATEGORY_H_
