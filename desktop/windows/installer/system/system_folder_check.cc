#include "desktop/windows/installer/system/system_folder_check.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/path_service.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/paths/local_path.h"

namespace installer {

namespace {

constexpr wchar_t kProfileListKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
// The folders of the programs, data and profiles of every user, as the
// system records them. Read from the registry rather than asked of the
// shell: under Wine the shell writes values of its own into the machine's
// registry the first time a fresh prefix asks it.
constexpr struct {
  const wchar_t* key;
  const wchar_t* value;
} kSystemFolderValues[] = {
    {L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir (x86)"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir (x86)"},
    {kProfileListKey, L"ProfilesDirectory"},
    {kProfileListKey, L"ProgramData"},
    {kProfileListKey, L"Public"},
    {kProfileListKey, L"Default"},
};

// `folder` resolved, and where it leads when it is a link (Wine's profile
// folders): removals are judged by final paths.
void AddFolder(const base::FilePath& folder,
               std::vector<base::FilePath>* folders) {
  const base::FilePath resolved = ResolveLocalPath(folder);
  if (resolved.empty())
    return;
  folders->push_back(resolved);
  base::FilePath final_folder = ResolveFinalLocalPath(resolved);
  if (!final_folder.empty() && ToUpperOrdinal(final_folder.value()) !=
                                    ToUpperOrdinal(resolved.value()))
    folders->push_back(std::move(final_folder));
}

bool IsSameFolder(const base::FilePath& a, const base::FilePath& b) {
  return ToUpperOrdinal(a.value()) == ToUpperOrdinal(b.value());
}

}  // namespace

SystemFolderCheck::SystemFolderCheck(std::vector<base::FilePath> folders,
                                     base::FilePath windows)
    : folders_(std::move(folders)), windows_(std::move(windows)) {}

SystemFolderCheck::~SystemFolderCheck() = default;

SystemFolderCheck::SystemFolderCheck(SystemFolderCheck&&) = default;

// static
SystemFolderCheck SystemFolderCheck::ForThisSystem() {
  std::vector<base::FilePath> folders;
  base::FilePath windows;
  base::FilePath system;
  if (base::GetPathForKey(base::kWindowsDir, &windows))
    AddFolder(windows, &folders);
  if (base::GetPathForKey(base::kSystemDir, &system))
    AddFolder(system, &folders);
  wchar_t wow64[MAX_PATH];
  const UINT length = ::GetSystemWow64DirectoryW(wow64, MAX_PATH);
  if (length > 0 && length < MAX_PATH)
    AddFolder(base::FilePath(std::wstring(wow64, length)), &folders);
  for (const auto& [key_name, value] : kSystemFolderValues) {
    base::win::RegistryKey key;
    std::wstring folder;
    if (key.Open(HKEY_LOCAL_MACHINE, key_name,
                 KEY_QUERY_VALUE | KEY_WOW64_64KEY) == ERROR_SUCCESS &&
        key.ReadString(value, &folder) == ERROR_SUCCESS) {
      AddFolder(base::FilePath(folder), &folders);
    }
  }
  return SystemFolderCheck(std::move(folders), ResolveLocalPath(windows));
}

bool SystemFolderCheck::IsSystemFolder(const base::FilePath& folder) const {
  // The resolved form of a root is "X:\", of anything else longer.
  if (folder.value().size() <= 3 || folders_.empty() || windows_.empty())
    return true;
  return std::any_of(folders_.begin(), folders_.end(),
                     [&folder](const base::FilePath& system) {
                       return IsSameFolder(folder, system) ||
                              IsBelowFolder(system, folder);
                     });
}

bool SystemFolderCheck::IsSystemFolderOrInside(
    const base::FilePath& folder) const {
  return IsSystemFolder(folder) || IsBelowFolder(folder, windows_);
}

}  // namespace installer
