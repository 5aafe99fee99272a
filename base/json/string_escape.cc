#include "base/json/string_escape.h"

#include <cstdint>
#include <limits>

#include "base/strings/utf_code_point.h"

namespace base {

namespace {

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

// Bytes that pass through unchanged: printable ASCII other than the quote,
// the backslash and "<".
constexpr bool IsPlain(unsigned char c) {
  return c >= 0x20 && c < 0x80 && c != '"' && c != '\\' && c != '<';
}

void AppendUnicodeEscape(int32_t code_point, std::string* output) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char escape[] = {'\\',
                         'u',
                         kHex[(code_point >> 12) & 0xF],
                         kHex[(code_point >> 8) & 0xF],
                         kHex[(code_point >> 4) & 0xF],
                         kHex[code_point & 0xF]};
  output->append(escape, sizeof(escape));
}

}  // namespace

bool EscapeJsonSpecialChar(int32_t code_point, std::string* output) {
  switch (code_point) {
    case '\b':
      output->append("\\b");
      return true;
    case '\f':
      output->append("\\f");
      return true;
    case '\n':
      output->append("\\n");
      return true;
    case '\r':
      output->append("\\r");
      return true;
    case '\t':
      output->append("\\t");
      return true;
    case '\\':
      output->append("\\\\");
      return true;
    case '"':
      output->append("\\\"");
      return true;
    case '<':
    case 0x2028:
    case 0x2029:
      AppendUnicodeEscape(code_point, output);
      return true;
    default:
      if (code_point >= 0 && code_point < 0x20) {
        AppendUnicodeEscape(code_point, output);
        return true;
      }
      return false;
  }
}

bool EscapeJsonString(StringSlice utf8, std::string* output) {
  if (utf8.size() > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
    return false;
  const char* const text = utf8.data();
  const size_t length = static_cast<size_t>(utf8.size());
  bool valid = true;
  output->push_back('"');
  size_t index = 0;
  while (index < length) {
    const size_t run_start = index;
    while (index < length && IsPlain(static_cast<unsigned char>(text[index])))
      ++index;
    output->append(text + run_start, index - run_start);
    if (index == length)
      break;

    const size_t sequence = index;
    const uint8_t lead = static_cast<uint8_t>(text[index++]);
    const int32_t code_point = ReadCodePointUtf8(text, &index, length, lead);
    // Noncharacters too: the reader refuses them raw, so what is written
    // here could not be read back.
    if (code_point == kInvalidCodePoint || !IsValidCodePoint(code_point)) {
      output->append(kReplacementUtf8, 3);
      valid = false;
    } else if (!EscapeJsonSpecialChar(code_point, output)) {
      output->append(text + sequence, index - sequence);
    }
  }
  output->push_back('"');
  return valid;
}

}  // namespace base
