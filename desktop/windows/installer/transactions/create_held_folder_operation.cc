#include "desktop/windows/installer/transactions/create_held_folder_operation.h"

#include <windows.h>

#include <tuple>
#include <utility>

#include "base/files/empty_folder_removal.h"
#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"

namespace installer {

CreateHeldFolderOperation::CreateHeldFolderOperation(
    base::HeldFolder::Ref parent,
    const base::FilePath& folder,
    HeldFolderTree* tree,
    Hold hold)
    : parent_(std::move(parent)), folder_(folder), tree_(tree), hold_(hold) {}

CreateHeldFolderOperation::~CreateHeldFolderOperation() = default;

bool CreateHeldFolderOperation::Do(Transaction* sub_operations) {
  VLOG(1) << "Creating the held folder " << folder_.AsUTF8();
  // Recorded before the attempt: a run killed right after the creation
  // leaves a line for the recovery to take the folder away by.
  if (!RunJournal::Get()->RecordCreatedFolder(folder_)) {
    set_error(::GetLastError());
    LOG(ERROR) << "Failed folder creation: its journal line was not written";
    return false;
  }
  bool made = false;
  base::HeldFolder::Ref held =
      parent_->OpenSubfolder(folder_.BaseName().value(), true, &made);
  if (!held) {
    set_error(::GetLastError());
    PLOG(ERROR) << "Failed creating " << folder_.AsUTF8()
                << ", or what took its name is no plain folder";
    return false;
  }
  if (made && hold_ == Hold::kAsFound) {
    made_path_ = held->path();
    // Let go of the delete access first: a hold as found shares none.
    held.reset();
    held = parent_->OpenSubfolder(folder_.BaseName().value(), false);
    if (!held) {
      set_error(::GetLastError());
      PLOG(ERROR) << "Failed holding " << folder_.AsUTF8() << " once made";
      // Not undone by a rollback: this operation failed.
      std::ignore = base::RemoveEmptyFolderAt(made_path_);
      made_path_ = base::FilePath();
      return false;
    }
  } else if (made) {
    made_ = held;
  }
  tree_->Add(folder_, std::move(held));
  return true;
}

void CreateHeldFolderOperation::Rollback() {
  if (made_ && !made_->RemoveWhenReleased())
    PLOG(WARNING) << "Left the folder " << folder_.AsUTF8();
  // Every holder let go before (the tree's release is undone first).
  if (!made_path_.empty()) {
    const base::EmptyFolderRemoval removal =
        base::RemoveEmptyFolderAt(made_path_);
    if (removal == base::EmptyFolderRemoval::kRefused ||
        removal == base::EmptyFolderRemoval::kFailed) {
      PLOG(WARNING) << "Left the folder " << folder_.AsUTF8();
    }
  }
  // The folder goes once its last holder lets go; the operations inside it
  // were undone before this one and have let go already.
  tree_->Forget(folder_);
  made_.reset();
  made_path_ = base::FilePath();
  parent_.reset();
}

}  // namespace installer
