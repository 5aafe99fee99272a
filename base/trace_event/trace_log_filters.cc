// The trace log's event filters: made once from the configuration's filter
// list when filtering starts, and asked about every event of a category
// they apply to, without the log's lock.

#include <atomic>
#include <memory>
#include <string>
#include <unordered_set>

#include "base/logging.h"
#include "base/trace_event/event_name_filter.h"
#include "base/trace_event/heap_profiler_event_filter.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

// Filter i is made from configuration i; an empty place keeps no event.
// Made once, never freed: events are filtered without the lock.
constinit std::atomic<TraceEventFilter*> g_filters[TraceLog::kMaxEventFilters];
constinit std::atomic<size_t> g_filter_count{0};

}  // namespace

void TraceLog::CreateFilters() {
  if (!(modes_ & kFilteringMode) ||
      g_filter_count.load(std::memory_order_relaxed) != 0) {
    return;
  }
  const std::vector<EventFilterConfig>& configs =
      trace_config_.event_filters();
  size_t count = 0;
  for (; count < configs.size() && count < kMaxEventFilters; ++count) {
    // Kept for the life of the process, as events are filtered unlocked.
    g_filters[count].store(CreateFilter(configs[count]).release(),
                           std::memory_order_release);
  }
  g_filter_count.store(count, std::memory_order_release);
}

std::unique_ptr<TraceEventFilter> TraceLog::CreateFilter(
    const EventFilterConfig& config) {
  const std::string& predicate = config.predicate_name();
  if (predicate == kEventWhitelistPredicate) {
    std::unordered_set<std::string> names;
    if (!config.GetArgAsSet("event_name_whitelist", &names)) {
      LOG(ERROR) << "Event filter \"" << predicate
                 << "\" has no event_name_whitelist; it keeps no event";
      return nullptr;
    }
    return std::make_unique<EventNameFilter>(
        EventNameFilter::EventNamesWhitelist(names.begin(), names.end()));
  }
  if (predicate == kHeapProfilerPredicate)
    return std::make_unique<HeapProfilerEventFilter>();
  std::unique_ptr<TraceEventFilter> filter =
      filter_factory_ ? filter_factory_(predicate) : nullptr;
  if (!filter) {
    LOG(ERROR) << "Unknown event filter \"" << predicate
               << "\"; it keeps no event";
  }
  return filter;
}

bool TraceLog::FilterEvent(const TraceEvent& event) const {
  const uint32_t bitmap = std::atomic_ref<const uint32_t>(
                              event.category()->filter_bitmap)
                              .load(std::memory_order_acquire);
  const size_t count = g_filter_count.load(std::memory_order_acquire);
  bool kept = false;
  // Every filter sees the event, even after one kept it: the heap profiler's
  // keeps its stack in step.
  for (size_t i = 0; i < count; ++i) {
    if (!(bitmap & (1u << i)))
      continue;
    TraceEventFilter* filter = g_filters[i].load(std::memory_order_acquire);
    if (filter && filter->FilterTraceEvent(event))
      kept = true;
  }
  return kept;
}

void TraceLog::EndEventWithFilters(const uint8_t* category_enabled,
                                   const char* name) const {
  const TraceCategory* category = CategoryOf(category_enabled);
  const uint32_t bitmap =
      std::atomic_ref<const uint32_t>(category->filter_bitmap)
          .load(std::memory_order_acquire);
  const size_t count = g_filter_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    TraceEventFilter* filter = g_filters[i].load(std::memory_order_acquire);
    if ((bitmap & (1u << i)) && filter)
      filter->EndEvent(category->name, name);
  }
}

}  // namespace base
