#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_INSIDE_FOLDER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_INSIDE_FOLDER_CHECK_H_

#include <optional>
#include <string>
#include <unordered_map>

#include "base/files/file_path.h"
#include "base/files/resolved_entry.h"

namespace installer {

// Whether a path read back from disk (an install log, a journal, a batch
// file) names something strictly inside one folder as Windows will reach
// it, and the one spelling to act on it by. The path is judged by what it
// resolves to (base::ResolvedEntry): its folder where every link on the way
// leads, its last name without following it, so that a folder or file
// inside replaced by a link to elsewhere is told apart from what it leads
// to. Devices ("COM1", "nul .txt" in any folder), the folder itself
// ("FOLDER\.", "FOLDER\ "), "..", streams, device and UNC forms and
// relative paths are refused. Each folder a path lies in is resolved once,
// so that a list of paths is checked in time linear in its length. Lives
// on one thread.
class InsideFolderCheck {
 public:
  using Kind = base::ResolvedEntry::Kind;

  // A path as judged: what it is, and the spelling to act on it by (a
  // link's own path, never what it leads to). Empty path: refused.
  struct Entry {
    base::FilePath path;
    Kind kind = Kind::kUnknown;

    bool is_link() const { return kind == Kind::kLink; }
    // Nothing through a link: a plain entry, or a name not there yet in a
    // folder reached without one.
    bool is_direct() const {
      return !path.empty() && (kind == Kind::kPlain || kind == Kind::kMissing);
    }
  };

  explicit InsideFolderCheck(const base::FilePath& folder);
  ~InsideFolderCheck();
  InsideFolderCheck(const InsideFolderCheck&) = delete;
  InsideFolderCheck& operator=(const InsideFolderCheck&) = delete;

  // False when the folder is not a plain local path: nothing lies inside.
  bool valid() const { return !folder_.empty(); }
  // The folder, resolved.
  const base::FilePath& folder() const { return folder_; }

  // `path` judged, when it lies strictly below the folder; refused
  // otherwise. A link inside counts as inside, whatever it leads to.
  [[nodiscard]] Entry Judge(const base::FilePath& path);
  // `path` judged the same way wherever it lies; refused when it is no
  // plain local path.
  [[nodiscard]] Entry JudgeAnywhere(const base::FilePath& path);

  // Judge(path).path.
  [[nodiscard]] base::FilePath Resolve(const base::FilePath& path);
  // JudgeAnywhere(path).path.
  [[nodiscard]] base::FilePath ResolveAnywhere(const base::FilePath& path);
  // Resolve for a path about to be deleted: a refusal is logged, and so is
  // a link, which the deletion removes as a link or leaves.
  [[nodiscard]] base::FilePath ResolveToDelete(const base::FilePath& path);
  // The same judgement for a path about to be deleted, given whole to the
  // deletion so that it need not judge the name again: a plain file comes
  // with the handle that deletes it (base::ResolvedEntry::Purpose::
  // kToDelete). Null when refused.
  [[nodiscard]] std::optional<base::ResolvedEntry> JudgeToDelete(
      const base::FilePath& path);

 private:
  // The final path of the folder `path` lies in, when `path` has a plain
  // last name; empty otherwise.
  base::FilePath ResolveParent(const base::FilePath& path);

  base::FilePath folder_;
  // Final paths, by the folder as the caller spells it, upper-cased.
  std::unordered_map<std::wstring, base::FilePath> resolved_parents_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_INSIDE_FOLDER_CHECK_H_
