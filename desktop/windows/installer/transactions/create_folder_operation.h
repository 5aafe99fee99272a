#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_

#include <memory>

#include "base/files/file_path.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

// Creates a folder with every missing level above it. A rollback removes
// the levels it created, deepest first, and never a folder that existed
// before, one that is not empty, or one that is no longer where it was
// made: each level goes only while a handle shows it to be that folder,
// reached through no link put in the place of one since.
class CreateFolderOperation : public Operation {
 public:
  explicit CreateFolderOperation(const base::FilePath& folder);
  ~CreateFolderOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  // Every level between the existing ancestor and `folder_` goes into the
  // run's journal, so that a recovery can take them all away.
  [[nodiscard]] bool RecordLevelsToCreate() const;
  // Where the created `level` lies when nothing was swapped in since.
  base::FilePath GetMadeLevelFinalPath(const base::FilePath& level) const;

  const base::FilePath folder_;
  // The nearest folder above `folder_` that existed when `Do` set out to
  // create it; empty when the folder was there already.
  base::FilePath existing_ancestor_;
  // Where `existing_ancestor_` lay (its final path), below which the levels
  // were made; empty when it could not be told, and then nothing is
  // removed.
  base::FilePath ancestor_final_path_;
};

std::unique_ptr<Operation> MakeCreateFolderOperation(
    const base::FilePath& folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
