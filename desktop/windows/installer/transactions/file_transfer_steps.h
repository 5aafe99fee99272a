#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FILE_TRANSFER_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FILE_TRANSFER_STEPS_H_

#include <windows.h>

#include "base/files/file_path.h"

namespace installer {

class Transaction;

// The steps that copying and moving a file share.

// Makes way for `target` through sub-operations: creates its folder when
// that is missing, else sets aside whatever lies at the target. False when
// the sub-operation failed.
bool PrepareTransferTarget(const base::FilePath& target,
                           Transaction* sub_operations);

// Clears the read-only bit of `source`; true when it was set and is now
// cleared, so that a rollback can set it again.
bool ClearReadOnlyAttribute(const base::FilePath& source);
void SetReadOnlyAttribute(const base::FilePath& path);
// The same through a handle open with FILE_WRITE_ATTRIBUTES, for a file
// that must not be found again by its name.
bool ClearReadOnlyAttribute(HANDLE file);
void SetReadOnlyAttribute(HANDLE file);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FILE_TRANSFER_STEPS_H_
