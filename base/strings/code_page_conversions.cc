#include "base/strings/code_page_conversions.h"

#include <windows.h>

#include <climits>

namespace base {

std::string WideToUtf8ViaCodePage(const std::wstring& wide) {
  // The system counts in int; longer text cannot be converted in one call.
  if (wide.empty() || wide.size() > INT_MAX)
    return std::string();
  const int length = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length,
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0)
    return std::string();
  std::string utf8(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), size,
                          nullptr, nullptr) != size) {
    return std::string();
  }
  return utf8;
}

std::wstring Utf8ToWideViaCodePage(StringSlice utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX)
    return std::wstring();
  const int length = static_cast<int>(utf8.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (size <= 0)
    return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), size) !=
      size) {
    return std::wstring();
  }
  return wide;
}

}  // namespace base
