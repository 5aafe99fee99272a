#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <cstdint>

namespace base {

// Identifies an event opened by `TraceLog::AddEvent`; 0 is no event.
using TraceEventHandle = uint64_t;

// A category group records while its enabled byte has any of these bits.
inline constexpr uint8_t kCategoryGroupEnabledMask = 0x19;
// A complete event: opened now, its duration closed later.
inline constexpr char kTracePhaseComplete = 'X';
// Flags of task flow events.
inline constexpr uint32_t kTraceFlagFlowOut = 0x206;
inline constexpr uint32_t kTraceFlagFlowIn = 0x106;
// Types of event arguments; a string argument's value holds its pointer.
inline constexpr uint8_t kTraceArgumentInt = 1;
inline constexpr uint8_t kTraceArgumentString = 2;

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

 private:
  constexpr TraceLog() = default;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
