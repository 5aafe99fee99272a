#include "desktop/windows/installer/transactions/file_transfer_steps.h"

#include <windows.h>

#include <tuple>

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

namespace {

// The attributes through the handle; zero when they cannot be read.
DWORD ReadAttributes(HANDLE file) {
  FILE_BASIC_INFO basic = {};
  return ::GetFileInformationByHandleEx(file, FileBasicInfo, &basic,
                                        sizeof(basic))
             ? basic.FileAttributes
             : 0;
}

bool WriteAttributes(HANDLE file, DWORD attributes) {
  // Zero times leave them as they are; zero attributes would too.
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return ::SetFileInformationByHandle(file, FileBasicInfo, &basic,
                                      sizeof(basic)) != FALSE;
}

}  // namespace

bool ClearReadOnlyAttribute(HANDLE file) {
  const DWORD attributes = ReadAttributes(file);
  if (!(attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  if (!WriteAttributes(file, attributes & ~FILE_ATTRIBUTE_READONLY)) {
    PLOG(ERROR) << "Couldn't clear RO attribute";
    return false;
  }
  return true;
}

void SetReadOnlyAttribute(HANDLE file) {
  const DWORD attributes = ReadAttributes(file);
  if (attributes)
    std::ignore = WriteAttributes(file, attributes | FILE_ATTRIBUTE_READONLY);
}

}  // namespace installer
