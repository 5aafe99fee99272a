#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_

#include <memory>

#include "base/files/file_path.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

// Creates a folder with every missing level above it. A rollback removes
// the levels it created, deepest first, and never a folder that existed
// before or one that is not empty.
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

  const base::FilePath folder_;
  // The nearest folder above `folder_` that existed when `Do` set out to
  // create it; empty when the folder was there already.
  base::FilePath existing_ancestor_;
};

std::unique_ptr<Operation> MakeCreateFolderOperation(
    const base::FilePath& folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
