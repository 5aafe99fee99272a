#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/paths/inside_folder_check.h"

namespace installer {

// The record that an uninstallation leaves behind of what was still in use,
// in the form of a batch file: the processes to wait for, the files to
// delete and the folders to remove (children first), then itself and the
// emptied installation folder. Nothing runs it: a copy of the installer
// (LeftoverRemover) reads it back and deletes each entry through a handle
// judged inside the folder, as cmd, which follows links, would not.
// Only what lies inside the installation folder is ever named in it, so that
// an elevated process can check a record it did not write.
class CleanupBatch {
 public:
  // What a well-formed record names, in its order.
  struct Contents {
    std::vector<uint32_t> process_ids;
    std::vector<base::FilePath> files;
    // Children before the folders holding them; the installation folder
    // last.
    std::vector<base::FilePath> folders;
  };

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
  // GetText written to `batch_file` as a file made new under that very
  // name, a plain file left there deleted first, so that a process that
  // may run elevated never writes through a link planted in the folder:
  // with one in its place nothing is written. False, logged, when it could
  // not be written whole.
  [[nodiscard]] bool Write(const base::FilePath& batch_file) const;

  // Whether `text` is a record that this class could have written for
  // `install_folder`: only its own lines, naming only paths below that
  // folder as they are written. What each names now (a link swapped in
  // since) is for its reader to judge when it acts on it.
  static bool IsWellFormed(std::string_view text,
                           const base::FilePath& install_folder);
  // What a well-formed `text` names; nullopt when it is not well formed.
  static std::optional<Contents> Parse(std::string_view text,
                                       const base::FilePath& install_folder);
  // Parse of `batch_file`, read whole but no more than a record of one
  // installation can hold; nullopt (logged) when it cannot be read or is
  // not well formed.
  static std::optional<Contents> Read(const base::FilePath& batch_file,
                                      const base::FilePath& install_folder);

  // For the elevated side before it hands `batch_file`, which an
  // unelevated process wrote, to its copy: false unless the file is well
  // formed; it is then written anew by this process (owned by it, so no
  // longer the writer's to change). Its reader judges each entry again.
  static bool TakeOver(const base::FilePath& batch_file,
                       const base::FilePath& install_folder);

 private:
  InsideFolderCheck inside_folder_;
  std::vector<uint32_t> process_ids_;
  std::vector<base::FilePath> paths_;
  std::set<std::wstring> folders_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_CLEANUP_BATCH_H_
