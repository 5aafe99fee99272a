#ifndef DESKTOP_WINDOWS_INSTALLER_RECOVERY_INTERRUPTED_RUN_RECOVERY_H_
#define DESKTOP_WINDOWS_INSTALLER_RECOVERY_INTERRUPTED_RUN_RECOVERY_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/files/file_path.h"

namespace installer {

// Clears up after installer runs that died (killed, crashed, power lost)
// before they could roll back or finish: a run that finds their traces
// first makes the product whole again (or cleanly absent), then does its
// own job. What a live run still owns is never touched: its folder's mutex
// is held, or the process named in the trace is still the one that made it.
class InterruptedRunRecovery {
 public:
  // What a recovery left undone: the first file (or key) that it could not
  // put back or remove, with the Windows error of the attempt. Each failure
  // is logged where it happens; the journal that names it stays for the
  // next run.
  struct Outcome {
    std::wstring unfinished;
    uint32_t error = 0;

    bool complete() const { return unfinished.empty(); }
  };

  // Undoes the work of every dead run recorded in `folder`'s journals, or
  // finishes it where the run had committed. Nothing while another run
  // holds the folder's mutex (whatever spelling of the folder it was given);
  // with the mutex held, a journal is a dead run's unless its process is
  // seen alive. A journal is read as untrusted input: one with any line
  // that its run could not have written (a path outside the folder other
  // than the product's shortcuts, a key or value outside the product's
  // registry rows, a line that does not parse) is left whole, as is one
  // that an elevated recovery finds written by someone else than the user
  // or the administrators in a folder others can write. A journal whose
  // work cannot all be done (a file another program holds) is kept whole
  // and the later ones wait: the next run does it again, once the file is
  // free, and the caller must not work in the folder meanwhile.
  [[nodiscard]] static Outcome RecoverFolder(const base::FilePath& folder);

  // Whether process `pid` may be alive and the one that made an entry at
  // `made`: a later process with a reused id is not; one that cannot be
  // opened may be (downloads have no mutex to tell).
  static bool IsOwnerAlive(uint32_t pid, const FILETIME& made);

  // Called once each journal is read and judged, before any of its lines
  // is acted on, where a test changes the disk as a user could meanwhile.
  // Null: nothing is called.
  static void SetJournalReadHookForTesting(std::function<void()> hook);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RECOVERY_INTERRUPTED_RUN_RECOVERY_H_
