#ifndef BASE_PROCESS_PROCESS_H_
#define BASE_PROCESS_PROCESS_H_

#include <windows.h>

#include "base/time/time_delta.h"
#include "base/win/scoped_handle.h"

namespace base {

// A process, owned through its handle, or the current process (which owns no
// handle and is never represented by the pseudo handle). Not shared between
// threads. A default or moved-from object is invalid.
class Process {
 public:
  Process();
  // Takes ownership of `handle`, which must not be the pseudo handle.
  explicit Process(HANDLE handle);
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  static Process Current();
  // Opened for termination, queries and waiting; invalid when that fails.
  static Process Open(DWORD process_id);

  bool IsValid() const;
  // The pseudo handle for the current process.
  HANDLE Handle() const;
  DWORD Pid() const;

  // True when the process ended within `timeout` and its exit code could be
  // read (stored in `exit_code` when given). The maximum delta, or more than
  // 0xFFFFFFFF ms, waits without limit; a negative one does not wait.
  bool WaitForExitWithTimeout(TimeDelta timeout, int* exit_code) const;
  bool WaitForExit(int* exit_code) const;

 private:
  bool is_current_ = false;
  win::ScopedHandle process_;
};

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_H_
