#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_CONFIG_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_CONFIG_H_

#include <cstdint>
#include <string>

#include "desktop/windows/crash_reporter/crash_client_settings.h"

namespace base {
class FilePath;
}

namespace installer {

// The installer's crash-reporting settings: the branding's product, the
// build's version and stream, the crash folders of the environment and the
// path service.
class CrashReportingConfig : public CrashClientSettings {
 public:
  // Path-service keys (answered only through overrides).
  static constexpr int kCrashDumpsPathKey = 2002;
  static constexpr int kAlternativeCrashDumpsPathKey = 2015;

  CrashReportingConfig() = default;
  ~CrashReportingConfig() override;

  // CrashClientSettings:
  void GetProductInfo(const std::wstring& executable_path,
                      std::wstring* product,
                      std::wstring* version,
                      std::wstring* special,
                      std::wstring* channel) const override;
  bool GetCrashDumpDirectory(base::FilePath* path) const override;
  bool GetAlternativeCrashDumpDirectory(base::FilePath* path) const override;
  size_t RegisterCrashKeys() const override;
  bool ReportsDumpLocation() const override;
};

// The process's configuration, made on first use and never destroyed.
CrashReportingConfig* GetCrashReportingConfig();

// The build's date and revision as one 14-character text ("YYYYMMDD" and
// six digits), from the installer's build constants.
std::string GetBuildId();
// `timestamp` is cut or padded with '0' on the right to 8 characters, the
// revision cut to its last 6 digits or padded with '0' on the left.
std::string FormatBuildId(int32_t revision, const std::string& timestamp);

// "nightly", "release", or the stream name for other channels.
std::string GetReleaseChannelName();

// "tests-syms" for the browser's test programs, else "browser-syms".
std::string GetSymbolsPackageName(const base::FilePath& program);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_CONFIG_H_
