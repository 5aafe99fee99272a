#include "desktop/windows/crash_reporter/crash_report_fields.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string>

#include "base/files/file_path.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/crash_reporting_config.h"
#include "desktop/windows/crash_reporter/parameter_map.h"
#include "desktop/windows/crash_reporter/system_description.h"
#include "desktop/windows/crash_reporter/upload_parameter_set.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"

namespace installer {

namespace {

struct Rename {
  const wchar_t* from;
  const wchar_t* to;
};

// Keys the crash log leaves out: the upload carries them, or they are noise.
constexpr const wchar_t* kCrashLogOmitted[] = {
    L"ptime",   L"URL",          L"Email",          L"Origin",
    L"crash_guid", L"modules",   L"BuildID",        L"ReleaseChannel",
    L"ProductName", L"symbols-package", L"channel", L"prod",
    L"unspecified-crash-key"};
constexpr Rename kCrashLogRenames[] = {{L"ptype", L"process_type"}};

// The keys a crash log upload carries, in this order.
constexpr const wchar_t* kRegularUploadSelected[] = {
    L"UBN", L"Email", L"Origin", L"URL", L"ptime", L"channel", L"prod",
    L"ver"};
constexpr Rename kRegularUploadRenames[] = {{L"UBN", L"build_number"},
                                            {L"Email", L"email"},
                                            {L"Origin", L"origin"},
                                            {L"ptime", L"CrashUptime"},
                                            {L"ver", L"Version"}};

constexpr const wchar_t* kAlternativeUploadOmitted[] = {
    L"crash_guid", L"modules", L"prod", L"unspecified-crash-key"};
constexpr Rename kAlternativeUploadRenames[] = {{L"ptype", L"ProcessType"},
                                                {L"ver", L"Version"}};

constexpr wchar_t kUptime[] = L"ptime";
constexpr wchar_t kUrl[] = L"URL";
constexpr wchar_t kProcessType[] = L"ptype";
constexpr wchar_t kBrowserProcessType[] = L"browser";
constexpr wchar_t kHeaderVersion[] = L"ver";
constexpr wchar_t kHeaderBuildNumber[] = L"UBN";
// Milliseconds of uptime become seconds by cutting three digits.
constexpr size_t kMillisecondDigits = 3;

constexpr int64_t kFileTimeUnixEpoch = 116444736000000000;
constexpr int64_t kFileTimeUnitsPerMicrosecond = 10;
constexpr int64_t kMicrosecondsPerMillisecond = 1000;
constexpr int64_t kMillisecondsPerSecond = 1000;
constexpr DWORD kImagePathSize = 260;

template <size_t N>
bool Contains(const wchar_t* const (&names)[N], const std::wstring& name) {
  return std::find_if(std::begin(names), std::end(names),
                      [&](const wchar_t* entry) { return name == entry; }) !=
         std::end(names);
}

template <size_t N>
std::wstring Renamed(const Rename (&renames)[N], const std::wstring& name) {
  for (const Rename& rename : renames) {
    if (name == rename.from)
      return rename.to;
  }
  return name;
}

int64_t FileTimeToUnixMicroseconds(const FILETIME& time) {
  const int64_t value =
      static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) |
                           time.dwLowDateTime);
  return (value - kFileTimeUnixEpoch) / kFileTimeUnitsPerMicrosecond;
}

int64_t UnixSeconds(int64_t microseconds) {
  return microseconds / kMicrosecondsPerMillisecond / kMillisecondsPerSecond;
}

int64_t NowMicroseconds() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return FileTimeToUnixMicroseconds(now);
}

int64_t SaturatedMultiply(int64_t value, int64_t factor) {
  if (value > std::numeric_limits<int64_t>::max() / factor)
    return std::numeric_limits<int64_t>::max();
  if (value < std::numeric_limits<int64_t>::min() / factor)
    return std::numeric_limits<int64_t>::min();
  return value * factor;
}

std::wstring ProcessImagePath(HANDLE process) {
  wchar_t path[kImagePathSize];
  DWORD size = kImagePathSize;
  if (!process || !::QueryFullProcessImageNameW(process, 0, path, &size))
    return std::wstring();
  return std::wstring(path, size);
}

bool GetFileCreationTime(const std::wstring& path, FILETIME* created) {
  const base::win::ScopedHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!file.IsValid() ||
      !::GetFileInformationByHandle(file.Get(), &information)) {
    return false;
  }
  *created = information.ftCreationTime;
  return true;
}

void AddSystemLines(CrashLogData* data) {
  const SystemDescription& system = GetSystemDescription();
  data->metadata.emplace_back("os_version", system.os_version);
  data->metadata.emplace_back("os_service_pack_version",
                              system.os_service_pack_version);
  data->metadata.emplace_back("cpu_architecture", system.cpu_architecture);
  data->metadata.emplace_back("cpu_level", system.cpu_level);
  data->metadata.emplace_back("cpu_revision", system.cpu_revision);
}

}  // namespace

void FillCrashLogData(const ParameterMap& parameters, CrashLogData* data) {
  for (const auto& [name, value] : parameters.entries()) {
    if (Contains(kCrashLogOmitted, name))
      continue;
    if (name == kHeaderVersion) {
      data->version = base::WideToUtf8(value);
      continue;
    }
    if (name == kHeaderBuildNumber) {
      data->build_number = base::WideToUtf8(value);
      continue;
    }
    // Chunk names that could not be joined say nothing by themselves.
    if (value.empty() || name.find(L'-') != std::wstring::npos)
      continue;
    data->metadata.emplace_back(
        base::WideToUtf8(Renamed(kCrashLogRenames, name)),
        base::WideToUtf8(value));
  }
  AddSystemLines(data);
  ApplyCrashLogHeaderDefaults(data);
}

void ApplyCrashLogHeaderDefaults(CrashLogData* data) {
  if (data->version.empty())
    data->version = GetVersionString();
  if (data->build_number.empty())
    data->build_number = base::IntToString(GetBuildNumber());
  if (data->product_suffix.empty())
    data->product_suffix = GetCrashLogProductSuffix();
}

void FillRegularUploadFields(const ParameterMap& parameters,
                             UploadParameterSet* fields) {
  for (const wchar_t* name : kRegularUploadSelected) {
    const std::wstring& value = parameters.Get(name);
    if (value.empty())
      continue;
    if (std::wstring(name) == kUptime) {
      fields->Set(Renamed(kRegularUploadRenames, name),
                  value.size() > kMillisecondDigits
                      ? value.substr(0, value.size() - kMillisecondDigits)
                      : L"0");
      continue;
    }
    // The browser's own page address is private.
    if (std::wstring(name) == kUrl &&
        parameters.Get(kProcessType) == kBrowserProcessType) {
      continue;
    }
    fields->Set(Renamed(kRegularUploadRenames, name), value);
  }
}

void FillAlternativeUploadFields(const ParameterMap& parameters,
                                 HANDLE process,
                                 UploadParameterSet* fields) {
  for (const auto& [name, value] : parameters.entries()) {
    if (Contains(kAlternativeUploadOmitted, name) || name == kUptime)
      continue;
    fields->Set(Renamed(kAlternativeUploadRenames, name), value);
  }
  std::optional<int64_t> uptime_us;
  int64_t uptime_ms = 0;
  if (base::WideStringToInt64(parameters.Get(kUptime), &uptime_ms))
    uptime_us = SaturatedMultiply(uptime_ms, kMicrosecondsPerMillisecond);
  AddCrashTimes(process, uptime_us, fields);
  AddProductInformation(process, fields);
}

void AddCrashTimes(HANDLE process,
                   std::optional<int64_t> uptime_us,
                   UploadParameterSet* fields) {
  FILETIME created, exited, kernel, user;
  int64_t start = 0;
  int64_t crash = 0;
  if (process &&
      ::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    start = FileTimeToUnixMicroseconds(created);
    crash = uptime_us ? start + *uptime_us : NowMicroseconds();
  } else {
    crash = NowMicroseconds();
    start = uptime_us ? crash - *uptime_us : crash;
  }
  fields->SetInt64(L"StartupTime", UnixSeconds(start));
  fields->SetInt64(L"CrashTime", UnixSeconds(crash));
  FILETIME installed;
  const std::wstring image = ProcessImagePath(process);
  if (!image.empty() && GetFileCreationTime(image, &installed))
    fields->SetInt64(L"InstallTime",
                     UnixSeconds(FileTimeToUnixMicroseconds(installed)));
}

void AddProductInformation(HANDLE process, UploadParameterSet* fields) {
  fields->SetUtf8(L"ProductName", GetCrashUploadProductName());
  fields->SetUtf8(L"Version", GetVersionString());
  fields->SetInt(L"UBN", GetBuildNumber());
  if (!fields->Has(L"symbols-package")) {
    const base::FilePath image(ProcessImagePath(process));
    if (!image.RemoveExtension().empty())
      fields->SetUtf8(L"symbols-package", GetSymbolsPackageName(image));
  }
  if (!fields->Has(L"BuildID"))
    fields->SetUtf8(L"BuildID", GetBuildId());
  if (!fields->Has(L"ReleaseChannel"))
    fields->SetUtf8(L"ReleaseChannel", GetReleaseChannelName());
}

}  // namespace installer
