#include "base/features/list_feature_reader.h"

#include <cstdint>
#include <string>
#include <utility>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/values.h"

namespace base {

namespace {

constexpr int32_t kStoredStateOn = 1;
constexpr int32_t kStoredStateOff = 2;

// False for anything but "<name>@<1 or 2>" (pieces trimmed).
bool ParseStoredFeature(StringSlice text, std::string* name, bool* state) {
  const std::vector<std::string> pieces =
      SplitNarrowByChar(text, '@', TRIM_WHITESPACE, SPLIT_WANT_ALL);
  if (pieces.size() != 2)
    return false;
  int32_t number = 0;
  if (!StringToInt(pieces[1], &number) ||
      (number != kStoredStateOn && number != kStoredStateOff)) {
    return false;
  }
  *name = pieces[0];
  *state = number == kStoredStateOn;
  return true;
}

}  // namespace

ListFeatureReader::ListFeatureReader(const ListValue& list) : list_(list) {}

ListFeatureReader::~ListFeatureReader() = default;

void ListFeatureReader::ReadFeatures(
    std::vector<FeatureEntry>* overrides) const {
  for (size_t i = 0; i < list_.GetSize(); ++i) {
    const Value* element = nullptr;
    StringSlice text;
    std::string name;
    bool state = false;
    if (!list_.Get(i, &element) || !element->GetAsStringSlice(&text) ||
        !ParseStoredFeature(text, &name, &state)) {
      continue;
    }
    if (!IsValidFeatureName(name)) {
      LogInvalidFeatureName(name, "a stored feature list");
      continue;
    }
    overrides->push_back(FeatureEntry{std::move(name), state, false});
  }
}

}  // namespace base
