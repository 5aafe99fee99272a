#ifndef BASE_PROCESS_NULL_STANDARD_HANDLES_H_
#define BASE_PROCESS_NULL_STANDARD_HANDLES_H_

#include <windows.h>

#include <vector>

#include "base/win/scoped_handle.h"

namespace base {

struct ProcessLaunchOptions;

// The null device as a child's standard input, output and error, and as the
// only handle it inherits. Wine hands a child the caller's standard handles
// even when nothing is inherited: a child whose output nobody reads (a batch
// that outlives us, a program started only to see that it starts) would
// otherwise write into whatever reads ours and keep that pipe open. Must
// outlive the launch, which the caller makes under GetProcessLaunchLock().
class NullStandardHandles {
 public:
  NullStandardHandles();
  NullStandardHandles(const NullStandardHandles&) = delete;
  NullStandardHandles& operator=(const NullStandardHandles&) = delete;
  ~NullStandardHandles();

  // Points `options` at the null device. False, with the error logged and
  // `options` unchanged, when the device could not be opened.
  [[nodiscard]] bool ApplyTo(ProcessLaunchOptions* options);

 private:
  win::ScopedHandle null_device_;
  std::vector<HANDLE> inherited_;
};

}  // namespace base

#endif  // BASE_PROCESS_NULL_STANDARD_HANDLES_H_
