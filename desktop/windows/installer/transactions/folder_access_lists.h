#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FOLDER_ACCESS_LISTS_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FOLDER_ACCESS_LISTS_H_

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Gives files moved into a folder the access list that the folder passes
// on to a new file. The system works the list out for the first file moved
// into each folder; each later file of that folder takes the list the first
// one got. That is the same list: a file's inherited entries depend only on
// its folder's and its owner, and the files given here are one run's
// package, all made by one process. Setting a finished list skips the
// system's look at the folder, which costs more than the move itself.
class FolderAccessLists {
 public:
  FolderAccessLists();
  FolderAccessLists(const FolderAccessLists&) = delete;
  FolderAccessLists& operator=(const FolderAccessLists&) = delete;
  ~FolderAccessLists();

  // Gives `file` (held with READ_CONTROL and WRITE_DAC, now in `folder`)
  // the list of its folder. Returns the Windows error.
  [[nodiscard]] DWORD Give(HANDLE file, const base::FilePath& folder);

 private:
  // Self-relative descriptors holding a list each, by folder.
  std::map<std::wstring, std::vector<unsigned char>> lists_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FOLDER_ACCESS_LISTS_H_
