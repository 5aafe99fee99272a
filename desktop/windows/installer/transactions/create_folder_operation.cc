#include "desktop/windows/installer/transactions/create_folder_operation.h"

#include <windows.h>

#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"

namespace installer {

namespace {

bool IsMissingPathError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

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

void CreateFolderOperation::Rollback() {
  if (existing_ancestor_.empty())
    return;
  for (base::FilePath folder = folder_; folder != existing_ancestor_;) {
    // A level that is missing was never made; one that stays (not empty,
    // or in use) keeps every folder above it too.
    if (!::RemoveDirectoryW(folder.value().c_str()) &&
        !IsMissingPathError(::GetLastError())) {
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
