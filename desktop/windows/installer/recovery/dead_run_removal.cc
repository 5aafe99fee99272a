#include "desktop/windows/installer/recovery/dead_run_removal.h"

#include <windows.h>

#include <utility>

#include "base/logging.h"

namespace installer {

namespace {

// Under Wine a killed process's files stay in use a moment after its end,
// and the next run may start within that moment.
constexpr int kRounds = 30;
constexpr DWORD kPauseMs = 100;

}  // namespace

void RemoveDeadRunEntries(
    std::vector<base::FilePath> paths,
    const std::function<DeadRunRemoval(const base::FilePath&)>& remove) {
  for (int round = 1; !paths.empty(); ++round) {
    std::vector<base::FilePath> left;
    for (base::FilePath& path : paths) {
      if (remove(path) != DeadRunRemoval::kTryAgain)
        continue;
      if (round == kRounds) {
        PLOG(WARNING) << "Could not remove what a run that died left: "
                      << path.AsUTF8();
      }
      left.push_back(std::move(path));
    }
    if (round == kRounds)
      return;
    paths = std::move(left);
    if (!paths.empty())
      ::Sleep(kPauseMs);
  }
}

}  // namespace installer
