#include "desktop/windows/installer/transactions/emptied_folder_sweep.h"

#include <windows.h>

#include <algorithm>

#include "base/files/empty_folder_removal.h"
#include "base/logging.h"

namespace installer {

namespace {

size_t CountLevels(const base::FilePath& path) {
  return std::count_if(path.value().begin(), path.value().end(),
                       base::FilePath::IsSeparator);
}

bool IsSameFolder(const base::FilePath& a, const base::FilePath& b) {
  return base::FilePath::CompareIgnoreCase(a, b) == 0;
}

// Walked up by name: both are final paths, spelled alike.
bool IsSameOrBelow(const base::FilePath& folder,
                   const base::FilePath& outermost) {
  for (base::FilePath level = folder;; level = level.DirName()) {
    if (IsSameFolder(level, outermost))
      return true;
    if (level.DirName() == level)
      return false;
  }
}

}  // namespace

bool EmptiedFolderSweep::DeepestFirst::operator()(
    const base::FilePath& a,
    const base::FilePath& b) const {
  const size_t a_levels = CountLevels(a);
  const size_t b_levels = CountLevels(b);
  if (a_levels != b_levels)
    return a_levels > b_levels;
  // One folder, however its letters' case is spelled.
  return base::FilePath::CompareIgnoreCase(a, b) < 0;
}

EmptiedFolderSweep::EmptiedFolderSweep() = default;

EmptiedFolderSweep::~EmptiedFolderSweep() = default;

void EmptiedFolderSweep::Add(const Operation::EmptiedFolder& emptied) {
  if (emptied.folder.empty())
    return;
  const base::FilePath folder = emptied.folder.StripTrailingSeparators();
  const base::FilePath outermost = emptied.outermost.StripTrailingSeparators();
  if (!outermost.empty() && !IsSameOrBelow(folder, outermost)) {
    LOG(WARNING) << "Left " << folder.AsUTF8() << ": not inside "
                 << outermost.AsUTF8();
    return;
  }
  pending_.emplace(folder, outermost);
}

size_t EmptiedFolderSweep::Run() {
  size_t removed = 0;
  while (!pending_.empty()) {
    const auto [folder, outermost] = *pending_.begin();
    pending_.erase(pending_.begin());
    switch (base::RemoveEmptyFolderAt(folder)) {
      case base::EmptyFolderRemoval::kRemoved:
        ++removed;
        break;
      case base::EmptyFolderRemoval::kRefused:
        LOG(WARNING) << "Left " << folder.AsUTF8()
                     << ": no longer the folder its files were deleted from";
        continue;
      case base::EmptyFolderRemoval::kMissing:
      case base::EmptyFolderRemoval::kFailed:
        // Not empty (the usual end of a chain), in use, or gone already.
        continue;
    }
    // Emptied in turn, unless it is the outermost or the volume's root.
    const base::FilePath parent = folder.DirName();
    if (parent != folder && !IsSameFolder(folder, outermost))
      pending_.emplace(parent, outermost);
  }
  return removed;
}

}  // namespace installer
