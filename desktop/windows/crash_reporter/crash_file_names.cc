#include "desktop/windows/crash_reporter/crash_file_names.h"

#include <windows.h>

#include "base/files/file_path.h"
#include "base/strings/string_format.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_reporter_paths.h"
#include "desktop/windows/installer/product/branding.h"

namespace installer {

namespace {

std::wstring CrashFileName(uint32_t crash_number, const char* extension) {
  return base::Utf8ToWide(base::FormatString(
      "%s-crashlog-%lu-%u%s",
      base::ToLowerAsciiString(GetBrandingProductName()).c_str(),
      ::GetCurrentProcessId(), crash_number, extension));
}

}  // namespace

std::wstring CrashTextFileName(uint32_t crash_number) {
  return CrashFileName(crash_number, ".txt");
}

std::wstring CrashDumpFileName(uint32_t crash_number) {
  return CrashFileName(crash_number, ".dmp");
}

base::FilePath CrashIdFileName(uint32_t crash_number) {
  const base::FilePath& path = GetCrashIdFilePath();
  if (path.empty() || !IsCrashLogDirOverridden())
    return path;
  return path.ReplaceExtension(base::FormatWideString(
      L"-%lu-%u", ::GetCurrentProcessId(), crash_number));
}

}  // namespace installer
