#ifndef BASE_FILES_EMPTY_FOLDER_REMOVAL_H_
#define BASE_FILES_EMPTY_FOLDER_REMOVAL_H_

#include "base/files/file_path.h"

namespace base {

// What became of a folder RemoveEmptyFolderAt was given.
enum class EmptyFolderRemoval {
  // It was that very folder, empty, and it is gone.
  kRemoved,
  // Nothing lies there (or its folder is gone).
  kMissing,
  // A link, a file, or a folder lying elsewhere than the path says: left.
  kRefused,
  // That folder, left: not empty, in use, or not to be read (the Windows
  // error is the thread's last error).
  kFailed,
};

// Removes the folder whose final path is `final_path` (links resolved, as
// GetFinalPath gives it) only when it is empty and a handle shows it to be
// that very folder: opened without following a link and without letting
// anyone move it meanwhile, no reparse point, and its final path the one
// given. The removal goes through that handle, so that a folder on the way
// swapped for a link after the path was judged sends it nowhere else:
// removing by the path would remove an empty folder wherever the link
// leads. Logs nothing.
[[nodiscard]] EmptyFolderRemoval RemoveEmptyFolderAt(
    const FilePath& final_path);

}  // namespace base

#endif  // BASE_FILES_EMPTY_FOLDER_REMOVAL_H_
