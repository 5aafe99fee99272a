#include "base/trace_event/event_filter_config.h"

#include <utility>

#include "base/strings/pattern_match.h"
#include "base/strings/string_tokenizer.h"

namespace base {

namespace {

bool MatchesAny(StringSlice category,
                const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    if (MatchPatternUtf8(category, pattern))
      return true;
  }
  return false;
}

}  // namespace

EventFilterConfig::EventFilterConfig(std::string predicate_name)
    : predicate_name_(std::move(predicate_name)) {}

EventFilterConfig::EventFilterConfig(const EventFilterConfig& other) {
  *this = other;
}

EventFilterConfig& EventFilterConfig::operator=(
    const EventFilterConfig& other) {
  if (this == &other)
    return *this;
  predicate_name_ = other.predicate_name_;
  included_categories_ = other.included_categories_;
  excluded_categories_ = other.excluded_categories_;
  args_.reset();
  if (other.args_)
    args_ = DictionaryValue::From(other.args_->DeepCopyOwned());
  return *this;
}

EventFilterConfig::~EventFilterConfig() = default;

bool EventFilterConfig::IsCategoryGroupEnabled(
    StringSlice category_group) const {
  StringTokenizer categories(category_group, ",");
  while (categories.GetNext()) {
    const StringSlice category = categories.token_slice();
    if (MatchesAny(category, excluded_categories_))
      return false;
    if (MatchesAny(category, included_categories_))
      return true;
  }
  return false;
}

bool EventFilterConfig::GetArgAsSet(
    StringSlice name, std::unordered_set<std::string>* values) const {
  if (!args_)
    return false;
  const Value* value = nullptr;
  const ListValue* list = nullptr;
  if (!args_->GetByKey(name, &value) || !value->GetAsList(&list))
    return false;
  for (size_t i = 0; i < list->GetSize(); ++i) {
    const Value* item = nullptr;
    std::string text;
    if (list->Get(i, &item) && item->GetAsString(&text))
      values->insert(std::move(text));
  }
  return true;
}

void EventFilterConfig::AddIncludedCategory(StringSlice pattern) {
  included_categories_.push_back(pattern.AsString());
}

void EventFilterConfig::AddExcludedCategory(StringSlice pattern) {
  excluded_categories_.push_back(pattern.AsString());
}

void EventFilterConfig::SetArgs(DictionaryValueOwner args) {
  args_ = std::move(args);
}

}  // namespace base
