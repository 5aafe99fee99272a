#include "desktop/windows/installer/transactions/file_transfer_steps.h"

#include <windows.h>
#include <aclapi.h>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/transactions/create_folder_operation.h"
#include "desktop/windows/installer/transactions/delete_file_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

bool PrepareTransferTarget(const base::FilePath& target,
                           Transaction* sub_operations) {
  const base::FilePath parent = target.DirName();
  if (!base::DirectoryExists(parent))
    return sub_operations->ExecuteOperation(MakeCreateFolderOperation(parent));
  if (!base::PathExists(target))
    return true;
  return sub_operations->ExecuteOperation(
      MakeDeleteFileOperation(target, /*check_in_use=*/false,
                              /*remove_empty_parents=*/false));
}

bool ClearReadOnlyAttribute(const base::FilePath& source) {
  const DWORD attributes = ::GetFileAttributesW(source.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  if (!::SetFileAttributesW(source.value().c_str(),
                            attributes & ~FILE_ATTRIBUTE_READONLY)) {
    LOG(ERROR) << "Couldn't clear RO attribute of " << source.AsUTF8();
    return false;
  }
  return true;
}

void SetReadOnlyAttribute(const base::FilePath& path) {
  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    ::SetFileAttributesW(path.value().c_str(),
                         attributes | FILE_ATTRIBUTE_READONLY);
}

DWORD TakeFolderAccessList(HANDLE file) {
  // An empty list, not a null one: a null list would admit everyone. Set
  // through the handle, the system reads the inheritable entries of the
  // folder the file is now in, as it does for a file made there; the owner
  // stays the one this process's token gave it when it was unpacked, the
  // one a copy made by this process gets too.
  ACL empty;
  if (!::InitializeAcl(&empty, sizeof(empty), ACL_REVISION))
    return ::GetLastError();
  return ::SetSecurityInfo(
      file, SE_FILE_OBJECT,
      DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, &empty, nullptr);
}

}  // namespace installer
