#include "base/features/feature_reader.h"

#include <algorithm>

#include "base/logging.h"

namespace base {

FeatureReader::~FeatureReader() = default;

bool IsValidFeatureName(StringSlice name) {
  if (name.empty())
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
  });
}

void LogInvalidFeatureName(StringSlice name, const char* source) {
  // The name comes from outside: keep control bytes and non-ASCII out of
  // the log line.
  std::string printable = name.AsString();
  for (char& c : printable) {
    const unsigned char unit = static_cast<unsigned char>(c);
    if (unit < 0x20 || unit > 0x7E)
      c = '?';
  }
  LOG(WARNING) << "Ignored the feature name \"" << printable << "\" from "
               << source << ": only a-z, 0-9, \"-\" and \"_\" are allowed.";
}

}  // namespace base
