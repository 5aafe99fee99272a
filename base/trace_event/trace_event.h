#ifndef BASE_TRACE_EVENT_TRACE_EVENT_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/trace_event/convertable_to_trace_format.h"

namespace base {

struct TraceCategory;
class TraceEventMemoryOverhead;

// Event phases.
inline constexpr char kTracePhaseBegin = 'B';
inline constexpr char kTracePhaseEnd = 'E';
inline constexpr char kTracePhaseComplete = 'X';
inline constexpr char kTracePhaseInstant = 'I';
inline constexpr char kTracePhaseMetadata = 'M';

// Event flags (bits).
inline constexpr uint32_t kTraceFlagCopy = 1;
inline constexpr uint32_t kTraceFlagHasId = 2;
inline constexpr uint32_t kTraceFlagMangleId = 4;
inline constexpr uint32_t kTraceFlagScopeProcess = 8;
inline constexpr uint32_t kTraceFlagScopeThread = 16;
inline constexpr uint32_t kTraceFlagScopeMask = 24;
inline constexpr uint32_t kTraceFlagAsyncTts = 64;
inline constexpr uint32_t kTraceFlagBindToEnclosing = 128;
inline constexpr uint32_t kTraceFlagFlowIn = 256;
inline constexpr uint32_t kTraceFlagFlowOut = 512;
inline constexpr uint32_t kTraceFlagHasProcessId = 2048;
inline constexpr uint32_t kTraceFlagHasLocalId = 4096;
inline constexpr uint32_t kTraceFlagHasGlobalId = 8192;

// Argument value types.
inline constexpr uint8_t kTraceValueTypeBool = 1;
inline constexpr uint8_t kTraceValueTypeUint = 2;
inline constexpr uint8_t kTraceValueTypeInt = 3;
inline constexpr uint8_t kTraceValueTypeDouble = 4;
inline constexpr uint8_t kTraceValueTypePointer = 5;
inline constexpr uint8_t kTraceValueTypeString = 6;
inline constexpr uint8_t kTraceValueTypeCopyString = 7;
inline constexpr uint8_t kTraceValueTypeConvertable = 8;

// One argument value; its type says which member holds it.
union TraceValue {
  bool as_bool;
  uint64_t as_uint;
  int64_t as_int;
  double as_double;
  const void* as_pointer;
  const char* as_string;
};

// Writes one argument value as JSON (not a convertable: it writes itself).
void AppendValueAsJSON(uint8_t type, TraceValue value, std::string* out);

// The record of one trace event as it lies in a trace-buffer chunk, with its
// JSON object and its one-line console form. A new record is empty: duration
// -1 (not set) and phase 'B'.
class TraceEvent {
 public:
  static constexpr int kMaxArguments = 2;

  // Given the category-group and event names, says whether the event's
  // arguments may be written: false writes them as "__stripped__"; true
  // with a name filter set writes only the names it accepts.
  using ArgumentNameFilter = std::function<bool(const char* argument_name)>;
  using ArgumentFilter = std::function<bool(const char* category_group_name,
                                            const char* event_name,
                                            ArgumentNameFilter* name_filter)>;

  TraceEvent();
  TraceEvent(const TraceEvent&) = delete;
  TraceEvent& operator=(const TraceEvent&) = delete;
  ~TraceEvent();

  // Takes at most two arguments; a convertable argument (type 8) takes its
  // object from `convertables`. With the copy flag the names, the scope and
  // string values are copied into the record, as are copied-string values
  // always.
  void Initialize(int32_t thread_id, int64_t timestamp,
                  int64_t thread_timestamp, char phase,
                  const TraceCategory* category, const char* name,
                  const char* scope, uint64_t id, uint64_t bind_id,
                  int argument_count, const char* const* argument_names,
                  const uint8_t* argument_types,
                  const TraceValue* argument_values,
                  std::unique_ptr<ConvertableToTraceFormat>* convertables,
                  uint32_t flags);
  // Takes over `other`'s fields, copies and convertables; `other` is left
  // empty.
  void MoveFrom(TraceEvent& other);
  // Drops the copies and convertables, keeping the rest; duration -1.
  void Reset();

  // Set when a complete event ends.
  void UpdateDuration(int64_t duration, int64_t thread_duration);

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);
  // `argument_filter` may be empty.
  void AppendAsJSON(std::string* out,
                    const ArgumentFilter& argument_filter) const;
  // name[category]{, arg: value}
  void AppendPrettyPrinted(std::string* out) const;

  int64_t timestamp() const { return timestamp_; }
  int64_t thread_timestamp() const { return thread_timestamp_; }
  int64_t duration() const { return duration_; }
  int64_t thread_duration() const { return thread_duration_; }
  const char* scope() const { return scope_; }
  uint64_t id() const { return id_; }
  uint64_t bind_id() const { return bind_id_; }
  const TraceCategory* category() const { return category_; }
  const char* name() const { return name_; }
  const char* argument_name(int i) const { return argument_names_[i]; }
  uint8_t argument_type(int i) const { return argument_types_[i]; }
  TraceValue argument_value(int i) const { return argument_values_[i]; }
  int32_t thread_id() const { return thread_id_; }
  uint32_t flags() const { return flags_; }
  char phase() const { return phase_; }
  const char* category_group_name() const;

 private:
  void CopyStrings(int argument_count);
  void AppendArgumentValue(int i, std::string* out) const;

  int64_t timestamp_ = 0;
  int64_t thread_timestamp_ = 0;
  int64_t duration_ = -1;
  int64_t thread_duration_ = 0;
  const char* scope_ = nullptr;
  uint64_t id_ = 0;
  TraceValue argument_values_[kMaxArguments] = {};
  const char* argument_names_[kMaxArguments] = {};
  std::unique_ptr<ConvertableToTraceFormat> convertables_[kMaxArguments];
  const TraceCategory* category_ = nullptr;
  const char* name_ = nullptr;
  std::unique_ptr<std::string> copied_strings_;
  // A process id instead, with kTraceFlagHasProcessId.
  int32_t thread_id_ = 0;
  uint32_t flags_ = 0;
  uint64_t bind_id_ = 0;
  uint8_t argument_types_[kMaxArguments] = {};
  char phase_ = kTracePhaseBegin;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_H_
