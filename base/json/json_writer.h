#ifndef BASE_JSON_JSON_WRITER_H_
#define BASE_JSON_JSON_WRITER_H_

#include <cstdint>
#include <string>

#include "base/values.h"

namespace base {

// Writer options (bits).
inline constexpr int32_t kJsonWriteOmitBinaryValues = 1;
// Integral doubles within the 64-bit range are written as integers.
inline constexpr int32_t kJsonWriteOmitDoubleTypePreservation = 2;
// "\r\n" line ends and three spaces per level.
inline constexpr int32_t kJsonWritePrettyPrint = 4;

// Replaces `*json` with the text of `value`. False when a binary value was met
// without kJsonWriteOmitBinaryValues; what was written stays.
bool WriteJson(const Value& value, std::string* json);
bool WriteJsonWithOptions(const Value& value,
                          int32_t options,
                          std::string* json);

}  // namespace base

#endif  // BASE_JSON_JSON_WRITER_H_
