#include "base/strings/utf_code_point.h"

namespace base {

namespace {

bool IsContinuationByte(uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

// The number of continuation bytes a lead byte announces, or -1 for a byte
// that cannot start a sequence.
int ContinuationCount(uint8_t lead) {
  if (lead < 0x80)
    return 0;
  if (lead < 0xC0)
    return -1;
  if (lead < 0xE0)
    return 1;
  if (lead < 0xF0)
    return 2;
  if (lead < 0xF8)
    return 3;
  if (lead < 0xFC)
    return 4;
  if (lead < 0xFE)
    return 5;
  return -1;
}

// Moves past at most `limit` continuation bytes.
void SkipContinuationBytes(const char* text,
                           size_t* index,
                           size_t length,
                           size_t limit) {
  for (size_t skipped = 0; skipped < limit && *index < length; ++skipped) {
    if (!IsContinuationByte(static_cast<uint8_t>(text[*index])))
      return;
    ++*index;
  }
}

constexpr int32_t kSmallestForCount[] = {0, 0x80, 0x800, 0x10000};

bool IsSurrogate(int32_t code_point) {
  return code_point >= 0xD800 && code_point <= 0xDFFF;
}

}  // namespace

int32_t ReadCodePointUtf8(const char* text,
                          size_t* index,
                          size_t length,
                          uint8_t lead) {
  const int count = ContinuationCount(lead);
  if (count == 0)
    return lead;
  if (count < 0)
    return kInvalidCodePoint;

  const size_t after_lead = *index;
  if (length - after_lead < static_cast<size_t>(count)) {
    SkipContinuationBytes(text, index, length, length - after_lead);
    return kInvalidCodePoint;
  }
  if (count <= 3) {
    int32_t value = lead & ((1 << (6 - count)) - 1);
    size_t position = after_lead;
    bool valid = true;
    for (int i = 0; i < count && valid; ++i) {
      const uint8_t byte = static_cast<uint8_t>(text[position++]);
      valid = IsContinuationByte(byte);
      value = (value << 6) | (byte & 0x3F);
      // Four-byte forms above U+10FFFF are refused as early as possible.
      if (count == 3 && i == 0 && value >= 0x110)
        valid = false;
    }
    if (valid && value >= kSmallestForCount[count] && !IsSurrogate(value)) {
      *index = position;
      return value;
    }
  }
  *index = after_lead;
  SkipContinuationBytes(text, index, length, count);
  return kInvalidCodePoint;
}

int WriteCodePointUtf8(int32_t code_point, std::string* output) {
  const uint32_t c = static_cast<uint32_t>(code_point);
  if (c < 0x80) {
    output->push_back(static_cast<char>(c));
    return 1;
  }
  if (c < 0x800) {
    const char bytes[] = {static_cast<char>(0xC0 | (c >> 6)),
                          static_cast<char>(0x80 | (c & 0x3F))};
    output->append(bytes, 2);
    return 2;
  }
  if (c < 0x10000) {
    const char bytes[] = {static_cast<char>(0xE0 | (c >> 12)),
                          static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                          static_cast<char>(0x80 | (c & 0x3F))};
    output->append(bytes, 3);
    return 3;
  }
  const char bytes[] = {static_cast<char>(0xF0 | (c >> 18)),
                        static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                        static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                        static_cast<char>(0x80 | (c & 0x3F))};
  output->append(bytes, 4);
  return 4;
}

int WriteCodePointUtf16(int32_t code_point, std::wstring* output) {
  if (code_point < 0x10000) {
    output->push_back(static_cast<wchar_t>(code_point));
    return 1;
  }
  const wchar_t units[] = {static_cast<wchar_t>(0xD7C0 + (code_point >> 10)),
                           static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF))};
  output->append(units, 2);
  return 2;
}

bool IsValidCodePoint(int32_t code_point) {
  if (code_point < 0 || code_point >= 0x110000 || IsSurrogate(code_point))
    return false;
  if (code_point >= 0xFDD0 && code_point < 0xFDF0)
    return false;
  return (code_point & 0xFFFE) != 0xFFFE;
}

}  // namespace base
