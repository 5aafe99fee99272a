#include "desktop/windows/crash_reporter/crash_reporting_config.h"

#include "base/features/feature_tables.h"
#include "base/files/file_path.h"
#include "base/lazy_global.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/crash_reporter/crash_key_table.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"

namespace installer {

namespace {

constexpr size_t kBuildIdDateLength = 8;
constexpr size_t kBuildIdRevisionLength = 6;

constexpr int32_t kNightlyChannel = 2;
constexpr int32_t kReleaseChannel = 4;

constexpr wchar_t kTestProgramSuffix[] = L"_browsertests";

constinit base::LazyGlobalInstance<CrashReportingConfig> g_config(
    base::LazyGlobalLifetime::kLeaky);

}  // namespace

CrashReportingConfig::~CrashReportingConfig() = default;

void CrashReportingConfig::GetProductInfo(const std::wstring& executable_path,
                                          std::wstring* product,
                                          std::wstring* version,
                                          std::wstring* special,
                                          std::wstring* channel) const {
  *product = base::Utf8ToWide(GetBrandingProductName());
  *version = base::Utf8ToWide(GetVersionString());
  special->clear();
  *channel = base::Utf8ToWide(GetStreamName());
}

bool CrashReportingConfig::GetCrashDumpDirectory(base::FilePath* path) const {
  const std::string log_dir = GetCrashLogDirOverride();
  if (!log_dir.empty()) {
    *path = base::FilePath(base::Utf8ToWide(log_dir));
    return true;
  }
  return base::GetPathForKey(kCrashDumpsPathKey, path);
}

bool CrashReportingConfig::GetAlternativeCrashDumpDirectory(
    base::FilePath* path) const {
  return base::GetPathForKey(kAlternativeCrashDumpsPathKey, path);
}

size_t CrashReportingConfig::RegisterCrashKeys() const {
  return base::CrashKeys::Init(kCrashKeyTable, kCrashKeyTableSize,
                               kCrashKeyChunkLength);
}

bool CrashReportingConfig::ReportsDumpLocation() const {
  return false;
}

CrashReportingConfig* GetCrashReportingConfig() {
  return g_config.Get();
}

std::string GetBuildId() {
  return FormatBuildId(GetBuildRevision(), GetBuildTimestamp());
}

std::string FormatBuildId(int32_t revision, const std::string& timestamp) {
  std::string date = timestamp.substr(0, kBuildIdDateLength);
  date.resize(kBuildIdDateLength, '0');
  std::string digits = base::IntToString(revision);
  if (digits.size() > kBuildIdRevisionLength)
    digits.erase(0, digits.size() - kBuildIdRevisionLength);
  else
    digits.insert(0, kBuildIdRevisionLength - digits.size(), '0');
  return date + digits;
}

std::string GetReleaseChannelName() {
  switch (base::GetReleaseChannel()) {
    case kNightlyChannel:
      return "nightly";
    case kReleaseChannel:
      return "release";
    default:
      return GetStreamName();
  }
}

std::string GetSymbolsPackageName(const base::FilePath& program) {
  const std::wstring stem = program.RemoveExtension().value();
  return base::EndsWithWide(stem, kTestProgramSuffix, base::CASE_SENSITIVE)
             ? "tests-syms"
             : "browser-syms";
}

}  // namespace installer
