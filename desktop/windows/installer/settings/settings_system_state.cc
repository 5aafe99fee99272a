// What the settings learn from the machine: the default installation
// folders, the folder the registry remembers, the drives for a standalone
// installation and the uninstall entries of other installations.

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/features/feature_tables.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/settings/install_folder_text.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/standalone_drives.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

// FOLDERID_UserProgramFiles. It has no CSIDL.
constexpr GUID kUserProgramFilesFolderId = {
    0x5cd7aee2,
    0x2219,
    0x4a67,
    {0xb8, 0x5d, 0x6c, 0x9c, 0xe1, 0x56, 0x60, 0xcb}};
constexpr int kNoCsidl = -1;
constexpr wchar_t kProgramsFolderName[] = L"Programs";

constexpr int32_t kStableChannel = 4;

// The uninstall entries' stream words of each release channel.
struct ChannelStreams {
  int32_t channel;
  const char* streams[2];
};
constexpr ChannelStreams kUninstallEntryStreams[] = {
    {4, {"Stable", nullptr}},
    {3, {"beta", "Next"}},
    {2, {"developer", "Developer"}},
    {1, {"nightly", nullptr}},
};

struct UninstallRoot {
  HKEY root;
  REGSAM view;
};
// Not constexpr: the predefined keys are casts of integers.
const UninstallRoot kUninstallRoots[] = {
    {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
    {HKEY_CURRENT_USER, 0},
};

// Registry value names hold at most 255 characters, key names as many.
constexpr DWORD kMaxKeyNameLength = 256;

std::wstring StandardFolderLeaf() {
  return base::Utf8ToWide(GetVisibleProductNameWithStream());
}

base::FilePath LocalProgramsFolder() {
  base::FilePath local_app_data;
  if (!base::GetPathForKey(base::kLocalAppData, &local_app_data))
    return base::FilePath();
  return local_app_data.Append(kProgramsFolderName);
}

// The user's program files. The known folder is missing on some systems
// (and under Wine); its usual place is the local one.
base::FilePath UserProgramsFolder() {
  if (base::win::GetWindowsVersion() < base::win::kVersionWin7)
    return LocalProgramsFolder();
  base::FilePath folder;
  if (GetKnownFolderPath(kUserProgramFilesFolderId, kNoCsidl, &folder, true))
    return folder;
  LOG(WARNING) << "The user's program files folder is unknown; using "
               << "the local application data folder";
  return LocalProgramsFolder();
}

bool IsStreamOfThisChannel(const std::string& stream) {
  const int32_t channel = base::GetReleaseChannel();
  for (const ChannelStreams& entry : kUninstallEntryStreams) {
    if (entry.channel != channel)
      continue;
    for (const char* name : entry.streams) {
      if (name && stream == name)
        return true;
    }
  }
  return false;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Whether the subkey `name` is an uninstall entry of this build's stream.
bool IsUninstallEntryOfThisStream(const base::win::RegistryKey& uninstall,
                                  const std::wstring& name,
                                  REGSAM view) {
  const std::wstring product = base::Utf8ToWide(GetProductName());
  if (!StartsWith(name, product))
    return false;
  base::win::RegistryKey entry(uninstall.Handle(), name.c_str(),
                               KEY_QUERY_VALUE | view);
  std::wstring publisher;
  if (entry.ReadString(L"Publisher", &publisher) != ERROR_SUCCESS) {
    VLOG(1) << "Cannot read Publisher in an uninstall key";
    return false;
  }
  if (!StartsWith(publisher, base::Utf8ToWide(GetCompanyName())))
    return false;
  std::wstring display_name;
  if (entry.ReadString(L"DisplayName", &display_name) != ERROR_SUCCESS) {
    VLOG(1) << "Cannot read Display Name in an uninstall key";
    return false;
  }
  const std::wstring display_prefix =
      base::Utf8ToWide(GetVisibleProductName()) + L" ";
  if (!StartsWith(display_name, display_prefix)) {
    VLOG(1) << "DisplayName does not start with " << GetVisibleProductName();
    return false;
  }
  const std::wstring rest = display_name.substr(display_prefix.size());
  return IsStreamOfThisChannel(
      base::WideToUtf8(rest.substr(0, rest.find(L' '))));
}

// The uninstall entries of this stream under `root`, counted until `limit`.
int32_t CountUninstallEntries(const UninstallRoot& root, int32_t limit) {
  base::win::RegistryKey uninstall;
  if (uninstall.Open(root.root, GetUninstallRegistryPath().c_str(),
                     KEY_ENUMERATE_SUB_KEYS | root.view) != ERROR_SUCCESS) {
    return 0;
  }
  int32_t count = 0;
  for (DWORD index = 0; count < limit; ++index) {
    wchar_t name[kMaxKeyNameLength];
    DWORD length = kMaxKeyNameLength;
    const LONG result =
        ::RegEnumKeyExW(uninstall.Handle(), index, name, &length, nullptr,
                        nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA)
      continue;
    if (result != ERROR_SUCCESS)
      break;
    if (IsUninstallEntryOfThisStream(uninstall, std::wstring(name, length),
                                     root.view)) {
      ++count;
    }
  }
  return count;
}

struct InstallPathValue {
  const char* label;
  std::wstring name;
};

}  // namespace

base::FilePath Settings::GetDefaultInstallFolder(int32_t sources,
                                                 uint32_t architecture,
                                                 bool all_users,
                                                 bool copy_only) const {
  VLOG(2) << "Retrieving default installation folder path, sources " << sources
          << ", architecture " << architecture;
  if ((sources & kFromCommandLine) && !command_line_folder_.empty())
    return command_line_folder_;
  VLOG(2) << "Default install folder: not from command line";
  if (!copy_only && (sources & kFromRegistry) && !registry_folder_.empty())
    return registry_folder_;
  VLOG(2) << "Default install folder: not from registry";
  if (!(sources & kFromStandardFolder))
    return base::FilePath();

  if (all_users) {
    LOG(INFO) << "Default install folder: for all users";
    base::FilePath program_files;
    if (!base::GetPathForKey(architecture == kArchitectureX64
                                 ? base::kProgramFilesNative
                                 : base::kProgramFilesX86,
                             &program_files)) {
      return base::FilePath();
    }
    return program_files.Append(StandardFolderLeaf());
  }
  if (copy_only) {
    LOG(INFO) << "Default install folder: for all standalone";
    return standalone_folders_.empty() ? base::FilePath()
                                       : standalone_folders_.front();
  }
  LOG(INFO) << "Default install folder: for current user";
  const base::FilePath programs = UserProgramsFolder();
  return programs.empty() ? base::FilePath()
                          : programs.Append(StandardFolderLeaf());
}

// static
base::FilePath Settings::ReadInstallFolderFromRegistry(uint32_t architecture) {
  base::win::RegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, GetCompanyRegistryPath().c_str(),
               KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    return base::FilePath();
  }
  const std::wstring stream = base::Utf8ToWide(GetStreamName());
  std::vector<InstallPathValue> values;
  if (architecture == kArchitectureX64)
    values.push_back({"legacy x64", L"Last " + stream + L" Install Path x64"});
  values.push_back({"standard", L"Last " + stream + L" Install Path"});
  values.push_back(
      {"beta=next",
       L"Last " + base::Utf8ToWide(GetCurrentStreamName()) + L" Install Path"});
  if (base::GetReleaseChannel() == kStableChannel)
    values.push_back({"primordial", L"Last install path"});

  std::wstring text;
  for (const InstallPathValue& value : values) {
    if (key.ReadString(value.name.c_str(), &text) != ERROR_SUCCESS)
      continue;
    LOG(INFO) << "Install folder reg value [" << value.label
              << "]: " << text.c_str();
    const base::FilePath folder = InstallFolderFromStoredText(text);
    // Checked before it is looked for: a recorded device's path is not
    // even opened.
    if (!IsValidInstallPath(folder, false) || !folder.IsAbsolute() ||
        !base::DirectoryExists(folder)) {
      return base::FilePath();
    }
    LOG(INFO) << "Install folder from reg value " << folder.value().c_str();
    return folder;
  }
  return base::FilePath();
}

// static
std::vector<base::FilePath> Settings::ListStandaloneInstallPaths() {
  return RankStandaloneInstallPaths(FindStandaloneDrives(),
                                    StandardFolderLeaf());
}

void Settings::ScanUninstallKeys() {
  constexpr int32_t kEnoughEntries = 2;
  const bool is_32_bit_system =
      base::win::GetWindowsVersionInfo().architecture() ==
      base::win::WindowsVersionInfo::kArchitectureX86;
  int32_t count = 0;
  for (const UninstallRoot& root : kUninstallRoots) {
    if (root.view == KEY_WOW64_64KEY && is_32_bit_system)
      continue;
    count += CountUninstallEntries(root, kEnoughEntries - count);
    if (count >= kEnoughEntries) {
      profile_deletion_allowed_ = false;
      return;
    }
  }
}

}  // namespace installer
