#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"

namespace installer {

// The folder-permission role's grant: full access, passed on to everything
// inside, for the trustee on the folder, and its undo. Only what
// FolderGrantCheck allows is granted. The folder and each folder above it
// are opened without following links and held against being renamed or
// replaced while their access list is read and written through the
// folder's own handle, so that what was judged is what is changed. The
// granted folder itself stays held until the undo, which is written
// through that handle: no name is looked up again, so nothing done to the
// path meanwhile can turn the undo away or send it elsewhere. Lives on one
// thread.
class FolderGrant {
 public:
  // `trustee`: a SID in text form or an account name.
  FolderGrant(const base::FilePath& folder, const std::wstring& trustee);
  ~FolderGrant();
  FolderGrant(const FolderGrant&) = delete;
  FolderGrant& operator=(const FolderGrant&) = delete;

  // Creates the folder when it is missing, then grants. False, with the
  // reason logged, when nothing was granted.
  [[nodiscard]] bool Grant();

  // Puts back the access list that Grant found on the folder granted,
  // wherever it is now.
  void Undo();

 private:
  const base::FilePath folder_;
  const std::wstring trustee_;
  // The folder as the grant opened it; empty until granted.
  base::FilePath granted_;
  // The folder granted, held from the grant to its undo.
  base::win::ScopedHandle granted_folder_;
  base::win::ScopedLocalAlloc<void> old_descriptor_;
  PACL old_dacl_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_GRANT_H_
