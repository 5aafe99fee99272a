#include "desktop/windows/crash_reporter/crash_client_settings.h"

namespace installer {

CrashClientSettings::~CrashClientSettings() = default;

bool CrashClientSettings::IsBrowserProcess(
    const std::wstring& process_type) const {
  return process_type == L"browser";
}

bool CrashClientSettings::GetDumpLocationText(std::wstring* text) const {
  return false;
}

void CrashClientSettings::GetProductInfo(const std::wstring& executable_path,
                                         std::wstring* product,
                                         std::wstring* version,
                                         std::wstring* special,
                                         std::wstring* channel) const {}

bool CrashClientSettings::GetCrashDumpDirectory(base::FilePath* path) const {
  return false;
}

bool CrashClientSettings::GetAlternativeCrashDumpDirectory(
    base::FilePath* path) const {
  return false;
}

size_t CrashClientSettings::RegisterCrashKeys() const {
  return 0;
}

bool CrashClientSettings::ReportsDumpLocation() const {
  return true;
}

bool CrashClientSettings::SkipsDumpLocation() const {
  return false;
}

}  // namespace installer
