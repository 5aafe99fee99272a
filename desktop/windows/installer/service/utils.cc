#include "desktop/windows/installer/service/utils.h"

#include <algorithm>

#include "base/features/feature_tables.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/branding.h"
#include "desktop/windows/installer/installer_version.h"

namespace installer {

std::wstring MakeKernelObjectName(const std::wstring& name,
                                  const std::wstring& prefix,
                                  bool global) {
  std::wstring joined = prefix + L"/" + name;
  std::replace(joined.begin(), joined.end(), L'\\', L'/');
  return (global ? L"Global\\" : L"Local\\") + joined;
}

std::string GetProductExecutableName() {
  return GetFileNameBase() + ".exe";
}

std::wstring GetCompanyRegistryPath() {
  return L"Software\\" + base::Utf8ToWide(GetCompanyName());
}

std::wstring GetUninstallRegistryPath(const std::wstring& key_name) {
  std::wstring path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  if (!key_name.empty())
    path += L"\\" + key_name;
  return path;
}

std::string GetCurrentStreamName() {
  return GetStreamNameForChannel(base::GetReleaseChannel());
}

std::string GetStreamNameForChannel(int32_t channel) {
  struct ChannelWord {
    int32_t channel;
    const char* word;
  };
  static constexpr ChannelWord kChannelWords[] = {
      {1, "Nightly"}, {2, "Developer"}, {3, "Next"}, {4, "Stable"}};
  for (const ChannelWord& entry : kChannelWords) {
    if (entry.channel == channel)
      return entry.word;
  }
  return GetStreamName();
}

}  // namespace installer
