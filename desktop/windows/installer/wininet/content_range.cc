#include "desktop/windows/installer/wininet/content_range.h"

#include <cstddef>

namespace installer {

namespace {

constexpr wchar_t kUnit[] = L"bytes ";
constexpr size_t kUnitLength = sizeof(kUnit) / sizeof(kUnit[0]) - 1;

bool IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

// Reads the decimal number at `*position` and moves past it; digits only.
bool ReadNumber(const std::wstring& text, size_t* position, int64_t* number) {
  constexpr int64_t kLimit = INT64_MAX / 10;
  size_t at = *position;
  int64_t value = 0;
  while (at < text.size() && IsDigit(text[at])) {
    if (value > kLimit)
      return false;
    const int digit = text[at] - L'0';
    value = value * 10;
    if (value > INT64_MAX - digit)
      return false;
    value += digit;
    ++at;
  }
  if (at == *position)
    return false;
  *position = at;
  *number = value;
  return true;
}

bool Expect(const std::wstring& text, size_t* position, wchar_t c) {
  if (*position >= text.size() || text[*position] != c)
    return false;
  ++*position;
  return true;
}

}  // namespace

bool ParseContentRange(const std::wstring& value, ContentRange* range) {
  if (value.compare(0, kUnitLength, kUnit) != 0)
    return false;
  size_t position = kUnitLength;
  ContentRange parsed;
  if (!ReadNumber(value, &position, &parsed.first) ||
      !Expect(value, &position, L'-') ||
      !ReadNumber(value, &position, &parsed.last) ||
      !Expect(value, &position, L'/')) {
    return false;
  }
  if (position < value.size() && value[position] == L'*') {
    ++position;
  } else if (!ReadNumber(value, &position, &parsed.total)) {
    return false;
  }
  if (position != value.size() || parsed.last < parsed.first)
    return false;
  if (parsed.total >= 0 && parsed.last >= parsed.total)
    return false;
  *range = parsed;
  return true;
}

}  // namespace installer
