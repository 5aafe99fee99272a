#include "base/json/json_parser.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "base/strings/double_conversion.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_code_point.h"

namespace base {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

// Numbers longer than this are converted from a heap copy.
constexpr size_t kNumberBufferSize = 64;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsLeadSurrogate(int32_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

bool IsTrailSurrogate(int32_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Converts a complete number text that the grammar has already checked; false
// when it overflows or underflows.
bool ConvertDouble(const char* begin, const char* end, double* value) {
  const size_t length = static_cast<size_t>(end - begin);
  char small[kNumberBufferSize];
  std::string large;
  const char* text = small;
  if (length < sizeof(small)) {
    std::memcpy(small, begin, length);
    small[length] = '\0';
  } else {
    large.assign(begin, length);
    text = large.c_str();
  }
  const int saved_errno = errno;
  errno = 0;
  const char* parsed_end = nullptr;
  *value = StringToDoubleImpl(text, &parsed_end);
  const bool range_error = errno == ERANGE;
  errno = saved_errno;
  return !range_error && parsed_end == text + length && std::isfinite(*value);
}

}  // namespace

JsonParser::JsonParser(int32_t options) : options_(options) {}

JsonParser::~JsonParser() = default;

ValueOwner JsonParser::Parse(StringSlice input) {
  start_ = input.data();
  pos_ = start_;
  end_ = start_ + input.size();
  depth_ = 0;
  line_ = 1;
  line_start_ = start_;
  error_code_ = kJsonNoError;
  error_line_ = 0;
  error_column_ = 0;
  if (input.size() >= 3 && std::memcmp(start_, kByteOrderMark, 3) == 0)
    pos_ += 3;

  ValueOwner root = ParseValue(PeekToken());
  // After a failure, destroys what the unfinished containers held.
  pending_elements_.clear();
  pending_entries_.clear();
  if (!root)
    return nullptr;
  if (PeekToken() != Token::kEndOfInput) {
    ReportError(kJsonUnexpectedDataAfterRoot, pos_);
    return nullptr;
  }
  return root;
}

std::string JsonParser::ErrorMessage() const {
  const std::string message = JsonErrorCodeToMessage(error_code_);
  if (error_line_ == 0 && error_column_ == 0)
    return message;
  return FormatString("Line: %i, column: %i, %s", error_line_, error_column_,
                      message.c_str());
}

JsonParser::Token JsonParser::PeekToken() {
  SkipWhitespaceAndComments();
  if (pos_ == end_)
    return Token::kEndOfInput;
  switch (*pos_) {
    case '{':
      return Token::kObjectBegin;
    case '}':
      return Token::kObjectEnd;
    case '[':
      return Token::kArrayBegin;
    case ']':
      return Token::kArrayEnd;
    case '"':
      return Token::kString;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return Token::kNumber;
    case 't':
      return Token::kTrue;
    case 'f':
      return Token::kFalse;
    case 'n':
      return Token::kNull;
    case ',':
      return Token::kListSeparator;
    case ':':
      return Token::kPairSeparator;
    default:
      return Token::kInvalid;
  }
}

void JsonParser::SkipWhitespaceAndComments() {
  while (pos_ < end_) {
    switch (*pos_) {
      case ' ':
      case '\t':
        ++pos_;
        break;
      case '\r':
      case '\n':
        OnLineBreak();
        ++pos_;
        line_start_ = pos_;
        break;
      case '/':
        if (end_ - pos_ < 2 || (pos_[1] != '/' && pos_[1] != '*'))
          return;  // a lone "/" is an invalid token
        SkipComment();
        break;
      default:
        return;
    }
  }
}

void JsonParser::SkipComment() {
  const bool line_comment = pos_[1] == '/';
  pos_ += 2;
  if (line_comment) {
    // The line break that ends it is white space of its own.
    while (pos_ < end_ && *pos_ != '\n' && *pos_ != '\r')
      ++pos_;
    return;
  }
  // An unclosed block comment runs to the end of the input.
  for (; pos_ < end_; ++pos_) {
    if (*pos_ == '*' && end_ - pos_ >= 2 && pos_[1] == '/') {
      pos_ += 2;
      return;
    }
    if (*pos_ == '\r' || *pos_ == '\n') {
      OnLineBreak();
      line_start_ = pos_ + 1;
    }
  }
}

void JsonParser::OnLineBreak() {
  // "\r\n" is one line break.
  if (*pos_ == '\r' || pos_ == start_ || pos_[-1] != '\r')
    ++line_;
}

ValueOwner JsonParser::ParseValue(Token token) {
  switch (token) {
    case Token::kObjectBegin:
      return ParseObject();
    case Token::kArrayBegin:
      return ParseArray();
    case Token::kString:
      return ParseStringValue();
    case Token::kNumber:
      return ParseNumber();
    case Token::kTrue:
    case Token::kFalse:
    case Token::kNull:
      return ParseLiteral(token);
    default:
      ReportError(kJsonUnexpectedToken, pos_);
      return nullptr;
  }
}

ValueOwner JsonParser::ParseObject() {
  if (++depth_ >= kJsonMaxDepth) {
    ReportError(kJsonTooMuchNesting, pos_);
    return nullptr;
  }
  ++pos_;  // "{"
  const size_t first_entry = pending_entries_.size();
  Token token = PeekToken();
  while (token != Token::kObjectEnd) {
    if (token != Token::kString) {
      ReportError(kJsonUnquotedDictionaryKey, pos_);
      return nullptr;
    }
    StringSlice key;
    if (!ReadString(&string_buffer_, &key))
      return nullptr;
    // The key is copied before the value may reuse the string buffer.
    pending_entries_.emplace_back(key.AsString(), nullptr);
    const size_t entry = pending_entries_.size() - 1;
    if (PeekToken() != Token::kPairSeparator) {
      ReportError(kJsonSyntaxError, pos_);
      return nullptr;
    }
    ++pos_;  // ":"
    ValueOwner value = ParseValue(PeekToken());
    if (!value)
      return nullptr;
    pending_entries_[entry].second = std::move(value);

    token = PeekToken();
    if (token == Token::kObjectEnd)
      break;
    if (token != Token::kListSeparator) {
      ReportError(kJsonSyntaxError, pos_, -1);
      return nullptr;
    }
    ++pos_;  // ","
    token = PeekToken();
    if (token == Token::kObjectEnd && !(options_ & kJsonAllowTrailingCommas)) {
      ReportError(kJsonTrailingComma, pos_);
      return nullptr;
    }
  }
  ++pos_;  // "}"
  --depth_;
  DictionaryValueOwner dictionary = MakeValue<DictionaryValue>();
  const auto first = pending_entries_.begin() + first_entry;
  dictionary->AdoptEntries(first, pending_entries_.end());
  pending_entries_.erase(first, pending_entries_.end());
  return dictionary;
}

ValueOwner JsonParser::ParseArray() {
  if (++depth_ >= kJsonMaxDepth) {
    ReportError(kJsonTooMuchNesting, pos_);
    return nullptr;
  }
  ++pos_;  // "["
  const size_t first_element = pending_elements_.size();
  Token token = PeekToken();
  while (token != Token::kArrayEnd) {
    ValueOwner value = ParseValue(token);
    if (!value)
      return nullptr;
    pending_elements_.push_back(std::move(value));

    token = PeekToken();
    if (token == Token::kArrayEnd)
      break;
    if (token != Token::kListSeparator) {
      ReportError(kJsonSyntaxError, pos_);
      return nullptr;
    }
    ++pos_;  // ","
    token = PeekToken();
    if (token == Token::kArrayEnd && !(options_ & kJsonAllowTrailingCommas)) {
      ReportError(kJsonTrailingComma, pos_);
      return nullptr;
    }
  }
  ++pos_;  // "]"
  --depth_;
  ListValueOwner list = MakeValue<ListValue>();
  const auto first = pending_elements_.begin() + first_element;
  list->list().assign(std::make_move_iterator(first),
                      std::make_move_iterator(pending_elements_.end()));
  pending_elements_.erase(first, pending_elements_.end());
  return list;
}

ValueOwner JsonParser::ParseStringValue() {
  StringSlice text;
  if (!ReadString(&string_buffer_, &text))
    return nullptr;
  return MakeValue<Value>(text);
}

bool JsonParser::ReadString(std::string* buffer, StringSlice* result) {
  ++pos_;  // the opening quote
  const char* const begin = pos_;
  const char* run_start = pos_;  // bytes not yet copied to the buffer
  bool copied = false;
  while (true) {
    while (pos_ < end_ && *pos_ != '"' && *pos_ != '\\' &&
           static_cast<unsigned char>(*pos_) < 0x80) {
      ++pos_;
    }
    if (pos_ == end_) {
      ReportError(kJsonSyntaxError, pos_);
      return false;
    }
    if (*pos_ == '"')
      break;
    if (!copied) {
      buffer->clear();
      copied = true;
    }
    if (*pos_ == '\\') {
      buffer->append(run_start, pos_);
      if (!ReadEscape(buffer))
        return false;
      run_start = pos_;
    } else if (!ReadInvalidUtf8(buffer, &run_start)) {
      return false;
    }
  }
  if (copied) {
    buffer->append(run_start, pos_);
    *result = StringSlice(*buffer);
  } else {
    *result = StringSlice(begin, static_cast<size_t>(pos_ - begin));
  }
  ++pos_;  // the closing quote
  return true;
}

// At a byte of 0x80 or above: a valid sequence is stepped over and stays in
// the run; anything else is replaced or fails.
bool JsonParser::ReadInvalidUtf8(std::string* buffer, const char** run_start) {
  const char* const sequence = pos_;
  size_t index = static_cast<size_t>(pos_ - start_) + 1;
  const int32_t code_point =
      ReadCodePointUtf8(start_, &index, static_cast<size_t>(end_ - start_),
                        static_cast<uint8_t>(*pos_));
  pos_ = start_ + index;
  if (code_point != kInvalidCodePoint && IsValidCodePoint(code_point))
    return true;
  if (!(options_ & kJsonReplaceInvalidCharacters)) {
    ReportError(kJsonUnsupportedEncoding, sequence);
    return false;
  }
  buffer->append(*run_start, sequence);
  buffer->append(kReplacementUtf8, 3);
  *run_start = pos_;
  return true;
}

bool JsonParser::ReadEscape(std::string* buffer) {
  const char* const escape = pos_;
  if (end_ - pos_ < 2) {
    ReportError(kJsonInvalidEscape, escape);
    return false;
  }
  pos_ += 2;
  switch (escape[1]) {
    case '"':
    case '/':
    case '\\':
      buffer->push_back(escape[1]);
      return true;
    case 'b':
      buffer->push_back('\b');
      return true;
    case 'f':
      buffer->push_back('\f');
      return true;
    case 'n':
      buffer->push_back('\n');
      return true;
    case 'r':
      buffer->push_back('\r');
      return true;
    case 't':
      buffer->push_back('\t');
      return true;
    case 'v':
      buffer->push_back('\v');
      return true;
    case 'x': {
      int32_t code_point = 0;
      if (!PeekHex(2, &code_point))
        break;
      pos_ += 2;
      WriteCodePointUtf8(code_point, buffer);  // \x00 keeps its zero byte
      return true;
    }
    case 'u': {
      int32_t code_point = 0;
      if (!ReadUnicodeEscape(&code_point))
        break;
      // A pair can spell a noncharacter too (U+10FFFF); stored as it is, it
      // would be written raw, and the next read would refuse that text.
      if (!IsValidCodePoint(code_point)) {
        if (!(options_ & kJsonReplaceInvalidCharacters))
          break;
        code_point = kReplacementCharacter;
      }
      if (code_point != 0)
        WriteCodePointUtf8(code_point, buffer);
      return true;
    }
    default:
      break;
  }
  ReportError(kJsonInvalidEscape, escape);
  return false;
}

// After "\u": four digits, and for a lead surrogate the "\u" and digits of
// its trail. A lone surrogate is malformed; whether the code point is one a
// string may hold is the caller's check.
bool JsonParser::ReadUnicodeEscape(int32_t* code_point) {
  int32_t first = 0;
  if (!PeekHex(4, &first))
    return false;
  pos_ += 4;
  if (!IsLeadSurrogate(first)) {
    *code_point = first;
    return !IsTrailSurrogate(first);
  }
  int32_t second = 0;
  if (end_ - pos_ < 2 || pos_[0] != '\\' || pos_[1] != 'u')
    return false;
  pos_ += 2;
  if (!PeekHex(4, &second) || !IsTrailSurrogate(second))
    return false;
  pos_ += 4;
  *code_point = 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
  return true;
}

bool JsonParser::PeekHex(int count, int32_t* value) const {
  if (end_ - pos_ < count)
    return false;
  int32_t result = 0;
  for (int i = 0; i < count; ++i) {
    const int digit = HexDigitToInt(pos_[i]);
    if (digit < 0)
      return false;
    result = result * 16 + digit;
  }
  *value = result;
  return true;
}

// One or more digits; false, with the error at pos_, when there is none.
bool JsonParser::ScanDigits() {
  if (pos_ == end_ || !IsDigit(*pos_)) {
    ReportError(kJsonSyntaxError, pos_);
    return false;
  }
  while (pos_ < end_ && IsDigit(*pos_))
    ++pos_;
  return true;
}

ValueOwner JsonParser::ParseNumber() {
  const char* const begin = pos_;
  if (*pos_ == '-')
    ++pos_;
  const char* const integer_begin = pos_;
  if (!ScanDigits())
    return nullptr;
  if (*integer_begin == '0' && pos_ - integer_begin > 1) {
    ReportError(kJsonSyntaxError, integer_begin + 1);
    return nullptr;
  }
  bool integral = true;
  if (pos_ < end_ && *pos_ == '.') {
    ++pos_;
    integral = false;
    if (!ScanDigits())
      return nullptr;
  }
  if (pos_ < end_ && (*pos_ == 'e' || *pos_ == 'E')) {
    ++pos_;
    integral = false;
    if (pos_ < end_ && (*pos_ == '+' || *pos_ == '-'))
      ++pos_;
    if (!ScanDigits())
      return nullptr;
  }
  const char* const end = pos_;

  const Token next = PeekToken();
  if (next != Token::kObjectEnd && next != Token::kArrayEnd &&
      next != Token::kListSeparator && next != Token::kEndOfInput) {
    ReportError(kJsonSyntaxError, pos_);
    return nullptr;
  }

  int32_t integer = 0;
  if (integral && end - begin <= 11 &&
      StringToInt(StringSlice(begin, static_cast<size_t>(end - begin)),
                  &integer)) {
    return MakeValue<Value>(integer);
  }
  double value = 0;
  if (!ConvertDouble(begin, end, &value)) {
    ReportError(kJsonSyntaxError, begin);
    return nullptr;
  }
  return MakeValue<Value>(value);
}

ValueOwner JsonParser::ParseLiteral(Token token) {
  const char* const text = token == Token::kTrue    ? "true"
                           : token == Token::kFalse ? "false"
                                                    : "null";
  const size_t length = std::strlen(text);
  if (static_cast<size_t>(end_ - pos_) < length ||
      std::memcmp(pos_, text, length) != 0) {
    ReportError(kJsonSyntaxError, pos_);
    return nullptr;
  }
  pos_ += length;
  if (token == Token::kNull)
    return MakeValue<Value>();
  return MakeBooleanValue(token == Token::kTrue);
}

void JsonParser::ReportError(int32_t code, const char* at, int column_adjust) {
  error_code_ = code;
  error_line_ = line_;
  error_column_ = static_cast<int32_t>(at - line_start_) + 1 + column_adjust;
}

}  // namespace base
