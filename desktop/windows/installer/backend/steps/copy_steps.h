#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_COPY_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_COPY_STEPS_H_

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/weak_reference.h"
#include "desktop/windows/installer/backend/installer_part.h"

namespace installer {

// The copy steps of an installation or an update: the package's files list
// into the version folder, then its root files list into the installation
// folder. A package folder that goes with the run gives its files by moves
// instead, whole top folders at once where the files keep their access
// lists; where the run may be elevated or installs for all users, each file
// goes by its single name into its held folder (RunState::held_folders),
// a moved one with the list of its new folder, as a copy would have it.
class CopySteps : public InstallerPart {
 public:
  explicit CopySteps(Installer* installer);
  ~CopySteps();

  // Reads both lists from the package folder and checks that every entry
  // stays inside the folders; false when that ended the run.
  [[nodiscard]] bool PrepareFileLists(const base::FilePath& folder);
  // How many characters below the installation folder the deepest of the
  // listed files and the helpers goes, `subfolder` (the version folder)
  // counted for those of the files list and the helpers.
  size_t DeepestFile(const std::wstring& subfolder) const;
  // Moves from now on where the package folder allows them.
  void DecideWhetherToMove();
  // The reports the copy steps make beyond one per step.
  int ExtraReports() const;

  // One batch of the copy steps, from entry `index` of the files list, or of
  // the root files list with `is_root`; reports one step per batch but the
  // last, which schedules the next step.
  void StepCopyFile(int index, bool is_root);

 private:
  bool ReadFileList(const wchar_t* name, std::vector<std::string>* list);
  bool ShouldMovePackageFiles() const;
  // One list entry into the installation (logged there); false when the run
  // failed.
  bool CopyPackageFile(const std::string& entry, bool is_root);
  // Moves `source` (same volume only) when `movable` and the package folder
  // allows it, else copies it.
  bool TransferPackageFile(const base::FilePath& source,
                           const base::FilePath& target,
                           bool movable);
  enum class FolderMove {
    kMoved,
    // The file goes by itself.
    kNotMoved,
    // The run fails: the folder's entries took lists a user may act on, so
    // none of them may be taken by its path any more.
    kFailed,
  };
  // Whether the file list entry `relative` went into the installation with
  // its top folder, which is moved in one rename at its first entry when
  // the package folder allows moves, the folder holds exactly the list's
  // files below it and its target does not exist yet.
  FolderMove MovedWithItsFolder(const base::FilePath& relative);
  FolderMove MoveWholeFolder(const std::wstring& top);

  std::vector<std::string> files_;
  std::vector<std::string> root_files_;
  // The package folder is deleted after the run: its files are moved.
  bool move_package_files_ = false;
  // The files of both lists moved so far, and those copied.
  size_t moved_ = 0;
  size_t copied_ = 0;
  // The list's top folders met so far by the copy, and whether each went
  // into the installation in one rename.
  std::map<std::wstring, FolderMove> whole_folder_moved_;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_COPY_STEPS_H_
