#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <cstdint>

#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_event_handle.h"

namespace base {

// A category group records while its enabled byte has any of these bits.
inline constexpr uint8_t kCategoryGroupEnabledMask = 0x19;
// Flags of task flow events: an id, made unique per process, and the flow's
// direction.
inline constexpr uint32_t kTraceFlagsTaskFlowOut =
    kTraceFlagHasId | kTraceFlagMangleId | kTraceFlagFlowOut;
inline constexpr uint32_t kTraceFlagsTaskFlowIn =
    kTraceFlagHasId | kTraceFlagMangleId | kTraceFlagFlowIn;
// Types of event arguments; a string argument's value holds its pointer.
inline constexpr uint8_t kTraceArgumentInt = kTraceValueTypeInt;
inline constexpr uint8_t kTraceArgumentString = kTraceValueTypeString;

// The process's trace log. Until tracing can be configured, every category
// group is disabled, so callers that check the enabled byte never add events.
class TraceLog {
 public:
  static TraceLog* GetInstance();

  // The group's enabled-state byte, valid for the life of the process;
  // callers cache the pointer.
  static const uint8_t* GetCategoryEnabledFlag(const char* category_group);

  // `timestamp_us` is the monotonic tick clock in microseconds. Argument
  // arrays hold `argument_count` (0 to 2) entries.
  TraceEventHandle AddEvent(char phase, const uint8_t* category_enabled,
                            const char* name, uint64_t id, uint64_t bind_id,
                            uint32_t thread_id, int64_t timestamp_us,
                            int argument_count, const char* const* names,
                            const uint8_t* types, const uint64_t* values,
                            uint32_t flags);

  // Closes a complete event; its duration runs up to now.
  void CompleteEventDuration(const uint8_t* category_enabled, const char* name,
                             TraceEventHandle handle);

  // The process the events and memory dumps are of, and its one-step 64-bit
  // FNV-1a hash, which makes ids unique per process.
  int32_t process_id() const;
  uint64_t process_id_hash() const;

 private:
  constexpr TraceLog() = default;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
