#include "desktop/windows/installer/paths/inside_folder_check.h"

#include "base/logging.h"
#include "desktop/windows/installer/paths/local_path.h"

namespace installer {

namespace {

// Far above the folders one installation holds: a list read back from disk
// cannot grow the cache without bound.
constexpr size_t kMaxResolvedParents = 65536;

}  // namespace

InsideFolderCheck::InsideFolderCheck(const base::FilePath& folder)
    : folder_(ResolveLocalPath(folder)) {}

InsideFolderCheck::~InsideFolderCheck() = default;

base::FilePath InsideFolderCheck::Resolve(const base::FilePath& path) {
  if (!valid())
    return base::FilePath();
  const base::FilePath resolved = ResolveAnywhere(path);
  return !resolved.empty() && IsBelowFolder(resolved, folder_)
             ? resolved
             : base::FilePath();
}

base::FilePath InsideFolderCheck::ResolveAnywhere(const base::FilePath& path) {
  // The last name is checked as it is written: it is not long-formed, and a
  // short name names a file of the same folder.
  const std::wstring name = path.BaseName().value();
  const base::FilePath parent = path.DirName();
  if (!IsPlainComponent(name) || parent == path)
    return base::FilePath();
  const std::wstring key = ToUpperOrdinal(parent.value());
  auto found = resolved_parents_.find(key);
  if (found == resolved_parents_.end()) {
    if (resolved_parents_.size() >= kMaxResolvedParents)
      resolved_parents_.clear();
    found = resolved_parents_.emplace(key, ResolveLocalPath(parent)).first;
  }
  return found->second.empty() ? base::FilePath()
                               : found->second.Append(name);
}

base::FilePath InsideFolderCheck::ResolveToDelete(const base::FilePath& path) {
  base::FilePath resolved = Resolve(path);
  if (resolved.empty()) {
    LOG(ERROR) << "Refused to delete outside the installation folder: "
               << path.AsUTF8();
  }
  return resolved;
}

}  // namespace installer
