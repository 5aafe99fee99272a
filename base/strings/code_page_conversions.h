#ifndef BASE_STRINGS_CODE_PAGE_CONVERSIONS_H_
#define BASE_STRINGS_CODE_PAGE_CONVERSIONS_H_

#include <string>

#include "base/strings/string_slice.h"

namespace base {

// UTF-8 <-> UTF-16 through the system's code-page functions (code page
// 65001), which replace malformed input their own way. Failure, including
// text too long for the system's 32-bit counts, gives an empty string.
std::string WideToUtf8ViaCodePage(const std::wstring& wide);
std::wstring Utf8ToWideViaCodePage(StringSlice utf8);

}  // namespace base

#endif  // BASE_STRINGS_CODE_PAGE_CONVERSIONS_H_
