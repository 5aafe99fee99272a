#ifndef DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_REMOVAL_H_
#define DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_REMOVAL_H_

#include <functional>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// What one try at removing what a dead run left came to.
enum class DeadRunRemoval {
  kRemoved,
  // It stays for good (a link that cannot go alone); logged by the try.
  kStays,
  // Not yet: a file the killed process held, let go a moment after its end.
  kTryAgain,
};

// Tries `remove` on each of `paths`, again after a pause for those that
// answer kTryAgain, in rounds of about three seconds in all: one budget for
// all, so that an entry that can never go does not hold up every later run
// by much. On the last round a failure is logged with its Windows error.
void RemoveDeadRunEntries(
    std::vector<base::FilePath> paths,
    const std::function<DeadRunRemoval(const base::FilePath&)>& remove);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_REMOVAL_H_
