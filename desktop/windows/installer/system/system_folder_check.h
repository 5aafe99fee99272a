#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_SYSTEM_FOLDER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_SYSTEM_FOLDER_CHECK_H_

#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Whether a folder that a process which may run elevated is about to
// remove is one of the system's: checked besides whatever tells the folder
// to be the installation's, since that comes from a record or a command
// line the user could have written.
class SystemFolderCheck {
 public:
  // `folders`: the system's folders, resolved (ResolveLocalPath), none of
  // which, nor any folder above one, may go; `windows`: the Windows folder,
  // resolved, below which nothing may go either.
  SystemFolderCheck(std::vector<base::FilePath> folders,
                    base::FilePath windows);
  ~SystemFolderCheck();
  SystemFolderCheck(SystemFolderCheck&&);

  // The folders of this system.
  static SystemFolderCheck ForThisSystem();

  // `folder` (resolved) is a drive's root, one of the system's folders or
  // above one, or cannot be told apart from them (empty, or no system
  // folder known).
  bool IsSystemFolder(const base::FilePath& folder) const;
  // IsSystemFolder, or inside the Windows folder.
  bool IsSystemFolderOrInside(const base::FilePath& folder) const;

 private:
  std::vector<base::FilePath> folders_;
  base::FilePath windows_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_SYSTEM_FOLDER_CHECK_H_
