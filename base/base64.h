#ifndef BASE_BASE64_H_
#define BASE_BASE64_H_

#include <string>

#include "base/strings/string_slice.h"

namespace base {

// Decodes standard-alphabet base64 (RFC 4648) with its padding required: the
// length must be a multiple of 4, with at most two "=" at the very end, and
// nothing else than A-Z, a-z, 0-9, "+" and "/" before them (no whitespace).
// On failure returns false and leaves `output` untouched.
bool Base64Decode(StringSlice input, std::string* output);

}  // namespace base

#endif  // BASE_BASE64_H_
