#include "desktop/windows/installer/transactions/create_folder_operation.h"

#include <windows.h>

#include <vector>

#include "base/files/empty_folder_removal.h"
#include "base/files/file_util.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"

namespace installer {

CreateFolderOperation::CreateFolderOperation(const base::FilePath& folder)
    : folder_(folder) {}

CreateFolderOperation::~CreateFolderOperation() = default;

bool CreateFolderOperation::Do(Transaction* sub_operations) {
  VLOG(1) << "Attempting to create folder " << folder_.AsUTF8();
  if (base::DirectoryExists(folder_)) {
    VLOG(1) << "Folder already exists";
    return true;
  }
  base::FilePath candidate = folder_;
  for (;;) {
    const base::FilePath parent = candidate.DirName();
    if (parent == candidate)
      break;
    if (base::DirectoryExists(parent)) {
      VLOG(1) << "Valid ancestor";
      // Recorded before the attempt: a creation that stops part-way leaves
      // upper levels that the rollback must still take away.
      existing_ancestor_ = parent;
      if (!RecordLevelsToCreate()) {
        // Not made: the drive is there, and the cause is the journal's
        // (logged where its write failed), not a missing path.
        existing_ancestor_ = base::FilePath();
        set_error(::GetLastError());
        LOG(ERROR) << "Failed folder creation: its journal line was not written";
        return false;
      }
      ancestor_final_path_ = base::ResolvedEntry::GetFinalPath(parent);
      if (!base::CreateDirectoryAndGetError(folder_, nullptr)) {
        set_error(::GetLastError());
        break;
      }
      VLOG(1) << "Folder created successfully";
      return true;
    }
    candidate = parent;
  }
  // No level of the path exists: its drive or share is missing.
  if (error() == 0)
    set_error(ERROR_PATH_NOT_FOUND);
  LOG(ERROR) << "Failed folder creation";
  return false;
}

bool CreateFolderOperation::RecordLevelsToCreate() const {
  // Outermost first: a recovery undoes newest first, so each level is
  // tried only once the ones inside it are gone.
  std::vector<base::FilePath> levels;
  for (base::FilePath folder = folder_; folder != existing_ancestor_;
       folder = folder.DirName()) {
    levels.push_back(folder);
  }
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    if (!RunJournal::Get()->RecordCreatedFolder(*level))
      return false;
  }
  return true;
}

base::FilePath CreateFolderOperation::GetMadeLevelFinalPath(
    const base::FilePath& level) const {
  base::FilePath final_path = ancestor_final_path_;
  if (final_path.empty() ||
      !existing_ancestor_.AppendRelativePath(level, &final_path)) {
    return base::FilePath();
  }
  return final_path;
}

void CreateFolderOperation::Rollback() {
  if (existing_ancestor_.empty())
    return;
  for (base::FilePath folder = folder_; folder != existing_ancestor_;) {
    const base::FilePath final_path = GetMadeLevelFinalPath(folder);
    if (final_path.empty()) {
      LOG(ERROR) << "Left " << folder.AsUTF8()
                 << ": where it was made cannot be told";
      break;
    }
    // A level that is missing was never made; one that stays (not empty,
    // in use, or no longer the one made) keeps every folder above it too.
    const base::EmptyFolderRemoval removal =
        base::RemoveEmptyFolderAt(final_path);
    // A file in the way, or a link put in a level's place.
    if (removal == base::EmptyFolderRemoval::kRefused) {
      VLOG(1) << "Left " << folder.AsUTF8()
              << ": no folder made here, or no longer the one made";
    }
    if (removal != base::EmptyFolderRemoval::kRemoved &&
        removal != base::EmptyFolderRemoval::kMissing) {
      break;
    }
    const base::FilePath parent = folder.DirName();
    if (parent == folder)
      break;
    folder = parent;
  }
}

std::unique_ptr<Operation> MakeCreateFolderOperation(
    const base::FilePath& folder) {
  return std::make_unique<CreateFolderOperation>(folder);
}

}  // namespace installer
