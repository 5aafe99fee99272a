#include "desktop/windows/installer/package_fetcher/additional_file_name.h"

#include <cwchar>

#include "desktop/windows/installer/paths/device_name.h"
#include "desktop/windows/installer/product/package_file_names.h"

namespace installer {

namespace {

constexpr size_t kMaxFileNameLength = 255;
constexpr wchar_t kForbiddenCharacters[] = L"<>:\"/\\|?*";
// What a program placed beside the browser could be loaded or started as:
// images, and what the shell runs through an interpreter.
constexpr const wchar_t* kExecutableExtensions[] = {
    L".dll", L".exe", L".sys", L".ocx", L".cpl", L".scr",
    L".com", L".msi", L".ps1", L".bat", L".cmd",
};

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
  return !IsDeviceName(name) && !IsPackageFileName(name);
}

}  // namespace installer
