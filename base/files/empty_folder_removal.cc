#include "base/files/empty_folder_removal.h"

#include <windows.h>

#include "base/files/final_path.h"
#include "base/files/new_file_in_folder.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

bool IsNotFoundError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

EmptyFolderRemoval RemoveEmptyFolderAt(const FilePath& final_path) {
  // Without FILE_SHARE_DELETE nobody can move it while it is judged.
  win::ScopedHandle folder(::CreateFileW(
      final_path.value().c_str(), DELETE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.IsValid()) {
    return IsNotFoundError(::GetLastError()) ? EmptyFolderRemoval::kMissing
                                             : EmptyFolderRemoval::kFailed;
  }
  FILE_BASIC_INFO basic = {};
  if (!::GetFileInformationByHandleEx(folder.Get(), FileBasicInfo, &basic,
                                      sizeof(basic))) {
    return EmptyFolderRemoval::kFailed;
  }
  // Wine opens what a folder link leads to even so: its final path tells.
  if (!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !NewFileInFolder::IsSamePlace(
          GetFinalPath(folder.Get(), final_path.value()), final_path.value())) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return EmptyFolderRemoval::kRefused;
  }
  // Refused at once for a folder that is not empty; done when the handle
  // closes.
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (!::SetFileInformationByHandle(folder.Get(), FileDispositionInfo,
                                    &disposition, sizeof(disposition))) {
    return EmptyFolderRemoval::kFailed;
  }
  return EmptyFolderRemoval::kRemoved;
}

}  // namespace base
