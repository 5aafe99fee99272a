#include "desktop/windows/installer/frontend/error_cause.h"

#include <windows.h>

#include <cwctype>

#include "desktop/windows/rc_l10n_handler/ui_language.h"
#include "desktop/windows/installer/product/installer_string_ids.h"

namespace installer {

namespace {


struct CauseString {
  uint32_t system_error;
  int string_id;
};

// The causes worth the installer's own words: each one tells the user what
// to change.
constexpr CauseString kCauseStrings[] = {
    {ERROR_DISK_FULL, kStringDiskFull},
    {ERROR_HANDLE_DISK_FULL, kStringDiskFull},
    {ERROR_ACCESS_DENIED, kStringFolderNotWritable},
    {ERROR_WRITE_PROTECT, kStringFolderNotWritable},
};

std::wstring SystemErrorText(uint32_t system_error) {
  constexpr DWORD kBufferSize = 512;
  wchar_t buffer[kBufferSize];
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      system_error, 0, buffer, kBufferSize, nullptr);
  if (length == 0)
    return L"(" + std::to_wstring(system_error) + L")";
  // The system's texts end with a line break and may hold others.
  std::wstring text;
  for (DWORD i = 0; i < length; ++i) {
    const bool blank = iswspace(buffer[i]) != 0;
    if (!blank)
      text.push_back(buffer[i]);
    else if (!text.empty() && text.back() != L' ')
      text.push_back(L' ');
  }
  while (!text.empty() && text.back() == L' ')
    text.pop_back();
  return text;
}

}  // namespace

std::wstring ErrorCauseText(uint32_t system_error) {
  if (system_error == 0)
    return std::wstring();
  for (const CauseString& cause : kCauseStrings) {
    if (cause.system_error == system_error)
      return GetLocalizedString(cause.string_id);
  }
  return SystemErrorText(system_error);
}

std::wstring ErrorWindowText(int code,
                             const std::wstring& detail,
                             uint32_t system_error) {
  std::wstring text = GetLocalizedStringWithArg(code, detail);
  const std::wstring cause = ErrorCauseText(system_error);
  if (!cause.empty())
    text += L" " + cause;
  return text;
}

}  // namespace installer
