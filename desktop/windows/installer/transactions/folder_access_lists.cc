#include "desktop/windows/installer/transactions/folder_access_lists.h"

#include <windows.h>
#include <aclapi.h>

namespace installer {
namespace {

// An empty list, not a null one: a null list would admit everyone. Set
// through the handle with inheritance allowed, the system reads the
// inheritable entries of the folder the file is now in, as it does for a
// file made there; the owner stays the one the file was made with, the one
// a copy made by this process gets too.
DWORD InheritFolderList(HANDLE file) {
  ACL empty;
  if (!::InitializeAcl(&empty, sizeof(empty), ACL_REVISION))
    return ::GetLastError();
  return ::SetSecurityInfo(
      file, SE_FILE_OBJECT,
      DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, &empty, nullptr);
}

std::vector<unsigned char> ReadList(HANDLE file) {
  DWORD size = 0;
  ::GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, nullptr, 0,
                            &size);
  std::vector<unsigned char> descriptor(size);
  if (size == 0 ||
      !::GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION,
                                 descriptor.data(), size, &size)) {
    descriptor.clear();
  }
  return descriptor;
}

}  // namespace

FolderAccessLists::FolderAccessLists() = default;
FolderAccessLists::~FolderAccessLists() = default;

DWORD FolderAccessLists::Give(HANDLE file, const base::FilePath& folder) {
  const auto known = lists_.find(folder.value());
  if (known != lists_.end()) {
    return ::SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION,
                                     known->second.data())
               ? ERROR_SUCCESS
               : ::GetLastError();
  }
  const DWORD error = InheritFolderList(file);
  if (error != ERROR_SUCCESS)
    return error;
  // A list that cannot be read back is worked out again for the next file.
  std::vector<unsigned char> list = ReadList(file);
  if (!list.empty())
    lists_.emplace(folder.value(), std::move(list));
  return ERROR_SUCCESS;
}

}  // namespace installer
