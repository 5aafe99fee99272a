#include "desktop/windows/installer/wininet/wininet_error_text.h"

#include <wininet.h>

#include "base/log_message.h"
#include "base/strings/string_format.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {

namespace {

constexpr DWORD kFirstWinInetError = INTERNET_ERROR_BASE;
// INTERNET_ERROR_LAST names the highest code the headers know.
constexpr DWORD kLastWinInetError = INTERNET_ERROR_BASE + 175;

}  // namespace

bool IsWinInetError(DWORD code) {
  return code >= kFirstWinInetError && code <= kLastWinInetError;
}

std::string WinInetErrorText(DWORD code) {
  if (!IsWinInetError(code))
    return base::SystemErrorCodeToString(code);
  // The system's table does not hold these: asked for 12007 it fails, and
  // a caller that logs the thread's last error instead prints "Success".
  // wininet.dll is loaded by every caller of the downloader.
  constexpr DWORD kBufferSize = 512;
  wchar_t buffer[kBufferSize];
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
      ::GetModuleHandleW(L"wininet.dll"), code, 0, buffer, kBufferSize,
      nullptr);
  if (length == 0)
    return base::FormatString("WinINet error (0x%lX)", code);
  return base::CollapseWhitespace(
             base::WideToUtf8(std::wstring(buffer, length))) +
         base::FormatString(" (0x%lX)", code);
}

}  // namespace installer
