#ifndef DESKTOP_WINDOWS_INSTALLER_RECOVERY_JOURNAL_SCOPE_H_
#define DESKTOP_WINDOWS_INSTALLER_RECOVERY_JOURNAL_SCOPE_H_

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/resolved_entry.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/paths/inside_folder_check.h"
#include "desktop/windows/installer/recovery/product_registry_scope.h"

namespace installer {

// What a run into one installation folder could have changed, against
// which a journal found there is read: files and folders inside the folder
// (resolved, not through a junction), the product's shortcuts by their
// names in the shell folders, the shell folders its shortcuts go into and
// the folders above them (which a run makes where a new profile lacks
// them), and the product's registry. Paths are
// resolved once per folder they lie in, so that a journal is read in time
// linear in its length. Lives on the recovering thread.
class JournalScope {
 public:
  explicit JournalScope(const base::FilePath& install_folder);
  ~JournalScope();
  JournalScope(const JournalScope&) = delete;
  JournalScope& operator=(const JournalScope&) = delete;

  // False when the folder itself is not a plain local path: then nothing
  // lies in the scope.
  bool valid() const { return inside_folder_.valid(); }
  // The installation folder, where it resolves to.
  const base::FilePath& folder() const { return inside_folder_.folder(); }
  // Whether the run the journal belongs to could have done what `entry`
  // records.
  [[nodiscard]] bool Allows(const RunJournal::Entry& entry);

  // Below the folder, resolved, through no junction or link, and none
  // itself.
  bool IsInFolder(const base::FilePath& path);
  // The installation folder itself, as it lies now: no link, and reached
  // where the scope's folder resolves to. A run that made it names it.
  bool IsInstallFolder(const base::FilePath& path);
  // A shortcut of the product's names in one of the shell folders, or the
  // start-menu folder of shortcuts earlier installers left.
  bool IsProductShortcut(const base::FilePath& path);
  // A shell folder the shortcuts are copied into, or a folder above one,
  // that is no link.
  bool IsShortcutFolderOrAncestor(const base::FilePath& path);

  // `path` judged inside the folder for its removal: a plain file comes
  // with the handle that removes it (InsideFolderCheck::JudgeToDelete).
  // Null when it lies elsewhere (logged).
  std::optional<base::ResolvedEntry> JudgeFileToRemove(
      const base::FilePath& path);

  // Where the folder `path` lies now (its final path) when it is a plain
  // entry, no link, that a run could have made: inside the folder, the
  // product's temporary shortcut folder, or a shortcut folder or one above
  // it. Empty otherwise, and nothing there may be removed.
  base::FilePath ResolveFolderToRemove(const base::FilePath& path);

  const ProductRegistryScope& registry() const { return registry_; }

 private:
  void ReadShellFolders();
  bool AllowsFiles(const RunJournal::Entry& entry);
  bool AllowsKey(const RunJournal::Entry& entry) const;
  // The installation folder, and how every path of a journal is resolved.
  InsideFolderCheck inside_folder_;
  bool shell_folders_read_ = false;
  std::vector<std::wstring> upper_shell_folders_;
  std::wstring upper_start_menu_;
  // The shortcuts' destination folders and every folder above them.
  std::unordered_set<std::wstring> upper_shortcut_folder_levels_;
  std::vector<std::wstring> upper_shortcut_stems_;
  std::wstring upper_shortcut_suffix_;
  ProductRegistryScope registry_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RECOVERY_JOURNAL_SCOPE_H_
