#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_

#include "base/files/file_path.h"

namespace installer {

// A folder made for one use inside the temporary folder (path key 4), for
// files that a possibly elevated process runs. Its name is new, so nobody
// can have prepared it, and its access list admits the current user alone,
// so nobody else can swap its files or put libraries beside them. Deleted
// with its contents on destruction. Used from one thread.
class PrivateTempFolder {
 public:
  PrivateTempFolder();
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
  ~PrivateTempFolder();

  // False when no folder could be made.
  bool Create();
  // Empty until `Create` succeeded.
  const base::FilePath& path() const { return path_; }

 private:
  base::FilePath path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_
