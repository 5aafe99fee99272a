#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_CLIENT_SETTINGS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_CLIENT_SETTINGS_H_

#include <cstddef>
#include <string>

namespace base {
class FilePath;
}

namespace installer {

// What crash reporting asks of the product it serves. The answers here are
// those of a product that configures nothing.
class CrashClientSettings {
 public:
  CrashClientSettings() = default;
  CrashClientSettings(const CrashClientSettings&) = delete;
  CrashClientSettings& operator=(const CrashClientSettings&) = delete;
  virtual ~CrashClientSettings();

  virtual bool IsBrowserProcess(const std::wstring& process_type) const;
  virtual bool GetDumpLocationText(std::wstring* text) const;
  virtual void GetProductInfo(const std::wstring& executable_path,
                              std::wstring* product,
                              std::wstring* version,
                              std::wstring* special,
                              std::wstring* channel) const;
  virtual bool GetCrashDumpDirectory(base::FilePath* path) const;
  virtual bool GetAlternativeCrashDumpDirectory(base::FilePath* path) const;
  // Registers the crash-key table with the base library; the number of
  // stored keys it needs.
  virtual size_t RegisterCrashKeys() const;
  virtual bool ReportsDumpLocation() const;
  virtual bool SkipsDumpLocation() const;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_CLIENT_SETTINGS_H_
