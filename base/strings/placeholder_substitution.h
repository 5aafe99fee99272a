#ifndef BASE_STRINGS_PLACEHOLDER_SUBSTITUTION_H_
#define BASE_STRINGS_PLACEHOLDER_SUBSTITUTION_H_

#include <cstddef>
#include <string>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

// Where the value of placeholder "$<parameter + 1>" begins in the output.
struct ReplacementOffset {
  size_t parameter;
  size_t offset;
};

// Replaces "$1".."$9" by values[0..8]; "$$" yields "$", "$" followed by any
// other character (or by nothing) vanishes together with that character, and
// a placeholder without a value vanishes. When `offsets` is given, one output
// position per placeholder met is appended to it, ordered by parameter.
std::string SubstitutePlaceholders(StringSlice format,
                                   const std::vector<std::string>& values,
                                   std::vector<size_t>* offsets);
std::wstring SubstituteWidePlaceholders(const std::wstring& format,
                                        const std::vector<std::wstring>& values,
                                        std::vector<size_t>* offsets);

}  // namespace base

#endif  // BASE_STRINGS_PLACEHOLDER_SUBSTITUTION_H_
