#ifndef BASE_JSON_JSON_PARSER_H_
#define BASE_JSON_JSON_PARSER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/json/json_reader.h"
#include "base/strings/string_slice.h"
#include "base/values.h"

namespace base {

// One parse of UTF-8 JSON text into a value tree. Beyond strict JSON it takes
// "//" and "/* */" comments, the escapes \v and \xHH, raw control characters
// in strings and, with kJsonAllowTrailingCommas, a "," before "]" or "}".
// Only white space and comments may follow the root value.
class JsonParser {
 public:
  explicit JsonParser(int32_t options);
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;
  ~JsonParser();

  // Null on failure; the error code, line and column are then set.
  ValueOwner Parse(StringSlice input);

  int32_t error_code() const { return error_code_; }
  int32_t error_line() const { return error_line_; }
  int32_t error_column() const { return error_column_; }
  // "Line: L, column: C, <message>", or the message alone without a position.
  std::string ErrorMessage() const;

 private:
  enum class Token {
    kObjectBegin,
    kObjectEnd,
    kArrayBegin,
    kArrayEnd,
    kString,
    kNumber,
    kTrue,
    kFalse,
    kNull,
    kListSeparator,
    kPairSeparator,
    kEndOfInput,
    kInvalid,
  };

  // Skips white space and comments and classifies the byte it stops at,
  // which stays unconsumed.
  Token PeekToken();
  void SkipWhitespaceAndComments();
  void SkipComment();
  void OnLineBreak();

  ValueOwner ParseValue(Token token);
  ValueOwner ParseObject();
  ValueOwner ParseArray();
  ValueOwner ParseStringValue();
  ValueOwner ParseNumber();
  ValueOwner ParseLiteral(Token token);

  // Reads the string at the opening quote into `*result`: a slice of the
  // input, or of `*buffer` once an escape or a replacement needed a copy.
  bool ReadString(std::string* buffer, StringSlice* result);
  bool ReadEscape(std::string* buffer);
  bool ReadUnicodeEscape(int32_t* code_point);
  bool ReadInvalidUtf8(std::string* buffer, const char** run_start);
  // Reads `count` hex digits at pos_ without consuming them.
  bool PeekHex(int count, int32_t* value) const;
  bool ScanDigits();

  // Records the error at `at`, moved by `column_adjust` columns.
  void ReportError(int32_t code, const char* at, int column_adjust = 0);

  const int32_t options_;
  const char* start_ = nullptr;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  int depth_ = 0;
  int32_t line_ = 1;
  const char* line_start_ = nullptr;
  int32_t error_code_ = kJsonNoError;
  int32_t error_line_ = 0;
  int32_t error_column_ = 0;
  // Reused by the strings that need a copy.
  std::string string_buffer_;
  // The elements and entries of the containers being parsed, innermost
  // last: each container takes its own in one move once it is complete.
  std::vector<ValueOwner> pending_elements_;
  std::vector<std::pair<std::string, ValueOwner>> pending_entries_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_PARSER_H_
