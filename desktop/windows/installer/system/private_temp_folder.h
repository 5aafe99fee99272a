#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// A folder made for one use, for files that a possibly elevated process
// runs. Its name is new, so nobody can have prepared it, and its protected
// access list admits only its owners, so nobody else can swap its files or
// put libraries beside them. Deleted with its contents on destruction. Used
// from one thread.
class PrivateTempFolder {
 public:
  enum class Owners {
    // The current user alone, in the user's temporary folder (path key 4).
    kCurrentUser,
    // SYSTEM and the Administrators alone, in the system's temporary
    // folder below the Windows folder, from which users may not delete or
    // rename what others made: for what an elevated process installs.
    kAdministrators,
  };

  explicit PrivateTempFolder(Owners owners = Owners::kCurrentUser);
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
  ~PrivateTempFolder();

  // The protected access list a folder of `owners` is made with, in the
  // security descriptor language ("D:P(A;OICI;FA;;;SY)..."): what Windows
  // stores on it. Empty when it cannot be built.
  static std::wstring GetAccessListText(Owners owners);

  // Whether `folder` has the form of a folder this class makes: a fresh
  // name directly in the temporary folder of either kind of owners.
  static bool HasMadeFolderForm(const base::FilePath& folder);

  // False when no folder could be made.
  [[nodiscard]] bool Create();
  // Empty until `Create` succeeded.
  const base::FilePath& path() const { return path_; }
  // Lets the folder outlive this object, for a process that runs from it
  // and has it removed once it has ended; returns its path (empty when
  // none was made).
  base::FilePath Release();

 private:
  static bool GetParentFolder(Owners owners, base::FilePath* parent);

  const Owners owners_;
  base::FilePath path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_
