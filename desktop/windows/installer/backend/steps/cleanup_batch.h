#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/paths/inside_folder_check.h"

namespace installer {

// The batch file that an uninstallation leaves behind to delete what was
// still in use: it waits until the given processes have ended, then deletes
// the files and removes the folders (children first), then itself and the
// emptied installation folder.
// Only what lies inside the installation folder is ever named in it, so that
// an elevated process can check a batch file it did not write.
class CleanupBatch {
 public:
  explicit CleanupBatch(const base::FilePath& install_folder);
  ~CleanupBatch();
  CleanupBatch(const CleanupBatch&) = delete;
  CleanupBatch& operator=(const CleanupBatch&) = delete;

  // A process to wait for; 0 is ignored.
  void AddProcess(uint32_t process_id);
  // A file to delete later, named as the check resolves it. With
  // `with_folders`, its folder and every folder above it up to the
  // installation folder are removed later too (removing a non-empty one
  // simply fails). False, and nothing added, for a path that does not lie
  // inside the installation folder as Windows resolves it, or is a link:
  // cmd would delete what it leads to.
  bool AddPath(const base::FilePath& path, bool with_folders);
  bool empty() const { return paths_.empty(); }

  // The batch text as cmd reads it: in the OEM code page, with "%" doubled
  // so that cmd does not expand it. A path that the code page cannot hold
  // is written by its short name, or left out when it has none.
  std::string GetText() const;

  // Whether `text` is a batch file that this class could have written for
  // `install_folder`: only its own lines, naming only paths inside that
  // folder.
  static bool IsWellFormed(std::string_view text,
                           const base::FilePath& install_folder);

  // For the elevated side before it runs `batch_file`, which an unelevated
  // process wrote: false unless the file is well formed; it is then written
  // anew by this process (owned by it, so no longer the writer's to change
  // between the check and the run).
  static bool TakeOver(const base::FilePath& batch_file,
                       const base::FilePath& install_folder);

 private:
  InsideFolderCheck inside_folder_;
  std::vector<uint32_t> process_ids_;
  std::vector<base::FilePath> paths_;
  std::set<std::wstring> folders_;
};

// Starts `batch_file` hidden, from outside the installation folder that holds
// it; with `wait`, returns once it has run. False when it could not start.
bool StartCleanupBatch(const base::FilePath& batch_file, bool wait);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_
