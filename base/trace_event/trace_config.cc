#include "base/trace_event/trace_config.h"

#include <utility>

#include "base/strings/pattern_match.h"
#include "base/strings/string_tokenizer.h"

namespace base {

namespace {

constexpr char kDisabledByDefaultPattern[] = "disabled-by-default-*";

bool MatchesAny(StringSlice category,
                const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    if (MatchPatternUtf8(category, pattern))
      return true;
  }
  return false;
}

bool IsDisabledByDefault(StringSlice category) {
  return MatchPatternUtf8(category, kDisabledByDefaultPattern);
}

}  // namespace

TraceConfig::TraceConfig() = default;
TraceConfig::TraceConfig(const TraceConfig& other) = default;
TraceConfig& TraceConfig::operator=(const TraceConfig& other) = default;
TraceConfig::~TraceConfig() = default;

void TraceConfig::Clear() {
  *this = TraceConfig();
}

bool TraceConfig::IsCategoryEnabled(StringSlice category) const {
  if (MatchesAny(category, disabled_categories_))
    return true;
  if (IsDisabledByDefault(category))
    return false;
  return MatchesAny(category, included_categories_);
}

bool TraceConfig::IsCategoryGroupEnabled(StringSlice category_group) const {
  bool has_default_category = false;
  StringTokenizer first_pass(category_group, ",");
  while (first_pass.GetNext()) {
    const StringSlice category = first_pass.token_slice();
    if (IsCategoryEnabled(category))
      return true;
    if (!IsDisabledByDefault(category))
      has_default_category = true;
  }

  // A group is excluded while its categories keep matching excluded
  // patterns; a category outside them (and not disabled by default) ends
  // the exclusion, and the pass stops at the first category that leaves the
  // group unexcluded.
  bool excluded = false;
  StringTokenizer second_pass(category_group, ",");
  while (second_pass.GetNext()) {
    const StringSlice category = second_pass.token_slice();
    bool matched = false;
    for (const std::string& pattern : excluded_categories_) {
      if (MatchPatternUtf8(category, pattern)) {
        excluded = true;
        matched = true;
        break;
      }
      if (!IsDisabledByDefault(category))
        excluded = false;
    }
    if (!matched && !excluded)
      break;
  }
  return !excluded && has_default_category && included_categories_.empty();
}

void TraceConfig::AddIncludedCategory(StringSlice pattern) {
  included_categories_.push_back(pattern.AsString());
}

void TraceConfig::AddDisabledCategory(StringSlice pattern) {
  disabled_categories_.push_back(pattern.AsString());
}

void TraceConfig::AddExcludedCategory(StringSlice pattern) {
  excluded_categories_.push_back(pattern.AsString());
}

void TraceConfig::AddEventFilter(EventFilterConfig filter) {
  event_filters_.push_back(std::move(filter));
}

void TraceConfig::AddAllowedDumpLevel(int level) {
  allowed_dump_levels_.insert(level);
}

void TraceConfig::AddMemoryDumpTrigger(MemoryDumpTrigger trigger) {
  dump_triggers_.push_back(trigger);
}

}  // namespace base
