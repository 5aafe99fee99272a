#include "desktop/windows/installer/system/system_folder_check.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <utility>

#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

// The folders that hold the system, the programs of every user and the
// profiles: an empty one among them still belongs to the system.
constexpr const KNOWNFOLDERID* kSystemFolders[] = {
    &FOLDERID_Windows,         &FOLDERID_System,
    &FOLDERID_SystemX86,       &FOLDERID_ProgramFiles,
    &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramFilesCommon,
    &FOLDERID_ProgramFilesCommonX86,
    &FOLDERID_ProgramData,     &FOLDERID_UserProfiles,
    &FOLDERID_Profile,         &FOLDERID_Public,
    &FOLDERID_LocalAppData,    &FOLDERID_RoamingAppData,
    &FOLDERID_Desktop,         &FOLDERID_Documents,
    &FOLDERID_PublicDesktop,   &FOLDERID_StartMenu,
    &FOLDERID_CommonStartMenu, &FOLDERID_Programs,
    &FOLDERID_CommonPrograms,  &FOLDERID_Startup,
    &FOLDERID_CommonStartup,
};

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
  for (const KNOWNFOLDERID* id : kSystemFolders) {
    const base::FilePath folder = GetResolvedKnownFolder(*id);
    if (folder.empty())
      continue;
    folders.push_back(folder);
    // Folders removed are judged by their final paths: where a known folder
    // is a link (Wine's profile folders), where it leads counts too.
    base::FilePath final_folder = ResolveFinalLocalPath(folder);
    if (!final_folder.empty() && !IsSameFolder(final_folder, folder))
      folders.push_back(std::move(final_folder));
  }
  return SystemFolderCheck(std::move(folders),
                           GetResolvedKnownFolder(FOLDERID_Windows));
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
