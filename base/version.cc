#include "base/version.h"

#include <utility>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"

namespace base {

Version::Version(const std::string& text) {
  std::vector<uint32_t> parsed;
  if (ParseComponents(text, &parsed))
    components_ = std::move(parsed);
}

Version::~Version() = default;

bool Version::IsValid() const {
  return !components_.empty();
}

int Version::CompareTo(const Version& other) const {
  return CompareComponents(components_, other.components_);
}

// static
bool Version::ParseComponents(const std::string& text,
                              std::vector<uint32_t>* components) {
  if (text.empty())
    return false;
  const std::vector<std::string> pieces =
      SplitString(text, ".", KEEP_WHITESPACE, SPLIT_WANT_ALL);
  for (const std::string& piece : pieces) {
    // The decimal parser skips a "+"; a version component may not carry one.
    if (!piece.empty() && piece[0] == '+')
      return false;
    uint32_t value = 0;
    if (!StringToUintImpl(piece.data(), piece.data() + piece.size(), &value))
      return false;
    // Leading zeros are tolerated in later components only ("1.02" is 1.2).
    if (components->empty() && piece.size() > 1 && piece[0] == '0')
      return false;
    components->push_back(value);
  }
  return !components->empty();
}

// static
int Version::CompareComponents(const std::vector<uint32_t>& a,
                               const std::vector<uint32_t>& b) {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    if (a[i] != b[i])
      return a[i] > b[i] ? 1 : -1;
  }
  for (size_t i = common; i < a.size(); ++i) {
    if (a[i] != 0)
      return 1;
  }
  for (size_t i = common; i < b.size(); ++i) {
    if (b[i] != 0)
      return -1;
  }
  return 0;
}

}  // namespace base
