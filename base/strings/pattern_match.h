#ifndef BASE_STRINGS_PATTERN_MATCH_H_
#define BASE_STRINGS_PATTERN_MATCH_H_

#include "base/strings/string_slice.h"

namespace base {

// Wildcard match of UTF-8 text: "*" matches any run, "?" zero or one code
// point, a backslash makes the next pattern character literal (a trailing
// backslash matches itself). Nesting of wildcards is bounded, so patterns with
// many wildcards may fail to match text they would match in theory.
bool MatchPatternUtf8(StringSlice text, StringSlice pattern);

}  // namespace base

#endif  // BASE_STRINGS_PATTERN_MATCH_H_
