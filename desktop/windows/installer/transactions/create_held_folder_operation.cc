#include "desktop/windows/installer/transactions/create_held_folder_operation.h"

#include <windows.h>

#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"

namespace installer {

CreateHeldFolderOperation::CreateHeldFolderOperation(
    base::HeldFolder::Ref parent,
    const base::FilePath& folder,
    HeldFolderTree* tree)
    : parent_(std::move(parent)), folder_(folder), tree_(tree) {}

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
  tree_->Add(folder_, held);
  if (made)
    made_ = std::move(held);
  return true;
}

void CreateHeldFolderOperation::Rollback() {
  if (made_ && !made_->RemoveWhenReleased())
    PLOG(WARNING) << "Left the folder " << folder_.AsUTF8();
  // The folder goes once its last holder lets go; the operations inside it
  // were undone before this one and have let go already.
  tree_->Forget(folder_);
  made_.reset();
  parent_.reset();
}

}  // namespace installer
