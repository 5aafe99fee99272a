#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_LEFTOVER_REMOVER_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_LEFTOVER_REMOVER_H_

#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace base {
class CommandLine;
}  // namespace base

namespace installer {

// The role of the installer's copy that an uninstallation leaves running
// (switch "remove-leftovers", started by RemoverCopy): once the processes
// whose handles it inherited have ended, it deletes what the installation
// folder's record (CleanupBatch) names as still in use, each entry through
// a handle judged inside that folder, so that nothing outside is reached
// however the folder changed meanwhile; then has its own folder removed.
// It may run elevated and the record was written where the user may write:
// every entry is judged again here, a link or anything outside is refused
// and logged, and a folder goes only when empty.
class LeftoverRemover {
 public:
  // Entries deleted and refused by RemoveListed.
  struct Outcome {
    size_t deleted = 0;
    size_t refused = 0;
  };

  // What becomes of the emptied installation folder.
  enum class InstallFolder { kRemove, kKeep };

  // The role as the entry runs it.
  static void RunRole(const base::CommandLine& command_line);

  // Deletes the files, then the folders, that the record of
  // `install_folder` names, the record and (unless kept) the installation
  // folder itself last; nothing when the record is missing or not well
  // formed.
  static Outcome RemoveListed(
      const base::FilePath& install_folder,
      InstallFolder install_folder_fate = InstallFolder::kRemove);

  // The process handles of "wait-for-processes" that are handles to
  // processes in this one (with the right to wait and to query): at most a
  // few, numbers as the starter wrote them; each other value is left out,
  // logged.
  static std::vector<base::win::ScopedHandle> TakeInheritedProcesses(
      const base::CommandLine& command_line);

  // Whether `folder` is one that RemoverCopy makes: a fresh name directly
  // in a temporary folder of private folders, holding exactly the
  // installer's program and library and the private folder's mark. Only
  // such a folder is ever removed whole.
  static bool IsCopyFolder(const base::FilePath& folder);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_LEFTOVER_REMOVER_H_
