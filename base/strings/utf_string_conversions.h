#ifndef BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSIONS_H_

#include <cstddef>
#include <string>

#include "base/strings/string_slice.h"

namespace base {

// Each malformed sequence becomes one U+FFFD. The core converters append to
// `output` and return false when any replacement was needed; the others drop
// that result. Lengths are full 64-bit counts.
bool ConvertUtf8ToUtf16(const char* utf8, size_t length, std::wstring* output);
bool ConvertUtf16ToUtf8(const wchar_t* utf16, size_t length, std::string* output);

std::wstring Utf8ToWide(StringSlice utf8);
std::wstring Utf8PieceToWide(const char* utf8, size_t length);
std::string WideToUtf8(const std::wstring& wide);
std::string WidePieceToUtf8(WideStringSlice wide);

// The input must be ASCII; it is not checked.
std::wstring AsciiToWide(StringSlice ascii);
std::string WideToAscii(WideStringSlice wide);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
