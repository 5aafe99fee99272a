#ifndef BASE_PROCESS_LAUNCH_H_
#define BASE_PROCESS_LAUNCH_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/process/process.h"
#include "base/win/scoped_handle.h"

namespace base {

class CommandLine;
class Lock;
class SuspendedChild;

// How LaunchProcess starts a child. Everything is off or empty by default.
struct ProcessLaunchOptions {
  ProcessLaunchOptions();
  ~ProcessLaunchOptions();

  // Wait without limit for the child to end before returning.
  bool wait = false;
  // The child's working directory; empty inherits ours.
  std::wstring current_directory;
  bool start_hidden = false;
  // When set, exactly these handles are inherited (none for an empty list),
  // whatever `inherit_handles` says. They are inheritable only for the
  // moment of the launch.
  const std::vector<HANDLE>* handles_to_inherit = nullptr;
  // Without a list: inherit every inheritable handle.
  bool inherit_handles = false;
  // A primary token: the child runs as that user, with that user's
  // environment.
  HANDLE as_user = nullptr;
  // The child's desktop name is the empty string.
  bool empty_desktop_name = false;
  // The child starts on the calling thread's desktop.
  bool current_desktop = false;
  // The child is put into this job before it runs.
  HANDLE job = nullptr;
  // When any of these is set, all three become the child's standard handles
  // (they must be inheritable, or in the handle list).
  HANDLE stdin_handle = nullptr;
  HANDLE stdout_handle = nullptr;
  HANDLE stderr_handle = nullptr;
  // Create the child outside the caller's job.
  bool force_breakaway_from_job = false;
  // The program to start, as given to CreateProcess apart from the command
  // line: no name is searched for or cut at a blank. Empty: the command
  // line's first name.
  std::wstring application_name;
  // When set, the child is created suspended and held here (after it joined
  // `job`): the caller resumes it or ends it, so that it can look at the
  // child before any of its code runs. `wait` does not apply then.
  SuspendedChild* suspended_child = nullptr;
};

// Starts `command_line`. A failed launch gives an invalid Process with the
// Windows error left as the last error. Callers that inherit handles (a list,
// `inherit_handles` or standard handles) hold GetProcessLaunchLock() around
// the call, so that no other thread's launch picks them up.
Process LaunchProcess(const std::wstring& command_line,
                      const ProcessLaunchOptions& options);
Process LaunchProcessForCommandLine(const CommandLine& command_line,
                                    const ProcessLaunchOptions& options);

// How ReadProcessOutput starts its child: LaunchProcessForCommandLine, or a
// caller's own launch that checks the program first. It must pass the
// options' standard handles and inheritance on unchanged.
using OutputLaunchFunction =
    std::function<Process(const CommandLine&, const ProcessLaunchOptions&)>;

// Runs `command_line` with its standard output in a pipe and collects the
// output into `output`. False when the child could not start, or ended
// abnormally or by a crash. Callers hold GetProcessLaunchLock().
bool ReadProcessOutput(
    const CommandLine& command_line,
    std::string* output,
    const OutputLaunchFunction& launch = LaunchProcessForCommandLine);

// The process-wide lock around launches that make handles inheritable.
Lock& GetProcessLaunchLock();

// Held by every launch from the creation of its child until the child runs,
// is in its job (ProcessLaunchOptions::job), or is held suspended for its
// caller (SuspendedChild). The system makes each child suspended and
// resumes it as the creation returns: a process that ended in between would
// leave its child waiting for good, outside any job that would end it. A
// process that ends itself takes it first and keeps it, then ends the
// children it holds suspended (SuspendedChild::EndAllForGood).
Lock& GetChildStartLock();

// Ends this process at once, as a kill would: nothing is torn down. A
// child's start under way on another thread is finished first; one that
// takes too long, or that the calling (crashed) thread holds, is not. The
// children held suspended end with it.
[[noreturn]] void TerminateCurrentProcess(UINT exit_code);

}  // namespace base

#endif  // BASE_PROCESS_LAUNCH_H_
