#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_HELD_FOLDER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_HELD_FOLDER_OPERATION_H_

#include "base/files/file_path.h"
#include "base/files/held_folder.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

class HeldFolderTree;

// Makes one folder by its name in a held parent and adds it, held, to the
// tree. A rollback takes away the folder it made, through the handle that
// made it, once it is empty and nothing holds it any more: never a folder
// that was there before, nor whatever took its name.
class CreateHeldFolderOperation : public Operation {
 public:
  // How the folder made is held while the run goes on.
  enum class Hold {
    // By the handle that made it, with delete access, which the rollback
    // takes it away through.
    kWithDeleteAccess,
    // For a folder others open by name during the run (the installation
    // folder and the levels above it, which the package's backend holds
    // too), who would have to share its deletion: held as a folder found
    // there is, and taken away by the rollback only while a handle shows it
    // to be the one made (base::RemoveEmptyFolderAt).
    kAsFound,
  };

  // `folder`: the full path of the folder to make in `parent`.
  CreateHeldFolderOperation(base::HeldFolder::Ref parent,
                            const base::FilePath& folder,
                            HeldFolderTree* tree,
                            Hold hold = Hold::kWithDeleteAccess);
  ~CreateHeldFolderOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  base::HeldFolder::Ref parent_;
  const base::FilePath folder_;
  HeldFolderTree* const tree_;
  const Hold hold_;
  // The folder made, while this operation may still take it away.
  base::HeldFolder::Ref made_;
  // Hold::kAsFound: where the folder was made (its final path).
  base::FilePath made_path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_HELD_FOLDER_OPERATION_H_
