#ifndef BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_
#define BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_

#include <string>
#include <unordered_set>
#include <vector>

#include "base/strings/string_slice.h"
#include "base/values.h"

namespace base {

// Predicate names the trace log makes filters of.
inline constexpr char kEventWhitelistPredicate[] = "event_whitelist_predicate";
inline constexpr char kHeapProfilerPredicate[] = "heap_profiler_predicate";

// Which events one event filter sees: categories by wildcard pattern, and
// the filter's own arguments.
class EventFilterConfig {
 public:
  explicit EventFilterConfig(std::string predicate_name);
  EventFilterConfig(const EventFilterConfig& other);
  EventFilterConfig& operator=(const EventFilterConfig& other);
  ~EventFilterConfig();

  // The first category of the group that an excluded pattern matches says
  // no; the first that an included pattern matches says yes; none: no.
  bool IsCategoryGroupEnabled(StringSlice category_group) const;

  // The string items of the list argument `name`; false when there are no
  // arguments, no such argument, or it is not a list.
  bool GetArgAsSet(StringSlice name,
                   std::unordered_set<std::string>* values) const;

  void AddIncludedCategory(StringSlice pattern);
  void AddExcludedCategory(StringSlice pattern);
  void SetArgs(DictionaryValueOwner args);

  const std::string& predicate_name() const { return predicate_name_; }

 private:
  std::string predicate_name_;
  std::vector<std::string> included_categories_;
  std::vector<std::string> excluded_categories_;
  DictionaryValueOwner args_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_
