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
  // `folder`: the full path of the folder to make in `parent`.
  CreateHeldFolderOperation(base::HeldFolder::Ref parent,
                            const base::FilePath& folder,
                            HeldFolderTree* tree);
  ~CreateHeldFolderOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  base::HeldFolder::Ref parent_;
  const base::FilePath folder_;
  HeldFolderTree* const tree_;
  // The folder made, while this operation may still take it away.
  base::HeldFolder::Ref made_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_HELD_FOLDER_OPERATION_H_
