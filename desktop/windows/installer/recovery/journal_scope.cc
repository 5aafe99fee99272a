#include "desktop/windows/installer/recovery/journal_scope.h"

#include <windows.h>

#include <algorithm>

#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/product/installer_version.h"

namespace installer {

namespace {

using Kind = RunJournal::Kind;

struct ShellFolder {
  int key;
  // A folder the shortcuts are copied into, which the copy makes (with
  // every missing level above it) when a new profile lacks it: Quick Launch
  // is missing until something puts a shortcut there.
  bool shortcut_destination;
};

// Where a run makes, renames or removes the product's shortcuts.
constexpr ShellFolder kShellFolders[] = {
    {base::kDesktop, true},       {base::kCommonDesktop, true},
    {base::kStartMenu, true},     {base::kCommonStartMenu, true},
    {base::kQuickLaunch, true},   {base::kTaskbarPins, false},
};
constexpr wchar_t kShortcutExtension[] = L".LNK";
// The former generation's streams, whose shortcuts an update renames.
constexpr int32_t kOldProductTypes[] = {0, 1, 2};

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The name a set-aside gets: the path's own, then ".<seconds>[_n].old".
bool IsAsideOf(const base::FilePath& aside, const base::FilePath& path) {
  const std::wstring prefix = ToUpperOrdinal(path.value()) + L".";
  const std::wstring value = ToUpperOrdinal(aside.value());
  if (value.size() <= prefix.size() + 4 ||
      value.compare(0, prefix.size(), prefix) != 0 ||
      !EndsWith(value, L".OLD")) {
    return false;
  }
  const std::wstring middle =
      value.substr(prefix.size(), value.size() - prefix.size() - 4);
  return middle.find_first_not_of(L"0123456789_") == std::wstring::npos;
}

// " 45" after a name: the shortcut that carries the major version.
std::wstring WithoutVersion(const std::wstring& stem) {
  const size_t space = stem.rfind(L' ');
  if (space == std::wstring::npos || space + 1 == stem.size() ||
      stem.find_first_not_of(L"0123456789", space + 1) != std::wstring::npos) {
    return stem;
  }
  return stem.substr(0, space);
}

}  // namespace

JournalScope::JournalScope(const base::FilePath& install_folder)
    : inside_folder_(install_folder),
      registry_(install_folder) {
  const std::wstring visible = base::Utf8ToWide(GetVisibleProductName());
  upper_shortcut_stems_.push_back(
      ToUpperOrdinal(base::Utf8ToWide(GetVisibleProductNameWithStream())));
  for (const int32_t type : kOldProductTypes) {
    const std::wstring stream = GetOldProductStreamName(type);
    upper_shortcut_stems_.push_back(
        ToUpperOrdinal(stream.empty() ? visible : visible + L" " + stream));
  }
  upper_shortcut_suffix_ =
      ToUpperOrdinal(base::Utf8ToWide(GetShortcutSuffix()));
}

JournalScope::~JournalScope() = default;

bool JournalScope::Allows(const RunJournal::Entry& entry) {
  switch (entry.kind) {
    case Kind::kSetAside:
    case Kind::kMoved:
    case Kind::kCreated:
    case Kind::kTemporary:
    case Kind::kCreatedFolder:
      return AllowsFiles(entry);
    case Kind::kCreatedKey:
    case Kind::kDeletedKey:
    case Kind::kOldValue:
      return AllowsKey(entry);
    case Kind::kCommitted:
      return true;
  }
  return false;
}

bool JournalScope::AllowsFiles(const RunJournal::Entry& entry) {
  switch (entry.kind) {
    case Kind::kSetAside:
      // Put back over the path, or deleted once committed: both in reach.
      return IsAsideOf(entry.aside, entry.path) &&
             ((IsInFolder(entry.path) && IsInFolder(entry.aside)) ||
              IsProductShortcut(entry.path));
    case Kind::kMoved:
      // Moved within the folder, a shortcut renamed, or moved in from the
      // run's package elsewhere (the source is then never touched).
      return (IsInFolder(entry.aside) &&
              !inside_folder_.ResolveAnywhere(entry.path).empty()) ||
             (IsProductShortcut(entry.path) && IsProductShortcut(entry.aside));
    case Kind::kCreated:
      return IsInFolder(entry.path) || IsProductShortcut(entry.path);
    case Kind::kTemporary:
      // Only ever made in the folder, beside what the run writes there.
      return IsInFolder(entry.path);
    case Kind::kCreatedFolder:
      // Removed by the recovery only once empty: what others put there
      // since keeps it.
      return IsInFolder(entry.path) || IsInstallFolder(entry.path) ||
             IsShortcutFolderOrAncestor(entry.path);
    default:
      return false;
  }
}

bool JournalScope::AllowsKey(const RunJournal::Entry& entry) const {
  switch (entry.kind) {
    case Kind::kCreatedKey:
      return registry_.GetCreatedKeyReach(entry.key) !=
             ProductRegistryScope::CreatedKeyReach::kNone;
    case Kind::kDeletedKey:
      return registry_.IsDeletableKey(entry.key);
    case Kind::kOldValue:
      return registry_.IsProductValue(entry.key, entry.value_name);
    default:
      return false;
  }
}

bool JournalScope::IsInFolder(const base::FilePath& path) {
  // Whatever is done to a link would be done to what it leads to.
  return inside_folder_.Judge(path).is_direct();
}

bool JournalScope::IsInstallFolder(const base::FilePath& path) {
  const InsideFolderCheck::Entry entry = inside_folder_.JudgeAnywhere(path);
  return valid() && entry.kind == InsideFolderCheck::Kind::kPlain &&
         ToUpperOrdinal(entry.path.value()) ==
             ToUpperOrdinal(inside_folder_.folder().value());
}

std::optional<base::ResolvedEntry> JournalScope::JudgeFileToRemove(
    const base::FilePath& path) {
  return inside_folder_.JudgeToDelete(path);
}

base::FilePath JournalScope::ResolveFolderToRemove(const base::FilePath& path) {
  const InsideFolderCheck::Entry entry = inside_folder_.JudgeAnywhere(path);
  if (entry.kind != InsideFolderCheck::Kind::kPlain)
    return base::FilePath();
  if (IsBelowFolder(entry.path, inside_folder_.folder()) ||
      IsProductShortcut(path) || IsShortcutFolderOrAncestor(path)) {
    return entry.path;
  }
  return base::FilePath();
}

// On the first path outside the folder: the shell's folders take a while
// to look up, and most journals name none.
void JournalScope::ReadShellFolders() {
  if (shell_folders_read_)
    return;
  shell_folders_read_ = true;
  for (const ShellFolder& shell_folder : kShellFolders) {
    base::FilePath folder;
    if (!base::GetPathForKey(shell_folder.key, &folder))
      continue;
    // Spelled as the paths it is held against: where it resolves to.
    folder = ResolveFinalLocalPath(folder);
    if (folder.empty())
      continue;
    upper_shell_folders_.push_back(ToUpperOrdinal(folder.value()));
    if (shell_folder.key == base::kStartMenu)
      upper_start_menu_ = upper_shell_folders_.back();
    if (!shell_folder.shortcut_destination)
      continue;
    for (base::FilePath level = folder; level.DirName() != level;
         level = level.DirName()) {
      upper_shortcut_folder_levels_.insert(ToUpperOrdinal(level.value()));
    }
  }
}

bool JournalScope::IsShortcutFolderOrAncestor(const base::FilePath& path) {
  // No run makes a link there; removing one would unlink the folder it
  // stands for.
  const InsideFolderCheck::Entry entry = inside_folder_.JudgeAnywhere(path);
  if (!entry.is_direct())
    return false;
  const base::FilePath& resolved = entry.path;
  ReadShellFolders();
  return upper_shortcut_folder_levels_.contains(
      ToUpperOrdinal(resolved.value()));
}

bool JournalScope::IsProductShortcut(const base::FilePath& path) {
  // A shortcut replaced by a link: putting back or removing would act on
  // what the link leads to.
  const InsideFolderCheck::Entry entry = inside_folder_.JudgeAnywhere(path);
  if (!entry.is_direct())
    return false;
  const base::FilePath& resolved = entry.path;
  ReadShellFolders();
  const std::wstring folder = ToUpperOrdinal(resolved.DirName().value());
  if (std::find(upper_shell_folders_.begin(), upper_shell_folders_.end(),
                folder) == upper_shell_folders_.end()) {
    return false;
  }
  std::wstring stem = ToUpperOrdinal(resolved.BaseName().value());
  if (folder == upper_start_menu_ &&
      stem == ToUpperOrdinal(kTemporaryShortcutFolderName)) {
    return true;
  }
  if (!EndsWith(stem, kShortcutExtension))
    return false;
  stem.resize(stem.size() - std::size(kShortcutExtension) + 1);
  if (!upper_shortcut_suffix_.empty() && EndsWith(stem, upper_shortcut_suffix_))
    stem.resize(stem.size() - upper_shortcut_suffix_.size());
  stem = WithoutVersion(stem);
  return std::find(upper_shortcut_stems_.begin(), upper_shortcut_stems_.end(),
                   stem) != upper_shortcut_stems_.end();
}

}  // namespace installer
