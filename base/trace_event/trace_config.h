#ifndef BASE_TRACE_EVENT_TRACE_CONFIG_H_
#define BASE_TRACE_EVENT_TRACE_CONFIG_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/strings/string_slice.h"
#include "base/trace_event/event_filter_config.h"

namespace base {

// Which trace categories record, which event filters run, and how memory
// dumps behave while tracing. Categories are matched by wildcard pattern;
// those named "disabled-by-default-..." record only when a disabled pattern
// names them.
class TraceConfig {
 public:
  struct MemoryDumpTrigger {
    uint32_t min_time_between_dumps_ms;
    uint32_t level_of_detail;
    uint32_t trigger_type;
  };
  static constexpr uint32_t kDefaultBreakdownThresholdBytes = 1024;

  TraceConfig();
  TraceConfig(const TraceConfig& other);
  TraceConfig& operator=(const TraceConfig& other);
  ~TraceConfig();

  // Back to the defaults: every list empty.
  void Clear();

  // One category: a disabled pattern names it, or it is not a
  // "disabled-by-default-" one and an included pattern names it.
  bool IsCategoryEnabled(StringSlice category) const;
  // A group of categories joined by ",".
  bool IsCategoryGroupEnabled(StringSlice category_group) const;

  void AddIncludedCategory(StringSlice pattern);
  void AddDisabledCategory(StringSlice pattern);
  void AddExcludedCategory(StringSlice pattern);
  void AddEventFilter(EventFilterConfig filter);
  void AddAllowedDumpLevel(int level);
  void AddMemoryDumpTrigger(MemoryDumpTrigger trigger);

  int record_mode() const { return record_mode_; }
  const std::vector<EventFilterConfig>& event_filters() const {
    return event_filters_;
  }
  uint32_t heap_breakdown_threshold_bytes() const {
    return heap_breakdown_threshold_bytes_;
  }
  const std::set<int>& allowed_dump_levels() const {
    return allowed_dump_levels_;
  }
  const std::vector<MemoryDumpTrigger>& memory_dump_triggers() const {
    return dump_triggers_;
  }

 private:
  int record_mode_ = 0;
  bool enable_system_trace_ = false;
  bool enable_argument_filter_ = false;
  std::set<int> allowed_dump_levels_;
  std::vector<MemoryDumpTrigger> dump_triggers_;
  uint32_t heap_breakdown_threshold_bytes_ = kDefaultBreakdownThresholdBytes;
  std::vector<std::string> included_categories_;
  std::vector<std::string> disabled_categories_;
  std::vector<std::string> excluded_categories_;
  std::vector<std::string> synthetic_delays_;
  std::vector<EventFilterConfig> event_filters_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_CONFIG_H_
