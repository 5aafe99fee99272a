#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_INSIDE_FOLDER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_INSIDE_FOLDER_CHECK_H_

#include <string>
#include <unordered_map>

#include "base/files/file_path.h"

namespace installer {

// Whether a path read back from disk (an install log, a journal, a batch
// file) names something strictly inside one folder as Windows will open
// it, and the one spelling to open it by. Devices ("COM1", "nul .txt" in
// any folder), the folder itself ("FOLDER\.", "FOLDER\ "), "..", streams,
// device and UNC forms and relative paths are refused. Each folder a path
// lies in is resolved once, so that a list of paths is checked in time
// linear in its length. Lives on one thread.
class InsideFolderCheck {
 public:
  explicit InsideFolderCheck(const base::FilePath& folder);
  ~InsideFolderCheck();
  InsideFolderCheck(const InsideFolderCheck&) = delete;
  InsideFolderCheck& operator=(const InsideFolderCheck&) = delete;

  // False when the folder is not a plain local path: nothing lies inside.
  bool valid() const { return !folder_.empty(); }
  // The folder, resolved.
  const base::FilePath& folder() const { return folder_; }

  // `path` resolved, to be used in its place, when it lies strictly below
  // the folder; empty otherwise.
  [[nodiscard]] base::FilePath Resolve(const base::FilePath& path);
  // `path` resolved the same way wherever it lies; empty when it is no
  // plain local path.
  [[nodiscard]] base::FilePath ResolveAnywhere(const base::FilePath& path);
  // The same for a path about to be deleted: a refusal is logged.
  [[nodiscard]] base::FilePath ResolveToDelete(const base::FilePath& path);

 private:
  base::FilePath folder_;
  // By the folder as the caller spells it, upper-cased.
  std::unordered_map<std::wstring, base::FilePath> resolved_parents_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_INSIDE_FOLDER_CHECK_H_
