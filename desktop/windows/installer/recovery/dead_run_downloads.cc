#include "desktop/windows/installer/recovery/dead_run_downloads.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/held_folder.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/product/run_folder_name.h"
#include "desktop/windows/installer/recovery/dead_run_removal.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"

namespace installer {

namespace {

constexpr const wchar_t* kDownloadPrefixes[] = {
    PackageFetcher::kPackagePrefix, PackageFetcher::kSuitePrefix};

bool HasDownloadPrefix(const RunFolderName& name) {
  for (const wchar_t* prefix : kDownloadPrefixes) {
    if (name.prefix() == prefix)
      return true;
  }
  return false;
}

// Only a name the fetcher makes, on what it makes there (a folder for the
// package, a file for the rest): the run's log beside them, with the same
// name and ".log", and anything merely named like them stay.
bool IsLeftoverOfDeadRun(const base::FilePath& path,
                         const WIN32_FIND_DATAW& info) {
  const std::optional<RunFolderName> name =
      RunFolderName::ParseFetcherFile(path.BaseName().value());
  if (!name || !HasDownloadPrefix(*name))
    return false;
  const bool is_folder =
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool made_as_folder =
      name->fetcher_file() == RunFolderName::FetcherFile::kPackageFolder;
  return is_folder == made_as_folder &&
         !InterruptedRunRecovery::IsOwnerAlive(name->pid(),
                                               info.ftCreationTime);
}

// In the user's Downloads folder, which the user may change while an
// elevated front end removes it: through the folder held from the drive
// root and emptied through handles.
DeadRunRemoval DeleteLeftover(const base::FilePath& path) {
  if (base::HeldFolder::RemovePath(path, true))
    return DeadRunRemoval::kRemoved;
  // A link the platform cannot remove without reaching what it leads to,
  // or one on the way, stays however long it is tried.
  if (::GetLastError() == ERROR_CANT_ACCESS_FILE ||
      ::GetLastError() == ERROR_CANT_RESOLVE_FILENAME) {
    LOG(WARNING) << "Left a link among what a run that died left: "
                 << path.AsUTF8();
    return DeadRunRemoval::kStays;
  }
  return DeadRunRemoval::kTryAgain;
}

}  // namespace

// static
void DeadRunDownloads::RemoveFrom(const base::FilePath& folder) {
  // Where the folder leads now: a user may keep Downloads elsewhere behind
  // a link. What goes below it is held there, no further link followed.
  const base::FilePath where = base::ResolvedEntry::GetFinalPath(folder);
  if (where.empty())
    return;
  std::vector<base::FilePath> dead;
  base::FileEnumerator listing(
      where, false,
      base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, L"");
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    if (IsLeftoverOfDeadRun(path, listing.GetInfo())) {
      LOG(INFO) << "Removing what a run that died left: " << path.AsUTF8();
      dead.push_back(path);
    }
  }
  RemoveDeadRunEntries(std::move(dead), DeleteLeftover);
}

}  // namespace installer
