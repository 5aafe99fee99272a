#ifndef BASE_JSON_STRING_ESCAPE_H_
#define BASE_JSON_STRING_ESCAPE_H_

#include <cstdint>
#include <string>

#include "base/strings/string_slice.h"

namespace base {

// Appends `utf8` to `output` as a quoted JSON string. Each invalid sequence
// and each noncharacter becomes U+FFFD and makes the result false. "<", U+2028
// and U+2029 are escaped too, so that the text can sit inside a script. Text of
// 2^31 bytes or more is refused: false, nothing appended.
bool EscapeJsonString(StringSlice utf8, std::string* output);

// Appends the escape of `code_point` when it needs one; false (and nothing
// appended) otherwise.
bool EscapeJsonSpecialChar(int32_t code_point, std::string* output);

}  // namespace base

#endif  // BASE_JSON_STRING_ESCAPE_H_
