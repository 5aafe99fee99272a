#ifndef BASE_JSON_JSON_READER_H_
#define BASE_JSON_JSON_READER_H_

#include <cstdint>
#include <string>

#include "base/strings/string_slice.h"
#include "base/values.h"

namespace base {

// Reader options (bits).
inline constexpr int32_t kJsonAllowTrailingCommas = 1;
// Malformed UTF-8 and forbidden code points inside strings, raw or escaped,
// become U+FFFD.
inline constexpr int32_t kJsonReplaceInvalidCharacters = 4;

// Reader error codes.
enum JsonErrorCode : int32_t {
  kJsonNoError = 0,
  kJsonInvalidEscape = 1,
  kJsonSyntaxError = 2,
  kJsonUnexpectedToken = 3,
  kJsonTrailingComma = 4,
  kJsonTooMuchNesting = 5,
  kJsonUnexpectedDataAfterRoot = 6,
  kJsonUnsupportedEncoding = 7,
  kJsonUnquotedDictionaryKey = 8,
};

// Containers nest at most this deep minus one.
inline constexpr int kJsonMaxDepth = 200;

// Null on any error.
ValueOwner ReadJson(StringSlice json);

// On failure, `error_code` gets the code and `error_message` the text with
// its line and column; both may be null.
ValueOwner ReadJsonAndReturnError(StringSlice json,
                                  int32_t options,
                                  int32_t* error_code,
                                  std::string* error_message);

// Empty for 0 and for unknown codes.
std::string JsonErrorCodeToMessage(int32_t error_code);

// The payload handed to the installer: base64 around one JSON object, with
// trailing whitespace and noise around the object allowed. Null unless the
// root is a dictionary.
DictionaryValueOwner ParseJsonText(const std::string& payload);

}  // namespace base

#endif  // BASE_JSON_JSON_READER_H_
