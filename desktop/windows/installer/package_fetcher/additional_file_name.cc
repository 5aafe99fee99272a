#include "desktop/windows/installer/package_fetcher/additional_file_name.h"

#include <cwctype>

namespace installer {

namespace {

constexpr size_t kMaxFileNameLength = 255;
constexpr wchar_t kForbiddenCharacters[] = L"<>:\"/\\|?*";
// Names that Windows takes for devices, with any extension.
constexpr const wchar_t* kDeviceNames[] = {
    L"CON",  L"PRN",  L"AUX",  L"NUL",  L"COM1", L"COM2",   L"COM3",
    L"COM4", L"COM5", L"COM6", L"COM7", L"COM8", L"COM9",   L"LPT1",
    L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7",   L"LPT8",
    L"LPT9", L"COM0", L"LPT0", L"CONIN$", L"CONOUT$", L"CLOCK$",
};

// What a program placed beside the browser could be loaded or started as:
// images, and what the shell runs through an interpreter.
constexpr const wchar_t* kExecutableExtensions[] = {
    L".dll", L".exe", L".sys", L".ocx", L".cpl", L".scr",
    L".com", L".msi", L".ps1", L".bat", L".cmd",
};

bool IsDeviceName(const std::wstring& name) {
  const std::wstring stem = name.substr(0, name.find(L'.'));
  // Windows also ignores blanks before the extension ("NUL .txt").
  const std::wstring trimmed = stem.substr(0, stem.find_last_not_of(L' ') + 1);
  for (const wchar_t* device : kDeviceNames) {
    if (_wcsicmp(trimmed.c_str(), device) == 0)
      return true;
  }
  return false;
}

}  // namespace

bool IsExecutableFileName(const std::wstring& name) {
  const size_t end = name.find_last_not_of(L". ");
  if (end == std::wstring::npos)
    return false;
  const std::wstring trimmed = name.substr(0, end + 1);
  const size_t dot = trimmed.rfind(L'.');
  if (dot == std::wstring::npos)
    return false;
  const std::wstring extension = trimmed.substr(dot);
  for (const wchar_t* executable : kExecutableExtensions) {
    if (_wcsicmp(extension.c_str(), executable) == 0)
      return true;
  }
  return false;
}

bool IsPlainFileName(const std::wstring& name) {
  if (name.empty() || name.size() > kMaxFileNameLength || name == L"." ||
      name == L"..") {
    return false;
  }
  for (const wchar_t c : name) {
    if (c < 0x20 || std::wcschr(kForbiddenCharacters, c))
      return false;
  }
  if (name.back() == L'.' || name.back() == L' ')
    return false;
  return !IsDeviceName(name);
}

}  // namespace installer
