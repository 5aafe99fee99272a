#include "base/strings/placeholder_substitution.h"

#include <algorithm>

namespace base {

namespace {

template <typename CharT>
std::basic_string<CharT> Substitute(BasicStringSlice<CharT> format,
                                    const std::vector<std::basic_string<CharT>>& values,
                                    std::vector<size_t>* offsets) {
  size_t total = format.size();
  for (const auto& value : values)
    total += value.size();
  std::basic_string<CharT> output;
  output.reserve(total);

  std::vector<ReplacementOffset> recorded;
  const size_t size = format.size();
  for (size_t i = 0; i < size; ++i) {
    const CharT c = format[i];
    if (c != '$') {
      output.push_back(c);
      continue;
    }
    if (i + 1 == size)
      break;
    const CharT next = format[i + 1];
    if (next == '$') {
      // A run of n dollar signs yields n - 1.
      while (i + 1 < size && format[i + 1] == '$')
        output.push_back(format[++i]);
      continue;
    }
    ++i;
    if (next < '1' || next > '9')
      continue;
    const size_t index = static_cast<size_t>(next - '1');
    if (offsets) {
      const ReplacementOffset entry{index, output.size()};
      auto at = std::lower_bound(
          recorded.begin(), recorded.end(), entry,
          [](const ReplacementOffset& a, const ReplacementOffset& b) {
            return a.parameter < b.parameter;
          });
      recorded.insert(at, entry);
    }
    if (index < values.size())
      output += values[index];
  }
  if (offsets) {
    for (const ReplacementOffset& entry : recorded)
      offsets->push_back(entry.offset);
  }
  return output;
}

}  // namespace

std::string SubstitutePlaceholders(StringSlice format,
                                   const std::vector<std::string>& values,
                                   std::vector<size_t>* offsets) {
  return Substitute(format, values, offsets);
}

std::wstring SubstituteWidePlaceholders(const std::wstring& format,
                                        const std::vector<std::wstring>& values,
                                        std::vector<size_t>* offsets) {
  return Substitute(WideStringSlice(format), values, offsets);
}

}  // namespace base
