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
    : folder_(ResolveFinalLocalPath(folder)) {}

InsideFolderCheck::~InsideFolderCheck() = default;

InsideFolderCheck::Entry InsideFolderCheck::Judge(const base::FilePath& path) {
  if (!valid())
    return Entry();
  Entry entry = JudgeAnywhere(path);
  return IsBelowFolder(entry.path, folder_) ? entry : Entry();
}

InsideFolderCheck::Entry InsideFolderCheck::JudgeAnywhere(
    const base::FilePath& path) {
  // The last name is judged as it is written, where its folder resolves
  // to: a short name names an entry of the same folder, and a link is
  // told by its own entry.
  const base::FilePath parent_final = ResolveParent(path);
  if (parent_final.empty())
    return Entry();
  const std::wstring name = path.BaseName().value();
  const base::ResolvedEntry entry =
      base::ResolvedEntry::ResolveIn(parent_final.Append(name), parent_final);
  switch (entry.kind()) {
    case Kind::kPlain:
    case Kind::kLink:
      return {entry.path(), entry.kind()};
    case Kind::kMissing:
    case Kind::kUnknown:
      break;
  }
  return {parent_final.Append(name), entry.kind()};
}

std::optional<base::ResolvedEntry> InsideFolderCheck::JudgeToDelete(
    const base::FilePath& path) {
  const base::FilePath parent_final =
      valid() ? ResolveParent(path) : base::FilePath();
  if (!parent_final.empty()) {
    const base::FilePath name_in_parent =
        parent_final.Append(path.BaseName().value());
    base::ResolvedEntry entry = base::ResolvedEntry::ResolveIn(
        name_in_parent, parent_final, base::ResolvedEntry::Purpose::kToDelete);
    // A name not there, or not to be told, lies where its folder resolves.
    const base::FilePath& judged =
        entry.kind() == Kind::kPlain || entry.kind() == Kind::kLink
            ? entry.path()
            : name_in_parent;
    if (IsBelowFolder(judged, folder_)) {
      if (entry.kind() == Kind::kLink) {
        LOG(WARNING) << "A link inside the installation folder goes as a "
                        "link, never what it leads to: "
                     << judged.AsUTF8();
      }
      return entry;
    }
  }
  LOG(ERROR) << "Refused to delete outside the installation folder: "
             << path.AsUTF8();
  return std::nullopt;
}

base::FilePath InsideFolderCheck::Resolve(const base::FilePath& path) {
  return Judge(path).path;
}

base::FilePath InsideFolderCheck::ResolveAnywhere(const base::FilePath& path) {
  return JudgeAnywhere(path).path;
}

base::FilePath InsideFolderCheck::ResolveToDelete(const base::FilePath& path) {
  const Entry entry = Judge(path);
  if (entry.path.empty()) {
    LOG(ERROR) << "Refused to delete outside the installation folder: "
               << path.AsUTF8();
  } else if (entry.is_link()) {
    LOG(WARNING) << "A link inside the installation folder goes as a link, "
                    "never what it leads to: "
                 << entry.path.AsUTF8();
  }
  return entry.path;
}

base::FilePath InsideFolderCheck::ResolveParent(const base::FilePath& path) {
  const base::FilePath parent = path.DirName();
  if (!IsPlainComponent(path.BaseName().value()) || parent == path)
    return base::FilePath();
  const std::wstring key = ToUpperOrdinal(parent.value());
  auto found = resolved_parents_.find(key);
  if (found == resolved_parents_.end()) {
    if (resolved_parents_.size() >= kMaxResolvedParents)
      resolved_parents_.clear();
    found = resolved_parents_.emplace(key, ResolveFinalLocalPath(parent)).first;
  }
  return found->second;
}

}  // namespace installer
