#ifndef DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_RUN_RECOVERY_H_
#define DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_RUN_RECOVERY_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"

namespace installer {

// Clears up after installer runs that died (killed, crashed, power lost)
// before they could roll back or finish: a run that finds their traces
// first makes the product whole again (or cleanly absent), then does its
// own job. What a live run still owns is never touched: its folder's mutex
// is held, or the process named in the trace is still the one that made it.
class InterruptedRunRecovery {
 public:
  // Undoes the work of every dead run recorded in `folder`'s journals, or
  // finishes it where the run had committed. Nothing while another run
  // holds the folder's mutex (whatever spelling of the folder it was given);
  // with the mutex held, a journal is a dead run's unless its process is
  // seen alive. A journal is read as untrusted input: one with any line
  // that its run could not have written (a path outside the folder other
  // than the product's shortcuts, a key or value outside the product's
  // registry rows, a line that does not parse) is left whole, as is one
  // that an elevated recovery finds written by someone else than the user
  // or the administrators in a folder others can write.
  static void RecoverFolder(const base::FilePath& folder);

  // Whether process `pid` may be alive and the one that made an entry at
  // `made`: a later process with a reused id is not; one that cannot be
  // opened may be (downloads have no mutex to tell).
  static bool IsOwnerAlive(uint32_t pid, const FILETIME& made);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_RUN_RECOVERY_H_
