#include "base/json/json_reader.h"

#include <cstring>

#include "base/base64.h"
#include "base/json/json_parser.h"

namespace base {

namespace {

constexpr const char* kErrorMessages[] = {
    "",
    "Invalid escape sequence.",
    "Syntax error.",
    "Unexpected token.",
    "Trailing comma not allowed.",
    "Too much nesting.",
    "Unexpected data after root element.",
    "Unsupported encoding. JSON must be UTF-8.",
    "Dictionary keys must be quoted.",
};

// What may trail the base64 payload.
constexpr char kPayloadTrailingWhitespace[] = "\t\n\v\f\r ";

}  // namespace

ValueOwner ReadJson(StringSlice json) {
  return ReadJsonAndReturnError(json, 0, nullptr, nullptr);
}

ValueOwner ReadJsonAndReturnError(StringSlice json,
                                  int32_t options,
                                  int32_t* error_code,
                                  std::string* error_message) {
  JsonParser parser(options);
  ValueOwner root = parser.Parse(json);
  if (!root) {
    if (error_code)
      *error_code = parser.error_code();
    if (error_message)
      *error_message = parser.ErrorMessage();
  }
  return root;
}

std::string JsonErrorCodeToMessage(int32_t error_code) {
  if (error_code < 0 ||
      error_code >= static_cast<int32_t>(std::size(kErrorMessages))) {
    return std::string();
  }
  return kErrorMessages[error_code];
}

DictionaryValueOwner ParseJsonText(const std::string& payload) {
  const size_t last_kept = payload.find_last_not_of(kPayloadTrailingWhitespace);
  const StringSlice encoded(payload.data(),
                            last_kept == std::string::npos ? 0 : last_kept + 1);
  std::string decoded;
  if (!Base64Decode(encoded, &decoded))
    return nullptr;

  const size_t first = decoded.find('{');
  const size_t last = decoded.rfind('}');
  if (first == std::string::npos || last == std::string::npos || last < first)
    return nullptr;
  JsonParser parser(0);
  return DictionaryValue::From(
      parser.Parse(StringSlice(decoded.data() + first, last - first + 1)));
}

}  // namespace base
